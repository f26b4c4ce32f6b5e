// The engine as the benchmarks start it: the log, a window of the given size, the renderer
// at that size with the demo's settings and its resources, and a World with its pipeline.
// gRenderer and gWorld are left set for the benchmark's own scene.
#pragma once

#include "app/Log.h"
#include "app/Window.h"
#include "render/Renderer.h"
#include "scene/World.h"

inline void StartBenchEngine(Window& window, int width, int height) {
    Log::Open();
    window.create(50, 50, width, height, 1);
    gRenderer = new Renderer();
    gRenderer->Init(window.handle, DisplayModeDesc{width, height, 0}, RendererSettings{false, false, 4, 1}, 7);
    gRenderer->LoadResources();
    gWorld = new World();
    gWorld->InitPipeline();
}
