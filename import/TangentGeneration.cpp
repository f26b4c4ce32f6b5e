#include "import/TangentGeneration.h"

#include <d3dx9math.h>

#include <cmath>
#include <vector>

void TriangleTangentFrame(const float p0[3], const float p1[3], const float p2[3], const float t0[2],
                          const float t1[2], const float t2[2], float tangent[3], float bitangent[3]) {
    float e1[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
    float e2[3] = {p2[0] - p0[0], p2[1] - p0[1], p2[2] - p0[2]};
    float du1 = t1[0] - t0[0], dv1 = t1[1] - t0[1];
    float du2 = t2[0] - t0[0], dv2 = t2[1] - t0[1];
    float r = 1.0f / (dv2 * du1 - dv1 * du2);
    if (!std::isfinite(r)) r = 0.0f;
    for (int i = 0; i < 3; ++i) {
        tangent[i] = (e1[i] * dv2 - e2[i] * dv1) * r;
        bitangent[i] = (e2[i] * du1 - e1[i] * du2) * r;
    }
}

namespace {

// One body for both index widths: 16-bit buffers, and 32-bit ones for meshes of more than
// 65536 vertices.
template <class Index>
void GenerateTangentsOver(StaticVertex* vertices, int32_t vertexCount, const Index* indices, int32_t indexCount) {
    if (!vertices || vertexCount <= 0) return;
    size_t count = static_cast<size_t>(vertexCount);
    std::vector<D3DXVECTOR3> tangentSums(count, D3DXVECTOR3(0.0f, 0.0f, 0.0f));
    std::vector<D3DXVECTOR3> bitangentSums(count, D3DXVECTOR3(0.0f, 0.0f, 0.0f));

    int32_t triangles = indices && indexCount > 0 ? indexCount / 3 : 0;
    for (int32_t k = 0; k < triangles; ++k) {
        Index corner[3] = {indices[3 * k], indices[3 * k + 1], indices[3 * k + 2]};
        if (size_t{corner[0]} >= count || size_t{corner[1]} >= count || size_t{corner[2]} >= count) continue;
        const StaticVertex& v0 = vertices[corner[0]];
        const StaticVertex& v1 = vertices[corner[1]];
        const StaticVertex& v2 = vertices[corner[2]];
        D3DXVECTOR3 tangent, bitangent;
        TriangleTangentFrame(v0.position, v1.position, v2.position, v0.uv0, v1.uv0, v2.uv0, tangent, bitangent);
        for (Index index : corner) {
            tangentSums[index] += tangent;
            bitangentSums[index] += bitangent;
        }
    }

    for (size_t v = 0; v < count; ++v) {
        StaticVertex& vertex = vertices[v];
        // The packed normal is used as unpacked: renormalising would change which byte
        // values the tangents round to.
        D3DXVECTOR3 normal(UnpackUnitByte(vertex.normal[0]), UnpackUnitByte(vertex.normal[1]),
                           UnpackUnitByte(vertex.normal[2]));
        const D3DXVECTOR3& sum = tangentSums[v];
        D3DXVECTOR3 orthogonal = sum - normal * D3DXVec3Dot(&normal, &sum);
        D3DXVec3Normalize(&orthogonal, &orthogonal);
        D3DXVECTOR3 normalCrossTangent;
        D3DXVec3Cross(&normalCrossTangent, &normal, &sum);
        float handedness = D3DXVec3Dot(&normalCrossTangent, &bitangentSums[v]) < 0.0f ? -1.0f : 1.0f;
        vertex.tangent[0] = PackUnitByte(orthogonal.x);
        vertex.tangent[1] = PackUnitByte(orthogonal.y);
        vertex.tangent[2] = PackUnitByte(orthogonal.z);
        vertex.tangent[3] = PackUnitByte(handedness);
    }
}

}  // namespace

void GenerateTangents(StaticVertex* vertices, int32_t vertexCount, const uint16_t* indices, int32_t indexCount) {
    GenerateTangentsOver(vertices, vertexCount, indices, indexCount);
}

void GenerateTangentsWide(StaticVertex* vertices, int32_t vertexCount, const uint32_t* indices, int32_t indexCount) {
    GenerateTangentsOver(vertices, vertexCount, indices, indexCount);
}
