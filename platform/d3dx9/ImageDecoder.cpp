#include "d3dx9/ImageDecoder.h"

#include "d3dx9/BmpReader.h"
#include "d3dx9/DdsReader.h"
#include "d3dx9/ImageStbReader.h"
#include "d3dx9/TgaReader.h"

#include <new>

namespace lumaret::platform {

namespace {

struct Reader {
    HRESULT (*readInfo)(const uint8_t*, size_t, UINT, D3DXIMAGE_INFO&);
    HRESULT (*decode)(const uint8_t*, size_t, UINT, DecodedImage&);
};

bool IsDds(const uint8_t* data, size_t size) {
    return size >= 4 && (data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24) == kDdsMagic;
}

bool IsBmp(const uint8_t* data, size_t size) { return size >= 2 && data[0] == 'B' && data[1] == 'M'; }

// Signatures first; TGA, which has none, only when nothing else claims the file.
const Reader* FindReader(const uint8_t* data, size_t size) {
    static constexpr Reader kDds{ReadDdsInfo, DecodeDds};
    static constexpr Reader kPng{ReadPngInfo, DecodePng};
    static constexpr Reader kJpeg{ReadJpegInfo, DecodeJpeg};
    static constexpr Reader kBmp{ReadBmpInfo, DecodeBmp};
    static constexpr Reader kTga{ReadTgaInfo, DecodeTga};
    if (IsDds(data, size)) return &kDds;
    if (IsPngSignature(data, size)) return &kPng;
    if (IsJpegSignature(data, size)) return &kJpeg;
    if (IsBmp(data, size)) return &kBmp;
    if (LooksLikeTga(data, size)) return &kTga;
    return nullptr;
}

}  // namespace

HRESULT ReadImageHeader(const void* data, size_t size, D3DXIMAGE_INFO& info, UINT maxDimension) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    if (!bytes) return D3DXERR_INVALIDDATA;
    const Reader* reader = FindReader(bytes, size);
    return reader ? reader->readInfo(bytes, size, maxDimension, info) : D3DXERR_INVALIDDATA;
}

HRESULT ReadImageInfo(const void* data, size_t size, D3DXIMAGE_INFO& info, UINT maxDimension) {
    D3DXIMAGE_INFO read{};
    HRESULT result = ReadImageHeader(data, size, read, maxDimension);
    if (FAILED(result)) return result;
    if (!WithinPixelLimit(read)) return D3DXERR_INVALIDDATA;
    info = read;
    return result;
}

bool WithinPixelLimit(const D3DXIMAGE_INFO& info) {
    return static_cast<uint64_t>(info.Width) * info.Height <= kMaxImagePixels;
}

HRESULT DecodeImage(const void* data, size_t size, DecodedImage& image, UINT maxDimension) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    if (!bytes) return D3DXERR_INVALIDDATA;
    const Reader* reader = FindReader(bytes, size);
    if (!reader) return D3DXERR_INVALIDDATA;
    // The header decides what decoding may cost, before a reader allocates anything.
    D3DXIMAGE_INFO info;
    HRESULT checked = ReadImageInfo(data, size, info, maxDimension);
    if (FAILED(checked)) return checked;
    try {
        return reader->decode(bytes, size, maxDimension, image);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace lumaret::platform
