// viewer: any model through the engine's own pipeline (the World's three passes and
// PostFX): an SRX file with its images found next to it, or any file Assimp reads,
// converted in memory by srxconvert's own code (nothing is written). The model is framed
// in a 640 x 480 window, lit by a key and a fill light that turn with the camera
// (ViewerLighting.h), its animation playing; the mouse
// turns, zooms and pans, keys pause, step and switch animations. Escape or closing the
// window ends the program. Headless runs stop after LUMARET_HEADLESS_FRAMES frames and save
// LUMARET_SCREENSHOT, as the engine's do (--frames and --screenshot set them). With
// --thumbnail it makes a file manager's thumbnail instead (Thumbnail.h).
//
// Start-up follows the engine's own order (log, window, renderer, resources, world and
// pipeline, light, scene, camera), with the model read and converted on a worker meanwhile
// until the renderer is made, then the engine's frame loop; the model's images are
// registered just before the ./data/ scan, which still provides the pass shaders and the
// default images: from the viewer's own data folder (ViewerData.h), never the working
// directory's.
#include "Thumbnail.h"
#include "ViewerData.h"
#include "ViewerLighting.h"
#include "ViewerScene.h"

#include "AnimationTimeline.h"
#include "ImportLauncher.h"
#include "ModelImport.h"
#include "ModelSummary.h"
#include "ModelWatch.h"
#include "app/Engine.h"
#include "app/FrameLoop.h"
#include "app/Log.h"
#include "app/TextPanel.h"
#include "app/Window.h"
#include "common/ToolExitStatus.h"
#include "import/SrxScene.h"
#include "render/Renderer.h"
#include "resources/FileUtil.h"
#include "resources/StartupPrefetch.h"
#include "resources/TextOverlay.h"
#include "scene/Camera.h"
#include "scene/World.h"

#include <shellapi.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>

#include <unistd.h>

#if LUMARET_MODEL_ALLOCATOR
#include <mimalloc.h>
#endif

namespace {

// The pass shaders rebuild positions for an aspect of 4/3, so every size keeps it.
constexpr int kDefaultWidth = 640, kDefaultHeight = 480;
constexpr int kMinWidth = 160, kMaxWidth = 4096;
constexpr D3DCOLOR kBackgroundColor = 0xFF404040;
constexpr float kOrbitSpeed = 0.4f;      // radians per second, until the user takes the camera
constexpr int kKeyPeriod = VK_OEM_PERIOD;
constexpr float kLookInterval = 0.25f;   // seconds between looks at the model's files
constexpr float kMessageSeconds = 5.0f;  // how long a failed open stays on screen
constexpr float kShowcaseDimming = 0.3f;  // the key and fill lights' share under --lights

Window gViewerWindow;

void PrintUsage(FILE* out) {
    // Named as it was run: viewer in the build tree, lumaret-viewer installed.
    std::fprintf(out, "usage: %s [OPTIONS] FILE\n", program_invocation_short_name);
    std::fputs(
        "\n"
        "Shows a model through the engine's renderer (640 x 480, or --size): an SRX file, with its\n"
        "images read from its directory, or any file Assimp reads (glTF/GLB, FBX, Collada,\n"
        "DirectX .x, OBJ, 3DS, PLY, B3D, ...), converted in memory as srxconvert would and\n"
        "with its images found beside it or inside it. The engine's shaders, font and default\n"
        "images come from data/ beside the program or, installed, from ../share/lumaret/data;\n"
        "the working directory only receives log.txt. At start the model fills about\n"
        "three quarters of the view, its animation plays and the camera circles it, far\n"
        "enough for the model to stay in the picture from every side.\n"
        "Everything after the options is the file name, spaces included.\n"
        "\n"
        "  --animation N      play the file's animation N, from 0 (default: the first)\n"
        "  --still            keep the camera at its first position, the closer fit\n"
        "  --frames N         stop after N frames, headless or not (LUMARET_HEADLESS_FRAMES)\n"
        "  --screenshot FILE  run headless and save the last frame as a PNG (LUMARET_SCREENSHOT);\n"
        "                     without --frames, the first frame\n"
        "  --size WxH         render at another 4:3 size (default 640x480)\n"
        "  --up x|y|z         the file's up axis (default: its metadata, else y; STL, Q3D\n"
        "                     and Blender exports are usually z)\n"
        "  --root DIR         let the model also name files inside DIR (default: only files\n"
        "                     inside its own folder; see srxconvert --help)\n"
        "  --lights N         add N coloured point lights circling the model (up to 4096)\n"
        "  --no-log           write no log.txt (what goes to stderr still does)\n"
        "  --time-limit S     end the run after S seconds (1 to 3600) with exit status 5\n"
        "                     (default: none; with --thumbnail 10, and no thumbnail is left)\n"
        "  --thumbnail SIZE   with --screenshot OUT: write a thumbnail for a file manager to\n"
        "                     OUT, the model alone, cropped and scaled so that its longer side\n"
        "                     is SIZE pixels (16 to 1024); headless, one frame, no log.txt\n"
        "                     and no shader cache; a FILE over 32 MiB or not a regular file\n"
        "                     is refused before it is read; OUT is written whole or not at all\n"
        "  --help             print this text\n"
        "\n"
        "In the window:\n"
        "  left-drag          turn the camera around the model\n"
        "  wheel              zoom in and out\n"
        "  right/middle-drag  pan\n"
        "  R                  frame the model again\n"
        "  1, 3, 7            look from the front, the side, the top\n"
        "  U                  turn the up axis (y, z, x)\n"
        "  Space              pause and resume the animation\n"
        "  . and ,            step one frame forward and back while paused\n"
        "  Shift+. Shift+,    held: scrub forward and back\n"
        "  ] and [            double and halve the animation's speed\n"
        "  N and P            the file's next and previous animation\n"
        "  F1                 frame statistics: off, compact, full (graph and pass times)\n"
        "  F2, Shift+F2       the next and previous debug view\n"
        "  F3                 the model's summary\n"
        "  W, B, V            wireframe, bounding boxes, vertex normals\n"
        "  L                  the file's own lights or the viewer's (when the file has lights)\n"
        "  F5                 load the model again\n"
        "  F12                save the picture as screenshot_NNN.png\n"
        "  Escape             end\n"
        "A model file dropped on the window opens in its place. Any file the model was read\n"
        "from (the model, its .mtl, .bin or images), saved while the window is open, has it\n"
        "loaded again while the old one stays on screen. A model with lights of its own is\n"
        "lit by them; otherwise the viewer's key and fill lights follow the camera. Shader\n"
        "files in the viewer's data folder saved while the window is open are compiled again\n"
        "and used (a failed compile keeps the previous program and says why on screen).\n"
        "\n"
        "Without a display it runs headless: LUMARET_HEADLESS_FRAMES frames, the last one\n"
        "saved to LUMARET_SCREENSHOT (see the README).\n"
        "\n"
        "Exit status: 0 shown, 1 usage error, 2 the file (Assimp's reason follows) or the\n"
        "viewer's own data cannot be read, 3 the file holds nothing to draw, would stop\n"
        "the engine or is too large for a thumbnail, 4 the thumbnail cannot be written,\n"
        "5 the time limit was reached.\n",
        out);
}

struct Arguments {
    bool help = false;
    bool still = false;
    int animation = -1;
    int lights = 0;
    std::string frames;
    std::string screenshot;
    std::string root;
    int width = kDefaultWidth, height = kDefaultHeight;
    bool sized = false;
    char up = 0;  // 0: from the file's metadata, else y
    int thumbnail = 0;  // the longer side of the thumbnail to write; 0: none
    int timeLimit = 0;  // seconds; 0: none
    bool log = true;
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
        } else if (option == "--lights") {
            if (!ParseCount(nextWord(), 0, value) || value > viewer::ShowcaseLights::kMaxCount)
                return args.error = "--lights needs a number from 0 to 4096", args;
            args.lights = static_cast<int>(value);
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
            args.sized = true;
        } else if (option == "--thumbnail") {
            if (!ParseCount(nextWord(), viewer::kThumbnailSmallest, value) || value > viewer::kThumbnailLargest)
                return args.error = "--thumbnail needs a size from 16 to 1024", args;
            args.thumbnail = static_cast<int>(value);
        } else if (option == "--time-limit") {
            if (!ParseCount(nextWord(), 1, value) || value > 3600)
                return args.error = "--time-limit needs whole seconds from 1 to 3600", args;
            args.timeLimit = static_cast<int>(value);
        } else if (option == "--no-log") {
            args.log = false;
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
    if (args.thumbnail && args.screenshot.empty()) args.error = "--thumbnail needs --screenshot OUT";
    if (args.thumbnail && (args.sized || !args.frames.empty()))
        args.error = "--thumbnail chooses the size and the frames: no --size or --frames";
    return args;
}

bool IsSrx(const std::string& path) {
    std::string extension = FileExtension(path);
    LowercaseInPlace(extension);
    return extension == "srx";
}

// The model as the engine will load it: SRX bytes, and for a converted model the images
// and what its import child said of the file (ModelImport.h); another clip is converted
// by a child of its own.
struct Model {
    viewer::ModelBytes srx;
    std::vector<srxconvert::ModelImage> images;
    bool converted = false;  // read through Assimp, not an SRX file
    std::string root;        // the --root it was read with, for the next clip
    int animation = 0;
    int animations = 1;
    std::string animationName;
    char upAxis = 0;  // the file's own, or 0
    int upSign = 1;
    viewer::ModelSummary::Counts inFile;
    std::vector<viewer::ModelSummary::Clip> clips;
    std::vector<std::string> missingImages;  // named by the source, not found or not readable
    std::vector<viewer::WatchedFile> files;  // every file read for it, as it was read
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

int gImportSeconds = viewer::kImportSeconds;  // --time-limit's, when given

// What an import gave for the clip it converted, its notes each said once however often
// the user switches clips.
void TakeClip(Model& model, viewer::ImportedModel& imported) {
    for (const std::string& note : imported.notes)
        if (std::find(model.notes.begin(), model.notes.end(), note) == model.notes.end()) model.notes.push_back(note);
    model.srx = std::move(imported.srx);
    model.images = std::move(imported.images);
    model.animation = imported.animation;
    model.animationName = imported.animationName;
    model.missingImages = std::move(imported.missingImages);
}

Failure ConvertAnimation(Model& model, const std::string& path, int animation) {
    viewer::ImportedModel imported = viewer::ImportInChild({path, model.root, animation, gImportSeconds});
    if (imported.status != ExitOk) return {imported.status, imported.message};
    TakeClip(model, imported);
    return {};
}

// A model file made ready for the engine, before any of it reaches the device: converted,
// read once as the engine will read it to see that the engine can take it (a converted
// model by its import child), its summary's counts, framing points and lights, and its
// first pose's bounds.
struct PreparedModel {
    Model model;
    std::unique_ptr<SrxScene> scene;  // an SRX file's, for its images
    viewer::SceneReadout readout;
    viewer::Bounds bounds;
};

Failure ReadModel(const std::string& path, int animation, const std::string& root, PreparedModel& prepared) {
    Model& model = prepared.model;
    if (IsSrx(path)) {
        std::string why;
        std::error_code error;
        viewer::WatchedFile watched{std::filesystem::weakly_canonical(path, error).string(),
                                    viewer::FileStamp::Of(path)};
        std::optional<std::vector<uint8_t>> file = ReadWholeFile(path, &why);
        if (!file) return {ExitUnreadable, "cannot read " + path + (why.empty() ? "" : ": " + why)};
        if (animation > 0) return {ExitUsage, "--animation " + std::to_string(animation) + ": an SRX file holds one"};
        model.srx = viewer::ModelBytes(std::move(*file));
        model.files.push_back(std::move(watched));
        return {};
    }
    model.converted = true;
    model.root = root;
    viewer::ImportedModel imported = viewer::ImportInChild({path, root, animation, gImportSeconds});
    for (const srxconvert::OpenedFile& opened : imported.files)
        model.files.push_back({opened.path, {opened.modified, opened.size}});
    if (imported.status != ExitOk) return {imported.status, imported.message};
    model.animations = imported.animations;
    model.upAxis = imported.upAxis;
    model.upSign = imported.upSign;
    model.inFile = imported.inFile;
    model.clips = std::move(imported.clips);
    prepared.readout = std::move(imported.readout);
    TakeClip(model, imported);
    return {};
}

Failure PrepareModel(const std::string& path, int animation, const std::string& root, PreparedModel& prepared) {
    if (Failure failure = ReadModel(path, animation, root, prepared); failure.status != ExitOk) return failure;
    if (!prepared.model.converted) {
        // A file the engine cannot show is refused here with its reason instead (a converted
        // model's import child did the same).
        prepared.scene = std::make_unique<SrxScene>(prepared.model.srx.data(), prepared.model.srx.size(),
                                                    MissingPrimitive::EndImport);
        if (std::string problem = viewer::ReadOut(*prepared.scene, prepared.readout); !problem.empty())
            return {ExitUnusable, path + " " + problem};
    }
    prepared.bounds = viewer::BoundsOf(prepared.readout.framingPoints);
    return {};
}

// The images of a prepared model, registered under the keys the scene build will look up.
std::vector<viewer::RegisteredImage> RegisterImagesOf(const PreparedModel& prepared, const std::string& path) {
    if (!prepared.model.converted) return viewer::RegisterModelTextures(*gRenderer, *prepared.scene, path);
    std::vector<viewer::NamedImage> images;
    for (const srxconvert::ModelImage& image : prepared.model.images)
        images.push_back({image.name, &image.bytes, image.source});
    return viewer::RegisterImages(*gRenderer, images);
}

void LogSummary(const std::string& text) {
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        Log::Write("Model: %s\n", text.substr(start, end - start).c_str());
        start = end + 1;
    }
}

// A file dropped on the window: the first of the drop.
std::string gDroppedFile;

LRESULT CALLBACK ViewerWindowProcedure(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_DROPFILES) return Window::DefaultProcedure(handle, message, wParam, lParam);
    HDROP drop = reinterpret_cast<HDROP>(wParam);
    if (DragQueryFileA(drop, 0xFFFFFFFFu, nullptr, 0) > 0) {
        gDroppedFile.assign(DragQueryFileA(drop, 0, nullptr, 0), '\0');
        DragQueryFileA(drop, 0, gDroppedFile.data(), static_cast<UINT>(gDroppedFile.size() + 1));
    }
    DragFinish(drop);
    return 0;
}

// The summary of the model as loaded: a converted model's animations as its source has
// them (name and length in seconds), an SRX file's one in ticks.
viewer::ModelSummary SummarizeModel(const Model& model, viewer::ModelSummary counted, const std::string& path,
                                    const viewer::Bounds& bounds, const viewer::Framing& framing) {
    std::string format = "SRX";
    if (model.converted) {
        format = FileExtension(path);
        for (char& c : format) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        format += ", converted";
    }
    viewer::ModelSummary summary =
        viewer::Summarize(std::move(counted), *gRenderer, FileNameOfPath(path), format, bounds.max - bounds.min,
                          framing.world);
    if (model.converted) {
        // The conversion leaves out what it cannot find; the summary still names it.
        for (const std::string& missing : model.missingImages)
            summary.images.push_back({missing.substr(missing.find_last_of("/\\") + 1), false});
        summary.inFile = model.inFile;
        summary.clips = model.clips;
    }
    return summary;
}

// The model on screen: its prepared file, its clips (each converted the first time it is
// shown, kept as SRX bytes), the one loaded into the world's display object, its framing
// and summary.
struct ShownModel {
    std::string path;
    Model model;
    std::unique_ptr<SrxScene> scene;  // an SRX file's, until the summary is made
    viewer::ModelSummary counted;     // likewise
    SceneObject* object = nullptr;    // the world's display object, not owned
    SceneHandle loaded;               // the clip loaded into it
    std::vector<viewer::ModelBytes> clips;  // SRX bytes of each clip converted so far
    std::vector<std::string> clipNames;
    std::vector<int> images;  // texture records registered for it
    std::vector<D3DXVECTOR3> points;  // what the framing covers, every pose of the clip
    viewer::Bounds bounds;
    viewer::UpAxis up;
    viewer::Framing framing;
    viewer::ModelSummary summary;
    std::string summaryText;
    std::vector<SrxLight> sourceLights;  // the file's, in the scene's frame
    std::vector<Light> fileLights;       // the same where the model is shown (Frame)
    std::string lightsNote;              // what FileLights left out

    // Registers the model's images (logged with where each came from), says what the
    // viewer changed or cannot show, and frames every pose standing on the up axis: the
    // one asked for, else the file's.
    void Take(PreparedModel&& prepared, const std::string& file, char upAsked) {
        path = file;
        bounds = prepared.bounds;
        Log::Write("Viewer: %s, extent (%.3f, %.3f, %.3f) (%.3f, %.3f, %.3f)\n", path.c_str(), bounds.min.x,
                   bounds.min.y, bounds.min.z, bounds.max.x, bounds.max.y, bounds.max.z);
        // The key is the name the engine looks the image up by; the source is where it really is.
        for (const viewer::RegisteredImage& key : RegisterImagesOf(prepared, path)) {
            Log::Write("Viewer: image %s from %s\n", key.key.c_str(), key.source.c_str());
            images.push_back(gRenderer->FindTexture(key.key));
            // An SRX file's images are read here, on the main thread, a moment before.
            if (!prepared.model.converted) {
                std::error_code error;
                prepared.model.files.push_back(
                    {std::filesystem::weakly_canonical(key.source, error).string(), viewer::FileStamp::Of(key.source)});
            }
        }
        up = viewer::UpAxis();
        if (upAsked) {
            up.axis = upAsked;
        } else if (prepared.model.upAxis) {
            up = {prepared.model.upAxis, prepared.model.upSign};
        }
        if (up.axis != 'y' || up.sign < 0)
            Log::Write("Viewer: up axis %s%c (%s)\n", up.sign < 0 ? "-" : "", up.axis, upAsked ? "--up" : "the file's");
        points = std::move(prepared.readout.framingPoints);
        sourceLights = std::move(prepared.readout.lights);
        Frame();
        LogLights();
        model = std::move(prepared.model);
        if (!lightsNote.empty()) model.notes.push_back(lightsNote);
        SayNotes(model);
        scene = std::move(prepared.scene);
        counted = std::move(prepared.readout.counted);
        clips.clear();
        clips.resize(static_cast<size_t>(model.animations));
        clips[static_cast<size_t>(model.animation)] = std::move(model.srx);
        clipNames.assign(clips.size(), std::string());
        clipNames[static_cast<size_t>(model.animation)] = model.animationName;
    }

    // Once the images are in the registry: the summary, in the log too.
    void Summarize() {
        summary = SummarizeModel(model, std::move(counted), path, bounds, framing);
        scene.reset();
#if LUMARET_MODEL_ALLOCATOR
        // What the worker's read freed and the check import just released go back to the
        // system before the buffers and the first frame take theirs: mimalloc keeps a gone
        // thread's pages for another that rarely comes for them.
        mi_collect(true);
#endif
        summaryText = summary.Text();
        LogSummary(summaryText);
    }

    // The points stood upright, then framed; the objects' matrix does both.
    void Frame() {
        D3DXMATRIX rotation = viewer::UpRotation(up);
        std::vector<D3DXVECTOR3> upright(points.size());
        for (size_t i = 0; i < points.size(); ++i) D3DXVec3TransformCoord(&upright[i], &points[i], &rotation);
        framing = viewer::FrameModel(upright, viewer::OrbitView());
        D3DXMatrixMultiply(&framing.world, &rotation, &framing.world);
        if (object) object->world = framing.world;
        lightsNote.clear();
        fileLights = viewer::FileLights(sourceLights, framing.world, &lightsNote);
    }

    // The file's lights, a line each (the first few), as they light the model.
    void LogLights() const {
        constexpr size_t kListed = 16;
        static const char* const kinds[] = {"point", "spot", "directional"};
        for (size_t i = 0; i < fileLights.size() && i < kListed; ++i) {
            const Light& l = fileLights[i];
            Log::Write("Viewer: light %zu: %s at (%.1f, %.1f, %.1f) colour (%.3f, %.3f, %.3f) range %.1f\n", i,
                       kinds[static_cast<int>(l.kind) - 1], l.position.x, l.position.y, l.position.z, l.color.x,
                       l.color.y, l.color.z, l.range);
        }
        if (fileLights.size() > kListed)
            Log::Write("Viewer: and %zu more lights\n", fileLights.size() - kListed);
    }

    // U: the next up axis, framed afresh.
    void TurnUp() {
        up = viewer::NextUpAxis(up);
        Frame();
        Log::Write("Viewer: up axis %c\n", up.axis);
    }

    // Loads the clip into the display object in place of the one shown.
    void ShowAnimation(int index) {
        if (loaded) gWorld->ReleaseScene(loaded);
        const viewer::ModelBytes& bytes = clips[static_cast<size_t>(index)];
        loaded = gWorld->LoadReleasableScene(object, path, bytes.data(), bytes.size());
        // A model of one clip is never loaded from its bytes again (a reload converts
        // afresh): they go before the first frame adds its share.
        if (model.animations <= 1) clips[static_cast<size_t>(index)].Release();
        object->world = framing.world;
        ResetAnimationClock();
    }

    // N and P: the next or previous clip, converted only the first time it is shown.
    void Turn(int turn) {
        int next = (model.animation + turn + model.animations) % model.animations;
        size_t slot = static_cast<size_t>(next);
        if (clips[slot].empty()) {
            if (ConvertAnimation(model, path, next).status != ExitOk) return;
            clips[slot] = std::move(model.srx);
        }
        SayNotes(model);
        if (clipNames[slot].empty()) clipNames[slot] = model.animationName;
        model.animation = next;
        ShowAnimation(next);
        Log::Write("Viewer: animation %d of %d '%s'\n", next + 1, model.animations, clipNames[slot].c_str());
    }

    // Before another model takes its place: its scene and images are freed, so that the
    // next one's images win every look-up by name and memory stays where one model puts it.
    void Retire() {
        if (loaded) gWorld->ReleaseScene(loaded);
        loaded = SceneHandle{};
        for (int index : images) gRenderer->ReleaseTexture(index);
        images.clear();
    }
};

// The user's hold on the view through the mouse: drags and the wheel.
class ViewControls {
public:
    ViewControls(Window& window, int viewHeight) : window_(window), viewHeight_(viewHeight) {}

    // Applies this frame's drags and wheel to the view at `time` seconds; true once the user
    // has moved it.
    bool Move(viewer::OrbitView& view, float time) {
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
            zoomNotches_ += notches;
            lastNotch_ = time;
            moved = true;
        }
        // A turn of the wheel is many notches over a few frames: one line when it rests.
        if (zoomNotches_ != 0 && time - lastNotch_ >= kWheelRest) {
            LogView("zoom", view, zoomNotches_);
            zoomNotches_ = 0;
        }
        if (buttons == 0 && lastButtons_ != 0) LogView(lastButtons_ & 1u ? "orbit" : "pan", view);
        lastButtons_ = buttons;
        return moved;
    }

    static void LogView(const char* what, const viewer::OrbitView& view, int notches = 0) {
        Log::Write("Viewer: %s: yaw %.3f pitch %.3f distance %.1f target (%.1f, %.1f, %.1f)", what, view.yaw,
                   view.pitch, view.distance, view.target.x, view.target.y, view.target.z);
        if (notches)
            Log::Write(", %+d notches\n", notches);
        else
            Log::Write("\n");
    }

private:
    static constexpr float kWheelRest = 0.3f;  // seconds without a notch that end a turn of the wheel

    Window& window_;
    int viewHeight_;
    int lastX_ = 0, lastY_ = 0;
    uint32_t lastButtons_ = 0;
    int zoomNotches_ = 0;
    float lastNotch_ = 0.0f;
};

// A model read, converted and checked on a worker (PrepareModel): at start while the device
// is made, later while the model shown stays on screen. Whatever ends the process meanwhile
// (a fatal error, a bad platform setting) waits for it at exit, so that it is not still
// running while the process's statics go. Its check import stays out of the log, which
// keeps LoadScene's account only.
struct Preparation {
    std::string path;
    std::unique_ptr<PreparedModel> prepared = std::make_unique<PreparedModel>();
    Failure failure;
    std::atomic<bool> done = false;
};

std::thread gPreparing;

void FinishPreparing() {
    if (gPreparing.joinable() && gPreparing.get_id() != std::this_thread::get_id()) gPreparing.join();
}

// The worker must be free (FinishPreparing).
std::unique_ptr<Preparation> StartPreparing(const std::string& path, int animation, const std::string& root) {
    auto preparation = std::make_unique<Preparation>();
    preparation->path = path;
    gPreparing = std::thread([p = preparation.get(), animation, root] {
        Log::muted = true;
        try {
            p->failure = PrepareModel(p->path, animation, root, *p->prepared);
        } catch (const std::bad_alloc&) {
            p->failure = {ExitUnreadable, "cannot read " + p->path + ": not enough memory"};
        } catch (const std::exception& error) {
            p->failure = {ExitUnreadable, "cannot read " + p->path + ": " + error.what()};
        }
        p->done = true;
    });
    return preparation;
}

// The viewer's run in named steps: Start (the window, the watch and the worker's read while
// the device is made), SetUpWorld (the world, its lights and the display object, the view),
// then the engine's frame loop, whose update is MoveView, FollowFiles, PlayAnimation and
// PlaceCamera in turn, and DrawOverlays.
class Session {
public:
    explicit Session(const Arguments& args) : args_(args), width_(args.width), height_(args.height),
                                              controls_(gViewerWindow, args.height), showcase_(args.lights) {}

    int Run() {
        Log::Open();
        if (int status = Start(); status != ExitOk) return status;
        SetUpWorld();
        FrameLoop loop(gViewerWindow, camera_, text_, width_, height_, kBackgroundColor);
        loop_ = &loop;
        loop.countLights = true;
        loop.update = [this](const FrameTimer& timer) { Update(timer); };
        loop.drawOverlays = [this] { DrawOverlays(); };
        loop.Run();
        FinishPreparing();  // a load still going when the window closed

        Log::Write("Shutting down...\n");
        delete gWorld;
        gWorld = nullptr;
        delete gRenderer;
        gRenderer = nullptr;
        return ExitOk;
    }

private:
    // The model read on the worker while the window and the device are made, the window
    // (hidden until the model is ready, so that a file that cannot be shown never shows
    // one), then the model shown.
    int Start() {
        // The model's files are watched only with a display to edit on; its folder from
        // before the read, so that a save while the viewer starts is heard.
        watching_ = GetSystemMetrics(SM_CMONITORS) > 0;
        if (watching_) {
            std::error_code error;
            watch_.WatchFolder(std::filesystem::weakly_canonical(args_.path, error).parent_path().string());
        }
        // First of all, as its import child takes the longest of the start.
        std::atexit(FinishPreparing);
        std::unique_ptr<Preparation> preparation = StartPreparing(args_.path, args_.animation, args_.root);
        // The platform checks its settings when its first window is made.
        gViewerWindow.create(50, 50, width_, height_, 1, ViewerWindowProcedure, false);
        FrameLoop::CheckSettings();
        DragAcceptFiles(gViewerWindow.handle, TRUE);
        ShowTitle(args_.path);
        // As in the engine: ./data/'s shaders and images are prepared while the device is created.
        auto prefetch = std::make_unique<StartupPrefetch>("./data/");
        RendererSettings settings;
        settings.fullscreen = false;
        settings.vsync = true;
        settings.multisample = 4;
        settings.anisotropy = 1;
        gRenderer = new Renderer();
        gRenderer->Init(gViewerWindow.handle, DisplayModeDesc{width_, height_, 0}, settings,
                        ClearColor | ClearDepth | ClearStencil);
        FinishPreparing();
        if (const Failure& failure = preparation->failure; failure.status != ExitOk) {
            std::fprintf(stderr, "viewer: %s\n", failure.message.c_str());
            prefetch.reset();
            delete gRenderer;
            gRenderer = nullptr;
            gViewerWindow.destroy();
            return failure.status;
        }
        ShowWindow(gViewerWindow.handle, SW_SHOW);
        shown_.Take(std::move(*preparation->prepared), args_.path, args_.up);
        preparation.reset();
        if (watching_) watch_.Watch(shown_.model.files);
        gRenderer->LoadResources(prefetch.get());
        prefetch.reset();
        shown_.Summarize();
        return ExitOk;
    }

    void SetUpWorld() {
        text_.Setup(*gRenderer);
        gWorld = new World();
        gWorld->InitPipeline();
        gWorld->clearColor = kBackgroundColor;
        gWorld->postFactor = 0.025f;
        // Under a show of coloured lights the white ones step back, so that the colours show.
        if (!showcase_.lights.empty()) {
            lights_.key.color *= kShowcaseDimming;
            lights_.fill.color *= kShowcaseDimming;
        }
        ListLights();
        // One object shows every model and clip in turn: the viewer's zone draws the world's
        // first object.
        Zone* zone = gWorld->CreateZone("viewer");
        shown_.object = gWorld->CreateObject("model");
        zone->AddObject(shown_.object);
        shown_.ShowAnimation(shown_.model.animation);
        // Still, the camera keeps the close fit of the first view; circling, the orbit's.
        start_ = shown_.framing.view;
        orbit_ = shown_.framing.orbit;
        view_ = args_.still ? start_ : orbit_;
        userMoved_ = args_.still;
        Log::Write("Viewer: framed at distance %.1f, filling %.2f of the view; circled at distance %.1f around "
                   "(%.1f, %.1f, %.1f)\n",
                   start_.distance, shown_.framing.fill, orbit_.distance, orbit_.target.x, orbit_.target.y,
                   orbit_.target.z);
        camera_.SetPerspective(viewer::kFieldOfViewDegrees, viewer::kAspect, viewer::kNear, viewer::kFar);
    }

    // The world's list is made again every frame: the file's lights move with U and reloads.
    void ListLights() {
        gWorld->lights.clear();
        if (ownLights_ && !shown_.fileLights.empty()) {
            for (Light& light : shown_.fileLights) gWorld->lights.push_back(&light);
        } else {
            gWorld->lights.push_back(&lights_.key);
            gWorld->lights.push_back(&lights_.fill);
        }
        for (Light& light : showcase_.lights) gWorld->lights.push_back(&light);
    }

    static void ShowTitle(const std::string& path) {
        SetWindowTextA(gViewerWindow.handle,
                       ("Lumaret viewer - " + std::filesystem::path(path).filename().string()).c_str());
    }

    void Update(const FrameTimer& timer) {
        now_ = timer.time;
        MoveView(timer.time);
        FollowFiles(timer.time);
        PlayAnimation(timer);
        PlaceCamera(timer.time);
    }

    // The mouse, R, U and the view keys; until the user takes the camera, the orbit.
    void MoveView(float time) {
        if (controls_.Move(view_, time)) userMoved_ = true;
        if (loop_->KeyPressed('R')) {
            view_ = start_;
            userMoved_ = true;
            ViewControls::LogView("reset", view_);
        }
        if (loop_->KeyPressed('U')) {
            shown_.TurnUp();
            view_ = start_ = shown_.framing.view;
            orbit_ = shown_.framing.orbit;
            userMoved_ = true;
        }
        // Front, side and top, as on a numeric keypad; the distance and target stay.
        for (auto [key, name, yaw, pitch] : {std::tuple('1', "front", 0.0f, 0.0f),
                                             std::tuple('3', "side", 1.57079633f, 0.0f),
                                             std::tuple('7', "top", 0.0f, 1.45f)})
            if (loop_->KeyPressed(key)) {
                view_.yaw = yaw;
                view_.pitch = pitch;
                userMoved_ = true;
                ViewControls::LogView(name, view_);
            }
        if (!userMoved_) {
            view_ = orbit_;
            view_.yaw = kOrbitSpeed * time;
        }
    }

    // A dropped file, F5 and the watched files' saves start a read on the worker; a read
    // that is done is shown.
    void FollowFiles(float time) {
        if (!gDroppedFile.empty()) {
            std::string path = std::exchange(gDroppedFile, std::string());
            Log::Write("Viewer: loading %s (dropped)\n", path.c_str());
            Open(path);
        }
        if (loop_->KeyPressed(VK_F5)) {
            Log::Write("Viewer: loading %s again (F5)\n", shown_.path.c_str());
            Open(shown_.path);
        }
        if (watching_ && time >= nextLook_) {
            nextLook_ = time + kLookInterval;
            if (std::string saved = watch_.Look(); !saved.empty()) {
                Log::Write("Viewer: loading %s again: %s was saved\n", shown_.path.c_str(), saved.c_str());
                Open(shown_.path);
            }
        }
        ShowOpened(time);
    }

    // Reads a file on the worker while the model shown stays on screen; one asked for
    // meanwhile is read when that is done (the later asks win).
    void Open(const std::string& path) {
        if (opening_) {
            asked_ = path;
            return;
        }
        opening_ = StartPreparing(path, -1, args_.root);
    }

    // Shows the file read in place of the model; on failure the model stays and says why.
    void ShowOpened(float seconds) {
        if (!opening_ || !opening_->done) return;
        FinishPreparing();
        std::unique_ptr<Preparation> opened = std::move(opening_);
        // Asked for again while it was read (a second save): that read is the one to show.
        if (!asked_.empty()) return Open(std::exchange(asked_, std::string()));
        std::string path = opened->path;
        bool reload = path == shown_.path;
        if (opened->failure.status != ExitOk) {
            Log::Write("Viewer: open failed: %s; still showing %s\n", opened->failure.message.c_str(),
                       shown_.path.c_str());
            message_ = "Not opened: " + opened->failure.message + "\nstill showing " + FileNameOfPath(shown_.path);
            messageUntil_ = seconds + kMessageSeconds;
            return;
        }
        SceneObject* display = shown_.object;
        shown_.Retire();
        shown_ = ShownModel();
        shown_.object = display;
        shown_.Take(std::move(*opened->prepared), path, args_.up);
        opened.reset();
        shown_.Summarize();
        shown_.ShowAnimation(shown_.model.animation);
        if (watching_) watch_.Watch(shown_.model.files);
        Log::Write("Viewer: %s %s\n", reload ? "reloaded" : "opened", path.c_str());
        ShowTitle(path);
        messageUntil_ = -1.0f;
        // A new file is framed afresh; a reloaded one keeps the user's view.
        start_ = shown_.framing.view;
        orbit_ = shown_.framing.orbit;
        if (!reload) view_ = userMoved_ ? start_ : orbit_;
    }

    // The timeline's keys, N and P, F3 and L, and the clock's step for this frame.
    void PlayAnimation(const FrameTimer& timer) {
        bool shift = gViewerWindow.KeyState[VK_SHIFT] != 0;
        viewer::AnimationTimeline::Keys keys;
        keys.pause = loop_->KeyPressed(VK_SPACE);
        // Both keys are asked every frame, so a press is seen once whatever Shift does.
        bool comma = loop_->KeyPressed(VK_OEM_COMMA), period = loop_->KeyPressed(kKeyPeriod);
        keys.stepBack = comma && !shift;
        keys.stepForward = period && !shift;
        keys.slower = loop_->KeyPressed(VK_OEM_4);
        keys.faster = loop_->KeyPressed(VK_OEM_6);
        if (shift) keys.scrub = (gViewerWindow.KeyState[kKeyPeriod] != 0) - (gViewerWindow.KeyState[VK_OEM_COMMA] != 0);
        bool next = loop_->KeyPressed('N'), previous = loop_->KeyPressed('P');
        int turn = next ? 1 : previous ? -1 : 0;
        if (turn != 0 && shown_.model.animations > 1) shown_.Turn(turn);
        if (loop_->KeyPressed(VK_F3)) showSummary_ = !showSummary_;
        if (loop_->KeyPressed('L') && !shown_.fileLights.empty()) {
            ownLights_ = !ownLights_;
            Log::Write("Viewer: lights: %s\n", ownLights_ ? "the file's" : "the viewer's");
        }
        // A converted clip plays at its own pace; an SRX file's, which knows no seconds, at the
        // engine's 24 ticks a frame.
        timeline_.ticksPerSecond = viewer::ClipTicksPerSecond(ClipSeconds());
        gWorld->ticksPerFrame = timeline_.Update(keys, timer.delta);
    }

    // The shown clip's length in seconds; below 0 when only its ticks are known.
    double ClipSeconds() const {
        size_t clip = static_cast<size_t>(shown_.model.animation);
        const std::vector<viewer::ModelSummary::Clip>& clips = shown_.summary.clips;
        return clip < clips.size() && clips[clip].seconds >= 0.0 ? clips[clip].seconds : -1.0;
    }

    void PlaceCamera(float time) {
        camera_.SetPerspective(viewer::kFieldOfViewDegrees, viewer::kAspect, view_.NearPlane(), viewer::kFar);
        camera_.SetPosition(view_.Eye());
        camera_.SetTarget(view_.target);
        lights_.Follow(view_);
        showcase_.Place(time);
        ListLights();
    }

    // The timeline, F3's summary and a failed open's message, over the picture.
    void DrawOverlays() {
        if (args_.thumbnail) return;  // the model alone
        if (shown_.model.animations > 1 || timeline_.touched) {
            size_t clip = static_cast<size_t>(shown_.model.animation);
            timeline_.Draw(*gRenderer, text_,
                           timeline_.Text(shown_.clipNames[clip], shown_.model.animation, shown_.model.animations,
                                          ClipSeconds()),
                           width_, height_);
        }
        if (showSummary_) {
            // Below the debug view's name (top centre) where the two would meet: the widest
            // name's room is kept whichever view shows.
            PanelRect panel = TextPanelRect(*gRenderer, text_, shown_.summaryText, PanelCorner::TopRight, width_,
                                            height_, summaryVertices_);
            for (int v = 0; v < static_cast<int>(DebugView::Count); ++v) {
                PanelRect label = TextPanelRect(*gRenderer, text_, DebugViewName(static_cast<DebugView>(v)),
                                                PanelCorner::TopCentre, width_, height_, summaryVertices_);
                if (panel.left < label.left + label.width) panel.top = std::max(panel.top, 2 * label.top + label.height);
            }
            DrawTextPanelAt(*gRenderer, text_, shown_.summaryText, panel.left, panel.top, width_, height_,
                            summaryVertices_);
        }
        if (now_ < messageUntil_)
            DrawTextPanel(*gRenderer, text_, message_, PanelCorner::Centre, width_, height_, messageVertices_);
    }

    const Arguments& args_;
    const int width_, height_;
    FrameLoop* loop_ = nullptr;  // while Run's loop runs
    bool watching_ = false;
    viewer::ModelWatch watch_;
    ShownModel shown_;
    TextOverlay text_;
    Camera camera_;
    ViewControls controls_;
    viewer::ViewerLights lights_;
    viewer::ShowcaseLights showcase_;
    bool ownLights_ = true;  // the file's lights, when it has any
    viewer::OrbitView start_, orbit_, view_;
    bool userMoved_ = false;
    viewer::AnimationTimeline timeline_;
    bool showSummary_ = false;
    std::vector<QuadVertex> summaryVertices_, messageVertices_;
    float now_ = 0.0f, nextLook_ = 0.0f;
    std::string message_;
    float messageUntil_ = -1.0f;
    std::unique_ptr<Preparation> opening_;  // a file being read for a drop or a reload
    std::string asked_;                     // the file to read once that is done
};

int Run(const Arguments& args) { return Session(args).Run(); }

// What a thumbnail's run may leave on disk until it is done: the rendered frame (made
// empty before the time limit starts), the platform's partial copy of it and the
// thumbnail's own temporary. Fixed before the alarm is set, so that its handler only reads
// them.
char gLeftBehind[3][4096];

void RemoveLeftBehind() {
    for (const char* path : gLeftBehind)
        if (path[0]) unlink(path);
}

extern "C" void EndAtTimeLimit(int signal) {
    RemoveLeftBehind();
    if (signal == SIGALRM) {
        static const char message[] = "viewer: the time limit was reached; nothing was written\n";
        ssize_t said = write(STDERR_FILENO, message, sizeof(message) - 1);
        static_cast<void>(said);
    }
    _exit(signal == SIGALRM ? ExitTimedOut : 128 + signal);
}

// Before anything reads the model: the file looked at, the frame's file made beside OUT
// (whose folder is the one place the run may write), and the run set up as a file
// manager's: headless, one frame at time 0, nothing in the working directory, nothing
// from the user's settings that would draw over the model.
int PrepareThumbnail(Arguments& args) {
    int status = ExitOk;
    std::string refused = viewer::RefuseThumbnailInput(args.path, status);
    if (!refused.empty()) {
        std::fprintf(stderr, "viewer: no thumbnail: %s\n", refused.c_str());
        return status;
    }
    std::filesystem::path folder = std::filesystem::path(args.screenshot).parent_path();
    std::string frame = (folder.empty() ? std::string(".") : folder.string()) + "/.lumaret-thumbnail-XXXXXX.png";
    if (frame.size() + 16 >= sizeof(gLeftBehind[0])) {
        std::fprintf(stderr, "viewer: no thumbnail: the path of %s is too long\n", args.screenshot.c_str());
        return ExitUnwritable;
    }
    int descriptor = mkstemps(frame.data(), 4);
    if (descriptor < 0) {
        std::fprintf(stderr, "viewer: no thumbnail: cannot write beside %s: %s\n", args.screenshot.c_str(),
                     std::strerror(errno));
        return ExitUnwritable;
    }
    close(descriptor);
    std::snprintf(gLeftBehind[0], sizeof(gLeftBehind[0]), "%s", frame.c_str());
    std::snprintf(gLeftBehind[1], sizeof(gLeftBehind[1]), "%s.partial", frame.c_str());
    std::snprintf(gLeftBehind[2], sizeof(gLeftBehind[2]), "%s.thumbnail", frame.c_str());
    std::atexit(RemoveLeftBehind);
    viewer::RenderSize size = viewer::ThumbnailRenderSize(args.thumbnail);
    args.width = size.width;
    args.height = size.height;
    args.still = true;
    args.frames = "1";
    args.log = false;
    setenv("LUMARET_FRAME_TIME", "0", 1);
    setenv("LUMARET_NO_MESSAGE_BOX", "1", 1);
    setenv("LUMARET_SHADER_CACHE", "0", 0);
    for (const char* setting : {"LUMARET_SCREENSHOT_FRAMES", "LUMARET_HUD", "LUMARET_DEBUG_VIEW"}) unsetenv(setting);
    return ExitOk;
}

// After the run: its frame cropped and scaled, written to OUT in one rename.
int FinishThumbnail(const Arguments& args) {
    viewer::Picture frame;
    std::string why;
    if (!viewer::ReadPngFile(gLeftBehind[0], frame, why)) {
        std::fprintf(stderr, "viewer: no thumbnail: %s\n", why.c_str());
        return ExitUnwritable;
    }
    viewer::Box box = viewer::ModelBox(frame);
    if (box.Empty()) {
        std::fprintf(stderr, "viewer: no thumbnail: %s shows nothing\n", args.path.c_str());
        return ExitUnusable;
    }
    std::vector<uint8_t> png;
    if (!viewer::EncodePng(viewer::CropAndScale(frame, box, args.thumbnail), png)) {
        std::fprintf(stderr, "viewer: no thumbnail: the picture cannot be encoded\n");
        return ExitUnwritable;
    }
    FILE* file = std::fopen(gLeftBehind[2], "wb");
    bool written = file && std::fwrite(png.data(), 1, png.size(), file) == png.size();
    written = file && std::fclose(file) == 0 && written;
    alarm(0);  // from here on nothing can be left half done
    if (!written || std::rename(gLeftBehind[2], args.screenshot.c_str()) != 0) {
        std::fprintf(stderr, "viewer: no thumbnail: cannot write %s: %s\n", args.screenshot.c_str(),
                     std::strerror(errno));
        return ExitUnwritable;
    }
    return ExitOk;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    // The viewer's allocator is mimalloc's (tools/CMakeLists.txt), not the engine's glibc
    // settings: a converted model's import allocates in a way glibc is slow at.
    Arguments args = ParseCommandLine(commandLine ? commandLine : "");
    if (!args.error.empty()) {
        std::fprintf(stderr, "viewer: %s (see --help)\n", args.error.c_str());
        return ExitUsage;
    }
    if (args.help) {
        PrintUsage(stdout);
        return ExitOk;
    }
    // Here, while the viewer is one thread and small: every model file's import is forked
    // from this copy (ImportLauncher.h). Without it, a model file cannot be read and says
    // why; an SRX scene needs no import.
    std::string why;
    if (!viewer::StartImportLauncher(viewer::ServeImport, why)) Log::Write("Viewer: %s\n", why.c_str());
    if (args.thumbnail) {
        if (int status = PrepareThumbnail(args); status != ExitOk) return status;
        if (!args.timeLimit) args.timeLimit = viewer::kThumbnailSeconds;
    }
    if (args.timeLimit) {
        gImportSeconds = args.timeLimit;
        std::signal(SIGALRM, EndAtTimeLimit);
        if (args.thumbnail) std::signal(SIGTERM, EndAtTimeLimit);
        alarm(static_cast<unsigned>(args.timeLimit));
    }
    if (!args.log) Log::writesFile = false;
    std::optional<std::string> data = viewer::FindViewerData(why);
    if (!data) {
        std::fprintf(stderr, "viewer: %s\n", why.c_str());
        return ExitUnreadable;
    }
    SetDataFolder(*data);
    // The platform reads these when the window system starts, in Run; a screenshot is
    // taken headless only, so asking for one runs headless whatever the display.
    // A picture needs no frames to settle: the exposure follows the frame's own luminance,
    // read back before it is composed, so the first frame is the picture (an animation or
    // the circling camera moves on from there, as --frames asks).
    if (!args.screenshot.empty() && args.frames.empty() && !std::getenv("LUMARET_HEADLESS_FRAMES")) args.frames = "1";
    if (!args.frames.empty()) {
        setenv("LUMARET_HEADLESS_FRAMES", args.frames.c_str(), 1);
        setenv("LUMARET_MAX_FRAMES", args.frames.c_str(), 1);
    }
    if (!args.screenshot.empty()) {
        setenv("LUMARET_SCREENSHOT", args.screenshot.c_str(), 1);
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
    }
    if (args.thumbnail) setenv("LUMARET_SCREENSHOT", gLeftBehind[0], 1);
    int status = Run(args);
    return args.thumbnail && status == ExitOk ? FinishThumbnail(args) : status;
}
