// Renderer start-up (device creation and the capability report) and shutdown.
#include "render/Renderer.h"

#include "app/Log.h"

#include <cstring>

Renderer* gRenderer = nullptr;

namespace {

const D3DVERTEXELEMENT9 kQuadElements[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    {0, 20, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
    D3DDECL_END()};

const D3DVERTEXELEMENT9 kScreenQuadElements[] = {
    {0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITIONT, 0},
    {0, 16, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    D3DDECL_END()};

const char* SupportedText(bool flag) { return flag ? "SUPPORTED\n" : "UNSUPPORTED\n"; }

}  // namespace

Renderer::Renderer() { std::memset(stateCache, 0xFF, sizeof(stateCache)); }

bool Renderer::CheckTextureFormat(DWORD usage, D3DFORMAT format) {
    return d3d->CheckDeviceFormat(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, displayMode.Format, usage, D3DRTYPE_TEXTURE,
                                  format) >= 0;
}

void Renderer::ProbeCapabilities() {
    fp16Target = CheckTextureFormat(D3DUSAGE_RENDERTARGET, D3DFMT_A16B16G16R16F);
    fp32Target = CheckTextureFormat(D3DUSAGE_RENDERTARGET, D3DFMT_A32B32G32R32F);
    D3DFORMAT floatFormat = fp16Target ? D3DFMT_A16B16G16R16F : D3DFMT_A32B32G32R32F;
    fpBlending = CheckTextureFormat(D3DUSAGE_RENDERTARGET | D3DUSAGE_QUERY_POSTPIXELSHADER_BLENDING, floatFormat);
    hwShadowMaps = CheckTextureFormat(D3DUSAGE_DEPTHSTENCIL, D3DFMT_D24X8) &&
                   CheckTextureFormat(D3DUSAGE_DEPTHSTENCIL, D3DFMT_D24S8) &&
                   CheckTextureFormat(D3DUSAGE_DEPTHSTENCIL, D3DFMT_D16);
    fpFiltering = CheckTextureFormat(D3DUSAGE_RENDERTARGET | D3DUSAGE_QUERY_FILTER, floatFormat);
    r32fTarget = CheckTextureFormat(D3DUSAGE_RENDERTARGET, D3DFMT_R32F);

    Log::Write("\nDevice caps:\n");
    Log::Write("FloatRT:\t");
    Log::Write(fp16Target ? "A16B16G16R16F\n" : fp32Target ? "A32B32G32R32F\n" : "UNSUPPORTED\n");
    Log::Write("R32F:\t\t");
    Log::Write("%s", SupportedText(r32fTarget));
    Log::Write("FPBlending:\t");
    Log::Write("%s", SupportedText(fpBlending));
    Log::Write("FPFiltering:\t");
    Log::Write("%s", SupportedText(fpFiltering));
    Log::Write("HWShadowMaps:\t");
    Log::Write("%s", SupportedText(hwShadowMaps));
    Log::Write("\n");
}

bool Renderer::Init(HWND window, DisplayModeDesc mode, RendererSettings newSettings, int deviceFlags) {
    gRenderer = this;
    settings = newSettings;
    width = mode.width;
    height = mode.height;
    fullscreen = newSettings.fullscreen;
    if (!window) Log::Fatal("Renderer::Init: Invalid window handle!\n");
    if (!d3d) {
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        if (!d3d) Log::Fatal("Renderer::Init: Couldn't create D3D object!\n");
    }
    d3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &displayMode);
    ProbeCapabilities();
    Log::Write("Resolution: %dx%d %d Hz ", width, height, static_cast<int>(displayMode.RefreshRate));

    std::memset(&presentParameters, 0, sizeof(presentParameters));
    D3DPRESENT_PARAMETERS& pp = presentParameters;
    pp.hDeviceWindow = window;
    pp.BackBufferFormat = SUCCEEDED(d3d->CheckDeviceType(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, displayMode.Format,
                                                         D3DFMT_A8R8G8B8, !fullscreen))
                              ? D3DFMT_A8R8G8B8
                              : displayMode.Format;
    if (pp.BackBufferFormat == D3DFMT_A8R8G8B8) Log::Write("Format: A8R8G8B8\n");
    else if (pp.BackBufferFormat == D3DFMT_X8R8G8B8) Log::Write("Format: X8R8G8B8\n");
    pp.BackBufferCount = 1;
    pp.BackBufferWidth = static_cast<UINT>(width);
    pp.BackBufferHeight = static_cast<UINT>(height);
    pp.MultiSampleType = static_cast<D3DMULTISAMPLE_TYPE>(settings.multisample);
    pp.MultiSampleQuality = 0;
    pp.EnableAutoDepthStencil = (deviceFlags & kDeviceFlagAutoDepthStencil) ? TRUE : FALSE;
    pp.AutoDepthStencilFormat = D3DFMT_D24S8;
    pp.Windowed = !fullscreen;
    pp.PresentationInterval = settings.vsync ? D3DPRESENT_INTERVAL_DEFAULT : D3DPRESENT_INTERVAL_IMMEDIATE;
    // Multisampling needs DISCARD, which also lets a full-screen device flip; a windowed,
    // single-sampled device copies, so the back buffer keeps its pixels after Present.
    pp.SwapEffect = (!fullscreen && settings.multisample == 0) ? D3DSWAPEFFECT_COPY : D3DSWAPEFFECT_DISCARD;
    pp.FullScreen_RefreshRateInHz = fullscreen ? displayMode.RefreshRate : 0;
    pp.Flags = 0;

    D3DCAPS9 adapterCaps{};
    d3d->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &adapterCaps);
    if (!(adapterCaps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT))
        Log::Write("D3DDEVCAPS_HWTRANSFORMANDLIGHT not supported.\n");
    DWORD behaviour = D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_PUREDEVICE;
    if (adapterCaps.VertexProcessingCaps == 0) {
        behaviour = D3DCREATE_SOFTWARE_VERTEXPROCESSING;
        Log::Write("WARNING: Using software vertex processing.\n");
    }
    if (FAILED(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, behaviour, &pp, &device))) {
        d3d->Release();
        d3d = nullptr;
        device = nullptr;
        // The line keeps the wording log readers look for; there is no class of that name.
        Log::Write("[ERROR] RenderDeviceDX9: Couldn't create D3D device!\n");
        Log::Fatal("Renderer::Init: Couldn't create D3D device!\n");
    }

    device->GetDeviceCaps(&caps);
    pixelShaderMajor = static_cast<int>((caps.PixelShaderVersion >> 8) & 0xFF);
    pixelShaderMinor = static_cast<int>(caps.PixelShaderVersion & 0xFF);
    vertexShaderMajor = static_cast<int>((caps.VertexShaderVersion >> 8) & 0xFF);
    vertexShaderMinor = static_cast<int>(caps.VertexShaderVersion & 0xFF);
    textureStages = static_cast<int>(caps.MaxSimultaneousTextures);
    maxAnisotropy = static_cast<int>(caps.MaxAnisotropy);
    const char* profile = D3DXGetPixelShaderProfile(device);
    Log::Write("PixelShaderVersion = %s (%d.%d)\n", profile ? profile : "", pixelShaderMajor, pixelShaderMinor);
    Log::Write("VertexShaderVersion = %d.%d\n", vertexShaderMajor, vertexShaderMinor);
    Log::Write("TextureStages = %d\n", textureStages);
    Log::Write("MaxAnisotropy = %d\n", maxAnisotropy);
    canAutoGenMipMap = (caps.Caps2 & D3DCAPS2_CANAUTOGENMIPMAP) != 0;
    Log::Write(canAutoGenMipMap ? "CanAutoGenMipMap = true\n" : "CanAutoGenMipMap = false\n");
    Log::Write("\n");

    if (pixelShaderMajor < 3) {
        const D3DFORMAT instancing = static_cast<D3DFORMAT>(MAKEFOURCC('I', 'N', 'S', 'T'));
        if (SUCCEEDED(d3d->CheckDeviceFormat(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, 0, D3DRTYPE_SURFACE,
                                             instancing))) {
            device->SetRenderState(D3DRS_POINTSIZE, static_cast<DWORD>(instancing));
            Log::Write("ATI Instancing enabled.\n");
        } else {
            Log::Write("WARNING: Graphics adapter does not support HW Instancing!\n");
        }
    }

    // A null out-pointer asks Direct3D 9 only whether the query type is supported.
    occlusionQuery = device->CreateQuery(D3DQUERYTYPE_OCCLUSION, nullptr) != D3DERR_NOTAVAILABLE;
    Log::Write("OcclusionQuery:\t");
    Log::Write("%s", SupportedText(occlusionQuery));

    if (settings.anisotropy > 1 && maxAnisotropy > 1 && settings.anisotropy <= maxAnisotropy)
        for (int stage = 0; stage < textureStages; ++stage)
            device->SetSamplerState(static_cast<DWORD>(stage), D3DSAMP_MAXANISOTROPY,
                                    static_cast<DWORD>(settings.anisotropy));

    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);

    if (FAILED(device->CreateVertexDeclaration(kQuadElements, &quadDeclaration)) ||
        FAILED(device->CreateVertexDeclaration(kScreenQuadElements, &screenQuadDeclaration)))
        Log::Fatal("Renderer::Init: CreateVertexDeclaration failed!");

    for (int stage = 0; stage < textureStages; ++stage) {
        DWORD s = static_cast<DWORD>(stage);
        device->SetSamplerState(s, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        device->SetSamplerState(s, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        device->SetSamplerState(s, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
        device->SetSamplerState(s, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
        device->SetSamplerState(s, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
        device->SetSamplerState(s, D3DSAMP_BORDERCOLOR, 0xFFFF0000);
        device->SetSamplerState(s, D3DSAMP_SRGBTEXTURE, 0);
    }

    Log::Write("\n");
    CreateBillboardResources();
    return true;
}

Renderer::~Renderer() {
    for (int i = 0; i < static_cast<int>(shaders.size()); ++i) ReleaseShader(i);
    shaders.clear();
    for (TextureRecord& record : textures) {
        if (record.texture) record.texture->Release();
        record.texture = nullptr;
    }
    textures.clear();
    ReleaseVertexDecl(quadDeclaration);
    ReleaseVertexDecl(screenQuadDeclaration);
    quadDeclaration = screenQuadDeclaration = nullptr;
    ReleaseBillboardResources();
    drawThrottle.Release();
    if (device) device->Release();
    device = nullptr;
    if (d3d) d3d->Release();
    d3d = nullptr;
    fonts.clear();
    // Render targets are released by whoever created them; only the list goes here.
    renderTargets.clear();
    if (gRenderer == this) gRenderer = nullptr;
}
