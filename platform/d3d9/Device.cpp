#include "d3d9/Device.h"

#include "d3d9/Direct3D9.h"
#include "d3d9/FixedFunction.h"
#include "d3d9/GlDebug.h"
#include "d3d9/GlObjectCount.h"
#include "d3d9/GlProgram.h"
#include "d3d9/ShaderBlob.h"
#include "win32/WindowSystem.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace lumaret::platform {

// ---------------------------------------------------------------------------------------
// Creation and destruction

Device* Device::Create(Direct3D9* parent, HWND window, DWORD behaviorFlags, const D3DPRESENT_PARAMETERS& parameters,
                       std::string* error) {
    D3DPRESENT_PARAMETERS p = parameters;
    if (p.BackBufferWidth == 0 || p.BackBufferHeight == 0) {
        RECT client{};
        GetClientRect(window, &client);
        if (p.BackBufferWidth == 0) p.BackBufferWidth = static_cast<UINT>(std::max<LONG>(client.right, 1));
        if (p.BackBufferHeight == 0) p.BackBufferHeight = static_cast<UINT>(std::max<LONG>(client.bottom, 1));
    }
    if (p.BackBufferFormat == D3DFMT_UNKNOWN) p.BackBufferFormat = D3DFMT_X8R8G8B8;
    if (p.BackBufferFormat != D3DFMT_A8R8G8B8 && p.BackBufferFormat != D3DFMT_X8R8G8B8) {
        *error = "unsupported back-buffer format";
        return nullptr;
    }
    if (p.BackBufferWidth > 16384 || p.BackBufferHeight > 16384) {
        *error = "back buffer too large";
        return nullptr;
    }
    if (p.EnableAutoDepthStencil) {
        const FormatInfo* depth = FindFormat(p.AutoDepthStencilFormat);
        if (!depth || !depth->depth) {
            *error = "unsupported depth-stencil format";
            return nullptr;
        }
    }
    if (p.BackBufferCount == 0) p.BackBufferCount = 1;
    SDL_Window* sdl = SdlWindowOf(window);
    std::unique_ptr<GlContext> context = GlContext::Create(sdl, error);
    if (!context) return nullptr;
    auto* device = new Device(parent, window, behaviorFlags, p, std::move(context));
    device->sdlWindow_ = RetainSdlWindow(window);
    if (!device->InitialiseGl(error)) {
        device->Release();
        return nullptr;
    }
    if (sdl && !p.Windowed) {
        // Full screen without a display-mode change: a borderless window over the whole
        // desktop, which also works where no window manager handles full-screen requests.
        SDL_DisplayMode desktop;
        if (SDL_GetDesktopDisplayMode(SDL_GetWindowDisplayIndex(sdl), &desktop) == 0) {
            SDL_SetWindowBordered(sdl, SDL_FALSE);
            SDL_SetWindowPosition(sdl, 0, 0);
            SDL_SetWindowSize(sdl, desktop.w, desktop.h);
        }
    }
    return device;
}

Device::Device(Direct3D9* parent, HWND window, DWORD behaviorFlags, const D3DPRESENT_PARAMETERS& parameters,
               std::unique_ptr<GlContext> context)
    : parent_(parent), window_(window), behaviorFlags_(behaviorFlags), parameters_(parameters),
      context_(std::move(context)) {
    parent_->AddRef();
    Direct3D9::FillCaps(&caps_);
}

bool Device::InitialiseGl(std::string* error) {
    MakeCurrent();
    // Direct3D's [0, 1] depth and top-left origin: row 0 of every target is the top row.
    glClipControl(GL_UPPER_LEFT, GL_ZERO_TO_ONE);
    glCreateFramebuffers(1, &framebuffer_);
    glCreateFramebuffers(1, &readFramebuffer_);
    glCreateFramebuffers(1, &resolveFramebuffer_);
    glCreateProgramPipelines(1, &pipeline_);
    glBindProgramPipeline(pipeline_);
    // The ring holds what draws from user memory send (a frame of the demo sends about a
    // kilobyte), and it grows for a larger draw. The driver zero-fills new storage, and at
    // 8 MiB that cost a sixth of a small model's start; each refill of the ring costs it again.
    stream_.Create(256 << 10);
    glGetIntegerv(GL_UNIFORM_BUFFER_OFFSET_ALIGNMENT, &uniformAlignment_);
    glCreateBuffers(1, &internalBuffer_);
    glNamedBufferData(internalBuffer_, sizeof(gl_.internal), &gl_.internal, GL_DYNAMIC_DRAW);
    glBindBufferBase(GL_UNIFORM_BUFFER, kInternalBinding, internalBuffer_);
    glCreateVertexArrays(1, &emptyVertexArray_);
    // The layer's own objects, named so that a capture shows what each one is for.
    LabelGlObject(GL_FRAMEBUFFER, framebuffer_, "D3D9 draw framebuffer");
    LabelGlObject(GL_FRAMEBUFFER, readFramebuffer_, "D3D9 read framebuffer");
    LabelGlObject(GL_FRAMEBUFFER, resolveFramebuffer_, "D3D9 back buffer resolve");
    LabelGlObject(GL_PROGRAM_PIPELINE, pipeline_, "D3D9 shader pipeline");
    LabelGlObject(GL_BUFFER, internalBuffer_, "D3D9 internal uniforms");
    LabelGlObject(GL_VERTEX_ARRAY, emptyVertexArray_, "D3D9 empty vertex array");
    glEnable(GL_TEXTURE_CUBE_MAP_SEAMLESS);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    // The largest point the rasteriser draws is the device's MaxPointSize; D3DRS_POINTSIZE
    // is clamped to it at draw time, as Direct3D 9 clamps to its caps.
    GLfloat pointSizes[2] = {1.0f, 1.0f};
    glGetFloatv(GL_POINT_SIZE_RANGE, pointSizes);
    caps_.MaxPointSize = std::max(1.0f, pointSizes[1]);

    UINT width = parameters_.BackBufferWidth, height = parameters_.BackBufferHeight;
    glGetIntegerv(GL_MAX_SAMPLES, &maxSamples_);
    backBuffer_ = CreateRenderbufferSurface(width, height, parameters_.BackBufferFormat, parameters_.MultiSampleType,
                                            D3DUSAGE_RENDERTARGET, this);
    if (!backBuffer_) {
        *error = "back buffer format or multisample type not supported";
        return false;
    }
    glCreateRenderbuffers(1, &resolveRenderbuffer_);
    glNamedRenderbufferStorage(resolveRenderbuffer_, backBuffer_->format().internalFormat, static_cast<GLsizei>(width),
                               static_cast<GLsizei>(height));
    glNamedFramebufferRenderbuffer(resolveFramebuffer_, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, resolveRenderbuffer_);
    LabelGlObject(GL_RENDERBUFFER, backBuffer_->glRenderbuffer(), "back buffer");
    LabelGlObject(GL_RENDERBUFFER, resolveRenderbuffer_, "back buffer (resolved)");
    // The driver may build a program for a multisampled resolve the first time it does one:
    // done once here, where a caller can have other work under way (the viewer reads its
    // model meanwhile), not in the first frame's screenshot or present; and waited for,
    // so that nothing of it is left over for that frame.
    if (parameters_.MultiSampleType != D3DMULTISAMPLE_NONE) {
        ResolveBackBuffer();
        glFinish();
    }
    if (parameters_.EnableAutoDepthStencil) {
        autoDepthStencil_ = CreateRenderbufferSurface(width, height, parameters_.AutoDepthStencilFormat,
                                                      parameters_.MultiSampleType, D3DUSAGE_DEPTHSTENCIL, this);
        if (!autoDepthStencil_) {
            *error = "depth-stencil format not supported";
            return false;
        }
        LabelGlObject(GL_RENDERBUFFER, autoDepthStencil_->glRenderbuffer(), "automatic depth-stencil");
    }

    // Direct3D 9's initial device state.
    state_.Reset(parameters_.EnableAutoDepthStencil != FALSE, backBuffer_, autoDepthStencil_);

    context_->SetSwapInterval(parameters_.PresentationInterval == D3DPRESENT_INTERVAL_IMMEDIATE ? 0 : 1);
    gl_.dirty = DirtyAll;
    return true;
}

Device::~Device() {
    MakeCurrent();
    // What only the device still held goes now, while the context exists.
    state_.UnbindAll();
    delete backBuffer_;
    delete autoDepthStencil_;
    for (auto& [key, sampler] : samplerCache_) glDeleteSamplers(1, &sampler);
    GLuint framebuffers[] = {framebuffer_, readFramebuffer_, resolveFramebuffer_};
    glDeleteFramebuffers(3, framebuffers);
    glDeleteRenderbuffers(1, &resolveRenderbuffer_);
    glDeleteProgramPipelines(1, &pipeline_);
    stream_.Destroy();
    glDeleteBuffers(1, &internalBuffer_);
    glDeleteVertexArrays(1, &emptyVertexArray_);
    if (fixedFunctionPixelProgram_) glDeleteProgram(fixedFunctionPixelProgram_);
    context_.reset();
    ReleaseSdlWindow(sdlWindow_);
    parent_->Release();
}

// ---------------------------------------------------------------------------------------
// Information

HRESULT Device::GetDirect3D(IDirect3D9** d3d) {
    if (!d3d) return D3DERR_INVALIDCALL;
    parent_->AddRef();
    *d3d = parent_;
    return D3D_OK;
}

HRESULT Device::GetDeviceCaps(D3DCAPS9* caps) {
    if (!caps) return D3DERR_INVALIDCALL;
    *caps = caps_;
    return D3D_OK;
}

HRESULT Device::GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) {
    if (swapChain != 0) return D3DERR_INVALIDCALL;
    return parent_->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, mode);
}

HRESULT Device::GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* parameters) {
    if (!parameters) return D3DERR_INVALIDCALL;
    *parameters = D3DDEVICE_CREATION_PARAMETERS{D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window_, behaviorFlags_};
    return D3D_OK;
}

// ---------------------------------------------------------------------------------------
// Resource creation

HRESULT Device::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DTexture9** texture, HANDLE*) {
    if (!texture) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    const FormatInfo* info = FindFormat(format);
    if (!info || width == 0 || height == 0 || width > caps_.MaxTextureWidth || height > caps_.MaxTextureHeight)
        return D3DERR_INVALIDCALL;
    if (levels > FullMipCount(width, height)) return D3DERR_INVALIDCALL;
    if ((usage & D3DUSAGE_RENDERTARGET) && (!info->renderTarget || pool != D3DPOOL_DEFAULT)) return D3DERR_INVALIDCALL;
    if ((usage & D3DUSAGE_DEPTHSTENCIL) && (!info->depth || pool != D3DPOOL_DEFAULT)) return D3DERR_INVALIDCALL;
    if (info->depth && !(usage & D3DUSAGE_DEPTHSTENCIL)) return D3DERR_INVALIDCALL;
    if (usage & D3DUSAGE_AUTOGENMIPMAP) levels = 0;
    auto* created = new Texture(this, width, height, levels, usage, format, pool);
    if (!created->valid()) {
        created->Release();
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    *texture = created;
    return D3D_OK;
}

HRESULT Device::CreateCubeTexture(UINT edgeLength, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DCubeTexture9** cubeTexture, HANDLE*) {
    if (!cubeTexture) return D3DERR_INVALIDCALL;
    *cubeTexture = nullptr;
    const FormatInfo* info = FindFormat(format);
    if (!info || info->depth || edgeLength == 0 || edgeLength > caps_.MaxTextureWidth) return D3DERR_INVALIDCALL;
    if (levels > FullMipCount(edgeLength, edgeLength)) return D3DERR_INVALIDCALL;
    if ((usage & D3DUSAGE_RENDERTARGET) && (!info->renderTarget || pool != D3DPOOL_DEFAULT)) return D3DERR_INVALIDCALL;
    if (usage & D3DUSAGE_AUTOGENMIPMAP) levels = 0;
    auto* created = new CubeTexture(this, edgeLength, levels, usage, format, pool);
    if (!created->valid()) {
        created->Release();
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    *cubeTexture = created;
    return D3D_OK;
}

HRESULT Device::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                   IDirect3DVertexBuffer9** vertexBuffer, HANDLE*) {
    if (!vertexBuffer) return D3DERR_INVALIDCALL;
    *vertexBuffer = nullptr;
    if (length == 0) return D3DERR_INVALIDCALL;
    if (length > (1u << 30)) return D3DERR_OUTOFVIDEOMEMORY;
    auto* created = new VertexBuffer(this, length, usage, fvf, pool);
    if (!created->valid()) {
        created->Release();
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    *vertexBuffer = created;
    return D3D_OK;
}

HRESULT Device::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DIndexBuffer9** indexBuffer, HANDLE*) {
    if (!indexBuffer) return D3DERR_INVALIDCALL;
    *indexBuffer = nullptr;
    if (length == 0 || (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32)) return D3DERR_INVALIDCALL;
    if (length > (1u << 30)) return D3DERR_OUTOFVIDEOMEMORY;
    auto* created = new IndexBuffer(this, length, usage, format, pool);
    if (!created->valid()) {
        created->Release();
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    *indexBuffer = created;
    return D3D_OK;
}

Surface* Device::CreateRenderbufferSurface(UINT width, UINT height, D3DFORMAT format,
                                           D3DMULTISAMPLE_TYPE multiSample, DWORD usage, SharedObject* owner) {
    const FormatInfo* info = FindFormat(format);
    bool depth = usage == D3DUSAGE_DEPTHSTENCIL;
    if (!info || (depth ? !info->depth : !info->renderTarget) || width == 0 || height == 0 || width > 16384 ||
        height > 16384)
        return nullptr;
    GLsizei samples = multiSample >= D3DMULTISAMPLE_2_SAMPLES ? static_cast<GLsizei>(multiSample) : 0;
    if (samples > maxSamples_) return nullptr;
    MakeCurrent();
    TakeGlErrors();  // someone else's
    GLuint renderbuffer = 0;
    glCreateRenderbuffers(1, &renderbuffer);
    CountGlObjects(1);
    glNamedRenderbufferStorageMultisample(renderbuffer, samples, info->internalFormat, static_cast<GLsizei>(width),
                                          static_cast<GLsizei>(height));
    if (TakeGlErrors()) {  // out of memory
        glDeleteRenderbuffers(1, &renderbuffer);
        CountGlObjects(-1);
        return nullptr;
    }
    D3DSURFACE_DESC desc{format, D3DRTYPE_SURFACE, usage, D3DPOOL_DEFAULT, multiSample, 0, width, height};
    return new Surface(this, owner, desc, renderbuffer);
}

HRESULT Device::CreateRenderTarget(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample, DWORD,
                                   BOOL, IDirect3DSurface9** surface, HANDLE*) {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = CreateRenderbufferSurface(width, height, format, multiSample, D3DUSAGE_RENDERTARGET, nullptr);
    return *surface ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT Device::CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                          DWORD, BOOL, IDirect3DSurface9** surface, HANDLE*) {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = CreateRenderbufferSurface(width, height, format, multiSample, D3DUSAGE_DEPTHSTENCIL, nullptr);
    return *surface ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT Device::CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                            IDirect3DSurface9** surface, HANDLE*) {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    const FormatInfo* info = FindFormat(format);
    if (!info || info->depth || width == 0 || height == 0 || width > 16384 || height > 16384)
        return D3DERR_INVALIDCALL;
    if (pool == D3DPOOL_MANAGED) return D3DERR_INVALIDCALL;
    D3DSURFACE_DESC desc{format, D3DRTYPE_SURFACE, 0, pool, D3DMULTISAMPLE_NONE, 0, width, height};
    *surface = new Surface(this, desc);
    return D3D_OK;
}

HRESULT Device::CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements, IDirect3DVertexDeclaration9** decl) {
    if (!elements || !decl) return D3DERR_INVALIDCALL;
    *decl = nullptr;
    std::vector<D3DVERTEXELEMENT9> copy;
    std::vector<VertexDeclaration::Attribute> attributes;
    if (!VertexDeclaration::Translate(elements, &copy, &attributes)) return D3DERR_INVALIDCALL;
    *decl = new VertexDeclaration(this, std::move(copy), std::move(attributes));
    return D3D_OK;
}

namespace {

// Validates a program blob and returns its GLSL text (and the source's name), or null.
const char* BlobText(const DWORD* function, ShaderStage stage, UINT limit, UINT* constantRegisters,
                     std::string* name) {
    if (!function) return nullptr;
    ShaderBlobHeader header;
    std::memcpy(&header, function, sizeof(header));
    if (header.constantRegisters > limit) return nullptr;
    *constantRegisters = header.constantRegisters;
    if (header.magic != kShaderBlobMagic || header.stage != static_cast<uint32_t>(stage)) return nullptr;
    if (header.totalBytes > kMaxShaderBlobBytes || header.glslBytes >= kMaxShaderBlobBytes ||
        header.nameBytes >= kMaxShaderBlobBytes ||
        sizeof(header) + header.glslBytes + 1 + header.nameBytes + 1 != header.totalBytes)
        return nullptr;
    const char* text = reinterpret_cast<const char*>(function) + sizeof(header);
    const char* nameText = text + header.glslBytes + 1;
    if (text[header.glslBytes] != '\0' || nameText[header.nameBytes] != '\0') return nullptr;
    name->assign(nameText, header.nameBytes);
    return text;
}

}  // namespace

HRESULT Device::CreateVertexShader(const DWORD* function, IDirect3DVertexShader9** shader) {
    if (!shader) return D3DERR_INVALIDCALL;
    *shader = nullptr;
    UINT registers = 0;
    std::string name;
    const char* text = BlobText(function, ShaderStage::Vertex, kVertexConstantRegisters, &registers, &name);
    if (!text) return D3DERR_INVALIDCALL;
    // Every vertex program ends with the half-pixel shift of Direct3D 9's pixel centres.
    std::string source = text;
    size_t entry = source.find("void main()");
    if (entry == std::string::npos) return D3DERR_INVALIDCALL;
    source.replace(entry, 11, "void lumaretMain()");
    size_t afterVersion = source.find('\n') + 1;
    source.insert(afterVersion, kInternalUniformsGlsl);
    source += "void main() {\n    lumaretMain();\n    gl_Position.xy += lumaretPixelOffset.xy * gl_Position.w;\n}\n";
    MakeCurrent();
    std::string log;
    GLuint program = LinkProgram(GL_VERTEX_SHADER, source, &log);
    if (!program) {
        std::fprintf(stderr, "CreateVertexShader: %s\n", log.c_str());
        return D3DERR_INVALIDCALL;
    }
    if (!name.empty()) LabelGlObject(GL_PROGRAM, program, name + " (vertex)");
    *shader = new VertexShader(this, program, registers);
    return D3D_OK;
}

HRESULT Device::CreatePixelShader(const DWORD* function, IDirect3DPixelShader9** shader) {
    if (!shader) return D3DERR_INVALIDCALL;
    *shader = nullptr;
    UINT registers = 0;
    std::string name;
    const char* text = BlobText(function, ShaderStage::Pixel, kPixelConstantRegisters, &registers, &name);
    if (!text) return D3DERR_INVALIDCALL;
    MakeCurrent();
    std::string log;
    GLuint program = LinkProgram(GL_FRAGMENT_SHADER, text, &log);
    if (!program) {
        std::fprintf(stderr, "CreatePixelShader: %s\n", log.c_str());
        return D3DERR_INVALIDCALL;
    }
    if (!name.empty()) LabelGlObject(GL_PROGRAM, program, name + " (pixel)");
    *shader = new PixelShader(this, program, registers);
    return D3D_OK;
}

HRESULT Device::CreateQuery(D3DQUERYTYPE type, IDirect3DQuery9** query) {
    switch (type) {
    case D3DQUERYTYPE_OCCLUSION:
    case D3DQUERYTYPE_EVENT:
    case D3DQUERYTYPE_TIMESTAMP:
    case D3DQUERYTYPE_TIMESTAMPDISJOINT:
    case D3DQUERYTYPE_TIMESTAMPFREQ: break;
    default: return D3DERR_NOTAVAILABLE;
    }
    // A null out-pointer asks only whether the type is supported.
    if (!query) return D3D_OK;
    *query = new Query(this, type);
    return D3D_OK;
}

// ---------------------------------------------------------------------------------------
// Scenes

HRESULT Device::BeginScene() {
    if (state_.inScene) return D3DERR_INVALIDCALL;
    state_.inScene = true;
    return D3D_OK;
}

HRESULT Device::EndScene() {
    if (!state_.inScene) return D3DERR_INVALIDCALL;
    state_.inScene = false;
    return D3D_OK;
}

}  // namespace lumaret::platform
