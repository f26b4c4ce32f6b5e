// The Renderer's render-target list: creation, binding with save and restore, read-back.
#include "app/Log.h"
#include "render/DebugName.h"
#include "render/Renderer.h"

D3DFORMAT MapPixelFormat(int format) {
    switch (format) {
    case PixelFormatA8R8G8B8: return D3DFMT_A8R8G8B8;
    case PixelFormatX8R8G8B8: return D3DFMT_X8R8G8B8;
    case PixelFormatA16B16G16R16: return D3DFMT_A16B16G16R16;
    case PixelFormatA2R10G10B10: return D3DFMT_A2R10G10B10;
    case PixelFormatA2B10G10R10: return D3DFMT_A2B10G10R10;
    case PixelFormatR32F: return D3DFMT_R32F;
    case PixelFormatG16R16F: return D3DFMT_G16R16F;
    case PixelFormatA16B16G16R16F: return D3DFMT_A16B16G16R16F;
    case PixelFormatA32B32G32R32F: return D3DFMT_A32B32G32R32F;
    case PixelFormatDXT1: return D3DFMT_DXT1;
    case PixelFormatDXT2: return D3DFMT_DXT2;
    case PixelFormatDXT3: return D3DFMT_DXT3;
    case PixelFormatDXT4: return D3DFMT_DXT4;
    case PixelFormatDXT5: return D3DFMT_DXT5;
    case PixelFormatV8U8: return D3DFMT_V8U8;
    case PixelFormatCxV8U8: return D3DFMT_CxV8U8;
    case PixelFormatV16U16: return D3DFMT_V16U16;
    case PixelFormatR3G3B2: return D3DFMT_R3G3B2;
    case PixelFormatA8: return D3DFMT_A8;
    case PixelFormatL8: return D3DFMT_L8;
    case PixelFormatP8: return D3DFMT_P8;
    case PixelFormatD16: return D3DFMT_D16;
    case PixelFormatD24S8: return D3DFMT_D24S8;
    case PixelFormatD32: return D3DFMT_D32;
    default: return D3DFMT_UNKNOWN;
    }
}

namespace {
// Indices come from CreateRenderTarget; anything else is refused rather than read.
RenderTarget* TargetAt(std::vector<RenderTarget>& list, int index) {
    return index >= 0 && index < static_cast<int>(list.size()) ? &list[static_cast<size_t>(index)] : nullptr;
}
}  // namespace

int Renderer::CreateRenderTarget(int colorFormat, int targetWidth, int targetHeight, int depthFormat, bool readable) {
    RenderTarget target;
    D3DFORMAT color = MapPixelFormat(colorFormat);
    D3DFORMAT depth = MapPixelFormat(depthFormat);
    target.width = targetWidth;
    target.height = targetHeight;
    target.format = color;
    if (FAILED(device->CreateTexture(static_cast<UINT>(targetWidth), static_cast<UINT>(targetHeight), 1,
                                     D3DUSAGE_RENDERTARGET, color, D3DPOOL_DEFAULT, &target.texture, nullptr)))
        Log::Fatal("Renderer::CreateRenderTarget: CreateTexture failed.\n");
    if (FAILED(target.texture->GetSurfaceLevel(0, &target.surface)))
        Log::Fatal("Renderer::CreateRenderTarget: GetSurfaceLevel failed.\n");
    if (readable && FAILED(device->CreateOffscreenPlainSurface(static_cast<UINT>(targetWidth),
                                                               static_cast<UINT>(targetHeight), color,
                                                               D3DPOOL_SYSTEMMEM, &target.readBackSurface, nullptr)))
        Log::Fatal("Renderer::CreateRenderTarget: CreateOffscreenPlainSurface failed.\n");
    if (depthFormat != 0 &&
        FAILED(device->CreateDepthStencilSurface(static_cast<UINT>(targetWidth), static_cast<UINT>(targetHeight), depth,
                                                 D3DMULTISAMPLE_NONE, 0, TRUE, &target.depthSurface, nullptr)))
        Log::Fatal("Renderer::CreateRenderTarget: CreateDepthStencilSurface failed.\n");
    target.viewport = D3DVIEWPORT9{0, 0, static_cast<DWORD>(targetWidth), static_cast<DWORD>(targetHeight), 0.0f, 1.0f};
    renderTargets.push_back(target);
    return static_cast<int>(renderTargets.size()) - 1;
}

void Renderer::NameRenderTarget(int index, const std::string& role) {
    RenderTarget* target = TargetAt(renderTargets, index);
    if (!target) return;
    SetDebugName(target->texture, role);
    SetDebugName(target->depthSurface, role + " depth");
    SetDebugName(target->readBackSurface, role + " read-back");
}

void Renderer::ReleaseRenderTarget(int index) {
    RenderTarget* target = TargetAt(renderTargets, index);
    if (!target) return;
    IDirect3DSurface9** surfaces[] = {&target->surface, &target->depthSurface, &target->savedTarget,
                                      &target->readBackSurface};
    if (target->texture) target->texture->Release();
    target->texture = nullptr;
    for (IDirect3DSurface9** surface : surfaces) {
        if (*surface) (*surface)->Release();
        *surface = nullptr;
    }
}

void Renderer::BeginRenderTarget(int index, int slot) {
    RenderTarget* target = TargetAt(renderTargets, index);
    if (!target) return;
    if (slot == 0) device->GetRenderTarget(0, &target->savedTarget);
    if (target->depthSurface) device->GetDepthStencilSurface(&target->savedDepthSurface);
    if (slot == 0) {
        device->GetViewport(&target->savedViewport);
        device->SetViewport(&target->viewport);
    }
    device->SetRenderTarget(static_cast<DWORD>(slot), target->surface);
    if (target->depthSurface) device->SetDepthStencilSurface(target->depthSurface);
}

void Renderer::UseTargetDepth(int index) {
    RenderTarget* target = TargetAt(renderTargets, index);
    if (target && target->depthSurface) device->SetDepthStencilSurface(target->depthSurface);
}

void Renderer::EndRenderTarget(int index, int slot) {
    RenderTarget* target = TargetAt(renderTargets, index);
    if (!target) return;
    if (target->depthSurface) {
        device->SetDepthStencilSurface(target->savedDepthSurface);
        if (target->savedDepthSurface) target->savedDepthSurface->Release();
        target->savedDepthSurface = nullptr;
    }
    device->SetRenderTarget(static_cast<DWORD>(slot), target->savedTarget);
    if (target->savedTarget) target->savedTarget->Release();
    target->savedTarget = nullptr;
    if (slot == 0) device->SetViewport(&target->savedViewport);
}

void Renderer::GetRenderTargetSize(int index, int* targetWidth, int* targetHeight) const {
    if (index < 0 || index >= static_cast<int>(renderTargets.size())) return;
    *targetWidth = renderTargets[static_cast<size_t>(index)].width;
    *targetHeight = renderTargets[static_cast<size_t>(index)].height;
}

void Renderer::SetRenderTargetTexture(int stage, int index) {
    RenderTarget* target = TargetAt(renderTargets, index);
    device->SetTexture(static_cast<DWORD>(stage), target ? target->texture : nullptr);
}

void* Renderer::LockRenderTarget(int index, int* pitch) {
    RenderTarget* target = TargetAt(renderTargets, index);
    if (!target || !target->readBackSurface ||
        FAILED(device->GetRenderTargetData(target->surface, target->readBackSurface)))
        Log::Fatal("Renderer::LockRenderTarget: GetRenderTargetData failed.\n");
    D3DLOCKED_RECT locked;
    if (FAILED(target->readBackSurface->LockRect(&locked, nullptr, D3DLOCK_READONLY)))
        Log::Fatal("Renderer::LockRenderTarget: LockRect failed.\n");
    *pitch = locked.Pitch;
    return locked.pBits;
}

void Renderer::UnlockRenderTarget(int index) {
    RenderTarget* target = TargetAt(renderTargets, index);
    if (target && target->readBackSurface) target->readBackSurface->UnlockRect();
}
