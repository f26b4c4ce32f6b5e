// D3DX 9 image loading: image information and texture creation from BMP, PNG, TGA, JPG
// and DDS files held in memory.
//
// Owns: recognising and decoding those files (platform/d3dx9/Image*, Dds*, Bmp*, Tga*) and
// filling device textures with them. Does not own: the textures themselves (d3d9.h), file
// reading (the caller hands over the bytes).
//
// Defaults of this implementation, where D3DX leaves a choice to the device:
//   - the texture has the file's size; sizes are not rounded up to powers of two (the
//     device takes any size, and a resampled image would no longer map texel for texel);
//   - a file with a single level gets a full mip chain down to 1 x 1, box filtered; a DDS
//     file with mip maps keeps exactly the levels it carries;
//   - formats: A8R8G8B8 for images with alpha, X8R8G8B8 without, L8 for greyscale, A8L8
//     for greyscale with alpha; DDS files keep their stored format (DXT1 to DXT5 stay
//     compressed), except 24-bit R8G8B8, which becomes X8R8G8B8.
#pragma once

#include <d3d9.h>

// The Windows SDK's value; shared with the shader compiler's header, which may come first.
#ifndef D3DXERR_INVALIDDATA
#define D3DXERR_INVALIDDATA MAKE_HRESULT(1, 0x876, 2905)
#endif

typedef enum _D3DXIMAGE_FILEFORMAT {
    D3DXIFF_BMP = 0,
    D3DXIFF_JPG = 1,
    D3DXIFF_TGA = 2,
    D3DXIFF_PNG = 3,
    D3DXIFF_DDS = 4,
    D3DXIFF_PPM = 5,
    D3DXIFF_DIB = 6,
    D3DXIFF_HDR = 7,
    D3DXIFF_PFM = 8,
    D3DXIFF_FORCE_DWORD = 0x7fffffff
} D3DXIMAGE_FILEFORMAT;

typedef struct _D3DXIMAGE_INFO {
    UINT Width;
    UINT Height;
    UINT Depth;
    UINT MipLevels;                // levels stored in the file: 1 except for DDS files with mip maps
    D3DFORMAT Format;              // the format a texture created from the file gets
    D3DRESOURCETYPE ResourceType;  // D3DRTYPE_TEXTURE or D3DRTYPE_CUBETEXTURE
    D3DXIMAGE_FILEFORMAT ImageFileFormat;
} D3DXIMAGE_INFO;

// D3D_OK, D3DERR_INVALIDCALL for missing arguments, D3DXERR_INVALIDDATA for anything that
// is not a complete, supported image.
HRESULT WINAPI D3DXGetImageInfoFromFileInMemory(LPCVOID srcData, UINT srcDataSize, D3DXIMAGE_INFO* srcInfo);

// A managed-pool texture of the file's size, format and mip chain as described above. A
// cube map file gives its +X face. Device failures are passed through.
HRESULT WINAPI D3DXCreateTextureFromFileInMemory(LPDIRECT3DDEVICE9 device, LPCVOID srcData, UINT srcDataSize,
                                                 LPDIRECT3DTEXTURE9* texture);

// A managed-pool cube texture from a DDS cube map with all six faces; any other file is
// D3DXERR_INVALIDDATA.
HRESULT WINAPI D3DXCreateCubeTextureFromFileInMemory(LPDIRECT3DDEVICE9 device, LPCVOID srcData, UINT srcDataSize,
                                                     LPDIRECT3DCUBETEXTURE9* cubeTexture);

// A palette entry, as wingdi.h declares it; only the signature below uses it here.
#ifndef LUMARET_PALETTEENTRY_DEFINED
#define LUMARET_PALETTEENTRY_DEFINED
typedef struct tagPALETTEENTRY {
    BYTE peRed, peGreen, peBlue, peFlags;
} PALETTEENTRY;
#endif

// Writes a lockable A8R8G8B8 or X8R8G8B8 surface (system memory or a lockable target) as a
// PNG (D3DXIFF_PNG only; the palette and rectangle must be null): the file is written
// whole or not at all. D3DERR_INVALIDCALL for other formats or arguments, E_FAIL when the
// file cannot be written.
HRESULT WINAPI D3DXSaveSurfaceToFileA(LPCSTR destFile, D3DXIMAGE_FILEFORMAT destFormat, LPDIRECT3DSURFACE9 srcSurface,
                                      const PALETTEENTRY* srcPalette, const RECT* srcRect);
