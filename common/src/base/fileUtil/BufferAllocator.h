// Internal to corvane_base.
// Hands out aligned heap blocks for direct I/O, and takes them back. A
// process-wide singleton without state of its own, so thread-safe.
#pragma once

#include <cstddef>

namespace Corvane {

class BufferAllocator {
public:
    static BufferAllocator& getInstance();

    // A block of size bytes aligned to alignment (0: the page size), which
    // must be a power of two. Throws CoException when memory runs out.
    void* allocate(size_t size, size_t alignment);
    void free(void* block);

    static size_t pageSize();

private:
    BufferAllocator() = default;
};

}  // namespace Corvane
