// The demo's images, drawn procedurally: brick and metal-plate diffuse and normal maps for
// the cube, glazed tiles for the cylinder, and the cube's baked lightmap.
//
// Everything is computed from integer hashes and double arithmetic without any state
// between calls, so each image comes out identical on every run.
#pragma once

#include <cstdint>
#include <vector>

namespace demo {

// 8-bit RGB, rows top first.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

// Diffuse maps hold sRGB colours (the engine samples them with sRGB decoding).
Image DrawBricks();
Image DrawPlate();
Image DrawTiles();

// Tangent-space normal maps, 0.5 + 0.5 n per channel: red along +u, green along +v (down the
// image, the direction of the engine's bitangent), blue out of the surface.
Image DrawBricksNormals();
Image DrawPlateNormals();

// Soft sky light and a broad key light on the cube, shadowed by the cylinder standing on it
// in its rest pose, one face per atlas cell (DemoLayout.h); stored sRGB-encoded, since the
// engine samples it with sRGB decoding.
Image BakeLightmap();

}  // namespace demo
