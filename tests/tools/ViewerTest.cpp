// The content workflow as a user runs it: srxconvert on a real model, then the viewer on
// the result, headless on llvmpipe with the fixed frame clock. Every model loads without a
// warning and shows; an animated one changes where it moves between two frames and keeps
// the rest; one static and one skinned model match golden images.
#include "ToolRun.h"
#include "import/SrxWriter.h"
#include "support/GoldenImage.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

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
};

const ViewCase kCases[] = {
    {"X/anim_test.x", "anim_test", true, 0, "viewer_anim_test"},
    {"glTF2/simple_skin/simple_skin.gltf", "simple_skin", true, 0, nullptr},
    {"OBJ/spider.obj", "spider", false, 5, nullptr},
    {"glTF2/BoxTextured-glTF-Binary/BoxTextured.glb", "box", false, 1, "viewer_box"},
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
            EXPECT_GT(keptBand, 200u) << changedBand << " changed";
            EXPECT_LE(changedBand, keptBand / 20) << "pixels of the bottom band that changed";
        } else {
            EXPECT_LE(largest, 2) << "a static model changes between frames";
        }

        if (c.golden) lumaret::test::ExpectMatchesGolden(c.golden, late.width, late.height, late.pixels.data(), 6);
    }
}

// Files the viewer refuses before it opens a window, each with its exit status and reason.
TEST_F(ViewerRun, RefusesWhatItCannotShow) {
    lumaret::test::WriteFileBytes("empty.srx", "");
    SrxWriter truncated;  // a mesh that announces a primitive and has none: the engine would stop
    truncated.MeshHeader(0, 1);
    lumaret::test::WriteFileBytes("truncated.srx", std::string(truncated.Data().begin(), truncated.Data().end()));
    struct Case {
        std::string arguments;
        int status;
        const char* says;
    };
    for (const Case& c :
         {Case{"--help", 0, "usage: viewer"}, Case{"", 1, "needs an SRX file"},
          Case{"--spin model.srx", 1, "unknown option --spin"}, Case{"missing.srx", 2, "cannot read missing.srx"},
          Case{"empty.srx", 3, "holds no meshes the engine draws"},
          Case{"truncated.srx", 3, "would stop the engine: ImportSRX: Mesh has no primitive chunk."}}) {
        lumaret::test::ToolRun run = RunTool("tools/viewer/viewer", c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments << ": " << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << c.arguments << ": " << run.output;
    }
}
