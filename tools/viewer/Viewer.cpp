// viewer: any SRX scene through the engine's own pipeline (the World's three passes and
// PostFX), with the file's images found next to it, the model framed in a 640 x 480
// window, one light, and the animation playing. The camera orbits the model; Escape or
// closing the window ends the program. Headless runs stop after LUMARET_HEADLESS_FRAMES
// frames and save LUMARET_SCREENSHOT, as the engine's do.
//
// Start-up follows the engine's own order (log, window, renderer, resources, world and
// pipeline, light, scene, camera, timer); the model's images are registered just before
// the ./data/ scan, which still provides the pass shaders and default images.
#include "ViewerScene.h"

#include "app/FrameTimer.h"
#include "app/Log.h"
#include "app/MessagePump.h"
#include "app/Window.h"
#include "common/ToolExitStatus.h"
#include "import/SrxScene.h"
#include "render/Renderer.h"
#include "resources/FileUtil.h"
#include "scene/Camera.h"
#include "scene/World.h"

#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr D3DCOLOR kBackgroundColor = 0xFF404040;
constexpr float kOrbitSpeed = 0.4f;  // radians per second

Window gViewerWindow;

void PrintUsage(FILE* out) {
    std::fputs(
        "usage: viewer [--still] FILE.srx\n"
        "\n"
        "Shows an SRX scene through the engine's renderer: 640 x 480, one light, the\n"
        "animation playing, the camera circling the model. The scene's images are read\n"
        "from the directory of FILE.srx; the engine's shaders and default images from\n"
        "./data/ of the working directory. Escape or closing the window ends it.\n"
        "Everything after the options is the file name, spaces included.\n"
        "\n"
        "  --still   keep the camera at its first position\n"
        "  --help    print this text\n"
        "\n"
        "Without a display it runs headless: LUMARET_HEADLESS_FRAMES frames, the last one\n"
        "saved to LUMARET_SCREENSHOT (see the README).\n"
        "\n"
        "Exit status: 0 shown, 1 usage error, 2 the file cannot be read, 3 the file holds\n"
        "no meshes or would stop the engine.\n",
        out);
}

struct Arguments {
    bool help = false;
    bool still = false;
    std::string path;
    std::string error;
};

// The platform joins the program's arguments with single spaces into one command line, as
// Windows hands it over: leading options, then the file name as the rest of the line.
Arguments ParseCommandLine(const std::string& commandLine) {
    Arguments args;
    std::string rest = commandLine;
    while (rest.rfind("--", 0) == 0) {
        size_t space = rest.find(' ');
        std::string option = rest.substr(0, space);
        rest = space == std::string::npos ? std::string() : rest.substr(space + 1);
        if (option == "--help") {
            args.help = true;
        } else if (option == "--still") {
            args.still = true;
        } else {
            args.error = "unknown option " + option;
            return args;
        }
    }
    if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"') rest = rest.substr(1, rest.size() - 2);
    args.path = rest;
    if (!args.help && args.path.empty()) args.error = "needs an SRX file";
    return args;
}

int Run(const Arguments& args) {
    std::optional<std::vector<uint8_t>> file = ReadWholeFile(args.path);
    if (!file) {
        std::fprintf(stderr, "viewer: cannot read %s\n", args.path.c_str());
        return ExitUnreadable;
    }
    // The import runs before the log starts, so that the log keeps LoadScene's account
    // only: the framing needs the scene's extent and the images it names, and a file that
    // would stop the engine is refused here with its reason instead.
    auto scene = std::make_unique<SrxScene>(file->data(), file->size(), MissingPrimitive::EndImport);
    file.reset();
    if (!scene->importError.empty()) {
        std::fprintf(stderr, "viewer: %s would stop the engine: %s\n", args.path.c_str(), scene->importError.c_str());
        return ExitUnusable;
    }
    viewer::Bounds bounds = viewer::SceneBounds(*scene);
    if (bounds.empty) {
        std::fprintf(stderr, "viewer: %s holds no meshes the engine draws\n", args.path.c_str());
        return ExitUnusable;
    }

    Log::Open();
    gViewerWindow.create(50, 50, kWidth, kHeight, 1, nullptr);
    RendererSettings settings;
    settings.fullscreen = false;
    settings.vsync = true;
    settings.multisample = 4;
    settings.anisotropy = 1;
    gRenderer = new Renderer();
    gRenderer->Init(gViewerWindow.handle, DisplayModeDesc{kWidth, kHeight, 0}, settings,
                    ClearColor | ClearDepth | ClearStencil);
    Log::Write("Viewer: %s, extent (%.3f, %.3f, %.3f) (%.3f, %.3f, %.3f)\n", args.path.c_str(), bounds.min.x,
               bounds.min.y, bounds.min.z, bounds.max.x, bounds.max.y, bounds.max.z);
    for (const std::string& key : viewer::RegisterModelTextures(*gRenderer, *scene, args.path))
        Log::Write("Viewer: image %s\n", key.c_str());
    scene.reset();
    gRenderer->LoadResources();
    gWorld = new World();
    gWorld->InitPipeline();
    gWorld->clearColor = kBackgroundColor;
    gWorld->postFactor = 0.025f;
    Light light;
    light.position = viewer::LightPosition(0.0f);
    gWorld->lights.push_back(&light);
    Zone* zone = gWorld->CreateZone("viewer");
    SceneObject* object = gWorld->CreateObject("model");
    gWorld->LoadScene(object, args.path);
    object->world = viewer::FramingMatrix(bounds);
    zone->AddObject(object);
    Camera camera;
    camera.SetPerspective(60.0f, 4.0f / 3.0f, 1.0f, 2000.0f);
    camera.SetPosition(viewer::OrbitPosition(0.0f));
    camera.SetTarget(D3DXVECTOR3(0.0f, 0.0f, 0.0f));
    FrameTimer timer;
    timer.Start();

    while (gViewerWindow.KeyState[VK_ESCAPE] == 0) {
        if (!PumpOneMessage()) break;
        timer.Update();
        float angle = args.still ? 0.0f : kOrbitSpeed * timer.time;
        camera.SetPosition(viewer::OrbitPosition(angle));
        light.position = viewer::LightPosition(angle);
        gRenderer->BeginScene();
        gRenderer->Clear(ClearColor | ClearDepth | ClearStencil, kBackgroundColor, 0);
        gWorld->Render(&camera);
        gRenderer->EndScene();
        gRenderer->Present();
    }

    Log::Write("Shutting down...\n");
    delete gWorld;
    gWorld = nullptr;
    delete gRenderer;
    gRenderer = nullptr;
    return ExitOk;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    Arguments args = ParseCommandLine(commandLine ? commandLine : "");
    if (!args.error.empty()) {
        std::fprintf(stderr, "viewer: %s (see --help)\n", args.error.c_str());
        return ExitUsage;
    }
    if (args.help) {
        PrintUsage(stdout);
        return ExitOk;
    }
    return Run(args);
}
