#include "d3d9/Texture.h"

#include "d3d9/Device.h"
#include "d3d9/GlDebug.h"
#include "d3d9/GlObjectCount.h"

namespace lumaret::platform {

TextureStorage::TextureStorage(Device* device, SharedObject* owner, GLenum target, UINT width, UINT height, UINT levels,
                               DWORD usage, D3DFORMAT format, D3DPOOL pool)
    : device_(device), owner_(owner), target_(target), width_(width), height_(height), levels_(levels),
      usage_(usage), pool_(pool), format_(FindFormat(format)) {
    if (!format_ || width == 0 || height == 0) return;
    UINT full = FullMipCount(width, height);
    if (levels_ == 0 || levels_ > full) levels_ = full;
    // Render targets and depth textures are GPU-only; every other pool can be locked.
    bool lockable = !(usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL));
    device_->MakeCurrent();
    TakeGlErrors();  // someone else's
    glCreateTextures(target_, 1, &name_);
    CountGlObjects(1);
    glTextureStorage2D(name_, static_cast<GLsizei>(levels_), format_->internalFormat, static_cast<GLsizei>(width),
                       static_cast<GLsizei>(height));
    // The driver may be out of memory; the device reports that as an invalid texture.
    if (TakeGlErrors()) {
        glDeleteTextures(1, &name_);
        CountGlObjects(-1);
        name_ = 0;
        return;
    }
    glTextureParameteri(name_, GL_TEXTURE_MAX_LEVEL, static_cast<GLint>(levels_ - 1));
    glTextureParameteriv(name_, GL_TEXTURE_SWIZZLE_RGBA, format_->swizzle);
    copies_.resize(static_cast<size_t>(faces()) * levels_);
    surfaces_.resize(copies_.size());
    if (lockable) {
        for (UINT face = 0; face < faces(); ++face)
            for (UINT level = 0; level < levels_; ++level)
                Copy(face, level).bytes.assign(LevelSize(*format_, this->width(level), this->height(level)), 0);
    }
}

TextureStorage::~TextureStorage() {
    surfaces_.clear();
    if (name_) {
        device_->MakeCurrent();
        glDeleteTextures(1, &name_);
        CountGlObjects(-1);
    }
}

HRESULT TextureStorage::LevelDesc(UINT level, D3DSURFACE_DESC* desc) const {
    if (!desc || level >= levels_) return D3DERR_INVALIDCALL;
    desc->Format = format_->format;
    desc->Type = D3DRTYPE_SURFACE;
    desc->Usage = usage_;
    desc->Pool = pool_;
    desc->MultiSampleType = D3DMULTISAMPLE_NONE;
    desc->MultiSampleQuality = 0;
    desc->Width = width(level);
    desc->Height = height(level);
    return D3D_OK;
}

HRESULT TextureStorage::Lock(UINT face, UINT level, D3DLOCKED_RECT* lockedRect, const RECT* rect, DWORD flags) {
    if (!lockedRect || face >= faces() || level >= levels_) return D3DERR_INVALIDCALL;
    LevelCopy& copy = Copy(face, level);
    if (copy.bytes.empty() || copy.locked) return D3DERR_INVALIDCALL;
    UINT w = width(level), h = height(level);
    UINT pitch = RowPitch(*format_, w);
    size_t offset = 0;
    if (rect) {
        if (rect->left < 0 || rect->top < 0 || rect->right > static_cast<LONG>(w) ||
            rect->bottom > static_cast<LONG>(h) || rect->left >= rect->right || rect->top >= rect->bottom)
            return D3DERR_INVALIDCALL;
        // Compressed formats lock whole blocks.
        if (format_->blockBytes && ((rect->left | rect->top) & 3)) return D3DERR_INVALIDCALL;
        offset = static_cast<size_t>(RowCount(*format_, static_cast<UINT>(rect->top))) * pitch +
                 RowPitch(*format_, static_cast<UINT>(rect->left));
    }
    lockedRect->Pitch = static_cast<INT>(pitch);
    lockedRect->pBits = copy.bytes.data() + offset;
    copy.locked = true;
    copy.readOnly = (flags & D3DLOCK_READONLY) != 0;
    return D3D_OK;
}

HRESULT TextureStorage::Unlock(UINT face, UINT level) {
    if (face >= faces() || level >= levels_) return D3DERR_INVALIDCALL;
    LevelCopy& copy = Copy(face, level);
    if (!copy.locked) return D3DERR_INVALIDCALL;
    copy.locked = false;
    if (!copy.readOnly) Upload(face, level);
    return D3D_OK;
}

void TextureStorage::Upload(UINT face, UINT level) {
    LevelCopy& copy = Copy(face, level);
    device_->MakeCurrent();
    GLsizei w = static_cast<GLsizei>(width(level)), h = static_cast<GLsizei>(height(level));
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    if (target_ == GL_TEXTURE_CUBE_MAP) {
        if (format_->blockBytes)
            glCompressedTextureSubImage3D(name_, static_cast<GLint>(level), 0, 0, static_cast<GLint>(face), w, h, 1,
                                          format_->internalFormat, static_cast<GLsizei>(copy.bytes.size()),
                                          copy.bytes.data());
        else
            glTextureSubImage3D(name_, static_cast<GLint>(level), 0, 0, static_cast<GLint>(face), w, h, 1,
                                format_->uploadFormat, format_->uploadType, copy.bytes.data());
    } else {
        if (format_->blockBytes)
            glCompressedTextureSubImage2D(name_, static_cast<GLint>(level), 0, 0, w, h, format_->internalFormat,
                                          static_cast<GLsizei>(copy.bytes.size()), copy.bytes.data());
        else
            glTextureSubImage2D(name_, static_cast<GLint>(level), 0, 0, w, h, format_->uploadFormat,
                                format_->uploadType, copy.bytes.data());
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    if (level == 0 && (usage_ & D3DUSAGE_AUTOGENMIPMAP)) GenerateMips();
}

HRESULT TextureStorage::SurfaceOf(UINT face, UINT level, IDirect3DSurface9** surface) {
    if (!surface || face >= faces() || level >= levels_) return D3DERR_INVALIDCALL;
    auto& slot = surfaces_[face * levels_ + level];
    if (!slot) slot = std::make_unique<Surface>(device_, owner_, this, face, level);
    slot->AddRef();
    *surface = slot.get();
    return D3D_OK;
}

void TextureStorage::GenerateMips() {
    if (!name_ || format_->blockBytes || levels_ < 2) return;
    device_->MakeCurrent();
    glGenerateTextureMipmap(name_);
}

void LabelTexture(Device* device, GLuint texture, const std::string& name) {
    device->MakeCurrent();
    LabelGlObject(GL_TEXTURE, texture, name);
}

GLuint GlTextureOf(IDirect3DBaseTexture9* texture, GLenum* target) {
    if (!texture) return 0;
    if (texture->GetType() == D3DRTYPE_TEXTURE) {
        auto& storage = static_cast<Texture*>(static_cast<IDirect3DTexture9*>(texture))->storage();
        *target = storage.target();
        return storage.name();
    }
    if (texture->GetType() == D3DRTYPE_CUBETEXTURE) {
        auto& storage = static_cast<CubeTexture*>(static_cast<IDirect3DCubeTexture9*>(texture))->storage();
        *target = storage.target();
        return storage.name();
    }
    return 0;
}

}  // namespace lumaret::platform
