// Renderer::Init on a recording device: the capability report byte for byte, the present
// parameters, the probes, and shutdown.
#include "render/RendererTestSupport.h"

using lumaret::test::RecordedRendererTest;
using lumaret::test::RecordingDevice;

namespace {

const char* const kFullReport =
    "\nDevice caps:\n"
    "FloatRT:\tA16B16G16R16F\n"
    "R32F:\t\tSUPPORTED\n"
    "FPBlending:\tSUPPORTED\n"
    "FPFiltering:\tSUPPORTED\n"
    "HWShadowMaps:\tSUPPORTED\n"
    "\n"
    "Resolution: 640x480 60 Hz Format: A8R8G8B8\n"
    "PixelShaderVersion = ps_3_0 (3.0)\n"
    "VertexShaderVersion = 3.0\n"
    "TextureStages = 8\n"
    "MaxAnisotropy = 16\n"
    "CanAutoGenMipMap = true\n"
    "\n"
    "OcclusionQuery:\tSUPPORTED\n"
    "\n";

}  // namespace

TEST_F(RecordedRendererTest, InitWritesTheWholeCapabilityReport) {
    Init();
    EXPECT_EQ(LogBody(), kFullReport);
    EXPECT_EQ(gRenderer, renderer.get());
    EXPECT_TRUE(renderer->fp16Target && renderer->fp32Target && renderer->fpBlending && renderer->fpFiltering &&
                renderer->hwShadowMaps && renderer->r32fTarget && renderer->occlusionQuery);
    EXPECT_EQ(renderer->pixelShaderMajor, 3);
    EXPECT_EQ(renderer->textureStages, 8);
    // The probes run in their order, on textures, against the display format.
    std::vector<std::string> expected = {
        "CheckDeviceFormat(1, " + std::to_string(D3DFMT_A16B16G16R16F) + ")",
        "CheckDeviceFormat(1, " + std::to_string(D3DFMT_A32B32G32R32F) + ")",
        "CheckDeviceFormat(524289, " + std::to_string(D3DFMT_A16B16G16R16F) + ")",
        "CheckDeviceFormat(2, " + std::to_string(D3DFMT_D24X8) + ")",
        "CheckDeviceFormat(2, " + std::to_string(D3DFMT_D24S8) + ")",
        "CheckDeviceFormat(2, " + std::to_string(D3DFMT_D16) + ")",
        "CheckDeviceFormat(131073, " + std::to_string(D3DFMT_A16B16G16R16F) + ")",
        "CheckDeviceFormat(1, " + std::to_string(D3DFMT_R32F) + ")"};
    EXPECT_EQ(d3d->checks, expected);
}

TEST_F(RecordedRendererTest, ReportFollowsWhatTheAdapterRefuses) {
    d3d->refusedFormats = {{D3DUSAGE_RENDERTARGET, D3DFMT_A16B16G16R16F},
                           {D3DUSAGE_RENDERTARGET | D3DUSAGE_QUERY_FILTER, D3DFMT_A32B32G32R32F},
                           {D3DUSAGE_DEPTHSTENCIL, D3DFMT_D24X8}};
    d3d->queryResult = D3DERR_NOTAVAILABLE;
    d3d->caps.PixelShaderVersion = D3DPS_VERSION(2, 0);
    d3d->refuseA8R8G8B8BackBuffer = true;
    Init();
    std::string log = LogBody();
    EXPECT_NE(log.find("FloatRT:\tA32B32G32R32F\n"), std::string::npos);
    EXPECT_NE(log.find("FPFiltering:\tUNSUPPORTED\n"), std::string::npos);
    EXPECT_NE(log.find("FPBlending:\tSUPPORTED\n"), std::string::npos);
    // The shadow-map probe stops at the first refusal.
    EXPECT_NE(log.find("HWShadowMaps:\tUNSUPPORTED\n"), std::string::npos);
    EXPECT_EQ(std::count(d3d->checks.begin(), d3d->checks.end(),
                         "CheckDeviceFormat(2, " + std::to_string(D3DFMT_D24S8) + ")"),
              0);
    // The display format stands in for A8R8G8B8, and it is X8R8G8B8.
    EXPECT_NE(log.find("Resolution: 640x480 60 Hz Format: X8R8G8B8\n"), std::string::npos);
    EXPECT_EQ(d3d->lastParameters.BackBufferFormat, D3DFMT_X8R8G8B8);
    EXPECT_NE(log.find("PixelShaderVersion = ps_2_0 (2.0)\n"), std::string::npos);
    // Below pixel shader 3 the instancing probe runs (and passes on this adapter).
    EXPECT_NE(log.find("ATI Instancing enabled.\n"), std::string::npos);
    EXPECT_NE(log.find("OcclusionQuery:\tUNSUPPORTED\n"), std::string::npos);
    EXPECT_FALSE(renderer->occlusionQuery);
}

TEST_F(RecordedRendererTest, OtherDisplayFormatsOmitTheFormatLine) {
    d3d->refuseA8R8G8B8BackBuffer = true;
    d3d->mode.Format = D3DFMT_R5G6B5;
    Init();
    EXPECT_NE(LogBody().find("Resolution: 640x480 60 Hz PixelShaderVersion"), std::string::npos);
}

TEST_F(RecordedRendererTest, PresentParametersFollowTheSettings) {
    Init({true, true, 4, 1}, 7);
    D3DPRESENT_PARAMETERS p = d3d->lastParameters;
    EXPECT_EQ(p.SwapEffect, D3DSWAPEFFECT_DISCARD);
    EXPECT_EQ(p.FullScreen_RefreshRateInHz, 60u);
    EXPECT_FALSE(p.Windowed);
    EXPECT_TRUE(p.EnableAutoDepthStencil);
    EXPECT_EQ(p.AutoDepthStencilFormat, D3DFMT_D24S8);
    EXPECT_EQ(p.MultiSampleType, D3DMULTISAMPLE_4_SAMPLES);
    EXPECT_EQ(p.PresentationInterval, static_cast<UINT>(D3DPRESENT_INTERVAL_DEFAULT));
    EXPECT_EQ(d3d->lastBehaviorFlags, static_cast<DWORD>(0x50));

    // Windowed without multisampling copies; windowed with it discards; bit 1 of the
    // device flags alone decides the depth buffer.
    Init({false, false, 0, 1}, 5);
    p = d3d->lastParameters;
    EXPECT_EQ(p.SwapEffect, D3DSWAPEFFECT_COPY);
    EXPECT_EQ(p.FullScreen_RefreshRateInHz, 0u);
    EXPECT_FALSE(p.EnableAutoDepthStencil);
    EXPECT_EQ(p.PresentationInterval, static_cast<UINT>(D3DPRESENT_INTERVAL_IMMEDIATE));
    Init({false, true, 4, 1}, 2);
    EXPECT_EQ(d3d->lastParameters.SwapEffect, D3DSWAPEFFECT_DISCARD);
}

TEST_F(RecordedRendererTest, AnisotropyIsSetOnlyWithinTheDevicesRange) {
    d3d->caps.MaxAnisotropy = 8;
    renderer->Init(reinterpret_cast<HWND>(1), DisplayModeDesc{640, 480, 0}, RendererSettings{true, true, 4, 1}, 7);
    EXPECT_EQ(d3d->lastDevice->Count("SetSamplerState(0, 10,"), 0u) << "the start-up value 1 leaves it alone";
    d3d->AddRef();
    renderer = std::make_unique<Renderer>();
    renderer->d3d = d3d;
    renderer->Init(reinterpret_cast<HWND>(1), DisplayModeDesc{640, 480, 0}, RendererSettings{true, true, 4, 16}, 7);
    EXPECT_EQ(d3d->lastDevice->Count("SetSamplerState(0, 10,"), 0u) << "16 exceeds the maximum of 8";
    d3d->AddRef();
    renderer = std::make_unique<Renderer>();
    renderer->d3d = d3d;
    renderer->Init(reinterpret_cast<HWND>(1), DisplayModeDesc{640, 480, 0}, RendererSettings{true, true, 4, 4}, 7);
    EXPECT_EQ(d3d->lastDevice->Count("SetSamplerState(0, 10, 4)"), 1u);
    EXPECT_EQ(d3d->lastDevice->Count("SetSamplerState(7, 10, 4)"), 1u);
}

TEST_F(RecordedRendererTest, InitSetsDefaultStatesAndBuildsTheBillboard) {
    renderer->Init(reinterpret_cast<HWND>(1), DisplayModeDesc{640, 480, 0}, RendererSettings{true, true, 4, 1}, 7);
    device = d3d->lastDevice;
    EXPECT_EQ(device->Count("SetRenderState(22, 3)"), 1u);
    EXPECT_EQ(device->Count("SetRenderState(137, 0)"), 1u);
    EXPECT_EQ(device->Count("SetSamplerState(7, 4, 4294901760)"), 1u) << "red border on every stage";
    EXPECT_EQ(device->Count("CreateVertexBuffer(144, 8, 0, 0)"), 1u);
    EXPECT_EQ(device->Count("CreateVertexDeclaration()"), 2u);
    EXPECT_EQ(renderer->ShaderCount(), 1);
    EXPECT_EQ(renderer->billboard.params.stateFlags, 365u);
    EXPECT_NE(renderer->shaders[0].vertexHandles[ParamMatrixWorldView], nullptr);
    EXPECT_NE(renderer->shaders[0].pixelHandles[ParamMaterialDiffuse], nullptr);
    EXPECT_EQ(renderer->shaders[0].vertexHandles[ParamMaterialDiffuse], nullptr);
}

TEST_F(RecordedRendererTest, SecondInitReusesTheDirect3DObject) {
    Init();
    IDirect3D9* first = renderer->d3d;
    Init();
    EXPECT_EQ(renderer->d3d, first);
}

TEST(RendererDeathTest, InitFailuresAreFatalWithTheirMessages) {
    lumaret::test::ScopedTempDir dir;
    EXPECT_EXIT(
        {
            Renderer renderer;
            renderer.Init(nullptr, DisplayModeDesc{640, 480, 0}, RendererSettings{}, 7);
        },
        testing::ExitedWithCode(255), "Renderer::Init: Invalid window handle!");
    EXPECT_EXIT(
        {
            Log::Open();
            auto* d3d = new lumaret::test::RecordingDirect3D();
            d3d->failCreateDevice = true;
            Renderer renderer;
            renderer.d3d = d3d;
            renderer.Init(reinterpret_cast<HWND>(1), DisplayModeDesc{640, 480, 0}, RendererSettings{}, 7);
        },
        testing::ExitedWithCode(255), "Renderer::Init: Couldn't create D3D device!");
    std::string log = lumaret::test::ReadFileBytes("log.txt");
    EXPECT_NE(log.find("[ERROR] RenderDeviceDX9: Couldn't create D3D device!\n"), std::string::npos);
}
