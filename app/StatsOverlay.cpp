#include "app/StatsOverlay.h"

#include "app/TextPanel.h"
#include "render/Renderer.h"
#include "resources/TextOverlay.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

void FrameStats::Add(float time, float frameSeconds, uint32_t draws, float frameLuminance) {
    frames_[next_] = Frame{time, frameSeconds};
    next_ = (next_ + 1) % kCapacity;
    count_ = std::min(count_ + 1, kCapacity);
    drawCalls = draws;
    luminance = frameLuminance;
}

template <class Visit>
void FrameStats::ForLastSecond(Visit visit) const {
    if (count_ == 0) return;
    float now = frames_[(next_ + kCapacity - 1) % kCapacity].time;
    for (int i = 1; i <= count_; ++i) {
        const Frame& frame = frames_[(next_ + kCapacity - i) % kCapacity];
        // The newest frame always counts, however long it took.
        if (i > 1 && frame.time <= now - 1.0f) break;
        visit(frame);
    }
}

float FrameStats::MeanMs() const {
    double sum = 0.0;
    int n = 0;
    ForLastSecond([&](const Frame& frame) {
        sum += frame.seconds;
        ++n;
    });
    return n ? static_cast<float>(sum / n * 1000.0) : 0.0f;
}

float FrameStats::WorstMs() const {
    float worst = 0.0f;
    ForLastSecond([&](const Frame& frame) { worst = std::max(worst, frame.seconds); });
    return worst * 1000.0f;
}

float FrameStats::FramesPerSecond() const {
    float mean = MeanMs();
    return mean > 0.0f ? 1000.0f / mean : 0.0f;
}

int FrameStats::RecentMs(float* out, int capacity) const {
    int n = std::min(count_, capacity);
    for (int i = 0; i < n; ++i) out[i] = frames_[(next_ + kCapacity - n + i) % kCapacity].seconds * 1000.0f;
    return n;
}

void StatsOverlay::Step() {
    mode = mode == HudMode::Off ? HudMode::Compact : mode == HudMode::Compact ? HudMode::Full : HudMode::Off;
}

std::string StatsOverlay::Text(int screenWidth, int screenHeight) const {
    char text[192];
    std::snprintf(text, sizeof(text), "%.1f fps  %.2f ms (worst %.2f)\n%u draws  L %.4f\n%d x %d",
                  static_cast<double>(stats.FramesPerSecond()), static_cast<double>(stats.MeanMs()),
                  static_cast<double>(stats.WorstMs()), stats.drawCalls, static_cast<double>(stats.luminance),
                  screenWidth, screenHeight);
    if (lights < 0) return text;
    char line[64];
    std::snprintf(line, sizeof(line), "\n%d lights (%d bounded)", lights, boundedLights);
    return text + std::string(line);
}

std::string StatsOverlay::PassText(const GpuPassTimer* timer) {
    if (!timer || !timer->Available()) return "GPU times: no timestamp queries";
    if (timer->Times().empty()) return "GPU times: measuring";
    std::string text;
    char line[96];
    for (const GpuPassTimer::PassTime& pass : timer->Times()) {
        if (pass.depth == 0)
            std::snprintf(line, sizeof(line), "GPU %.2f ms per frame", static_cast<double>(pass.ms));
        else
            std::snprintf(line, sizeof(line), "\n%*s%s  %.2f", 2 * pass.depth, "", pass.name.c_str(),
                          static_cast<double>(pass.ms));
        text += line;
    }
    return text;
}

void StatsOverlay::AddGraph(int left, int top) {
    constexpr int kPadding = 3;
    rects_.clear();
    rects_.push_back({left, top, kGraphFrames + 2 * kPadding, kGraphHeight + 2 * kPadding, 0xB0000000});
    int bottom = top + kPadding + kGraphHeight;
    auto heightOf = [](float ms) {
        return static_cast<int>(std::lround(std::min(ms, kGraphTopMs) / kGraphTopMs * kGraphHeight));
    };
    int n = stats.RecentMs(recent_, kGraphFrames);
    // The newest frame at the right edge, so the graph scrolls left as frames come in.
    for (int i = 0; i < n; ++i) {
        float ms = recent_[i];
        D3DCOLOR color = ms <= kBudgetMs[0] ? 0xFF40D040 : ms <= kBudgetMs[1] ? 0xFFE0C020 : 0xFFE04030;
        int h = std::max(heightOf(ms), 1);
        rects_.push_back({left + kPadding + kGraphFrames - n + i, bottom - h, 1, h, color});
    }
    for (float budget : kBudgetMs)
        rects_.push_back({left + kPadding, bottom - heightOf(budget), kGraphFrames, 1, 0xC0FFFFFF});
}

void StatsOverlay::Draw(Renderer& renderer, const TextOverlay& overlay, int screenWidth, int screenHeight,
                        const GpuPassTimer* timer) {
    if (mode == HudMode::Off) return;
    PanelRect lines = DrawTextPanel(renderer, overlay, Text(screenWidth, screenHeight), PanelCorner::TopLeft,
                                    screenWidth, screenHeight, vertices_);
    if (mode != HudMode::Full || lines.height == 0) return;
    constexpr int kGap = 2, kMargin = 4;
    int top = lines.top + lines.height + kGap;
    int graphWidth = kGraphFrames + 6, graphHeight = kGraphHeight + 6;
    if (top + graphHeight + kMargin <= screenHeight && lines.left + graphWidth + kMargin <= screenWidth) {
        AddGraph(lines.left, top);
        DrawPixelRects(renderer, overlay, rects_, screenWidth, screenHeight, vertices_);
        top += graphHeight + kGap;
    }
    // As many pass lines as the screen has room for.
    std::string passes = PassText(timer);
    PanelRect room = TextPanelRect(renderer, overlay, passes, PanelCorner::TopLeft, screenWidth, screenHeight,
                                   vertices_);
    while (top + room.height + kMargin > screenHeight && passes.find('\n') != std::string::npos) {
        passes.erase(passes.rfind('\n'));
        room = TextPanelRect(renderer, overlay, passes, PanelCorner::TopLeft, screenWidth, screenHeight, vertices_);
    }
    if (top + room.height + kMargin <= screenHeight)
        DrawTextPanelAt(renderer, overlay, passes, lines.left, top, screenWidth, screenHeight, vertices_);
}
