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

#include <string>
#include <vector>

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

// A model's own lights (SRX lights that carry their reach), placed where the viewer shows
// the model: positions and directions times the model's world matrix, ranges scaled with
// it. A point or spot light the file gives no reach gets kFileLightReach, which covers the
// model from anywhere near it. Files state intensities in units of their own (candela,
// watts), while the light target holds 0 to 1 a channel: when the brightest channel of
// any light is above 1, every light is scaled down by it, so that their balance stays.
// At most kMaxFileLights are taken, and of those that light the whole model (directional
// lights, and lights whose range spans the model's sphere), each a screen of shading a
// frame, the kMaxWideLights brightest; `note` then says how many were left out.
constexpr float kFileLightReach = 4.0f * kViewRadius;
constexpr size_t kMaxFileLights = 4096;
constexpr size_t kMaxWideLights = 8;
std::vector<Light> FileLights(const std::vector<SrxLight>& sources, const D3DXMATRIX& world, std::string* note);

// --lights N: N coloured point lights circling the model on orbits of their own, each
// reaching a small part of it, for a show of many lights and a measure of their cost.
class ShowcaseLights {
public:
    static constexpr int kMaxCount = 4096;
    explicit ShowcaseLights(int count);
    void Place(float seconds);
    std::vector<Light> lights;

private:
    struct Orbit {
        float radius, height, speed, phase;
    };
    std::vector<Orbit> orbits_;
};

// srxconvert's conversion as the viewer wants it: ambient floor and inward normals turned.
srxconvert::ConvertOptions ViewerConvertOptions(int animation);
// The engine's clock ticks a second that play a clip of `seconds` in real time, fitted onto
// the clock's cycle as the conversion fits it; 0 for no length known.
float ClipTicksPerSecond(double seconds);

}  // namespace viewer
