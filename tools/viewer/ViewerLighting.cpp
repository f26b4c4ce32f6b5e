#include "ViewerLighting.h"

#include "import/SrxFormat.h"
#include "scene/LightBounds.h"
#include "scene/World.h"

#include <algorithm>
#include <cmath>
#include <functional>

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
    auto strength = [](const Light& l) { return std::max({l.color.x, l.color.y, l.color.z}); };
    auto wide = [](const Light& l) { return !HasRange(l) || l.range >= 2.0f * kViewRadius; };
    size_t wideCount = static_cast<size_t>(std::count_if(lights.begin(), lights.end(), wide));
    size_t wideSkipped = 0;
    if (wideCount > kMaxWideLights) {
        // The brightest wide lights stay, in the file's order.
        std::vector<float> strengths;
        for (const Light& light : lights)
            if (wide(light)) strengths.push_back(strength(light));
        std::nth_element(strengths.begin(), strengths.begin() + (kMaxWideLights - 1), strengths.end(),
                         std::greater<float>());
        float threshold = strengths[kMaxWideLights - 1];
        // Those brighter than the threshold all stay; lights equal to it fill the rest.
        size_t equalsLeft = kMaxWideLights - static_cast<size_t>(std::count_if(
                                                 strengths.begin(), strengths.end(), [&](float v) { return v > threshold; }));
        std::erase_if(lights, [&](const Light& l) {
            if (!wide(l) || strength(l) > threshold) return false;
            if (strength(l) == threshold && equalsLeft > 0) {
                --equalsLeft;
                return false;
            }
            return true;
        });
        wideSkipped = wideCount - kMaxWideLights;
    }
    float brightest = 0.0f;
    for (const Light& light : lights) brightest = std::max(brightest, strength(light));
    if (brightest > 1.0f)
        for (Light& light : lights) light.color /= brightest;
    if (note) {
        std::vector<std::string> parts;
        if (skipped)
            parts.push_back(std::to_string(skipped) + " lights beyond the first " + std::to_string(kMaxFileLights) +
                            " are not drawn");
        if (wideSkipped)
            parts.push_back(std::to_string(wideSkipped) + " lights that light the whole model, beyond the " +
                            std::to_string(kMaxWideLights) + " brightest, are not drawn");
        for (size_t i = 0; i < parts.size(); ++i) *note += (i ? "; " : "") + parts[i];
    }
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

float ClipTicksPerSecond(double seconds) {
    return seconds > 0.0 && std::isfinite(seconds) ? static_cast<float>(AnimationCycleTicks() / seconds) : 0.0f;
}

srxconvert::ConvertOptions ViewerConvertOptions(int animation) {
    srxconvert::ConvertOptions options;
    options.animation = animation;
    options.ambientFloor = true;
    options.turnInwardNormals = true;
    return options;
}

}  // namespace viewer
