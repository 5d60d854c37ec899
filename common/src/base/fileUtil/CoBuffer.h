// Internal to corvane_base.
// A heap block aligned for direct I/O, with its capacity; frees the block on
// destruction. Reads of whole files fill it. Owned by one thread at a time.
#pragma once

#include <cstddef>

namespace Corvane {

class CoBuffer {
public:
    CoBuffer() = default;
    // No block for size 0. Alignment 0 means the page size.
    CoBuffer(size_t size, size_t alignment);
    // Only an empty buffer may be copied: blocks are never shared.
    CoBuffer(const CoBuffer& src);
    CoBuffer& operator=(const CoBuffer&) = delete;
    virtual ~CoBuffer();

    // Keeps the block when it holds size bytes without wasting more than a
    // tenth and is aligned as asked; otherwise replaces it with a block of
    // exactly size bytes. The contents are not kept.
    void resize(size_t size, size_t alignment);
    void swap(CoBuffer& other);

    char* data() const { return buffer_; }
    size_t capacity() const { return capacity_; }

private:
    void release();

    char* buffer_ = nullptr;
    size_t capacity_ = 0;
};

}  // namespace Corvane
