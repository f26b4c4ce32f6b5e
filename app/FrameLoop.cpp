#include "app/FrameLoop.h"

#include "app/Log.h"
#include "app/MessagePump.h"
#include "app/Screenshot.h"
#include "app/ShaderReload.h"
#include "app/TextPanel.h"
#include "app/Window.h"
#include "render/DrawCount.h"
#include "render/PerfEvent.h"
#include "render/Renderer.h"
#include "scene/World.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

[[noreturn]] void RejectSetting(const char* name, const char* value, const std::string& form) {
    std::fprintf(stderr, "lumaret: %s is \"%s\"; it must be %s\n", name, value, form.c_str());
    std::fflush(stderr);
    std::exit(2);
}

}  // namespace

void FrameLoop::CheckSettings() {
    const char* view = std::getenv("LUMARET_DEBUG_VIEW");
    if (view && *view && DebugViewNamed(view) == DebugView::Count) {
        std::string names;
        for (int i = 0; i < static_cast<int>(DebugView::Count); ++i)
            names += std::string(i ? ", " : "") + DebugViewName(static_cast<DebugView>(i));
        RejectSetting("LUMARET_DEBUG_VIEW", view, "one of " + names);
    }
    const char* hud = std::getenv("LUMARET_HUD");
    if (hud && *hud && std::strcmp(hud, "0") && std::strcmp(hud, "1") && std::strcmp(hud, "2"))
        RejectSetting("LUMARET_HUD", hud, "0 (off), 1 (compact) or 2 (full)");
}

bool FrameLoop::KeyPressed(int key) {
    bool down = window_.KeyState[key] != 0;
    bool pressed = down && !wasDown_[key];
    wasDown_[key] = down;
    return pressed;
}

void FrameLoop::Run() {
    FrameTimer timer;
    timer.Start();
    // The stats overlay is not part of the demo: off unless asked for.
    const char* hud = std::getenv("LUMARET_HUD");
    if (hud && std::strcmp(hud, "1") == 0) stats_.mode = HudMode::Compact;
    if (hud && std::strcmp(hud, "2") == 0) stats_.mode = HudMode::Full;
    // The device's pass times are measured only while the full panel shows them.
    std::unique_ptr<GpuPassTimer> passTimer;

    // Shader files are watched only with a display to edit them on.
    ShaderReload reload(*gRenderer, GetSystemMetrics(SM_CMONITORS) > 0);
    std::vector<QuadVertex> messageVertices;
    std::string screenshotFailure;
    float screenshotFailureUntil = -1.0f;

    while (window_.KeyState[VK_ESCAPE] == 0) {
        if (!PumpOneMessage()) break;
        timer.Update();
        reload.Poll(timer.time);
        if (update) update(timer);
        gDrawCalls = 0;
        gRenderer->BeginScene();
        if (stats_.mode == HudMode::Full && !passTimer) passTimer = std::make_unique<GpuPassTimer>(gRenderer->device);
        GpuPassTimer::active = stats_.mode == HudMode::Full ? passTimer.get() : nullptr;
        if (GpuPassTimer::active) GpuPassTimer::active->BeginFrame(timer.time);
        gRenderer->Clear(ClearColor | ClearDepth | ClearStencil, clearColor_, 0);
        gWorld->Render(&camera_);
        if (KeyPressed(VK_F2)) {
            window_.KeyState[VK_SHIFT] ? views_.Previous() : views_.Next();
            Log::Write("Debug view: %s\n", DebugViewName(views_.current));
        }
        views_.Draw(*gRenderer, *gWorld, text_, width_, height_);
        if (overlays_.Toggle(KeyPressed('W'), KeyPressed('B'), KeyPressed('V')))
            Log::Write("Overlays: wireframe %s, bounds %s, normals %s\n", overlays_.wireframe ? "on" : "off",
                       overlays_.bounds ? "on" : "off", overlays_.normals ? "on" : "off");
        overlays_.Draw(*gRenderer, *gWorld);
        if (drawOverlays) drawOverlays();
        stats_.stats.Add(timer.time, timer.delta, gDrawCalls, gWorld->postfx.luminance);
        if (countLights) {
            stats_.lights = gWorld->lightStats.lights;
            stats_.boundedLights = gWorld->lightStats.boundedLights;
        }
        if (stats_.mode != HudMode::Off) {
            PerfEvent event(L"Stats overlay");
            stats_.Draw(*gRenderer, text_, width_, height_, GpuPassTimer::active);
        }
        std::string message = reload.Message(timer.time);
        if (timer.time < screenshotFailureUntil) message += screenshotFailure;
        if (!message.empty())
            DrawTextPanel(*gRenderer, text_, message, PanelCorner::Centre, width_, height_, messageVertices);
        if (KeyPressed(VK_F12) && !SaveNumberedScreenshot(*gRenderer, &screenshotFailure))
            screenshotFailureUntil = timer.time + ShaderReload::kMessageSeconds;
        if (GpuPassTimer::active) GpuPassTimer::active->EndFrame();
        gRenderer->EndScene();
        gRenderer->Present();
        // Stepped between frames, so a timer never sees half a frame.
        if (KeyPressed(VK_F1)) stats_.Step();
    }
    views_.Release(*gRenderer);
    GpuPassTimer::active = nullptr;
}
