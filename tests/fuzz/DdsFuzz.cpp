// Fuzz target "dds": any bytes through the DDS reader alone, so that every input reaches its
// header, pixel-format and size checks rather than the format recognition. Compressed files
// that decode also go through DXT decoding, box filtering and DXT encoding when their mip
// chain is generated.
#include "ImageFuzzChecks.h"

#include "d3dx9/DdsReader.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace lumaret;
    D3DXIMAGE_INFO info{};
    HRESULT infoResult = platform::ReadDdsInfo(data, size, fuzz::kFuzzMaxDimension, info);
    platform::DecodedImage image;
    HRESULT result = platform::DecodeDds(data, size, fuzz::kFuzzMaxDimension, image);
    if (SUCCEEDED(result)) {
        fuzz::CheckDecoded(image, infoResult, info);
    } else {
        fuzz::Require(result == D3DXERR_INVALIDDATA);
    }
    return 0;
}
