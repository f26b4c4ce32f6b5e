// ByteStream: a little-endian reader over a block of memory owned by the caller.
//
// Every read is checked against the block: a read that asks for bytes past the end gets
// the bytes that exist, zeros for the rest, stops at the end and raises Overran(), which
// stays raised. Callers that must not act on made-up zeros check Remaining() first or
// Overran() afterwards; nothing can read outside the block either way.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

class ByteStream {
public:
    ByteStream() = default;
    ByteStream(const void* data, size_t size) { Attach(data, size); }

    // Reads the size bytes at data from position 0. The block must outlive the stream.
    void Attach(const void* data, size_t size);

    uint8_t ReadU8() {
        uint8_t bytes[1];
        Take(bytes, 1);
        return bytes[0];
    }
    uint16_t ReadU16() {
        uint8_t bytes[2];
        Take(bytes, 2);
        return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
    }
    uint32_t ReadU32() {
        uint8_t bytes[4];
        Take(bytes, 4);
        return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
               static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    }
    float ReadF32() {
        uint32_t bits = ReadU32();
        float value;
        std::memcpy(&value, &bits, sizeof(value));
        return value;
    }
    // Arrays are whole little-endian runs: on a little-endian host one copy when they fit.
    void ReadF32Array(float* dst, size_t count) {
        if (kLittleEndianHost && count <= Remaining() / sizeof(float)) return CopyRun(dst, count * sizeof(float));
        for (size_t i = 0; i < count; ++i) dst[i] = ReadF32();
    }
    void ReadU16Array(uint16_t* dst, size_t count) {
        if (kLittleEndianHost && count <= Remaining() / sizeof(uint16_t))
            return CopyRun(dst, count * sizeof(uint16_t));
        for (size_t i = 0; i < count; ++i) dst[i] = ReadU16();
    }
    void ReadBytes(void* dst, size_t count) { Take(static_cast<uint8_t*>(dst), count); }

    // Moves count bytes on without reading them (stopping at the end, raising Overran()).
    void Skip(size_t count);
    // Moves to an absolute position, at most Size().
    void Seek(size_t position) { position_ = position < size_ ? position : size_; }

    size_t Position() const { return position_; }
    size_t Size() const { return size_; }
    size_t Remaining() const { return size_ - position_; }
    bool AtEnd() const { return position_ >= size_; }
    bool Overran() const { return overran_; }
    const uint8_t* Data() const { return data_; }

private:
    static constexpr bool kLittleEndianHost = std::endian::native == std::endian::little;

    void CopyRun(void* dst, size_t bytes) {
        if (bytes) std::memcpy(dst, data_ + position_, bytes);
        position_ += bytes;
    }
    void Take(uint8_t* dst, size_t count) {
        if (count <= size_ - position_) {
            if (count) std::memcpy(dst, data_ + position_, count);
            position_ += count;
        } else {
            TakeShort(dst, count);
        }
    }
    void TakeShort(uint8_t* dst, size_t count);

    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t position_ = 0;
    bool overran_ = false;
};
