// viewer: any model through the engine's own pipeline (the World's three passes and
// PostFX): an SRX file with its images found next to it, or any file Assimp reads,
// converted in memory by srxconvert's own code (nothing is written). The model is framed
// in a 640 x 480 window, lit by a key and a fill light that turn with the camera
// (ViewerLighting.h), its animation playing; the mouse
// turns, zooms and pans, keys pause, step and switch animations. Escape or closing the
// window ends the program. Headless runs stop after LUMARET_HEADLESS_FRAMES frames and save
// LUMARET_SCREENSHOT, as the engine's do (--frames and --screenshot set them).
//
// Start-up follows the engine's own order (log, window, renderer, resources, world and
// pipeline, light, scene, camera), then the engine's frame loop; the model's images are
// registered just before the ./data/ scan, which still provides the pass shaders and the
// default images: from the viewer's own data folder (ViewerData.h), never the working
// directory's.
#include "ViewerData.h"
#include "ViewerLighting.h"
#include "ViewerScene.h"

#include "Conversion.h"
#include "app/Engine.h"
#include "app/FrameLoop.h"
#include "app/Log.h"
#include "app/Window.h"
#include "common/ToolExitStatus.h"
#include "import/SrxScene.h"
#include "render/Renderer.h"
#include "resources/FileUtil.h"
#include "resources/StartupPrefetch.h"
#include "resources/TextOverlay.h"
#include "scene/Camera.h"
#include "scene/World.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <tuple>

namespace {

// The pass shaders rebuild positions for an aspect of 4/3, so every size keeps it.
constexpr int kDefaultWidth = 640, kDefaultHeight = 480;
constexpr int kMinWidth = 160, kMaxWidth = 4096;
constexpr D3DCOLOR kBackgroundColor = 0xFF404040;
constexpr float kOrbitSpeed = 0.4f;      // radians per second, until the user takes the camera
constexpr float kTicksPerFrame = 24.0f;  // the engine's own step of the animation clock
constexpr int kKeyPeriod = VK_OEM_PERIOD;

Window gViewerWindow;

void PrintUsage(FILE* out) {
    std::fputs(
        "usage: viewer [OPTIONS] FILE\n"
        "\n"
        "Shows a model through the engine's renderer (640 x 480, or --size): an SRX file, with its\n"
        "images read from its directory, or any file Assimp reads (glTF/GLB, FBX, Collada,\n"
        "DirectX .x, OBJ, 3DS, PLY, B3D, ...), converted in memory as srxconvert would and\n"
        "with its images found beside it or inside it. The engine's shaders, font and default\n"
        "images come from data/ beside the program or, installed, from ../share/lumaret/data;\n"
        "the working directory only receives log.txt. At start the model fills about\n"
        "three quarters of the view, its animation plays and the camera circles it.\n"
        "Everything after the options is the file name, spaces included.\n"
        "\n"
        "  --animation N      play the file's animation N, from 0 (default: the first)\n"
        "  --still            keep the camera at its first position\n"
        "  --frames N         stop after N frames, headless or not (LUMARET_HEADLESS_FRAMES)\n"
        "  --screenshot FILE  run headless and save the last frame as a PNG (LUMARET_SCREENSHOT)\n"
        "  --size WxH         render at another 4:3 size (default 640x480)\n"
        "  --up x|y|z         the file's up axis (default: its metadata, else y; STL, Q3D\n"
        "                     and Blender exports are usually z)\n"
        "  --root DIR         let the model also name files inside DIR (default: only files\n"
        "                     inside its own folder; see srxconvert --help)\n"
        "  --help             print this text\n"
        "\n"
        "In the window: left-drag turns the camera around the model, the wheel zooms,\n"
        "right- or middle-drag pans, R frames the model again; 1, 3 and 7 look from the\n"
        "front, the side and the top; U turns the up axis (y, z, x); Space pauses and resumes the\n"
        "animation, . steps one frame while paused, N and P switch to the next and previous\n"
        "animation of the file; F1 shows the frame statistics; Escape ends. The light\n"
        "follows the camera.\n"
        "\n"
        "Without a display it runs headless: LUMARET_HEADLESS_FRAMES frames, the last one\n"
        "saved to LUMARET_SCREENSHOT (see the README).\n"
        "\n"
        "Exit status: 0 shown, 1 usage error, 2 the file (Assimp's reason follows) or the\n"
        "viewer's own data cannot be read, 3 the file holds nothing to draw or would stop\n"
        "the engine.\n",
        out);
}

struct Arguments {
    bool help = false;
    bool still = false;
    int animation = -1;
    std::string frames;
    std::string screenshot;
    std::string root;
    int width = kDefaultWidth, height = kDefaultHeight;
    char up = 0;  // 0: from the file's metadata, else y
    std::string path;
    std::string error;
};

bool ParseCount(const std::string& text, long low, long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && errno == 0 && *end == '\0' && value >= low && value <= 100000000;
}

// The platform joins the program's arguments with single spaces into one command line, as
// Windows hands it over: leading options (a value as the next word), then the file name as
// the rest of the line.
Arguments ParseCommandLine(const std::string& commandLine) {
    Arguments args;
    std::string rest = commandLine;
    auto nextWord = [&rest] {
        size_t space = rest.find(' ');
        std::string word = rest.substr(0, space);
        rest = space == std::string::npos ? std::string() : rest.substr(space + 1);
        return word;
    };
    while (rest.rfind("--", 0) == 0) {
        std::string option = nextWord();
        long value = 0;
        if (option == "--help") {
            args.help = true;
        } else if (option == "--still") {
            args.still = true;
        } else if (option == "--animation") {
            if (!ParseCount(nextWord(), 0, value)) return args.error = "--animation needs a number from 0", args;
            args.animation = static_cast<int>(value);
        } else if (option == "--frames") {
            args.frames = nextWord();
            if (!ParseCount(args.frames, 1, value)) return args.error = "--frames needs a number from 1", args;
        } else if (option == "--size") {
            int width = 0, height = 0;
            char end = 0;
            std::string size = nextWord();
            if (std::sscanf(size.c_str(), "%dx%d%c", &width, &height, &end) != 2 || width * 3 != height * 4 ||
                width < kMinWidth || width > kMaxWidth)
                return args.error = "--size needs WIDTHxHEIGHT at 4:3, from 160x120 to 4096x3072", args;
            args.width = width;
            args.height = height;
        } else if (option == "--up") {
            std::string axis = nextWord();
            if (axis != "x" && axis != "y" && axis != "z") return args.error = "--up needs x, y or z", args;
            args.up = axis[0];
        } else if (option == "--root") {
            args.root = nextWord();
            if (!std::filesystem::is_directory(args.root)) return args.error = "--root needs a directory", args;
        } else if (option == "--screenshot") {
            args.screenshot = nextWord();
            if (args.screenshot.empty()) return args.error = "--screenshot needs a PNG file name", args;
        } else {
            args.error = "unknown option " + option;
            return args;
        }
    }
    if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"') rest = rest.substr(1, rest.size() - 2);
    args.path = rest;
    if (!args.help && args.path.empty()) args.error = "needs a model file";
    return args;
}

bool IsSrx(const std::string& path) {
    std::string extension = FileExtension(path);
    LowercaseInPlace(extension);
    return extension == "srx";
}

// The model as the engine will load it: SRX bytes, and for a converted model the images
// and the source, kept to convert again with another animation.
struct Model {
    std::vector<uint8_t> srx;
    std::vector<srxconvert::ModelImage> images;
    std::unique_ptr<srxconvert::ModelSource> source;
    int animation = 0;
    int animations = 1;
    std::string animationName;
    // What the viewer changed or cannot show, for the log (which opens later) and stderr;
    // the first notesSaid of them have been said.
    std::vector<std::string> notes;
    size_t notesSaid = 0;
};

void SayNotes(Model& model) {
    for (; model.notesSaid < model.notes.size(); ++model.notesSaid) {
        const std::string& note = model.notes[model.notesSaid];
        Log::Write("Model: %s\n", note.c_str());
        std::fprintf(stderr, "viewer: %s\n", note.c_str());
    }
}

struct Failure {
    int status = ExitOk;
    std::string message;
};

Failure ConvertAnimation(Model& model, const std::string& path, int animation) {
    srxconvert::ConvertOptions options = viewer::ViewerConvertOptions(animation);
    srxconvert::ConvertReport report;
    srxconvert::ConvertedModel converted;
    srxconvert::ConvertResult result = srxconvert::ConvertModel(
        *model.source, std::filesystem::path(path).stem().string(), options, report, converted);
    switch (result.status) {
        case srxconvert::ConvertStatus::Ok: break;
        case srxconvert::ConvertStatus::NoSuchAnimation: return {ExitUsage, result.message};
        default: return {ExitUnusable, path + " holds nothing to draw: " + result.message};
    }
    // What the conversion lost or left out, as srxconvert would say it: each line once,
    // however often the user switches animations.
    for (const std::string& warning : report.warnings)
        if (std::find(model.notes.begin(), model.notes.end(), warning) == model.notes.end())
            model.notes.push_back(warning);
    model.srx = std::move(converted.srx);
    model.images = std::move(converted.images);
    model.animation = std::max(animation, 0);
    model.animationName = report.animationName;
    for (const std::string& mesh : report.turnedNormals) {
        std::string note = "mesh '" + mesh + "' has normals pointing inward; they are turned out";
        if (std::find(model.notes.begin(), model.notes.end(), note) == model.notes.end()) model.notes.push_back(note);
    }
    return {};
}

Failure ReadModel(const std::string& path, int animation, const std::string& root, Model& model) {
    if (IsSrx(path)) {
        std::string why;
        std::optional<std::vector<uint8_t>> file = ReadWholeFile(path, &why);
        if (!file) return {ExitUnreadable, "cannot read " + path + (why.empty() ? "" : ": " + why)};
        if (animation > 0) return {ExitUsage, "--animation " + std::to_string(animation) + ": an SRX file holds one"};
        model.srx = std::move(*file);
        return {};
    }
    model.source = std::make_unique<srxconvert::ModelSource>();
    std::string error;
    if (!model.source->Read(path, error, root)) return {ExitUnreadable, "cannot read " + path + ": " + error};
    model.animations = std::max(1u, model.source->Scene().mNumAnimations);
    return ConvertAnimation(model, path, animation);
}

// The user's hold on the view through the mouse: drags and the wheel.
class ViewControls {
public:
    ViewControls(Window& window, int viewHeight) : window_(window), viewHeight_(viewHeight) {}

    // Applies this frame's drags and wheel to the view; true once the user has moved it.
    bool Move(viewer::OrbitView& view) {
        // The window keeps positions as Win32's unsigned 16-bit words, which wrap left of and
        // above the client area while a drag holds the mouse: the difference, as a signed
        // word, is the motion either way.
        int dx = static_cast<int16_t>(static_cast<uint16_t>(window_.mouseX - lastX_));
        int dy = static_cast<int16_t>(static_cast<uint16_t>(window_.mouseY - lastY_));
        lastX_ = window_.mouseX;
        lastY_ = window_.mouseY;
        uint32_t buttons = window_.MouseButtons;
        // The motion since the last frame is a drag when a button was down then: the
        // release message carries the last stretch of it, and the press message's
        // position is where the drag starts, not part of it.
        bool moved = false;
        if (lastButtons_ & 1u) {
            view.Orbit(static_cast<float>(dx), static_cast<float>(dy));
            moved = dx != 0 || dy != 0;
        } else if (lastButtons_ & 6u) {
            view.Pan(static_cast<float>(dx), static_cast<float>(dy), viewHeight_);
            moved = dx != 0 || dy != 0;
        }
        if (int notches = window_.wheel / WHEEL_DELTA) {
            window_.wheel -= notches * WHEEL_DELTA;
            view.Zoom(static_cast<float>(notches));
            LogView("zoom", view);
            moved = true;
        }
        if (buttons == 0 && lastButtons_ != 0) LogView(lastButtons_ & 1u ? "orbit" : "pan", view);
        lastButtons_ = buttons;
        return moved;
    }

    static void LogView(const char* what, const viewer::OrbitView& view) {
        Log::Write("Viewer: %s: yaw %.3f pitch %.3f distance %.1f target (%.1f, %.1f, %.1f)\n", what, view.yaw,
                   view.pitch, view.distance, view.target.x, view.target.y, view.target.z);
    }

private:
    Window& window_;
    int viewHeight_;
    int lastX_ = 0, lastY_ = 0;
    uint32_t lastButtons_ = 0;
};

int Run(const Arguments& args) {
    Model model;
    if (Failure failure = ReadModel(args.path, args.animation, args.root, model); failure.status != ExitOk) {
        std::fprintf(stderr, "viewer: %s\n", failure.message.c_str());
        return failure.status;
    }
    // The import runs before the log starts, so that the log keeps LoadScene's account
    // only: the framing needs the scene's poses and the images it names, and a file
    // that would stop the engine is refused here with its reason instead.
    auto scene = std::make_unique<SrxScene>(model.srx.data(), model.srx.size(), MissingPrimitive::EndImport);
    if (!scene->importError.empty()) {
        std::fprintf(stderr, "viewer: %s would stop the engine: %s\n", args.path.c_str(), scene->importError.c_str());
        return ExitUnusable;
    }
    std::vector<D3DXVECTOR3> points = viewer::FramingPoints(viewer::AnimatedPoses(*scene));
    viewer::Bounds bounds = viewer::BoundsOf(points);
    if (bounds.empty) {
        std::fprintf(stderr, "viewer: %s holds no meshes the engine draws\n", args.path.c_str());
        return ExitUnusable;
    }

    Log::Open();
    const int width = args.width, height = args.height;
    gViewerWindow.create(50, 50, width, height, 1, nullptr);
    SetWindowTextA(gViewerWindow.handle, ("Lumaret viewer - " + std::filesystem::path(args.path).filename().string()).c_str());
    // As in the engine: ./data/'s shaders and images are prepared while the device is created.
    auto prefetch = std::make_unique<StartupPrefetch>("./data/");
    RendererSettings settings;
    settings.fullscreen = false;
    settings.vsync = true;
    settings.multisample = 4;
    settings.anisotropy = 1;
    gRenderer = new Renderer();
    gRenderer->Init(gViewerWindow.handle, DisplayModeDesc{width, height, 0}, settings,
                    ClearColor | ClearDepth | ClearStencil);
    Log::Write("Viewer: %s, extent (%.3f, %.3f, %.3f) (%.3f, %.3f, %.3f)\n", args.path.c_str(), bounds.min.x,
               bounds.min.y, bounds.min.z, bounds.max.x, bounds.max.y, bounds.max.z);
    std::vector<viewer::RegisteredImage> keys;
    if (model.source) {
        std::vector<viewer::NamedImage> images;
        for (const srxconvert::ModelImage& image : model.images)
            images.push_back({image.name, &image.bytes, image.source});
        keys = viewer::RegisterImages(*gRenderer, images);
    } else {
        keys = viewer::RegisterModelTextures(*gRenderer, *scene, args.path);
    }
    // The key is the name the engine looks the image up by; the source is where it really is.
    for (const viewer::RegisteredImage& key : keys)
        Log::Write("Viewer: image %s from %s\n", key.key.c_str(), key.source.c_str());
    SayNotes(model);
    scene.reset();
    gRenderer->LoadResources(prefetch.get());
    prefetch.reset();
    TextOverlay text;
    text.Setup(*gRenderer);
    gWorld = new World();
    gWorld->InitPipeline();
    gWorld->clearColor = kBackgroundColor;
    gWorld->postFactor = 0.025f;
    viewer::ViewerLights lights;
    gWorld->lights.push_back(&lights.key);
    gWorld->lights.push_back(&lights.fill);
    Zone* zone = gWorld->CreateZone("viewer");
    viewer::UpAxis up;
    if (args.up) {
        up.axis = args.up;
    } else if (model.source) {
        int sign = 1;
        if (char axis = model.source->UpAxis(sign)) up = {axis, sign};
    }
    // The points stood upright, then framed; the object's matrix does both.
    auto frameUpright = [&points](viewer::UpAxis axis) {
        D3DXMATRIX rotation = viewer::UpRotation(axis);
        std::vector<D3DXVECTOR3> upright(points.size());
        for (size_t i = 0; i < points.size(); ++i) D3DXVec3TransformCoord(&upright[i], &points[i], &rotation);
        viewer::Framing framing = viewer::FrameModel(upright, viewer::OrbitView());
        D3DXMatrixMultiply(&framing.world, &rotation, &framing.world);
        return framing;
    };
    viewer::Framing framing = frameUpright(up);
    if (up.axis != 'y' || up.sign < 0)
        Log::Write("Viewer: up axis %s%c (%s)\n", up.sign < 0 ? "-" : "", up.axis, args.up ? "--up" : "the file's");
    // One object per animation shown so far; the zone draws the first of the world's list.
    std::vector<SceneObject*> objects(static_cast<size_t>(model.animations), nullptr);
    auto showAnimation = [&](int index) {
        SceneObject*& object = objects[static_cast<size_t>(index)];
        if (!object) {
            object = gWorld->CreateObject("model");
            gWorld->LoadScene(object, args.path, model.srx.data(), model.srx.size());
            object->world = framing.world;
        }
        auto at = std::find(gWorld->objects.begin(), gWorld->objects.end(), object);
        std::iter_swap(gWorld->objects.begin(), at);
        ResetAnimationClock();
    };
    showAnimation(model.animation);
    zone->AddObject(objects[static_cast<size_t>(model.animation)]);

    viewer::OrbitView start = framing.view;
    viewer::OrbitView view = start;
    Log::Write("Viewer: framed at distance %.1f, filling %.2f of the view\n", view.distance, framing.fill);
    Camera camera;
    camera.SetPerspective(viewer::kFieldOfViewDegrees, viewer::kAspect, viewer::kNear, viewer::kFar);

    ViewControls controls(gViewerWindow, height);
    bool userMoved = args.still;
    bool paused = false;
    std::vector<QuadVertex> hudVertices;
    FrameLoop loop(gViewerWindow, camera, text, width, height, kBackgroundColor);
    loop.update = [&](const FrameTimer& timer) {
        if (controls.Move(view)) userMoved = true;
        if (loop.KeyPressed('R')) {
            view = start;
            userMoved = true;
            ViewControls::LogView("reset", view);
        }
        if (loop.KeyPressed('U')) {
            up = viewer::NextUpAxis(up);
            framing = frameUpright(up);
            for (SceneObject* object : objects)
                if (object) object->world = framing.world;
            view = start = framing.view;
            userMoved = true;
            Log::Write("Viewer: up axis %c\n", up.axis);
        }
        // Front, side and top, as on a numeric keypad; the distance and target stay.
        for (auto [key, name, yaw, pitch] : {std::tuple('1', "front", 0.0f, 0.0f),
                                             std::tuple('3', "side", 1.57079633f, 0.0f),
                                             std::tuple('7', "top", 0.0f, 1.45f)})
            if (loop.KeyPressed(key)) {
                view.yaw = yaw;
                view.pitch = pitch;
                userMoved = true;
                ViewControls::LogView(name, view);
            }
        if (!userMoved) view.yaw = kOrbitSpeed * timer.time;
        bool step = false;
        if (loop.KeyPressed(VK_SPACE)) {
            paused = !paused;
            Log::Write("Viewer: %s at tick %.0f\n", paused ? "paused" : "playing", AnimationTime());
        }
        if (loop.KeyPressed(kKeyPeriod) && paused) {
            step = true;
            Log::Write("Viewer: step from tick %.0f\n", AnimationTime());
        }
        bool next = loop.KeyPressed('N'), previous = loop.KeyPressed('P');
        int turn = next ? 1 : previous ? -1 : 0;
        if (turn != 0 && model.animations > 1) {
            int next = (model.animation + turn + model.animations) % model.animations;
            if (ConvertAnimation(model, args.path, next).status == ExitOk) {
                SayNotes(model);
                showAnimation(next);
                Log::Write("Viewer: animation %d of %d '%s'\n", next + 1, model.animations,
                           model.animationName.c_str());
            }
        }
        gWorld->ticksPerFrame = paused && !step ? 0.0f : kTicksPerFrame;
        camera.SetPerspective(viewer::kFieldOfViewDegrees, viewer::kAspect, view.NearPlane(), viewer::kFar);
        camera.SetPosition(view.Eye());
        camera.SetTarget(view.target);
        lights.Follow(view);
    };
    loop.drawOverlays = [&] {
        std::string line;
        if (model.animations > 1)
            line = "animation " + std::to_string(model.animation + 1) + " of " + std::to_string(model.animations) +
                   (model.animationName.empty() ? "" : ": " + model.animationName);
        if (paused) line += line.empty() ? "paused" : " (paused)";
        if (!line.empty()) DrawTextPanel(*gRenderer, text, line, PanelCorner::BottomLeft, width, height, hudVertices);
    };
    loop.Run();

    Log::Write("Shutting down...\n");
    delete gWorld;
    gWorld = nullptr;
    delete gRenderer;
    gRenderer = nullptr;
    return ExitOk;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    KeepLargeAllocationsInHeap();  // as the engine does: the same frames, the same allocator
    Arguments args = ParseCommandLine(commandLine ? commandLine : "");
    if (!args.error.empty()) {
        std::fprintf(stderr, "viewer: %s (see --help)\n", args.error.c_str());
        return ExitUsage;
    }
    if (args.help) {
        PrintUsage(stdout);
        return ExitOk;
    }
    std::string why;
    std::optional<std::string> data = viewer::FindViewerData(why);
    if (!data) {
        std::fprintf(stderr, "viewer: %s\n", why.c_str());
        return ExitUnreadable;
    }
    SetDataFolder(*data);
    // The platform reads these when the window system starts, in Run; a screenshot is
    // taken headless only, so asking for one runs headless whatever the display.
    if (!args.frames.empty()) {
        setenv("LUMARET_HEADLESS_FRAMES", args.frames.c_str(), 1);
        setenv("LUMARET_MAX_FRAMES", args.frames.c_str(), 1);
    }
    if (!args.screenshot.empty()) {
        setenv("LUMARET_SCREENSHOT", args.screenshot.c_str(), 1);
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
    }
    return Run(args);
}
