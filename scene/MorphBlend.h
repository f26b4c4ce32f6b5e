// MorphBlend: the morph targets of one primitive, blended on the CPU into that primitive's
// vertices of its mesh's vertex buffer before it is drawn.
//
// Owns the shape at rest, each target's offsets (in the engine's frame) and the weight
// keys. Update(time) weighs the targets by the keys at the clock's time (linearly between
// keys, held before the first and after the last; the weights at rest without keys) and
// rewrites positions and normals, once per clock time however many passes draw the
// primitive. Tangents keep the shape at rest. Leaves the buffer, the draw and the clock to
// others; a mesh without targets has no MorphBlend and costs nothing.
#pragma once

#include "import/SrxScene.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class Mesh;

class MorphBlend {
public:
    // The primitive's vertices start at firstVertex of mesh's stream 0, laid out as
    // SkinnedVertex when skinned, else as StaticVertex. At most maxTargets are blended.
    MorphBlend(Mesh* mesh, uint32_t firstVertex, bool skinned, const SrxPrimitive& primitive, size_t maxTargets);
    void Update(float time);
    // The weights at a clock time (one per blended target).
    std::vector<float> WeightsAt(float time) const;

private:
    Mesh* mesh_ = nullptr;  // not owned
    uint32_t first_ = 0;
    bool skinned_ = false;
    size_t targets_ = 0;
    std::vector<float> positions_, normals_;                // at rest, xyz per vertex
    std::vector<std::vector<float>> offsets_, turns_;       // per target: position and normal offsets
    std::vector<float> rest_;                               // weights without keys
    std::vector<SrxMorphKey> keys_;
    bool blended_ = false;
    float lastTime_ = 0.0f;
};
