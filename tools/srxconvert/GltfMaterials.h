// What a glTF file says of its materials that Assimp's material properties cannot tell:
// whether each material states its metalness (a metallicFactor or a metallicRoughnessTexture
// in pbrMetallicRoughness). Assimp reports glTF's default metallic factor of 1 for every
// material that states none, so only the file tells a metal from a material that left the
// factor out. By material index, which is also the index in Assimp's scene; empty when the
// JSON cannot be read.
#pragma once

#include <cstddef>
#include <vector>

namespace srxconvert {

struct GltfMetalness {
    bool factor = false;   // metallicFactor stated
    bool texture = false;  // metallicRoughnessTexture stated
};

// The JSON text of a glTF file (ReadGltfJson in NodeDepth.h gives it).
std::vector<GltfMetalness> GltfStatedMetalness(const char* json, size_t size);

}  // namespace srxconvert
