#include "d3dx9/BmpReader.h"

#include "d3dx9/ImageBytes.h"
#include "d3dx9/ImagePixelFormat.h"

#include <algorithm>
#include <cstdint>

namespace lumaret::platform {

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kOs2HeaderSize = 64;

enum Compression : uint32_t {
    kRgb = 0,
    kRle8 = 1,
    kRle4 = 2,
    kBitFields = 3,
    kAlphaBitFields = 6,
};

struct BmpLayout {
    UINT width = 0, height = 0;
    bool topDown = false;
    uint32_t bitsPerPixel = 0;
    uint32_t compression = kRgb;
    uint32_t masks[kChannelCount] = {};  // for 16 and 32 bits per pixel
    size_t paletteOffset = 0;
    UINT paletteCount = 0;
    UINT paletteEntryBytes = 4;
    size_t pixelOffset = 0;
    D3DFORMAT format = D3DFMT_X8R8G8B8;
};

bool IsKnownHeaderSize(uint32_t size) {
    return size == kCoreHeaderSize || size == kInfoHeaderSize || size == 52 || size == 56 || size == kOs2HeaderSize ||
           size == 108 || size == 124;
}

HRESULT ParseBmp(const uint8_t* data, size_t size, UINT maxDimension, BmpLayout& bmp) {
    ByteCursor in(data, size);
    if (in.U8() != 'B' || in.U8() != 'M') return D3DXERR_INVALIDDATA;
    in.Skip(8);  // file size and reserved words: often wrong in real files, not needed
    uint32_t pixelOffset = in.U32();
    uint32_t headerSize = in.U32();
    if (in.Failed() || !IsKnownHeaderSize(headerSize)) return D3DXERR_INVALIDDATA;

    int64_t width = 0, height = 0;
    uint32_t planes = 0;
    uint32_t clrUsed = 0;
    if (headerSize == kCoreHeaderSize) {
        width = in.U16();
        height = in.U16();
        planes = in.U16();
        bmp.bitsPerPixel = in.U16();
        bmp.paletteEntryBytes = 3;
    } else {
        width = in.I32();
        height = in.I32();
        planes = in.U16();
        bmp.bitsPerPixel = in.U16();
        bmp.compression = in.U32();
        in.Skip(12);  // image size and resolution
        clrUsed = in.U32();
        in.U32();  // important colours
        if (headerSize >= 52) {
            for (int c = 0; c < 3; ++c) bmp.masks[c] = in.U32();
        }
        if (headerSize >= 56) bmp.masks[kChannelAlpha] = in.U32();
    }
    if (in.Failed() || planes != 1) return D3DXERR_INVALIDDATA;
    if (!in.Seek(kFileHeaderSize + headerSize)) return D3DXERR_INVALIDDATA;

    if (height < 0) {
        bmp.topDown = true;
        height = -height;
    }
    if (width <= 0 || height <= 0 || width > maxDimension || height > maxDimension) return D3DXERR_INVALIDDATA;
    bmp.width = static_cast<UINT>(width);
    bmp.height = static_cast<UINT>(height);

    const uint32_t bpp = bmp.bitsPerPixel;
    switch (bmp.compression) {
        case kRgb:
            if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return D3DXERR_INVALIDDATA;
            // Masks in V2+ headers only count for bit-field compression.
            if (bpp == 16) {
                bmp.masks[0] = 0x7c00, bmp.masks[1] = 0x03e0, bmp.masks[2] = 0x001f, bmp.masks[3] = 0;
            } else if (bpp == 32) {
                bmp.masks[0] = 0xff0000, bmp.masks[1] = 0xff00, bmp.masks[2] = 0xff, bmp.masks[3] = 0;
            }
            break;
        case kRle8:
        case kRle4:
            if (bpp != (bmp.compression == kRle8 ? 8u : 4u)) return D3DXERR_INVALIDDATA;
            // Run-length data is defined bottom-up only.
            if (bmp.topDown) return D3DXERR_INVALIDDATA;
            break;
        case kBitFields:
        case kAlphaBitFields: {
            // OS/2 headers use the value 3 for Huffman coding, which nothing here reads.
            if (headerSize == kOs2HeaderSize || headerSize == kCoreHeaderSize) return D3DXERR_INVALIDDATA;
            if (bpp != 16 && bpp != 32) return D3DXERR_INVALIDDATA;
            if (headerSize == kInfoHeaderSize) {
                // A plain info header is followed by the masks it lacks.
                for (int c = 0; c < 3; ++c) bmp.masks[c] = in.U32();
                bmp.masks[kChannelAlpha] = bmp.compression == kAlphaBitFields ? in.U32() : 0;
                if (in.Failed()) return D3DXERR_INVALIDDATA;
            }
            for (uint32_t mask : bmp.masks) {
                BitField field;
                if (!DescribeMask(mask, field) || (bpp < 32 && (mask >> bpp) != 0)) return D3DXERR_INVALIDDATA;
            }
            break;
        }
        default: return D3DXERR_INVALIDDATA;
    }

    if (bpp <= 8) {
        if (clrUsed > (1u << bpp)) return D3DXERR_INVALIDDATA;
        bmp.paletteCount = clrUsed != 0 ? clrUsed : 1u << bpp;
        bmp.paletteOffset = in.Position();
        if (!in.Skip(static_cast<size_t>(bmp.paletteCount) * bmp.paletteEntryBytes)) return D3DXERR_INVALIDDATA;
    }
    // Some writers leave the offset zero; the pixels then follow the palette.
    bmp.pixelOffset = pixelOffset != 0 ? pixelOffset : in.Position();
    if (bmp.pixelOffset < kFileHeaderSize + headerSize || bmp.pixelOffset > size) return D3DXERR_INVALIDDATA;

    if (bmp.compression != kRle8 && bmp.compression != kRle4) {
        size_t stride = (static_cast<size_t>(bmp.width) * bpp + 31) / 32 * 4;
        if (stride * bmp.height > size - bmp.pixelOffset) return D3DXERR_INVALIDDATA;
    }
    bmp.format = bmp.masks[kChannelAlpha] != 0 ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
    return S_OK;
}

D3DXIMAGE_INFO InfoOf(const BmpLayout& bmp) { return SingleImageInfo(bmp.width, bmp.height, bmp.format, D3DXIFF_BMP); }

struct Palette {
    uint8_t bgra[256][4] = {};
    UINT count = 0;
};

Palette ReadPalette(const uint8_t* data, const BmpLayout& bmp) {
    Palette palette;
    palette.count = bmp.paletteCount;
    const uint8_t* entry = data + bmp.paletteOffset;
    for (UINT i = 0; i < bmp.paletteCount; ++i, entry += bmp.paletteEntryBytes) {
        palette.bgra[i][0] = entry[0];
        palette.bgra[i][1] = entry[1];
        palette.bgra[i][2] = entry[2];
        palette.bgra[i][3] = 0xff;
    }
    return palette;
}

// Indices past the palette's end show as black, as GDI draws them.
void PutIndexed(uint8_t* texel, const Palette& palette, UINT index) {
    static constexpr uint8_t kBlack[4] = {0, 0, 0, 0xff};
    const uint8_t* color = index < palette.count ? palette.bgra[index] : kBlack;
    std::copy(color, color + 4, texel);
}

void DecodeUncompressed(const uint8_t* data, const BmpLayout& bmp, const Palette& palette, ImageSurface& surface) {
    const uint32_t bpp = bmp.bitsPerPixel;
    const size_t stride = (static_cast<size_t>(bmp.width) * bpp + 31) / 32 * 4;
    BitField fields[kChannelCount];
    for (int c = 0; c < kChannelCount; ++c) DescribeMask(bmp.masks[c], fields[c]);
    for (UINT fileRow = 0; fileRow < bmp.height; ++fileRow) {
        const uint8_t* source = data + bmp.pixelOffset + fileRow * stride;
        uint8_t* row = surface.Row(bmp.topDown ? fileRow : bmp.height - 1 - fileRow);
        for (UINT x = 0; x < bmp.width; ++x) {
            uint8_t* texel = row + 4 * x;
            if (bpp <= 8) {
                // Indexed pixels pack from the most significant bits of each byte.
                size_t bit = static_cast<size_t>(x) * bpp;
                UINT index = source[bit / 8] >> (8 - bpp - bit % 8) & ((1u << bpp) - 1);
                PutIndexed(texel, palette, index);
            } else if (bpp == 24) {
                texel[0] = source[3 * x];
                texel[1] = source[3 * x + 1];
                texel[2] = source[3 * x + 2];
                texel[3] = 0xff;
            } else {
                uint32_t value = LoadTexel(source + x * (bpp / 8), bpp / 8);
                uint8_t channel[kChannelCount];
                for (int c = 0; c < kChannelCount; ++c)
                    channel[c] = ExpandTo8Bits((value & bmp.masks[c]) >> fields[c].shift, fields[c].bits);
                texel[0] = channel[kChannelBlue];
                texel[1] = channel[kChannelGreen];
                texel[2] = channel[kChannelRed];
                texel[3] = bmp.masks[kChannelAlpha] != 0 ? channel[kChannelAlpha] : 0xff;
            }
        }
    }
}

// Runs of palette indices, row by row from the bottom. Pixels that deltas and line ends
// skip keep index 0. The data must close with an end-of-bitmap marker: without it a
// file cut short would pass as complete.
HRESULT DecodeRunLength(const uint8_t* data, size_t size, const BmpLayout& bmp, const Palette& palette,
                        ImageSurface& surface) {
    const bool fourBit = bmp.compression == kRle4;
    std::vector<uint8_t> indices(static_cast<size_t>(bmp.width) * bmp.height, 0);
    ByteCursor in(data, size);
    in.Seek(bmp.pixelOffset);
    UINT x = 0, y = 0;
    auto put = [&](UINT index) {
        if (x < bmp.width && y < bmp.height)
            indices[static_cast<size_t>(y) * bmp.width + x] = static_cast<uint8_t>(index);
        if (x < bmp.width) ++x;
    };
    bool ended = false;
    while (!ended) {
        uint8_t count = in.U8();
        uint8_t value = in.U8();
        if (in.Failed()) return D3DXERR_INVALIDDATA;
        if (count > 0) {
            for (UINT i = 0; i < count; ++i) put(fourBit ? (i % 2 == 0 ? value >> 4 : value & 15) : value);
            continue;
        }
        switch (value) {
            case 0:  // end of line
                x = 0;
                y = std::min(y + 1, bmp.height);
                break;
            case 1:  // end of bitmap
                ended = true;
                break;
            case 2: {  // delta
                uint8_t dx = in.U8();
                uint8_t dy = in.U8();
                x = std::min<UINT>(x + dx, bmp.width);
                y = std::min<UINT>(y + dy, bmp.height);
                break;
            }
            default: {  // absolute run of `value` indices, padded to a 16-bit boundary
                size_t bytes = fourBit ? (value + 1u) / 2 : value;
                const uint8_t* run = in.Take(bytes + bytes % 2);
                if (!run) return D3DXERR_INVALIDDATA;
                for (UINT i = 0; i < value; ++i)
                    put(fourBit ? (i % 2 == 0 ? run[i / 2] >> 4 : run[i / 2] & 15) : run[i]);
                break;
            }
        }
        if (in.Failed()) return D3DXERR_INVALIDDATA;
    }
    for (UINT fileRow = 0; fileRow < bmp.height; ++fileRow) {
        uint8_t* row = surface.Row(bmp.height - 1 - fileRow);
        const uint8_t* source = &indices[static_cast<size_t>(fileRow) * bmp.width];
        for (UINT x2 = 0; x2 < bmp.width; ++x2) PutIndexed(row + 4 * x2, palette, source[x2]);
    }
    return S_OK;
}

}  // namespace

HRESULT ReadBmpInfo(const uint8_t* data, size_t size, UINT maxDimension, D3DXIMAGE_INFO& info) {
    BmpLayout bmp;
    HRESULT result = ParseBmp(data, size, maxDimension, bmp);
    if (FAILED(result)) return result;
    info = InfoOf(bmp);
    return S_OK;
}

HRESULT DecodeBmp(const uint8_t* data, size_t size, UINT maxDimension, DecodedImage& image) {
    BmpLayout bmp;
    HRESULT result = ParseBmp(data, size, maxDimension, bmp);
    if (FAILED(result)) return result;
    Palette palette = bmp.bitsPerPixel <= 8 ? ReadPalette(data, bmp) : Palette{};
    ImageSurface surface = MakeSurface(bmp.format, bmp.width, bmp.height);
    if (bmp.compression == kRle8 || bmp.compression == kRle4) {
        result = DecodeRunLength(data, size, bmp, palette, surface);
        if (FAILED(result)) return result;
    } else {
        DecodeUncompressed(data, bmp, palette, surface);
    }
    image.info = InfoOf(bmp);
    image.faceCount = 1;
    image.levelCount = 1;
    image.surfaces.clear();
    image.surfaces.push_back(std::move(surface));
    return S_OK;
}

}  // namespace lumaret::platform
