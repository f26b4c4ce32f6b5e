// Fuzz target "image": any bytes through the decoder behind D3DX's image functions, which
// recognises the format by content and hands the file to the BMP, PNG, JPEG (stb_image),
// TGA or DDS reader. Nothing may read outside the input, and a file that decodes must agree
// with its header info and survive mip chain generation.
#include "ImageFuzzChecks.h"

#include "d3dx9/ImageDecoder.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace lumaret;
    D3DXIMAGE_INFO info{};
    HRESULT infoResult = platform::ReadImageInfo(data, size, info, fuzz::kFuzzMaxDimension);
    platform::DecodedImage image;
    HRESULT result = platform::DecodeImage(data, size, image, fuzz::kFuzzMaxDimension);
    if (SUCCEEDED(result)) {
        fuzz::CheckDecoded(image, infoResult, info);
    } else {
        fuzz::Require(result == D3DXERR_INVALIDDATA);
    }
    return 0;
}
