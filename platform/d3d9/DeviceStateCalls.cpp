// The state calls: each records Direct3D 9 state and marks what a draw must send to GL.
#include "d3d9/Device.h"

#include <cstring>

namespace lumaret::platform {
namespace {

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

}  // namespace

HRESULT Device::SetViewport(const D3DVIEWPORT9* viewport) {
    if (!viewport) return D3DERR_INVALIDCALL;
    state_.viewport = *viewport;
    gl_.dirty |= DirtyViewport;
    return D3D_OK;
}

HRESULT Device::GetViewport(D3DVIEWPORT9* viewport) {
    if (!viewport) return D3DERR_INVALIDCALL;
    *viewport = state_.viewport;
    return D3D_OK;
}

HRESULT Device::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    if (static_cast<UINT>(state) >= D3D_RENDERSTATE_COUNT) return D3DERR_INVALIDCALL;
    // Engines set whole state blocks per draw; only a change has GL work to do.
    if (state_.renderStates[state] == value) return D3D_OK;
    state_.renderStates[state] = value;
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
    case D3DRS_CCW_STENCILFUNC: gl_.dirty |= DirtyDepthStencil; break;
    case D3DRS_CULLMODE:
    case D3DRS_FILLMODE:
    case D3DRS_DEPTHBIAS:
    case D3DRS_SLOPESCALEDEPTHBIAS:
    case D3DRS_MULTISAMPLEANTIALIAS:
    case D3DRS_POINTSIZE:
    case D3DRS_POINTSIZE_MIN:
    case D3DRS_POINTSIZE_MAX: gl_.dirty |= DirtyRaster; break;
    case D3DRS_ALPHABLENDENABLE:
    case D3DRS_SRCBLEND:
    case D3DRS_DESTBLEND:
    case D3DRS_BLENDOP:
    case D3DRS_SEPARATEALPHABLENDENABLE:
    case D3DRS_SRCBLENDALPHA:
    case D3DRS_DESTBLENDALPHA:
    case D3DRS_BLENDOPALPHA:
    case D3DRS_BLENDFACTOR: gl_.dirty |= DirtyBlend; break;
    case D3DRS_COLORWRITEENABLE:
    case D3DRS_COLORWRITEENABLE1:
    case D3DRS_COLORWRITEENABLE2:
    case D3DRS_COLORWRITEENABLE3: gl_.dirty |= DirtyColorMask; break;
    case D3DRS_SCISSORTESTENABLE: gl_.dirty |= DirtyScissor; break;
    case D3DRS_SRGBWRITEENABLE: gl_.dirty |= DirtySrgbWrite; break;
    default: break;  // recorded; states without a GL counterpart here have no effect
    }
    return D3D_OK;
}

HRESULT Device::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
    if (!value || static_cast<UINT>(state) >= D3D_RENDERSTATE_COUNT) return D3DERR_INVALIDCALL;
    *value = state_.renderStates[state];
    return D3D_OK;
}

HRESULT Device::SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) {
    if (stage >= kSamplerStages) return D3DERR_INVALIDCALL;
    if (state_.textures[stage] == texture) return D3D_OK;
    Rebind(state_.textures[stage], texture);
    gl_.samplerDirty |= 1u << stage;
    return D3D_OK;
}

HRESULT Device::GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) {
    return stage < kSamplerStages ? ReturnBound(state_.textures[stage], texture) : D3DERR_INVALIDCALL;
}

HRESULT Device::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
    if (sampler >= kSamplerStages || type < D3DSAMP_ADDRESSU || type > D3DSAMP_DMAPOFFSET) return D3DERR_INVALIDCALL;
    if (state_.samplerStates[sampler][type] == value) return D3D_OK;
    state_.samplerStates[sampler][type] = value;
    gl_.samplerDirty |= 1u << sampler;
    return D3D_OK;
}

HRESULT Device::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) {
    if (!value || sampler >= kSamplerStages || type < D3DSAMP_ADDRESSU || type > D3DSAMP_DMAPOFFSET)
        return D3DERR_INVALIDCALL;
    *value = state_.samplerStates[sampler][type];
    return D3D_OK;
}

HRESULT Device::SetScissorRect(const RECT* rect) {
    if (!rect) return D3DERR_INVALIDCALL;
    state_.scissorRect = *rect;
    gl_.dirty |= DirtyScissor;
    return D3D_OK;
}

HRESULT Device::GetScissorRect(RECT* rect) {
    if (!rect) return D3DERR_INVALIDCALL;
    *rect = state_.scissorRect;
    return D3D_OK;
}

HRESULT Device::SetVertexDeclaration(IDirect3DVertexDeclaration9* decl) {
    if (state_.declaration == decl) return D3D_OK;
    Rebind(state_.declaration, static_cast<VertexDeclaration*>(decl));
    gl_.dirty |= DirtyVertexInput | DirtyPrograms;
    return D3D_OK;
}

HRESULT Device::GetVertexDeclaration(IDirect3DVertexDeclaration9** decl) { return ReturnBound(state_.declaration, decl); }

HRESULT Device::SetVertexShader(IDirect3DVertexShader9* shader) {
    if (state_.vertexShader == shader) return D3D_OK;
    Rebind(state_.vertexShader, static_cast<VertexShader*>(shader));
    gl_.dirty |= DirtyPrograms;
    return D3D_OK;
}

HRESULT Device::GetVertexShader(IDirect3DVertexShader9** shader) { return ReturnBound(state_.vertexShader, shader); }

HRESULT Device::SetPixelShader(IDirect3DPixelShader9* shader) {
    if (state_.pixelShader == shader) return D3D_OK;
    Rebind(state_.pixelShader, static_cast<PixelShader*>(shader));
    gl_.dirty |= DirtyPrograms;
    return D3D_OK;
}

HRESULT Device::GetPixelShader(IDirect3DPixelShader9** shader) { return ReturnBound(state_.pixelShader, shader); }

HRESULT Device::SetVertexShaderConstantF(UINT start, const float* data, UINT count) {
    if (!ValidRegisters(data, start, count, kVertexConstantRegisters)) return D3DERR_INVALIDCALL;
    StoreRegisters(state_.vertexConstants, start, data, count, &gl_.vertexRegisters);
    return D3D_OK;
}

HRESULT Device::GetVertexShaderConstantF(UINT start, float* data, UINT count) {
    if (!ValidRegisters(data, start, count, kVertexConstantRegisters)) return D3DERR_INVALIDCALL;
    std::memcpy(data, state_.vertexConstants + start * 4, count * 4 * sizeof(float));
    return D3D_OK;
}

HRESULT Device::SetPixelShaderConstantF(UINT start, const float* data, UINT count) {
    if (!ValidRegisters(data, start, count, kPixelConstantRegisters)) return D3DERR_INVALIDCALL;
    StoreRegisters(state_.pixelConstants, start, data, count, &gl_.pixelRegisters);
    return D3D_OK;
}

HRESULT Device::GetPixelShaderConstantF(UINT start, float* data, UINT count) {
    if (!ValidRegisters(data, start, count, kPixelConstantRegisters)) return D3DERR_INVALIDCALL;
    std::memcpy(data, state_.pixelConstants + start * 4, count * 4 * sizeof(float));
    return D3D_OK;
}

HRESULT Device::SetStreamSource(UINT streamNumber, IDirect3DVertexBuffer9* streamData, UINT offset, UINT stride) {
    if (streamNumber >= kMaxStreams) return D3DERR_INVALIDCALL;
    StreamBinding& bound = state_.streams[streamNumber];
    if (bound.buffer == streamData && bound.offset == offset && bound.stride == stride) return D3D_OK;
    Rebind(state_.streams[streamNumber].buffer, static_cast<VertexBuffer*>(streamData));
    state_.streams[streamNumber].offset = offset;
    state_.streams[streamNumber].stride = stride;
    gl_.dirty |= DirtyVertexInput;
    return D3D_OK;
}

HRESULT Device::GetStreamSource(UINT streamNumber, IDirect3DVertexBuffer9** streamData, UINT* offset, UINT* stride) {
    if (streamNumber >= kMaxStreams || !streamData || !offset || !stride) return D3DERR_INVALIDCALL;
    const StreamBinding& stream = state_.streams[streamNumber];
    *streamData = stream.buffer;
    if (stream.buffer) stream.buffer->AddRef();
    *offset = stream.offset;
    *stride = stream.stride;
    return D3D_OK;
}

HRESULT Device::SetIndices(IDirect3DIndexBuffer9* indexData) {
    if (state_.indices == indexData) return D3D_OK;
    Rebind(state_.indices, static_cast<IndexBuffer*>(indexData));
    gl_.dirty |= DirtyVertexInput;
    return D3D_OK;
}

HRESULT Device::GetIndices(IDirect3DIndexBuffer9** indexData) { return ReturnBound(state_.indices, indexData); }

}  // namespace lumaret::platform
