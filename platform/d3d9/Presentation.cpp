// Present and read-back: resolving the back buffer, showing it in the window (or handing
// it to the headless harness), reading targets into system memory, StretchRect.
#include "d3d9/Device.h"

#include "d3d9/GlEnums.h"
#include "d3d9/HeadlessCapture.h"
#include "win32/WindowSystem.h"

namespace lumaret::platform {

// The back buffer as the read framebuffer's colour, with nothing in the way of a blit.
void Device::ReadFromBackBuffer() {
    MakeCurrent();
    glNamedFramebufferRenderbuffer(readFramebuffer_, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, backBuffer_->glRenderbuffer());
    glNamedFramebufferReadBuffer(readFramebuffer_, GL_COLOR_ATTACHMENT0);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_FRAMEBUFFER_SRGB);
    gl_.dirty |= DirtyScissor | DirtySrgbWrite;
}

void Device::ResolveBackBuffer() {
    ReadFromBackBuffer();
    UINT w = parameters_.BackBufferWidth, h = parameters_.BackBufferHeight;
    glBlitNamedFramebuffer(readFramebuffer_, resolveFramebuffer_, 0, 0, static_cast<GLint>(w), static_cast<GLint>(h), 0,
                           0, static_cast<GLint>(w), static_cast<GLint>(h), GL_COLOR_BUFFER_BIT, GL_NEAREST);
}

HRESULT Device::Present(const RECT*, const RECT*, HWND, const void*) {
    if (state_.inScene) return D3DERR_INVALIDCALL;
    // Headless, nothing is shown: a screenshot reads the back buffer itself when one is due.
    if (!context_->HasWindow()) {
        MakeCurrent();
        glFlush();  // the frame goes to the device, as a swap would send it
        HeadlessFramePresented(*this);
        return GlResult();
    }
    // A window destroyed from outside shows nothing; the program hears of it as WM_CLOSE.
    if (SdlWindowLost(sdlWindow_)) return D3D_OK;
    // Only a multisampled back buffer needs resolving before a scaled blit can read it.
    GLuint source = readFramebuffer_;
    if (parameters_.MultiSampleType != D3DMULTISAMPLE_NONE) {
        ResolveBackBuffer();
        source = resolveFramebuffer_;
    } else {
        ReadFromBackBuffer();
    }
    int drawableWidth = 0, drawableHeight = 0;
    context_->DrawableSize(&drawableWidth, &drawableHeight);
    GLint w = static_cast<GLint>(parameters_.BackBufferWidth), h = static_cast<GLint>(parameters_.BackBufferHeight);
    // Scale to the window keeping the back buffer's shape; the bars stay black.
    GLint shownWidth = drawableWidth, shownHeight = drawableHeight;
    if (static_cast<int64_t>(drawableWidth) * h > static_cast<int64_t>(drawableHeight) * w)
        shownWidth = static_cast<GLint>(static_cast<int64_t>(drawableHeight) * w / h);
    else
        shownHeight = static_cast<GLint>(static_cast<int64_t>(drawableWidth) * h / w);
    GLint left = (drawableWidth - shownWidth) / 2, bottom = (drawableHeight - shownHeight) / 2;
    bool scaled = shownWidth != w || shownHeight != h;
    if (shownWidth != drawableWidth || shownHeight != drawableHeight) {
        const float black[4] = {0.0f, 0.0f, 0.0f, 1.0f};
        glColorMaski(0, GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        glClearNamedFramebufferfv(0, GL_COLOR, 0, black);
        gl_.dirty |= DirtyColorMask;
    }
    // The window's framebuffer counts rows from the bottom; ours from the top.
    glBlitNamedFramebuffer(source, 0, 0, 0, w, h, left, bottom + shownHeight, left + shownWidth, bottom,
                           GL_COLOR_BUFFER_BIT, scaled ? GL_LINEAR : GL_NEAREST);
    context_->SwapBuffers();
    return GlResult();
}

bool Device::ReadPixels(Surface* source, uint8_t* destination, UINT pitch) {
    const FormatInfo& info = source->format();
    if (info.blockBytes || info.depth || pitch % info.bytesPerPixel) return false;
    MakeCurrent();
    GLsizei w = static_cast<GLsizei>(source->desc().Width), h = static_cast<GLsizei>(source->desc().Height);
    GLsizei bufferSize = static_cast<GLsizei>(pitch) * h;
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ROW_LENGTH, static_cast<GLint>(pitch / info.bytesPerPixel));
    // Texture image queries return stored bytes unconverted, sRGB formats included.
    if (source->kind() == Surface::Kind::TextureLevel) {
        GLint z = source->isCubeFace() ? static_cast<GLint>(source->face()) : 0;
        glGetTextureSubImage(source->glTexture(), static_cast<GLint>(source->level()), 0, 0, z, w, h, 1,
                             info.uploadFormat, info.uploadType, bufferSize, destination);
    } else if (source == backBuffer_) {
        ResolveBackBuffer();
        GLuint scratch = 0;
        glCreateTextures(GL_TEXTURE_2D, 1, &scratch);
        glTextureStorage2D(scratch, 1, info.internalFormat, w, h);
        glCopyImageSubData(resolveRenderbuffer_, GL_RENDERBUFFER, 0, 0, 0, 0, scratch, GL_TEXTURE_2D, 0, 0, 0, 0, w, h, 1);
        glGetTextureSubImage(scratch, 0, 0, 0, 0, w, h, 1, info.uploadFormat, info.uploadType, bufferSize, destination);
        glDeleteTextures(1, &scratch);
    } else {
        // A stand-alone render target: resolve into a scratch texture of the same format.
        GLuint scratch = 0, scratchFramebuffer = 0;
        glCreateTextures(GL_TEXTURE_2D, 1, &scratch);
        glTextureStorage2D(scratch, 1, info.internalFormat, w, h);
        glCreateFramebuffers(1, &scratchFramebuffer);
        glNamedFramebufferTexture(scratchFramebuffer, GL_COLOR_ATTACHMENT0, scratch, 0);
        source->Attach(readFramebuffer_, GL_COLOR_ATTACHMENT0);
        glNamedFramebufferReadBuffer(readFramebuffer_, GL_COLOR_ATTACHMENT0);
        glDisable(GL_SCISSOR_TEST);
        glBlitNamedFramebuffer(readFramebuffer_, scratchFramebuffer, 0, 0, w, h, 0, 0, w, h, GL_COLOR_BUFFER_BIT,
                               GL_NEAREST);
        glGetTextureSubImage(scratch, 0, 0, 0, 0, w, h, 1, info.uploadFormat, info.uploadType, bufferSize, destination);
        glDeleteFramebuffers(1, &scratchFramebuffer);
        glDeleteTextures(1, &scratch);
        gl_.dirty |= DirtyScissor;
    }
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    return true;
}

HRESULT Device::GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* destSurface) {
    if (!IsColorTarget(renderTarget) || !destSurface) return D3DERR_INVALIDCALL;
    auto* source = static_cast<Surface*>(renderTarget);
    auto* destination = static_cast<Surface*>(destSurface);
    if (destination->kind() != Surface::Kind::SystemMemory) return D3DERR_INVALIDCALL;
    const D3DSURFACE_DESC &s = source->desc(), &d = destination->desc();
    if (s.Width != d.Width || s.Height != d.Height || s.Format != d.Format) return D3DERR_INVALIDCALL;
    return ReadPixels(source, destination->memory().data(), destination->pitch()) ? GlResult() : D3DERR_INVALIDCALL;
}

HRESULT Device::StretchRect(IDirect3DSurface9* sourceSurface, const RECT* sourceRect, IDirect3DSurface9* destSurface,
                            const RECT* destRect, D3DTEXTUREFILTERTYPE filter) {
    if (!sourceSurface || !IsColorTarget(destSurface)) return D3DERR_INVALIDCALL;
    auto* source = static_cast<Surface*>(sourceSurface);
    auto* destination = static_cast<Surface*>(destSurface);
    if (source->kind() == Surface::Kind::SystemMemory || source->format().depth) return D3DERR_INVALIDCALL;
    RECT s = sourceRect ? *sourceRect
                        : RECT{0, 0, static_cast<LONG>(source->desc().Width), static_cast<LONG>(source->desc().Height)};
    RECT d = destRect ? *destRect
                      : RECT{0, 0, static_cast<LONG>(destination->desc().Width),
                             static_cast<LONG>(destination->desc().Height)};
    if (s.left < 0 || s.top < 0 || s.right > static_cast<LONG>(source->desc().Width) ||
        s.bottom > static_cast<LONG>(source->desc().Height) || s.left >= s.right || s.top >= s.bottom)
        return D3DERR_INVALIDCALL;
    if (d.left < 0 || d.top < 0 || d.right > static_cast<LONG>(destination->desc().Width) ||
        d.bottom > static_cast<LONG>(destination->desc().Height) || d.left >= d.right || d.top >= d.bottom)
        return D3DERR_INVALIDCALL;
    MakeCurrent();
    GLuint drawFramebuffer = 0;
    glCreateFramebuffers(1, &drawFramebuffer);
    source->Attach(readFramebuffer_, GL_COLOR_ATTACHMENT0);
    glNamedFramebufferReadBuffer(readFramebuffer_, GL_COLOR_ATTACHMENT0);
    destination->Attach(drawFramebuffer, GL_COLOR_ATTACHMENT0);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_FRAMEBUFFER_SRGB);
    glBlitNamedFramebuffer(readFramebuffer_, drawFramebuffer, s.left, s.top, s.right, s.bottom, d.left, d.top, d.right,
                           d.bottom, GL_COLOR_BUFFER_BIT, filter == D3DTEXF_POINT || filter == D3DTEXF_NONE ? GL_NEAREST
                                                                                                          : GL_LINEAR);
    glDeleteFramebuffers(1, &drawFramebuffer);
    gl_.dirty |= DirtyScissor | DirtySrgbWrite;
    return GlResult();
}

}  // namespace lumaret::platform
