// The demo's scene file, cylcube01.srx: a textured, lightmapped cube of two materials with
// a skinned, animated cylinder standing on it.
#pragma once

#include <cstdint>
#include <vector>

namespace demo {

// The whole file, byte for byte the same on every call.
std::vector<uint8_t> BuildSceneFile();

}  // namespace demo
