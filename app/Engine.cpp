#include "app/Engine.h"

#include "app/FrameTimer.h"
#include "app/Log.h"

Window gWindow;

namespace {

// One turn of the message pump: at most one message per frame. Returns false once
// WM_QUIT has been taken from the queue.
bool PumpOneMessage() {
    MSG msg;
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return true;
    if (msg.message == WM_QUIT) {
        Log::Write("WM_QUIT\n");
        return false;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    return true;
}

}  // namespace

int RunEngine(const ScreenConfig& screen) {
    // Start-up.
    Log::Open();
    gWindow.create(50, 50, screen.width, screen.height, screen.fullscreen ? 0 : 1, nullptr);
    // Renderer: settings, Renderer::Init, Renderer::LoadResources, the text overlay.
    // World: World::InitPipeline, the demo light, the logo quad, the demo scene, the camera.
    FrameTimer timer;
    timer.Start();

    // Main loop.
    while (gWindow.KeyState[VK_ESCAPE] == 0) {
        if (!PumpOneMessage()) break;
        timer.Update();
        // Camera orbit and demo animation, then the frame: BeginScene, Clear,
        // World::Render, the logo, EndScene, Present.
    }

    // Shutdown.
    Log::Write("Shutting down...\n");
    // World, then Renderer.
    return 0;
}
