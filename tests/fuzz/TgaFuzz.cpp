// Fuzz target "tga": any bytes through the TGA reader alone: colour maps, the four origins
// and run-length packets that cross row ends, which must never run past the image.
#include "ImageFuzzChecks.h"

#include "d3dx9/TgaReader.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace lumaret;
    D3DXIMAGE_INFO info{};
    HRESULT infoResult = platform::ReadTgaInfo(data, size, fuzz::kFuzzMaxDimension, info);
    platform::DecodedImage image;
    HRESULT result = platform::DecodeTga(data, size, fuzz::kFuzzMaxDimension, image);
    if (SUCCEEDED(result)) {
        fuzz::CheckDecoded(image, infoResult, info);
    } else {
        fuzz::Require(result == D3DXERR_INVALIDDATA);
    }
    return 0;
}
