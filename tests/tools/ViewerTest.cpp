// The content workflow as a user runs it: srxconvert on a real model, then the viewer on
// the result, headless on llvmpipe with the fixed frame clock. Every model loads without a
// warning and shows; an animated one changes where it moves between two frames and keeps
// the rest; one static and one skinned model match golden images, and show the same when
// the viewer opens the source file itself. Models of any size are framed alike, and the
// view's limits keep every model between the near and far planes.
#include "ToolRun.h"
#include "ModelWatch.h"
#include "SealedMemoryFile.h"
#include "ViewerLighting.h"
#include "ViewerScene.h"
#include "import/SrxWriter.h"
#include "support/GoldenImage.h"
#include "support/TempDir.h"

#include <assimp/Importer.hpp>
#include <assimp/scene.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

using lumaret::test::ReadFileBytes;
using lumaret::test::RunTool;

namespace {

namespace fs = std::filesystem;

const std::string kModels = "/usr/share/assimp/models/";
constexpr int kWidth = 640, kHeight = 480;
constexpr int kEarlyFrame = 5, kLateFrame = 25;  // ticks 120 and 600 of the animation clock

struct ViewCase {
    const char* source;  // below kModels
    const char* name;
    bool animated;
    size_t images;       // images the viewer finds next to the SRX file
    const char* golden;  // reference of the late frame, or null
    bool direct;         // also opened directly: the same frames
};

const ViewCase kCases[] = {
    {"X/anim_test.x", "anim_test", true, 0, "viewer_anim_test", true},
    {"glTF2/simple_skin/simple_skin.gltf", "simple_skin", true, 0, nullptr, false},
    {"OBJ/spider.obj", "spider", false, 5, nullptr, false},
    {"glTF2/BoxTextured-glTF-Binary/BoxTextured.glb", "box", false, 1, "viewer_box", true},
};

struct Frame {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
};

int ChannelDifference(uint32_t a, uint32_t b) {
    int largest = 0;
    for (int shift = 0; shift < 24; shift += 8)
        largest =
            std::max(largest, std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)));
    return largest;
}

// The length of a file's first clip in seconds, as Assimp reads it.
double ClipSeconds(const std::string& path) {
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(path, 0);
    if (!scene || scene->mNumAnimations == 0) return 0.0;
    const aiAnimation& clip = *scene->mAnimations[0];
    return clip.mDuration / (clip.mTicksPerSecond > 0.0 ? clip.mTicksPerSecond : 25.0);
}

size_t CountLines(const std::string& text, const std::string& start) {
    size_t count = 0;
    for (size_t at = text.find(start); at != std::string::npos; at = text.find(start, at + 1))
        if (at == 0 || text[at - 1] == '\n') ++count;
    return count;
}

class ViewerRun : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directory_symlink(fs::path(lumaret::test::SourceDir()) / "data", "data");
        fs::create_directory("models");
        // Headless whatever the desktop, with the fixed clock; a GL error ends the run.
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        setenv("LUMARET_FRAME_TIME", "0.0166666667", 1);
        setenv("LUMARET_HEADLESS_FRAMES", std::to_string(kLateFrame).c_str(), 1);
        setenv("LUMARET_SCREENSHOT_FRAMES", (std::to_string(kEarlyFrame) + "," + std::to_string(kLateFrame)).c_str(),
               1);
        setenv("LUMARET_GL_ERRORS_FATAL", "1", 1);
    }

    lumaret::test::ScopedTempDir dir_;
};

}  // namespace

TEST_F(ViewerRun, ConvertedModelsShowAndAnimate) {
    for (const ViewCase& c : kCases) {
        SCOPED_TRACE(c.source);
        std::string srx = std::string("models/") + c.name + ".srx";
        lumaret::test::ToolRun convert = RunTool("tools/srxconvert/srxconvert", kModels + c.source + " " + srx);
        ASSERT_EQ(convert.status, 0) << convert.output;

        setenv("LUMARET_SCREENSHOT", (std::string(c.name) + ".png").c_str(), 1);
        lumaret::test::ToolRun view = RunTool("tools/viewer/viewer", "--still " + srx);
        ASSERT_EQ(view.status, 0) << view.output;
        std::string log = ReadFileBytes("log.txt");
        for (const char* complaint : {"WARNING", "skipped", "outside"})
            EXPECT_EQ(log.find(complaint), std::string::npos) << complaint << " in\n" << log;
        EXPECT_EQ(CountLines(log, "Viewer: image ./data/"), c.images) << log;
        EXPECT_NE(log.find("Shutting down...\n"), std::string::npos);

        Frame early, late;
        for (auto [frame, image] : {std::pair(kEarlyFrame, &early), std::pair(kLateFrame, &late)}) {
            std::string path = std::string(c.name) + "_" + std::to_string(frame) + ".png";
            ASSERT_TRUE(lumaret::test::ReadPng(path, &image->width, &image->height, &image->pixels)) << path;
            ASSERT_EQ(image->width, kWidth);
            ASSERT_EQ(image->height, kHeight);
        }
        // The model covers a good part of the view: pixels unlike the background corner.
        uint32_t background = late.pixels[0];
        auto isModel = [&](uint32_t p) { return ChannelDifference(p, background) > 8; };
        size_t model = std::count_if(late.pixels.begin(), late.pixels.end(), isModel);
        EXPECT_GT(model, late.pixels.size() / 50) << "the model covers " << model << " pixels";

        // Between the frames: static models do not change at all; animated ones change
        // where they move, and keep the bottom twentieth of their extent, where the root bone
        // holds them.
        int top = kHeight, bottom = -1, largest = 0;
        size_t moved = 0, keptBand = 0, changedBand = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                size_t i = static_cast<size_t>(y) * kWidth + x;
                if (isModel(early.pixels[i]) || isModel(late.pixels[i])) {
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
                int change = ChannelDifference(early.pixels[i], late.pixels[i]);
                largest = std::max(largest, change);
                moved += change > 32 ? 1 : 0;
            }
        ASSERT_LT(top, bottom);
        for (int y = bottom - (bottom - top) / 20; y <= bottom; ++y)
            for (int x = 0; x < kWidth; ++x) {
                size_t i = static_cast<size_t>(y) * kWidth + x;
                if (!isModel(late.pixels[i])) continue;
                bool kept = ChannelDifference(early.pixels[i], late.pixels[i]) <= 4;
                keptBand += kept ? 1 : 0;
                changedBand += kept ? 0 : 1;
            }
        if (c.animated) {
            EXPECT_GT(moved, 1000u) << "pixels that changed by more than 32";
            EXPECT_GT(keptBand, 120u) << changedBand << " changed";
            EXPECT_LE(changedBand, keptBand / 20) << "pixels of the bottom band that changed";
        } else {
            EXPECT_LE(largest, 2) << "a static model changes between frames";
        }

        if (c.golden) lumaret::test::ExpectMatchesGolden(c.golden, late.width, late.height, late.pixels.data(), 6);

        // The source opened directly goes through the same conversion, in memory: the
        // same images and the same pixels, and no SRX file or image written anywhere. It
        // plays its clip in real time where the SRX file, which knows no seconds, steps the
        // clock 24 ticks a frame: a frame of 1/25 of the clip's length gives both the same
        // ticks.
        if (!c.direct) continue;
        setenv("LUMARET_SCREENSHOT", (std::string(c.name) + "_direct.png").c_str(), 1);
        if (c.animated) {
            char frameTime[32];
            std::snprintf(frameTime, sizeof(frameTime), "%.9f", ClipSeconds(kModels + c.source) / 25.0);
            setenv("LUMARET_FRAME_TIME", frameTime, 1);
        }
        lumaret::test::ToolRun direct = RunTool("tools/viewer/viewer", "--still " + kModels + c.source);
        setenv("LUMARET_FRAME_TIME", "0.0166666667", 1);
        ASSERT_EQ(direct.status, 0) << direct.output;
        EXPECT_EQ(CountLines(ReadFileBytes("log.txt"), "Viewer: image ./data/"), c.images);
        for (int frame : {kEarlyFrame, kLateFrame}) {
            Frame converted, opened;
            std::string suffix = "_" + std::to_string(frame) + ".png";
            ASSERT_TRUE(
                lumaret::test::ReadPng(c.name + suffix, &converted.width, &converted.height, &converted.pixels));
            ASSERT_TRUE(lumaret::test::ReadPng(std::string(c.name) + "_direct" + suffix, &opened.width, &opened.height,
                                               &opened.pixels));
            int largest = 0;
            for (size_t i = 0; i < converted.pixels.size(); ++i)
                largest = std::max(largest, ChannelDifference(converted.pixels[i], opened.pixels[i]));
            EXPECT_LE(largest, c.animated ? 2 : 0) << "frame " << frame << " differs";
        }
    }
    size_t files = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator("models")) files += entry.is_regular_file() ? 1 : 0;
    size_t expected = 0;
    for (const ViewCase& c : kCases) expected += 1 + c.images;
    EXPECT_EQ(files, expected) << "files in models/: only srxconvert's";
    for (const fs::directory_entry& entry : fs::directory_iterator("."))
        EXPECT_NE(entry.path().extension(), ".srx") << "the viewer wrote " << entry.path();
}

// Files the viewer refuses before it opens a window, each with its exit status and reason.
TEST_F(ViewerRun, RefusesWhatItCannotShow) {
    unsetenv("LUMARET_SCREENSHOT_FRAMES");  // no screenshot is asked for: the settings must hold without one
    lumaret::test::WriteFileBytes("empty.srx", "");
    SrxWriter truncated;  // a mesh that announces a primitive and has none: the engine would stop
    truncated.MeshHeader(0, 1);
    lumaret::test::WriteFileBytes("truncated.srx", std::string(truncated.Data().begin(), truncated.Data().end()));
    struct Case {
        std::string arguments;
        int status;
        const char* says;
    };
    lumaret::test::WriteFileBytes("garbage.xyz", "these bytes are no model\n");
    lumaret::test::WriteFileBytes("lines.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nl 1 2\nl 2 3\n");
    fs::create_directory("folder.srx");
    fs::create_directory("folder.glb");
    lumaret::test::WriteFileBytes("passwd.gltf", R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],
"nodes":[{"mesh":0}],"meshes":[{"primitives":[{"attributes":{"POSITION":0}}]}],
"buffers":[{"byteLength":36,"uri":"../../../../../../../../etc/passwd"}],"bufferViews":[{"buffer":0,"byteLength":36}],
"accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3","min":[0,0,0],"max":[1,1,0]}]})");
    // Collada nodes each naming the next twice: 2^28 nodes once the importer copies them.
    std::string library;
    for (int i = 0; i < 28; ++i)
        library += "<node id=\"n" + std::to_string(i) + "\"><instance_node url=\"#n" + std::to_string(i + 1) +
                   "\"/><instance_node url=\"#n" + std::to_string(i + 1) + "\"/></node>";
    lumaret::test::WriteFileBytes("shared.dae", R"(<?xml version="1.0"?><COLLADA version="1.4.1"><library_nodes>)" + library +
                                                    R"(</library_nodes><library_visual_scenes><visual_scene id="s"><node>)"
                                                    R"(<instance_node url="#n0"/></node></visual_scene></library_visual_scenes></COLLADA>)");
    const std::string anim = kModels + "X/anim_test.x";
    for (const Case& c :
         {Case{"--help", 0, "usage: viewer"}, Case{"", 1, "needs a model file"},
          Case{"--spin model.srx", 1, "unknown option --spin"}, Case{"--frames 0 model.srx", 1, "--frames needs"},
          Case{"--animation x model.srx", 1, "--animation needs"}, Case{"--screenshot", 1, "--screenshot needs"},
          Case{"--animation 1 " + anim, 1, "the scene has 1 animations"},
          Case{"missing.srx", 2, "cannot read missing.srx"}, Case{"missing.gltf", 2, "cannot read missing.gltf"},
          // Assimp's own reason, on one line.
          Case{"garbage.xyz", 2, "viewer: cannot read garbage.xyz: No suitable reader found"},
          Case{"--frames 1 --screenshot lines.png lines.obj", 0, "viewer: drawn: lines, unlit: 'defaultobject'"},
          Case{"folder.srx", 2, "cannot read folder.srx: is a directory"},
          Case{"folder.glb", 2, "cannot read folder.glb: is a directory"},
          Case{"/dev/null", 2, "cannot read /dev/null: is not a regular file"},
          Case{"passwd.gltf", 2, "it lies outside the model's folder"},
          Case{"shared.dae", 2, "viewer: cannot read shared.dae: its nodes expand to more than 262144"}, Case{"empty.srx", 3, "holds no meshes the engine draws"},
          Case{"truncated.srx", 3, "would stop the engine: ImportSRX: Mesh has no primitive chunk."}}) {
        lumaret::test::ToolRun run = RunTool("tools/viewer/viewer", c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments << ": " << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << c.arguments << ": " << run.output;
    }
}

namespace {

// Pixels unlike the background corner: where the model shows.
struct Extent {
    int left = kWidth, top = kHeight, right = -1, bottom = -1;
};

Extent ModelExtent(const Frame& frame) {
    Extent e;
    uint32_t background = frame.pixels[0];
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x)
            if (ChannelDifference(frame.pixels[static_cast<size_t>(y) * frame.width + x], background) > 8) {
                e.left = std::min(e.left, x);
                e.right = std::max(e.right, x);
                e.top = std::min(e.top, y);
                e.bottom = std::max(e.bottom, y);
            }
    return e;
}

void WriteBox(const std::string& path, float sx, float sy, float sz) {
    std::ofstream obj(path);
    for (int i = 0; i < 8; ++i)
        obj << "v " << (i & 1 ? sx : -sx) << " " << (i & 2 ? sy : -sy) << " " << (i & 4 ? sz : -sz) << "\n";
    obj << "f 1 3 4 2\nf 5 6 8 7\nf 1 2 6 5\nf 3 7 8 4\nf 1 5 7 3\nf 2 4 8 6\n";
}

// A four-sided pyramid whose apex points along +axis ('x', 'y' or 'z'), or -axis with sign
// -1. As FBX (by the extension) its settings say that z is up, with that sign, as a Z-up
// modelling tool's do.
void WritePyramid(const std::string& path, char axis, int sign = 1) {
    int along = axis - 'x';
    std::vector<std::array<float, 3>> points;
    for (auto [a, b] : {std::pair(0, 0), std::pair(-1, -1), std::pair(1, -1), std::pair(1, 1), std::pair(-1, 1)}) {
        std::array<float, 3> p{};
        p[along] = a == 0 && b == 0 ? 3.0f * sign : 0.0f;
        p[(along + 1) % 3] = static_cast<float>(a);
        p[(along + 2) % 3] = static_cast<float>(b);
        points.push_back(p);
    }
    // Both windings, so that every side shows from anywhere.
    const std::vector<std::vector<int>> faces = {{0, 1, 2}, {0, 2, 3}, {0, 3, 4}, {0, 4, 1}, {0, 2, 1},
                                                 {0, 3, 2}, {0, 4, 3}, {0, 1, 4}, {1, 2, 3, 4}, {4, 3, 2, 1}};
    std::ofstream out(path);
    if (fs::path(path).extension() != ".fbx") {
        for (const auto& p : points) out << "v " << p[0] << " " << p[1] << " " << p[2] << "\n";
        for (const auto& face : faces) {
            out << "f";
            for (int i : face) out << " " << i + 1;
            out << "\n";
        }
        return;
    }
    out << "; FBX 7.4.0 project file\nFBXHeaderExtension: {\n FBXHeaderVersion: 1003\n FBXVersion: 7400\n}\n"
        << "GlobalSettings: {\n Version: 1000\n Properties70: {\n  P: \"UpAxis\", \"int\", \"Integer\", \"\",2\n"
        << "  P: \"UpAxisSign\", \"int\", \"Integer\", \"\"," << sign << "\n }\n}\n"
        << "Objects: {\n Geometry: 1, \"Geometry::pyramid\", \"Mesh\" {\n  Vertices: *15 {\n   a: ";
    for (size_t i = 0; i < points.size(); ++i)
        out << (i ? "," : "") << points[i][0] << "," << points[i][1] << "," << points[i][2];
    out << "\n  }\n  PolygonVertexIndex: *34 {\n   a: ";
    // A polygon's last index is stored as its complement.
    for (size_t f = 0; f < faces.size(); ++f)
        for (size_t i = 0; i < faces[f].size(); ++i)
            out << (f || i ? "," : "") << (i + 1 == faces[f].size() ? ~faces[f][i] : faces[f][i]);
    out << "\n  }\n }\n Model: 2, \"Model::pyramid\", \"Mesh\" {\n }\n}\n"
        << "Connections: {\n C: \"OO\",1,2\n C: \"OO\",2,0\n}\n";
}

// A cube with one normal per face, pointing out (sign 1) or in (sign -1).
void WriteCube(const std::string& path, int sign) {
    std::ofstream obj(path);
    for (int i = 0; i < 8; ++i) obj << "v " << (i & 1 ? 1 : -1) << " " << (i & 2 ? 1 : -1) << " " << (i & 4 ? 1 : -1) << "\n";
    const char* faces[] = {"1 3 4 2", "5 6 8 7", "1 2 6 5", "3 7 8 4", "1 5 7 3", "2 4 8 6"};
    const int normals[][3] = {{0, 0, -1}, {0, 0, 1}, {0, -1, 0}, {0, 1, 0}, {-1, 0, 0}, {1, 0, 0}};
    for (const auto& n : normals) obj << "vn " << sign * n[0] << " " << sign * n[1] << " " << sign * n[2] << "\n";
    for (int f = 0; f < 6; ++f) {
        obj << "f";
        for (const char* c = faces[f]; *c; ++c)
            if (*c != ' ') obj << " " << *c << "//" << f + 1;
        obj << "\n";
    }
}

}  // namespace

// A file of two clips shows the timeline at the bottom-left from the start: the bar's filled
// part is the clock's place in its cycle (frame 10 of the fixed clock: tick 240 of 600).
TEST_F(ViewerRun, TheTimelineBarFillsWithTheClock) {
    unsetenv("LUMARET_SCREENSHOT_FRAMES");
    unsetenv("LUMARET_SCREENSHOT");
    std::string model = lumaret::test::SourceDir() + "/tests/data/two_animations.gltf";
    lumaret::test::ToolRun run = RunTool("tools/viewer/viewer", "--still --frames 10 --screenshot clip.png " + model);
    ASSERT_EQ(run.status, 0) << run.output;
    Frame frame;
    ASSERT_TRUE(lumaret::test::ReadPng("clip.png", &frame.width, &frame.height, &frame.pixels));
    int barRow = -1, filled = 0;
    for (int y = kHeight - 40; y < kHeight; ++y) {
        int n = 0;
        for (int x = 0; x < kWidth / 2; ++x) n += (frame.pixels[static_cast<size_t>(y * kWidth + x)] & 0xFFFFFF) == 0xE0E0E0;
        if (n > filled) filled = n, barRow = y;
    }
    ASSERT_GE(barRow, 0) << "no bar";
    // The bar's backing spans the panel below it; the fill starts at its left. The clip is
    // 1 s long and plays in real time: 10 frames of 1/60 s fill a sixth of it.
    int right = 0;
    for (int x = 0; x < kWidth; ++x)
        if ((frame.pixels[static_cast<size_t>((barRow + 3) * kWidth + x)] & 0xFFFFFF) != (frame.pixels[0] & 0xFFFFFF))
            right = x;
    EXPECT_EQ(frame.pixels[static_cast<size_t>(barRow * kWidth + 5)] & 0xFFFFFF, 0xE0E0E0u);
    EXPECT_NEAR(filled, (right - 5) / 6.0, 2.0) << "bar row " << barRow << ", panel to x " << right;
}

// The summary at load counts what the engine draws, beside what the file holds where they
// differ (the engine's material list keeps Assimp's unused default), and names every image
// the materials draw, the ones that are not there marked: an OBJ copied without its
// images, and ClearCoatTest, whose emissive and metal/roughness maps count as its diffuse
// and normal maps do (its normal-mapped materials without a diffuse map name none).
TEST_F(ViewerRun, TheSummaryNamesEveryImageAModelDrawsAndThoseItMisses) {
    unsetenv("LUMARET_SCREENSHOT_FRAMES");
    unsetenv("LUMARET_SCREENSHOT");
    fs::create_directory("bare");
    for (const char* file : {"spider.obj", "spider.mtl"}) fs::copy_file(kModels + "OBJ/" + file, std::string("bare/") + file);
    struct Case {
        std::string file;
        std::vector<std::string> lines, images;
    };
    const Case cases[] = {
        {"bare/spider.obj",
         {"Model: spider.obj (OBJ, converted)\n", "Model: drawn: meshes 19  vertices 946  triangles 1368\n",
          "Model: materials 6  bones 0\n", "Model: in the file: meshes 19  materials 5  triangles 1368\n",
          "Model: images 5: ", "Model: animations 0\n"},
         {"SpiderTex.jpg (missing)", "drkwood2.jpg (missing)"}},
        {kModels + "glTF2/ClearCoat-glTF/ClearCoatTest.gltf",
         {"Model: clearcoattest.gltf (GLTF, converted)\n", "Model: images 5: "},
         {"partialcoating_alpha.png", "roughnessstripes.png", "ribsnormal.png", "plasticwrap_normals.jpg",
          "clearcoatlabels.png"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        lumaret::test::ToolRun run = RunTool("tools/viewer/viewer", "--still --frames 1 --screenshot summary.png " + c.file);
        ASSERT_EQ(run.status, 0) << run.output;
        std::string log = ReadFileBytes("log.txt");
        for (const std::string& line : c.lines) EXPECT_EQ(CountLines(log, line), 1u) << line << log;
        for (const std::string& image : c.images) EXPECT_NE(log.find(image), std::string::npos) << image << "\n" << log;
    }
}

// A millimetre and a kilometre box look the same; every model fills about three quarters
// of the view's binding dimension, centred and whole.
TEST_F(ViewerRun, FramesModelsOfAnySizeAlike) {
    unsetenv("LUMARET_SCREENSHOT_FRAMES");
    unsetenv("LUMARET_SCREENSHOT");
    WriteBox("millimetre.obj", 0.0005f, 0.0004f, 0.0003f);
    WriteBox("kilometre.obj", 500.0f, 400.0f, 300.0f);
    WriteBox("needle.obj", 0.001f, 0.00001f, 0.00001f);
    std::vector<std::pair<std::string, std::string>> models = {{"millimetre", "millimetre.obj"},
                                                               {"kilometre", "kilometre.obj"},
                                                               {"needle", "needle.obj"},
                                                               {"spider", kModels + "OBJ/spider.obj"},
                                                               {"anim_test", kModels + "X/anim_test.x"}};
    std::map<std::string, Frame> frames;
    for (const auto& [name, file] : models) {
        SCOPED_TRACE(name);
        lumaret::test::ToolRun run =
            RunTool("tools/viewer/viewer", "--still --frames 1 --screenshot " + name + ".png " + file);
        ASSERT_EQ(run.status, 0) << run.output;
        Frame& frame = frames[name];
        ASSERT_TRUE(lumaret::test::ReadPng(name + ".png", &frame.width, &frame.height, &frame.pixels));
        Extent e = ModelExtent(frame);
        ASSERT_LT(e.left, e.right);
        double fill = std::max((e.right - e.left + 1) / double(kWidth), (e.bottom - e.top + 1) / double(kHeight));
        EXPECT_LE(fill, 0.9);
        // An animated model is framed over its whole animation (FramesTheWholeAnimation):
        // its first pose need not fill the view or sit in its middle.
        if (name != "anim_test") {
            EXPECT_GE(fill, 0.6);
            EXPECT_NEAR(0.5 * (e.left + e.right), kWidth / 2.0, 0.05 * kWidth);
            EXPECT_NEAR(0.5 * (e.top + e.bottom), kHeight / 2.0, 0.05 * kHeight);
        }
        EXPECT_TRUE(e.left > 0 && e.top > 0 && e.right < kWidth - 1 && e.bottom < kHeight - 1) << "cut off";
    }
    // The same picture, but for the last bit of a few channels where rounding in the two
    // framing matrices lands a light's shading differently.
    int largest = 0;
    for (size_t i = 0; i < frames["millimetre"].pixels.size(); ++i)
        largest = std::max(largest, ChannelDifference(frames["millimetre"].pixels[i], frames["kilometre"].pixels[i]));
    EXPECT_LE(largest, 1);
}

// Circling, the camera goes round the model's centre at one distance that fits every side:
// at every step of a whole turn the model is inside the picture (no pixel of it on the
// border) and no speck in it, on models the first view's close fit let slide out or come
// too close while turning (long, tall, off-centre, or first seen end-on).
TEST_F(ViewerRun, TheCircledModelStaysInsideThePicture) {
    // Half a second a frame turns the camera 0.2 radians: a whole turn in 32 frames.
    setenv("LUMARET_FRAME_TIME", "0.5", 1);
    setenv("LUMARET_SCREENSHOT_FRAMES", "1,4,8,12,16,20,24,28,32", 1);
    for (const char* model : {"PLY/Wuson.ply", "OFF/Wuson.off", "BLEND/HUMAN.blend",
                              "glTF2/BoxTextured-glTF-Binary/BoxTextured.glb"}) {
        SCOPED_TRACE(model);
        lumaret::test::ToolRun run = RunTool("tools/viewer/viewer", "--frames 32 --screenshot turn.png " + kModels + model);
        ASSERT_EQ(run.status, 0) << run.output;
        for (int frame : {1, 4, 8, 12, 16, 20, 24, 28, 32}) {
            Frame shot;
            ASSERT_TRUE(lumaret::test::ReadPng("turn_" + std::to_string(frame) + ".png", &shot.width, &shot.height,
                                               &shot.pixels));
            Extent e = ModelExtent(shot);
            EXPECT_TRUE(e.left > 0 && e.top > 0 && e.right < kWidth - 1 && e.bottom < kHeight - 1)
                << "frame " << frame << " cut off: " << e.left << " " << e.top << " " << e.right << " " << e.bottom;
            double fill = std::max((e.right - e.left + 1) / double(kWidth), (e.bottom - e.top + 1) / double(kHeight));
            EXPECT_GE(fill, 0.25) << "frame " << frame;
        }
    }
}

// A screenshot alone is the first frame (under the fixed clock, the circling camera's
// first step), not the headless run's default of 600 frames.
TEST_F(ViewerRun, AScreenshotAloneIsTheFirstFrame) {
    unsetenv("LUMARET_HEADLESS_FRAMES");
    unsetenv("LUMARET_SCREENSHOT_FRAMES");
    const std::string model = kModels + "glTF2/BoxTextured-glTF-Binary/BoxTextured.glb";
    for (const char* options : {"--screenshot alone.png ", "--frames 1 --screenshot one.png "}) {
        lumaret::test::ToolRun run = RunTool("tools/viewer/viewer", options + model);
        ASSERT_EQ(run.status, 0) << run.output;
    }
    EXPECT_EQ(ReadFileBytes("alone.png"), ReadFileBytes("one.png"));
}

// Installed with cmake --install (as lumaret-viewer) and run from a folder without ./data,
// the viewer finds its shaders and font in PREFIX/share/lumaret/data and its shader helper
// in PREFIX/lib/lumaret, and shows the model (so does the
// build tree's, from beside itself); a copy of it with no data beside it or installed
// says where it looked and exits 2, before it opens anything.
TEST_F(ViewerRun, RunsFromAnyFolderInstalledOrNot) {
    unsetenv("LUMARET_SCREENSHOT_FRAMES");
    fs::create_directories("elsewhere/lonely");
    lumaret::test::ToolRun install =
        lumaret::test::RunCommand("cmake --install " + lumaret::test::BuildDir() + " --prefix prefix");
    ASSERT_EQ(install.status, 0) << install.output;
    EXPECT_TRUE(fs::is_regular_file("prefix/lib/lumaret/hlslfront"));
    EXPECT_FALSE(fs::exists("prefix/bin/hlslfront"));
    EXPECT_FALSE(fs::exists("prefix/bin/viewer"));
    fs::copy_file("prefix/bin/lumaret-viewer", "elsewhere/lonely/viewer");
    const std::string model = kModels + "glTF2/BoxTextured-glTF-Binary/BoxTextured.glb";
    struct Case {
        std::string viewer;
        int status;
        const char* says;
    };
    for (const Case& c : {Case{"../prefix/bin/lumaret-viewer", 0, ""}, Case{lumaret::test::BuildDir() + "/tools/viewer/viewer", 0, ""},
                          Case{"lonely/viewer", 2, "viewer: cannot find its shaders and font: "}}) {
        SCOPED_TRACE(c.viewer);
        fs::remove("elsewhere/shot.png");
        lumaret::test::ToolRun run =
            lumaret::test::RunCommand("cd elsewhere && " + c.viewer + " --still --frames 3 --screenshot shot.png " + model);
        EXPECT_EQ(run.status, c.status) << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
        if (c.status != 0) {
            EXPECT_NE(run.output.find("lonely/data does not exist"), std::string::npos) << run.output;
            EXPECT_FALSE(fs::exists("elsewhere/shot.png"));
            continue;
        }
        Frame frame;
        ASSERT_TRUE(lumaret::test::ReadPng("elsewhere/shot.png", &frame.width, &frame.height, &frame.pixels));
        Extent e = ModelExtent(frame);
        EXPECT_GT((e.right - e.left) * (e.bottom - e.top), kWidth * kHeight / 4) << "the model does not show";
    }
    EXPECT_EQ(lumaret::test::RunCommand("cd elsewhere && ../prefix/bin/srxconvert " + model + " box.srx").status, 0);
}

// Lit to show every side in view: no visible surface of these untextured models is black
// (the ambient floor and the fill light reach where the key light does not; fels.3ds has a
// black ambient colour), and a cube whose
// normals point inward looks like the one whose normals point out, after one line that
// says so.
TEST_F(ViewerRun, EverySideInViewIsLit) {
    unsetenv("LUMARET_SCREENSHOT_FRAMES");
    WriteCube("cube.obj", 1);
    WriteCube("inward.obj", -1);
    std::map<std::string, Frame> frames;
    for (const std::string& file :
         {kModels + "3DS/fels.3ds", kModels + "X/anim_test.x", std::string("cube.obj"), std::string("inward.obj")}) {
        SCOPED_TRACE(file);
        lumaret::test::ToolRun run = RunTool("tools/viewer/viewer", "--still --frames 3 --screenshot shot.png " + file);
        ASSERT_EQ(run.status, 0) << run.output;
        Frame& frame = frames[fs::path(file).stem().string()];
        ASSERT_TRUE(lumaret::test::ReadPng("shot.png", &frame.width, &frame.height, &frame.pixels));
        uint32_t background = frame.pixels[0];
        size_t model = 0, black = 0;
        for (uint32_t p : frame.pixels) {
            if (ChannelDifference(p, background) <= 8) continue;
            ++model;
            black += ChannelDifference(p, 0xFF000000u) < 16 ? 1 : 0;
        }
        EXPECT_GT(model, frame.pixels.size() / 40);
        EXPECT_LE(black, model / 500) << black << " of " << model << " model pixels are black";
        std::string log = ReadFileBytes("log.txt");
        EXPECT_EQ(CountLines(log, "Model: mesh "), file == "inward.obj" ? 1u : 0u) << log;
    }
    int largest = 0;
    for (size_t i = 0; i < frames["cube"].pixels.size(); ++i)
        largest = std::max(largest, ChannelDifference(frames["cube"].pixels[i], frames["inward"].pixels[i]));
    EXPECT_LE(largest, 1) << "the cube with inward normals looks unlike the one with outward normals";
}

// The lights stand at one distance from the model's centre, at the same angles to the
// camera, wherever the user zooms or pans: brightness does not follow the zoom.
TEST(ViewerLighting, LightsKeepTheirPlaceToTheModelWhateverTheZoomAndPan) {
    viewer::OrbitView near, far;
    near.yaw = far.yaw = 0.7f;
    near.distance = 300.0f;
    far.distance = 1700.0f;
    far.target = D3DXVECTOR3(90.0f, -40.0f, 10.0f);
    viewer::ViewerLights atNear, atFar;
    atNear.Follow(near);
    atFar.Follow(far);
    for (const auto& [a, b] : {std::pair(atNear.key.position, atFar.key.position),
                               std::pair(atNear.fill.position, atFar.fill.position)}) {
        EXPECT_NEAR(D3DXVec3Length(&a), viewer::kLightDistance, 1e-2);
        D3DXVECTOR3 difference = a - b;
        EXPECT_LT(D3DXVec3Length(&difference), 1e-2);
    }
    EXPECT_LT(atNear.fill.color.x, atNear.key.color.x);
}

// What the engine does not draw is named once each, in the log and on stderr (a missing
// image), and so is what it draws beyond diffuse and normal maps (alpha blending, morph
// targets) or approximates (metal/roughness); an image beside
// the model is logged from where it was read, not as if it were in ./data/.
TEST_F(ViewerRun, SaysOnceWhatItDoesNotDraw) {
    unsetenv("LUMARET_SCREENSHOT_FRAMES");
    fs::create_directory("model");
    fs::copy_file(kModels + "glTF2/BoxTextured-glTF/CesiumLogoFlat.png", "model/logo.png");
    lumaret::test::WriteFileBytes("model/features.gltf", R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],
"nodes":[{"mesh":0}],"images":[{"uri":"logo.png"},{"uri":"nowhere.png"}],"textures":[{"source":0},{"source":1}],
"materials":[{"name":"shiny","pbrMetallicRoughness":{"baseColorTexture":{"index":0},
  "metallicRoughnessTexture":{"index":0}},"emissiveTexture":{"index":0},"alphaMode":"BLEND"},
 {"name":"lost","pbrMetallicRoughness":{"baseColorTexture":{"index":1}}}],
"meshes":[{"name":"blob","primitives":[{"attributes":{"POSITION":0},"material":0,"targets":[{"POSITION":0}]},
 {"attributes":{"POSITION":0},"material":1}]}],
"buffers":[{"byteLength":36,"uri":"data:application/octet-stream;base64,AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAgD8AAAAA"}],
"bufferViews":[{"buffer":0,"byteLength":36}],
"accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3","min":[0,0,0],"max":[1,1,0]}]})");
    lumaret::test::ToolRun run = RunTool("tools/viewer/viewer", "--still --frames 2 --screenshot shot.png model/features.gltf");
    ASSERT_EQ(run.status, 0) << run.output;
    std::string log = ReadFileBytes("log.txt");
    for (const std::string& line :
         {std::string("approximated: metal/roughness: 'shiny'"), std::string("drawn: alpha blending: 'shiny'"),
          std::string("drawn: morph targets, at rest: 'blob-0'"),  // Assimp's name for the primitive
          std::string("image 'nowhere.png' not found next to the model")}) {
        SCOPED_TRACE(line);
        size_t modelLines = 0;
        for (size_t at = log.find("\nModel: "); at != std::string::npos; at = log.find("\nModel: ", at + 1))
            modelLines += log.substr(at, log.find('\n', at + 1) - at).find(line) != std::string::npos ? 1 : 0;
        EXPECT_EQ(modelLines, 1u) << log;
        size_t first = run.output.find(line);
        EXPECT_NE(first, std::string::npos) << run.output;
        EXPECT_EQ(run.output.find(line, first + 1), std::string::npos) << "said twice: " << run.output;
    }
    EXPECT_EQ(CountLines(log, "Viewer: image ./data/logo.png from " + (fs::current_path() / "model/logo.png").string()),
              1u)
        << log;
}

// The framing holds the whole animation, not only its first pose: BCN_Epileptic.X moves
// far from where it starts, and stays whole in the view at every tick the clock shows.
TEST_F(ViewerRun, FramesTheWholeAnimation) {
    setenv("LUMARET_SCREENSHOT_FRAMES", "5,10,15,20,25", 1);
    lumaret::test::ToolRun run =
        RunTool("tools/viewer/viewer", "--still --screenshot dance.png " + kModels + "X/BCN_Epileptic.X");
    ASSERT_EQ(run.status, 0) << run.output;
    for (int frame = 5; frame <= 25; frame += 5) {
        SCOPED_TRACE(frame);
        Frame shot;
        ASSERT_TRUE(lumaret::test::ReadPng("dance_" + std::to_string(frame) + ".png", &shot.width, &shot.height,
                                           &shot.pixels));
        Extent e = ModelExtent(shot);
        ASSERT_LT(e.left, e.right);
        EXPECT_TRUE(e.left > 0 && e.top > 0 && e.right < kWidth - 1 && e.bottom < kHeight - 1)
            << "cut off: " << e.left << "," << e.top << " to " << e.right << "," << e.bottom;
    }
}

// Up axes: a pyramid whose apex points along y, z or x stands apex up (narrow at the top
// of its picture, wide at the bottom) on the axis --up names, else on the one its file's
// settings name (an FBX file's: z, or -z), which --up overrides; --size renders at another
// 4:3 size, and refuses others.
TEST_F(ViewerRun, StandsModelsUprightAtAnySize) {
    unsetenv("LUMARET_SCREENSHOT_FRAMES");
    struct Case {
        std::string file;
        char axis;
        int sign;
        std::string options;
        int width, height;
        std::string upLine;  // the log's, if any
    };
    for (const Case& c : {Case{"pyramid_y.obj", 'y', 1, "", 640, 480, ""},
                          Case{"pyramid_z.obj", 'z', 1, "--up z", 640, 480, "Viewer: up axis z (--up)"},
                          Case{"pyramid_x.obj", 'x', 1, "--up x --size 320x240", 320, 240, "Viewer: up axis x (--up)"},
                          Case{"pyramid_z.fbx", 'z', 1, "", 640, 480, "Viewer: up axis z (the file's)"},
                          Case{"pyramid_minus_z.fbx", 'z', -1, "", 640, 480, "Viewer: up axis -z (the file's)"},
                          Case{"pyramid_x.fbx", 'x', 1, "--up x", 640, 480, "Viewer: up axis x (--up)"}}) {
        SCOPED_TRACE(c.file + " " + c.options);
        WritePyramid(c.file, c.axis, c.sign);
        lumaret::test::ToolRun run =
            RunTool("tools/viewer/viewer", "--still " + c.options + " --frames 2 --screenshot shot.png " + c.file);
        ASSERT_EQ(run.status, 0) << run.output;
        std::string log = ReadFileBytes("log.txt");
        if (c.upLine.empty())
            EXPECT_EQ(log.find("Viewer: up axis"), std::string::npos) << log;
        else
            EXPECT_NE(log.find(c.upLine + "\n"), std::string::npos) << log;
        Frame frame;
        ASSERT_TRUE(lumaret::test::ReadPng("shot.png", &frame.width, &frame.height, &frame.pixels));
        ASSERT_EQ(frame.width, c.width);
        ASSERT_EQ(frame.height, c.height);
        Extent e = ModelExtent(frame);
        ASSERT_LT(e.top, e.bottom);
        auto rowWidth = [&](int y) {
            int left = frame.width, right = -1;
            for (int x = 0; x < frame.width; ++x)
                if (ChannelDifference(frame.pixels[static_cast<size_t>(y) * frame.width + x], frame.pixels[0]) > 8) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
            return right - left;
        };
        int quarter = (e.bottom - e.top) / 4;
        EXPECT_LT(2 * rowWidth(e.top + quarter / 2), rowWidth(e.bottom - quarter)) << "not apex up";
    }
    lumaret::test::ToolRun odd = RunTool("tools/viewer/viewer", "--size 300x300 pyramid_y.obj");
    EXPECT_EQ(odd.status, 1);
    EXPECT_NE(odd.output.find("--size needs WIDTHxHEIGHT at 4:3"), std::string::npos) << odd.output;
}

// A million-point model is framed from one point per grid cell: the bounds stay exact and
// the framing (distance, fill, centring) within a fraction of a percent of all points'.
TEST(ViewerFraming, FewerPointsFrameAsAllDo) {
    std::vector<D3DXVECTOR3> cloud;
    for (int i = 0; i < 300000; ++i) {
        float a = 0.001f * static_cast<float>(i), b = 0.0173f * static_cast<float>(i);
        cloud.emplace_back(3.0f * std::cos(a) * std::sin(b), 1.0f + std::cos(b), 0.5f * std::sin(a) * std::sin(b));
    }
    std::vector<D3DXVECTOR3> few = viewer::FramingPoints(cloud);
    EXPECT_LT(few.size(), cloud.size() / 4);
    viewer::Bounds all = viewer::BoundsOf(cloud), kept = viewer::BoundsOf(few);
    EXPECT_TRUE(all.min == kept.min && all.max == kept.max);
    viewer::Framing exact = viewer::FrameModel(cloud, viewer::OrbitView()), quick = viewer::FrameModel(few, viewer::OrbitView());
    EXPECT_NEAR(quick.view.distance, exact.view.distance, 0.005 * exact.view.distance);
    EXPECT_NEAR(quick.fill, exact.fill, 0.005);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(quick.world.m[i / 4][i % 4], exact.world.m[i / 4][i % 4], 0.5f);
}

// A morphing mesh is framed by its rest shape and each target at full weight (z negated as
// the engine draws it); a target whose vertex count differs from its mesh's is left out.
TEST(ViewerFraming, AMorphingMeshIsFramedByEveryTargetAtFullWeight) {
    SrxScene scene(nullptr, 0);
    scene.nodes.emplace_back().matrix[0] = 1.0f;
    for (int i : {5, 10, 15}) scene.nodes[0].matrix[i] = 1.0f;
    SrxPrimitive& triangle = scene.meshes.emplace_back().primitives.emplace_back();
    for (float x : {0.0f, 1.0f, 0.0f}) triangle.vertices.emplace_back().position[0] = x;
    triangle.vertices[2].position[1] = 1.0f;
    SrxMorphTarget up, back, short_;
    up.positions = {{0, 0, 0}, {0, 0, 0}, {0, 3, 0}};
    back.positions = {{-2, 0, 0}, {0, 0, 1}, {0, 0, 0}};
    short_.positions = {{50, 50, 50}};
    triangle.morphTargets = {up, back, short_};
    viewer::Bounds bounds = viewer::BoundsOf(viewer::FirstPose(scene));
    EXPECT_EQ(bounds.min, D3DXVECTOR3(-2.0f, 0.0f, -1.0f));
    EXPECT_EQ(bounds.max, D3DXVECTOR3(1.0f, 4.0f, 0.0f));
}

// Wherever the user turns, zooms or pans, every point of the framed model stays short of
// the far plane, and beyond the near plane while the camera is outside the model's sphere;
// the wheel zooms in to a few percent of the framing distance, the near plane following.
TEST(ViewerFraming, EveryViewKeepsTheModelBetweenTheClipPlanes) {
    std::vector<D3DXVECTOR3> spiky;  // lopsided: one long arm
    for (int i = 0; i < 200; ++i) {
        float a = 0.1f * static_cast<float>(i);
        spiky.emplace_back(std::cos(a), std::sin(2.0f * a), std::sin(a) * 0.3f);
    }
    spiky.emplace_back(40.0f, -3.0f, 2.0f);
    std::vector<D3DXVECTOR3> tiny, huge;
    for (const D3DXVECTOR3& p : spiky) {
        tiny.push_back(1e-6f * p);
        huge.push_back(1e5f * p);
    }
    for (const auto* points : {&spiky, &tiny, &huge}) {
        viewer::Framing framing = viewer::FrameModel(*points, viewer::OrbitView());
        std::vector<D3DXVECTOR3> placed;
        for (const D3DXVECTOR3& p : *points) {
            D3DXVECTOR4 q;
            D3DXVec3Transform(&q, &p, &framing.world);
            placed.emplace_back(q.x, q.y, q.z);
        }
        viewer::Projection start = viewer::Project(placed, framing.view);
        EXPECT_NEAR(start.fill, viewer::kFill, 0.01);
        EXPECT_NEAR(start.centreX, 0.0, 0.02);
        EXPECT_NEAR(start.centreY, 0.0, 0.02);
        struct Move {
            float orbitX, orbitY, zoom, panX, panY;
        };
        for (const Move& m :
             {Move{0, 0, 50, 0, 0}, Move{0, 0, -50, 0, 0}, Move{300, -200, 50, 0, 0}, Move{-100, 900, 50, 5000, 5000},
              Move{50, -900, -50, -5000, 300}, Move{0, 0, 50, 0, -5000}}) {
            viewer::OrbitView view = framing.view;
            view.Orbit(m.orbitX, m.orbitY);
            view.Pan(m.panX, m.panY, kHeight);
            view.Zoom(m.zoom);
            D3DXVECTOR3 eye = view.Eye(), up(0.0f, 1.0f, 0.0f);
            D3DXMATRIX lookAt;
            D3DXMatrixLookAtLH(&lookAt, &eye, &view.target, &up);
            bool outside = view.distance >= view.NearestDistance();
            if (m.zoom > 0) {
                EXPECT_NEAR(view.distance, viewer::kZoomFloor * framing.view.distance, 0.01 * view.distance);
                EXPECT_LE(view.NearPlane(), 0.0101f * view.distance);
            }
            for (const D3DXVECTOR3& p : placed) {
                D3DXVECTOR4 v;
                D3DXVec3Transform(&v, &p, &lookAt);
                if (outside) {
                    ASSERT_GT(v.z, view.NearPlane()) << "zoom " << m.zoom << " pan " << m.panX;
                }
                ASSERT_LT(v.z, viewer::kFar) << "zoom " << m.zoom << " pan " << m.panX;
            }
        }
    }
}

// A save is told once, when its writer is done: one made after the read but before the
// watch on the files began (a save while the viewer starts), one written in place by a
// writer that pauses half-way (nothing until it closes), one moved into place; a file
// opened for writing and closed unchanged is no save.
TEST(ModelWatch, TellsEachSaveOnceItsWriterIsDone) {
    lumaret::test::ScopedTempDir dir;
    const std::string folder = fs::canonical(".").string();
    const std::string model = folder + "/model.obj", image = folder + "/tex.png";
    lumaret::test::WriteFileBytes(model, "v 0 0 0\n");
    lumaret::test::WriteFileBytes(image, "a");
    viewer::ModelWatch watch;
    ASSERT_TRUE(watch.Notified()) << "no inotify here";
    watch.WatchFolder(folder);
    std::vector<viewer::WatchedFile> read = {{model, viewer::FileStamp::Of(model)},
                                             {image, viewer::FileStamp::Of(image)}};
    lumaret::test::WriteFileBytes(image, "bb");
    watch.Watch(read);
    EXPECT_EQ(watch.Look(), image);
    EXPECT_EQ(watch.Look(), "");

    FILE* writer = std::fopen(model.c_str(), "wb");
    ASSERT_NE(writer, nullptr);
    std::fputs("v 1", writer);
    std::fflush(writer);
    for (int look = 0; look < 3; ++look) EXPECT_EQ(watch.Look(), "") << "half a save told";
    std::fputs(" 1 1 1\n", writer);
    std::fclose(writer);
    EXPECT_EQ(watch.Look(), model);

    lumaret::test::WriteFileBytes(folder + "/tex.new", "ccc");
    fs::rename(folder + "/tex.new", image);
    EXPECT_EQ(watch.Look(), image);

    std::fclose(std::fopen(model.c_str(), "ab"));
    EXPECT_EQ(watch.Look(), "");
}

// The bytes an import child hands back: its pieces end to end, and a memory file the child
// could still write, grow or shrink is refused, so its size is the one the viewer reads.
TEST(SealedMemoryFile, PiecesArriveWholeAndOnlySealedFilesAreRead) {
    srxconvert::BytePieces pieces = {{1, 2, 3}, {}, {4}, std::vector<uint8_t>(70000, 5)};
    std::string why;
    int sealed = viewer::SealedMemoryFile(pieces, why);
    ASSERT_GE(sealed, 0) << why;
    EXPECT_EQ(write(sealed, "x", 1), -1) << "a sealed file took a write";
    viewer::ModelBytes bytes;
    ASSERT_TRUE(viewer::ReadSealedMemoryFile(dup(sealed), 1 << 20, bytes, why)) << why;
    ASSERT_EQ(bytes.size(), 70004u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.data(), bytes.data() + 5), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(bytes.data()[70003], 5);

    EXPECT_FALSE(viewer::ReadSealedMemoryFile(sealed, 1000, bytes, why));
    EXPECT_NE(why.find("70004 bytes"), std::string::npos) << why;
    EXPECT_TRUE(bytes.empty());

    struct Case {
        const char* name;
        unsigned seals;
    };
    for (const Case& c : {Case{"unsealed", 0u}, Case{"still writable", F_SEAL_GROW | F_SEAL_SHRINK},
                          Case{"may shrink", F_SEAL_WRITE | F_SEAL_GROW}}) {
        int file = memfd_create("test", MFD_ALLOW_SEALING);
        ASSERT_EQ(write(file, "abc", 3), 3);
        if (c.seals) {
            ASSERT_EQ(fcntl(file, F_ADD_SEALS, c.seals), 0);
        }
        why.clear();
        EXPECT_FALSE(viewer::ReadSealedMemoryFile(file, 1 << 20, bytes, why)) << c.name;
        EXPECT_EQ(why, "its model's memory file is not sealed") << c.name;
    }
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    close(pipeEnds[1]);
    EXPECT_FALSE(viewer::ReadSealedMemoryFile(pipeEnds[0], 1 << 20, bytes, why));
    EXPECT_NE(why.find("not in a memory file"), std::string::npos) << why;
}
