// Splitting a triangle mesh into parts that one SRX primitive and one bone palette can
// hold: a PRIM counts vertices and triangles in 16 bits, and the pass shaders keep 48 bone
// matrices in their constant registers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace srxconvert {

// At most four influences per vertex; bone numbers index the mesh's own bone list.
struct Influences {
    uint8_t count = 0;
    std::array<uint32_t, 4> bones{};
    std::array<float, 4> weights{};
};

struct SplitLimits {
    uint32_t vertices = 65535;
    uint32_t triangles = 65535;
    uint32_t bones = 48;
};

struct MeshPart {
    std::vector<uint32_t> vertices;     // source vertex of each part vertex
    std::vector<uint16_t> indices;      // three per triangle, into vertices
    std::vector<uint32_t> bones;        // source bone of each part bone, in first-use order
    std::vector<uint8_t> boneOfSource;  // part bone number by source bone; kNoBone where unused

    static constexpr uint8_t kNoBone = 0xFF;
};

// Greedy in triangle order: a triangle goes to the current part unless its new vertices,
// the triangle itself or its new bones would pass a limit, which starts the next part.
// Shared vertices are repeated in every part that uses them. influences is empty for an
// unskinned mesh, else one entry per source vertex; boneCount is the source bone count.
std::vector<MeshPart> SplitMesh(const std::vector<uint32_t>& triangles, size_t vertexCount,
                                const std::vector<Influences>& influences, size_t boneCount,
                                const SplitLimits& limits = {});

// Keeps the four largest weights of a vertex (ties: the earlier bone) and scales them to
// sum 1. Weights that are not positive and finite are dropped; no weight at all gives count 0.
Influences StrongestInfluences(const std::vector<std::pair<uint32_t, float>>& weights);

// Vertices without weights in a mesh that has some (their bones lost, or never bound)
// take the influences of the nearest weighted vertex across the triangles, so that they
// move with the surface around them. Returns how many did; those with no weighted vertex
// in reach keep count 0.
size_t BorrowNeighbourInfluences(const std::vector<uint32_t>& triangles, std::vector<Influences>& influences);

}  // namespace srxconvert
