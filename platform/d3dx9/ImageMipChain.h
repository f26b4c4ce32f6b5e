// Mip chain generation for images that carry a single level, as D3DX does by default:
// every level down to 1 x 1, each box filtered from the level above it.
//
// The box filter averages each channel over the source area a texel covers, in the
// format's own bit depth; for even sizes that is the plain 2 x 2 mean, rounded to
// nearest. DXT levels are decoded, filtered as RGBA and encoded again; each level is
// filtered from the decoded level above, never from a re-encoded one.
#pragma once

#include "d3dx9/ImageSurface.h"

namespace lumaret::platform {

// The next smaller level (half size, at least 1) of an uncompressed surface.
ImageSurface BoxFilterLevel(D3DFORMAT format, const ImageSurface& source);

// Gives every face of a single-level image the full chain; images with more levels are
// left as they are.
void GenerateMipChain(DecodedImage& image);

}  // namespace lumaret::platform
