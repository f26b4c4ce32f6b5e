// Start-up time up to the first presented frame, and the CPU cost of one turn of the
// main loop (clear, logo quad, present), on the real device (headless on llvmpipe).
// Runs in a scratch directory whose ./data links to the repository's data.
#include "app/Log.h"
#include "app/Window.h"
#include "render/Renderer.h"
#include "render/ScreenQuadShaders.h"
#include "ScratchDirectory.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

namespace {

struct Engine {
    Window window;
    Renderer* renderer = nullptr;
    int logoShader = -1;
    int logoTexture = -1;
    QuadDesc logo{-1.0f / 640, 448.0f / 480, 128.0f / 640, 32.0f / 480, 0, 0, 1, 1, 0xFFFFFFFF};

    Engine() {
        Log::Open();
        window.create(50, 50, 640, 480, 1);
        renderer = new Renderer();
        renderer->Init(window.handle, DisplayModeDesc{640, 480, 0}, RendererSettings{false, false, 4, 1}, 7);
        renderer->LoadResources();
        logoShader = renderer->CreateShader(kScreenQuadVertexShader, kPassThroughPixelShader);
        logoTexture = renderer->FindTexture("./data/lum_logo_256x64.png");
    }
    ~Engine() {
        delete renderer;
        window.destroy();
    }
    void Frame() {
        renderer->BeginScene();
        renderer->Clear(ClearColor | ClearDepth | ClearStencil, 0xFF404040, 0);
        renderer->SetSamplerFlags(0, SamplerLinear | SamplerClamp);
        renderer->SetShader(logoShader);
        renderer->SetTexture(0, logoTexture);
        renderer->DrawQuads(&logo, 1);
        renderer->EndScene();
        renderer->Present();
    }
};

void BM_StartupToFirstFrame(benchmark::State& state) {
    EnterScratchDirectory("lumaret-bench");
    for (auto _ : state) {
        Engine engine;
        engine.Frame();
        // Reading one pixel back waits until the frame has really been drawn.
        int pitch = 0;
        int target = engine.renderer->CreateRenderTarget(PixelFormatA8R8G8B8, 1, 1, 0, true);
        benchmark::DoNotOptimize(engine.renderer->LockRenderTarget(target, &pitch));
        engine.renderer->UnlockRenderTarget(target);
        engine.renderer->ReleaseRenderTarget(target);
    }
}
BENCHMARK(BM_StartupToFirstFrame)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_MainLoopFrame(benchmark::State& state) {
    EnterScratchDirectory("lumaret-bench");
    Engine engine;
    for (auto _ : state) engine.Frame();
}
BENCHMARK(BM_MainLoopFrame)->Unit(benchmark::kMicrosecond);

}  // namespace
