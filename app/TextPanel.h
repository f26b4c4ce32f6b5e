// TextPanel: lines of text on a dark backing, the one way the engine and the viewer put
// words on screen (the stats overlay, the debug views' names, reload messages, the
// viewer's panels). It draws with the prepared TextOverlay (Tahoma8.mofo, screen.hlsl for
// the backing, screenTex.hlsl for the glyphs): one draw for the backing and one batched
// draw for the text, a one-pixel black shadow under white glyphs so they read on any
// background. Missing font or shaders draw nothing.
#pragma once

#include "render/RendererTypes.h"
#include "resources/Font.h"

#include <string>
#include <vector>

class Renderer;
struct TextOverlay;

// Where a panel sits, a few pixels in from the screen's edges.
enum class PanelCorner { TopLeft, TopCentre, TopRight, Centre, BottomLeft };

// A panel's backing in pixels from the screen's top-left.
struct PanelRect {
    int left = 0, top = 0, width = 0, height = 0;
};

// The backing a text needs, at a corner or at (left, top); vertices is scratch space
// kept from frame to frame. Empty when there is no font.
PanelRect TextPanelRect(Renderer& renderer, const TextOverlay& overlay, const std::string& text, PanelCorner corner,
                        int screenWidth, int screenHeight, std::vector<QuadVertex>& vertices);
PanelRect DrawTextPanel(Renderer& renderer, const TextOverlay& overlay, const std::string& text, PanelCorner corner,
                        int screenWidth, int screenHeight, std::vector<QuadVertex>& vertices);
PanelRect DrawTextPanelAt(Renderer& renderer, const TextOverlay& overlay, const std::string& text, int left, int top,
                          int screenWidth, int screenHeight, std::vector<QuadVertex>& vertices);

// Appends two triangles per glyph of text in the quad vertex layout: each glyph's cell
// with its top-left corner at the pen (x, y in pixels from the screen's top-left), the pen
// moving right by the cell's width; "\n" starts a new line one cell height below. Cells map
// texel for texel onto pixels under Direct3D 9's pixel centres. Characters the font lacks
// are skipped. Returns the width and height of the text block in pixels.
void LayoutText(const FontRecord& font, const std::string& text, int x, int y, int screenWidth, int screenHeight,
                D3DCOLOR color, std::vector<QuadVertex>& out, int* blockWidth = nullptr, int* blockHeight = nullptr);

// Filled rectangles in pixels, in one draw with the overlay's plain shader (the HUD's graph).
struct PixelRect {
    int left, top, width, height;
    D3DCOLOR color;
};
void DrawPixelRects(Renderer& renderer, const TextOverlay& overlay, const std::vector<PixelRect>& rects,
                    int screenWidth, int screenHeight, std::vector<QuadVertex>& scratch);
