// StatsOverlay: frame statistics in the engine's own bitmap font, top-left on a dark
// backing. F1 steps it through off, compact and full; LUMARET_HUD=1 starts compact, 2 full.
//
// Compact: frames per second, ms per frame (mean and worst over the last second), draw
// calls per frame, the frame's log-average luminance and the screen size. Full adds, below
// it, a graph of the last kGraphFrames frame times (one pixel column per frame, with lines
// at 16.7 and 33.3 ms, the 60 and 30 frames-per-second budgets) and the device's time for
// the whole frame and each pass and post-processing step, averaged over the last second
// (GpuPassTimer.h). A screen too small for all of it shows the parts that fit, in that order.
//
// Off by default, so the demo's frames stay as they are. It draws with the prepared
// TextOverlay (TextPanel.h): two draws per text panel, one for the whole graph. Recording a
// frame's numbers allocates nothing.
#pragma once

#include "app/TextPanel.h"
#include "render/GpuPassTimer.h"
#include "render/RendererTypes.h"

#include <cstdint>
#include <string>
#include <vector>

class Renderer;
struct TextOverlay;

// Frame times of the last second, kept in a fixed ring.
class FrameStats {
public:
    // A frame that ended at `time` seconds and took `frameSeconds`.
    void Add(float time, float frameSeconds, uint32_t drawCalls, float luminance);

    float FramesPerSecond() const;  // 1 / the mean frame time over the last second
    float MeanMs() const;
    float WorstMs() const;
    // The times of the last frames in ms, oldest first, at most `capacity`; returns how many.
    int RecentMs(float* out, int capacity) const;
    uint32_t drawCalls = 0;  // of the last frame
    float luminance = 0.0f;  // of the last frame

private:
    static constexpr int kCapacity = 2048;
    struct Frame {
        float time;
        float seconds;
    };
    template <class Visit>
    void ForLastSecond(Visit visit) const;
    Frame frames_[kCapacity] = {};
    int next_ = 0;
    int count_ = 0;
};

enum class HudMode { Off, Compact, Full };

class StatsOverlay {
public:
    static constexpr int kGraphFrames = 300;
    static constexpr int kGraphHeight = 60;  // pixels for 0 to kGraphTopMs
    static constexpr float kGraphTopMs = 50.0f;
    // 60 and 30 frames per second, rounded as people say them, so a frame of exactly
    // 1/60 s counts as within the first.
    static constexpr float kBudgetMs[2] = {16.7f, 33.3f};

    HudMode mode = HudMode::Off;
    FrameStats stats;
    // A program that shows lights of its own (the viewer) has their count in the compact
    // lines: all, and those drawn as bounded rectangles. -1 (the engine's demo): no line.
    int lights = -1, boundedLights = 0;

    // F1: off, compact, full, off.
    void Step();
    // The compact lines, "\n" between them.
    std::string Text(int screenWidth, int screenHeight) const;
    // The pass lines of the full panel: the device's ms per frame, then one line per event,
    // indented by depth.
    static std::string PassText(const GpuPassTimer* timer);
    void Draw(Renderer& renderer, const TextOverlay& overlay, int screenWidth, int screenHeight,
              const GpuPassTimer* timer = nullptr);

private:
    // The graph's backing, bars and budget lines at (left, top).
    void AddGraph(int left, int top);

    std::vector<QuadVertex> vertices_;  // reused from frame to frame
    std::vector<PixelRect> rects_;
    float recent_[kGraphFrames] = {};
};
