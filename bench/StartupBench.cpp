// Start-up of the full demo to its first presented frame, headless on llvmpipe, step by
// step in the order RunEngine takes them: log and window, device, the ./data/ scan split
// into listing, shader compiles, texture loads and fonts, text overlay, World pipeline,
// logo shader, the demo scene (SRX import timed on its own as well, then LoadScene and the
// grid) and the first frame up to a finished read-back. Each run is a fresh process; the
// table gives the median over the runs (and the fastest).
//
// Usage: startup_bench [RUNS]   (default 7). Runs from a scratch directory whose ./data
// links to the repository's data. With the shader translation cache on (the default) every
// run but the first finds its translations there, so the medians are the warm figures;
// LUMARET_SHADER_CACHE=0 gives the cold ones (every shader translated).
#include "app/Demo.h"
#include "app/Log.h"
#include "app/Window.h"
#include "import/SrxScene.h"
#include "render/Renderer.h"
#include "render/ScreenQuadShaders.h"
#include "resources/DirectoryWalk.h"
#include "resources/FileUtil.h"
#include "resources/StartupPrefetch.h"
#include "resources/TextOverlay.h"
#include "scene/Camera.h"
#include "scene/World.h"
#include "ScratchDirectory.h"

#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

const char* const kStepNames[] = {
    "log and window",
    "device (Renderer::Init)",
    "data scan (LoadResources)",
    "text overlay",
    "World::InitPipeline",
    "logo shader",
    "SRX import (alone)",
    "LoadScene and grid",
    "first frame to read-back",
    "(second frame, for comparison)",
};
// The second frame is not part of start-up: it shows how much of the first frame is
// first-use cost in the driver (llvmpipe compiles each shader variant on its first draw).
constexpr int kStartupSteps = 9;
constexpr int kSteps = sizeof(kStepNames) / sizeof(kStepNames[0]);

// --ahead: as the engine starts, with the data folder's shaders and images prepared on a
// worker thread from the window's creation on; the device step then overlaps that work,
// and the scan's steps show only what is left to wait for.
bool gAhead = false;

double Now() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) * 1e-6;
}

// One start-up in this process; ms per step.
std::vector<double> StartOnce() {
    std::vector<double> ms(kSteps);
    int step = 0;
    double mark = Now();
    auto lap = [&] {
        double now = Now();
        ms[static_cast<size_t>(step++)] = now - mark;
        mark = now;
    };
    Log::Open();
    Window window;
    window.create(50, 50, 640, 480, 0, nullptr);
    std::unique_ptr<StartupPrefetch> ahead = gAhead ? std::make_unique<StartupPrefetch>("./data/") : nullptr;
    lap();
    gRenderer = new Renderer();
    gRenderer->Init(window.handle, DisplayModeDesc{640, 480, 0}, RendererSettings{true, true, 4, 1},
                    ClearColor | ClearDepth | ClearStencil);
    lap();
    // The scan as the engine runs it, with the work done ahead handed in where it starts.
    gRenderer->LoadResources(ahead.get());
    ahead.reset();
    lap();
    TextOverlay overlay;
    overlay.Setup(*gRenderer);
    lap();
    gWorld = new World();
    gWorld->InitPipeline();
    Light light;
    gWorld->lights.push_back(&light);
    lap();
    int logoShader = gRenderer->CreateShader(kScreenQuadVertexShader, kPassThroughPixelShader);
    int logoTexture = gRenderer->FindTexture("./data/lum_logo_256x64.png");
    lap();
    // The import alone, on a read of the file the OS has cached; LoadScene repeats it.
    {
        std::optional<std::vector<uint8_t>> bytes = ReadWholeFile("./data/cylcube01.srx");
        if (bytes) SrxScene scene(bytes->data(), bytes->size());
    }
    lap();
    std::vector<SceneObject*> cubes;
    SetupDemoScene(*gWorld, cubes);
    lap();
    Camera camera;
    camera.SetPerspective(60.0f, 4.0f / 3.0f, 1.0f, 2000.0f);
    camera.SetPosition(D3DXVECTOR3(2.0f, 2.0f, 2.0f));
    camera.SetTarget(D3DXVECTOR3(500.0f, 500.0f, 500.0f));
    AnimateDemo(0.0f, light, cubes);
    gRenderer->BeginScene();
    gRenderer->Clear(ClearColor | ClearDepth | ClearStencil, 0xFF404040, 0);
    gWorld->Render(&camera);
    QuadDesc logo{-1.0f / 640, 448.0f / 480, 128.0f / 640, 32.0f / 480, 0, 0, 1, 1, 0xFFFFFFFF};
    gRenderer->SetSamplerFlags(0, SamplerLinear | SamplerClamp);
    gRenderer->SetShader(logoShader);
    gRenderer->SetTexture(0, logoTexture);
    gRenderer->DrawQuads(&logo, 1);
    gRenderer->EndScene();
    gRenderer->Present();
    // A one-pixel read-back waits until the frame has been drawn.
    int pitch = 0;
    int target = gRenderer->CreateRenderTarget(PixelFormatA8R8G8B8, 1, 1, 0, true);
    gRenderer->LockRenderTarget(target, &pitch);
    gRenderer->UnlockRenderTarget(target);
    lap();
    AnimateDemo(1.0f / 60.0f, light, cubes);
    gRenderer->BeginScene();
    gRenderer->Clear(ClearColor | ClearDepth | ClearStencil, 0xFF404040, 0);
    gWorld->Render(&camera);
    gRenderer->DrawQuads(&logo, 1);
    gRenderer->EndScene();
    gRenderer->Present();
    gRenderer->LockRenderTarget(target, &pitch);
    gRenderer->UnlockRenderTarget(target);
    lap();
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 7;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--ahead")
            gAhead = true;
        else
            runs = std::atoi(argv[i]);
    }
    if (runs < 1) {
        std::fprintf(stderr, "usage: startup_bench [RUNS] [--ahead]\n");
        return 1;
    }
    EnterScratchDirectory("lumaret-startup-bench");
    std::vector<std::vector<double>> samples(kSteps);
    std::vector<double> totals;
    for (int run = 0; run < runs; ++run) {
        std::fflush(stdout);
        pid_t child = fork();
        if (child == 0) {
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            setenv("LUMARET_NO_MESSAGE_BOX", "1", 1);
            std::vector<double> ms = StartOnce();
            std::ofstream out("startup-bench-run.txt");
            for (double m : ms) out << m << "\n";
            out.close();
            std::_Exit(0);  // the figures are out; shutdown is not what is measured
        }
        int status = 0;
        waitpid(child, &status, 0);
        std::ifstream in("startup-bench-run.txt");
        double total = 0;
        for (int s = 0; s < kSteps; ++s) {
            double m = 0;
            if (!(in >> m) || !WIFEXITED(status)) {
                std::fprintf(stderr, "startup_bench: run %d failed\n", run);
                return 1;
            }
            samples[static_cast<size_t>(s)].push_back(m);
            if (s < kStartupSteps) total += m;
        }
        totals.push_back(total);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("start-up of the demo to its first frame, headless llvmpipe, %d fresh processes (ms)%s\n", runs,
                gAhead ? ", shaders and images prepared ahead" : "");
    std::printf("%-30s %9s %9s\n", "step", "median", "fastest");
    for (int s = 0; s < kSteps; ++s)
        std::printf("%-30s %9.1f %9.1f\n", kStepNames[s], median(samples[static_cast<size_t>(s)]),
                    *std::min_element(samples[static_cast<size_t>(s)].begin(), samples[static_cast<size_t>(s)].end()));
    std::printf("%-30s %9.1f %9.1f\n", "total (process main to frame)", median(totals),
                *std::min_element(totals.begin(), totals.end()));
    return 0;
}
