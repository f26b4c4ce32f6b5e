#include "app/StatsOverlay.h"

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

std::string StatsOverlay::Text(int screenWidth, int screenHeight) const {
    char text[192];
    std::snprintf(text, sizeof(text), "%.1f fps  %.2f ms (worst %.2f)\n%u draws  L %.4f\n%d x %d",
                  static_cast<double>(stats.FramesPerSecond()), static_cast<double>(stats.MeanMs()),
                  static_cast<double>(stats.WorstMs()), stats.drawCalls, static_cast<double>(stats.luminance),
                  screenWidth, screenHeight);
    return text;
}

void LayoutText(const FontRecord& font, const std::string& text, int x, int y, int screenWidth, int screenHeight,
                D3DCOLOR color, std::vector<QuadVertex>& out, int* blockWidth, int* blockHeight) {
    float n = static_cast<float>(font.textureSize);
    float w = static_cast<float>(screenWidth), h = static_cast<float>(screenHeight);
    // Pixel edges sit half a pixel before the centres, which Direct3D 9 puts on integers.
    auto clipX = [&](float px) { return 2.0f * (px - 0.5f) / w - 1.0f; };
    auto clipY = [&](float py) { return 1.0f - 2.0f * (py - 0.5f) / h; };
    int penX = x, penY = y, lineHeight = 0, widest = 0;
    for (char c : text) {
        if (c == '\n') {
            penX = x;
            penY += lineHeight;
            continue;
        }
        int index = static_cast<unsigned char>(c) - 32;
        if (index < 0 || index >= static_cast<int>(font.glyphs.size())) continue;
        const GlyphRect& g = font.glyphs[static_cast<size_t>(index)];
        int cellWidth = static_cast<int>(std::lround((g.c - g.a) * n));
        int cellHeight = static_cast<int>(std::lround((g.d - g.b) * n));
        lineHeight = std::max(lineHeight, cellHeight);
        float x0 = clipX(static_cast<float>(penX)), x1 = clipX(static_cast<float>(penX + cellWidth));
        float y0 = clipY(static_cast<float>(penY)), y1 = clipY(static_cast<float>(penY + cellHeight));
        QuadVertex topLeft{x0, y0, 0.0f, g.a, g.b, color}, topRight{x1, y0, 0.0f, g.c, g.b, color};
        QuadVertex bottomLeft{x0, y1, 0.0f, g.a, g.d, color}, bottomRight{x1, y1, 0.0f, g.c, g.d, color};
        out.insert(out.end(), {topLeft, topRight, bottomRight, topLeft, bottomRight, bottomLeft});
        penX += cellWidth;
        widest = std::max(widest, penX - x);
    }
    if (blockWidth) *blockWidth = widest;
    if (blockHeight) *blockHeight = penY + lineHeight - y;
}

void StatsOverlay::Draw(Renderer& renderer, const TextOverlay& overlay, int screenWidth, int screenHeight) {
    DrawTextPanel(renderer, overlay, Text(screenWidth, screenHeight), PanelCorner::TopLeft, screenWidth, screenHeight,
                  vertices_);
}

void DrawTextPanel(Renderer& renderer, const TextOverlay& overlay, const std::string& text, PanelCorner corner,
                   int screenWidth, int screenHeight, std::vector<QuadVertex>& vertices) {
    if (overlay.font < 0 || overlay.texturedShader < 0) return;
    const FontRecord& font = renderer.fonts[static_cast<size_t>(overlay.font)];
    constexpr int kMargin = 4, kPadding = 3;
    int top = kMargin, left = kMargin;
    int width = 0, height = 0;
    if (corner != PanelCorner::TopLeft) {
        vertices.clear();
        LayoutText(font, text, 0, 0, screenWidth, screenHeight, 0, vertices, &width, &height);
        if (corner == PanelCorner::BottomLeft) top = screenHeight - kMargin - (height + 2 * kPadding + 1);
        if (corner != PanelCorner::BottomLeft) left = (screenWidth - (width + 2 * kPadding + 1)) / 2;
        if (corner == PanelCorner::Centre) top = (screenHeight - (height + 2 * kPadding + 1)) / 2;
    }
    vertices.clear();
    // A one-pixel black shadow under white text stays legible on any background.
    LayoutText(font, text, left + kPadding + 1, top + kPadding + 1, screenWidth, screenHeight, 0xFF000000, vertices);
    LayoutText(font, text, left + kPadding, top + kPadding, screenWidth, screenHeight, 0xFFFFFFFF, vertices, &width,
               &height);

    if (overlay.plainShader >= 0) {
        float w = static_cast<float>(screenWidth), h = static_cast<float>(screenHeight);
        QuadDesc backing{static_cast<float>(left) / w,
                         static_cast<float>(top) / h,
                         static_cast<float>(width + 2 * kPadding + 1) / w,
                         static_cast<float>(height + 2 * kPadding + 1) / h,
                         0,
                         0,
                         1,
                         1,
                         0xB0000000};
        renderer.SetShader(overlay.plainShader);
        renderer.ApplyShaderParams(overlay.plainShader, overlay.plain);
        renderer.DrawQuads(&backing, 1);
    }
    renderer.SetShader(overlay.texturedShader);
    renderer.ApplyShaderParams(overlay.texturedShader, overlay.textured);
    renderer.SetSamplerFlags(0, SamplerClamp);
    renderer.DrawTriangles(vertices.data(), static_cast<int>(vertices.size()));
}
