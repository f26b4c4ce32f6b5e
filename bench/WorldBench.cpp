// World::Render of the demo's model (data/cylcube01.srx: three renderables, one of them
// skinned) in grids of 125, 1 000 and 8 000 objects, and the demo's 125 at three screen
// sizes, headless on llvmpipe, under one light. "Time" is wall time per frame (the
// luminance read-back waits for the device every frame), "CPU" the main thread's; the
// counters give draw calls, heap allocations and CPU microseconds per object per frame
// (process CPU, llvmpipe's rasteriser threads included, and the main thread's alone), which
// should stay flat as the grid grows.
#include "app/Log.h"
#include "app/Window.h"
#include "render/DrawCount.h"
#include "render/Renderer.h"
#include "scene/Camera.h"
#include "scene/World.h"
#include "BenchEngine.h"
#include "ScratchDirectory.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <new>

namespace {
std::atomic<long> gAllocations{0};
}

void* operator new(size_t size) {
    ++gAllocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

double CpuSeconds(clockid_t clock = CLOCK_PROCESS_CPUTIME_ID) {
    timespec now;
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// args: object count, screen width, screen height.
void BM_DemoWorld(benchmark::State& state) {
    int objects = static_cast<int>(state.range(0));
    int width = static_cast<int>(state.range(1)), height = static_cast<int>(state.range(2));
    EnterScratchDirectory("lumaret-world-bench");
    Window window;
    StartBenchEngine(window, width, height);
    gWorld->clearColor = 0xFF000000;
    Zone* zone = gWorld->CreateZone("zone");
    SceneObject* scene = gWorld->CreateObject("scene");
    gWorld->LoadScene(scene, "./data/cylcube01.srx");
    int side = static_cast<int>(std::ceil(std::cbrt(static_cast<double>(objects))));
    for (int i = 1; i < objects; ++i) {
        SceneObject* object = gWorld->CreateObject("cube");
        object->renderables = scene->renderables;
        D3DXMatrixTranslation(&object->world, 233.0f * static_cast<float>(i / (side * side)),
                              233.0f * static_cast<float>(i / side % side), 233.0f * static_cast<float>(i % side));
    }
    // The zone's count makes the walk visit the first `objects` objects of the world.
    for (int i = 0; i < objects; ++i) zone->AddObject(gWorld->objects[static_cast<size_t>(i)]);
    Light light;
    light.position = D3DXVECTOR3(0, 500, 400);
    gWorld->lights.push_back(&light);
    Camera camera;
    camera.SetPerspective(60.0f, 4.0f / 3.0f, 1.0f, 2000.0f);
    camera.SetPosition(D3DXVECTOR3(-300, 700, -500));
    camera.SetTarget(D3DXVECTOR3(500, 500, 500));

    auto frame = [&] {
        gDrawCalls = 0;
        gRenderer->BeginScene();
        gRenderer->Clear(ClearColor | ClearDepth | ClearStencil, 0xFF404040, 0);
        gWorld->Render(&camera);
        gRenderer->EndScene();
        gRenderer->Present();
    };
    frame();
    long allocations = gAllocations;
    double cpu = CpuSeconds(), mainCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    for (auto _ : state) frame();
    cpu = CpuSeconds() - cpu;
    mainCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - mainCpu;
    double frames = static_cast<double>(state.iterations());
    state.counters["draws"] = gDrawCalls;
    state.counters["allocs"] = static_cast<double>(gAllocations - allocations) / frames;
    state.counters["cpu_us_per_object"] = cpu / frames / objects * 1e6;
    // The main thread alone: the engine, the layer and llvmpipe's vertex work, without its
    // rasteriser threads.
    state.counters["main_us_per_object"] = mainCpu / frames / objects * 1e6;
    state.counters["main_ms"] = mainCpu / frames * 1e3;
    delete gWorld;
    gWorld = nullptr;
    delete gRenderer;
    gRenderer = nullptr;
    window.destroy();
}
BENCHMARK(BM_DemoWorld)
    ->Args({125, 640, 480})
    ->Args({1000, 640, 480})
    ->Args({8000, 640, 480})
    ->Args({125, 1024, 768})
    ->Args({125, 1920, 1080})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

}  // namespace
