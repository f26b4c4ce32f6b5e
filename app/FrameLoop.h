// FrameLoop: the one main loop of the engine and the viewer.
//
// Each turn: at most one window message; the frame timer; the program's own update
// (camera, animation, input); BeginScene, Clear, World::Render, the program's overlays
// (the engine's logo), the stats overlay; EndScene, Present. It ends when Escape is down or
// WM_QUIT arrives. Keys that every program shares are handled here, so the engine and the
// viewer answer them alike: F1 toggles the stats overlay (LUMARET_HUD=1 shows it from the
// start), F2 / Shift+F2 step through the debug views (DebugViews.h), F12 saves the picture
// as shown to the next free screenshot_NNN.png, W, B and V lay the wireframe, the objects'
// bounding boxes and the vertex normals over the picture (GeometryOverlays.h), and edited
// shader files are compiled again (ShaderReload.h). The loop writes nothing to the log but the screenshots' and reloads'
// lines; start-up and shutdown stay the program's.
#pragma once

#include "app/DebugViews.h"
#include "app/FrameTimer.h"
#include "app/GeometryOverlays.h"
#include "app/StatsOverlay.h"

#include <d3d9.h>

#include <functional>

class Camera;
class Window;
struct TextOverlay;

class FrameLoop {
public:
    FrameLoop(Window& window, Camera& camera, TextOverlay& text, int width, int height, D3DCOLOR clearColor)
        : window_(window), camera_(camera), text_(text), width_(width), height_(height), clearColor_(clearColor) {}

    std::function<void(const FrameTimer&)> update;  // before the frame is drawn
    std::function<void()> drawOverlays;             // after the world, before the stats overlay
    bool countLights = false;  // the stats overlay says how many lights the world drew

    // LUMARET_HUD (0, 1 compact, 2 full) and LUMARET_DEBUG_VIEW (a view's name), checked as
    // the platform checks its own variables: another value stops the program with status 2
    // and one line naming the variable. Called at start, before the loading.
    static void CheckSettings();

    void Run();
    // Down now and up when last asked: one true per press, for the loop's own keys and for
    // the program's (called from update, once a frame per key).
    bool KeyPressed(int key);

private:
    Window& window_;
    Camera& camera_;
    TextOverlay& text_;
    int width_, height_;
    D3DCOLOR clearColor_;
    StatsOverlay stats_;
    DebugViews views_;
    GeometryOverlays overlays_;
    bool wasDown_[256] = {};
};
