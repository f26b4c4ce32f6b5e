#include "app/TextPanel.h"

#include "render/Renderer.h"
#include "resources/TextOverlay.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kMargin = 4, kPadding = 3;

// Pixel edges sit half a pixel before the centres, which Direct3D 9 puts on integers.
float ClipX(float px, int screenWidth) { return 2.0f * (px - 0.5f) / static_cast<float>(screenWidth) - 1.0f; }
float ClipY(float py, int screenHeight) { return 1.0f - 2.0f * (py - 0.5f) / static_cast<float>(screenHeight); }

void AppendRect(float left, float top, float right, float bottom, int screenWidth, int screenHeight, float u0,
                float v0, float u1, float v1, D3DCOLOR color, std::vector<QuadVertex>& out) {
    float x0 = ClipX(left, screenWidth), x1 = ClipX(right, screenWidth);
    float y0 = ClipY(top, screenHeight), y1 = ClipY(bottom, screenHeight);
    QuadVertex topLeft{x0, y0, 0.0f, u0, v0, color}, topRight{x1, y0, 0.0f, u1, v0, color};
    QuadVertex bottomLeft{x0, y1, 0.0f, u0, v1, color}, bottomRight{x1, y1, 0.0f, u1, v1, color};
    out.insert(out.end(), {topLeft, topRight, bottomRight, topLeft, bottomRight, bottomLeft});
}

}  // namespace

void LayoutText(const FontRecord& font, const std::string& text, int x, int y, int screenWidth, int screenHeight,
                D3DCOLOR color, std::vector<QuadVertex>& out, int* blockWidth, int* blockHeight) {
    float n = static_cast<float>(font.textureSize);
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
        AppendRect(static_cast<float>(penX), static_cast<float>(penY), static_cast<float>(penX + cellWidth),
                   static_cast<float>(penY + cellHeight), screenWidth, screenHeight, g.a, g.b, g.c, g.d, color, out);
        penX += cellWidth;
        widest = std::max(widest, penX - x);
    }
    if (blockWidth) *blockWidth = widest;
    if (blockHeight) *blockHeight = penY + lineHeight - y;
}

PanelRect TextPanelRect(Renderer& renderer, const TextOverlay& overlay, const std::string& text, PanelCorner corner,
                        int screenWidth, int screenHeight, std::vector<QuadVertex>& vertices) {
    if (overlay.font < 0) return {};
    vertices.clear();
    int width = 0, height = 0;
    LayoutText(renderer.fonts[static_cast<size_t>(overlay.font)], text, 0, 0, screenWidth, screenHeight, 0, vertices,
               &width, &height);
    PanelRect rect{kMargin, kMargin, width + 2 * kPadding + 1, height + 2 * kPadding + 1};
    if (corner == PanelCorner::TopCentre || corner == PanelCorner::Centre) rect.left = (screenWidth - rect.width) / 2;
    if (corner == PanelCorner::TopRight) rect.left = screenWidth - kMargin - rect.width;
    if (corner == PanelCorner::Centre) rect.top = (screenHeight - rect.height) / 2;
    if (corner == PanelCorner::BottomLeft) rect.top = screenHeight - kMargin - rect.height;
    return rect;
}

PanelRect DrawTextPanel(Renderer& renderer, const TextOverlay& overlay, const std::string& text, PanelCorner corner,
                        int screenWidth, int screenHeight, std::vector<QuadVertex>& vertices) {
    PanelRect rect = TextPanelRect(renderer, overlay, text, corner, screenWidth, screenHeight, vertices);
    return DrawTextPanelAt(renderer, overlay, text, rect.left, rect.top, screenWidth, screenHeight, vertices);
}

PanelRect DrawTextPanelAt(Renderer& renderer, const TextOverlay& overlay, const std::string& text, int left, int top,
                          int screenWidth, int screenHeight, std::vector<QuadVertex>& vertices) {
    if (overlay.font < 0 || overlay.texturedShader < 0) return {};
    const FontRecord& font = renderer.fonts[static_cast<size_t>(overlay.font)];
    int width = 0, height = 0;
    vertices.clear();
    LayoutText(font, text, left + kPadding + 1, top + kPadding + 1, screenWidth, screenHeight, 0xFF000000, vertices);
    LayoutText(font, text, left + kPadding, top + kPadding, screenWidth, screenHeight, 0xFFFFFFFF, vertices, &width,
               &height);
    PanelRect rect{left, top, width + 2 * kPadding + 1, height + 2 * kPadding + 1};

    if (overlay.plainShader >= 0) {
        float w = static_cast<float>(screenWidth), h = static_cast<float>(screenHeight);
        QuadDesc backing{static_cast<float>(left) / w,
                         static_cast<float>(top) / h,
                         static_cast<float>(rect.width) / w,
                         static_cast<float>(rect.height) / h,
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
    return rect;
}

void DrawPixelRects(Renderer& renderer, const TextOverlay& overlay, const std::vector<PixelRect>& rects,
                    int screenWidth, int screenHeight, std::vector<QuadVertex>& scratch) {
    if (overlay.plainShader < 0 || rects.empty()) return;
    scratch.clear();
    for (const PixelRect& r : rects)
        AppendRect(static_cast<float>(r.left), static_cast<float>(r.top), static_cast<float>(r.left + r.width),
                   static_cast<float>(r.top + r.height), screenWidth, screenHeight, 0, 0, 1, 1, r.color, scratch);
    renderer.SetShader(overlay.plainShader);
    renderer.ApplyShaderParams(overlay.plainShader, overlay.plain);
    renderer.DrawTriangles(scratch.data(), static_cast<int>(scratch.size()));
}
