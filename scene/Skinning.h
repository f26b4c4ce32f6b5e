// Skinning on the CPU, as the pass shaders skin on the device: a vertex's position and
// normal are the weighted sum of its bones' palette matrices applied to them (D3DX's row
// vectors; normals without translation). A vertex of the file takes the scene build's
// influences first (InfluencesOf, Vertices.h). The overlays that outline what the device
// drew and the viewer's framing both place skinned vertices here.
#pragma once

#include "scene/Vertices.h"

#include <d3dx9.h>

#include <algorithm>
#include <cstddef>

struct SkinnedPoint {
    D3DXVECTOR3 position{0.0f, 0.0f, 0.0f};
    D3DXVECTOR3 normal{0.0f, 0.0f, 0.0f};
};

// A bone number beyond the palette reads its last matrix, as the shaders clamp theirs; a
// weight of 0 adds nothing, even from a matrix that is not finite.
inline SkinnedPoint SkinPoint(const D3DXVECTOR3& position, const D3DXVECTOR3& normal, const BoneInfluences& influences,
                              const D3DXMATRIX* palette, size_t paletteSize) {
    SkinnedPoint out;
    if (!palette || paletteSize == 0) return out;
    for (int i = 0; i < 4; ++i) {
        float weight = influences.weights[i];
        if (weight == 0.0f) continue;
        const D3DXMATRIX& m = palette[std::min<size_t>(influences.bones[i], paletteSize - 1)];
        const D3DXVECTOR3& p = position;
        const D3DXVECTOR3& n = normal;
        out.position += weight * D3DXVECTOR3(p.x * m._11 + p.y * m._21 + p.z * m._31 + m._41,
                                             p.x * m._12 + p.y * m._22 + p.z * m._32 + m._42,
                                             p.x * m._13 + p.y * m._23 + p.z * m._33 + m._43);
        out.normal += weight * D3DXVECTOR3(n.x * m._11 + n.y * m._21 + n.z * m._31, n.x * m._12 + n.y * m._22 + n.z * m._32,
                                           n.x * m._13 + n.y * m._23 + n.z * m._33);
    }
    return out;
}
