// .mofo fonts: parsing refuses what it cannot hold and never reads past the buffer
// (ASan catches a stray read; the checks catch inconsistent results).
#include "resources/Font.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly size bytes, so that ASan sees any read past the end.
    std::vector<uint8_t> bytes(data, data + size);
    MofoFont font;
    std::string error;
    if (!ParseMofo(bytes.data(), bytes.size(), &font, &error)) return 0;
    if (font.glyphs.size() != static_cast<size_t>(font.endChar - 32)) std::abort();
    if (font.rowCount > font.textureSize) std::abort();
    // Touch every coverage byte the loader would copy.
    unsigned sum = 0;
    for (size_t i = 0; i < static_cast<size_t>(font.rowCount) * font.textureSize; ++i) sum += font.coverage[i];
    volatile unsigned sink = sum;
    (void)sink;
    return 0;
}
