// Memory layout of the texture formats that the image loaders hand to the device.
//
// One table describes each supported D3DFORMAT: texel (or 4 x 4 block) size and, for
// uncompressed formats, the bit field of each channel within a little-endian texel.
// The mip generator filters through these fields, and tests read texels back through
// them, so a wrong mask shows up as wrong pixels rather than as a silent swap.
#pragma once

#include <d3d9.h>

#include <cstddef>
#include <cstdint>

namespace lumaret::platform {

enum ImageChannel { kChannelRed = 0, kChannelGreen, kChannelBlue, kChannelAlpha, kChannelCount };

struct PixelLayout {
    D3DFORMAT format;
    bool blockCompressed;  // DXT: 4 x 4 texel blocks
    UINT unitBytes;        // bytes per texel, or per block
    // Bit fields per ImageChannel; luminance formats keep luminance in the red field.
    uint32_t masks[kChannelCount];
};

// The layout of a format the loaders produce, or null for any other format.
const PixelLayout* FindPixelLayout(D3DFORMAT format);

// Bytes of one row of texels (or of blocks), without padding.
size_t RowPitchOf(const PixelLayout& layout, UINT width);
// Rows of texels (or of blocks) of a surface.
UINT RowCountOf(const PixelLayout& layout, UINT height);

// Position and width of a contiguous bit field.
struct BitField {
    uint32_t shift = 0;
    uint32_t bits = 0;
};
// False for a mask whose bits are not contiguous; a zero mask gives zero bits.
bool DescribeMask(uint32_t mask, BitField& field);

// A field value widened (by repeating its bits, as GPUs read 5- and 6-bit channels) or
// narrowed (keeping the top bits) to 8 bits. A field without bits reads as zero.
uint8_t ExpandTo8Bits(uint32_t value, uint32_t bits);

// Little-endian texel of 1 to 4 bytes.
inline uint32_t LoadTexel(const uint8_t* bytes, UINT size) {
    uint32_t texel = 0;
    for (UINT i = 0; i < size; ++i) texel |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    return texel;
}
inline void StoreTexel(uint8_t* bytes, UINT size, uint32_t texel) {
    for (UINT i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(texel >> (8 * i));
}

}  // namespace lumaret::platform
