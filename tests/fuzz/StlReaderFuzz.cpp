// Any bytes as an ASCII STL file through the tools' own reader: refused with a reason, left
// to Assimp, or a scene whose every corner names a vertex.
#include "OwnReaderCheck.h"
#include "StlReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    lumaret::fuzz::CheckOwnRead(data, size, srxconvert::ReadAsciiStl);
    return 0;
}
