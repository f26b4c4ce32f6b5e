// Image files in memory to Direct3D 9 surfaces, on the CPU: the layer under D3DX's
// texture loading, usable without a device (tests, fuzzers, benchmarks).
//
// Owns: recognising BMP, PNG, JPEG, DDS and TGA by content (the file name is never
// consulted, as D3DX does not see it either), reading their headers and decoding them
// into DecodedImage. Every reader checks every length against the bytes it has; any
// file that is truncated, corrupt, unsupported, larger than maxDimension on a side or
// of more than kMaxImagePixels per face gives D3DXERR_INVALIDDATA. Does not own: mip chain generation (ImageMipChain.h) or
// anything that touches a device (TextureLoading.cpp).
#pragma once

#include "d3dx9/ImageSurface.h"

namespace lumaret::platform {

// The header's view of the file: size, levels stored, resource type, and the format a
// texture created from it gets. Reads no more than headers.
HRESULT ReadImageInfo(const void* data, size_t size, D3DXIMAGE_INFO& info, UINT maxDimension = kMaxImageDimension);

// Whether an image's faces stay within kMaxImagePixels.
bool WithinPixelLimit(const D3DXIMAGE_INFO& info);
// ReadImageInfo without the pixel limit: what the header claims, to say why a file was refused.
HRESULT ReadImageHeader(const void* data, size_t size, D3DXIMAGE_INFO& info, UINT maxDimension = kMaxImageDimension);

// Every face and level the file stores. E_OUTOFMEMORY when the decoded image does not
// fit in memory.
HRESULT DecodeImage(const void* data, size_t size, DecodedImage& image, UINT maxDimension = kMaxImageDimension);

}  // namespace lumaret::platform
