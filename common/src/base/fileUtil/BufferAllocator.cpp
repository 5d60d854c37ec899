#include "base/fileUtil/BufferAllocator.h"

#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cstdlib>

#include "base/loggerBase/CoException.h"

namespace Corvane {

BufferAllocator& BufferAllocator::getInstance() {
    static BufferAllocator allocator;
    return allocator;
}

size_t BufferAllocator::pageSize() {
    static const size_t size = static_cast<size_t>(getpagesize());
    return size;
}

void* BufferAllocator::allocate(size_t size, size_t alignment) {
    if (alignment == 0)
        alignment = pageSize();
    assert((alignment & (alignment - 1)) == 0 && alignment >= sizeof(void*));
    void* block = nullptr;
    const int err = posix_memalign(&block, alignment, size);
    if (err != 0)
        CO_THROW_ERRNO(err, "Could not allocate %zu bytes aligned to %zu", size, alignment);
    return block;
}

void BufferAllocator::free(void* block) { std::free(block); }

}  // namespace Corvane
