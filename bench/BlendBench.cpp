// The blend pass's cost: World::Render of N squares facing the camera, one behind the
// other, each covering a share of the 640 x 480 screen, with a half-transparent material
// (drawn by the blend pass, farthest first, lit there by the frame's lights) and, for
// comparison, with an opaque one (the ZN, light and forward passes), under two point
// lights, headless on llvmpipe. "Time" is wall time per frame; the counters give the cost
// over the same frame without the squares, per square and per covered pixel (every
// square's pixels, those hidden behind others included).
#include "app/Log.h"
#include "app/Window.h"
#include "import/SrxWriter.h"
#include "render/Renderer.h"
#include "scene/Camera.h"
#include "scene/World.h"
#include "BenchEngine.h"
#include "ScratchDirectory.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr int kWidth = 640, kHeight = 480;

// N squares, a mesh each, centred on the z axis at z = 10 + i (file frame: -z away from a
// camera on the +z side), each `side` units wide.
std::vector<uint8_t> Squares(int count, float side, bool blended) {
    SrxWriter writer;
    SrxMaterial material;
    std::strcpy(material.name, "square");
    material.diffuse[0] = material.diffuse[1] = material.diffuse[2] = 0.8f;
    material.ambient[0] = material.ambient[1] = material.ambient[2] = 0.8f;
    if (blended) {
        material.extended = true;
        material.flags = srx::MaterialAlphaBlend;
        material.baseColor[3] = 0.5f;
    }
    writer.Material(material);
    SrxNode node;
    std::strcpy(node.name, "root");
    node.parent = 0xFFFF;
    node.matrix[0] = node.matrix[5] = node.matrix[10] = node.matrix[15] = 1.0f;
    writer.Node(node);
    for (int i = 0; i < count; ++i) {
        SrxMesh mesh;
        SrxPrimitive& p = mesh.primitives.emplace_back();
        p.vertexCount = 4;
        p.faceCount = 2;
        p.indices = {0, 1, 2, 0, 2, 3};
        p.streamFlags = srx::StreamPositions | srx::StreamNormals;
        float h = side / 2, z = -10.0f - static_cast<float>(i);
        const float corners[4][2] = {{-h, -h}, {h, -h}, {h, h}, {-h, h}};
        for (const auto& c : corners) {
            SrxVertex& v = p.vertices.emplace_back();
            v.position[0] = c[0];
            v.position[1] = c[1];
            v.position[2] = z;
            v.normal[2] = 1.0f;
        }
        writer.Mesh(mesh);
    }
    return writer.TakeData();
}

// args: squares, share of the screen's height each covers (percent), blended (0 or 1).
void BM_BlendPass(benchmark::State& state) {
    int count = static_cast<int>(state.range(0));
    float share = static_cast<float>(state.range(1)) / 100.0f;
    bool blended = state.range(2) != 0;
    EnterScratchDirectory("lumaret-blend-bench");
    Window window;
    StartBenchEngine(window, kWidth, kHeight);
    Zone* zone = gWorld->CreateZone("zone");
    SceneObject* object = gWorld->CreateObject("squares");
    // The camera at the origin looks down +z (the file's -z) with a 60 degree field of view:
    // at the nearest square's depth (10) the screen is 2 * 10 * tan(30 degrees) high.
    float nearHeight = 2.0f * 10.0f * std::tan(0.5235988f);
    std::vector<uint8_t> srx = Squares(count, share * nearHeight, blended);
    gWorld->LoadScene(object, "./squares.srx", srx.data(), srx.size());
    Light key, fill;
    key.position = D3DXVECTOR3(3, 5, 0);
    fill.position = D3DXVECTOR3(-3, -2, 0);
    fill.color = D3DXVECTOR3(0.3f, 0.3f, 0.3f);
    for (Light* light : {&key, &fill}) {
        light->kind = LightKind::Point;
        light->range = 100.0f;
        gWorld->lights.push_back(light);
    }
    Camera camera;
    camera.SetPerspective(60.0f, 4.0f / 3.0f, 1.0f, 2000.0f);
    camera.SetPosition(D3DXVECTOR3(0, 0, 0));
    camera.SetTarget(D3DXVECTOR3(0, 0, 1));

    auto frame = [&] {
        gRenderer->BeginScene();
        gRenderer->Clear(ClearColor | ClearDepth | ClearStencil, 0xFF404040, 0);
        gWorld->Render(&camera);
        gRenderer->EndScene();
        gRenderer->Present();
    };
    // The same frame without the squares, for the difference they make.
    constexpr int kBaseFrames = 30;
    frame();
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kBaseFrames; ++i) frame();
    double empty = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / kBaseFrames;
    zone->AddObject(object);
    frame();
    start = std::chrono::steady_clock::now();
    for (auto _ : state) frame();
    double full = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
                  static_cast<double>(state.iterations());
    // Each square's pixels: its side over the screen's height at its depth, squared, times
    // the pixels per unit of height there.
    double pixels = 0.0;
    for (int i = 0; i < count; ++i) {
        double height = kHeight * share * 10.0 / (10.0 + i);
        pixels += std::min<double>(height, kHeight) * std::min<double>(height, kWidth);
    }
    state.counters["empty_ms"] = empty * 1e3;
    state.counters["us_per_square"] = (full - empty) / count * 1e6;
    state.counters["ns_per_pixel"] = (full - empty) / pixels * 1e9;
    state.counters["screens"] = pixels / (kWidth * kHeight);
    delete gWorld;
    gWorld = nullptr;
    delete gRenderer;
    gRenderer = nullptr;
    window.destroy();
}
BENCHMARK(BM_BlendPass)
    ->ArgNames({"squares", "height%", "blended"})
    ->Args({64, 5, 1})
    ->Args({64, 5, 0})
    ->Args({256, 5, 1})
    ->Args({256, 5, 0})
    ->Args({8, 100, 1})
    ->Args({8, 100, 0})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

}  // namespace
