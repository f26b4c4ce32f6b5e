#include "scene/WorldTestSupport.h"

#include "d3d9/GlDebug.h"
#include "scene/Vertices.h"

#include <cstring>
#include <filesystem>

namespace lumaret::test {

namespace {

LRESULT CALLBACK TestWindowProcedure(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(w, message, wParam, lParam);
}

void LoadDataShaders(const std::vector<std::string>& names) {
    for (const std::string& name : names) ASSERT_GE(gRenderer->LoadShader("./data/" + name), 0) << name;
}

}  // namespace

void WorldTest::TearDown() {
    delete gWorld;
    gWorld = nullptr;
    delete gRenderer;
    gRenderer = nullptr;
    if (window) DestroyWindow(window);
    ResetAnimationClock();
    EXPECT_EQ(lumaret::platform::GlDebugErrorCount(), 0u) << lumaret::platform::GlDebugLastError();
}

void WorldTest::StartOnRecordingDevice(int width, int height, const std::vector<std::string>& dataShaders) {
    std::filesystem::create_directory_symlink(std::filesystem::path(SourceDir()) / "data", "data");
    Log::Open();
    recordingD3D = new RecordingDirect3D();
    gRenderer = new Renderer();
    gRenderer->d3d = recordingD3D;
    gRenderer->Init(reinterpret_cast<HWND>(1), DisplayModeDesc{width, height, 0}, RendererSettings{true, true, 4, 1},
                    7);
    recording = recordingD3D->lastDevice;
    gRenderer->LoadTexture("./data/default_white.bmp");
    gRenderer->LoadTexture("./data/default_nmap.bmp");
    LoadDataShaders(dataShaders);
    StartWorld();
}

void WorldTest::StartOnRealDevice(int width, int height, const std::vector<std::string>& dataShaders) {
    std::filesystem::create_directory_symlink(std::filesystem::path(SourceDir()) / "data", "data");
    Log::Open();
    WNDCLASSA cls{};
    cls.lpfnWndProc = TestWindowProcedure;
    cls.lpszClassName = "lumaret-world-test";
    RegisterClassA(&cls);
    window = CreateWindowExA(0, cls.lpszClassName, "world test", WS_VISIBLE, 0, 0, width, height, nullptr, nullptr,
                             nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    gRenderer = new Renderer();
    // No multisampling, so that back-buffer pixels are exactly what the composite wrote.
    gRenderer->Init(window, DisplayModeDesc{width, height, 0}, RendererSettings{false, false, 0, 1}, 7);
    gRenderer->LoadTexture("./data/default_white.bmp");
    gRenderer->LoadTexture("./data/default_nmap.bmp");
    LoadDataShaders(dataShaders);
    StartWorld();
    lumaret::platform::ResetGlDebugErrors();
}

void WorldTest::StartWorld() {
    gWorld = new World();
    gWorld->InitPipeline();
    camera.SetPerspective(60.0f, 4.0f / 3.0f, 1.0f, 2000.0f);
    camera.SetPosition(D3DXVECTOR3(0.0f, 0.0f, -500.0f));
    camera.SetTarget(D3DXVECTOR3(0.0f, 0.0f, 0.0f));
}

MeshPartRenderable* WorldTest::AddQuad(float edge) {
    float h = edge / 2;
    // Corners top-left, top-right, bottom-right, bottom-left as the camera sees them;
    // (0, 1, 2), (0, 2, 3) run clockwise on screen, the front side in Direct3D 9.
    const float corners[4][2] = {{-h, h}, {h, h}, {h, -h}, {-h, -h}};
    const uint16_t indices[6] = {0, 1, 2, 0, 2, 3};
    Mesh* mesh = gRenderer->CreateMesh();
    mesh->CreateStream(0, 4, sizeof(StaticVertex), false);  // write-only, as scene meshes are
    mesh->CreateIndexBuffer(6, nullptr, false, false);
    mesh->declaration = gWorld->declarations[DeclarationB];
    auto* vertices = static_cast<StaticVertex*>(mesh->LockStream(0));
    for (int i = 0; i < 4; ++i) {
        StaticVertex v{};
        v.position[0] = corners[i][0];
        v.position[1] = corners[i][1];
        v.normal[0] = v.normal[1] = PackUnitByte(0.0f);
        v.normal[2] = PackUnitByte(-1.0f);
        v.normal[3] = 255;
        v.uv0[0] = i == 1 || i == 2 ? 1.0f : 0.0f;
        v.uv0[1] = i >= 2 ? 1.0f : 0.0f;
        v.tangent[0] = 255;
        v.tangent[1] = v.tangent[2] = 127;
        v.tangent[3] = 255;
        vertices[i] = v;
    }
    mesh->UnlockStream(0);
    std::memcpy(mesh->LockIndexBuffer(0, 0), indices, sizeof(indices));
    mesh->UnlockIndexBuffer();
    mesh->ranges.push_back(IndexRange{0, 6});
    gWorld->meshes.push_back(mesh);

    auto* quad = new MeshPartRenderable(mesh, 0);
    quad->params.values[ParamMaterialDiffuse].vector = D3DXVECTOR4(1, 1, 1, 1);
    quad->params.values[ParamMaterialAmbient].vector = D3DXVECTOR4(0, 0, 0, 1);
    quad->params.values[ParamMaterialSpecular].vector = D3DXVECTOR4(0, 0, 0, 1);
    int white = gRenderer->FindTexture("./data/default_white.bmp");
    quad->params.textures[0] = quad->params.textures[1] = white;
    quad->params.textures[2] = gRenderer->FindTexture("./data/default_nmap.bmp");
    quad->params.samplerFlags[0] = quad->params.samplerFlags[1] = 11;
    quad->params.samplerFlags[2] = 2;
    Renderer::BuildStateList(quad->params);
    gWorld->renderables.push_back(quad);
    return quad;
}

SceneObject* WorldTest::AddObject(Renderable* renderable, Zone* zone) {
    SceneObject* object = gWorld->CreateObject("object");
    if (renderable) object->AddRenderable(renderable);
    if (zone) zone->AddObject(object);
    return object;
}

std::vector<uint8_t> WorldTest::ReadTarget(int index, int* widthOut, int* heightOut) {
    const RenderTarget& target = gRenderer->renderTargets[static_cast<size_t>(index)];
    D3DSURFACE_DESC desc;
    target.surface->GetDesc(&desc);
    IDirect3DSurface9* copy = nullptr;
    gRenderer->device->CreateOffscreenPlainSurface(desc.Width, desc.Height, desc.Format, D3DPOOL_SYSTEMMEM, &copy,
                                                   nullptr);
    EXPECT_EQ(gRenderer->device->GetRenderTargetData(target.surface, copy), D3D_OK);
    D3DLOCKED_RECT locked{};
    copy->LockRect(&locked, nullptr, D3DLOCK_READONLY);
    size_t rowBytes = desc.Format == D3DFMT_A16B16G16R16 ? desc.Width * 8u : desc.Width * 4u;
    std::vector<uint8_t> bytes(rowBytes * desc.Height);
    for (UINT y = 0; y < desc.Height; ++y)
        std::memcpy(&bytes[y * rowBytes], static_cast<const uint8_t*>(locked.pBits) + y * locked.Pitch, rowBytes);
    copy->UnlockRect();
    copy->Release();
    if (widthOut) *widthOut = static_cast<int>(desc.Width);
    if (heightOut) *heightOut = static_cast<int>(desc.Height);
    return bytes;
}

std::vector<uint32_t> WorldTest::ReadBackBuffer() {
    IDirect3DSurface9* backBuffer = nullptr;
    gRenderer->device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer);
    D3DSURFACE_DESC desc;
    backBuffer->GetDesc(&desc);
    IDirect3DSurface9* copy = nullptr;
    gRenderer->device->CreateOffscreenPlainSurface(desc.Width, desc.Height, desc.Format, D3DPOOL_SYSTEMMEM, &copy,
                                                   nullptr);
    EXPECT_EQ(gRenderer->device->GetRenderTargetData(backBuffer, copy), D3D_OK);
    D3DLOCKED_RECT locked{};
    copy->LockRect(&locked, nullptr, D3DLOCK_READONLY);
    std::vector<uint32_t> pixels(static_cast<size_t>(desc.Width) * desc.Height);
    for (UINT y = 0; y < desc.Height; ++y)
        std::memcpy(&pixels[y * desc.Width], static_cast<const uint8_t*>(locked.pBits) + y * locked.Pitch,
                    desc.Width * 4u);
    copy->UnlockRect();
    copy->Release();
    backBuffer->Release();
    return pixels;
}

}  // namespace lumaret::test
