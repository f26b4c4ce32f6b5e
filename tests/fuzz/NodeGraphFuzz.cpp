// Arbitrary bytes through the scans that run before Assimp reads a model, as glTF JSON, as
// XML, as OBJ and as a PLY header: never read past the text, never recurse, and always an
// answer.
#include "NodeDepth.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    (void)srxconvert::GltfJsonDepthProblem(text, size);
    (void)srxconvert::XmlNodeProblem(text, size);
    (void)srxconvert::ObjCountProblem(text, size);
    (void)srxconvert::PlyHeaderProblem(text, size);
    return 0;
}
