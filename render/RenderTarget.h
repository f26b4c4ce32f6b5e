// RenderTarget: a single-level texture that passes draw into and then sample, with an
// optional depth-stencil surface of its own and an optional system-memory copy for reading
// its pixels back. The Renderer keeps them in an append-only list and callers use indices.
#pragma once

#include <d3d9.h>

// The engine's own numbering of Direct3D formats.
enum PixelFormat : int {
    PixelFormatUnknown = 0,
    PixelFormatA8R8G8B8 = 1,
    PixelFormatX8R8G8B8 = 2,
    PixelFormatA16B16G16R16 = 3,
    PixelFormatA2R10G10B10 = 4,
    PixelFormatA2B10G10R10 = 5,
    PixelFormatR32F = 6,
    PixelFormatG16R16F = 7,
    PixelFormatA16B16G16R16F = 8,
    PixelFormatA32B32G32R32F = 9,
    PixelFormatDXT1 = 11,
    PixelFormatDXT2 = 12,
    PixelFormatDXT3 = 13,
    PixelFormatDXT4 = 14,
    PixelFormatDXT5 = 15,
    PixelFormatV8U8 = 16,
    PixelFormatCxV8U8 = 17,
    PixelFormatV16U16 = 18,
    PixelFormatR3G3B2 = 19,
    PixelFormatA8 = 20,
    PixelFormatL8 = 21,
    PixelFormatP8 = 22,
    PixelFormatD16 = 23,
    PixelFormatD24S8 = 24,
    PixelFormatD32 = 25,
};

// The Direct3D format of a PixelFormat value; D3DFMT_UNKNOWN for any other value.
D3DFORMAT MapPixelFormat(int format);

struct RenderTarget {
    IDirect3DTexture9* texture = nullptr;
    int width = 0;
    int height = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    IDirect3DSurface9* surface = nullptr;
    IDirect3DSurface9* depthSurface = nullptr;
    IDirect3DSurface9* readBackSurface = nullptr;
    D3DVIEWPORT9 viewport{};
    IDirect3DSurface9* savedTarget = nullptr;
    IDirect3DSurface9* savedDepthSurface = nullptr;
    D3DVIEWPORT9 savedViewport{};
};
