// Truevision TGA: colour-mapped, true-colour and greyscale images, uncompressed or
// run-length encoded, 8, 15, 16, 24 and 32 bits per pixel, any of the four origins.
//
// stb_image ignores the attribute (alpha) bits of 16-bit pixels and the right-to-left
// origin, so TGA is read here in full. Formats: L8 for greyscale, A8L8 for 16-bit
// greyscale, A8R8G8B8 for 32-bit pixels and for 16-bit pixels whose header declares an
// alpha bit, X8R8G8B8 otherwise. TGA has no signature: a file is taken as TGA only when
// every header field holds a value the format defines.
#pragma once

#include "d3dx9/ImageSurface.h"

namespace lumaret::platform {

// True when the first bytes form a plausible TGA header (used to recognise the format).
bool LooksLikeTga(const uint8_t* data, size_t size);

HRESULT ReadTgaInfo(const uint8_t* data, size_t size, UINT maxDimension, D3DXIMAGE_INFO& info);
HRESULT DecodeTga(const uint8_t* data, size_t size, UINT maxDimension, DecodedImage& image);

}  // namespace lumaret::platform
