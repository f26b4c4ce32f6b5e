// The device's resources on OpenGL: textures and their surfaces, stand-alone surfaces,
// vertex and index buffers, vertex declarations, shaders and queries.
//
// Every resource the application holds keeps a reference on its device (as in Direct3D 9),
// so GL objects are deleted while the context still exists. The device holds what is bound
// (RefCounted.h): a resource the application released while bound lets go of the device,
// and is deleted when the device unbinds it, with the context still there.
#pragma once

#include "d3d9/Formats.h"
#include "d3d9/PrivateData.h"
#include "d3d9/RefCounted.h"

#include <d3d9.h>
#include <epoxy/gl.h>

#include <memory>
#include <vector>

namespace lumaret::platform {

class Device;
class TextureStorage;

// A counted reference on the device, declared first among a resource's members so that it
// is released last, after the resource's GL objects.
class DeviceReference {
public:
    explicit DeviceReference(Device* device);
    ~DeviceReference();
    DeviceReference(const DeviceReference&) = delete;
    DeviceReference& operator=(const DeviceReference&) = delete;
    Device* get() const { return device_; }
    Device* operator->() const { return device_; }
    // While only the device holds the resource, the resource does not hold the device.
    void Drop();
    void Take();

private:
    Device* device_;
    bool held_ = true;
};

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

class Texture final : public WithPrivateData<IDirect3DTexture9> {
public:
    Texture(Device* device, UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool);
    ~Texture() override;
    bool valid() const { return storage_.valid(); }
    TextureStorage& storage() { return storage_; }

    HRESULT GetDevice(IDirect3DDevice9** device) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_TEXTURE; }
    // Direct3D 9 shows only the top level of a texture whose levels it generates itself.
    DWORD GetLevelCount() override { return storage_.usage() & D3DUSAGE_AUTOGENMIPMAP ? 1 : storage_.levels(); }
    void GenerateMipSubLevels() override { storage_.GenerateMips(); }
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override { return storage_.LevelDesc(level, desc); }
    HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) override {
        return storage_.SurfaceOf(0, level, surface);
    }
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* lockedRect, const RECT* rect, DWORD flags) override {
        return storage_.Lock(0, level, lockedRect, rect, flags);
    }
    HRESULT UnlockRect(UINT level) override { return storage_.Unlock(0, level); }

protected:
    void ApplicationReleased() override { device_.Drop(); }
    void ApplicationReturned() override { device_.Take(); }
    void ApplyDebugName(const std::string& name) override;

private:
    DeviceReference device_;
    TextureStorage storage_;
};

class CubeTexture final : public WithPrivateData<IDirect3DCubeTexture9> {
public:
    CubeTexture(Device* device, UINT edge, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool);
    ~CubeTexture() override;
    bool valid() const { return storage_.valid(); }
    TextureStorage& storage() { return storage_; }

    HRESULT GetDevice(IDirect3DDevice9** device) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_CUBETEXTURE; }
    DWORD GetLevelCount() override { return storage_.usage() & D3DUSAGE_AUTOGENMIPMAP ? 1 : storage_.levels(); }
    void GenerateMipSubLevels() override { storage_.GenerateMips(); }
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override { return storage_.LevelDesc(level, desc); }
    HRESULT GetCubeMapSurface(D3DCUBEMAP_FACES face, UINT level, IDirect3DSurface9** surface) override;
    HRESULT LockRect(D3DCUBEMAP_FACES face, UINT level, D3DLOCKED_RECT* lockedRect, const RECT* rect,
                     DWORD flags) override;
    HRESULT UnlockRect(D3DCUBEMAP_FACES face, UINT level) override;

protected:
    void ApplicationReleased() override { device_.Drop(); }
    void ApplicationReturned() override { device_.Take(); }
    void ApplyDebugName(const std::string& name) override;

private:
    DeviceReference device_;
    TextureStorage storage_;
};

// Surfaces a draw can render into (a render buffer, or a level of a render-target texture)
// and surfaces that can serve as depth-stencil buffers.
bool IsColorTarget(IDirect3DSurface9* surface);
bool IsDepthTarget(IDirect3DSurface9* surface);

// The GL texture behind a base texture of this layer, or 0.
GLuint GlTextureOf(IDirect3DBaseTexture9* texture, GLenum* target);

// Vertex and index buffers keep a CPU copy: locks return it, unlocks upload the range.
class BufferStorage {
public:
    BufferStorage(UINT length, DWORD usage);
    ~BufferStorage();
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags);
    HRESULT Unlock();
    GLuint name() const { return name_; }
    UINT length() const { return static_cast<UINT>(bytes_.size()); }

private:
    GLuint name_ = 0;
    std::vector<uint8_t> bytes_;
    UINT dirtyBegin_ = 0;
    UINT dirtyEnd_ = 0;
    int locks_ = 0;
};

class VertexBuffer final : public WithPrivateData<IDirect3DVertexBuffer9> {
public:
    VertexBuffer(Device* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool);
    ~VertexBuffer() override;
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_VERTEXBUFFER; }
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override {
        return storage_.Lock(offset, size, data, flags);
    }
    HRESULT Unlock() override { return storage_.Unlock(); }
    HRESULT GetDesc(D3DVERTEXBUFFER_DESC* desc) override;
    GLuint name() const { return storage_.name(); }
    UINT length() const { return storage_.length(); }

protected:
    void ApplicationReleased() override { device_.Drop(); }
    void ApplicationReturned() override { device_.Take(); }
    void ApplyDebugName(const std::string& name) override;

private:
    DeviceReference device_;
    BufferStorage storage_;
    D3DVERTEXBUFFER_DESC desc_{};
};

class IndexBuffer final : public WithPrivateData<IDirect3DIndexBuffer9> {
public:
    IndexBuffer(Device* device, UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool);
    ~IndexBuffer() override;
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_INDEXBUFFER; }
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override {
        return storage_.Lock(offset, size, data, flags);
    }
    HRESULT Unlock() override { return storage_.Unlock(); }
    HRESULT GetDesc(D3DINDEXBUFFER_DESC* desc) override;
    GLuint name() const { return storage_.name(); }
    D3DFORMAT format() const { return desc_.Format; }
    UINT indexSize() const { return desc_.Format == D3DFMT_INDEX32 ? 4 : 2; }
    UINT length() const { return storage_.length(); }

protected:
    void ApplicationReleased() override { device_.Drop(); }
    void ApplicationReturned() override { device_.Take(); }
    void ApplyDebugName(const std::string& name) override;

private:
    DeviceReference device_;
    BufferStorage storage_;
    D3DINDEXBUFFER_DESC desc_{};
};

class VertexDeclaration final : public RefCounted<IDirect3DVertexDeclaration9> {
public:
    struct Attribute {
        GLuint location;
        GLuint stream;
        GLuint offset;
        GLint size;
        GLenum type;
        GLboolean normalized;
        BYTE usage;
        BYTE usageIndex;
    };

    VertexDeclaration(Device* device, std::vector<D3DVERTEXELEMENT9> elements, std::vector<Attribute> attributes);
    ~VertexDeclaration() override;
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    HRESULT GetDeclaration(D3DVERTEXELEMENT9* elements, UINT* count) override;

    // Builds the attribute list for an element array; false for element types or usages
    // the layer cannot feed.
    static bool Translate(const D3DVERTEXELEMENT9* elements, std::vector<D3DVERTEXELEMENT9>* copy,
                          std::vector<Attribute>* attributes);

    GLuint vao() const { return vao_; }
    bool pretransformed() const { return pretransformed_; }
    const std::vector<Attribute>& attributes() const { return attributes_; }
    UINT streamMask() const { return streamMask_; }
    // The buffer bindings last given to this declaration's vertex array, per stream.
    struct Binding {
        GLuint buffer = 0;
        UINT offset = 0;
        UINT stride = 0;
    };
    Binding bindings[16];
    GLuint elementBuffer = 0;
    // Generated vertex stage for draws without a vertex shader (0 until first needed).
    GLuint fixedFunctionProgram = 0;
    bool fixedFunctionFailed = false;  // it could not be linked: draws with it fail

protected:
    void ApplicationReleased() override { device_.Drop(); }
    void ApplicationReturned() override { device_.Take(); }

private:
    DeviceReference device_;
    std::vector<D3DVERTEXELEMENT9> elements_;
    std::vector<Attribute> attributes_;
    GLuint vao_ = 0;
    bool pretransformed_ = false;
    UINT streamMask_ = 0;
};

// A compiled program of either stage: a separable GL program.
template <class Interface>
class ShaderObject final : public RefCounted<Interface> {
public:
    ShaderObject(Device* device, GLuint program, UINT constantRegisters);
    ~ShaderObject() override;
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    GLuint program() const { return program_; }
    UINT constantRegisters() const { return constantRegisters_; }

protected:
    void ApplicationReleased() override { device_.Drop(); }
    void ApplicationReturned() override { device_.Take(); }

private:
    DeviceReference device_;
    GLuint program_;
    UINT constantRegisters_;
};
using VertexShader = ShaderObject<IDirect3DVertexShader9>;
using PixelShader = ShaderObject<IDirect3DPixelShader9>;

class Query final : public RefCounted<IDirect3DQuery9> {
public:
    Query(Device* device, D3DQUERYTYPE type);
    ~Query() override;
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    D3DQUERYTYPE GetType() override { return type_; }
    DWORD GetDataSize() override;
    HRESULT Issue(DWORD issueFlags) override;
    HRESULT GetData(void* data, DWORD size, DWORD getDataFlags) override;

private:
    DeviceReference device_;
    D3DQUERYTYPE type_;
    GLuint query_ = 0;
    GLsync fence_ = nullptr;
    bool begun_ = false;
    bool issued_ = false;
};

}  // namespace lumaret::platform
