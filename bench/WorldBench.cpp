// World::Render for the demo's load: 125 objects of 3 renderables each and one light at
// 640 x 480, headless on llvmpipe. "Time" is wall time per frame (the luminance read-back
// waits for the device every frame), "CPU" the main thread's time; counters give the
// draw calls and heap allocations per frame.
#include "app/Log.h"
#include "app/Window.h"
#include "render/Renderer.h"
#include "scene/Camera.h"
#include "scene/Vertices.h"
#include "scene/World.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>

namespace {
std::atomic<long> gAllocations{0};
}

void* operator new(size_t size) {
    ++gAllocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

void EnterScratchDirectory() {
    std::filesystem::path scratch = std::filesystem::temp_directory_path() / "lumaret-world-bench";
    std::filesystem::create_directories(scratch);
    std::filesystem::remove(scratch / "data");
    std::filesystem::create_directory_symlink(std::filesystem::path(LUMARET_SOURCE_DIR) / "data", scratch / "data");
    std::filesystem::current_path(scratch);
}

// A camera-facing square of unskinned vertices with a white material.
Renderable* AddSquare(World& world, float edge, float offset) {
    float h = edge / 2;
    const float corners[4][2] = {{-h, h}, {h, h}, {h, -h}, {-h, -h}};
    const uint16_t indices[6] = {0, 1, 2, 0, 2, 3};
    Mesh* mesh = gRenderer->CreateMesh();
    mesh->CreateStream(0, 4, sizeof(StaticVertex), false);
    mesh->CreateIndexBuffer(6, nullptr, false, false);
    mesh->declaration = world.declarations[DeclarationB];
    auto* vertices = static_cast<StaticVertex*>(mesh->LockStream(0));
    for (int i = 0; i < 4; ++i) {
        StaticVertex v{};
        v.position[0] = corners[i][0] + offset;
        v.position[1] = corners[i][1];
        v.normal[0] = v.normal[1] = 127;
        v.normal[3] = 255;
        v.uv0[0] = i == 1 || i == 2 ? 1.0f : 0.0f;
        v.uv0[1] = i >= 2 ? 1.0f : 0.0f;
        vertices[i] = v;
    }
    mesh->UnlockStream(0);
    std::memcpy(mesh->LockIndexBuffer(0, 0), indices, sizeof(indices));
    mesh->UnlockIndexBuffer();
    mesh->ranges.push_back(IndexRange{0, 6});
    world.meshes.push_back(mesh);
    auto* square = new MeshPartRenderable(mesh, 0);
    square->params.values[ParamMaterialDiffuse].vector = D3DXVECTOR4(1, 1, 1, 1);
    square->params.textures[0] = square->params.textures[1] = gRenderer->FindTexture("./data/default_white.bmp");
    square->params.textures[2] = gRenderer->FindTexture("./data/default_nmap.bmp");
    square->params.samplerFlags[0] = square->params.samplerFlags[1] = 11;
    square->params.samplerFlags[2] = 2;
    Renderer::BuildStateList(square->params);
    world.renderables.push_back(square);
    return square;
}

void BM_WorldRender(benchmark::State& state) {
    EnterScratchDirectory();
    Log::Open();
    Window window;
    window.create(50, 50, 640, 480, 1);
    gRenderer = new Renderer();
    gRenderer->Init(window.handle, DisplayModeDesc{640, 480, 0}, RendererSettings{false, false, 4, 1}, 7);
    for (const char* texture : {"./data/default_white.bmp", "./data/default_nmap.bmp"}) gRenderer->LoadTexture(texture);
    for (const char* shader : {"./data/PassZN.hlsl", "./data/PassLight.hlsl", "./data/PassForward.hlsl",
                               "./data/PostProcess.hlsl"})
        gRenderer->LoadShader(shader);
    gWorld = new World();
    gWorld->InitPipeline();
    Renderable* parts[3] = {AddSquare(*gWorld, 40, -50), AddSquare(*gWorld, 40, 0), AddSquare(*gWorld, 40, 50)};
    Zone* zone = gWorld->CreateZone("zone");
    for (int i = 0; i < 125; ++i) {
        SceneObject* object = gWorld->CreateObject("cube");
        for (Renderable* part : parts) object->AddRenderable(part);
        D3DXMatrixTranslation(&object->world, 233.0f * (i / 25), 233.0f * (i / 5 % 5), 233.0f * (i % 5));
        zone->AddObject(object);
    }
    Light light;
    light.position = D3DXVECTOR3(0, 500, 400);
    gWorld->lights.push_back(&light);
    Camera camera;
    camera.SetPerspective(60.0f, 4.0f / 3.0f, 1.0f, 2000.0f);
    camera.SetPosition(D3DXVECTOR3(0, 500, -600));
    camera.SetTarget(D3DXVECTOR3(500, 500, 500));

    auto frame = [&] {
        gRenderer->BeginScene();
        gRenderer->Clear(ClearColor | ClearDepth | ClearStencil, 0xFF404040, 0);
        gWorld->Render(&camera);
        gRenderer->EndScene();
        gRenderer->Present();
    };
    frame();
    long allocations = gAllocations;
    for (auto _ : state) frame();
    state.counters["draws_per_frame"] = 2.0 * 125 * 3 + 1 + 7;
    state.counters["allocs_per_frame"] =
        benchmark::Counter(static_cast<double>(gAllocations - allocations), benchmark::Counter::kAvgIterations);
    delete gWorld;
    gWorld = nullptr;
    delete gRenderer;
    gRenderer = nullptr;
    window.destroy();
}
BENCHMARK(BM_WorldRender)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
