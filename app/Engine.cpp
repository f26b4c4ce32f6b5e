#include "app/Engine.h"

#include "app/Demo.h"
#include "app/FrameLoop.h"
#include "app/Log.h"
#include "render/PerfEvent.h"
#include "render/Renderer.h"
#include "render/ScreenQuadShaders.h"
#include "resources/FileUtil.h"
#include "resources/StartupPrefetch.h"
#include "resources/TextOverlay.h"
#include "scene/Camera.h"
#include "scene/World.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

Window gWindow;

namespace {

constexpr D3DCOLOR kBackgroundColor = 0xFF404040;

struct LogoQuad {
    QuadDesc quad;
    int shader = -1;
    int texture = -1;
};

TextOverlay gTextOverlay;
Camera gCamera;
Light gLight;

// The camera circles the vertical axis through x = z = 0 at radius 540, once every 4 pi
// seconds, its height swinging between 50 and 950, always looking at (500, 500, 500).
void OrbitCamera(Camera& camera, float seconds) {
    float a = seconds * 0.5f;
    camera.SetPosition(D3DXVECTOR3(540.0f * std::sin(a), 450.0f * std::cos(2.23f * std::sin(0.23f * a) + 0.5f) + 500.0f,
                                   540.0f * std::cos(a)));
}

// The 256 x 64 logo drawn at half size, 128 x 32 pixels, at the bottom-left corner, one
// pixel left of the edge.
LogoQuad BuildLogo(Renderer& renderer, const ScreenConfig& screen) {
    float w = static_cast<float>(screen.width), h = static_cast<float>(screen.height);
    LogoQuad logo;
    logo.quad = QuadDesc{-1.0f / w, (h - 32.0f) / h, 128.0f / w, 32.0f / h, 0.0f, 0.0f, 1.0f, 1.0f, 0xFFFFFFFF};
    logo.shader = renderer.CreateShader(kScreenQuadVertexShader, kPassThroughPixelShader, "logo");
    logo.texture = renderer.FindTexture("./data/lum_logo_256x64.png");
    return logo;
}

// Installed (PREFIX/bin/lumaret-engine) and started in a folder without ./data, the engine
// plays the demo from the files installed with it, PREFIX/share/lumaret/demo: the names
// stay "./data/...", only the files behind them change. A ./data of the working directory
// (a folder or anything else by that name) is used as before.
void UseInstalledDemoWithoutData() {
    std::error_code error;
    if (std::filesystem::exists("data", error) || error) return;
    char program[4096];
    DWORD length = GetModuleFileNameA(nullptr, program, sizeof(program));
    if (length == 0 || length >= sizeof(program)) return;
    std::filesystem::path demo =
        std::filesystem::path(program).parent_path().parent_path() / "share" / "lumaret" / "demo";
    if (!std::filesystem::is_directory(demo, error)) return;
    SetDataFolder(demo.string());
    Log::Write("Engine: no ./data in the working directory; the demo's files come from %s\n", demo.string().c_str());
}

}  // namespace

void KeepLargeAllocationsInHeap() {
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
}

int RunEngine(const ScreenConfig& screen) {
    // Start-up. The data folder's shaders and images are prepared on a worker thread while
    // the device is created (after the window, whose creation checks the settings and may
    // end the run).
    Log::Open();
    UseInstalledDemoWithoutData();
    gWindow.create(50, 50, screen.width, screen.height, screen.fullscreen ? 0 : 1, nullptr);
    FrameLoop::CheckSettings();
    auto prefetch = std::make_unique<StartupPrefetch>("./data/");
    RendererSettings settings;
    settings.fullscreen = screen.fullscreen;
    settings.vsync = true;
    settings.multisample = 4;
    settings.anisotropy = 1;
    gRenderer = new Renderer();
    gRenderer->Init(gWindow.handle, DisplayModeDesc{screen.width, screen.height, 0}, settings,
                    ClearColor | ClearDepth | ClearStencil);
    gRenderer->LoadResources(prefetch.get());
    prefetch.reset();
    gTextOverlay.Setup(*gRenderer);
    gWorld = new World();
    gWorld->InitPipeline();
    gLight.position = D3DXVECTOR3(100.0f, 100.0f, 100.0f);
    gLight.color = D3DXVECTOR3(1.0f, 0.994f, 0.991f);
    gWorld->lights.push_back(&gLight);
    LogoQuad logo = BuildLogo(*gRenderer, screen);
    std::vector<SceneObject*> cubes;
    SetupDemoScene(*gWorld, cubes);
    gCamera.SetPerspective(60.0f, 4.0f / 3.0f, 1.0f, 2000.0f);
    gCamera.SetPosition(D3DXVECTOR3(2.0f, 2.0f, 2.0f));
    gCamera.SetTarget(D3DXVECTOR3(500.0f, 500.0f, 500.0f));
    FrameLoop loop(gWindow, gCamera, gTextOverlay, screen.width, screen.height, kBackgroundColor);
    loop.update = [&](const FrameTimer& timer) {
        OrbitCamera(gCamera, timer.time);
        AnimateDemo(2.0f * timer.time, gLight, cubes);
    };
    loop.drawOverlays = [&] {
        PerfEvent event(L"Logo");
        gRenderer->SetSamplerFlags(0, SamplerLinear | SamplerClamp);
        gRenderer->SetShader(logo.shader);
        gRenderer->SetTexture(0, logo.texture);
        gRenderer->DrawQuads(&logo.quad, 1);
    };
    loop.Run();

    // Shutdown: the demo's cube list, then the World, then the Renderer.
    cubes.clear();
    cubes.shrink_to_fit();
    Log::Write("Shutting down...\n");
    if (gWorld) {
        delete gWorld;
        gWorld = nullptr;
    }
    delete gRenderer;
    gRenderer = nullptr;
    return 0;
}
