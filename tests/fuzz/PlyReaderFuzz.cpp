// Any bytes as a PLY file through the tools' own reader: refused with a reason, left to
// Assimp, or a scene whose every corner names a vertex.
#include "OwnReaderCheck.h"
#include "PlyReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    lumaret::fuzz::CheckOwnRead(data, size, srxconvert::ReadPly);
    return 0;
}
