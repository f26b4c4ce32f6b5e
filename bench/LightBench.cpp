// The light pass under many lights: the demo's model in its 5 x 5 x 5 grid, headless on
// llvmpipe at 640 x 480, under N point lights scattered through the grid, each given the
// largest range whose screen rectangle covers at most 1/A of the screen, drawn bounded
// (one draw of per-light rectangles, PassLightBounded.hlsl) or each over the whole screen
// (PassLight.hlsl, World::boundLights off); beside it the grid under no light and under the
// demo's one light (no range: a full-screen quad).
//
// Each figure is the difference of a short and a long run in child processes, so that
// start-up, the first frames' shader work and shutdown cancel out: the frame's wall time
// (nothing timed inside it), and the light pass's own time from the layer's pass timer
// with the device finished at the pass's edges (LUMARET_PASS_TIMES, LUMARET_PASS_SYNC):
// wall time, and the device's GL_TIME_ELAPSED.
//
// Usage: light_bench [--frames SHORT LONG]
#include "app/Log.h"
#include "app/Window.h"
#include "render/Renderer.h"
#include "scene/Camera.h"
#include "scene/LightBounds.h"
#include "scene/World.h"
#include "BenchEngine.h"
#include "ScratchDirectory.h"

#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 640, kHeight = 480;

struct Config {
    const char* name;
    int lights;      // -1: the demo's light; 0: none
    int share;       // each light's rectangle covers at most 1/share of the screen
    bool bounded;
};

double Seconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Lights scattered through the grid, each with the largest range (up to 300 units) whose
// rectangle covers at most 1/share of the screen; lights that reach no pixel are skipped.
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
        if (low < 1.0f || !LightScreenRect(centre, low, projection, kWidth, kHeight, &rect)) continue;
        light.range = low;
        lights.push_back(light);
    }
    return lights;
}

// One run in this (child) process: the grid, the lights, `frames` frames. Writes the
// frames' wall seconds and the share of the screen the bounded rectangles cover.
void RunGrid(const Config& config, int frames, const char* figures) {
    Window window;
    StartBenchEngine(window, kWidth, kHeight);
    Zone* zone = gWorld->CreateZone("zone");
    SceneObject* scene = gWorld->CreateObject("scene");
    gWorld->LoadScene(scene, "./data/cylcube01.srx");
    for (int i = 0; i < 125; ++i) {
        SceneObject* object = i == 0 ? scene : gWorld->CreateObject("cube");
        object->renderables = scene->renderables;
        D3DXMatrixTranslation(&object->world, 233.0f * static_cast<float>(i / 25), 233.0f * static_cast<float>(i / 5 % 5),
                              233.0f * static_cast<float>(i % 5));
        zone->AddObject(object);
    }
    Camera camera;
    camera.SetPerspective(60.0f, 4.0f / 3.0f, 1.0f, 2000.0f);
    camera.SetPosition(D3DXVECTOR3(-300, 700, -500));
    camera.SetTarget(D3DXVECTOR3(500, 500, 500));
    std::vector<Light> lights;
    if (config.lights < 0) {
        lights.emplace_back().position = D3DXVECTOR3(0, 500, 400);
    } else {
        lights = ScatterLights(config.lights, config.share, camera);
    }
    for (Light& light : lights) gWorld->lights.push_back(&light);
    gWorld->boundLights = config.bounded;

    double start = Seconds();
    for (int i = 0; i < frames; ++i) {
        gRenderer->BeginScene();
        gRenderer->Clear(ClearColor | ClearDepth | ClearStencil, 0xFF404040, 0);
        gWorld->Render(&camera);
        gRenderer->EndScene();
        gRenderer->Present();
    }
    double wall = Seconds() - start;
    double screens = static_cast<double>(gWorld->lightStats.boundedPixels) / (kWidth * kHeight);
    std::ofstream(figures) << wall << " " << screens << "\n";
    delete gWorld;
    gWorld = nullptr;
    delete gRenderer;
    gRenderer = nullptr;
    window.destroy();
}

struct RunFigures {
    double wall = 0, screens = 0;
    double lightPassMs = 0, lightPassGlMs = 0;  // the pass timer's totals: wall, and GL_TIME_ELAPSED
};

RunFigures RunChild(const Config& config, int frames, bool timePasses) {
    const char* figures = "light-bench-run.txt";
    const char* passes = "light-bench-passes.txt";
    std::remove(figures);
    std::remove(passes);
    std::fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        setenv("LUMARET_NO_MESSAGE_BOX", "1", 1);
        if (timePasses) {
            setenv("LUMARET_PASS_TIMES", passes, 1);
            setenv("LUMARET_PASS_SYNC", "1", 1);
        } else {
            unsetenv("LUMARET_PASS_TIMES");
            unsetenv("LUMARET_PASS_SYNC");
        }
        RunGrid(config, frames, figures);
        std::exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    RunFigures run;
    std::ifstream in(figures);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !(in >> run.wall >> run.screens)) {
        std::fprintf(stderr, "light_bench: the run of %s failed (status %d)\n", config.name, status);
        std::exit(1);
    }
    if (timePasses) {
        // The table: name, depth, count, wall, CPU, GL ms; the synchronised wall is the pass's own.
        std::ifstream table(passes);
        std::string line;
        while (std::getline(table, line)) {
            std::istringstream fields(line);
            std::string name;
            std::getline(fields, name, '\t');
            double depth = 0, count = 0, wall = 0, cpu = 0, gl = 0;
            if (name == "Light pass" && fields >> depth >> count >> wall >> cpu >> gl) {
                run.lightPassMs = wall;
                run.lightPassGlMs = gl;
            }
        }
    }
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    int shortRun = 5, longRun = 25;
    if (argc == 4 && std::strcmp(argv[1], "--frames") == 0) {
        shortRun = std::atoi(argv[2]);
        longRun = std::atoi(argv[3]);
    } else if (argc != 1) {
        std::fprintf(stderr, "usage: light_bench [--frames SHORT LONG]\n");
        return 1;
    }
    if (shortRun < 1 || longRun <= shortRun) {
        std::fprintf(stderr, "light_bench: --frames needs 1 <= SHORT < LONG\n");
        return 1;
    }
    EnterScratchDirectory("lumaret-light-bench");
    const Config configs[] = {
        {"no light", 0, 1, true},
        {"the demo's light (full screen)", -1, 1, true},
        {"1 light, 1/64 screen, bounded", 1, 64, true},
        {"16 lights, 1/64 screen, bounded", 16, 64, true},
        {"16 lights, 1/64 screen, full screen", 16, 64, false},
        {"128 lights, 1/64 screen, bounded", 128, 64, true},
        {"128 lights, 1/64 screen, full screen", 128, 64, false},
        {"128 lights, 1/16 screen, bounded", 128, 16, true},
        {"1024 lights, 1/256 screen, bounded", 1024, 256, true},
        {"1024 lights, 1/64 screen, bounded", 1024, 64, true},
    };
    double frames = longRun - shortRun;
    std::printf("the demo's grid at %dx%d, headless llvmpipe, frames %d..%d; ms per steady-state frame\n", kWidth,
                kHeight, shortRun, longRun);
    std::printf("%-40s %9s %13s %10s %14s %9s\n", "lights", "frame ms", "light pass ms", "GL ms", "us per light",
                "screens");
    for (const Config& config : configs) {
        RunFigures a = RunChild(config, shortRun, false), b = RunChild(config, longRun, false);
        RunFigures pa = RunChild(config, shortRun, true), pb = RunChild(config, longRun, true);
        double frameMs = (b.wall - a.wall) / frames * 1e3;
        double passMs = (pb.lightPassMs - pa.lightPassMs) / frames;
        double glMs = (pb.lightPassGlMs - pa.lightPassGlMs) / frames;
        int count = config.lights < 0 ? 1 : config.lights;
        std::printf("%-40s %9.2f %13.2f %10.2f %14.1f %9.2f\n", config.name, frameMs, passMs, glMs,
                    count > 0 ? passMs * 1e3 / count : 0.0, b.screens);
    }
    return 0;
}
