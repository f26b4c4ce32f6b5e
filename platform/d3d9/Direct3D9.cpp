#include "d3d9/Direct3D9.h"

#include "d3d9/Device.h"
#include "d3d9/Formats.h"
#include "win32/WindowSystem.h"

#include <SDL.h>

#include <cstdio>
#include <cstring>

namespace lumaret::platform {
namespace {

bool ValidAdapter(UINT adapter, D3DDEVTYPE type) { return adapter == D3DADAPTER_DEFAULT && type == D3DDEVTYPE_HAL; }

bool DisplayFormat(D3DFORMAT format) { return format == D3DFMT_X8R8G8B8; }

bool BackBufferFormat(D3DFORMAT format) { return format == D3DFMT_A8R8G8B8 || format == D3DFMT_X8R8G8B8; }

}  // namespace

UINT Direct3D9::GetAdapterModeCount(UINT adapter, D3DFORMAT format) {
    return adapter == D3DADAPTER_DEFAULT && DisplayFormat(format) ? 1 : 0;
}

HRESULT Direct3D9::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) {
    if (adapter != D3DADAPTER_DEFAULT || !mode) return D3DERR_INVALIDCALL;
    mode->Format = D3DFMT_X8R8G8B8;
    mode->Width = 1920;
    mode->Height = 1080;
    // Headless there is no monitor: the refresh rate is the adapter default, 0.
    mode->RefreshRate = 0;
    SDL_DisplayMode desktop;
    if (!IsHeadless() && SDL_GetDesktopDisplayMode(0, &desktop) == 0) {
        mode->Width = static_cast<UINT>(desktop.w);
        mode->Height = static_cast<UINT>(desktop.h);
        mode->RefreshRate = static_cast<UINT>(desktop.refresh_rate);
    }
    return D3D_OK;
}

HRESULT Direct3D9::CheckDeviceType(UINT adapter, D3DDEVTYPE deviceType, D3DFORMAT adapterFormat,
                                   D3DFORMAT backBufferFormat, BOOL) {
    if (!ValidAdapter(adapter, deviceType)) return D3DERR_INVALIDCALL;
    if (!DisplayFormat(adapterFormat) || !BackBufferFormat(backBufferFormat)) return D3DERR_NOTAVAILABLE;
    return D3D_OK;
}

HRESULT Direct3D9::CheckDeviceFormat(UINT adapter, D3DDEVTYPE deviceType, D3DFORMAT adapterFormat, DWORD usage,
                                     D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) {
    if (!ValidAdapter(adapter, deviceType)) return D3DERR_INVALIDCALL;
    if (!DisplayFormat(adapterFormat)) return D3DERR_NOTAVAILABLE;
    const FormatInfo* info = FindFormat(checkFormat);
    if (!info) return D3DERR_NOTAVAILABLE;
    if (resourceType != D3DRTYPE_TEXTURE && resourceType != D3DRTYPE_CUBETEXTURE && resourceType != D3DRTYPE_SURFACE)
        return D3DERR_NOTAVAILABLE;
    if ((usage & D3DUSAGE_RENDERTARGET) && !info->renderTarget) return D3DERR_NOTAVAILABLE;
    if ((usage & D3DUSAGE_DEPTHSTENCIL) && !info->depth) return D3DERR_NOTAVAILABLE;
    if (!(usage & D3DUSAGE_DEPTHSTENCIL) && info->depth && resourceType == D3DRTYPE_CUBETEXTURE)
        return D3DERR_NOTAVAILABLE;
    if ((usage & D3DUSAGE_QUERY_FILTER) && !info->filterable) return D3DERR_NOTAVAILABLE;
    if ((usage & D3DUSAGE_QUERY_POSTPIXELSHADER_BLENDING) && !info->blendable) return D3DERR_NOTAVAILABLE;
    if ((usage & (D3DUSAGE_QUERY_SRGBREAD | D3DUSAGE_QUERY_SRGBWRITE)) && !info->srgbCapable)
        return D3DERR_NOTAVAILABLE;
    if ((usage & D3DUSAGE_AUTOGENMIPMAP) && (info->blockBytes || info->depth)) return D3DOK_NOAUTOGEN;
    return D3D_OK;
}

HRESULT Direct3D9::CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE deviceType, D3DFORMAT surfaceFormat, BOOL,
                                              D3DMULTISAMPLE_TYPE multiSampleType, DWORD* qualityLevels) {
    if (!ValidAdapter(adapter, deviceType)) return D3DERR_INVALIDCALL;
    const FormatInfo* info = FindFormat(surfaceFormat);
    if (!info || info->blockBytes) return D3DERR_NOTAVAILABLE;
    bool supported = multiSampleType == D3DMULTISAMPLE_NONE || multiSampleType == D3DMULTISAMPLE_2_SAMPLES ||
                     multiSampleType == D3DMULTISAMPLE_4_SAMPLES || multiSampleType == D3DMULTISAMPLE_8_SAMPLES;
    if (qualityLevels) *qualityLevels = supported ? 1 : 0;
    return supported ? D3D_OK : D3DERR_NOTAVAILABLE;
}

HRESULT Direct3D9::CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE deviceType, D3DFORMAT, D3DFORMAT renderTargetFormat,
                                          D3DFORMAT depthStencilFormat) {
    if (!ValidAdapter(adapter, deviceType)) return D3DERR_INVALIDCALL;
    const FormatInfo* colour = FindFormat(renderTargetFormat);
    const FormatInfo* depth = FindFormat(depthStencilFormat);
    return colour && colour->renderTarget && depth && depth->depth ? D3D_OK : D3DERR_NOTAVAILABLE;
}

void Direct3D9::FillCaps(D3DCAPS9* caps) {
    std::memset(caps, 0, sizeof(*caps));
    caps->DeviceType = D3DDEVTYPE_HAL;
    caps->AdapterOrdinal = D3DADAPTER_DEFAULT;
    caps->Caps2 = D3DCAPS2_CANAUTOGENMIPMAP | D3DCAPS2_DYNAMICTEXTURES | D3DCAPS2_FULLSCREENGAMMA;
    caps->PresentationIntervals = D3DPRESENT_INTERVAL_ONE | D3DPRESENT_INTERVAL_IMMEDIATE;
    caps->DevCaps = D3DDEVCAPS_HWTRANSFORMANDLIGHT | D3DDEVCAPS_PUREDEVICE | D3DDEVCAPS_HWRASTERIZATION |
                    D3DDEVCAPS_TEXTUREVIDEOMEMORY | D3DDEVCAPS_DRAWPRIMTLVERTEX | D3DDEVCAPS_CANRENDERAFTERFLIP |
                    D3DDEVCAPS_TLVERTEXVIDEOMEMORY;
    caps->PrimitiveMiscCaps = D3DPMISCCAPS_COLORWRITEENABLE | D3DPMISCCAPS_CULLNONE | D3DPMISCCAPS_CULLCW |
                              D3DPMISCCAPS_CULLCCW | D3DPMISCCAPS_BLENDOP | D3DPMISCCAPS_INDEPENDENTWRITEMASKS |
                              D3DPMISCCAPS_MRTINDEPENDENTBITDEPTHS | D3DPMISCCAPS_SEPARATEALPHABLEND;
    // Everything the render states implement, so that a program that checks first uses it.
    caps->RasterCaps = D3DPRASTERCAPS_ZTEST | D3DPRASTERCAPS_MIPMAPLODBIAS | D3DPRASTERCAPS_ANISOTROPY |
                       D3DPRASTERCAPS_SCISSORTEST | D3DPRASTERCAPS_SLOPESCALEDEPTHBIAS | D3DPRASTERCAPS_DEPTHBIAS |
                       D3DPRASTERCAPS_MULTISAMPLE_TOGGLE;
    caps->StencilCaps = D3DSTENCILCAPS_KEEP | D3DSTENCILCAPS_ZERO | D3DSTENCILCAPS_REPLACE | D3DSTENCILCAPS_INCRSAT |
                        D3DSTENCILCAPS_DECRSAT | D3DSTENCILCAPS_INVERT | D3DSTENCILCAPS_INCR | D3DSTENCILCAPS_DECR |
                        D3DSTENCILCAPS_TWOSIDED;
    caps->TextureCaps = D3DPTEXTURECAPS_ALPHA | D3DPTEXTURECAPS_MIPMAP | D3DPTEXTURECAPS_CUBEMAP |
                        D3DPTEXTURECAPS_MIPCUBEMAP;
    caps->TextureFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR | D3DPTFILTERCAPS_MINFANISOTROPIC |
                              D3DPTFILTERCAPS_MIPFPOINT | D3DPTFILTERCAPS_MIPFLINEAR | D3DPTFILTERCAPS_MAGFPOINT |
                              D3DPTFILTERCAPS_MAGFLINEAR | D3DPTFILTERCAPS_MAGFANISOTROPIC;
    caps->CubeTextureFilterCaps = caps->TextureFilterCaps;
    caps->TextureAddressCaps = D3DPTADDRESSCAPS_WRAP | D3DPTADDRESSCAPS_MIRROR | D3DPTADDRESSCAPS_CLAMP |
                               D3DPTADDRESSCAPS_BORDER | D3DPTADDRESSCAPS_INDEPENDENTUV;
    caps->MaxTextureWidth = caps->MaxTextureHeight = 16384;
    caps->MaxTextureRepeat = 8192;
    caps->MaxTextureAspectRatio = 16384;
    caps->MaxAnisotropy = 16;
    caps->MaxVertexW = 1e10f;
    caps->MaxTextureBlendStages = kTextureStagesReported;
    caps->MaxSimultaneousTextures = kTextureStagesReported;
    caps->VertexProcessingCaps = D3DVTXPCAPS_TEXGEN | D3DVTXPCAPS_DIRECTIONALLIGHTS | D3DVTXPCAPS_POSITIONALLIGHTS;
    caps->MaxPointSize = 1.0f;
    caps->MaxPrimitiveCount = 0xFFFFFF;
    caps->MaxVertexIndex = 0xFFFFFF;
    caps->MaxStreams = kMaxStreams;
    caps->MaxStreamStride = 508;
    caps->VertexShaderVersion = D3DVS_VERSION(3, 0);
    caps->MaxVertexShaderConst = kVertexConstantRegisters;
    caps->PixelShaderVersion = D3DPS_VERSION(3, 0);
    caps->PixelShader1xMaxValue = 65504.0f;
    caps->NumSimultaneousRTs = kMaxRenderTargets;
    caps->MasterAdapterOrdinal = 0;
    caps->NumberOfAdaptersInGroup = 1;
    caps->VS20Caps.NumTemps = 32;
    caps->PS20Caps.NumTemps = 32;
    caps->PS20Caps.NumInstructionSlots = 512;
    caps->MaxVShaderInstructionsExecuted = 65535;
    caps->MaxPShaderInstructionsExecuted = 65535;
    caps->MaxVertexShader30InstructionSlots = 32768;
    caps->MaxPixelShader30InstructionSlots = 32768;
}

HRESULT Direct3D9::GetDeviceCaps(UINT adapter, D3DDEVTYPE deviceType, D3DCAPS9* caps) {
    if (!ValidAdapter(adapter, deviceType) || !caps) return D3DERR_INVALIDCALL;
    FillCaps(caps);
    return D3D_OK;
}

HRESULT Direct3D9::CreateDevice(UINT adapter, D3DDEVTYPE deviceType, HWND focusWindow, DWORD behaviorFlags,
                                D3DPRESENT_PARAMETERS* parameters, IDirect3DDevice9** device) {
    if (!device) return D3DERR_INVALIDCALL;
    *device = nullptr;
    if (!ValidAdapter(adapter, deviceType) || !parameters) return D3DERR_INVALIDCALL;
    HWND window = parameters->hDeviceWindow ? parameters->hDeviceWindow : focusWindow;
    if (!IsWindow(window)) return D3DERR_INVALIDCALL;
    std::string error;
    Device* created = Device::Create(this, window, behaviorFlags, *parameters, &error);
    if (!created) {
        std::fprintf(stderr, "CreateDevice: %s\n", error.c_str());
        return D3DERR_NOTAVAILABLE;
    }
    *device = created;
    return D3D_OK;
}

}  // namespace lumaret::platform

IDirect3D9* WINAPI Direct3DCreate9(UINT sdkVersion) {
    if (sdkVersion != D3D_SDK_VERSION) return nullptr;
    return new lumaret::platform::Direct3D9();
}
