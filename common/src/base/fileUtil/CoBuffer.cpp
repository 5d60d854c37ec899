#include "base/fileUtil/CoBuffer.h"

#include <cassert>
#include <cstdint>
#include <utility>

#include "base/fileUtil/BufferAllocator.h"

namespace Corvane {

CoBuffer::CoBuffer(size_t size, size_t alignment) { resize(size, alignment); }

CoBuffer::CoBuffer(const CoBuffer& src) { assert(src.buffer_ == nullptr); }

CoBuffer::~CoBuffer() { release(); }

void CoBuffer::release() {
    BufferAllocator::getInstance().free(buffer_);
    buffer_ = nullptr;
    capacity_ = 0;
}

void CoBuffer::resize(size_t size, size_t alignment) {
    const size_t align = alignment ? alignment : BufferAllocator::pageSize();
    // size + size / 10 is size * 11 / 10 rounded down, without the overflow.
    const bool fits = capacity_ >= size && capacity_ <= size + size / 10;
    if (fits && reinterpret_cast<uintptr_t>(buffer_) % align == 0)
        return;
    release();
    if (size == 0)
        return;
    buffer_ = static_cast<char*>(BufferAllocator::getInstance().allocate(size, align));
    capacity_ = size;
}

void CoBuffer::swap(CoBuffer& other) {
    std::swap(buffer_, other.buffer_);
    std::swap(capacity_, other.capacity_);
}

}  // namespace Corvane
