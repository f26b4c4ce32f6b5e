#include "ViewerLighting.h"

#include "import/SrxFormat.h"
#include "scene/LightBounds.h"

#include <algorithm>
#include <cmath>

namespace viewer {

namespace {

constexpr float kKeyAzimuth = 0.6f, kKeyRise = 0.45f;     // radians right of and above the camera
constexpr float kFillAzimuth = -1.3f, kFillRise = -0.35f;  // left of and below it
constexpr float kHighestPitch = 1.45f;                     // short of straight above or below

D3DXVECTOR3 AroundModel(const OrbitView& view, float azimuth, float rise) {
    OrbitView light = view;
    light.target = D3DXVECTOR3(0.0f, 0.0f, 0.0f);  // the model's centre, wherever the user pans
    light.distance = kLightDistance;
    light.yaw += azimuth;
    light.pitch = std::clamp(view.pitch + rise, -kHighestPitch, kHighestPitch);
    return light.Eye();
}

}  // namespace

ViewerLights::ViewerLights() { fill.color = D3DXVECTOR3(kFillStrength, kFillStrength, kFillStrength); }

void ViewerLights::Follow(const OrbitView& view) {
    key.position = AroundModel(view, kKeyAzimuth, kKeyRise);
    fill.position = AroundModel(view, kFillAzimuth, kFillRise);
}

std::vector<Light> FileLights(const std::vector<SrxLight>& sources, const D3DXMATRIX& world, std::string* note) {
    std::vector<Light> lights;
    // The world matrix scales uniformly (the framing): the length of a row is its factor.
    float scale = D3DXVec3Length(reinterpret_cast<const D3DXVECTOR3*>(&world._11));
    size_t skipped = 0;
    for (const SrxLight& source : sources) {
        if (source.kind < srx::LightKindPoint || source.kind > srx::LightKindDirectional) continue;
        if (lights.size() >= kMaxFileLights) {
            ++skipped;
            continue;
        }
        Light light;
        light.kind = source.kind == srx::LightKindPoint  ? LightKind::Point
                     : source.kind == srx::LightKindSpot ? LightKind::Spot
                                                         : LightKind::Directional;
        D3DXVECTOR3 position(source.position), direction(source.direction);
        D3DXVec3TransformCoord(&light.position, &position, &world);
        D3DXVec3TransformNormal(&light.direction, &direction, &world);
        light.color = D3DXVECTOR3(source.color);
        // No range, or one beyond what a float holds once scaled: it reaches the whole model.
        float range = source.range * scale;
        light.range = std::isfinite(range) && range > 0.0f ? range : kFileLightReach;
        float outer = source.outerCone > 0.0f && source.outerCone < 3.1415f ? source.outerCone : 0.7853982f;
        float inner = std::clamp(source.innerCone, 0.0f, outer);
        light.outerConeCos = std::cos(outer);
        light.innerConeCos = std::cos(inner);
        // What the world would refuse to draw is left out here, so that the count is true.
        if (!IsDrawable(light)) continue;
        light.color = D3DXVECTOR3(std::max(light.color.x, 0.0f), std::max(light.color.y, 0.0f),
                                  std::max(light.color.z, 0.0f));
        lights.push_back(light);
    }
    float brightest = 0.0f;
    for (const Light& light : lights) brightest = std::max({brightest, light.color.x, light.color.y, light.color.z});
    if (brightest > 1.0f)
        for (Light& light : lights) light.color /= brightest;
    if (skipped && note)
        *note = std::to_string(skipped) + " lights beyond the first " + std::to_string(kMaxFileLights) +
                " are not drawn";
    return lights;
}

ShowcaseLights::ShowcaseLights(int count) {
    count = std::clamp(count, 0, kMaxCount);
    // Smaller lights the more there are, so that together they light about the model once.
    float reach = kViewRadius * std::clamp(2.4f / std::sqrt(static_cast<float>(std::max(count, 1))), 0.06f, 0.6f);
    for (int i = 0; i < count; ++i) {
        // A golden-angle walk spreads orbits and hues evenly for any count.
        float t = static_cast<float>(i) * 2.3999632f;
        float spread = (static_cast<float>(i) + 0.5f) / static_cast<float>(count);
        orbits_.push_back({kViewRadius * (0.7f + 0.5f * std::fmod(spread * 7.0f, 1.0f)),
                           kViewRadius * (1.8f * spread - 0.9f), 0.25f + 0.5f * std::fmod(t, 1.0f), t});
        Light light;
        light.kind = LightKind::Point;
        light.range = reach;
        float hue = std::fmod(t / 6.2831853f, 1.0f) * 6.0f;
        auto channel = [hue](float offset) {
            float h = std::fmod(hue + offset, 6.0f);
            return std::clamp(std::fabs(h - 3.0f) - 1.0f, 0.0f, 1.0f);
        };
        light.color = D3DXVECTOR3(channel(0.0f), channel(4.0f), channel(2.0f));
        lights.push_back(light);
    }
    Place(0.0f);
}

void ShowcaseLights::Place(float seconds) {
    for (size_t i = 0; i < lights.size(); ++i) {
        const Orbit& orbit = orbits_[i];
        float angle = orbit.phase + orbit.speed * seconds;
        lights[i].position =
            D3DXVECTOR3(orbit.radius * std::cos(angle), orbit.height, orbit.radius * std::sin(angle));
    }
}

srxconvert::ConvertOptions ViewerConvertOptions(int animation) {
    srxconvert::ConvertOptions options;
    options.animation = animation;
    options.ambientFloor = true;
    options.turnInwardNormals = true;
    return options;
}

}  // namespace viewer
