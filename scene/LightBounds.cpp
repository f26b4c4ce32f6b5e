#include "scene/LightBounds.h"

#include <algorithm>
#include <cmath>

// clang-format off
const D3DVERTEXELEMENT9 kLightQuadElements[] = {
    {0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITIONT, 0},
    {0, 16, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    {0, 24, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 1},
    {0, 40, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 2},
    {0, 56, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 3},
    {0, 72, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 4},
    D3DDECL_END()};
// clang-format on

namespace {

bool Finite(const D3DXVECTOR3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// The normalised-device range [lo, hi] that a circle of radius r at (c, z) covers along
// one screen axis, where scale is the projection's factor for that axis (x or y over z).
// The edges are the two lines through the eye that touch the circle: x = k z with
// (c - k z)^2 = r^2 (1 + k^2).
bool AxisRange(float c, float z, float r, float scale, float nearPlane, float* lo, float* hi) {
    if (z + r <= nearPlane) return false;  // wholly behind the near plane
    if (z - r <= nearPlane) {
        // Crossing the near plane, the sphere's projection is unbounded: take the screen.
        *lo = -1.0f;
        *hi = 1.0f;
        return true;
    }
    double cd = c, zd = z, rd = r;
    double denominator = zd * zd - rd * rd;  // > 0: z > r here
    double spread = rd * std::sqrt(cd * cd + denominator);
    *lo = static_cast<float>(std::max(-1.0, scale * (cd * zd - spread) / denominator));
    *hi = static_cast<float>(std::min(1.0, scale * (cd * zd + spread) / denominator));
    return *lo < *hi;
}

}  // namespace

bool LightScreenRect(const D3DXVECTOR3& viewCentre, float radius, const D3DXMATRIX& projection, int width, int height,
                     LightRect* rect) {
    if (width <= 0 || height <= 0 || !(radius > 0.0f) || !std::isfinite(radius) || !Finite(viewCentre)) return false;
    // D3DXMatrixPerspectiveFovLH: _33 = f / (f - n), _43 = -n f / (f - n), so n = -_43 / _33.
    float nearPlane = projection._33 != 0.0f ? -projection._43 / projection._33 : 0.0f;
    float xLo, xHi, yLo, yHi;
    if (!AxisRange(viewCentre.x, viewCentre.z, radius, projection._11, nearPlane, &xLo, &xHi) ||
        !AxisRange(viewCentre.y, viewCentre.z, radius, projection._22, nearPlane, &yLo, &yHi))
        return false;
    // Whole pixels, one more on each side so that rounding never trims a lit edge.
    double w = width, h = height;
    rect->x0 = std::clamp(static_cast<int>(std::floor((xLo + 1.0) * 0.5 * w)) - 1, 0, width);
    rect->x1 = std::clamp(static_cast<int>(std::ceil((xHi + 1.0) * 0.5 * w)) + 1, 0, width);
    rect->y0 = std::clamp(static_cast<int>(std::floor((1.0 - yHi) * 0.5 * h)) - 1, 0, height);
    rect->y1 = std::clamp(static_cast<int>(std::ceil((1.0 - yLo) * 0.5 * h)) + 1, 0, height);
    return rect->x0 < rect->x1 && rect->y0 < rect->y1;
}

bool IsDrawable(const Light& light) {
    if (!Finite(light.position) || !Finite(light.color)) return false;
    if (HasRange(light) && !(std::isfinite(light.range) && light.range > 0.0f)) return false;
    if (light.kind == LightKind::Spot || light.kind == LightKind::Directional)
        return Finite(light.direction) && D3DXVec3LengthSq(&light.direction) > 0.0f;
    return true;
}

D3DXVECTOR2 ConeTerms(const Light& light) {
    if (light.kind != LightKind::Spot) return D3DXVECTOR2(-2.0f, 1.0f);
    float outer = std::isfinite(light.outerConeCos) ? std::clamp(light.outerConeCos, -1.0f, 0.9999f) : 0.7071068f;
    float inner = std::isfinite(light.innerConeCos) ? std::clamp(light.innerConeCos, outer + 1e-4f, 1.0f) : 1.0f;
    return D3DXVECTOR2(outer, 1.0f / std::max(inner - outer, 1e-4f));
}

bool AppendLightQuad(const Light& light, const D3DXMATRIX& view, const D3DXMATRIX& projection, int width, int height,
                     std::vector<LightQuadVertex>* vertices) {
    if (!HasRange(light) || !IsDrawable(light)) return false;
    D3DXVECTOR3 centre;
    D3DXVec3TransformCoord(&centre, &light.position, &view);
    LightRect rect;
    if (!LightScreenRect(centre, light.range, projection, width, height, &rect)) return false;

    D3DXVECTOR3 direction(0.0f, 0.0f, 1.0f);
    if (light.kind == LightKind::Spot) {
        D3DXVECTOR3 shines;
        D3DXVec3TransformNormal(&shines, &light.direction, &view);
        D3DXVec3Normalize(&direction, &shines);
    }
    D3DXVECTOR2 cone = ConeTerms(light);
    LightQuadVertex corner{};
    // The projected depth of the sphere's nearest point, a hair nearer so that rounding
    // never drops a surface on it; 0 (the near plane) when the sphere reaches past it.
    float nearPlane = projection._33 != 0.0f ? -projection._43 / projection._33 : 0.0f;
    float nearest = centre.z - light.range * 1.001f;
    corner.z = nearest > nearPlane ? std::clamp(projection._33 + projection._43 / nearest, 0.0f, 1.0f) : 0.0f;
    corner.rhw = 1.0f;
    float invRangeSq = 1.0f / (light.range * light.range);
    float record[4][4] = {{centre.x, centre.y, centre.z, invRangeSq},
                          {light.color.x, light.color.y, light.color.z, light.range},
                          {direction.x, direction.y, direction.z, cone.x},
                          {projection._11, projection._22, cone.y, 0.0f}};
    std::copy(record[0], record[0] + 4, corner.position);
    std::copy(record[1], record[1] + 4, corner.color);
    std::copy(record[2], record[2] + 4, corner.spot);
    std::copy(record[3], record[3] + 4, corner.frame);
    // Pixel centres sit on whole target coordinates, so a rectangle's edges lie half a
    // pixel before them, as the full-screen quad's do; u, v are 0 and 1 at that quad's edges.
    auto at = [&](int x, int y) {
        LightQuadVertex v = corner;
        v.x = static_cast<float>(x) - 0.5f;
        v.y = static_cast<float>(y) - 0.5f;
        v.u = static_cast<float>(x) / static_cast<float>(width);
        v.v = static_cast<float>(y) / static_cast<float>(height);
        return v;
    };
    LightQuadVertex a = at(rect.x0, rect.y0), b = at(rect.x1, rect.y0), c = at(rect.x0, rect.y1),
                    d = at(rect.x1, rect.y1);
    vertices->insert(vertices->end(), {a, b, c, c, b, d});
    return true;
}
