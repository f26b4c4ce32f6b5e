// The viewer's lights, which show every side of a model the camera sees: a key light above
// and to the right of the camera, and a weaker fill light from its lower left, so that a
// surface the key light misses still has shape. Both stand at one distance from the model,
// whatever the zoom, so that zooming does not change the picture's brightness (the light
// pass lets a light fade to nothing at 2000 units). The conversion adds the rest (see
// ViewerConvertOptions): an ambient floor for materials with a black ambient colour, and
// normals turned out on meshes whose normals point in.
#pragma once

#include "Conversion.h"
#include "ViewerScene.h"
#include "scene/Light.h"

namespace viewer {

// From the model's centre: the framing distance, where the light pass leaves about 80 % of a
// light's strength on the model's near side.
constexpr float kLightDistance = 2.3f * kViewRadius;
constexpr float kFillStrength = 0.35f;

struct ViewerLights {
    Light key;
    Light fill;

    ViewerLights();
    // Places both lights for the camera's angles (its distance and target do not matter).
    void Follow(const OrbitView& view);
};

// srxconvert's conversion as the viewer wants it: ambient floor and inward normals turned.
srxconvert::ConvertOptions ViewerConvertOptions(int animation);

}  // namespace viewer
