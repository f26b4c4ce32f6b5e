#include "ModelBytes.h"

#include <sys/mman.h>

#include <utility>

namespace viewer {

ModelBytes ModelBytes::Mapping(const void* at, size_t size) {
    ModelBytes bytes;
    bytes.mapping_ = static_cast<const uint8_t*>(at);
    bytes.mappedSize_ = size;
    return bytes;
}

ModelBytes& ModelBytes::operator=(ModelBytes&& other) noexcept {
    if (this != &other) {
        Release();
        owned_ = std::move(other.owned_);
        mapping_ = std::exchange(other.mapping_, nullptr);
        mappedSize_ = std::exchange(other.mappedSize_, 0);
    }
    return *this;
}

void ModelBytes::Release() {
    std::vector<uint8_t>().swap(owned_);
    if (mapping_) munmap(const_cast<uint8_t*>(mapping_), mappedSize_);
    mapping_ = nullptr;
    mappedSize_ = 0;
}

}  // namespace viewer
