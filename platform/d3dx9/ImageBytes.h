// Bounds-checked reading of file bytes for the image parsers.
//
// Every read checks the bytes that remain. A read past the end returns zeros (or a null
// pointer) and marks the cursor failed, so a parser can read a whole header and check
// Failed() once instead of after every field.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumaret::platform {

class ByteCursor {
public:
    ByteCursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t Size() const { return size_; }
    size_t Position() const { return position_; }
    size_t Remaining() const { return size_ - position_; }
    bool Failed() const { return failed_; }

    // Moves to an absolute offset; offsets up to and including Size() are valid.
    bool Seek(size_t offset) {
        if (offset > size_) return Fail();
        position_ = offset;
        return true;
    }
    bool Skip(size_t count) {
        if (count > Remaining()) return Fail();
        position_ += count;
        return true;
    }
    // Pointer to the next count bytes, consumed; null when fewer remain.
    const uint8_t* Take(size_t count) {
        if (count > Remaining()) {
            Fail();
            return nullptr;
        }
        const uint8_t* bytes = data_ + position_;
        position_ += count;
        return bytes;
    }

    uint8_t U8() {
        const uint8_t* b = Take(1);
        return b ? b[0] : 0;
    }
    uint16_t U16() {
        const uint8_t* b = Take(2);
        return b ? static_cast<uint16_t>(b[0] | b[1] << 8) : 0;
    }
    uint32_t U32() {
        const uint8_t* b = Take(4);
        return b ? static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
                       static_cast<uint32_t>(b[3]) << 24
                 : 0;
    }
    int32_t I32() { return static_cast<int32_t>(U32()); }
    uint32_t U32BigEndian() {
        const uint8_t* b = Take(4);
        return b ? static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
                       static_cast<uint32_t>(b[2]) << 8 | static_cast<uint32_t>(b[3])
                 : 0;
    }

private:
    bool Fail() {
        failed_ = true;
        return false;
    }

    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
    bool failed_ = false;
};

}  // namespace lumaret::platform
