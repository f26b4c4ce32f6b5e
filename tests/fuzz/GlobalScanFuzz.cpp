// Preprocessed HLSL of arbitrary bytes through the scan of its global declarations: no
// read past the text, and whatever pins and order it finds survive the helper's encoding.
#include "hlslfront/GlobalDeclarations.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    lumaret::platform::GlobalScan scan = lumaret::platform::ScanGlobalDeclarations(text);
    lumaret::platform::GlobalScan decoded;
    if (!lumaret::platform::DecodeGlobals(lumaret::platform::EncodeGlobals(scan), &decoded) ||
        decoded.pins.size() != scan.pins.size() || decoded.order != scan.order)
        __builtin_trap();
    return 0;
}
