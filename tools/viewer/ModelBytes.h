// The bytes of a model's SRX file as the viewer holds them: read into memory from an SRX
// file, or the sealed memory file an import child filled (SealedMemoryFile.h), mapped
// where it lies. Copying 18 MB out of the memory file cost 25-40 ms on this kind of
// machine, almost all of it first touches of fresh pages; the mapping costs a few.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace viewer {

class ModelBytes {
public:
    ModelBytes() = default;
    explicit ModelBytes(std::vector<uint8_t> bytes) : owned_(std::move(bytes)) {}
    // Takes a read-only mapping of `size` bytes, unmapped when these bytes go.
    static ModelBytes Mapping(const void* at, size_t size);
    ModelBytes(ModelBytes&& other) noexcept { *this = std::move(other); }
    ModelBytes& operator=(ModelBytes&& other) noexcept;
    ModelBytes(const ModelBytes&) = delete;
    ModelBytes& operator=(const ModelBytes&) = delete;
    ~ModelBytes() { Release(); }

    const uint8_t* data() const { return mapping_ ? mapping_ : owned_.data(); }
    size_t size() const { return mapping_ ? mappedSize_ : owned_.size(); }
    bool empty() const { return size() == 0; }
    // Gives the memory back now.
    void Release();

private:
    std::vector<uint8_t> owned_;
    const uint8_t* mapping_ = nullptr;
    size_t mappedSize_ = 0;
};

}  // namespace viewer
