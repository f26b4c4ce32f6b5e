// Tangent generation for unskinned vertices.
//
// SRX files carry no tangents, but the materials of unskinned meshes bind a normal map.
// GenerateTangents derives a tangent and a handedness sign per vertex from positions,
// texture coordinates and the packed normals, in place in a locked vertex buffer of
// StaticVertex. Only the packed tangent bytes change. Skinned meshes get no tangents.
#pragma once

#include "scene/Vertices.h"

#include <cstdint>

// The unnormalised tangent (direction of increasing u) and bitangent (increasing v) of a
// triangle. Independent of the winding order. A triangle whose texture coordinates have
// no area has no such direction: it yields zero vectors, so it adds nothing to its
// vertices' sums instead of infinities.
void TriangleTangentFrame(const float p0[3], const float p1[3], const float p2[3], const float t0[2],
                          const float t1[2], const float t2[2], float tangent[3], float bitangent[3]);

// For the triangle list in indices (a trailing partial triangle is ignored), sums the
// triangle frames per vertex, makes each tangent sum orthogonal to the vertex's unpacked
// normal and normalises it, and writes the packed tangent and handedness (255 for +1, 0
// for -1) to tangent[0..3]. A vertex no triangle uses gets the packing of the zero vector
// (127, 127, 127) and handedness 255. Triangles with an index at or past vertexCount are
// skipped rather than read out of bounds.
void GenerateTangents(StaticVertex* vertices, int32_t vertexCount, const uint16_t* indices, int32_t indexCount);
// The same over 32-bit indices, for meshes of more than 65536 vertices. (A name of its
// own, so that a null index pointer still names one function.)
void GenerateTangentsWide(StaticVertex* vertices, int32_t vertexCount, const uint32_t* indices, int32_t indexCount);
