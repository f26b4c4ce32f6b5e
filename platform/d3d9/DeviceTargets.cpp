// Render targets and the depth-stencil surface, the framebuffer they make, and Clear.
#include "d3d9/Device.h"

#include "d3d9/GlEnums.h"

#include <algorithm>
#include <cstdio>

namespace lumaret::platform {

HRESULT Device::GetBackBuffer(UINT swapChain, UINT backBuffer, D3DBACKBUFFER_TYPE, IDirect3DSurface9** surface) {
    if (!surface || swapChain != 0 || backBuffer != 0) return D3DERR_INVALIDCALL;
    backBuffer_->AddRef();
    *surface = backBuffer_;
    return D3D_OK;
}

HRESULT Device::SetRenderTarget(DWORD index, IDirect3DSurface9* renderTarget) {
    if (index >= kMaxRenderTargets) return D3DERR_INVALIDCALL;
    if (index == 0 && !renderTarget) return D3DERR_INVALIDCALL;
    if (renderTarget && !IsColorTarget(renderTarget)) return D3DERR_INVALIDCALL;
    auto* surface = static_cast<Surface*>(renderTarget);
    Rebind(state_.renderTargets[index], surface);
    if (index == 0) {
        // As in Direct3D 9, a new target 0 resets the viewport and scissor rectangle to it.
        state_.viewport = D3DVIEWPORT9{0, 0, surface->desc().Width, surface->desc().Height, 0.0f, 1.0f};
        state_.scissorRect = RECT{0, 0, static_cast<LONG>(surface->desc().Width), static_cast<LONG>(surface->desc().Height)};
        gl_.dirty |= DirtyViewport | DirtyScissor;
    }
    gl_.dirty |= DirtyFramebuffer;
    return D3D_OK;
}

HRESULT Device::GetRenderTarget(DWORD index, IDirect3DSurface9** renderTarget) {
    if (!renderTarget || index >= kMaxRenderTargets) return D3DERR_INVALIDCALL;
    *renderTarget = state_.renderTargets[index];
    if (!*renderTarget) return D3DERR_NOTFOUND;
    state_.renderTargets[index]->AddRef();
    return D3D_OK;
}

HRESULT Device::SetDepthStencilSurface(IDirect3DSurface9* surface) {
    if (surface && !IsDepthTarget(surface)) return D3DERR_INVALIDCALL;
    Rebind(state_.depthStencil, static_cast<Surface*>(surface));
    gl_.dirty |= DirtyFramebuffer | DirtyRaster;  // the bias unit follows the depth format
    return D3D_OK;
}

HRESULT Device::GetDepthStencilSurface(IDirect3DSurface9** surface) {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = state_.depthStencil;
    if (!state_.depthStencil) return D3DERR_NOTFOUND;
    state_.depthStencil->AddRef();
    return D3D_OK;
}

void Device::ApplyFramebuffer() {
    GLenum drawBuffers[kMaxRenderTargets];
    for (UINT i = 0; i < kMaxRenderTargets; ++i) {
        GLenum attachment = GL_COLOR_ATTACHMENT0 + i;
        if (state_.renderTargets[i]) {
            state_.renderTargets[i]->Attach(framebuffer_, attachment);
            drawBuffers[i] = attachment;
        } else {
            glNamedFramebufferTexture(framebuffer_, attachment, 0, 0);
            drawBuffers[i] = GL_NONE;
        }
    }
    glNamedFramebufferTexture(framebuffer_, GL_DEPTH_ATTACHMENT, 0, 0);
    glNamedFramebufferTexture(framebuffer_, GL_STENCIL_ATTACHMENT, 0, 0);
    if (state_.depthStencil)
        state_.depthStencil->Attach(framebuffer_, state_.depthStencil->format().stencil ? GL_DEPTH_STENCIL_ATTACHMENT
                                                                             : GL_DEPTH_ATTACHMENT);
    glNamedFramebufferDrawBuffers(framebuffer_, kMaxRenderTargets, drawBuffers);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffer_);
    gl_.framebufferComplete = glCheckNamedFramebufferStatus(framebuffer_, GL_DRAW_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (!gl_.framebufferComplete) std::fprintf(stderr, "Direct3D 9 layer: render target and depth buffer do not match\n");
}

HRESULT Device::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) {
    if (count > 0 && !rects) return D3DERR_INVALIDCALL;
    if ((flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) && !state_.depthStencil) return D3DERR_INVALIDCALL;
    if ((flags & D3DCLEAR_STENCIL) && !state_.depthStencil->format().stencil) return D3DERR_INVALIDCALL;
    // Direct3D 9 clears the viewport, narrowed by the scissor rectangle when that test is on.
    RECT area{static_cast<LONG>(state_.viewport.X), static_cast<LONG>(state_.viewport.Y),
              static_cast<LONG>(state_.viewport.X + state_.viewport.Width), static_cast<LONG>(state_.viewport.Y + state_.viewport.Height)};
    if (state_.renderStates[D3DRS_SCISSORTESTENABLE]) {
        area.left = std::max(area.left, state_.scissorRect.left);
        area.top = std::max(area.top, state_.scissorRect.top);
        area.right = std::min(area.right, state_.scissorRect.right);
        area.bottom = std::min(area.bottom, state_.scissorRect.bottom);
    }
    if (count == 0) return ClearImpl(flags, color, z, stencil, area);
    for (DWORD i = 0; i < count; ++i) {
        RECT r{std::max<LONG>(area.left, rects[i].x1), std::max<LONG>(area.top, rects[i].y1),
               std::min<LONG>(area.right, rects[i].x2), std::min<LONG>(area.bottom, rects[i].y2)};
        HRESULT hr = ClearImpl(flags, color, z, stencil, r);
        if (FAILED(hr)) return hr;
    }
    return D3D_OK;
}

HRESULT Device::ClearImpl(DWORD flags, D3DCOLOR color, float z, DWORD stencil, const RECT& area) {
    if (area.right <= area.left || area.bottom <= area.top) return D3D_OK;
    MakeCurrent();
    if (gl_.dirty & DirtyFramebuffer) {
        ApplyFramebuffer();
        gl_.dirty &= ~DirtyFramebuffer;
    }
    if (!gl_.framebufferComplete) return D3DERR_INVALIDCALL;
    const DWORD* rs = state_.renderStates;
    bool colour = (flags & D3DCLEAR_TARGET) != 0;
    bool depth = (flags & D3DCLEAR_ZBUFFER) != 0, clearStencil = (flags & D3DCLEAR_STENCIL) != 0;
    // A clear changes only the GL state it needs and that GL does not already have, so
    // the next draw has nothing to restore (what GL has is known where nothing is dirty).
    // Without the scissor test GL may clear a whole attachment, which is only right when
    // the area covers every attachment cleared: a depth buffer larger than the target
    // keeps its pixels outside the viewport, as in Direct3D 9.
    auto covers = [&area](const Surface* surface) {
        return area.left <= 0 && area.top <= 0 && area.right >= static_cast<LONG>(surface->desc().Width) &&
               area.bottom >= static_cast<LONG>(surface->desc().Height);
    };
    bool whole = !((depth || clearStencil) && !covers(state_.depthStencil));
    for (UINT i = 0; i < kMaxRenderTargets && colour && whole; ++i)
        if (state_.renderTargets[i] && !covers(state_.renderTargets[i])) whole = false;
    bool scissorKnown = !(gl_.dirty & DirtyScissor);
    if (whole) {
        if (!scissorKnown || rs[D3DRS_SCISSORTESTENABLE]) {
            glDisable(GL_SCISSOR_TEST);
            gl_.dirty |= DirtyScissor;
        }
    } else {
        const RECT& now = state_.scissorRect;
        if (!scissorKnown || !rs[D3DRS_SCISSORTESTENABLE] || now.left != area.left || now.top != area.top ||
            now.right != area.right || now.bottom != area.bottom) {
            glEnable(GL_SCISSOR_TEST);
            glScissor(area.left, area.top, area.right - area.left, area.bottom - area.top);
            gl_.dirty |= DirtyScissor;
        }
    }
    if ((gl_.dirty & DirtySrgbWrite) || rs[D3DRS_SRGBWRITEENABLE]) {
        glDisable(GL_FRAMEBUFFER_SRGB);
        gl_.dirty |= DirtySrgbWrite;
    }
    if (colour) {
        const D3DRENDERSTATETYPE masks[] = {D3DRS_COLORWRITEENABLE, D3DRS_COLORWRITEENABLE1, D3DRS_COLORWRITEENABLE2,
                                            D3DRS_COLORWRITEENABLE3};
        float value[4];
        ColorToFloats(color, value);
        for (UINT i = 0; i < kMaxRenderTargets; ++i) {
            if (!state_.renderTargets[i]) continue;
            if ((gl_.dirty & DirtyColorMask) || (rs[masks[i]] & 0xF) != 0xF) {
                glColorMaski(i, GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
                gl_.dirty |= DirtyColorMask;
            }
            glClearNamedFramebufferfv(framebuffer_, GL_COLOR, static_cast<GLint>(i), value);
        }
    }
    if (depth && ((gl_.dirty & DirtyDepthStencil) || !rs[D3DRS_ZWRITEENABLE])) {
        glDepthMask(GL_TRUE);
        gl_.dirty |= DirtyDepthStencil;
    }
    if (clearStencil) {
        glStencilMask(0xFF);
        gl_.dirty |= DirtyDepthStencil;
    }
    float clampedZ = std::clamp(z, 0.0f, 1.0f);
    if (depth && clearStencil)
        glClearNamedFramebufferfi(framebuffer_, GL_DEPTH_STENCIL, 0, clampedZ, static_cast<GLint>(stencil & 0xFF));
    else if (depth)
        glClearNamedFramebufferfv(framebuffer_, GL_DEPTH, 0, &clampedZ);
    else if (clearStencil) {
        GLint value = static_cast<GLint>(stencil & 0xFF);
        glClearNamedFramebufferiv(framebuffer_, GL_STENCIL, 0, &value);
    }
    return GlResult();
}

}  // namespace lumaret::platform
