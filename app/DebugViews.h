// DebugViews: the light pre-pass seen from inside, in the engine and the viewer alike.
//
// F2 steps the picture on screen through the frame's own targets, Shift+F2 steps back:
// the final image; the depth-and-normal target's view-space normals (RGB = n x 0.5 + 0.5)
// and its depth (near white, far black, nothing there blue); the light target's diffuse
// light (RGB) and specular intensity (alpha as grey); the scene target before
// post-processing (gamma only: no exposure, no bloom); the blurred quarter-size bloom
// source; the luminance chain's last target, scaled up. A view is drawn over the back
// buffer after the frame's passes, so it shows what they produced, with its name at the
// top of the screen. LUMARET_DEBUG_VIEW=NAME picks a view at start (headless runs and
// tests capture each one this way). Nothing is compiled and nothing changes until a view
// other than the final image is chosen.
#pragma once

#include "render/RendererTypes.h"
#include "resources/ShaderParams.h"

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

class DebugViews {
public:
    // The view LUMARET_DEBUG_VIEW names (the platform checked the name at start).
    DebugViews();

    void Next();
    void Previous();
    // Draws the current view and its name over the back buffer; the final image draws nothing.
    void Draw(Renderer& renderer, const World& world, const TextOverlay& text, int width, int height);

    DebugView current = DebugView::Final;

private:
    int shaders_[static_cast<int>(DebugView::Count)] = {};
    ShaderParams params_;
    bool compiled_ = false;
    std::vector<QuadVertex> vertices_;
};
