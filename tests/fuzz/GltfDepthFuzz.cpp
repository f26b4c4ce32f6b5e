// A glTF's JSON of arbitrary bytes through the depth scan that runs before Assimp reads a
// model: never read past the text, never recurse, and always an answer.
#include "NodeDepth.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    (void)srxconvert::GltfJsonDepthProblem(reinterpret_cast<const char*>(data), size);
    return 0;
}
