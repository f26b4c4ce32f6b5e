#include "support/RecordingDevice.h"

#include "d3d9/PrivateData.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

namespace lumaret::test {
namespace {

template <class Interface>
class Counted : public Interface {
public:
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override {
        ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

private:
    ULONG references_ = 1;
};

// Resources keep private data as the real device does.
template <class Interface>
class Resource : public Counted<Interface> {
public:
    HRESULT SetPrivateData(REFGUID guid, const void* data, DWORD size, DWORD flags) override {
        return data_.Set(guid, data, size, flags);
    }
    HRESULT GetPrivateData(REFGUID guid, void* data, DWORD* size) override { return data_.Get(guid, data, size); }
    HRESULT FreePrivateData(REFGUID guid) override { return data_.Free(guid); }

private:
    lumaret::platform::PrivateData data_;
};

UINT BytesPerPixel(D3DFORMAT format) {
    switch (format) {
    case D3DFMT_A16B16G16R16:
    case D3DFMT_A16B16G16R16F: return 8;
    case D3DFMT_A32B32G32R32F: return 16;
    case D3DFMT_L8:
    case D3DFMT_A8: return 1;
    default: return 4;
    }
}

class Surface : public Resource<IDirect3DSurface9> {
public:
    Surface(IDirect3DDevice9* device, D3DSURFACE_DESC desc) : device_(device), desc_(desc) {
        pitch_ = desc.Width * BytesPerPixel(desc.Format);
        bytes_.assign(static_cast<size_t>(pitch_) * desc.Height, 0);
    }
    HRESULT GetDevice(IDirect3DDevice9** device) override {
        *device = device_;
        return D3D_OK;
    }
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_SURFACE; }
    HRESULT GetDesc(D3DSURFACE_DESC* desc) override {
        *desc = desc_;
        return D3D_OK;
    }
    HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT*, DWORD) override {
        locked->Pitch = static_cast<INT>(pitch_);
        locked->pBits = bytes_.data();
        return D3D_OK;
    }
    HRESULT UnlockRect() override { return D3D_OK; }

private:
    IDirect3DDevice9* device_;
    D3DSURFACE_DESC desc_;
    UINT pitch_;
    std::vector<uint8_t> bytes_;
};

class Texture : public Resource<IDirect3DTexture9> {
public:
    Texture(IDirect3DDevice9* device, UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
            D3DPOOL pool)
        : device_(device) {
        if (levels == 0) levels = 1;
        for (UINT level = 0; level < levels; ++level) {
            D3DSURFACE_DESC desc{format, D3DRTYPE_SURFACE, usage, pool, D3DMULTISAMPLE_NONE, 0,
                                 std::max(width >> level, 1u), std::max(height >> level, 1u)};
            levels_.push_back(new Surface(device, desc));
        }
    }
    ~Texture() override {
        for (Surface* s : levels_) s->Release();
    }
    HRESULT GetDevice(IDirect3DDevice9** device) override {
        *device = device_;
        return D3D_OK;
    }
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_TEXTURE; }
    DWORD GetLevelCount() override { return static_cast<DWORD>(levels_.size()); }
    void GenerateMipSubLevels() override {}
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override {
        return level < levels_.size() ? levels_[level]->GetDesc(desc) : D3DERR_INVALIDCALL;
    }
    HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) override {
        if (level >= levels_.size()) return D3DERR_INVALIDCALL;
        levels_[level]->AddRef();
        *surface = levels_[level];
        return D3D_OK;
    }
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override {
        return level < levels_.size() ? levels_[level]->LockRect(locked, rect, flags) : D3DERR_INVALIDCALL;
    }
    HRESULT UnlockRect(UINT) override { return D3D_OK; }

private:
    IDirect3DDevice9* device_;
    std::vector<Surface*> levels_;
};

template <class Interface, class Desc>
class Buffer : public Resource<Interface> {
public:
    Buffer(IDirect3DDevice9* device, UINT length, Desc desc) : device_(device), bytes_(length), desc_(desc) {}
    HRESULT GetDevice(IDirect3DDevice9** device) override {
        *device = device_;
        return D3D_OK;
    }
    D3DRESOURCETYPE GetType() override { return desc_.Type; }
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD) override {
        if (offset > bytes_.size() || size > bytes_.size() - offset) return D3DERR_INVALIDCALL;
        *data = bytes_.data() + offset;
        return D3D_OK;
    }
    HRESULT Unlock() override { return D3D_OK; }
    HRESULT GetDesc(Desc* desc) override {
        *desc = desc_;
        return D3D_OK;
    }

private:
    IDirect3DDevice9* device_;
    std::vector<uint8_t> bytes_;
    Desc desc_;
};

class Declaration : public Counted<IDirect3DVertexDeclaration9> {
public:
    HRESULT GetDevice(IDirect3DDevice9**) override { return D3D_OK; }
    HRESULT GetDeclaration(D3DVERTEXELEMENT9*, UINT* count) override {
        *count = 0;
        return D3D_OK;
    }
};

template <class Interface>
class Shader : public Counted<Interface> {
public:
    HRESULT GetDevice(IDirect3DDevice9**) override { return D3D_OK; }
};

class Query : public Counted<IDirect3DQuery9> {
public:
    HRESULT GetDevice(IDirect3DDevice9**) override { return D3D_OK; }
    D3DQUERYTYPE GetType() override { return D3DQUERYTYPE_OCCLUSION; }
    DWORD GetDataSize() override { return sizeof(DWORD); }
    HRESULT Issue(DWORD) override { return D3D_OK; }
    HRESULT GetData(void*, DWORD, DWORD) override { return D3D_OK; }
};

template <class... Args>
std::string Call(const char* name, Args... args) {
    std::ostringstream text;
    text << name << "(";
    bool first = true;
    ((text << (first ? "" : ", ") << args, first = false), ...);
    text << ")";
    return text.str();
}

// The float4 registers of a constant upload, space-separated.
std::string RegisterValues(const float* data, UINT count) {
    std::ostringstream values;
    for (UINT i = 0; i < count * 4; ++i) values << (i ? " " : "") << data[i];
    return values.str();
}

}  // namespace

// ---------------------------------------------------------------------------------------

RecordingDirect3D::RecordingDirect3D() {
    caps.DevCaps = D3DDEVCAPS_HWTRANSFORMANDLIGHT;
    caps.VertexProcessingCaps = 1;
    caps.VertexShaderVersion = D3DVS_VERSION(3, 0);
    caps.PixelShaderVersion = D3DPS_VERSION(3, 0);
    caps.MaxSimultaneousTextures = 8;
    caps.MaxAnisotropy = 16;
    caps.Caps2 = D3DCAPS2_CANAUTOGENMIPMAP;
}

ULONG RecordingDirect3D::Release() {
    ULONG left = --references;
    if (left == 0) delete this;
    return left;
}

HRESULT RecordingDirect3D::GetAdapterDisplayMode(UINT, D3DDISPLAYMODE* out) {
    *out = mode;
    return D3D_OK;
}

HRESULT RecordingDirect3D::CheckDeviceType(UINT, D3DDEVTYPE, D3DFORMAT, D3DFORMAT backBufferFormat, BOOL) {
    return refuseA8R8G8B8BackBuffer && backBufferFormat == D3DFMT_A8R8G8B8 ? D3DERR_NOTAVAILABLE : D3D_OK;
}

HRESULT RecordingDirect3D::CheckDeviceFormat(UINT, D3DDEVTYPE, D3DFORMAT, DWORD usage, D3DRESOURCETYPE,
                                             D3DFORMAT format) {
    checks.push_back(Call("CheckDeviceFormat", usage, static_cast<DWORD>(format)));
    for (auto& [refusedUsage, refusedFormat] : refusedFormats)
        if (refusedUsage == usage && refusedFormat == format) return D3DERR_NOTAVAILABLE;
    return D3D_OK;
}

HRESULT RecordingDirect3D::GetDeviceCaps(UINT, D3DDEVTYPE, D3DCAPS9* out) {
    *out = caps;
    return D3D_OK;
}

HRESULT RecordingDirect3D::CreateDevice(UINT, D3DDEVTYPE, HWND, DWORD behaviorFlags, D3DPRESENT_PARAMETERS* parameters,
                                        IDirect3DDevice9** device) {
    lastParameters = *parameters;
    lastBehaviorFlags = behaviorFlags;
    if (failCreateDevice) return D3DERR_NOTAVAILABLE;
    lastDevice = new RecordingDevice(this);
    *device = lastDevice;
    return D3D_OK;
}

// ---------------------------------------------------------------------------------------

RecordingDevice::RecordingDevice(RecordingDirect3D* parent) : parent(parent) {
    D3DSURFACE_DESC desc{D3DFMT_A8R8G8B8, D3DRTYPE_SURFACE, D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT,
                         D3DMULTISAMPLE_NONE, 0, parent->lastParameters.BackBufferWidth,
                         parent->lastParameters.BackBufferHeight};
    backBuffer = new Surface(this, desc);
    desc.Format = D3DFMT_D24S8;
    desc.Usage = D3DUSAGE_DEPTHSTENCIL;
    depthBuffer = new Surface(this, desc);
    objects = {backBuffer, depthBuffer};
    targets[0] = backBuffer;
    depth = depthBuffer;
    viewport = D3DVIEWPORT9{0, 0, desc.Width, desc.Height, 0.0f, 1.0f};
}

ULONG RecordingDevice::Release() {
    ULONG left = --references;
    if (left == 0) {
        backBuffer->Release();
        depthBuffer->Release();
        delete this;
    }
    return left;
}

size_t RecordingDevice::Count(const std::string& prefix) const {
    return static_cast<size_t>(std::count_if(calls.begin(), calls.end(),
                                             [&](const std::string& c) { return c.rfind(prefix, 0) == 0; }));
}

std::string RecordingDevice::Name(const void* object) const {
    if (!object) return "null";
    if (object == backBuffer) return "backbuffer";
    if (object == depthBuffer) return "depthbuffer";
    auto it = std::find(objects.begin(), objects.end(), object);
    if (it == objects.end()) return "unknown";
    return "object#" + std::to_string(it - objects.begin());
}

HRESULT RecordingDevice::GetDirect3D(IDirect3D9** d3d) {
    *d3d = parent;
    parent->AddRef();
    return D3D_OK;
}

HRESULT RecordingDevice::GetDeviceCaps(D3DCAPS9* caps) {
    *caps = parent->caps;
    return D3D_OK;
}

HRESULT RecordingDevice::GetDisplayMode(UINT, D3DDISPLAYMODE* mode) {
    *mode = parent->mode;
    return D3D_OK;
}

HRESULT RecordingDevice::Present(const RECT*, const RECT*, HWND, const void*) {
    calls.push_back("Present()");
    return presentResult;
}

HRESULT RecordingDevice::GetBackBuffer(UINT, UINT, D3DBACKBUFFER_TYPE, IDirect3DSurface9** surface) {
    backBuffer->AddRef();
    *surface = backBuffer;
    return D3D_OK;
}

HRESULT RecordingDevice::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                                       D3DPOOL pool, IDirect3DTexture9** texture, HANDLE*) {
    calls.push_back(Call("CreateTexture", width, height, levels, usage, static_cast<DWORD>(format), pool));
    *texture = new Texture(this, width, height, levels, usage, format, pool);
    objects.push_back(*texture);
    // Level surfaces get names too, so that drawing into a render target names it.
    for (DWORD level = 0; level < (*texture)->GetLevelCount(); ++level) {
        IDirect3DSurface9* surface = nullptr;
        (*texture)->GetSurfaceLevel(level, &surface);
        objects.push_back(surface);
        surface->Release();
    }
    return D3D_OK;
}

HRESULT RecordingDevice::CreateCubeTexture(UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DCubeTexture9**, HANDLE*) {
    return D3DERR_NOTAVAILABLE;
}

HRESULT RecordingDevice::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                            IDirect3DVertexBuffer9** buffer, HANDLE*) {
    calls.push_back(Call("CreateVertexBuffer", length, usage, fvf, pool));
    *buffer = new Buffer<IDirect3DVertexBuffer9, D3DVERTEXBUFFER_DESC>(
        this, length, D3DVERTEXBUFFER_DESC{D3DFMT_VERTEXDATA, D3DRTYPE_VERTEXBUFFER, usage, pool, length, fvf});
    objects.push_back(*buffer);
    return D3D_OK;
}

HRESULT RecordingDevice::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                           IDirect3DIndexBuffer9** buffer, HANDLE*) {
    calls.push_back(Call("CreateIndexBuffer", length, usage, static_cast<DWORD>(format), pool));
    *buffer = new Buffer<IDirect3DIndexBuffer9, D3DINDEXBUFFER_DESC>(
        this, length, D3DINDEXBUFFER_DESC{format, D3DRTYPE_INDEXBUFFER, usage, pool, length});
    objects.push_back(*buffer);
    return D3D_OK;
}

HRESULT RecordingDevice::CreateRenderTarget(UINT, UINT, D3DFORMAT, D3DMULTISAMPLE_TYPE, DWORD, BOOL,
                                            IDirect3DSurface9**, HANDLE*) {
    return D3DERR_NOTAVAILABLE;
}

HRESULT RecordingDevice::CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE,
                                                   DWORD, BOOL, IDirect3DSurface9** surface, HANDLE*) {
    calls.push_back(Call("CreateDepthStencilSurface", width, height, static_cast<DWORD>(format)));
    if (format == D3DFMT_UNKNOWN) return D3DERR_INVALIDCALL;
    *surface = new Surface(this, D3DSURFACE_DESC{format, D3DRTYPE_SURFACE, D3DUSAGE_DEPTHSTENCIL, D3DPOOL_DEFAULT,
                                                 D3DMULTISAMPLE_NONE, 0, width, height});
    objects.push_back(*surface);
    return D3D_OK;
}

HRESULT RecordingDevice::GetRenderTargetData(IDirect3DSurface9* source, IDirect3DSurface9* destination) {
    calls.push_back(Call("GetRenderTargetData", Name(source), Name(destination)));
    return destination ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT RecordingDevice::CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                                     IDirect3DSurface9** surface, HANDLE*) {
    calls.push_back(Call("CreateOffscreenPlainSurface", width, height, static_cast<DWORD>(format), pool));
    *surface = new Surface(this, D3DSURFACE_DESC{format, D3DRTYPE_SURFACE, 0, pool, D3DMULTISAMPLE_NONE, 0, width,
                                                 height});
    objects.push_back(*surface);
    return D3D_OK;
}

HRESULT RecordingDevice::SetRenderTarget(DWORD index, IDirect3DSurface9* surface) {
    calls.push_back(Call("SetRenderTarget", index, Name(surface)));
    if (index >= 4) return D3DERR_INVALIDCALL;
    if (surface) surface->AddRef();
    if (targets[index]) targets[index]->Release();
    targets[index] = surface;
    return D3D_OK;
}

HRESULT RecordingDevice::GetRenderTarget(DWORD index, IDirect3DSurface9** surface) {
    calls.push_back(Call("GetRenderTarget", index));
    *surface = index < 4 ? targets[index] : nullptr;
    if (!*surface) return D3DERR_NOTFOUND;
    (*surface)->AddRef();
    return D3D_OK;
}

HRESULT RecordingDevice::SetDepthStencilSurface(IDirect3DSurface9* surface) {
    calls.push_back(Call("SetDepthStencilSurface", Name(surface)));
    if (surface) surface->AddRef();
    if (depth) depth->Release();
    depth = surface;
    return D3D_OK;
}

HRESULT RecordingDevice::GetDepthStencilSurface(IDirect3DSurface9** surface) {
    calls.push_back("GetDepthStencilSurface()");
    *surface = depth;
    if (!depth) return D3DERR_NOTFOUND;
    depth->AddRef();
    return D3D_OK;
}

HRESULT RecordingDevice::BeginScene() {
    calls.push_back("BeginScene()");
    return D3D_OK;
}

HRESULT RecordingDevice::EndScene() {
    calls.push_back("EndScene()");
    return D3D_OK;
}

HRESULT RecordingDevice::Clear(DWORD count, const D3DRECT*, DWORD flags, D3DCOLOR color, float z, DWORD stencil) {
    std::ostringstream colorText;
    colorText << std::hex << color;
    calls.push_back(Call("Clear", count, flags, colorText.str(), z, stencil));
    return clearResult;
}

HRESULT RecordingDevice::SetViewport(const D3DVIEWPORT9* v) {
    calls.push_back(Call("SetViewport", v->X, v->Y, v->Width, v->Height, v->MinZ, v->MaxZ));
    viewport = *v;
    return D3D_OK;
}

HRESULT RecordingDevice::GetViewport(D3DVIEWPORT9* v) {
    calls.push_back("GetViewport()");
    *v = viewport;
    return D3D_OK;
}

HRESULT RecordingDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    calls.push_back(Call("SetRenderState", static_cast<DWORD>(state), value));
    return D3D_OK;
}

HRESULT RecordingDevice::SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) {
    calls.push_back(Call("SetTexture", stage, Name(texture)));
    return D3D_OK;
}

HRESULT RecordingDevice::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
    calls.push_back(Call("SetSamplerState", sampler, static_cast<DWORD>(type), value));
    return D3D_OK;
}

HRESULT RecordingDevice::DrawPrimitive(D3DPRIMITIVETYPE type, UINT start, UINT count) {
    calls.push_back(Call("DrawPrimitive", static_cast<DWORD>(type), start, count));
    return D3D_OK;
}

HRESULT RecordingDevice::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT base, UINT minIndex, UINT vertices,
                                              UINT start, UINT count) {
    calls.push_back(Call("DrawIndexedPrimitive", static_cast<DWORD>(type), base, minIndex, vertices, start, count));
    return D3D_OK;
}

HRESULT RecordingDevice::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT count, const void* data, UINT stride) {
    calls.push_back(Call("DrawPrimitiveUP", static_cast<DWORD>(type), count, stride));
    UINT vertices = type == D3DPT_TRIANGLESTRIP ? count + 2 : count * 3;
    lastUserVertices.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + vertices * stride);
    return D3D_OK;
}

HRESULT RecordingDevice::CreateVertexDeclaration(const D3DVERTEXELEMENT9*, IDirect3DVertexDeclaration9** decl) {
    calls.push_back("CreateVertexDeclaration()");
    *decl = new Declaration();
    objects.push_back(*decl);
    return D3D_OK;
}

HRESULT RecordingDevice::SetVertexDeclaration(IDirect3DVertexDeclaration9* decl) {
    calls.push_back(Call("SetVertexDeclaration", Name(decl)));
    return D3D_OK;
}

HRESULT RecordingDevice::CreateVertexShader(const DWORD*, IDirect3DVertexShader9** shader) {
    *shader = new Shader<IDirect3DVertexShader9>();
    objects.push_back(*shader);
    return D3D_OK;
}

HRESULT RecordingDevice::SetVertexShader(IDirect3DVertexShader9* shader) {
    calls.push_back(Call("SetVertexShader", Name(shader)));
    return D3D_OK;
}

HRESULT RecordingDevice::SetVertexShaderConstantF(UINT start, const float* data, UINT count) {
    calls.push_back(Call("SetVertexShaderConstantF", start, count, RegisterValues(data, count)));
    return D3D_OK;
}

HRESULT RecordingDevice::SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) {
    calls.push_back(Call("SetStreamSource", stream, Name(buffer), offset, stride));
    return D3D_OK;
}

HRESULT RecordingDevice::SetIndices(IDirect3DIndexBuffer9* buffer) {
    calls.push_back(Call("SetIndices", Name(buffer)));
    return D3D_OK;
}

HRESULT RecordingDevice::CreatePixelShader(const DWORD*, IDirect3DPixelShader9** shader) {
    if (FAILED(shaderCreation)) return shaderCreation;
    *shader = new Shader<IDirect3DPixelShader9>();
    objects.push_back(*shader);
    return D3D_OK;
}

HRESULT RecordingDevice::SetPixelShader(IDirect3DPixelShader9* shader) {
    calls.push_back(Call("SetPixelShader", Name(shader)));
    return D3D_OK;
}

HRESULT RecordingDevice::SetPixelShaderConstantF(UINT start, const float* data, UINT count) {
    calls.push_back(Call("SetPixelShaderConstantF", start, count, RegisterValues(data, count)));
    return D3D_OK;
}

HRESULT RecordingDevice::CreateQuery(D3DQUERYTYPE type, IDirect3DQuery9** query) {
    calls.push_back(Call("CreateQuery", static_cast<DWORD>(type)));
    if (!query) return parent->queryResult;
    *query = new Query();
    objects.push_back(*query);
    return D3D_OK;
}

}  // namespace lumaret::test
