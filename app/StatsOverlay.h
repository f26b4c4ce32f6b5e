// StatsOverlay: frame statistics in the engine's own bitmap font, top-left on a dark
// backing: frames per second, ms per frame (mean and worst over the last second), draw
// calls per frame, the frame's log-average luminance and the screen size.
//
// Off by default, so the demo's frames stay as they are; F1 toggles it, and LUMARET_HUD=1
// turns it on at start. It draws with the prepared TextOverlay (Tahoma8.mofo, screen.hlsl
// for the backing, screenTex.hlsl for the glyphs): one draw for the backing and one batched
// draw for all the text. Recording a frame allocates nothing.
#pragma once

#include "render/RendererTypes.h"
#include "resources/Font.h"

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

class StatsOverlay {
public:
    bool visible = false;
    FrameStats stats;

    // The three lines the overlay shows, "\n" between them.
    std::string Text(int screenWidth, int screenHeight) const;
    void Draw(Renderer& renderer, const TextOverlay& overlay, int screenWidth, int screenHeight);

private:
    std::vector<QuadVertex> vertices_;  // reused from frame to frame
};

// Text on a dark backing at a corner of the screen, a few pixels in, drawn as the stats
// overlay draws its lines; vertices is scratch space kept from frame to frame.
enum class PanelCorner { TopLeft, TopCentre, Centre, BottomLeft };
void DrawTextPanel(Renderer& renderer, const TextOverlay& overlay, const std::string& text, PanelCorner corner,
                   int screenWidth, int screenHeight, std::vector<QuadVertex>& vertices);

// Appends two triangles per glyph of text in the quad vertex layout: each glyph's cell
// with its top-left corner at the pen (x, y in pixels from the screen's top-left), the pen
// moving right by the cell's width; "\n" starts a new line one cell height below. Cells map
// texel for texel onto pixels under Direct3D 9's pixel centres. Characters the font lacks
// are skipped. Returns the width and height of the text block in pixels.
void LayoutText(const FontRecord& font, const std::string& text, int x, int y, int screenWidth, int screenHeight,
                D3DCOLOR color, std::vector<QuadVertex>& out, int* blockWidth = nullptr, int* blockHeight = nullptr);
