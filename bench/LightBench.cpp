// The light pass under many lights: the demo's model in a 5 x 5 x 5 grid (as the demo
// draws it), headless on llvmpipe at 640 x 480, under N point lights scattered through the
// grid, each given the largest range whose screen rectangle covers at most 1/A of the
// screen, drawn bounded (one draw of per-light rectangles, PassLightBounded.hlsl) or each
// over the whole screen (PassLight.hlsl). Args: N, A, bounded.
//
// "Time" is wall time per frame (the luminance read-back waits for the device every
// frame). The counters: light_ms, the frame's time beyond the same grid without lights
// (BM_NoLights: the passes with an empty light target), light_us_per_light, and the
// pixels of the lights' rectangles as a share of the screen.
#include "app/Log.h"
#include "app/Window.h"
#include "render/Renderer.h"
#include "scene/Camera.h"
#include "scene/LightBounds.h"
#include "scene/World.h"
#include "ScratchDirectory.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr int kWidth = 640, kHeight = 480;
double gNoLightsMs = 0.0;  // measured first, by BM_NoLights

struct Grid {
    Window window;
    Camera camera;

    Grid() {
        EnterScratchDirectory("lumaret-light-bench");
        Log::Open();
        window.create(50, 50, kWidth, kHeight, 1);
        gRenderer = new Renderer();
        gRenderer->Init(window.handle, DisplayModeDesc{kWidth, kHeight, 0}, RendererSettings{false, false, 4, 1}, 7);
        gRenderer->LoadResources();
        gWorld = new World();
        gWorld->InitPipeline();
        Zone* zone = gWorld->CreateZone("zone");
        SceneObject* scene = gWorld->CreateObject("scene");
        gWorld->LoadScene(scene, "./data/cylcube01.srx");
        for (int i = 0; i < 125; ++i) {
            SceneObject* object = i == 0 ? scene : gWorld->CreateObject("cube");
            object->renderables = scene->renderables;
            D3DXMatrixTranslation(&object->world, 233.0f * static_cast<float>(i / 25),
                                  233.0f * static_cast<float>(i / 5 % 5), 233.0f * static_cast<float>(i % 5));
            zone->AddObject(object);
        }
        camera.SetPerspective(60.0f, 4.0f / 3.0f, 1.0f, 2000.0f);
        camera.SetPosition(D3DXVECTOR3(-300, 700, -500));
        camera.SetTarget(D3DXVECTOR3(500, 500, 500));
    }
    ~Grid() {
        delete gWorld;
        gWorld = nullptr;
        delete gRenderer;
        gRenderer = nullptr;
        window.destroy();
    }

    void Frame() {
        gRenderer->BeginScene();
        gRenderer->Clear(ClearColor | ClearDepth | ClearStencil, 0xFF404040, 0);
        gWorld->Render(&camera);
        gRenderer->EndScene();
        gRenderer->Present();
    }

    // Mean ms per frame over the benchmark's iterations.
    double Measure(benchmark::State& state) {
        Frame();
        auto start = std::chrono::steady_clock::now();
        for (auto _ : state) Frame();
        std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start;
        return spent.count() / static_cast<double>(state.iterations());
    }
};

// Lights scattered through the grid, each with the largest range (up to 300 units) whose
// rectangle covers at most 1/share of the screen.
std::vector<Light> ScatterLights(int count, int share, Camera& camera) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> along(-50.0f, 980.0f), hue(0.2f, 1.0f);
    D3DXMATRIX view = camera.GetView(), projection = camera.GetProjection();
    const int limit = kWidth * kHeight / share;
    std::vector<Light> lights;
    while (static_cast<int>(lights.size()) < count) {
        Light light;
        light.kind = LightKind::Point;
        light.position = D3DXVECTOR3(along(random), along(random), along(random));
        light.color = D3DXVECTOR3(hue(random), hue(random), hue(random));
        D3DXVECTOR3 centre;
        D3DXVec3TransformCoord(&centre, &light.position, &view);
        float low = 0.0f, high = 300.0f;
        for (int step = 0; step < 20; ++step) {
            float middle = 0.5f * (low + high);
            LightRect rect;
            bool fits = !LightScreenRect(centre, middle, projection, kWidth, kHeight, &rect) || rect.Area() <= limit;
            (fits ? low : high) = middle;
        }
        LightRect rect;
        // Lights that reach no pixel at any range are of no use to the measurement.
        if (low < 1.0f || !LightScreenRect(centre, low, projection, kWidth, kHeight, &rect)) continue;
        light.range = low;
        lights.push_back(light);
    }
    return lights;
}

void BM_NoLights(benchmark::State& state) {
    Grid grid;
    gNoLightsMs = grid.Measure(state);
}
BENCHMARK(BM_NoLights)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The demo's light: no range, a full-screen quad, as today.
void BM_DemoLight(benchmark::State& state) {
    Grid grid;
    Light light;
    light.position = D3DXVECTOR3(0, 500, 400);
    gWorld->lights.push_back(&light);
    double ms = grid.Measure(state);
    state.counters["light_ms"] = ms - gNoLightsMs;
}
BENCHMARK(BM_DemoLight)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// args: light count, screen share denominator, bounded (1) or full-screen (0).
void BM_ManyLights(benchmark::State& state) {
    Grid grid;
    int count = static_cast<int>(state.range(0)), share = static_cast<int>(state.range(1));
    std::vector<Light> lights = ScatterLights(count, share, grid.camera);
    for (Light& light : lights) gWorld->lights.push_back(&light);
    gWorld->boundLights = state.range(2) != 0;
    double ms = grid.Measure(state);
    state.counters["light_ms"] = ms - gNoLightsMs;
    state.counters["light_us_per_light"] = (ms - gNoLightsMs) * 1e3 / count;
    state.counters["screens"] =
        static_cast<double>(gWorld->lightStats.boundedPixels) / static_cast<double>(kWidth * kHeight);
}
BENCHMARK(BM_ManyLights)
    ->Args({1, 64, 1})
    ->Args({16, 64, 1})
    ->Args({16, 64, 0})
    ->Args({128, 64, 1})
    ->Args({128, 64, 0})
    ->Args({128, 16, 1})
    ->Args({1024, 256, 1})
    ->Args({1024, 64, 1})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

}  // namespace
