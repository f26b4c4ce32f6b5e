// FNV-1a, 64-bit: the layer's hash for cache keys and checksums of bytes it wrote itself.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumaret::platform {

inline uint64_t Fnv1a(const void* data, size_t size, uint64_t hash = 0xcbf29ce484222325ull) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 0x100000001b3ull;
    return hash;
}

}  // namespace lumaret::platform
