#include "d3d9/Resources.h"

#include "d3d9/Device.h"
#include "d3d9/GlObjectCount.h"
#include "d3d9/ShaderBlob.h"

#include <algorithm>
#include <cstring>

namespace lumaret::platform {

DeviceReference::DeviceReference(Device* device) : device_(device) { device_->AddRef(); }

namespace {
HRESULT HandOut(Device* device, IDirect3DDevice9** out) {
    if (!out) return D3DERR_INVALIDCALL;
    device->AddRef();
    *out = device;
    return D3D_OK;
}
}  // namespace

DeviceReference::~DeviceReference() {
    if (held_) device_->Release();
}

void DeviceReference::Drop() {
    if (!held_) return;
    held_ = false;
    device_->Release();  // may end the device, which unbinds and so deletes the resource
}

void DeviceReference::Take() {
    if (held_) return;
    held_ = true;
    device_->AddRef();
}

// ---------------------------------------------------------------------------------------
// Surface

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

HRESULT Surface::GetDevice(IDirect3DDevice9** device) { return HandOut(device_, device); }

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

// ---------------------------------------------------------------------------------------
// Texture storage

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
    glCreateTextures(target_, 1, &name_);
    CountGlObjects(1);
    glTextureStorage2D(name_, static_cast<GLsizei>(levels_), format_->internalFormat, static_cast<GLsizei>(width),
                       static_cast<GLsizei>(height));
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

// ---------------------------------------------------------------------------------------
// Textures

Texture::Texture(Device* device, UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool)
    : device_(device), storage_(device, this, GL_TEXTURE_2D, width, height, levels, usage, format, pool) {}

Texture::~Texture() = default;

HRESULT Texture::GetDevice(IDirect3DDevice9** device) { return HandOut(device_.get(), device); }

void Texture::ApplyDebugName(const std::string& name) {
    device_->MakeCurrent();
    LabelGlObject(GL_TEXTURE, storage_.name(), name);
}

CubeTexture::CubeTexture(Device* device, UINT edge, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool)
    : device_(device), storage_(device, this, GL_TEXTURE_CUBE_MAP, edge, edge, levels, usage, format, pool) {}

CubeTexture::~CubeTexture() = default;

HRESULT CubeTexture::GetDevice(IDirect3DDevice9** device) { return HandOut(device_.get(), device); }

void CubeTexture::ApplyDebugName(const std::string& name) {
    device_->MakeCurrent();
    LabelGlObject(GL_TEXTURE, storage_.name(), name);
}

HRESULT CubeTexture::GetCubeMapSurface(D3DCUBEMAP_FACES face, UINT level, IDirect3DSurface9** surface) {
    return storage_.SurfaceOf(static_cast<UINT>(face), level, surface);
}

HRESULT CubeTexture::LockRect(D3DCUBEMAP_FACES face, UINT level, D3DLOCKED_RECT* lockedRect, const RECT* rect,
                              DWORD flags) {
    return storage_.Lock(static_cast<UINT>(face), level, lockedRect, rect, flags);
}

HRESULT CubeTexture::UnlockRect(D3DCUBEMAP_FACES face, UINT level) {
    return storage_.Unlock(static_cast<UINT>(face), level);
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

// ---------------------------------------------------------------------------------------
// Buffers

BufferStorage::BufferStorage(UINT length, DWORD usage) : bytes_(length, 0) {
    glCreateBuffers(1, &name_);
    CountGlObjects(1);
    glNamedBufferData(name_, length, nullptr, (usage & D3DUSAGE_DYNAMIC) ? GL_DYNAMIC_DRAW : GL_STATIC_DRAW);
}

BufferStorage::~BufferStorage() {
    glDeleteBuffers(1, &name_);
    CountGlObjects(-1);
}

HRESULT BufferStorage::Lock(UINT offset, UINT size, void** data, DWORD flags) {
    if (!data) return D3DERR_INVALIDCALL;
    UINT length = this->length();
    // Size 0 locks the whole buffer from the offset, as Direct3D 9 does.
    if (offset > length) return D3DERR_INVALIDCALL;
    if (size == 0) size = length - offset;
    if (size > length - offset) return D3DERR_INVALIDCALL;
    *data = bytes_.data() + offset;
    if (!(flags & D3DLOCK_READONLY)) {
        if (dirtyBegin_ == dirtyEnd_) {
            dirtyBegin_ = offset;
            dirtyEnd_ = offset + size;
        } else {
            dirtyBegin_ = std::min(dirtyBegin_, offset);
            dirtyEnd_ = std::max(dirtyEnd_, offset + size);
        }
    }
    ++locks_;
    return D3D_OK;
}

HRESULT BufferStorage::Unlock() {
    if (locks_ == 0) return D3DERR_INVALIDCALL;
    if (--locks_ == 0 && dirtyEnd_ > dirtyBegin_) {
        glNamedBufferSubData(name_, dirtyBegin_, dirtyEnd_ - dirtyBegin_, bytes_.data() + dirtyBegin_);
        dirtyBegin_ = dirtyEnd_ = 0;
    }
    return D3D_OK;
}

VertexBuffer::VertexBuffer(Device* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool)
    : device_(device), storage_((device->MakeCurrent(), length), usage) {
    desc_ = D3DVERTEXBUFFER_DESC{D3DFMT_VERTEXDATA, D3DRTYPE_VERTEXBUFFER, usage, pool, length, fvf};
}

VertexBuffer::~VertexBuffer() {
    device_->MakeCurrent();
}

HRESULT VertexBuffer::GetDevice(IDirect3DDevice9** device) { return HandOut(device_.get(), device); }

void VertexBuffer::ApplyDebugName(const std::string& name) {
    device_->MakeCurrent();
    LabelGlObject(GL_BUFFER, storage_.name(), name);
}

HRESULT VertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC* desc) {
    if (!desc) return D3DERR_INVALIDCALL;
    *desc = desc_;
    return D3D_OK;
}

IndexBuffer::IndexBuffer(Device* device, UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool)
    : device_(device), storage_((device->MakeCurrent(), length), usage) {
    desc_ = D3DINDEXBUFFER_DESC{format, D3DRTYPE_INDEXBUFFER, usage, pool, length};
}

IndexBuffer::~IndexBuffer() {
    device_->MakeCurrent();
}

HRESULT IndexBuffer::GetDevice(IDirect3DDevice9** device) { return HandOut(device_.get(), device); }

void IndexBuffer::ApplyDebugName(const std::string& name) {
    device_->MakeCurrent();
    LabelGlObject(GL_BUFFER, storage_.name(), name);
}

HRESULT IndexBuffer::GetDesc(D3DINDEXBUFFER_DESC* desc) {
    if (!desc) return D3DERR_INVALIDCALL;
    *desc = desc_;
    return D3D_OK;
}

// ---------------------------------------------------------------------------------------
// Vertex declarations

bool VertexDeclaration::Translate(const D3DVERTEXELEMENT9* elements, std::vector<D3DVERTEXELEMENT9>* copy,
                                  std::vector<Attribute>* attributes) {
    for (int i = 0; i < MAXD3DDECLLENGTH; ++i) {
        const D3DVERTEXELEMENT9& e = elements[i];
        copy->push_back(e);
        if (e.Stream == 0xFF) return true;
        if (e.Stream >= kMaxStreams) return false;
        int location = AttributeLocation(e.Usage, e.UsageIndex);
        if (location < 0) return false;
        Attribute a{static_cast<GLuint>(location), e.Stream, e.Offset, 4, GL_FLOAT, GL_FALSE, e.Usage, e.UsageIndex};
        switch (e.Type) {
        case D3DDECLTYPE_FLOAT1: a.size = 1; break;
        case D3DDECLTYPE_FLOAT2: a.size = 2; break;
        case D3DDECLTYPE_FLOAT3: a.size = 3; break;
        case D3DDECLTYPE_FLOAT4: a.size = 4; break;
        // D3DCOLOR is B, G, R, A in memory; GL_BGRA as the size swizzles it to (R, G, B, A).
        case D3DDECLTYPE_D3DCOLOR: a.size = GL_BGRA; a.type = GL_UNSIGNED_BYTE; a.normalized = GL_TRUE; break;
        case D3DDECLTYPE_UBYTE4: a.type = GL_UNSIGNED_BYTE; break;
        case D3DDECLTYPE_UBYTE4N: a.type = GL_UNSIGNED_BYTE; a.normalized = GL_TRUE; break;
        case D3DDECLTYPE_SHORT2: a.size = 2; a.type = GL_SHORT; break;
        case D3DDECLTYPE_SHORT4: a.type = GL_SHORT; break;
        case D3DDECLTYPE_SHORT2N: a.size = 2; a.type = GL_SHORT; a.normalized = GL_TRUE; break;
        case D3DDECLTYPE_SHORT4N: a.type = GL_SHORT; a.normalized = GL_TRUE; break;
        case D3DDECLTYPE_USHORT2N: a.size = 2; a.type = GL_UNSIGNED_SHORT; a.normalized = GL_TRUE; break;
        case D3DDECLTYPE_USHORT4N: a.type = GL_UNSIGNED_SHORT; a.normalized = GL_TRUE; break;
        case D3DDECLTYPE_FLOAT16_2: a.size = 2; a.type = GL_HALF_FLOAT; break;
        case D3DDECLTYPE_FLOAT16_4: a.type = GL_HALF_FLOAT; break;
        default: return false;
        }
        attributes->push_back(a);
    }
    return false;  // no D3DDECL_END within the maximum length
}

VertexDeclaration::VertexDeclaration(Device* device, std::vector<D3DVERTEXELEMENT9> elements,
                                     std::vector<Attribute> attributes)
    : device_(device), elements_(std::move(elements)), attributes_(std::move(attributes)) {
    device_->MakeCurrent();
    glCreateVertexArrays(1, &vao_);
    CountGlObjects(1);
    for (const Attribute& a : attributes_) {
        glEnableVertexArrayAttrib(vao_, a.location);
        glVertexArrayAttribFormat(vao_, a.location, a.size, a.type, a.normalized, a.offset);
        glVertexArrayAttribBinding(vao_, a.location, a.stream);
        streamMask_ |= 1u << a.stream;
        if (a.usage == D3DDECLUSAGE_POSITIONT) pretransformed_ = true;
    }
}

VertexDeclaration::~VertexDeclaration() {
    device_->MakeCurrent();
    glDeleteVertexArrays(1, &vao_);
    CountGlObjects(-1);
    if (fixedFunctionProgram) glDeleteProgram(fixedFunctionProgram);
}

HRESULT VertexDeclaration::GetDevice(IDirect3DDevice9** device) { return HandOut(device_.get(), device); }

HRESULT VertexDeclaration::GetDeclaration(D3DVERTEXELEMENT9* elements, UINT* count) {
    if (!count) return D3DERR_INVALIDCALL;
    if (elements) std::copy(elements_.begin(), elements_.end(), elements);
    *count = static_cast<UINT>(elements_.size());
    return D3D_OK;
}

// ---------------------------------------------------------------------------------------
// Shaders and queries

template <class Interface>
ShaderObject<Interface>::ShaderObject(Device* device, GLuint program, UINT constantRegisters)
    : device_(device), program_(program), constantRegisters_(constantRegisters) {
    CountGlObjects(1);
}

template <class Interface>
ShaderObject<Interface>::~ShaderObject() {
    device_->MakeCurrent();
    glDeleteProgram(program_);
    CountGlObjects(-1);
}

template <class Interface>
HRESULT ShaderObject<Interface>::GetDevice(IDirect3DDevice9** device) { return HandOut(device_.get(), device); }

template class ShaderObject<IDirect3DVertexShader9>;
template class ShaderObject<IDirect3DPixelShader9>;

Query::Query(Device* device, D3DQUERYTYPE type) : device_(device), type_(type) {
    device_->MakeCurrent();
    if (type_ == D3DQUERYTYPE_OCCLUSION) glCreateQueries(GL_SAMPLES_PASSED, 1, &query_);
    if (query_) CountGlObjects(1);
}

Query::~Query() {
    device_->MakeCurrent();
    if (begun_) glEndQuery(GL_SAMPLES_PASSED);
    if (query_) {
        glDeleteQueries(1, &query_);
        CountGlObjects(-1);
    }
    if (fence_) glDeleteSync(fence_);
}

HRESULT Query::GetDevice(IDirect3DDevice9** device) { return HandOut(device_.get(), device); }

DWORD Query::GetDataSize() { return type_ == D3DQUERYTYPE_OCCLUSION ? sizeof(DWORD) : sizeof(BOOL); }

HRESULT Query::Issue(DWORD issueFlags) {
    device_->MakeCurrent();
    if (type_ == D3DQUERYTYPE_OCCLUSION) {
        if (issueFlags & D3DISSUE_BEGIN) {
            if (begun_) glEndQuery(GL_SAMPLES_PASSED);
            glBeginQuery(GL_SAMPLES_PASSED, query_);
            begun_ = true;
            issued_ = false;
        }
        if ((issueFlags & D3DISSUE_END) && begun_) {
            glEndQuery(GL_SAMPLES_PASSED);
            begun_ = false;
            issued_ = true;
        }
        return D3D_OK;
    }
    if (issueFlags & D3DISSUE_END) {
        if (fence_) glDeleteSync(fence_);
        fence_ = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
        issued_ = true;
    }
    return D3D_OK;
}

HRESULT Query::GetData(void* data, DWORD size, DWORD getDataFlags) {
    if (!issued_) return D3DERR_INVALIDCALL;
    device_->MakeCurrent();
    if (type_ == D3DQUERYTYPE_OCCLUSION) {
        GLuint available = 0;
        if (getDataFlags & D3DGETDATA_FLUSH) glFlush();
        glGetQueryObjectuiv(query_, GL_QUERY_RESULT_AVAILABLE, &available);
        if (!available) return S_FALSE;
        GLuint samples = 0;
        glGetQueryObjectuiv(query_, GL_QUERY_RESULT, &samples);
        if (data && size >= sizeof(DWORD)) *static_cast<DWORD*>(data) = samples;
        return D3D_OK;
    }
    GLint status = GL_UNSIGNALED;
    glGetSynciv(fence_, GL_SYNC_STATUS, sizeof(status), nullptr, &status);
    if (status != GL_SIGNALED) {
        if (getDataFlags & D3DGETDATA_FLUSH) glFlush();
        return S_FALSE;
    }
    if (data && size >= sizeof(BOOL)) *static_cast<BOOL*>(data) = TRUE;
    return D3D_OK;
}

}  // namespace lumaret::platform
