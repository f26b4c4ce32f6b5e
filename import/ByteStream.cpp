#include "import/ByteStream.h"

void ByteStream::Attach(const void* data, size_t size) {
    data_ = static_cast<const uint8_t*>(data);
    size_ = data ? size : 0;
    position_ = 0;
    overran_ = false;
}

void ByteStream::Skip(size_t count) {
    if (count <= size_ - position_) {
        position_ += count;
    } else {
        position_ = size_;
        overran_ = true;
    }
}

void ByteStream::TakeShort(uint8_t* dst, size_t count) {
    size_t available = size_ - position_;
    if (available) std::memcpy(dst, data_ + position_, available);
    std::memset(dst + available, 0, count - available);
    position_ = size_;
    overran_ = true;
}
