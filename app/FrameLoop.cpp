#include "app/FrameLoop.h"

#include "app/MessagePump.h"
#include "app/Screenshot.h"
#include "app/ShaderReload.h"
#include "app/Window.h"
#include "render/DrawCount.h"
#include "render/PerfEvent.h"
#include "render/Renderer.h"
#include "scene/World.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

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
    stats_.visible = hud && std::strcmp(hud, "1") == 0;

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
        gRenderer->Clear(ClearColor | ClearDepth | ClearStencil, clearColor_, 0);
        gWorld->Render(&camera_);
        if (KeyPressed(VK_F2)) window_.KeyState[VK_SHIFT] ? views_.Previous() : views_.Next();
        views_.Draw(*gRenderer, *gWorld, text_, width_, height_);
        if (drawOverlays) drawOverlays();
        if (KeyPressed(VK_F1)) stats_.visible = !stats_.visible;
        stats_.stats.Add(timer.time, timer.delta, gDrawCalls, gWorld->postfx.luminance);
        if (stats_.visible) {
            PerfEvent event(L"Stats overlay");
            stats_.Draw(*gRenderer, text_, width_, height_);
        }
        std::string message = reload.Message(timer.time);
        if (timer.time < screenshotFailureUntil) message += screenshotFailure;
        if (!message.empty())
            DrawTextPanel(*gRenderer, text_, message, PanelCorner::Centre, width_, height_, messageVertices);
        if (KeyPressed(VK_F12) && !SaveNumberedScreenshot(*gRenderer, &screenshotFailure))
            screenshotFailureUntil = timer.time + ShaderReload::kMessageSeconds;
        gRenderer->EndScene();
        gRenderer->Present();
    }
}
