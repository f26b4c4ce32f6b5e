// Thumbnails for file managers: what `viewer --thumbnail SIZE --screenshot OUT FILE` adds
// to a headless run.
//
// A file manager runs the command of the installed .thumbnailer file on whatever lies in a
// folder, often in a sandbox without a display, a home or a writable working directory,
// and waits for it. So the viewer refuses a FILE that is not a regular file or is larger
// than kThumbnailLargestFile before reading any of it, renders one frame of the framed
// model at a size that leaves the model larger than SIZE (ThumbnailRenderSize), crops that
// frame to the model with a margin, scales it down so that its longer side is SIZE, and
// writes OUT whole or not at all. The frame goes through a file beside OUT, the platform's
// headless screenshot; it never stays there. What the viewer does for the run (no log, no
// shader cache, a time limit after which nothing is left behind) is in Viewer.cpp.
//
// This file holds the picture's side: the render size, the crop, the scaling and the
// PNG files, so that tests can check them without rendering.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace viewer {

constexpr int kThumbnailSmallest = 16, kThumbnailLargest = 1024;  // SIZE, the longer side
constexpr uint64_t kThumbnailLargestFile = uint64_t{32} << 20;      // bytes of FILE
constexpr int kThumbnailSeconds = 10;  // the default time limit of a thumbnail's run
// Pixels around the model, per side, as a share of the crop's longer side.
constexpr float kThumbnailMargin = 0.04f;
// A pixel is the model's when a channel differs from the background by more than this.
constexpr int kBackgroundTolerance = 6;

// The 4:3 size the frame is rendered at for a thumbnail of `size`: the framing fills
// three quarters of its height or width, so the model comes out larger than `size`, and
// is only ever scaled down. Within the viewer's sizes (160 x 120 to 4096 x 3072).
struct RenderSize {
    int width = 0, height = 0;
};
RenderSize ThumbnailRenderSize(int size);

// 8-bit RGBA, rows top to bottom.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
    const uint8_t* At(int x, int y) const { return &rgba[(static_cast<size_t>(y) * width + x) * 4]; }
};

// The pixels [left, right) x [top, bottom).
struct Box {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool Empty() const { return right <= left || bottom <= top; }
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

// The box around every pixel that differs from the top-left one (the background) by more
// than kBackgroundTolerance in a channel, grown by kThumbnailMargin of its longer side on
// every side and kept inside the picture; empty when the picture is background alone.
Box ModelBox(const Picture& picture);

// The box's pixels scaled so that the longer side is `longest` (the other in proportion,
// at least 1), each output pixel the average of the area of input pixels it covers.
Picture CropAndScale(const Picture& picture, const Box& box, int longest);

// Reads a PNG into RGBA; false with why on failure.
bool ReadPngFile(const std::string& path, Picture& picture, std::string& why);
// Encodes RGB (alpha dropped: the background is opaque) as PNG.
bool EncodePng(const Picture& picture, std::vector<uint8_t>& png);

// Why FILE gets no thumbnail before anything reads it (empty: it may be read), with the
// exit status that says so: not a regular file (ExitUnreadable), or larger than
// kThumbnailLargestFile (ExitUnusable).
std::string RefuseThumbnailInput(const std::string& path, int& status);

}  // namespace viewer
