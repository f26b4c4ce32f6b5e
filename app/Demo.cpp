#include "app/Demo.h"

#include "app/Log.h"
#include "resources/FileUtil.h"
#include "scene/Light.h"
#include "scene/SceneObject.h"
#include "scene/World.h"

#include <cmath>
#include <string>

namespace {

constexpr int kGridSize = 5;
constexpr float kGridSpacing = 233.0f;
constexpr const char* kDemoScenePath = "./data/cylcube01.srx";

}  // namespace

void SetupDemoScene(World& world, std::vector<SceneObject*>& cubes) {
    world.clearColor = 0xFF000000;
    world.postFactor = 0.025f;
    Zone* zone = world.CreateZone("zone");
    SceneObject* scene = world.CreateObject("scene");
    // The demo goes on without its model (an empty frame), but says why.
    if (!world.LoadScene(scene, kDemoScenePath)) {
        std::string why;
        ReadWholeFile(kDemoScenePath, &why);
        Log::Warn("Demo: %s could not be loaded: it %s; the frames stay empty.\n", kDemoScenePath,
                  why.empty() ? "cannot be read" : why.c_str());
    } else if (scene->RenderableCount() == 0) {
        Log::Warn("Demo: %s holds no meshes the engine can draw; the frames stay empty.\n", kDemoScenePath);
    }
    for (int i = 0; i < kGridSize; ++i)
        for (int j = 0; j < kGridSize; ++j)
            for (int k = 0; k < kGridSize; ++k) {
                SceneObject* cube = world.CreateObject("cube" + std::to_string(i));
                for (int r = 0; r < scene->RenderableCount(); ++r) cube->AddRenderable(scene->GetRenderable(r));
                cube->world._41 = kGridSpacing * static_cast<float>(i);
                cube->world._42 = kGridSpacing * static_cast<float>(j);
                cube->world._43 = kGridSpacing * static_cast<float>(k);
                cubes.push_back(cube);
                zone->AddObject(cube);
            }
}

void AnimateDemo(float s, Light& light, std::vector<SceneObject*>& cubes) {
    // Single precision throughout, constants included, as the frame's pictures depend on it.
    light.position = D3DXVECTOR3(400.0f * std::sin(s), 300.0f * std::sin(std::cos(0.567f * s) + 0.345f) + 500.0f,
                                 400.0f * std::cos(s));
    float n = static_cast<float>(cubes.size());
    for (size_t c = 0; c < cubes.size(); ++c) {
        float m = (std::fabs(std::sin(s + static_cast<float>(c) * 2.5f / n)) + 1.0f) * 0.5f;
        // The diagonal only: the translation row keeps the cube on its grid position.
        D3DXMATRIX& world = cubes[c]->world;
        world._11 = m;
        world._22 = m;
        world._33 = m;
    }
}
