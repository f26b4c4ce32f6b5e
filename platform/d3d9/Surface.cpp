#include "d3d9/Surface.h"

#include "d3d9/Device.h"
#include "d3d9/GlObjectCount.h"
#include "d3d9/Texture.h"

namespace lumaret::platform {

Surface::Surface(Device* device, SharedObject* container, TextureStorage* storage, UINT face, UINT level)
    : WithPrivateData(container), device_(device), countsOnDevice_(false), kind_(Kind::TextureLevel), storage_(storage),
      face_(face), level_(level) {
    storage->LevelDesc(level, &desc_);
    format_ = &storage->format();
}

Surface::Surface(Device* device, SharedObject* owner, const D3DSURFACE_DESC& desc, GLuint renderbuffer)
    : WithPrivateData(owner), device_(device), countsOnDevice_(owner == nullptr), kind_(Kind::RenderBuffer), desc_(desc),
      format_(FindFormat(desc.Format)), renderbuffer_(renderbuffer) {
    if (countsOnDevice_) ApplicationReturned();
}

Surface::Surface(Device* device, const D3DSURFACE_DESC& desc)
    : device_(device), countsOnDevice_(true), kind_(Kind::SystemMemory), desc_(desc), format_(FindFormat(desc.Format)) {
    pitch_ = (RowPitch(*format_, desc.Width) + 3u) & ~3u;
    memory_.assign(static_cast<size_t>(pitch_) * RowCount(*format_, desc.Height), 0);
    ApplicationReturned();
}

Surface::~Surface() {
    if (renderbuffer_) {
        device_->MakeCurrent();
        glDeleteRenderbuffers(1, &renderbuffer_);
        CountGlObjects(-1);
    }
    if (holdsDevice_) device_->Release();
}

// Stand-alone surfaces count on the device like every other resource; level surfaces and
// the swap chain's count on what owns them.
void Surface::ApplicationReleased() {
    if (!countsOnDevice_ || !holdsDevice_) return;
    holdsDevice_ = false;
    device_->Release();
}

void Surface::ApplicationReturned() {
    if (!countsOnDevice_ || holdsDevice_) return;
    holdsDevice_ = true;
    device_->AddRef();
}

HRESULT Surface::GetDevice(IDirect3DDevice9** device) { return HandOutDevice(device_, device); }

// Only a render buffer is a GL object of its own: a texture level is named through its
// texture, and system memory has nothing to show.
void Surface::ApplyDebugName(const std::string& name) {
    if (kind_ != Kind::RenderBuffer) return;
    device_->MakeCurrent();
    LabelGlObject(GL_RENDERBUFFER, renderbuffer_, name);
}

HRESULT Surface::GetDesc(D3DSURFACE_DESC* desc) {
    if (!desc) return D3DERR_INVALIDCALL;
    *desc = desc_;
    return D3D_OK;
}

HRESULT Surface::LockRect(D3DLOCKED_RECT* lockedRect, const RECT* rect, DWORD flags) {
    if (kind_ == Kind::TextureLevel) return storage_->Lock(face_, level_, lockedRect, rect, flags);
    // Render and depth buffers live on the GPU only, as in the default pool.
    if (kind_ != Kind::SystemMemory || !lockedRect || locked_) return D3DERR_INVALIDCALL;
    size_t offset = 0;
    if (rect) {
        if (rect->left < 0 || rect->top < 0 || rect->right > static_cast<LONG>(desc_.Width) ||
            rect->bottom > static_cast<LONG>(desc_.Height) || rect->left >= rect->right || rect->top >= rect->bottom)
            return D3DERR_INVALIDCALL;
        offset = static_cast<size_t>(RowCount(*format_, rect->top)) * pitch_ + RowPitch(*format_, rect->left);
    }
    lockedRect->Pitch = static_cast<INT>(pitch_);
    lockedRect->pBits = memory_.data() + offset;
    locked_ = true;
    return D3D_OK;
}

HRESULT Surface::UnlockRect() {
    if (kind_ == Kind::TextureLevel) return storage_->Unlock(face_, level_);
    if (!locked_) return D3DERR_INVALIDCALL;
    locked_ = false;
    return D3D_OK;
}

bool IsColorTarget(IDirect3DSurface9* surface) {
    if (!surface) return false;
    auto* s = static_cast<Surface*>(surface);
    return !s->format().depth &&
           (s->kind() == Surface::Kind::RenderBuffer ||
            (s->kind() == Surface::Kind::TextureLevel && (s->desc().Usage & D3DUSAGE_RENDERTARGET)));
}

bool IsDepthTarget(IDirect3DSurface9* surface) {
    if (!surface) return false;
    auto* s = static_cast<Surface*>(surface);
    return s->format().depth && s->kind() != Surface::Kind::SystemMemory;
}

GLuint Surface::glTexture() const { return storage_ ? storage_->name() : 0; }

bool Surface::isCubeFace() const { return storage_ && storage_->target() == GL_TEXTURE_CUBE_MAP; }

void Surface::Attach(GLuint framebuffer, GLenum attachment) const {
    if (kind_ == Kind::RenderBuffer) {
        glNamedFramebufferRenderbuffer(framebuffer, attachment, GL_RENDERBUFFER, renderbuffer_);
    } else if (isCubeFace()) {
        glNamedFramebufferTextureLayer(framebuffer, attachment, storage_->name(), static_cast<GLint>(level_),
                                       static_cast<GLint>(face_));
    } else if (storage_) {
        glNamedFramebufferTexture(framebuffer, attachment, storage_->name(), static_cast<GLint>(level_));
    }
}

}  // namespace lumaret::platform
