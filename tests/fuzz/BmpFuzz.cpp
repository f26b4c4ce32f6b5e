// Fuzz target "bmp": any bytes through the BMP reader alone: header variants, palettes, bit
// fields and the RLE8 and RLE4 streams, whose runs, deltas and line ends must never write
// outside the image.
#include "ImageFuzzChecks.h"

#include "d3dx9/BmpReader.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace lumaret;
    D3DXIMAGE_INFO info{};
    HRESULT infoResult = platform::ReadBmpInfo(data, size, fuzz::kFuzzMaxDimension, info);
    platform::DecodedImage image;
    HRESULT result = platform::DecodeBmp(data, size, fuzz::kFuzzMaxDimension, image);
    if (SUCCEEDED(result)) {
        fuzz::CheckDecoded(image, infoResult, info);
    } else {
        fuzz::Require(result == D3DXERR_INVALIDDATA);
    }
    return 0;
}
