#include "ViewerLighting.h"

#include <algorithm>

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

srxconvert::ConvertOptions ViewerConvertOptions(int animation) {
    srxconvert::ConvertOptions options;
    options.animation = animation;
    options.ambientFloor = true;
    options.turnInwardNormals = true;
    return options;
}

}  // namespace viewer
