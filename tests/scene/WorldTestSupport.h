// Worlds for tests: a Renderer on a recording device or on the real device (headless on
// llvmpipe), in a scratch directory whose ./data links to the repository's data, with the
// pass shaders loaded from it; a camera-facing quad as scene geometry; read-back of
// render targets.
#pragma once

#include "app/Log.h"
#include "render/Renderer.h"
#include "scene/Camera.h"
#include "scene/World.h"
#include "support/RecordingDevice.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumaret::test {

class WorldTest : public testing::Test {
protected:
    void TearDown() override;

    // Renderer (recording or real device) of the given back-buffer size, the listed data
    // shader files loaded (names relative to ./data/), then the World and its pipeline.
    void StartOnRecordingDevice(int width, int height, const std::vector<std::string>& dataShaders);
    void StartOnRealDevice(int width, int height, const std::vector<std::string>& dataShaders);
    void StartWorld();

    // A square of the given edge in the plane z = 0 facing the camera at (0, 0, -distance),
    // white material, ambient zero, unskinned vertices; owned by the world.
    MeshPartRenderable* AddQuad(float edge);
    SceneObject* AddObject(Renderable* renderable, Zone* zone);

    // A render target's pixels as the device lays them out, rows packed.
    std::vector<uint8_t> ReadTarget(int index, int* width = nullptr, int* height = nullptr);
    std::vector<uint32_t> ReadBackBuffer();

    static std::vector<std::string> PassShaders() {
        return {"PassZN.hlsl", "PassLight.hlsl", "PassForward.hlsl", "PostProcess.hlsl"};
    }

    ScopedTempDir dir;
    Camera camera;
    RecordingDirect3D* recordingD3D = nullptr;
    RecordingDevice* recording = nullptr;
    HWND window = nullptr;
};

}  // namespace lumaret::test
