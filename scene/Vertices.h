// The two vertex layouts of scene meshes, as they sit in the vertex buffers.
//
// Plain records whose byte offsets are what the vertex declarations describe: the scene
// builder writes them, GenerateTangents fills the packed tangent of StaticVertex, and the
// shaders read them through the declarations. Neither struct may gain padding.
#pragma once

#include <cstddef>
#include <cstdint>

// Unskinned vertex, 32 bytes. Normal and tangent are packed to one unsigned byte per
// component: byte = (x + 1) * 0.5 * 255, truncated.
struct StaticVertex {
    float position[3];   // x, y, -z of the file
    uint8_t normal[4];   // packed x, y, z; the fourth byte is 255
    float uv0[2];        // first texture coordinates
    int16_t uv1[2];      // second texture coordinates, * 32767 (SHORT2N); 0 when absent
    uint8_t tangent[4];  // packed x, y, z, then handedness: 255 for +1, 0 for -1
};

// Skinned vertex, 52 bytes.
struct SkinnedVertex {
    float position[3];
    float normal[3];
    float uv0[2];
    float weights[4];  // blend weights; (0, 0, 0, 1) when all bone bytes are 0
    uint8_t bones[4];  // blend indices into the mesh's bone list
};

// Line and point vertex, 16 bytes: the colour already holds the material's.
struct LinesPointsVertex {
    float position[3];  // x, y, -z of the file
    uint32_t color;     // D3DCOLOR
};

// The bone influences the scene build gives a file's vertex: weights (0, 0, 0, 1) on bone 0
// when all four bone numbers are 0 (the file gives none), and bone 0 in place of a number
// beyond the mesh's bone list. The build and whoever places vertices where it will (the
// viewer's framing) both take them from here. Returns how many numbers were replaced.
struct BoneInfluences {
    float weights[4];
    uint8_t bones[4];
};
inline uint32_t InfluencesOf(const uint8_t (&bones)[4], const float (&weights)[4], size_t boneCount,
                             BoneInfluences& out) {
    bool noBones = !(bones[0] | bones[1] | bones[2] | bones[3]);
    uint32_t replaced = 0;
    for (int i = 0; i < 4; ++i) {
        out.weights[i] = noBones ? (i == 3 ? 1.0f : 0.0f) : weights[i];
        bool known = bones[i] < boneCount;
        out.bones[i] = known ? bones[i] : 0;
        replaced += known ? 0 : 1;
    }
    return replaced;
}

// Packs a value of the unit range [-1, 1] into a byte: (x + 1) * 0.5 * 255, truncated
// toward zero, so 1 -> 255, 0 -> 127, -1 -> 0. Values outside the range and NaNs saturate
// to 0 or 255 instead of making the conversion undefined.
inline uint8_t PackUnitByte(float x) {
    float scaled = (x + 1.0f) * 0.5f * 255.0f;
    if (!(scaled > 0.0f)) return 0;
    if (scaled >= 255.0f) return 255;
    return static_cast<uint8_t>(scaled);
}

// The inverse mapping: byte * (2 / 255) - 1 in single precision, so 0 -> -1, 255 -> 1.
inline float UnpackUnitByte(uint8_t byte) { return static_cast<float>(byte) * (2.0f / 255.0f) - 1.0f; }

static_assert(sizeof(StaticVertex) == 32);
static_assert(offsetof(StaticVertex, normal) == 12);
static_assert(offsetof(StaticVertex, uv0) == 16);
static_assert(offsetof(StaticVertex, uv1) == 24);
static_assert(offsetof(StaticVertex, tangent) == 28);
static_assert(sizeof(SkinnedVertex) == 52);
static_assert(sizeof(LinesPointsVertex) == 16);
static_assert(offsetof(SkinnedVertex, normal) == 12);
static_assert(offsetof(SkinnedVertex, uv0) == 24);
static_assert(offsetof(SkinnedVertex, weights) == 32);
static_assert(offsetof(SkinnedVertex, bones) == 48);
