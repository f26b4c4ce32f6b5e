#include "d3dx9/TgaReader.h"

#include "d3dx9/ImageBytes.h"
#include "d3dx9/ImagePixelFormat.h"

#include <cstring>

namespace lumaret::platform {

namespace {

enum ImageType : uint8_t {
    kColorMapped = 1,
    kTrueColor = 2,
    kGrey = 3,
    kRleColorMapped = 9,
    kRleTrueColor = 10,
    kRleGrey = 11,
};

struct TgaLayout {
    UINT width = 0, height = 0;
    uint8_t imageType = 0;
    uint8_t pixelDepth = 0;  // bits per stored pixel (index or colour)
    uint8_t alphaBits = 0;   // attribute bits per colour, from the descriptor
    bool rightToLeft = false;
    bool topDown = false;
    bool runLength = false;
    // Colour map
    UINT mapFirst = 0, mapLength = 0;
    uint8_t mapDepth = 0;
    size_t mapOffset = 0;
    size_t pixelOffset = 0;
    D3DFORMAT format = D3DFMT_X8R8G8B8;
};

bool IsColorDepth(uint8_t depth) { return depth == 15 || depth == 16 || depth == 24 || depth == 32; }

HRESULT ParseTga(const uint8_t* data, size_t size, UINT maxDimension, TgaLayout& tga) {
    ByteCursor in(data, size);
    uint8_t idLength = in.U8();
    uint8_t mapType = in.U8();
    tga.imageType = in.U8();
    tga.mapFirst = in.U16();
    tga.mapLength = in.U16();
    tga.mapDepth = in.U8();
    in.Skip(4);  // origin position on screen: meaningless for a texture
    tga.width = in.U16();
    tga.height = in.U16();
    tga.pixelDepth = in.U8();
    uint8_t descriptor = in.U8();
    if (in.Failed()) return D3DXERR_INVALIDDATA;

    tga.alphaBits = descriptor & 15;
    tga.rightToLeft = (descriptor & 0x10) != 0;
    tga.topDown = (descriptor & 0x20) != 0;
    // Interleaved rows (the top two bits) went out with TGA 1.0 and are not read.
    if ((descriptor & 0xc0) != 0 || mapType > 1) return D3DXERR_INVALIDDATA;
    if (tga.width == 0 || tga.height == 0 || tga.width > maxDimension || tga.height > maxDimension)
        return D3DXERR_INVALIDDATA;

    tga.runLength = tga.imageType >= kRleColorMapped;
    switch (tga.imageType) {
        case kColorMapped:
        case kRleColorMapped:
            if (mapType != 1 || tga.pixelDepth != 8 || !IsColorDepth(tga.mapDepth) || tga.mapLength == 0)
                return D3DXERR_INVALIDDATA;
            tga.format =
                tga.mapDepth == 32 || (tga.mapDepth == 16 && tga.alphaBits > 0) ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
            break;
        case kTrueColor:
        case kRleTrueColor:
            if (!IsColorDepth(tga.pixelDepth)) return D3DXERR_INVALIDDATA;
            tga.format =
                tga.pixelDepth == 32 || (tga.pixelDepth == 16 && tga.alphaBits > 0) ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
            break;
        case kGrey:
        case kRleGrey:
            if (tga.pixelDepth != 8 && tga.pixelDepth != 16) return D3DXERR_INVALIDDATA;
            tga.format = tga.pixelDepth == 16 ? D3DFMT_A8L8 : D3DFMT_L8;
            break;
        default: return D3DXERR_INVALIDDATA;
    }
    // A colour map may accompany any image type; only colour-mapped images use it.
    if (mapType == 1 && !IsColorDepth(tga.mapDepth)) return D3DXERR_INVALIDDATA;

    in.Skip(idLength);
    tga.mapOffset = in.Position();
    if (mapType == 1) in.Skip(static_cast<size_t>(tga.mapLength) * ((tga.mapDepth + 7) / 8));
    tga.pixelOffset = in.Position();
    if (in.Failed()) return D3DXERR_INVALIDDATA;
    if (!tga.runLength) {
        size_t needed = static_cast<size_t>(tga.width) * tga.height * ((tga.pixelDepth + 7) / 8);
        if (needed > size - tga.pixelOffset) return D3DXERR_INVALIDDATA;
    }
    return S_OK;
}

D3DXIMAGE_INFO InfoOf(const TgaLayout& tga) { return SingleImageInfo(tga.width, tga.height, tga.format, D3DXIFF_TGA); }

// One stored colour (B, G, R[, A] bytes, or a 16-bit A1R5G5B5 word) as B, G, R, A.
void UnpackColor(const uint8_t* source, uint8_t depth, bool useAlphaBit, uint8_t* bgra) {
    if (depth == 15 || depth == 16) {
        uint32_t value = static_cast<uint32_t>(source[0] | source[1] << 8);
        bgra[0] = ExpandTo8Bits(value & 31, 5);
        bgra[1] = ExpandTo8Bits(value >> 5 & 31, 5);
        bgra[2] = ExpandTo8Bits(value >> 10 & 31, 5);
        bgra[3] = useAlphaBit && depth == 16 ? (value & 0x8000 ? 0xff : 0) : 0xff;
        return;
    }
    bgra[0] = source[0];
    bgra[1] = source[1];
    bgra[2] = source[2];
    bgra[3] = depth == 32 ? source[3] : 0xff;
}

// Turns stored pixel values (indices, colours or grey levels) into texels.
class PixelWriter {
public:
    PixelWriter(const uint8_t* data, const TgaLayout& tga, ImageSurface& surface)
        : data_(data),
          tga_(tga),
          surface_(surface),
          texelBytes_(tga.format == D3DFMT_L8     ? 1
                      : tga.format == D3DFMT_A8L8 ? 2
                                                  : 4) {}

    // Writes pixel number n (in file order) from its stored bytes.
    void Put(size_t n, const uint8_t* stored) {
        UINT fileRow = static_cast<UINT>(n / tga_.width);
        UINT fileColumn = static_cast<UINT>(n % tga_.width);
        UINT row = tga_.topDown ? fileRow : tga_.height - 1 - fileRow;
        UINT column = tga_.rightToLeft ? tga_.width - 1 - fileColumn : fileColumn;
        uint8_t* texel = surface_.Row(row) + static_cast<size_t>(column) * texelBytes_;
        switch (tga_.imageType) {
            case kColorMapped:
            case kRleColorMapped: {
                // Indices outside the map show as opaque black.
                static constexpr uint8_t kBlack[4] = {0, 0, 0, 0xff};
                UINT index = stored[0];
                if (index < tga_.mapFirst || index - tga_.mapFirst >= tga_.mapLength) {
                    std::memcpy(texel, kBlack, 4);
                } else {
                    size_t entryBytes = (tga_.mapDepth + 7) / 8;
                    const uint8_t* entry = data_ + tga_.mapOffset + (index - tga_.mapFirst) * entryBytes;
                    UnpackColor(entry, tga_.mapDepth, tga_.alphaBits > 0, texel);
                }
                break;
            }
            case kTrueColor:
            case kRleTrueColor: UnpackColor(stored, tga_.pixelDepth, tga_.alphaBits > 0, texel); break;
            default:
                std::memcpy(texel, stored, texelBytes_);  // grey, then alpha: the A8L8 byte order
                break;
        }
    }

private:
    const uint8_t* data_;
    const TgaLayout& tga_;
    ImageSurface& surface_;
    UINT texelBytes_;
};

}  // namespace

bool LooksLikeTga(const uint8_t* data, size_t size) {
    TgaLayout tga;
    return SUCCEEDED(ParseTga(data, size, kMaxImageDimension, tga));
}

HRESULT ReadTgaInfo(const uint8_t* data, size_t size, UINT maxDimension, D3DXIMAGE_INFO& info) {
    TgaLayout tga;
    HRESULT result = ParseTga(data, size, maxDimension, tga);
    if (FAILED(result)) return result;
    info = InfoOf(tga);
    return S_OK;
}

HRESULT DecodeTga(const uint8_t* data, size_t size, UINT maxDimension, DecodedImage& image) {
    TgaLayout tga;
    HRESULT result = ParseTga(data, size, maxDimension, tga);
    if (FAILED(result)) return result;
    ImageSurface surface = MakeSurface(tga.format, tga.width, tga.height);
    PixelWriter writer(data, tga, surface);
    const size_t pixelBytes = (tga.pixelDepth + 7) / 8;
    const size_t pixelCount = static_cast<size_t>(tga.width) * tga.height;
    ByteCursor in(data, size);
    in.Seek(tga.pixelOffset);
    if (!tga.runLength) {
        const uint8_t* pixels = in.Take(pixelCount * pixelBytes);  // size checked by ParseTga
        if (!pixels) return D3DXERR_INVALIDDATA;
        for (size_t n = 0; n < pixelCount; ++n) writer.Put(n, pixels + n * pixelBytes);
    } else {
        // Packets may run across row ends; a packet reaching past the last pixel is cut.
        size_t n = 0;
        while (n < pixelCount) {
            uint8_t header = in.U8();
            size_t count = (header & 0x7f) + 1u;
            bool repeat = (header & 0x80) != 0;
            const uint8_t* stored = in.Take(repeat ? pixelBytes : count * pixelBytes);
            if (!stored) return D3DXERR_INVALIDDATA;
            for (size_t i = 0; i < count && n < pixelCount; ++i, ++n)
                writer.Put(n, repeat ? stored : stored + i * pixelBytes);
        }
    }
    image.info = InfoOf(tga);
    image.faceCount = 1;
    image.levelCount = 1;
    image.surfaces.clear();
    image.surfaces.push_back(std::move(surface));
    return S_OK;
}

}  // namespace lumaret::platform
