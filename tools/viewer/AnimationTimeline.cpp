#include "AnimationTimeline.h"

#include "app/Log.h"
#include "scene/World.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace viewer {

float AnimationTimeline::Update(const Keys& keys, float seconds) {
    touched = touched || keys.pause || keys.stepBack || keys.stepForward || keys.slower || keys.faster ||
              keys.scrub != 0;
    if (keys.pause) {
        paused = !paused;
        Log::Write("Viewer: %s at tick %.0f\n", paused ? "paused" : "playing", AnimationTime());
    }
    if (keys.slower || keys.faster) {
        speed = std::clamp(keys.faster ? speed * 2.0f : speed / 2.0f, 1.0f / 16.0f, 16.0f);
        Log::Write("Viewer: speed x%g\n", static_cast<double>(speed));
    }
    if (keys.scrub != 0) {
        paused = true;
        scrubbing_ = true;
        SetAnimationTime(AnimationTime() +
                         static_cast<float>(keys.scrub) * kScrubCyclesPerSecond * AnimationCycleTicks() * seconds);
        return 0.0f;
    }
    if (scrubbing_) {
        scrubbing_ = false;
        Log::Write("Viewer: scrubbed to tick %.0f\n", AnimationTime());
    }
    if (!paused) return (ticksPerSecond > 0.0f ? ticksPerSecond * seconds : kTicksPerFrame) * speed;
    if (keys.stepBack) {
        Log::Write("Viewer: step back from tick %.0f\n", AnimationTime());
        SetAnimationTime(AnimationTime() - kTicksPerFrame);
    }
    if (keys.stepForward) {
        Log::Write("Viewer: step from tick %.0f\n", AnimationTime());
        return kTicksPerFrame;
    }
    return 0.0f;
}

std::string AnimationTimeline::Text(const std::string& clip, int index, int count, double seconds) const {
    char text[256];
    double cycle = AnimationCycleTicks(), ticks = AnimationTime();
    std::string name = clip.empty() ? "animation" : clip;
    if (count > 1) name += " (" + std::to_string(index + 1) + " of " + std::to_string(count) + ")";
    if (seconds >= 0.0)
        std::snprintf(text, sizeof(text), "%s  %.2f / %.2f s  x%g%s", name.c_str(), ticks / cycle * seconds, seconds,
                      static_cast<double>(speed), paused ? "  paused" : "");
    else
        std::snprintf(text, sizeof(text), "%s  %.0f / %.0f ticks  x%g%s", name.c_str(), ticks, cycle,
                      static_cast<double>(speed), paused ? "  paused" : "");
    return text;
}

void AnimationTimeline::Draw(Renderer& renderer, const TextOverlay& overlay, const std::string& text,
                             int screenWidth, int screenHeight) {
    PanelRect panel = DrawTextPanel(renderer, overlay, text, PanelCorner::BottomLeft, screenWidth, screenHeight,
                                    vertices_);
    if (panel.width == 0) return;
    constexpr int kBarHeight = 5, kGap = 2;
    int top = panel.top - kGap - kBarHeight;
    int filled = static_cast<int>(std::lround(AnimationTime() / AnimationCycleTicks() * (panel.width - 2)));
    rects_ = {{panel.left, top, panel.width, kBarHeight, 0xB0000000},
              {panel.left + 1, top + 1, filled, kBarHeight - 2, 0xFFE0E0E0}};
    DrawPixelRects(renderer, overlay, rects_, screenWidth, screenHeight, vertices_);
}

}  // namespace viewer
