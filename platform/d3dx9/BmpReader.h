// Windows bitmaps (BMP): core, info and V2 to V5 headers; 1, 4 and 8 bits per pixel with
// a palette, 16 and 32 bits with default or explicit bit fields, 24 bits; bottom-up and
// top-down; RLE8 and RLE4 compression.
//
// stb_image reads neither RLE nor the core header's 3-byte palette, so bitmaps are read
// here in full. The texture format is A8R8G8B8 when bit fields include an alpha mask and
// X8R8G8B8 otherwise (the fourth byte of a plain 32-bit bitmap is unused by definition).
#pragma once

#include "d3dx9/ImageSurface.h"

namespace lumaret::platform {

HRESULT ReadBmpInfo(const uint8_t* data, size_t size, UINT maxDimension, D3DXIMAGE_INFO& info);
HRESULT DecodeBmp(const uint8_t* data, size_t size, UINT maxDimension, DecodedImage& image);

}  // namespace lumaret::platform
