// AnimationTimeline: the viewer's hold on the animation clock, and its place on screen.
//
// Space pauses and resumes; while paused '.' steps one frame forward and ',' one back;
// Shift+'.' and Shift+',' held scrub forward and back (pausing); '[' and ']' halve and
// double the speed. A converted clip plays in real time, at its own length however the frames
// come (ticksPerSecond); an SRX file's, which states no seconds, at the engine's 24 ticks a
// frame. The bottom-left panel names the clip (with its number when the file
// has several), its time and length (seconds for a converted clip, which plays once per
// cycle of the engine's clock; ticks for an SRX file's), the speed and the pause, over a
// bar whose filled part is the time. It shows when the file has several clips or once a
// timeline key has been used, so a model's first frames look as they always did. Each
// change goes to the log once.
#pragma once

#include "app/TextPanel.h"
#include "render/RendererTypes.h"

#include <string>
#include <vector>

class Renderer;
struct TextOverlay;

namespace viewer {

class AnimationTimeline {
public:
    static constexpr float kTicksPerFrame = 24.0f;  // the engine's own step of the clock
    static constexpr float kScrubCyclesPerSecond = 0.5f;  // of the clock's cycle, while held

    // This frame's keys: presses, and scrubbing while a key is held (-1 back, +1 forward).
    struct Keys {
        bool pause = false, stepBack = false, stepForward = false, slower = false, faster = false;
        int scrub = 0;
    };
    // Applies the keys to the clock for a frame of `seconds`; returns the ticks the world
    // advances this frame.
    float Update(const Keys& keys, float seconds);

    // The panel's text for the clip shown: its name, its number of `count`, and its length
    // in seconds (< 0 for an SRX file's clip, shown in ticks).
    std::string Text(const std::string& clip, int index, int count, double seconds) const;
    void Draw(Renderer& renderer, const TextOverlay& overlay, const std::string& text, int screenWidth,
              int screenHeight);

    bool paused = false;
    float speed = 1.0f;
    // The clip's pace in clock ticks a second (real time); 0: kTicksPerFrame every frame.
    float ticksPerSecond = 0.0f;
    bool touched = false;  // a timeline key has been used

private:
    bool scrubbing_ = false;
    std::vector<QuadVertex> vertices_;
    std::vector<PixelRect> rects_;
};

}  // namespace viewer
