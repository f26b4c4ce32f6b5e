// IDirect3DTexture9 and IDirect3DCubeTexture9 over one GL texture storage, and the
// surfaces of their levels.
#pragma once

#include "d3d9/DeviceReference.h"
#include "d3d9/Formats.h"
#include "d3d9/PrivateData.h"
#include "d3d9/Surface.h"

#include <d3d9.h>
#include <epoxy/gl.h>

#include <memory>
#include <string>
#include <vector>

namespace lumaret::platform {

// GL texture storage shared by 2D and cube textures, with a CPU copy of each level for
// lockable pools: locks hand out that copy and unlocks upload it.
class TextureStorage {
public:
    TextureStorage(Device* device, SharedObject* owner, GLenum target, UINT width, UINT height, UINT levels,
                   DWORD usage, D3DFORMAT format, D3DPOOL pool);
    ~TextureStorage();
    bool valid() const { return name_ != 0; }

    HRESULT LevelDesc(UINT level, D3DSURFACE_DESC* desc) const;
    HRESULT Lock(UINT face, UINT level, D3DLOCKED_RECT* lockedRect, const RECT* rect, DWORD flags);
    HRESULT Unlock(UINT face, UINT level);
    HRESULT SurfaceOf(UINT face, UINT level, IDirect3DSurface9** surface);
    void GenerateMips();

    GLuint name() const { return name_; }
    GLenum target() const { return target_; }
    UINT levels() const { return levels_; }
    UINT faces() const { return target_ == GL_TEXTURE_CUBE_MAP ? 6 : 1; }
    const FormatInfo& format() const { return *format_; }
    DWORD usage() const { return usage_; }
    D3DPOOL pool() const { return pool_; }
    UINT width(UINT level) const { return MipDimension(width_, level); }
    UINT height(UINT level) const { return MipDimension(height_, level); }

private:
    struct LevelCopy {
        std::vector<uint8_t> bytes;
        bool locked = false;
        bool readOnly = false;
    };
    LevelCopy& Copy(UINT face, UINT level) { return copies_[face * levels_ + level]; }
    void Upload(UINT face, UINT level);

    Device* device_;
    SharedObject* owner_;
    GLenum target_;
    GLuint name_ = 0;
    UINT width_, height_, levels_;
    DWORD usage_;
    D3DPOOL pool_;
    const FormatInfo* format_;
    std::vector<LevelCopy> copies_;
    std::vector<std::unique_ptr<Surface>> surfaces_;
};

// Names a texture's GL object with the device's context current.
void LabelTexture(Device* device, GLuint texture, const std::string& name);

// What 2D and cube textures share: the device reference, the storage and the level calls.
template <class Interface>
class TextureBase : public WithPrivateData<Interface> {
public:
    TextureBase(Device* device, GLenum target, UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                D3DPOOL pool)
        : device_(device), storage_(device, this, target, width, height, levels, usage, format, pool) {}
    bool valid() const { return storage_.valid(); }
    TextureStorage& storage() { return storage_; }

    HRESULT GetDevice(IDirect3DDevice9** device) override { return HandOutDevice(device_.get(), device); }
    // Direct3D 9 shows only the top level of a texture whose levels it generates itself.
    DWORD GetLevelCount() override { return storage_.usage() & D3DUSAGE_AUTOGENMIPMAP ? 1 : storage_.levels(); }
    void GenerateMipSubLevels() override { storage_.GenerateMips(); }
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override { return storage_.LevelDesc(level, desc); }

protected:
    void ApplicationReleased() override { device_.Drop(); }
    void ApplicationReturned() override { device_.Take(); }
    void ApplyDebugName(const std::string& name) override { LabelTexture(device_.get(), storage_.name(), name); }

    DeviceReference device_;
    TextureStorage storage_;
};

class Texture final : public TextureBase<IDirect3DTexture9> {
public:
    Texture(Device* device, UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool)
        : TextureBase(device, GL_TEXTURE_2D, width, height, levels, usage, format, pool) {}

    D3DRESOURCETYPE GetType() override { return D3DRTYPE_TEXTURE; }
    HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) override {
        return storage_.SurfaceOf(0, level, surface);
    }
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* lockedRect, const RECT* rect, DWORD flags) override {
        return storage_.Lock(0, level, lockedRect, rect, flags);
    }
    HRESULT UnlockRect(UINT level) override { return storage_.Unlock(0, level); }
};

class CubeTexture final : public TextureBase<IDirect3DCubeTexture9> {
public:
    CubeTexture(Device* device, UINT edge, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool)
        : TextureBase(device, GL_TEXTURE_CUBE_MAP, edge, edge, levels, usage, format, pool) {}

    D3DRESOURCETYPE GetType() override { return D3DRTYPE_CUBETEXTURE; }
    HRESULT GetCubeMapSurface(D3DCUBEMAP_FACES face, UINT level, IDirect3DSurface9** surface) override {
        return storage_.SurfaceOf(static_cast<UINT>(face), level, surface);
    }
    HRESULT LockRect(D3DCUBEMAP_FACES face, UINT level, D3DLOCKED_RECT* lockedRect, const RECT* rect,
                     DWORD flags) override {
        return storage_.Lock(static_cast<UINT>(face), level, lockedRect, rect, flags);
    }
    HRESULT UnlockRect(D3DCUBEMAP_FACES face, UINT level) override {
        return storage_.Unlock(static_cast<UINT>(face), level);
    }
};

// The GL texture behind a base texture of this layer, or 0.
GLuint GlTextureOf(IDirect3DBaseTexture9* texture, GLenum* target);

}  // namespace lumaret::platform
