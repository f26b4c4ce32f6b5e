// A glTF's JSON of arbitrary bytes through the scan for which materials state their
// metalness: never read past the text, and one entry per object of the materials array.
#include "GltfMaterials.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    (void)srxconvert::GltfStatedMetalness(reinterpret_cast<const char*>(data), size);
    return 0;
}
