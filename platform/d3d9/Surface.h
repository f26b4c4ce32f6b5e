// IDirect3DSurface9: a level or face of a texture, a render or depth buffer, or a
// system-memory image.
#pragma once

#include "d3d9/Formats.h"
#include "d3d9/PrivateData.h"

#include <d3d9.h>
#include <epoxy/gl.h>

#include <string>
#include <vector>

namespace lumaret::platform {

class Device;
class TextureStorage;

// One 2D image: a texture level or cube face, a render buffer, or system memory.
class Surface final : public WithPrivateData<IDirect3DSurface9> {
public:
    enum class Kind { TextureLevel, RenderBuffer, SystemMemory };

    // A level (and face) of a texture; references count on the texture.
    Surface(Device* device, SharedObject* container, TextureStorage* storage, UINT face, UINT level);
    // A render or depth buffer (GL renderbuffer, possibly multisampled). owner may be the
    // device for its implicit back buffer and depth buffer, else null.
    Surface(Device* device, SharedObject* owner, const D3DSURFACE_DESC& desc, GLuint renderbuffer);
    // A system-memory surface: CPU bytes in Direct3D 9's layout.
    Surface(Device* device, const D3DSURFACE_DESC& desc);
    ~Surface() override;

    HRESULT GetDevice(IDirect3DDevice9** device) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_SURFACE; }
    HRESULT GetDesc(D3DSURFACE_DESC* desc) override;
    HRESULT LockRect(D3DLOCKED_RECT* lockedRect, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect() override;

    Kind kind() const { return kind_; }
    const D3DSURFACE_DESC& desc() const { return desc_; }
    const FormatInfo& format() const { return *format_; }
    GLuint glTexture() const;
    GLuint glRenderbuffer() const { return renderbuffer_; }
    UINT level() const { return level_; }
    UINT face() const { return face_; }
    bool isCubeFace() const;
    std::vector<uint8_t>& memory() { return memory_; }
    UINT pitch() const { return pitch_; }
    // Attaches this surface to a framebuffer attachment point.
    void Attach(GLuint framebuffer, GLenum attachment) const;

protected:
    void ApplicationReleased() override;
    void ApplicationReturned() override;
    void ApplyDebugName(const std::string& name) override;

private:
    Device* device_;
    bool countsOnDevice_;
    bool holdsDevice_ = false;
    Kind kind_;
    D3DSURFACE_DESC desc_{};
    const FormatInfo* format_ = nullptr;
    TextureStorage* storage_ = nullptr;
    UINT face_ = 0;
    UINT level_ = 0;
    GLuint renderbuffer_ = 0;
    std::vector<uint8_t> memory_;
    UINT pitch_ = 0;
    bool locked_ = false;
};

// Surfaces a draw can render into (a render buffer, or a level of a render-target texture)
// and surfaces that can serve as depth-stencil buffers.
bool IsColorTarget(IDirect3DSurface9* surface);
bool IsDepthTarget(IDirect3DSurface9* surface);

}  // namespace lumaret::platform
