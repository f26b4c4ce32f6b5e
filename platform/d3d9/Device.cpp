#include "d3d9/Device.h"

#include "d3d9/GlObjectCount.h"

#include "d3d9/Direct3D9.h"
#include "d3d9/GlDebug.h"
#include "d3d9/ShaderBlob.h"
#include "win32/WindowSystem.h"

#include <SDL.h>
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace lumaret::platform {
namespace {

// Direct3D 9 puts pixel centres on integer window coordinates, GL on half-integers, so
// geometry moves right and down by just under half a pixel (63/128, as wined3d does):
// a whole half pixel would put edges exactly on pixel centres, where GL's tie-breaking
// differs from Direct3D's top-left rule; 1/128 survives llvmpipe's 1/256 snapping.
constexpr float kPixelCentreShift = 63.0f / 128.0f;

// The internal uniform block every generated or compiled vertex stage can read.
// pixelOffset: clip-space shift of half a pixel, so that D3D9's integer pixel centres land
// on GL's half-integer ones; targetScale: 2 / target size for pretransformed vertices;
// flags.x: stage 0 holds a 2D texture (fixed-function pixel stage).
const char* const kInternalBlock =
    "layout(std140, binding = 2) uniform LumaretInternal {\n"
    "    vec4 lumaretPixelOffset;\n"
    "    vec4 lumaretTargetScale;\n"
    "    vec4 lumaretFlags;\n"
    "};\n";

float FloatBits(DWORD value) {
    float f;
    std::memcpy(&f, &value, sizeof(f));
    return f;
}

DWORD BitsOf(float value) {
    DWORD bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

void ColorToFloats(D3DCOLOR color, float out[4]) {
    out[0] = ((color >> 16) & 0xFF) / 255.0f;
    out[1] = ((color >> 8) & 0xFF) / 255.0f;
    out[2] = (color & 0xFF) / 255.0f;
    out[3] = ((color >> 24) & 0xFF) / 255.0f;
}

GLenum CompareFunction(DWORD value) {
    switch (value) {
    case D3DCMP_NEVER: return GL_NEVER;
    case D3DCMP_LESS: return GL_LESS;
    case D3DCMP_EQUAL: return GL_EQUAL;
    case D3DCMP_LESSEQUAL: return GL_LEQUAL;
    case D3DCMP_GREATER: return GL_GREATER;
    case D3DCMP_NOTEQUAL: return GL_NOTEQUAL;
    case D3DCMP_GREATEREQUAL: return GL_GEQUAL;
    default: return GL_ALWAYS;
    }
}

GLenum StencilOperation(DWORD value) {
    switch (value) {
    case D3DSTENCILOP_ZERO: return GL_ZERO;
    case D3DSTENCILOP_REPLACE: return GL_REPLACE;
    case D3DSTENCILOP_INCRSAT: return GL_INCR;
    case D3DSTENCILOP_DECRSAT: return GL_DECR;
    case D3DSTENCILOP_INVERT: return GL_INVERT;
    case D3DSTENCILOP_INCR: return GL_INCR_WRAP;
    case D3DSTENCILOP_DECR: return GL_DECR_WRAP;
    default: return GL_KEEP;
    }
}

GLenum BlendFactor(DWORD value) {
    switch (value) {
    case D3DBLEND_ZERO: return GL_ZERO;
    case D3DBLEND_ONE: return GL_ONE;
    case D3DBLEND_SRCCOLOR: return GL_SRC_COLOR;
    case D3DBLEND_INVSRCCOLOR: return GL_ONE_MINUS_SRC_COLOR;
    case D3DBLEND_SRCALPHA: return GL_SRC_ALPHA;
    case D3DBLEND_INVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
    case D3DBLEND_DESTALPHA: return GL_DST_ALPHA;
    case D3DBLEND_INVDESTALPHA: return GL_ONE_MINUS_DST_ALPHA;
    case D3DBLEND_DESTCOLOR: return GL_DST_COLOR;
    case D3DBLEND_INVDESTCOLOR: return GL_ONE_MINUS_DST_COLOR;
    case D3DBLEND_SRCALPHASAT: return GL_SRC_ALPHA_SATURATE;
    case D3DBLEND_BLENDFACTOR: return GL_CONSTANT_COLOR;
    case D3DBLEND_INVBLENDFACTOR: return GL_ONE_MINUS_CONSTANT_COLOR;
    default: return GL_ONE;
    }
}

// BOTHSRCALPHA and BOTHINVSRCALPHA set the destination factor too.
void BlendFactors(DWORD source, DWORD destination, GLenum* glSource, GLenum* glDestination) {
    if (source == D3DBLEND_BOTHSRCALPHA) {
        *glSource = GL_SRC_ALPHA;
        *glDestination = GL_ONE_MINUS_SRC_ALPHA;
    } else if (source == D3DBLEND_BOTHINVSRCALPHA) {
        *glSource = GL_ONE_MINUS_SRC_ALPHA;
        *glDestination = GL_SRC_ALPHA;
    } else {
        *glSource = BlendFactor(source);
        *glDestination = BlendFactor(destination);
    }
}

GLenum BlendEquation(DWORD value) {
    switch (value) {
    case D3DBLENDOP_SUBTRACT: return GL_FUNC_SUBTRACT;
    case D3DBLENDOP_REVSUBTRACT: return GL_FUNC_REVERSE_SUBTRACT;
    case D3DBLENDOP_MIN: return GL_MIN;
    case D3DBLENDOP_MAX: return GL_MAX;
    default: return GL_FUNC_ADD;
    }
}

GLenum AddressMode(DWORD value) {
    switch (value) {
    case D3DTADDRESS_MIRROR: return GL_MIRRORED_REPEAT;
    case D3DTADDRESS_CLAMP: return GL_CLAMP_TO_EDGE;
    case D3DTADDRESS_BORDER: return GL_CLAMP_TO_BORDER;
    case D3DTADDRESS_MIRRORONCE: return GL_MIRROR_CLAMP_TO_EDGE;
    default: return GL_REPEAT;
    }
}

// Hands out a bound object the way Direct3D 9's getters do: with a reference added.
template <class Interface, class Bound>
HRESULT ReturnBound(Bound* bound, Interface** out) {
    if (!out) return D3DERR_INVALIDCALL;
    *out = bound;
    if (bound) bound->AddRef();
    return D3D_OK;
}

// Whether a caller's float4 registers lie inside a register file of the given size.
bool ValidRegisters(const float* data, UINT start, UINT count, UINT registers) {
    return data && start <= registers && count <= registers - start;
}

// GL errors raised while the layer carried out a call become the call's result; the debug
// output, where it is on, has already named the failing GL call on stderr.
HRESULT GlResult(HRESULT result = D3D_OK) {
    bool failed = false;
    while (glGetError() != GL_NO_ERROR) failed = true;
    return failed && SUCCEEDED(result) ? D3DERR_DRIVERINTERNALERROR : result;
}

// What one draw from user memory may hand over: as much as the largest buffer the layer
// creates.
constexpr uint64_t kMaxUserMemoryBytes = 1ull << 30;

// Whether bytes [offset, offset + (first + count) * stride) lie within limit. Every draw
// checks its vertices and indices with it; no input of 32 bits can overflow it.
bool RangeWithin(uint64_t offset, uint64_t first, uint64_t count, uint64_t stride, uint64_t limit) {
    if (offset > limit) return false;
    if (stride == 0) return true;
    return first + count <= (limit - offset) / stride;
}

bool Topology(D3DPRIMITIVETYPE type, UINT primitives, GLenum* mode, GLsizei* vertices) {
    uint64_t count;
    switch (type) {
    case D3DPT_POINTLIST: *mode = GL_POINTS; count = primitives; break;
    case D3DPT_LINELIST: *mode = GL_LINES; count = 2ull * primitives; break;
    case D3DPT_LINESTRIP: *mode = GL_LINE_STRIP; count = primitives + 1ull; break;
    case D3DPT_TRIANGLELIST: *mode = GL_TRIANGLES; count = 3ull * primitives; break;
    case D3DPT_TRIANGLESTRIP: *mode = GL_TRIANGLE_STRIP; count = primitives + 2ull; break;
    case D3DPT_TRIANGLEFAN: *mode = GL_TRIANGLE_FAN; count = primitives + 2ull; break;
    default: return false;
    }
    if (primitives == 0) count = 0;
    if (count > 0x7FFFFFFF) return false;
    *vertices = static_cast<GLsizei>(count);
    return true;
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

GLuint LinkProgram(GLenum stage, const std::string& source, std::string* log) {
    const char* text = source.c_str();
    GLuint program = glCreateShaderProgramv(stage, 1, &text);
    GLint linked = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (linked) return program;
    GLint length = 0;
    glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
    std::string message(static_cast<size_t>(std::max(length, 1)), '\0');
    glGetProgramInfoLog(program, length, nullptr, message.data());
    if (log) *log = message;
    glDeleteProgram(program);
    return 0;
}

// Mesa's software rasteriser allocates and frees large blocks around every state change
// between draws. With glibc's defaults those blocks are mapped fresh and the heap is
// trimmed each time, so every draw after a state change paid for page faults (about
// 130 us per draw instead of 8). Larger thresholds keep the memory in the heap.
void KeepLargeAllocations() {
    static bool done = false;
    if (done) return;
    done = true;
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
}

}  // namespace

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
    KeepLargeAllocations();
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
    depthBiasUnits_.Measure();
    glCreateProgramPipelines(1, &pipeline_);
    glBindProgramPipeline(pipeline_);
    stream_.Create(8 << 20);
    glGetIntegerv(GL_UNIFORM_BUFFER_OFFSET_ALIGNMENT, &uniformAlignment_);
    glCreateBuffers(1, &internalBuffer_);
    glNamedBufferData(internalBuffer_, sizeof(internalData_), internalData_, GL_DYNAMIC_DRAW);
    glBindBufferBase(GL_UNIFORM_BUFFER, kInternalBinding, internalBuffer_);
    glCreateVertexArrays(1, &emptyVertexArray_);
    glEnable(GL_TEXTURE_CUBE_MAP_SEAMLESS);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);

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
    if (parameters_.EnableAutoDepthStencil) {
        autoDepthStencil_ = CreateRenderbufferSurface(width, height, parameters_.AutoDepthStencilFormat,
                                                      parameters_.MultiSampleType, D3DUSAGE_DEPTHSTENCIL, this);
        if (!autoDepthStencil_) {
            *error = "depth-stencil format not supported";
            return false;
        }
    }

    // Direct3D 9's initial device state.
    renderStates_[D3DRS_ZENABLE] = parameters_.EnableAutoDepthStencil ? D3DZB_TRUE : D3DZB_FALSE;
    renderStates_[D3DRS_FILLMODE] = D3DFILL_SOLID;
    renderStates_[D3DRS_SHADEMODE] = 2;
    renderStates_[D3DRS_ZWRITEENABLE] = TRUE;
    renderStates_[D3DRS_LASTPIXEL] = TRUE;
    renderStates_[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    renderStates_[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    renderStates_[D3DRS_CULLMODE] = D3DCULL_CCW;
    renderStates_[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    renderStates_[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
    renderStates_[D3DRS_STENCILFAIL] = D3DSTENCILOP_KEEP;
    renderStates_[D3DRS_STENCILZFAIL] = D3DSTENCILOP_KEEP;
    renderStates_[D3DRS_STENCILPASS] = D3DSTENCILOP_KEEP;
    renderStates_[D3DRS_STENCILFUNC] = D3DCMP_ALWAYS;
    renderStates_[D3DRS_STENCILMASK] = 0xFFFFFFFF;
    renderStates_[D3DRS_STENCILWRITEMASK] = 0xFFFFFFFF;
    renderStates_[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
    renderStates_[D3DRS_CLIPPING] = TRUE;
    renderStates_[D3DRS_LIGHTING] = TRUE;
    renderStates_[D3DRS_COLORVERTEX] = TRUE;
    renderStates_[D3DRS_LOCALVIEWER] = TRUE;
    renderStates_[D3DRS_POINTSIZE] = BitsOf(1.0f);
    renderStates_[D3DRS_POINTSIZE_MAX] = BitsOf(64.0f);
    renderStates_[D3DRS_MULTISAMPLEANTIALIAS] = TRUE;
    renderStates_[D3DRS_MULTISAMPLEMASK] = 0xFFFFFFFF;
    renderStates_[D3DRS_COLORWRITEENABLE] = 0xF;
    renderStates_[D3DRS_COLORWRITEENABLE1] = 0xF;
    renderStates_[D3DRS_COLORWRITEENABLE2] = 0xF;
    renderStates_[D3DRS_COLORWRITEENABLE3] = 0xF;
    renderStates_[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
    renderStates_[D3DRS_CCW_STENCILFAIL] = D3DSTENCILOP_KEEP;
    renderStates_[D3DRS_CCW_STENCILZFAIL] = D3DSTENCILOP_KEEP;
    renderStates_[D3DRS_CCW_STENCILPASS] = D3DSTENCILOP_KEEP;
    renderStates_[D3DRS_CCW_STENCILFUNC] = D3DCMP_ALWAYS;
    renderStates_[D3DRS_BLENDFACTOR] = 0xFFFFFFFF;
    renderStates_[D3DRS_SRCBLENDALPHA] = D3DBLEND_ONE;
    renderStates_[D3DRS_DESTBLENDALPHA] = D3DBLEND_ZERO;
    renderStates_[D3DRS_BLENDOPALPHA] = D3DBLENDOP_ADD;
    for (auto& sampler : samplerStates_) {
        sampler[D3DSAMP_ADDRESSU] = sampler[D3DSAMP_ADDRESSV] = sampler[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
        sampler[D3DSAMP_MAGFILTER] = sampler[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
        sampler[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
        sampler[D3DSAMP_MAXANISOTROPY] = 1;
    }
    renderTargets_[0] = backBuffer_;
    depthStencil_ = autoDepthStencil_;
    viewport_ = D3DVIEWPORT9{0, 0, width, height, 0.0f, 1.0f};
    scissorRect_ = RECT{0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};

    std::string log;
    std::string pixelSource = std::string("#version 450\n") + kInternalBlock +
                              "layout(location = 0) in vec4 texcoord0;\n"
                              "layout(location = 10) in vec4 color0;\n"
                              "layout(binding = 0) uniform sampler2D stage0;\n"
                              "layout(location = 0) out vec4 result;\n"
                              "void main() {\n"
                              "    vec4 c = color0;\n"
                              "    if (lumaretFlags.x > 0.5) c *= texture(stage0, texcoord0.xy);\n"
                              "    result = c;\n"
                              "}\n";
    fixedFunctionPixelProgram_ = LinkProgram(GL_FRAGMENT_SHADER, pixelSource, &log);
    if (!fixedFunctionPixelProgram_) {
        *error = "fixed-function pixel stage: " + log;
        return false;
    }
    context_->SetSwapInterval(parameters_.PresentationInterval == D3DPRESENT_INTERVAL_IMMEDIATE ? 0 : 1);
    dirty_ = DirtyAll;
    return true;
}

Device::~Device() {
    MakeCurrent();
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

void Device::Forget(IUnknown* resource) {
    for (UINT i = 0; i < kSamplerStages; ++i)
        if (textures_[i] == resource) {
            textures_[i] = nullptr;
            samplerDirty_ |= 1u << i;
        }
    for (UINT i = 1; i < kMaxRenderTargets; ++i)
        if (renderTargets_[i] == resource) {
            renderTargets_[i] = nullptr;
            dirty_ |= DirtyFramebuffer;
        }
    if (renderTargets_[0] == resource) {
        // Target 0 may not be empty: fall back to the back buffer.
        renderTargets_[0] = backBuffer_;
        dirty_ |= DirtyFramebuffer;
    }
    if (depthStencil_ == resource) {
        depthStencil_ = nullptr;
        dirty_ |= DirtyFramebuffer | DirtyRaster;
    }
    if (declaration_ == resource) declaration_ = nullptr;
    for (auto& stream : streams_)
        if (stream.buffer == resource) stream = Stream{};
    if (indices_ == resource) indices_ = nullptr;
    if (vertexShader_ == resource) vertexShader_ = nullptr;
    if (pixelShader_ == resource) pixelShader_ = nullptr;
    dirty_ |= DirtyVertexInput | DirtyPrograms;
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
    *vertexBuffer = new VertexBuffer(this, length, usage, fvf, pool);
    return D3D_OK;
}

HRESULT Device::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DIndexBuffer9** indexBuffer, HANDLE*) {
    if (!indexBuffer) return D3DERR_INVALIDCALL;
    *indexBuffer = nullptr;
    if (length == 0 || (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32)) return D3DERR_INVALIDCALL;
    if (length > (1u << 30)) return D3DERR_OUTOFVIDEOMEMORY;
    *indexBuffer = new IndexBuffer(this, length, usage, format, pool);
    return D3D_OK;
}

Surface* Device::CreateRenderbufferSurface(UINT width, UINT height, D3DFORMAT format,
                                           D3DMULTISAMPLE_TYPE multiSample, DWORD usage, IUnknown* owner) {
    const FormatInfo* info = FindFormat(format);
    bool depth = usage == D3DUSAGE_DEPTHSTENCIL;
    if (!info || (depth ? !info->depth : !info->renderTarget) || width == 0 || height == 0 || width > 16384 ||
        height > 16384)
        return nullptr;
    GLsizei samples = multiSample >= D3DMULTISAMPLE_2_SAMPLES ? static_cast<GLsizei>(multiSample) : 0;
    if (samples > maxSamples_) return nullptr;
    MakeCurrent();
    GLuint renderbuffer = 0;
    glCreateRenderbuffers(1, &renderbuffer);
    CountGlObjects(1);
    glNamedRenderbufferStorageMultisample(renderbuffer, samples, info->internalFormat, static_cast<GLsizei>(width),
                                          static_cast<GLsizei>(height));
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

// Validates a program blob and returns its GLSL text, or null.
const char* BlobText(const DWORD* function, ShaderStage stage, UINT limit, UINT* constantRegisters) {
    if (!function) return nullptr;
    ShaderBlobHeader header;
    std::memcpy(&header, function, sizeof(header));
    if (header.constantRegisters > limit) return nullptr;
    *constantRegisters = header.constantRegisters;
    if (header.magic != kShaderBlobMagic || header.stage != static_cast<uint32_t>(stage)) return nullptr;
    if (header.totalBytes > kMaxShaderBlobBytes || header.glslBytes + sizeof(header) + 1 != header.totalBytes)
        return nullptr;
    const char* text = reinterpret_cast<const char*>(function) + sizeof(header);
    return text[header.glslBytes] == '\0' ? text : nullptr;
}

}  // namespace

HRESULT Device::CreateVertexShader(const DWORD* function, IDirect3DVertexShader9** shader) {
    if (!shader) return D3DERR_INVALIDCALL;
    *shader = nullptr;
    UINT registers = 0;
    const char* text = BlobText(function, ShaderStage::Vertex, kVertexConstantRegisters, &registers);
    if (!text) return D3DERR_INVALIDCALL;
    // Every vertex program ends with the half-pixel shift of Direct3D 9's pixel centres.
    std::string source = text;
    size_t entry = source.find("void main()");
    if (entry == std::string::npos) return D3DERR_INVALIDCALL;
    source.replace(entry, 11, "void lumaretMain()");
    size_t afterVersion = source.find('\n') + 1;
    source.insert(afterVersion, kInternalBlock);
    source += "void main() {\n    lumaretMain();\n    gl_Position.xy += lumaretPixelOffset.xy * gl_Position.w;\n}\n";
    MakeCurrent();
    std::string log;
    GLuint program = LinkProgram(GL_VERTEX_SHADER, source, &log);
    if (!program) {
        std::fprintf(stderr, "CreateVertexShader: %s\n", log.c_str());
        return D3DERR_INVALIDCALL;
    }
    *shader = new VertexShader(this, program, registers);
    return D3D_OK;
}

HRESULT Device::CreatePixelShader(const DWORD* function, IDirect3DPixelShader9** shader) {
    if (!shader) return D3DERR_INVALIDCALL;
    *shader = nullptr;
    UINT registers = 0;
    const char* text = BlobText(function, ShaderStage::Pixel, kPixelConstantRegisters, &registers);
    if (!text) return D3DERR_INVALIDCALL;
    MakeCurrent();
    std::string log;
    GLuint program = LinkProgram(GL_FRAGMENT_SHADER, text, &log);
    if (!program) {
        std::fprintf(stderr, "CreatePixelShader: %s\n", log.c_str());
        return D3DERR_INVALIDCALL;
    }
    *shader = new PixelShader(this, program, registers);
    return D3D_OK;
}

HRESULT Device::CreateQuery(D3DQUERYTYPE type, IDirect3DQuery9** query) {
    if (type != D3DQUERYTYPE_OCCLUSION && type != D3DQUERYTYPE_EVENT) return D3DERR_NOTAVAILABLE;
    // A null out-pointer asks only whether the type is supported.
    if (!query) return D3D_OK;
    *query = new Query(this, type);
    return D3D_OK;
}

// ---------------------------------------------------------------------------------------
// Targets

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
    renderTargets_[index] = surface;
    if (index == 0) {
        // As in Direct3D 9, a new target 0 resets the viewport and scissor rectangle to it.
        viewport_ = D3DVIEWPORT9{0, 0, surface->desc().Width, surface->desc().Height, 0.0f, 1.0f};
        scissorRect_ = RECT{0, 0, static_cast<LONG>(surface->desc().Width), static_cast<LONG>(surface->desc().Height)};
        dirty_ |= DirtyViewport | DirtyScissor;
    }
    dirty_ |= DirtyFramebuffer;
    return D3D_OK;
}

HRESULT Device::GetRenderTarget(DWORD index, IDirect3DSurface9** renderTarget) {
    if (!renderTarget || index >= kMaxRenderTargets) return D3DERR_INVALIDCALL;
    *renderTarget = renderTargets_[index];
    if (!*renderTarget) return D3DERR_NOTFOUND;
    renderTargets_[index]->AddRef();
    return D3D_OK;
}

HRESULT Device::SetDepthStencilSurface(IDirect3DSurface9* surface) {
    if (surface && !IsDepthTarget(surface)) return D3DERR_INVALIDCALL;
    depthStencil_ = static_cast<Surface*>(surface);
    dirty_ |= DirtyFramebuffer | DirtyRaster;  // the bias unit follows the depth format
    return D3D_OK;
}

HRESULT Device::GetDepthStencilSurface(IDirect3DSurface9** surface) {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = depthStencil_;
    if (!depthStencil_) return D3DERR_NOTFOUND;
    depthStencil_->AddRef();
    return D3D_OK;
}

void Device::ApplyFramebuffer() {
    GLenum drawBuffers[kMaxRenderTargets];
    for (UINT i = 0; i < kMaxRenderTargets; ++i) {
        GLenum attachment = GL_COLOR_ATTACHMENT0 + i;
        if (renderTargets_[i]) {
            renderTargets_[i]->Attach(framebuffer_, attachment);
            drawBuffers[i] = attachment;
        } else {
            glNamedFramebufferTexture(framebuffer_, attachment, 0, 0);
            drawBuffers[i] = GL_NONE;
        }
    }
    glNamedFramebufferTexture(framebuffer_, GL_DEPTH_ATTACHMENT, 0, 0);
    glNamedFramebufferTexture(framebuffer_, GL_STENCIL_ATTACHMENT, 0, 0);
    if (depthStencil_)
        depthStencil_->Attach(framebuffer_, depthStencil_->format().stencil ? GL_DEPTH_STENCIL_ATTACHMENT
                                                                             : GL_DEPTH_ATTACHMENT);
    glNamedFramebufferDrawBuffers(framebuffer_, kMaxRenderTargets, drawBuffers);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffer_);
    framebufferComplete_ = glCheckNamedFramebufferStatus(framebuffer_, GL_DRAW_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (!framebufferComplete_) std::fprintf(stderr, "Direct3D 9 layer: render target and depth buffer do not match\n");
}

// ---------------------------------------------------------------------------------------
// Scene, clear, present

HRESULT Device::BeginScene() {
    if (inScene_) return D3DERR_INVALIDCALL;
    inScene_ = true;
    return D3D_OK;
}

HRESULT Device::EndScene() {
    if (!inScene_) return D3DERR_INVALIDCALL;
    inScene_ = false;
    return D3D_OK;
}

HRESULT Device::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) {
    if (count > 0 && !rects) return D3DERR_INVALIDCALL;
    if ((flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) && !depthStencil_) return D3DERR_INVALIDCALL;
    if ((flags & D3DCLEAR_STENCIL) && !depthStencil_->format().stencil) return D3DERR_INVALIDCALL;
    // Direct3D 9 clears the viewport, narrowed by the scissor rectangle when that test is on.
    RECT area{static_cast<LONG>(viewport_.X), static_cast<LONG>(viewport_.Y),
              static_cast<LONG>(viewport_.X + viewport_.Width), static_cast<LONG>(viewport_.Y + viewport_.Height)};
    if (renderStates_[D3DRS_SCISSORTESTENABLE]) {
        area.left = std::max(area.left, scissorRect_.left);
        area.top = std::max(area.top, scissorRect_.top);
        area.right = std::min(area.right, scissorRect_.right);
        area.bottom = std::min(area.bottom, scissorRect_.bottom);
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
    if (dirty_ & DirtyFramebuffer) {
        ApplyFramebuffer();
        dirty_ &= ~DirtyFramebuffer;
    }
    if (!framebufferComplete_) return D3DERR_INVALIDCALL;
    glEnable(GL_SCISSOR_TEST);
    glScissor(area.left, area.top, area.right - area.left, area.bottom - area.top);
    glDisable(GL_FRAMEBUFFER_SRGB);
    if (flags & D3DCLEAR_TARGET) {
        float value[4];
        ColorToFloats(color, value);
        for (UINT i = 0; i < kMaxRenderTargets; ++i) {
            if (!renderTargets_[i]) continue;
            glColorMaski(i, GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
            glClearNamedFramebufferfv(framebuffer_, GL_COLOR, static_cast<GLint>(i), value);
        }
    }
    bool depth = (flags & D3DCLEAR_ZBUFFER) != 0, clearStencil = (flags & D3DCLEAR_STENCIL) != 0;
    if (depth) glDepthMask(GL_TRUE);
    if (clearStencil) glStencilMask(0xFF);
    float clampedZ = std::clamp(z, 0.0f, 1.0f);
    if (depth && clearStencil)
        glClearNamedFramebufferfi(framebuffer_, GL_DEPTH_STENCIL, 0, clampedZ, static_cast<GLint>(stencil & 0xFF));
    else if (depth)
        glClearNamedFramebufferfv(framebuffer_, GL_DEPTH, 0, &clampedZ);
    else if (clearStencil) {
        GLint value = static_cast<GLint>(stencil & 0xFF);
        glClearNamedFramebufferiv(framebuffer_, GL_STENCIL, 0, &value);
    }
    dirty_ |= DirtyScissor | DirtyColorMask | DirtyDepthStencil | DirtySrgbWrite;
    return GlResult();
}

void Device::ResolveBackBuffer() {
    MakeCurrent();
    UINT w = parameters_.BackBufferWidth, h = parameters_.BackBufferHeight;
    glNamedFramebufferRenderbuffer(readFramebuffer_, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, backBuffer_->glRenderbuffer());
    glNamedFramebufferReadBuffer(readFramebuffer_, GL_COLOR_ATTACHMENT0);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_FRAMEBUFFER_SRGB);
    glBlitNamedFramebuffer(readFramebuffer_, resolveFramebuffer_, 0, 0, static_cast<GLint>(w), static_cast<GLint>(h), 0,
                           0, static_cast<GLint>(w), static_cast<GLint>(h), GL_COLOR_BUFFER_BIT, GL_NEAREST);
    dirty_ |= DirtyScissor | DirtySrgbWrite;
}

HRESULT Device::Present(const RECT*, const RECT*, HWND, const void*) {
    if (inScene_) return D3DERR_INVALIDCALL;
    ResolveBackBuffer();
    // A window destroyed from outside shows nothing; the program hears of it as WM_CLOSE.
    if (context_->HasWindow() && SdlWindowLost(sdlWindow_)) return D3D_OK;
    if (context_->HasWindow()) {
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
            dirty_ |= DirtyColorMask;
        }
        // The window's framebuffer counts rows from the bottom; ours from the top.
        glBlitNamedFramebuffer(resolveFramebuffer_, 0, 0, 0, w, h, left, bottom + shownHeight, left + shownWidth,
                               bottom, GL_COLOR_BUFFER_BIT, scaled ? GL_LINEAR : GL_NEAREST);
        context_->SwapBuffers();
    } else {
        SaveHeadlessScreenshots();
    }
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
        dirty_ |= DirtyScissor;
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
    dirty_ |= DirtyScissor | DirtySrgbWrite;
    return GlResult();
}

// ---------------------------------------------------------------------------------------
// State

HRESULT Device::SetViewport(const D3DVIEWPORT9* viewport) {
    if (!viewport) return D3DERR_INVALIDCALL;
    viewport_ = *viewport;
    dirty_ |= DirtyViewport;
    return D3D_OK;
}

HRESULT Device::GetViewport(D3DVIEWPORT9* viewport) {
    if (!viewport) return D3DERR_INVALIDCALL;
    *viewport = viewport_;
    return D3D_OK;
}

HRESULT Device::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    if (static_cast<UINT>(state) >= D3D_RENDERSTATE_COUNT) return D3DERR_INVALIDCALL;
    renderStates_[state] = value;
    switch (state) {
    case D3DRS_ZENABLE:
    case D3DRS_ZWRITEENABLE:
    case D3DRS_ZFUNC:
    case D3DRS_STENCILENABLE:
    case D3DRS_STENCILFAIL:
    case D3DRS_STENCILZFAIL:
    case D3DRS_STENCILPASS:
    case D3DRS_STENCILFUNC:
    case D3DRS_STENCILREF:
    case D3DRS_STENCILMASK:
    case D3DRS_STENCILWRITEMASK:
    case D3DRS_TWOSIDEDSTENCILMODE:
    case D3DRS_CCW_STENCILFAIL:
    case D3DRS_CCW_STENCILZFAIL:
    case D3DRS_CCW_STENCILPASS:
    case D3DRS_CCW_STENCILFUNC: dirty_ |= DirtyDepthStencil; break;
    case D3DRS_CULLMODE:
    case D3DRS_FILLMODE:
    case D3DRS_DEPTHBIAS:
    case D3DRS_SLOPESCALEDEPTHBIAS:
    case D3DRS_MULTISAMPLEANTIALIAS: dirty_ |= DirtyRaster; break;
    case D3DRS_ALPHABLENDENABLE:
    case D3DRS_SRCBLEND:
    case D3DRS_DESTBLEND:
    case D3DRS_BLENDOP:
    case D3DRS_SEPARATEALPHABLENDENABLE:
    case D3DRS_SRCBLENDALPHA:
    case D3DRS_DESTBLENDALPHA:
    case D3DRS_BLENDOPALPHA:
    case D3DRS_BLENDFACTOR: dirty_ |= DirtyBlend; break;
    case D3DRS_COLORWRITEENABLE:
    case D3DRS_COLORWRITEENABLE1:
    case D3DRS_COLORWRITEENABLE2:
    case D3DRS_COLORWRITEENABLE3: dirty_ |= DirtyColorMask; break;
    case D3DRS_SCISSORTESTENABLE: dirty_ |= DirtyScissor; break;
    case D3DRS_SRGBWRITEENABLE: dirty_ |= DirtySrgbWrite; break;
    default: break;  // recorded; states without a GL counterpart here have no effect
    }
    return D3D_OK;
}

HRESULT Device::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
    if (!value || static_cast<UINT>(state) >= D3D_RENDERSTATE_COUNT) return D3DERR_INVALIDCALL;
    *value = renderStates_[state];
    return D3D_OK;
}

HRESULT Device::SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) {
    if (stage >= kSamplerStages) return D3DERR_INVALIDCALL;
    textures_[stage] = texture;
    samplerDirty_ |= 1u << stage;
    return D3D_OK;
}

HRESULT Device::GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) {
    return stage < kSamplerStages ? ReturnBound(textures_[stage], texture) : D3DERR_INVALIDCALL;
}

HRESULT Device::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
    if (sampler >= kSamplerStages || type < D3DSAMP_ADDRESSU || type > D3DSAMP_DMAPOFFSET) return D3DERR_INVALIDCALL;
    samplerStates_[sampler][type] = value;
    samplerDirty_ |= 1u << sampler;
    return D3D_OK;
}

HRESULT Device::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) {
    if (!value || sampler >= kSamplerStages || type < D3DSAMP_ADDRESSU || type > D3DSAMP_DMAPOFFSET)
        return D3DERR_INVALIDCALL;
    *value = samplerStates_[sampler][type];
    return D3D_OK;
}

HRESULT Device::SetScissorRect(const RECT* rect) {
    if (!rect) return D3DERR_INVALIDCALL;
    scissorRect_ = *rect;
    dirty_ |= DirtyScissor;
    return D3D_OK;
}

HRESULT Device::GetScissorRect(RECT* rect) {
    if (!rect) return D3DERR_INVALIDCALL;
    *rect = scissorRect_;
    return D3D_OK;
}

HRESULT Device::SetVertexDeclaration(IDirect3DVertexDeclaration9* decl) {
    declaration_ = static_cast<VertexDeclaration*>(decl);
    dirty_ |= DirtyVertexInput | DirtyPrograms;
    return D3D_OK;
}

HRESULT Device::GetVertexDeclaration(IDirect3DVertexDeclaration9** decl) { return ReturnBound(declaration_, decl); }

HRESULT Device::SetVertexShader(IDirect3DVertexShader9* shader) {
    vertexShader_ = static_cast<VertexShader*>(shader);
    dirty_ |= DirtyPrograms;
    return D3D_OK;
}

HRESULT Device::GetVertexShader(IDirect3DVertexShader9** shader) { return ReturnBound(vertexShader_, shader); }

HRESULT Device::SetPixelShader(IDirect3DPixelShader9* shader) {
    pixelShader_ = static_cast<PixelShader*>(shader);
    dirty_ |= DirtyPrograms;
    return D3D_OK;
}

HRESULT Device::GetPixelShader(IDirect3DPixelShader9** shader) { return ReturnBound(pixelShader_, shader); }

HRESULT Device::SetVertexShaderConstantF(UINT start, const float* data, UINT count) {
    if (!ValidRegisters(data, start, count, kVertexConstantRegisters)) return D3DERR_INVALIDCALL;
    std::memcpy(vertexConstants_ + start * 4, data, count * 4 * sizeof(float));
    vertexConstantsDirty_ |= count > 0;
    return D3D_OK;
}

HRESULT Device::GetVertexShaderConstantF(UINT start, float* data, UINT count) {
    if (!ValidRegisters(data, start, count, kVertexConstantRegisters)) return D3DERR_INVALIDCALL;
    std::memcpy(data, vertexConstants_ + start * 4, count * 4 * sizeof(float));
    return D3D_OK;
}

HRESULT Device::SetPixelShaderConstantF(UINT start, const float* data, UINT count) {
    if (!ValidRegisters(data, start, count, kPixelConstantRegisters)) return D3DERR_INVALIDCALL;
    std::memcpy(pixelConstants_ + start * 4, data, count * 4 * sizeof(float));
    pixelConstantsDirty_ |= count > 0;
    return D3D_OK;
}

HRESULT Device::GetPixelShaderConstantF(UINT start, float* data, UINT count) {
    if (!ValidRegisters(data, start, count, kPixelConstantRegisters)) return D3DERR_INVALIDCALL;
    std::memcpy(data, pixelConstants_ + start * 4, count * 4 * sizeof(float));
    return D3D_OK;
}

HRESULT Device::SetStreamSource(UINT streamNumber, IDirect3DVertexBuffer9* streamData, UINT offset, UINT stride) {
    if (streamNumber >= kMaxStreams) return D3DERR_INVALIDCALL;
    streams_[streamNumber] = Stream{static_cast<VertexBuffer*>(streamData), offset, stride};
    dirty_ |= DirtyVertexInput;
    return D3D_OK;
}

HRESULT Device::GetStreamSource(UINT streamNumber, IDirect3DVertexBuffer9** streamData, UINT* offset, UINT* stride) {
    if (streamNumber >= kMaxStreams || !streamData || !offset || !stride) return D3DERR_INVALIDCALL;
    const Stream& stream = streams_[streamNumber];
    *streamData = stream.buffer;
    if (stream.buffer) stream.buffer->AddRef();
    *offset = stream.offset;
    *stride = stream.stride;
    return D3D_OK;
}

HRESULT Device::SetIndices(IDirect3DIndexBuffer9* indexData) {
    indices_ = static_cast<IndexBuffer*>(indexData);
    dirty_ |= DirtyVertexInput;
    return D3D_OK;
}

HRESULT Device::GetIndices(IDirect3DIndexBuffer9** indexData) { return ReturnBound(indices_, indexData); }

// ---------------------------------------------------------------------------------------
// Drawing

GLuint Device::SamplerObject(UINT stage) {
    const DWORD* s = samplerStates_[stage];
    auto key = std::make_tuple(s[D3DSAMP_ADDRESSU], s[D3DSAMP_ADDRESSV], s[D3DSAMP_ADDRESSW], s[D3DSAMP_BORDERCOLOR],
                               s[D3DSAMP_MAGFILTER], s[D3DSAMP_MINFILTER], s[D3DSAMP_MIPFILTER],
                               s[D3DSAMP_MIPMAPLODBIAS], s[D3DSAMP_MAXMIPLEVEL] | (s[D3DSAMP_MAXANISOTROPY] << 16),
                               s[D3DSAMP_SRGBTEXTURE]);
    auto found = samplerCache_.find(key);
    if (found != samplerCache_.end()) return found->second;
    GLuint sampler = 0;
    glCreateSamplers(1, &sampler);
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_S, static_cast<GLint>(AddressMode(s[D3DSAMP_ADDRESSU])));
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_T, static_cast<GLint>(AddressMode(s[D3DSAMP_ADDRESSV])));
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_R, static_cast<GLint>(AddressMode(s[D3DSAMP_ADDRESSW])));
    float border[4];
    ColorToFloats(s[D3DSAMP_BORDERCOLOR], border);
    glSamplerParameterfv(sampler, GL_TEXTURE_BORDER_COLOR, border);
    bool magLinear = s[D3DSAMP_MAGFILTER] >= D3DTEXF_LINEAR;
    bool minLinear = s[D3DSAMP_MINFILTER] >= D3DTEXF_LINEAR;
    glSamplerParameteri(sampler, GL_TEXTURE_MAG_FILTER, magLinear ? GL_LINEAR : GL_NEAREST);
    GLint minFilter;
    switch (s[D3DSAMP_MIPFILTER]) {
    case D3DTEXF_NONE: minFilter = minLinear ? GL_LINEAR : GL_NEAREST; break;
    case D3DTEXF_POINT: minFilter = minLinear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST; break;
    default: minFilter = minLinear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR; break;
    }
    glSamplerParameteri(sampler, GL_TEXTURE_MIN_FILTER, minFilter);
    glSamplerParameterf(sampler, GL_TEXTURE_LOD_BIAS, FloatBits(s[D3DSAMP_MIPMAPLODBIAS]));
    glSamplerParameterf(sampler, GL_TEXTURE_MIN_LOD, static_cast<float>(s[D3DSAMP_MAXMIPLEVEL]));
    bool anisotropic = s[D3DSAMP_MINFILTER] == D3DTEXF_ANISOTROPIC || s[D3DSAMP_MAGFILTER] == D3DTEXF_ANISOTROPIC;
    float anisotropy = anisotropic ? static_cast<float>(std::clamp<DWORD>(s[D3DSAMP_MAXANISOTROPY], 1, 16)) : 1.0f;
    glSamplerParameterf(sampler, GL_TEXTURE_MAX_ANISOTROPY_EXT, anisotropy);
    glSamplerParameteri(sampler, GL_TEXTURE_SRGB_DECODE_EXT, s[D3DSAMP_SRGBTEXTURE] ? GL_DECODE_EXT : GL_SKIP_DECODE_EXT);
    samplerCache_.emplace(key, sampler);
    return sampler;
}

void Device::ApplySamplers() {
    for (UINT stage = 0; stage < kSamplerStages; ++stage) {
        if (!(samplerDirty_ & (1u << stage))) continue;
        GLenum target = GL_TEXTURE_2D;
        GLuint texture = GlTextureOf(textures_[stage], &target);
        glBindTextureUnit(stage, texture);
        GLuint sampler = SamplerObject(stage);
        if (boundSamplers_[stage] != sampler) {
            glBindSampler(stage, sampler);
            boundSamplers_[stage] = sampler;
        }
        if (stage == 0) {
            float hasTexture = texture && target == GL_TEXTURE_2D ? 1.0f : 0.0f;
            if (internalData_[8] != hasTexture) {
                internalData_[8] = hasTexture;
                glNamedBufferSubData(internalBuffer_, 32, sizeof(float), &internalData_[8]);
            }
        }
    }
    samplerDirty_ = 0;
}

void Device::ApplyViewport(bool pretransformed) {
    const Surface* target = renderTargets_[0];
    float targetWidth = static_cast<float>(target->desc().Width);
    float targetHeight = static_cast<float>(target->desc().Height);
    float data[8];
    if (pretransformed) {
        // Pretransformed vertices are in target pixels whatever the viewport says.
        glViewport(0, 0, static_cast<GLsizei>(target->desc().Width), static_cast<GLsizei>(target->desc().Height));
        glDepthRangef(0.0f, 1.0f);
        data[0] = data[1] = 0.0f;
    } else {
        glViewport(static_cast<GLint>(viewport_.X), static_cast<GLint>(viewport_.Y),
                   static_cast<GLsizei>(viewport_.Width), static_cast<GLsizei>(viewport_.Height));
        glDepthRangef(viewport_.MinZ, viewport_.MaxZ);
        // Just under half a pixel right and down, in clip space (y runs up there).
        data[0] = viewport_.Width ? kPixelCentreShift * 2.0f / static_cast<float>(viewport_.Width) : 0.0f;
        data[1] = viewport_.Height ? -kPixelCentreShift * 2.0f / static_cast<float>(viewport_.Height) : 0.0f;
    }
    data[2] = data[3] = 0.0f;
    data[4] = 2.0f / targetWidth;
    data[5] = 2.0f / targetHeight;
    data[6] = data[7] = 0.0f;
    if (std::memcmp(data, internalData_, sizeof(data)) != 0) {
        std::memcpy(internalData_, data, sizeof(data));
        glNamedBufferSubData(internalBuffer_, 0, sizeof(data), internalData_);
    }
}

void Device::ApplyRenderStates() {
    const DWORD* rs = renderStates_;
    if (dirty_ & DirtyDepthStencil) {
        if (rs[D3DRS_ZENABLE] != D3DZB_FALSE) {
            glEnable(GL_DEPTH_TEST);
            glDepthFunc(CompareFunction(rs[D3DRS_ZFUNC]));
        } else {
            glDisable(GL_DEPTH_TEST);
        }
        glDepthMask(rs[D3DRS_ZWRITEENABLE] ? GL_TRUE : GL_FALSE);
        if (rs[D3DRS_STENCILENABLE]) {
            glEnable(GL_STENCIL_TEST);
            GLint ref = static_cast<GLint>(rs[D3DRS_STENCILREF] & 0xFF);
            GLuint mask = rs[D3DRS_STENCILMASK];
            // Direct3D 9's front faces are the clockwise ones; they use the plain stencil states.
            glStencilFuncSeparate(GL_FRONT, CompareFunction(rs[D3DRS_STENCILFUNC]), ref, mask);
            glStencilOpSeparate(GL_FRONT, StencilOperation(rs[D3DRS_STENCILFAIL]),
                                StencilOperation(rs[D3DRS_STENCILZFAIL]), StencilOperation(rs[D3DRS_STENCILPASS]));
            bool twoSided = rs[D3DRS_TWOSIDEDSTENCILMODE] != 0;
            glStencilFuncSeparate(GL_BACK, CompareFunction(rs[twoSided ? D3DRS_CCW_STENCILFUNC : D3DRS_STENCILFUNC]), ref,
                                  mask);
            glStencilOpSeparate(GL_BACK, StencilOperation(rs[twoSided ? D3DRS_CCW_STENCILFAIL : D3DRS_STENCILFAIL]),
                                StencilOperation(rs[twoSided ? D3DRS_CCW_STENCILZFAIL : D3DRS_STENCILZFAIL]),
                                StencilOperation(rs[twoSided ? D3DRS_CCW_STENCILPASS : D3DRS_STENCILPASS]));
            glStencilMask(rs[D3DRS_STENCILWRITEMASK]);
        } else {
            glDisable(GL_STENCIL_TEST);
        }
    }
    if (dirty_ & DirtyRaster) {
        // Clockwise on screen is front-facing, as Direct3D 9 counts it.
        glFrontFace(GL_CW);
        switch (rs[D3DRS_CULLMODE]) {
        case D3DCULL_CW: glEnable(GL_CULL_FACE); glCullFace(GL_FRONT); break;
        case D3DCULL_CCW: glEnable(GL_CULL_FACE); glCullFace(GL_BACK); break;
        default: glDisable(GL_CULL_FACE); break;
        }
        GLenum fill = rs[D3DRS_FILLMODE] == D3DFILL_POINT ? GL_POINT
                      : rs[D3DRS_FILLMODE] == D3DFILL_WIREFRAME ? GL_LINE
                                                                : GL_FILL;
        glPolygonMode(GL_FRONT_AND_BACK, fill);
        // D3DRS_DEPTHBIAS is in depth units; GL counts in the driver's own unit.
        float bias = FloatBits(rs[D3DRS_DEPTHBIAS]), slope = FloatBits(rs[D3DRS_SLOPESCALEDEPTHBIAS]);
        if ((bias != 0.0f || slope != 0.0f) && depthStencil_) {
            float unit = depthBiasUnits_.UnitOf(depthStencil_->format().internalFormat);
            glEnable(GL_POLYGON_OFFSET_FILL);
            glEnable(GL_POLYGON_OFFSET_LINE);
            glEnable(GL_POLYGON_OFFSET_POINT);
            glPolygonOffset(slope, bias / unit);
        } else {
            glDisable(GL_POLYGON_OFFSET_FILL);
            glDisable(GL_POLYGON_OFFSET_LINE);
            glDisable(GL_POLYGON_OFFSET_POINT);
        }
        if (rs[D3DRS_MULTISAMPLEANTIALIAS]) glEnable(GL_MULTISAMPLE); else glDisable(GL_MULTISAMPLE);
    }
    if (dirty_ & DirtyBlend) {
        if (rs[D3DRS_ALPHABLENDENABLE]) {
            glEnable(GL_BLEND);
            GLenum source, destination, sourceAlpha, destinationAlpha;
            BlendFactors(rs[D3DRS_SRCBLEND], rs[D3DRS_DESTBLEND], &source, &destination);
            GLenum equation = BlendEquation(rs[D3DRS_BLENDOP]), equationAlpha = equation;
            if (rs[D3DRS_SEPARATEALPHABLENDENABLE]) {
                BlendFactors(rs[D3DRS_SRCBLENDALPHA], rs[D3DRS_DESTBLENDALPHA], &sourceAlpha, &destinationAlpha);
                equationAlpha = BlendEquation(rs[D3DRS_BLENDOPALPHA]);
            } else {
                sourceAlpha = source;
                destinationAlpha = destination;
            }
            glBlendFuncSeparate(source, destination, sourceAlpha, destinationAlpha);
            glBlendEquationSeparate(equation, equationAlpha);
            float factor[4];
            ColorToFloats(rs[D3DRS_BLENDFACTOR], factor);
            glBlendColor(factor[0], factor[1], factor[2], factor[3]);
        } else {
            glDisable(GL_BLEND);
        }
    }
    if (dirty_ & DirtyColorMask) {
        const D3DRENDERSTATETYPE masks[] = {D3DRS_COLORWRITEENABLE, D3DRS_COLORWRITEENABLE1, D3DRS_COLORWRITEENABLE2,
                                            D3DRS_COLORWRITEENABLE3};
        for (GLuint i = 0; i < kMaxRenderTargets; ++i) {
            DWORD m = rs[masks[i]];
            glColorMaski(i, (m & D3DCOLORWRITEENABLE_RED) != 0, (m & D3DCOLORWRITEENABLE_GREEN) != 0,
                         (m & D3DCOLORWRITEENABLE_BLUE) != 0, (m & D3DCOLORWRITEENABLE_ALPHA) != 0);
        }
    }
    if (dirty_ & DirtyScissor) {
        if (rs[D3DRS_SCISSORTESTENABLE]) {
            glEnable(GL_SCISSOR_TEST);
            glScissor(scissorRect_.left, scissorRect_.top, std::max<LONG>(0, scissorRect_.right - scissorRect_.left),
                      std::max<LONG>(0, scissorRect_.bottom - scissorRect_.top));
        } else {
            glDisable(GL_SCISSOR_TEST);
        }
    }
    if (dirty_ & DirtySrgbWrite) {
        if (rs[D3DRS_SRGBWRITEENABLE]) glEnable(GL_FRAMEBUFFER_SRGB); else glDisable(GL_FRAMEBUFFER_SRGB);
    }
}

GLuint Device::FixedFunctionVertexProgram(VertexDeclaration* declaration) {
    if (declaration->fixedFunctionProgram || declaration->fixedFunctionFailed) return declaration->fixedFunctionProgram;
    std::string inputs, body;
    bool hasColor0 = false;
    for (const auto& a : declaration->attributes()) {
        std::string name = "attribute" + std::to_string(a.location);
        inputs += "layout(location = " + std::to_string(a.location) + ") in vec4 " + name + ";\n";
        int varying = -1;
        if (a.usage == D3DDECLUSAGE_TEXCOORD) varying = VaryingLocation("TEXCOORD", a.usageIndex);
        if (a.usage == D3DDECLUSAGE_COLOR) {
            varying = VaryingLocation("COLOR", a.usageIndex);
            hasColor0 |= a.usageIndex == 0;
        }
        if (varying >= 0) {
            inputs += "layout(location = " + std::to_string(varying) + ") out vec4 varying" + std::to_string(varying) +
                      ";\n";
            body += "    varying" + std::to_string(varying) + " = " + name + ";\n";
        }
    }
    if (!hasColor0) {
        inputs += "layout(location = 10) out vec4 varying10;\n";
        body += "    varying10 = vec4(1.0);\n";
    }
    std::string position;
    if (declaration->pretransformed()) {
        // x, y in target pixels (centres on integers), z in [0, 1], w holding 1 / w.
        position =
            "    vec4 p = attribute0;\n"
            "    float w = p.w != 0.0 ? 1.0 / p.w : 1.0;\n"
            "    gl_Position = vec4((p.x + 0.4921875) * lumaretTargetScale.x - 1.0,\n"
            "                       1.0 - (p.y + 0.4921875) * lumaretTargetScale.y, p.z, 1.0) * w;\n";
    } else {
        // No vertex shader and identity transforms: positions are already in clip space.
        position =
            "    gl_Position = vec4(attribute0.xyz, 1.0);\n"
            "    gl_Position.xy += lumaretPixelOffset.xy;\n";
    }
    std::string source = std::string("#version 450\n") + kInternalBlock + "out gl_PerVertex { vec4 gl_Position; };\n" +
                         inputs + "void main() {\n" + position + body + "}\n";
    std::string log;
    declaration->fixedFunctionProgram = LinkProgram(GL_VERTEX_SHADER, source, &log);
    if (!declaration->fixedFunctionProgram) {
        // Once per declaration: every draw with it fails (D3DERR_INVALIDCALL).
        declaration->fixedFunctionFailed = true;
        std::fprintf(stderr, "Direct3D 9 layer: no vertex stage for this declaration: %s\n", log.c_str());
    }
    return declaration->fixedFunctionProgram;
}

HRESULT Device::ApplyPrograms(bool pretransformed) {
    // Direct3D 9 skips the vertex shader for pretransformed vertices.
    GLuint vertexProgram = vertexShader_ && !pretransformed ? vertexShader_->program()
                                                            : FixedFunctionVertexProgram(declaration_);
    if (!vertexProgram) return D3DERR_INVALIDCALL;
    GLuint pixelProgram = pixelShader_ ? pixelShader_->program() : fixedFunctionPixelProgram_;
    if (vertexProgram != boundVertexProgram_) {
        glUseProgramStages(pipeline_, GL_VERTEX_SHADER_BIT, vertexProgram);
        boundVertexProgram_ = vertexProgram;
        vertexConstantsDirty_ = true;  // the new program may read more registers
    }
    if (pixelProgram != boundPixelProgram_) {
        glUseProgramStages(pipeline_, GL_FRAGMENT_SHADER_BIT, pixelProgram);
        boundPixelProgram_ = pixelProgram;
        pixelConstantsDirty_ = true;
    }
    return D3D_OK;
}

void Device::ApplyVertexInput() {
    GLuint vao = declaration_->vao();
    if (vao != boundVertexArray_) {
        glBindVertexArray(vao);
        boundVertexArray_ = vao;
    }
    UINT mask = declaration_->streamMask();
    for (UINT s = 0; s < kMaxStreams; ++s) {
        if (!(mask & (1u << s))) continue;
        GLuint buffer = streams_[s].buffer ? streams_[s].buffer->name() : 0;
        if (s == 0 && upStream_) buffer = stream_.name();
        VertexDeclaration::Binding& bound = declaration_->bindings[s];
        if (bound.buffer != buffer || bound.offset != streams_[s].offset || bound.stride != streams_[s].stride) {
            glVertexArrayVertexBuffer(vao, s, buffer, streams_[s].offset, static_cast<GLsizei>(streams_[s].stride));
            bound = VertexDeclaration::Binding{buffer, streams_[s].offset, streams_[s].stride};
        }
    }
    GLuint elements = upIndices_ ? stream_.name() : indices_ ? indices_->name() : 0;
    if (declaration_->elementBuffer != elements) {
        glVertexArrayElementBuffer(vao, elements);
        declaration_->elementBuffer = elements;
    }
}

HRESULT Device::ApplyConstants() {
    // The registers a program reads go to a fresh range of the stream whenever they or the
    // program change, so the ranges earlier draws read stay as they were.
    UINT vertexRegisters = vertexShader_ && !lastPretransformed_ ? vertexShader_->constantRegisters() : 0;
    UINT pixelRegisters = pixelShader_ ? pixelShader_->constantRegisters() : 0;
    for (int pass = 0; pass < 2; ++pass) {
        bool wrapped = false;
        if (vertexConstantsDirty_ && vertexRegisters) {
            GLintptr offset = stream_.Write(vertexConstants_, vertexRegisters * 16, uniformAlignment_, &wrapped);
            if (offset < 0) return D3DERR_DRIVERINTERNALERROR;
            glBindBufferRange(GL_UNIFORM_BUFFER, kVertexConstantBinding, stream_.name(), offset, vertexRegisters * 16);
            vertexConstantsDirty_ = false;
        }
        if (pixelConstantsDirty_ && pixelRegisters) {
            GLintptr offset = stream_.Write(pixelConstants_, pixelRegisters * 16, uniformAlignment_, &wrapped);
            if (offset < 0) return D3DERR_DRIVERINTERNALERROR;
            glBindBufferRange(GL_UNIFORM_BUFFER, kPixelConstantBinding, stream_.name(), offset, pixelRegisters * 16);
            pixelConstantsDirty_ = false;
        }
        // Orphaned storage no longer holds what was bound before: write both again.
        if (!wrapped) break;
        vertexConstantsDirty_ = pixelConstantsDirty_ = true;
    }
    return D3D_OK;
}

HRESULT Device::PrepareDraw(bool pretransformed) {
    if (!declaration_) return D3DERR_INVALIDCALL;
    MakeCurrent();
    if (dirty_ & DirtyFramebuffer) ApplyFramebuffer();
    if (!framebufferComplete_) {
        dirty_ &= ~DirtyFramebuffer;
        return D3DERR_INVALIDCALL;
    }
    if ((dirty_ & (DirtyViewport | DirtyFramebuffer)) || pretransformed != lastPretransformed_) {
        ApplyViewport(pretransformed);
        lastPretransformed_ = pretransformed;
    }
    ApplyRenderStates();
    if (samplerDirty_) ApplySamplers();
    if (dirty_ & DirtyPrograms || pretransformed != programsPretransformed_) {
        HRESULT programs = ApplyPrograms(pretransformed);
        if (FAILED(programs)) return programs;  // stays dirty: the next draw tries again
        programsPretransformed_ = pretransformed;
    }
    ApplyVertexInput();
    HRESULT constants = ApplyConstants();
    if (FAILED(constants)) return constants;
    dirty_ = 0;
    return D3D_OK;
}

HRESULT Device::DrawPrimitive(D3DPRIMITIVETYPE primitiveType, UINT startVertex, UINT primitiveCount) {
    GLenum mode;
    GLsizei vertices;
    if (!Topology(primitiveType, primitiveCount, &mode, &vertices)) return D3DERR_INVALIDCALL;
    if (!declaration_) return D3DERR_INVALIDCALL;
    // Every stream the declaration reads must hold the vertices drawn.
    for (const auto& a : declaration_->attributes()) {
        const Stream& stream = streams_[a.stream];
        if (!stream.buffer) return D3DERR_INVALIDCALL;
        if (vertices && !RangeWithin(stream.offset, startVertex, static_cast<uint64_t>(vertices), stream.stride,
                                     stream.buffer->length()))
            return D3DERR_INVALIDCALL;
    }
    HRESULT hr = PrepareDraw(declaration_->pretransformed());
    if (FAILED(hr) || vertices == 0) return GlResult(hr);
    glDrawArrays(mode, static_cast<GLint>(startVertex), vertices);
    return GlResult();
}

HRESULT Device::DrawIndexedPrimitive(D3DPRIMITIVETYPE primitiveType, INT baseVertexIndex, UINT minVertexIndex,
                                     UINT numVertices, UINT startIndex, UINT primitiveCount) {
    GLenum mode;
    GLsizei count;
    if (!Topology(primitiveType, primitiveCount, &mode, &count)) return D3DERR_INVALIDCALL;
    if (!declaration_ || !indices_) return D3DERR_INVALIDCALL;
    if (!RangeWithin(0, startIndex, static_cast<uint64_t>(count), indices_->indexSize(), indices_->length()))
        return D3DERR_INVALIDCALL;
    // The vertices the call announces, base + [min, min + num), must lie in every stream.
    int64_t first = static_cast<int64_t>(baseVertexIndex) + minVertexIndex;
    if (first < 0) return D3DERR_INVALIDCALL;
    for (const auto& a : declaration_->attributes()) {
        const Stream& stream = streams_[a.stream];
        if (!stream.buffer || !RangeWithin(stream.offset, static_cast<uint64_t>(first), numVertices, stream.stride,
                                           stream.buffer->length()))
            return D3DERR_INVALIDCALL;
    }
    HRESULT hr = PrepareDraw(declaration_->pretransformed());
    if (FAILED(hr) || count == 0) return GlResult(hr);
    GLenum type = indices_->indexSize() == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT;
    glDrawElementsBaseVertex(mode, count, type,
                             reinterpret_cast<const void*>(static_cast<uintptr_t>(startIndex) * indices_->indexSize()),
                             baseVertexIndex);
    return GlResult();
}

HRESULT Device::DrawPrimitiveUP(D3DPRIMITIVETYPE primitiveType, UINT primitiveCount, const void* data, UINT stride) {
    GLenum mode;
    GLsizei vertices;
    if (!Topology(primitiveType, primitiveCount, &mode, &vertices) || !data || stride == 0 || !declaration_)
        return D3DERR_INVALIDCALL;
    if (!RangeWithin(0, 0, static_cast<uint64_t>(vertices), stride, kMaxUserMemoryBytes)) return D3DERR_INVALIDCALL;
    GLsizeiptr bytes = static_cast<GLsizeiptr>(vertices) * stride;
    MakeCurrent();
    bool wrapped = false;
    if (bytes) {
        upVertexOffset_ = stream_.Write(data, bytes, stride, &wrapped);
        if (upVertexOffset_ < 0) return D3DERR_DRIVERINTERNALERROR;
    }
    if (wrapped) vertexConstantsDirty_ = pixelConstantsDirty_ = true;
    // Direct3D 9 leaves stream 0 unset after a draw from user memory.
    streams_[0] = Stream{nullptr, static_cast<UINT>(upVertexOffset_), stride};
    upStream_ = true;
    HRESULT hr = PrepareDraw(declaration_->pretransformed());
    if (SUCCEEDED(hr) && vertices) glDrawArrays(mode, 0, vertices);
    upStream_ = false;
    streams_[0] = Stream{};
    dirty_ |= DirtyVertexInput;
    return GlResult(hr);
}

HRESULT Device::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE primitiveType, UINT minVertexIndex, UINT numVertices,
                                       UINT primitiveCount, const void* indexData, D3DFORMAT indexFormat,
                                       const void* vertexData, UINT stride) {
    GLenum mode;
    GLsizei count;
    if (!Topology(primitiveType, primitiveCount, &mode, &count) || !indexData || !vertexData || stride == 0 ||
        !declaration_ || (indexFormat != D3DFMT_INDEX16 && indexFormat != D3DFMT_INDEX32))
        return D3DERR_INVALIDCALL;
    UINT indexSize = indexFormat == D3DFMT_INDEX32 ? 4 : 2;
    // Indices count from the start of the caller's vertices, and the call hands over only
    // [min, min + num) of them: an index outside would read memory nobody passed.
    if (!RangeWithin(0, minVertexIndex, numVertices, stride, kMaxUserMemoryBytes) ||
        !RangeWithin(0, 0, static_cast<uint64_t>(count), indexSize, kMaxUserMemoryBytes))
        return D3DERR_INVALIDCALL;
    for (GLsizei i = 0; i < count; ++i) {
        uint32_t index = indexSize == 4 ? static_cast<const uint32_t*>(indexData)[i]
                                        : static_cast<const uint16_t*>(indexData)[i];
        if (index < minVertexIndex || index - minVertexIndex >= numVertices) return D3DERR_INVALIDCALL;
    }
    GLsizeiptr vertexBytes = static_cast<GLsizeiptr>(minVertexIndex + static_cast<uint64_t>(numVertices)) * stride;
    GLsizeiptr indexBytes = static_cast<GLsizeiptr>(count) * indexSize;
    MakeCurrent();
    bool wrapped = false, indicesWrapped = false;
    if (vertexBytes) upVertexOffset_ = stream_.Write(vertexData, vertexBytes, stride, &wrapped);
    if (indexBytes && upVertexOffset_ >= 0)
        upIndexOffset_ = stream_.Write(indexData, indexBytes, indexSize, &indicesWrapped);
    if (indicesWrapped && vertexBytes && upIndexOffset_ >= 0)
        upVertexOffset_ = stream_.Write(vertexData, vertexBytes, stride, &wrapped);
    if (upVertexOffset_ < 0 || upIndexOffset_ < 0) {
        upVertexOffset_ = upIndexOffset_ = 0;
        return D3DERR_DRIVERINTERNALERROR;
    }
    if (wrapped || indicesWrapped) vertexConstantsDirty_ = pixelConstantsDirty_ = true;
    streams_[0] = Stream{nullptr, static_cast<UINT>(upVertexOffset_), stride};
    upStream_ = upIndices_ = true;
    HRESULT hr = PrepareDraw(declaration_->pretransformed());
    if (SUCCEEDED(hr) && count)
        glDrawElements(mode, count, indexSize == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
                       reinterpret_cast<const void*>(upIndexOffset_));
    upStream_ = upIndices_ = false;
    streams_[0] = Stream{};
    indices_ = nullptr;
    dirty_ |= DirtyVertexInput;
    return GlResult(hr);
}

}  // namespace lumaret::platform
