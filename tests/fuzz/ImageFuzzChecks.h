// What every image fuzz target checks of a decoded image, then does with it as texture
// creation would: the surfaces must match the sizes the records claim, and the mip
// chain generated from them must stay within them.
#pragma once

#include "d3dx9/ImageMipChain.h"
#include "d3dx9/ImagePixelFormat.h"

#include <cstdlib>

namespace lumaret::fuzz {

// Run-length files can claim 16384 x 16384 pixels in a few bytes; a smaller bound keeps
// each run quick and still reaches every code path.
inline constexpr UINT kFuzzMaxDimension = 1024;

inline void Require(bool condition) {
    if (!condition) __builtin_trap();
}

inline void CheckSurfaces(const platform::DecodedImage& image) {
    const platform::PixelLayout* layout = platform::FindPixelLayout(image.info.Format);
    Require(layout != nullptr);
    Require(image.faceCount == 1 || image.faceCount == 6);
    Require(image.surfaces.size() == static_cast<size_t>(image.faceCount) * image.levelCount);
    for (UINT face = 0; face < image.faceCount; ++face) {
        for (UINT level = 0; level < image.levelCount; ++level) {
            const platform::ImageSurface& surface = image.Surface(face, level);
            Require(surface.width == platform::MipExtent(image.info.Width, level));
            Require(surface.height == platform::MipExtent(image.info.Height, level));
            Require(surface.rowPitch == platform::RowPitchOf(*layout, surface.width));
            Require(surface.rowCount == platform::RowCountOf(*layout, surface.height));
            Require(surface.bytes.size() == surface.rowPitch * surface.rowCount);
        }
    }
}

// Checks a successful decode against the header info, then completes and checks the chain.
inline void CheckDecoded(platform::DecodedImage& image, HRESULT infoResult, const D3DXIMAGE_INFO& info) {
    Require(SUCCEEDED(infoResult));
    Require(info.Width == image.info.Width && info.Height == image.info.Height);
    Require(info.Format == image.info.Format && info.MipLevels == image.info.MipLevels);
    Require(info.ResourceType == image.info.ResourceType && info.ImageFileFormat == image.info.ImageFileFormat);
    Require(image.levelCount == info.MipLevels);
    CheckSurfaces(image);
    platform::GenerateMipChain(image);
    CheckSurfaces(image);
    Require(image.levelCount >= info.MipLevels);
}

}  // namespace lumaret::fuzz
