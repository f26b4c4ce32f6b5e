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

#include <cstdint>
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

// How a view scales what it shows, from the target's own pixels read back (the final image
// never reads back): depth from the nearest (white) to the farthest (black), specular so
// the brightest is white. The target is copied each frame into one of a few kept targets
// and the copy made kScalingLag frames before is read back into its kept system-memory
// surface, so the device has long finished it and no frame waits for the one in flight;
// until a view has shown that long, the frame's own copy is read.
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
    // Gives back the targets kept for the scaling's read-back, before the renderer goes.
    void Release(Renderer& renderer);

    DebugView current = DebugView::Final;

private:
    static constexpr int kScalingLag = 2;  // frames
    // The shader's c0 for a view that scales by what the target holds.
    D3DXVECTOR4 MeasureScaling(Renderer& renderer, int target, DebugViewScaling scaling);
    // The kept copy to read this frame, after copying the target into the ring; -1 when
    // there is none to read.
    int CopyForScaling(Renderer& renderer, int target, DebugViewScaling scaling);

    // Readable targets the views' targets are copied into, in turn, with the frame each copy
    // was made at (-1: none since the view changed); made for the size and format met.
    int copies_[kScalingLag + 1] = {-1, -1, -1};
    int64_t copiedAt_[kScalingLag + 1] = {-1, -1, -1};
    int copiedTarget_ = -1;
    DebugViewScaling copiedScaling_ = DebugViewScaling::None;
    int64_t frame_ = 0;

    int shaders_[static_cast<int>(DebugView::Count)] = {};
    ShaderParams params_;
    bool compiled_ = false;
    std::vector<QuadVertex> vertices_;
    bool chosen_ = false;
};
