// The demo model's dimensions, bones, animation timing, image names and lightmap atlas:
// the numbers the geometry and the images must agree on.
//
// Coordinates are the SRX file's: right-handed, y up, in engine units. The cube sits
// centred on the origin; the cylinder stands on its top face along +y and bends about the
// z axis (a rotation about z commutes with the z negation the engine applies on loading).
#pragma once

#include <cstdint>

namespace demo {

constexpr double CubeHalf = 60.0;  // 120-unit cube
constexpr double CylinderBase = CubeHalf;
constexpr double CylinderRadius = 20.0;
constexpr double CylinderHeight = 96.0;
constexpr int CylinderSegments = 24;
constexpr int CylinderRings = 13;  // every 8 units, so each bend spans several rings
constexpr int BoneCount = 4;       // the first one anchors the base on the cube
constexpr double BoneLength = CylinderHeight / BoneCount;

// The engine's clock shows 0, 24, ..., 600 and then 0 again: 26 frames, so one cycle of
// the bend lasts 624 ticks and keys every 24 ticks land exactly on the frames. The key at
// 624 repeats the one at 0; it makes 600 lie inside the last interval.
constexpr uint32_t KeyStep = 24;
constexpr uint32_t CyclePeriod = 624;
constexpr int KeyCount = CyclePeriod / KeyStep + 1;
constexpr double BendAmplitude = 0.38;  // radians per joint, about 22 degrees
constexpr double BendLag = 0.7;         // radians of phase between successive joints

// Node ids, in file order.
enum Node : uint16_t { NodeCube, NodeCylinder, NodeFirstBone };
constexpr uint16_t NoParent = 0xFFFF;

// Materials, in file order.
enum Material : uint8_t { MaterialSides, MaterialCaps, MaterialCylinder, MaterialCount };

constexpr const char* SceneFile = "cylcube01.srx";
constexpr const char* BricksFile = "cylcube01_bricks.png";
constexpr const char* BricksNormalFile = "cylcube01_bricks_nm.png";
constexpr const char* PlateFile = "cylcube01_plate.png";
constexpr const char* PlateNormalFile = "cylcube01_plate_nm.png";
constexpr const char* TilesFile = "cylcube01_tiles.png";
// Found by the engine through the scene's stem, for every material with a diffuse map.
constexpr const char* LightmapFile = "cylcube01_lightmap.jpg";

constexpr int TextureSize = 256;

// A face of the cube: outward normal, and the directions of increasing u (right) and
// increasing v (down) as seen from outside, with v = 0 at the top of the image.
struct CubeFace {
    int normal[3];
    int right[3];
    int down[3];
    // The face's square in the lightmap atlas, in texels.
    int cellX, cellY, cellSize;
};

// Sides first (+x, +z, -x, -z going round), then the caps (top, bottom). The sides read
// their images upright; the caps have the image's top towards -z. The lightmap gives the
// top face, which carries the cylinder's contact shadow, four times the texels of the
// others. The atlas's top-left quarter stays unlit-neutral (white): texture coordinate
// (0, 0), which a vertex without a second set would read, lands there.
constexpr CubeFace CubeFaces[6] = {
    {{1, 0, 0}, {0, 0, -1}, {0, -1, 0}, 0, 128, 64},     // +x
    {{0, 0, 1}, {1, 0, 0}, {0, -1, 0}, 64, 128, 64},     // +z
    {{-1, 0, 0}, {0, 0, 1}, {0, -1, 0}, 128, 128, 64},   // -x
    {{0, 0, -1}, {-1, 0, 0}, {0, -1, 0}, 192, 128, 64},  // -z
    {{0, 1, 0}, {1, 0, 0}, {0, 0, 1}, 128, 0, 128},      // top
    {{0, -1, 0}, {1, 0, 0}, {0, 0, -1}, 0, 192, 64},     // bottom
};
constexpr int SideFaceCount = 4;
constexpr int LightmapSize = 256;
constexpr int LightmapPadding = 2;  // texels round each face, so filtering stays on the face

}  // namespace demo
