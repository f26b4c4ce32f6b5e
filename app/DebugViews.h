// DebugViews: the light pre-pass seen from inside, in the engine and the viewer alike.
//
// F2 steps the picture on screen through the frame's own targets, Shift+F2 steps back:
// the final image; the depth-and-normal target's view-space normals (RGB = n x 0.5 + 0.5)
// and its depth (the frame's nearest white, its farthest black, nothing there blue); the
// light target's diffuse light (RGB) and specular intensity (alpha as grey, the frame's
// brightest white); the scene target before post-processing (gamma only: no exposure, no
// bloom); the blurred quarter-size bloom source; the luminance of the luminance chain's
// last target as grey, scaled up. A view is drawn over the back
// buffer after the frame's passes, so it shows what they produced, with its name at the
// top of the screen. LUMARET_DEBUG_VIEW=NAME picks a view at start (headless runs and
// tests capture each one this way); once views are chosen the final image is labelled too.
// Nothing is compiled and nothing changes until a view is chosen.
#pragma once

#include "render/RendererTypes.h"
#include "resources/ShaderParams.h"

#include <d3dx9.h>

#include <string>
#include <vector>

class Renderer;
class World;
struct TextOverlay;

enum class DebugView { Final, Normals, Depth, Light, Specular, Scene, Bloom, Luminance, Count };

// "final", "normals", "depth", "light", "specular", "scene", "bloom", "luminance".
const char* DebugViewName(DebugView view);
// The view of that name; Count when there is none.
DebugView DebugViewNamed(const std::string& name);

// How a view scales what it shows, from the target's own pixels read back each frame (a
// debug view may stall the frame; the final image never reads back): depth from the
// frame's nearest (white) to its farthest (black), specular so the brightest is white.
enum class DebugViewScaling { None, DepthRange, SpecularPeak };

class DebugViews {
public:
    // The view LUMARET_DEBUG_VIEW names (FrameLoop::CheckSettings checked the name at start).
    DebugViews();

    void Next();
    void Previous();
    // Draws the current view and its name over the back buffer; the final image draws
    // only its name, and only once a view has been chosen.
    void Draw(Renderer& renderer, const World& world, const TextOverlay& text, int width, int height);

    DebugView current = DebugView::Final;

private:
    // The shader's c0 for a view that scales by what the target holds this frame.
    D3DXVECTOR4 MeasureScaling(Renderer& renderer, int target, DebugViewScaling scaling);

    int shaders_[static_cast<int>(DebugView::Count)] = {};
    ShaderParams params_;
    bool compiled_ = false;
    std::vector<QuadVertex> vertices_;
    bool chosen_ = false;
};
