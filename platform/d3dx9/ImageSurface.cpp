#include "d3dx9/ImageSurface.h"

#include "d3dx9/ImagePixelFormat.h"

namespace lumaret::platform {

ImageSurface MakeSurface(D3DFORMAT format, UINT width, UINT height) {
    ImageSurface surface;
    const PixelLayout* layout = FindPixelLayout(format);
    if (!layout) return surface;
    surface.width = width;
    surface.height = height;
    surface.rowPitch = RowPitchOf(*layout, width);
    surface.rowCount = RowCountOf(*layout, height);
    surface.bytes.assign(surface.rowPitch * surface.rowCount, 0);
    return surface;
}

UINT FullMipLevelCount(UINT width, UINT height) {
    UINT largest = width > height ? width : height;
    UINT levels = 1;
    while (largest > 1) {
        largest >>= 1;
        ++levels;
    }
    return levels;
}

}  // namespace lumaret::platform
