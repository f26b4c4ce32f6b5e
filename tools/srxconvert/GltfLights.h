// What a glTF file says of its punctual lights that Assimp does not keep: each light's
// `range` (KHR_lights_punctual), by the light's index, which is also its index in Assimp's
// scene. NaN where a light states none; empty when the file has no such lights or its JSON
// cannot be read (the conversion then goes by Assimp's attenuation alone).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace srxconvert {

// The JSON text of a glTF file (ReadGltfJson in NodeDepth.h gives it).
std::vector<float> GltfLightRanges(const char* json, size_t size);

}  // namespace srxconvert
