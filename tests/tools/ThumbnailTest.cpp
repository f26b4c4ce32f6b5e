// The viewer's thumbnails for file managers (`viewer --thumbnail SIZE --screenshot OUT FILE`):
// the picture's side (render size, the box around the model, the scaling, PNG files), then
// the program as a file manager runs it: a thumbnail of the requested size with the model
// in it, headless whatever DISPLAY says, no log.txt and nothing else left in the folder;
// files that are no model, too large or not regular give no thumbnail, quickly, with their
// exit status. (The package test runs the installed thumbnailer inside bwrap.)
#include "Thumbnail.h"
#include "ToolRun.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using lumaret::test::RunTool;

namespace {

namespace fs = std::filesystem;

const std::string kBox = "/usr/share/assimp/models/glTF2/BoxTextured-glTF-Binary/BoxTextured.glb";

viewer::Picture Filled(int width, int height, uint8_t grey) {
    viewer::Picture picture;
    picture.width = width;
    picture.height = height;
    picture.rgba.assign(static_cast<size_t>(width) * height * 4, grey);
    for (size_t i = 3; i < picture.rgba.size(); i += 4) picture.rgba[i] = 255;
    return picture;
}

void Paint(viewer::Picture& picture, int left, int top, int right, int bottom, uint8_t r, uint8_t g, uint8_t b) {
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) {
            uint8_t* p = &picture.rgba[(static_cast<size_t>(y) * picture.width + x) * 4];
            p[0] = r;
            p[1] = g;
            p[2] = b;
        }
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
    return names;
}

}  // namespace

TEST(Thumbnail, TheFrameIsRenderedLargerThanTheThumbnailAtFourToThree) {
    for (int size = viewer::kThumbnailSmallest; size <= viewer::kThumbnailLargest; ++size) {
        viewer::RenderSize render = viewer::ThumbnailRenderSize(size);
        ASSERT_EQ(render.width * 3, render.height * 4) << size;
        ASSERT_GE(render.width, 160) << size;
        ASSERT_LE(render.width, 4096) << size;
        // The framing fills three quarters of the height at least.
        ASSERT_GE(0.75 * render.height, size < 90 ? 90 : size) << size;
    }
}

TEST(Thumbnail, TheBoxHoldsWhatDiffersFromTheBackgroundAndAMargin) {
    viewer::Picture picture = Filled(100, 80, 64);
    EXPECT_TRUE(viewer::ModelBox(picture).Empty()) << "background alone";
    Paint(picture, 90, 70, 91, 71, 64 + viewer::kBackgroundTolerance, 64, 64);
    EXPECT_TRUE(viewer::ModelBox(picture).Empty()) << "within the tolerance";

    Paint(picture, 30, 20, 50, 60, 200, 40, 40);
    viewer::Box box = viewer::ModelBox(picture);
    // 4 % of the longer side (40) is 2 pixels on every side.
    EXPECT_EQ(box.left, 28);
    EXPECT_EQ(box.top, 18);
    EXPECT_EQ(box.right, 52);
    EXPECT_EQ(box.bottom, 62);

    Paint(picture, 0, 79, 1, 80, 255, 255, 255);  // at the edge: the margin stops there
    box = viewer::ModelBox(picture);
    EXPECT_EQ(box.left, 0);
    EXPECT_EQ(box.bottom, 80);
}

TEST(Thumbnail, ScalingKeepsTheShapeAndAveragesTheAreas) {
    viewer::Picture stripes = Filled(200, 100, 0);
    for (int x = 0; x < 200; x += 2) Paint(stripes, x, 0, x + 1, 100, 255, 255, 255);
    viewer::Picture small = viewer::CropAndScale(stripes, {0, 0, 200, 100}, 50);
    ASSERT_EQ(small.width, 50);
    ASSERT_EQ(small.height, 25);
    for (size_t i = 0; i < small.rgba.size(); i += 4) {
        ASSERT_NEAR(small.rgba[i], 128, 1) << "pixel " << i / 4;
        ASSERT_EQ(small.rgba[i + 3], 255);
    }
    // A box of the picture: only its pixels count.
    viewer::Picture picture = Filled(64, 64, 10);
    Paint(picture, 16, 16, 48, 32, 250, 0, 0);
    viewer::Picture crop = viewer::CropAndScale(picture, {16, 16, 48, 32}, 8);
    ASSERT_EQ(crop.width, 8);
    ASSERT_EQ(crop.height, 4);
    for (size_t i = 0; i < crop.rgba.size(); i += 4) EXPECT_EQ(crop.rgba[i], 250);
    // A sliver keeps a pixel.
    EXPECT_EQ(viewer::CropAndScale(picture, {0, 0, 64, 1}, 16).height, 1);
}

TEST(Thumbnail, PngFilesRoundTrip) {
    lumaret::test::ScopedTempDir dir;
    viewer::Picture picture = Filled(7, 5, 30);
    Paint(picture, 2, 1, 5, 4, 1, 2, 3);
    std::vector<uint8_t> png;
    ASSERT_TRUE(viewer::EncodePng(picture, png));
    lumaret::test::WriteFileBytes("p.png", std::string(png.begin(), png.end()));
    viewer::Picture read;
    std::string why;
    ASSERT_TRUE(viewer::ReadPngFile("p.png", read, why)) << why;
    EXPECT_EQ(read.width, 7);
    EXPECT_EQ(read.height, 5);
    EXPECT_EQ(read.rgba, picture.rgba);
    EXPECT_FALSE(viewer::ReadPngFile("missing.png", read, why));
    EXPECT_NE(why.find("missing.png"), std::string::npos) << why;
}

TEST(Thumbnail, TheViewerWritesTheModelAloneAtTheSizeAskedAndNothingElse) {
    lumaret::test::ScopedTempDir dir;
    // A display named but not there: a thumbnail never asks for one.
    setenv("DISPLAY", ":97", 1);
    setenv("LUMARET_HUD", "2", 1);  // the user's overlay stays out of thumbnails
    for (int size : {256, 48}) {
        SCOPED_TRACE(size);
        lumaret::test::ToolRun run = RunTool(
            "tools/viewer/viewer", "--thumbnail " + std::to_string(size) + " --screenshot thumb.png " + kBox);
        ASSERT_EQ(run.status, 0) << run.output;
        viewer::Picture picture;
        std::string why;
        ASSERT_TRUE(viewer::ReadPngFile("thumb.png", picture, why)) << why;
        EXPECT_EQ(std::max(picture.width, picture.height), size);
        EXPECT_GE(std::min(picture.width, picture.height), size / 2);
        // Cropped to the model: most of it is the box's texture, not background.
        viewer::Box box = viewer::ModelBox(picture);
        EXPECT_FALSE(box.Empty());
        size_t model = 0;
        const uint8_t* background = picture.At(0, 0);
        for (int y = 0; y < picture.height; ++y)
            for (int x = 0; x < picture.width; ++x) {
                const uint8_t* p = picture.At(x, y);
                model += std::abs(p[0] - background[0]) + std::abs(p[1] - background[1]) +
                                 std::abs(p[2] - background[2]) > 24;
            }
        EXPECT_GT(model, static_cast<size_t>(picture.width * picture.height) / 2);
        EXPECT_EQ(FolderEntries("."), std::vector<std::string>{"thumb.png"}) << "no log.txt, no frame left";
        fs::remove("thumb.png");
    }
    unsetenv("DISPLAY");
    unsetenv("LUMARET_HUD");
}

TEST(Thumbnail, WhatIsNoModelGetsNoThumbnailQuickly) {
    lumaret::test::ScopedTempDir dir;
    fs::create_directory("in");
    lumaret::test::WriteFileBytes("in/noise.glb", std::string(3000, '\x5a'));
    lumaret::test::WriteFileBytes("in/flat.obj", "v 0 0 0\nv 0 0 0\nv 0 0 0\nf 1 2 3\n");
    ASSERT_EQ(mkfifo("in/pipe.obj", 0600), 0);
    fs::create_directory("in/folder.stl");
    { std::ofstream("in/large.glb"); }
    fs::resize_file("in/large.glb", viewer::kThumbnailLargestFile + 1);  // sparse
    struct Case {
        const char* file;
        int status;
        const char* says;
    };
    for (const Case& c : {Case{"noise.glb", 2, "cannot read"}, Case{"flat.obj", 3, "shows nothing"},
                          Case{"pipe.obj", 2, "is not a regular file"}, Case{"folder.stl", 2, "is not a regular file"},
                          Case{"large.glb", 3, "thumbnails are made of files up to 32 MiB"},
                          Case{"missing.ply", 2, "does not exist"}}) {
        SCOPED_TRACE(c.file);
        auto start = std::chrono::steady_clock::now();
        lumaret::test::ToolRun run =
            RunTool("tools/viewer/viewer", std::string("--thumbnail 128 --screenshot thumb.png in/") + c.file);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(run.status, c.status) << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
        EXPECT_LT(seconds, 10.0);
        EXPECT_EQ(FolderEntries("."), std::vector<std::string>{"in"}) << "nothing written";
    }
}

TEST(Thumbnail, UsageErrorsAndAnOutputThatCannotBeWritten) {
    lumaret::test::ScopedTempDir dir;
    for (const char* arguments : {"--thumbnail 128 ", "--thumbnail 8 --screenshot t.png ", "--thumbnail 2000 --screenshot t.png ",
                                  "--thumbnail 128 --size 640x480 --screenshot t.png ",
                                  "--thumbnail 128 --frames 3 --screenshot t.png ", "--time-limit 0 "}) {
        SCOPED_TRACE(arguments);
        lumaret::test::ToolRun run = RunTool("tools/viewer/viewer", arguments + kBox);
        EXPECT_EQ(run.status, 1) << run.output;
    }
    lumaret::test::ToolRun run = RunTool("tools/viewer/viewer", "--thumbnail 128 --screenshot no/such/t.png " + kBox);
    EXPECT_EQ(run.status, 4) << run.output;
    EXPECT_NE(run.output.find("cannot write beside no/such/t.png"), std::string::npos) << run.output;
    EXPECT_TRUE(FolderEntries(".").empty());
}
