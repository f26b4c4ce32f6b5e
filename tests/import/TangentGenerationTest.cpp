// Tangent generation: packed bytes for the cases worked out by hand, and input the
// function must survive.
#include "import/TangentGeneration.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

namespace {

StaticVertex Vertex(float x, float y, float u, float v) {
    StaticVertex vertex{};
    vertex.position[0] = x;
    vertex.position[1] = y;
    vertex.normal[0] = 127;
    vertex.normal[1] = 127;
    vertex.normal[2] = 255;
    vertex.normal[3] = 255;
    vertex.uv0[0] = u;
    vertex.uv0[1] = v;
    vertex.uv1[0] = 1234;
    return vertex;
}

std::array<uint8_t, 4> Tangent(const StaticVertex& vertex) {
    return {vertex.tangent[0], vertex.tangent[1], vertex.tangent[2], vertex.tangent[3]};
}

}  // namespace

TEST(TangentGeneration, TriangleFrameIsIndependentOfWinding) {
    const float p0[] = {0, 0, 0}, p1[] = {1, 0, 0}, p2[] = {0, 1, 0};
    const float t0[] = {0, 0}, t1[] = {1, 0}, t2[] = {0, 1};
    float tangent[3], bitangent[3];
    TriangleTangentFrame(p0, p1, p2, t0, t1, t2, tangent, bitangent);
    EXPECT_EQ(tangent[0], 1.0f);
    EXPECT_EQ(tangent[1], 0.0f);
    EXPECT_EQ(bitangent[1], 1.0f);
    TriangleTangentFrame(p0, p2, p1, t0, t2, t1, tangent, bitangent);
    EXPECT_EQ(tangent[0], 1.0f);
    EXPECT_EQ(bitangent[1], 1.0f);
    // Texture coordinates without area: no direction, and no infinities either.
    const float flat[] = {1, 1};
    TriangleTangentFrame(p0, p1, p2, t0, flat, flat, tangent, bitangent);
    EXPECT_EQ(tangent[0], 0.0f);
    EXPECT_EQ(bitangent[2], 0.0f);
}

TEST(TangentGeneration, UnitTriangleTruncatesTo254NotTo255) {
    // Normal bytes (127, 127, 255) unpack to (-0.0039, -0.0039, 1); t' is about
    // (0.999992, -0.000015, 0.0039), which packs to (254, 127, 127). Each step emulated in
    // single precision with Python's struct module.
    std::vector<StaticVertex> vertices = {Vertex(0, 0, 0, 0), Vertex(1, 0, 1, 0), Vertex(0, 1, 0, 1)};
    const uint16_t indices[] = {0, 1, 2};
    GenerateTangents(vertices.data(), 3, indices, 3);
    for (const StaticVertex& vertex : vertices) {
        EXPECT_EQ(Tangent(vertex), (std::array<uint8_t, 4>{254, 127, 127, 255}));
        EXPECT_EQ(vertex.normal[3], 255);
        EXPECT_EQ(vertex.uv1[0], 1234);
    }
}

TEST(TangentGeneration, MirroredTextureFlipsTangentAndHandedness) {
    std::vector<StaticVertex> vertices = {Vertex(0, 0, 1, 0), Vertex(1, 0, 0, 0), Vertex(0, 1, 1, 1)};
    const uint16_t indices[] = {0, 1, 2};
    GenerateTangents(vertices.data(), 3, indices, 3);
    for (const StaticVertex& vertex : vertices) EXPECT_EQ(Tangent(vertex), (std::array<uint8_t, 4>{0, 127, 127, 0}));
}

TEST(TangentGeneration, SharedVerticesAccumulateAndTrailingIndicesAreIgnored) {
    // Two triangles of a quad, mapped the same way: the shared vertices get the same
    // frame as the unshared ones.
    std::vector<StaticVertex> vertices = {Vertex(0, 0, 0, 0), Vertex(1, 0, 1, 0), Vertex(0, 1, 0, 1),
                                          Vertex(1, 1, 1, 1)};
    const uint16_t indices[] = {0, 1, 2, 2, 1, 3, 0, 3};
    GenerateTangents(vertices.data(), 4, indices, 8);
    for (const StaticVertex& vertex : vertices)
        EXPECT_EQ(Tangent(vertex), (std::array<uint8_t, 4>{254, 127, 127, 255}));
}

TEST(TangentGeneration, UnusedVerticesAndBadIndicesGetTheFallback) {
    std::vector<StaticVertex> vertices = {Vertex(0, 0, 0, 0), Vertex(1, 0, 1, 0), Vertex(0, 1, 0, 1)};
    const uint16_t indices[] = {0, 1, 7, 0, 1, 2};
    GenerateTangents(vertices.data(), 2, indices, 6);
    // Only vertices 0 and 1 are covered, and both triangles use an index past them.
    EXPECT_EQ(Tangent(vertices[0]), (std::array<uint8_t, 4>{127, 127, 127, 255}));
    EXPECT_EQ(Tangent(vertices[1]), (std::array<uint8_t, 4>{127, 127, 127, 255}));
    EXPECT_EQ(Tangent(vertices[2]), (std::array<uint8_t, 4>{0, 0, 0, 0}));
}

TEST(TangentGeneration, NothingToDoWritesNothing) {
    StaticVertex vertex = Vertex(0, 0, 0, 0);
    GenerateTangents(&vertex, 0, nullptr, 0);
    GenerateTangents(nullptr, 0, nullptr, 0);
    EXPECT_EQ(Tangent(vertex), (std::array<uint8_t, 4>{0, 0, 0, 0}));
}

TEST(TangentGeneration, DegenerateTextureCoordinatesStillGiveDefinedBytes) {
    std::vector<StaticVertex> vertices = {Vertex(0, 0, 0.5f, 0.5f), Vertex(1, 0, 0.5f, 0.5f),
                                          Vertex(0, 1, 0.5f, 0.5f)};
    const uint16_t indices[] = {0, 1, 2};
    GenerateTangents(vertices.data(), 3, indices, 3);
    for (const StaticVertex& vertex : vertices)
        EXPECT_EQ(Tangent(vertex), (std::array<uint8_t, 4>{127, 127, 127, 255}));
}

TEST(VertexPacking, UnitRangeBytesAndTheirInverse) {
    EXPECT_EQ(PackUnitByte(1.0f), 255);
    EXPECT_EQ(PackUnitByte(0.0f), 127);
    EXPECT_EQ(PackUnitByte(-1.0f), 0);
    EXPECT_EQ(PackUnitByte(2.0f), 255);
    EXPECT_EQ(PackUnitByte(-2.0f), 0);
    EXPECT_EQ(PackUnitByte(std::nanf("")), 0);
    EXPECT_EQ(UnpackUnitByte(0), -1.0f);
    EXPECT_EQ(UnpackUnitByte(255), 1.0f);
    EXPECT_FLOAT_EQ(UnpackUnitByte(127), -0.0039215088f);
}
