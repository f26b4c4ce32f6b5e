// LightBounds: what the bounded light pass draws for a light with a range.
//
// A light reaches the points within its range, a sphere; the pixels that can see such a
// point lie inside the projection of that sphere. LightScreenRect gives the whole pixels
// of that projection's bounding rectangle (exact for a sphere wholly in front of the near
// plane, the whole screen for one that crosses it), and AppendLightQuad writes the two
// triangles that cover them, each corner carrying the light's view-space record, so that
// any number of lights go to the device in one draw. Each rectangle lies at the depth of
// the nearest point of the light's sphere, so that drawn against the scene's depth buffer
// the device drops pixels whose surface lies in front of the light's reach before any
// shading; the pixel shader then skips those whose surface lies beyond it.
#pragma once

#include "scene/Light.h"

#include <d3d9.h>
#include <d3dx9.h>

#include <vector>

// Pixels [x0, x1) x [y0, y1) of the target, origin top-left.
struct LightRect {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    int Area() const { return (x1 - x0) * (y1 - y0); }
};

// The rectangle of the pixels that can see a sphere of radius `radius` centred on
// `viewCentre` (view space: the camera looks down +z), under a D3DX left-handed
// perspective projection, on a target of width x height pixels. False when no pixel can.
bool LightScreenRect(const D3DXVECTOR3& viewCentre, float radius, const D3DXMATRIX& projection, int width, int height,
                     LightRect* rect);

// One corner of a light's rectangle: a pretransformed position, the target coordinates of
// the pixel, and the light in view space, the same at every corner.
struct LightQuadVertex {
    float x, y, z, rhw;    // POSITIONT: target pixels, depth of the sphere's nearest point
    float u, v;            // TEXCOORD0: the ZN target's coordinates at this corner
    float position[4];     // TEXCOORD1: view-space position, 1 / range^2
    float color[4];        // TEXCOORD2: red, green, blue, range
    float spot[4];         // TEXCOORD3: view-space direction of the cone, cos of its outer edge
                           //            (-2 without a cone)
    float frame[4];        // TEXCOORD4: the projection's x and y scales (xs, ys),
                           //            1 / (cos inner - cos outer), 0
};
static_assert(sizeof(LightQuadVertex) == 88);

extern const D3DVERTEXELEMENT9 kLightQuadElements[];

// Appends the six corners of the light's two triangles when its range can reach a pixel;
// `view` and `projection` are the frame's. Returns whether it did.
bool AppendLightQuad(const Light& light, const D3DXMATRIX& view, const D3DXMATRIX& projection, int width, int height,
                     std::vector<LightQuadVertex>* vertices);

// Whether the light can be drawn at all: finite values, and a range above zero where the
// kind has one.
bool IsDrawable(const Light& light);

// The cone terms the light shaders take: cos of the outer edge and 1 / (cos inner - cos
// outer), with the inner cone kept inside the outer one; (-2, 1) for lights without a cone.
D3DXVECTOR2 ConeTerms(const Light& light);
