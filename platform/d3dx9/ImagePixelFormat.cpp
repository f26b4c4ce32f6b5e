#include "d3dx9/ImagePixelFormat.h"

#include <bit>

namespace lumaret::platform {

namespace {

// Every format a texture can get from a file. X formats have no alpha field: the mip
// generator fills their unused bits with ones, as the decoders do.
constexpr PixelLayout kLayouts[] = {
    {D3DFMT_A8R8G8B8, false, 4, {0x00ff0000, 0x0000ff00, 0x000000ff, 0xff000000}},
    {D3DFMT_X8R8G8B8, false, 4, {0x00ff0000, 0x0000ff00, 0x000000ff, 0}},
    {D3DFMT_A8B8G8R8, false, 4, {0x000000ff, 0x0000ff00, 0x00ff0000, 0xff000000}},
    {D3DFMT_X8B8G8R8, false, 4, {0x000000ff, 0x0000ff00, 0x00ff0000, 0}},
    {D3DFMT_R5G6B5, false, 2, {0xf800, 0x07e0, 0x001f, 0}},
    {D3DFMT_X1R5G5B5, false, 2, {0x7c00, 0x03e0, 0x001f, 0}},
    {D3DFMT_A1R5G5B5, false, 2, {0x7c00, 0x03e0, 0x001f, 0x8000}},
    {D3DFMT_A4R4G4B4, false, 2, {0x0f00, 0x00f0, 0x000f, 0xf000}},
    {D3DFMT_L8, false, 1, {0xff, 0, 0, 0}},
    {D3DFMT_A8, false, 1, {0, 0, 0, 0xff}},
    {D3DFMT_A8L8, false, 2, {0x00ff, 0, 0, 0xff00}},
    {D3DFMT_DXT1, true, 8, {}},
    {D3DFMT_DXT2, true, 16, {}},
    {D3DFMT_DXT3, true, 16, {}},
    {D3DFMT_DXT4, true, 16, {}},
    {D3DFMT_DXT5, true, 16, {}},
};

}  // namespace

const PixelLayout* FindPixelLayout(D3DFORMAT format) {
    for (const PixelLayout& layout : kLayouts)
        if (layout.format == format) return &layout;
    return nullptr;
}

size_t RowPitchOf(const PixelLayout& layout, UINT width) {
    size_t units = layout.blockCompressed ? (static_cast<size_t>(width) + 3) / 4 : width;
    return units * layout.unitBytes;
}

UINT RowCountOf(const PixelLayout& layout, UINT height) { return layout.blockCompressed ? (height + 3) / 4 : height; }

bool DescribeMask(uint32_t mask, BitField& field) {
    field = {};
    if (mask == 0) return true;
    field.shift = static_cast<uint32_t>(std::countr_zero(mask));
    uint32_t shifted = mask >> field.shift;
    field.bits = static_cast<uint32_t>(std::popcount(shifted));
    // Contiguous bits shifted down are of the form 2^n - 1.
    return (shifted & (shifted + 1)) == 0;
}

uint8_t ExpandTo8Bits(uint32_t value, uint32_t bits) {
    if (bits == 0) return 0;
    if (bits >= 8) return static_cast<uint8_t>(value >> (bits - 8));
    uint32_t result = 0;
    int filled = 0;
    while (filled < 8) {
        int shift = 8 - filled - static_cast<int>(bits);
        result |= shift >= 0 ? value << shift : value >> -shift;
        filled += static_cast<int>(bits);
    }
    return static_cast<uint8_t>(result);
}

}  // namespace lumaret::platform
