// PNG and JPEG through stb_image.
//
// PNG: every colour type and bit depth, interlaced or not, tRNS transparency; 16-bit
// samples keep their high byte. JPEG: baseline and progressive, greyscale and colour.
// Formats: L8 for greyscale, A8L8 for greyscale with alpha (or tRNS), A8R8G8B8 for
// colour with alpha (or tRNS), X8R8G8B8 for colour without.
//
// PNG headers and chunks are read here, not by stb, so that the info call needs no
// decoding; JPEG headers go through stbi_info once the Huffman tables are checked. Files
// whose pixel count their data cannot possibly hold are refused before stb allocates for
// them, and files that would trip the known faults of the Debian stb (2.27) are refused
// or defused before stb sees them.
#pragma once

#include "d3dx9/ImageSurface.h"

namespace lumaret::platform {

bool IsPngSignature(const uint8_t* data, size_t size);
bool IsJpegSignature(const uint8_t* data, size_t size);

HRESULT ReadPngInfo(const uint8_t* data, size_t size, UINT maxDimension, D3DXIMAGE_INFO& info);
HRESULT DecodePng(const uint8_t* data, size_t size, UINT maxDimension, DecodedImage& image);

HRESULT ReadJpegInfo(const uint8_t* data, size_t size, UINT maxDimension, D3DXIMAGE_INFO& info);
HRESULT DecodeJpeg(const uint8_t* data, size_t size, UINT maxDimension, DecodedImage& image);

}  // namespace lumaret::platform
