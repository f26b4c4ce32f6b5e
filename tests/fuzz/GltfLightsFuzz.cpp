// A glTF's JSON of arbitrary bytes through the scan for its punctual lights' ranges: never
// read past the text, and one entry per light object of the lights array at most.
#include "GltfLights.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    (void)srxconvert::GltfLightRanges(reinterpret_cast<const char*>(data), size);
    return 0;
}
