// DXT1 to DXT5 (S3TC) blocks: decoding to RGBA and encoding from it.
//
// Compressed textures stay compressed on the device; these exist for the one case where
// texels must be seen: a DDS file without mip maps gets its chain by decoding level 0,
// box filtering and encoding each smaller level again. RGBA here means 4 bytes per texel
// in the order R, G, B, A, rows top first.
#pragma once

#include "d3dx9/ImageSurface.h"

#include <cstdint>
#include <vector>

namespace lumaret::platform {

inline constexpr UINT kDxtBlockTexels = 16;

// One 4 x 4 block to 16 RGBA texels, row by row. DXT2 and DXT4 give their stored
// (premultiplied) colours unchanged.
void DecodeDxtBlock(D3DFORMAT format, const uint8_t* block, uint8_t rgba[kDxtBlockTexels * 4]);

// 16 RGBA texels to one block. DXT1 blocks with a texel below half alpha use the
// three-colour mode with transparent black.
void EncodeDxtBlock(D3DFORMAT format, const uint8_t rgba[kDxtBlockTexels * 4], uint8_t* block);

// A whole DXT surface to width x height RGBA texels.
std::vector<uint8_t> DecodeDxtSurface(D3DFORMAT format, const ImageSurface& surface);

// width x height RGBA texels to a DXT surface; partial edge blocks repeat edge texels.
ImageSurface EncodeDxtSurface(D3DFORMAT format, const uint8_t* rgba, UINT width, UINT height);

}  // namespace lumaret::platform
