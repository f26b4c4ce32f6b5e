// Draws: bringing GL up to date with the recorded state (only what changed), then drawing.
#include "d3d9/Device.h"

#include "d3d9/FixedFunction.h"
#include "d3d9/GlEnums.h"
#include "d3d9/GlProgram.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <tuple>

namespace lumaret::platform {
namespace {

// Direct3D 9 puts pixel centres on integer window coordinates, GL on half-integers, so
// geometry moves right and down by just under half a pixel (63/128):
// a whole half pixel would put edges exactly on pixel centres, where GL's tie-breaking
// differs from Direct3D's top-left rule; 1/128 survives llvmpipe's 1/256 snapping.
constexpr float kPixelCentreShift = 63.0f / 128.0f;

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

// Links a stage the layer writes itself, the first time a draw needs it. A failure is said
// once, and every draw that needs the stage fails (D3DERR_INVALIDCALL).
template <typename Source>
GLuint LinkOwnStage(GLuint& program, bool& failed, GLenum stage, const char* what, Source source) {
    if (program || failed) return program;
    std::string log;
    program = LinkProgram(stage, source(), &log);
    if (!program) {
        failed = true;
        std::fprintf(stderr, "Direct3D 9 layer: no %s: %s\n", what, log.c_str());
    }
    return program;
}

}  // namespace

GLuint Device::SamplerObject(UINT stage) {
    const DWORD* s = state_.samplerStates[stage];
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
        if (!(gl_.samplerDirty & (1u << stage))) continue;
        GLenum target = GL_TEXTURE_2D;
        GLuint texture = GlTextureOf(state_.textures[stage], &target);
        glBindTextureUnit(stage, texture);
        GLuint sampler = SamplerObject(stage);
        if (gl_.samplers[stage] != sampler) {
            glBindSampler(stage, sampler);
            gl_.samplers[stage] = sampler;
        }
        if (stage == 0) {
            float hasTexture = texture && target == GL_TEXTURE_2D ? 1.0f : 0.0f;
            if (gl_.internal.flags[0] != hasTexture) {
                gl_.internal.flags[0] = hasTexture;
                glNamedBufferSubData(internalBuffer_, offsetof(InternalUniforms, flags), sizeof(float),
                                     &gl_.internal.flags[0]);
            }
        }
    }
    gl_.samplerDirty = 0;
}

void Device::ApplyViewport(bool pretransformed) {
    const Surface* target = state_.renderTargets[0];
    float targetWidth = static_cast<float>(target->desc().Width);
    float targetHeight = static_cast<float>(target->desc().Height);
    // The pixel offset and the target scale, the first two members of the block.
    InternalUniforms data = gl_.internal;
    if (pretransformed) {
        // Pretransformed vertices are in target pixels whatever the viewport says.
        glViewport(0, 0, static_cast<GLsizei>(target->desc().Width), static_cast<GLsizei>(target->desc().Height));
        glDepthRangef(0.0f, 1.0f);
        data.pixelOffset[0] = data.pixelOffset[1] = 0.0f;
    } else {
        glViewport(static_cast<GLint>(state_.viewport.X), static_cast<GLint>(state_.viewport.Y),
                   static_cast<GLsizei>(state_.viewport.Width), static_cast<GLsizei>(state_.viewport.Height));
        glDepthRangef(state_.viewport.MinZ, state_.viewport.MaxZ);
        // Just under half a pixel right and down, in clip space (y runs up there).
        data.pixelOffset[0] =
            state_.viewport.Width ? kPixelCentreShift * 2.0f / static_cast<float>(state_.viewport.Width) : 0.0f;
        data.pixelOffset[1] =
            state_.viewport.Height ? -kPixelCentreShift * 2.0f / static_cast<float>(state_.viewport.Height) : 0.0f;
    }
    data.pixelOffset[2] = data.pixelOffset[3] = 0.0f;
    data.targetScale[0] = 2.0f / targetWidth;
    data.targetScale[1] = 2.0f / targetHeight;
    data.targetScale[2] = data.targetScale[3] = 0.0f;
    InternalUniforms& now = gl_.internal;
    if (std::memcmp(data.pixelOffset, now.pixelOffset, sizeof(now.pixelOffset)) != 0 ||
        std::memcmp(data.targetScale, now.targetScale, sizeof(now.targetScale)) != 0) {
        std::memcpy(now.pixelOffset, data.pixelOffset, sizeof(now.pixelOffset));
        std::memcpy(now.targetScale, data.targetScale, sizeof(now.targetScale));
        glNamedBufferSubData(internalBuffer_, 0, offsetof(InternalUniforms, flags), &now);
    }
}

void Device::ApplyRenderStates() {
    const DWORD* rs = state_.renderStates;
    if (gl_.dirty & DirtyDepthStencil) {
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
    if (gl_.dirty & DirtyRaster) {
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
        if ((bias != 0.0f || slope != 0.0f) && state_.depthStencil) {
            float unit = depthBiasUnits_.UnitOf(state_.depthStencil->format().internalFormat);
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
        // Direct3D 9 clamps the point size to [POINTSIZE_MIN, POINTSIZE_MAX] and then to the
        // caps; a NaN size draws the smallest point rather than raising a GL error.
        float pointSize = FloatBits(rs[D3DRS_POINTSIZE]);
        pointSize = std::isnan(pointSize) ? 1.0f : pointSize;
        pointSize = std::min(std::max(pointSize, FloatBits(rs[D3DRS_POINTSIZE_MIN])), FloatBits(rs[D3DRS_POINTSIZE_MAX]));
        glPointSize(std::clamp(pointSize, 1.0f, caps_.MaxPointSize));
    }
    if (gl_.dirty & DirtyBlend) {
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
    if (gl_.dirty & DirtyColorMask) {
        const D3DRENDERSTATETYPE masks[] = {D3DRS_COLORWRITEENABLE, D3DRS_COLORWRITEENABLE1, D3DRS_COLORWRITEENABLE2,
                                            D3DRS_COLORWRITEENABLE3};
        for (GLuint i = 0; i < kMaxRenderTargets; ++i) {
            DWORD m = rs[masks[i]];
            glColorMaski(i, (m & D3DCOLORWRITEENABLE_RED) != 0, (m & D3DCOLORWRITEENABLE_GREEN) != 0,
                         (m & D3DCOLORWRITEENABLE_BLUE) != 0, (m & D3DCOLORWRITEENABLE_ALPHA) != 0);
        }
    }
    if (gl_.dirty & DirtyScissor) {
        if (rs[D3DRS_SCISSORTESTENABLE]) {
            glEnable(GL_SCISSOR_TEST);
            glScissor(state_.scissorRect.left, state_.scissorRect.top, std::max<LONG>(0, state_.scissorRect.right - state_.scissorRect.left),
                      std::max<LONG>(0, state_.scissorRect.bottom - state_.scissorRect.top));
        } else {
            glDisable(GL_SCISSOR_TEST);
        }
    }
    if (gl_.dirty & DirtySrgbWrite) {
        if (rs[D3DRS_SRGBWRITEENABLE]) glEnable(GL_FRAMEBUFFER_SRGB); else glDisable(GL_FRAMEBUFFER_SRGB);
    }
}

GLuint Device::FixedFunctionVertexProgram(VertexDeclaration* declaration) {
    return LinkOwnStage(declaration->fixedFunctionProgram, declaration->fixedFunctionFailed, GL_VERTEX_SHADER,
                        "vertex stage for this declaration", [&] { return FixedFunctionVertexSource(*declaration); });
}

GLuint Device::FixedFunctionPixelProgram() {
    return LinkOwnStage(fixedFunctionPixelProgram_, fixedFunctionPixelFailed_, GL_FRAGMENT_SHADER,
                        "fixed-function pixel stage", [] { return FixedFunctionPixelSource(); });
}

HRESULT Device::ApplyPrograms(bool pretransformed) {
    // Direct3D 9 skips the vertex shader for pretransformed vertices.
    GLuint vertexProgram = state_.vertexShader && !pretransformed ? state_.vertexShader->program()
                                                            : FixedFunctionVertexProgram(state_.declaration);
    if (!vertexProgram) return D3DERR_INVALIDCALL;
    GLuint pixelProgram = state_.pixelShader ? state_.pixelShader->program() : FixedFunctionPixelProgram();
    if (!pixelProgram) return D3DERR_INVALIDCALL;
    if (vertexProgram != gl_.vertexProgram) {
        glUseProgramStages(pipeline_, GL_VERTEX_SHADER_BIT, vertexProgram);
        gl_.vertexProgram = vertexProgram;
    }
    if (pixelProgram != gl_.pixelProgram) {
        glUseProgramStages(pipeline_, GL_FRAGMENT_SHADER_BIT, pixelProgram);
        gl_.pixelProgram = pixelProgram;
    }
    return D3D_OK;
}

void Device::ApplyVertexInput() {
    GLuint vao = state_.declaration->vao();
    if (vao != gl_.vertexArray) {
        glBindVertexArray(vao);
        gl_.vertexArray = vao;
    }
    UINT mask = state_.declaration->streamMask();
    for (UINT s = 0; s < kMaxStreams; ++s) {
        if (!(mask & (1u << s))) continue;
        GLuint buffer = state_.streams[s].buffer ? state_.streams[s].buffer->name() : 0;
        if (s == 0 && upStream_) buffer = stream_.name();
        VertexDeclaration::Binding& bound = state_.declaration->bindings[s];
        if (bound.buffer != buffer || bound.offset != state_.streams[s].offset || bound.stride != state_.streams[s].stride) {
            glVertexArrayVertexBuffer(vao, s, buffer, state_.streams[s].offset, static_cast<GLsizei>(state_.streams[s].stride));
            bound = VertexDeclaration::Binding{buffer, state_.streams[s].offset, state_.streams[s].stride};
        }
    }
    GLuint elements = upIndices_ ? stream_.name() : state_.indices ? state_.indices->name() : 0;
    if (state_.declaration->elementBuffer != elements) {
        glVertexArrayElementBuffer(vao, elements);
        state_.declaration->elementBuffer = elements;
    }
}

HRESULT Device::ApplyConstants() {
    // The registers set since the last draw, whichever shader they were set for: both
    // register files stay in GL across shader switches, as Direct3D 9's do.
    if (!gl_.vertexRegisters.empty()) {
        stream_.UpdateRegisters(StreamBuffer::kVertexRegisterOffset, gl_.vertexRegisters.first,
                                gl_.vertexRegisters.end, state_.vertexConstants);
        gl_.vertexRegisters = DirtyRegisters{};
    }
    if (!gl_.pixelRegisters.empty()) {
        stream_.UpdateRegisters(StreamBuffer::kPixelRegisterOffset, gl_.pixelRegisters.first, gl_.pixelRegisters.end,
                                state_.pixelConstants);
        gl_.pixelRegisters = DirtyRegisters{};
    }
    // Each stage's block sees the registers its program reads: llvmpipe copies the bound
    // range of the pixel stage per draw, so it is kept to what the program declares.
    UINT vertexRegisters =
        state_.vertexShader && !gl_.viewportPretransformed ? state_.vertexShader->constantRegisters() : 0;
    UINT pixelRegisters = state_.pixelShader ? state_.pixelShader->constantRegisters() : 0;
    if (vertexRegisters && vertexRegisters != gl_.vertexRegistersBound) {
        glBindBufferRange(GL_UNIFORM_BUFFER, kVertexConstantBinding, stream_.registerBuffer(),
                          StreamBuffer::kVertexRegisterOffset, static_cast<GLsizeiptr>(vertexRegisters) * 16);
        gl_.vertexRegistersBound = vertexRegisters;
    }
    if (pixelRegisters && pixelRegisters != gl_.pixelRegistersBound) {
        glBindBufferRange(GL_UNIFORM_BUFFER, kPixelConstantBinding, stream_.registerBuffer(),
                          StreamBuffer::kPixelRegisterOffset, static_cast<GLsizeiptr>(pixelRegisters) * 16);
        gl_.pixelRegistersBound = pixelRegisters;
    }
    return D3D_OK;
}

HRESULT Device::PrepareDraw(bool pretransformed) {
    if (!state_.declaration) return D3DERR_INVALIDCALL;
    MakeCurrent();
    const DWORD* rs = state_.renderStates;
    bool biased = FloatBits(rs[D3DRS_DEPTHBIAS]) != 0.0f || FloatBits(rs[D3DRS_SLOPESCALEDEPTHBIAS]) != 0.0f;
    if (biased && state_.depthStencil && !depthBiasUnits_.Measured()) {
        // The measuring draws use a target, program and state of their own: all of the
        // device's is sent again before this draw.
        depthBiasUnits_.Measure();
        glBindProgramPipeline(pipeline_);
        gl_.vertexArray = 0;
        gl_.dirty = DirtyAll;
    }
    if (gl_.dirty & DirtyFramebuffer) ApplyFramebuffer();
    if (!gl_.framebufferComplete) {
        gl_.dirty &= ~DirtyFramebuffer;
        return D3DERR_INVALIDCALL;
    }
    if ((gl_.dirty & (DirtyViewport | DirtyFramebuffer)) || pretransformed != gl_.viewportPretransformed) {
        ApplyViewport(pretransformed);
        gl_.viewportPretransformed = pretransformed;
    }
    ApplyRenderStates();
    if (gl_.samplerDirty) ApplySamplers();
    if (gl_.dirty & DirtyPrograms || pretransformed != gl_.programsPretransformed) {
        HRESULT programs = ApplyPrograms(pretransformed);
        if (FAILED(programs)) return programs;  // stays dirty: the next draw tries again
        gl_.programsPretransformed = pretransformed;
    }
    ApplyVertexInput();
    HRESULT constants = ApplyConstants();
    if (FAILED(constants)) return constants;
    gl_.dirty = 0;
    return D3D_OK;
}

HRESULT Device::DrawPrimitive(D3DPRIMITIVETYPE primitiveType, UINT startVertex, UINT primitiveCount) {
    GLenum mode;
    GLsizei vertices;
    if (!Topology(primitiveType, primitiveCount, &mode, &vertices)) return D3DERR_INVALIDCALL;
    if (!state_.declaration) return D3DERR_INVALIDCALL;
    // Every stream the declaration reads must hold the vertices drawn.
    for (const auto& a : state_.declaration->attributes()) {
        const StreamBinding& stream = state_.streams[a.stream];
        if (!stream.buffer) return D3DERR_INVALIDCALL;
        if (vertices && !RangeWithin(stream.offset, startVertex, static_cast<uint64_t>(vertices), stream.stride,
                                     stream.buffer->length()))
            return D3DERR_INVALIDCALL;
    }
    HRESULT hr = PrepareDraw(state_.declaration->pretransformed());
    if (FAILED(hr) || vertices == 0) return GlResult(hr);
    glDrawArrays(mode, static_cast<GLint>(startVertex), vertices);
    return GlResult();
}

HRESULT Device::DrawIndexedPrimitive(D3DPRIMITIVETYPE primitiveType, INT baseVertexIndex, UINT minVertexIndex,
                                     UINT numVertices, UINT startIndex, UINT primitiveCount) {
    GLenum mode;
    GLsizei count;
    if (!Topology(primitiveType, primitiveCount, &mode, &count)) return D3DERR_INVALIDCALL;
    if (!state_.declaration || !state_.indices) return D3DERR_INVALIDCALL;
    if (!RangeWithin(0, startIndex, static_cast<uint64_t>(count), state_.indices->indexSize(), state_.indices->length()))
        return D3DERR_INVALIDCALL;
    // The vertices the call announces, base + [min, min + num), must lie in every stream.
    int64_t first = static_cast<int64_t>(baseVertexIndex) + minVertexIndex;
    if (first < 0) return D3DERR_INVALIDCALL;
    for (const auto& a : state_.declaration->attributes()) {
        const StreamBinding& stream = state_.streams[a.stream];
        if (!stream.buffer || !RangeWithin(stream.offset, static_cast<uint64_t>(first), numVertices, stream.stride,
                                           stream.buffer->length()))
            return D3DERR_INVALIDCALL;
    }
    HRESULT hr = PrepareDraw(state_.declaration->pretransformed());
    if (FAILED(hr) || count == 0) return GlResult(hr);
    GLenum type = state_.indices->indexSize() == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT;
    glDrawElementsBaseVertex(mode, count, type,
                             reinterpret_cast<const void*>(static_cast<uintptr_t>(startIndex) * state_.indices->indexSize()),
                             baseVertexIndex);
    return GlResult();
}

HRESULT Device::DrawPrimitiveUP(D3DPRIMITIVETYPE primitiveType, UINT primitiveCount, const void* data, UINT stride) {
    GLenum mode;
    GLsizei vertices;
    if (!Topology(primitiveType, primitiveCount, &mode, &vertices) || !data || stride == 0 || !state_.declaration)
        return D3DERR_INVALIDCALL;
    if (!RangeWithin(0, 0, static_cast<uint64_t>(vertices), stride, kMaxUserMemoryBytes)) return D3DERR_INVALIDCALL;
    GLsizeiptr bytes = static_cast<GLsizeiptr>(vertices) * stride;
    MakeCurrent();
    bool wrapped = false;
    if (bytes) {
        upVertexOffset_ = stream_.Write(data, bytes, stride, &wrapped);
        if (upVertexOffset_ < 0) return D3DERR_DRIVERINTERNALERROR;
    }
    // Direct3D 9 leaves stream 0 unset after a draw from user memory.
    Rebind(state_.streams[0].buffer, static_cast<VertexBuffer*>(nullptr));
    state_.streams[0] = StreamBinding{nullptr, static_cast<UINT>(upVertexOffset_), stride};
    upStream_ = true;
    HRESULT hr = PrepareDraw(state_.declaration->pretransformed());
    if (SUCCEEDED(hr) && vertices) glDrawArrays(mode, 0, vertices);
    upStream_ = false;
    state_.streams[0] = StreamBinding{};
    gl_.dirty |= DirtyVertexInput;
    return GlResult(hr);
}

HRESULT Device::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE primitiveType, UINT minVertexIndex, UINT numVertices,
                                       UINT primitiveCount, const void* indexData, D3DFORMAT indexFormat,
                                       const void* vertexData, UINT stride) {
    GLenum mode;
    GLsizei count;
    if (!Topology(primitiveType, primitiveCount, &mode, &count) || !indexData || !vertexData || stride == 0 ||
        !state_.declaration || (indexFormat != D3DFMT_INDEX16 && indexFormat != D3DFMT_INDEX32))
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
    // Direct3D 9 leaves stream 0 and the indices unset after an indexed draw from user memory.
    Rebind(state_.streams[0].buffer, static_cast<VertexBuffer*>(nullptr));
    Rebind(state_.indices, static_cast<IndexBuffer*>(nullptr));
    state_.streams[0] = StreamBinding{nullptr, static_cast<UINT>(upVertexOffset_), stride};
    upStream_ = upIndices_ = true;
    HRESULT hr = PrepareDraw(state_.declaration->pretransformed());
    if (SUCCEEDED(hr) && count)
        glDrawElements(mode, count, indexSize == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
                       reinterpret_cast<const void*>(upIndexOffset_));
    upStream_ = upIndices_ = false;
    state_.streams[0] = StreamBinding{};
    gl_.dirty |= DirtyVertexInput;
    return GlResult(hr);
}

}  // namespace lumaret::platform
