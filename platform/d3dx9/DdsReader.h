// DDS files as Direct3D 9 tools write them: 2D textures and cube maps, with or without
// mip maps, in DXT1 to DXT5 or an uncompressed format of the pixel-format table
// (A8R8G8B8, X8R8G8B8, A8B8G8R8, X8B8G8R8, R8G8B8, R5G6B5, X1R5G5B5, A1R5G5B5, A4R4G4B4,
// L8, A8, A8L8).
//
// Levels are copied as stored, except R8G8B8, which devices rarely sample and which is
// widened to X8R8G8B8. Volume textures, partial cube maps, DX10 headers and other formats
// are refused. Mip chains are not generated here; DecodeImage does that.
#pragma once

#include "d3dx9/ImageSurface.h"

namespace lumaret::platform {

inline constexpr uint32_t kDdsMagic = 0x20534444;  // "DDS "

HRESULT ReadDdsInfo(const uint8_t* data, size_t size, UINT maxDimension, D3DXIMAGE_INFO& info);
HRESULT DecodeDds(const uint8_t* data, size_t size, UINT maxDimension, DecodedImage& image);

}  // namespace lumaret::platform
