// Shared by the image tests: fixture files and level-0 texels read back as RGBA.
#pragma once

#include "d3dx9/ImageSurface.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lumaret::test {

// The bytes of tests/data/images/<name>; empty when the file is missing.
std::string ReadImageFixture(const std::string& name);

// A surface's texels as R, G, B, A bytes, rows top first, read through the pixel-format
// table: luminance fills R, G and B; a format without alpha reads 255; DXT is decoded.
std::vector<uint8_t> SurfaceToRgba(D3DFORMAT format, const platform::ImageSurface& surface);

}  // namespace lumaret::test
