// The decoded form of an image file: surfaces in Direct3D 9 memory layout, ready to be
// copied row by row into locked texture levels.
//
// Rows come top row first and are packed without padding: a row is width texels, or for
// DXT formats one row of 4 x 4 blocks. The records are plain data; the readers fill them
// and TextureLoading copies them, nothing here touches a device.
#pragma once

#include <d3dx9tex.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lumaret::platform {

// Larger images are refused as corrupt: 16384 is the largest texture D3D9 hardware takes,
// and the bound keeps every size computation far from overflow.
inline constexpr UINT kMaxImageDimension = 16384;
// What one image may cost: at most 4096 x 4096 pixels per face (any shape up to 16384 on a
// side). A header that claims more is refused before anything is allocated; decoding,
// the mip chain and the texture's copies of such an image would take gigabytes.
inline constexpr UINT kMaxImagePixels = 4096u * 4096u;

struct ImageSurface {
    UINT width = 0;
    UINT height = 0;
    size_t rowPitch = 0;  // bytes per row of texels or blocks
    UINT rowCount = 0;    // rows of texels or blocks
    std::vector<uint8_t> bytes;

    uint8_t* Row(UINT row) { return bytes.data() + row * rowPitch; }
    const uint8_t* Row(UINT row) const { return bytes.data() + row * rowPitch; }
};

struct DecodedImage {
    D3DXIMAGE_INFO info{};  // what ReadImageInfo reports for the file
    UINT faceCount = 0;     // 1, or 6 for a cube map
    UINT levelCount = 0;    // per face: the file's levels, or the generated chain
    // Face after face in D3DCUBEMAP_FACES order, each face's levels largest first.
    std::vector<ImageSurface> surfaces;

    ImageSurface& Surface(UINT face, UINT level) { return surfaces[face * levelCount + level]; }
    const ImageSurface& Surface(UINT face, UINT level) const { return surfaces[face * levelCount + level]; }
};

// A zero-filled surface of the given format (one the loaders produce) and size.
ImageSurface MakeSurface(D3DFORMAT format, UINT width, UINT height);

// What image information says of a file holding one 2D image with one level.
inline D3DXIMAGE_INFO SingleImageInfo(UINT width, UINT height, D3DFORMAT format, D3DXIMAGE_FILEFORMAT fileFormat) {
    D3DXIMAGE_INFO info{};
    info.Width = width;
    info.Height = height;
    info.Depth = 1;
    info.MipLevels = 1;
    info.Format = format;
    info.ResourceType = D3DRTYPE_TEXTURE;
    info.ImageFileFormat = fileFormat;
    return info;
}

// Levels of a full mip chain down to 1 x 1.
UINT FullMipLevelCount(UINT width, UINT height);

// Size of a level: halved per level, never below 1.
inline UINT MipExtent(UINT extent, UINT level) {
    UINT reduced = level < 32 ? extent >> level : 0;
    return reduced > 0 ? reduced : 1;
}

}  // namespace lumaret::platform
