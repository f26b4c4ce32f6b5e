#include "d3d9/StateRecords.h"

#include "d3d9/GlEnums.h"

#include <cstring>

namespace lumaret::platform {

void D3D9State::Reset(bool autoDepth, Surface* backBuffer, Surface* autoDepthStencil) {
    *this = D3D9State{};
    UINT width = backBuffer->desc().Width, height = backBuffer->desc().Height;
    renderStates[D3DRS_ZENABLE] = autoDepth ? D3DZB_TRUE : D3DZB_FALSE;
    renderStates[D3DRS_FILLMODE] = D3DFILL_SOLID;
    renderStates[D3DRS_SHADEMODE] = 2;
    renderStates[D3DRS_ZWRITEENABLE] = TRUE;
    renderStates[D3DRS_LASTPIXEL] = TRUE;
    renderStates[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    renderStates[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    renderStates[D3DRS_CULLMODE] = D3DCULL_CCW;
    renderStates[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    renderStates[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
    renderStates[D3DRS_STENCILFAIL] = D3DSTENCILOP_KEEP;
    renderStates[D3DRS_STENCILZFAIL] = D3DSTENCILOP_KEEP;
    renderStates[D3DRS_STENCILPASS] = D3DSTENCILOP_KEEP;
    renderStates[D3DRS_STENCILFUNC] = D3DCMP_ALWAYS;
    renderStates[D3DRS_STENCILMASK] = 0xFFFFFFFF;
    renderStates[D3DRS_STENCILWRITEMASK] = 0xFFFFFFFF;
    renderStates[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
    renderStates[D3DRS_CLIPPING] = TRUE;
    renderStates[D3DRS_LIGHTING] = TRUE;
    renderStates[D3DRS_COLORVERTEX] = TRUE;
    renderStates[D3DRS_LOCALVIEWER] = TRUE;
    renderStates[D3DRS_POINTSIZE] = BitsOf(1.0f);
    renderStates[D3DRS_POINTSIZE_MIN] = BitsOf(1.0f);
    renderStates[D3DRS_POINTSIZE_MAX] = BitsOf(64.0f);
    renderStates[D3DRS_MULTISAMPLEANTIALIAS] = TRUE;
    renderStates[D3DRS_MULTISAMPLEMASK] = 0xFFFFFFFF;
    renderStates[D3DRS_COLORWRITEENABLE] = 0xF;
    renderStates[D3DRS_COLORWRITEENABLE1] = 0xF;
    renderStates[D3DRS_COLORWRITEENABLE2] = 0xF;
    renderStates[D3DRS_COLORWRITEENABLE3] = 0xF;
    renderStates[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
    renderStates[D3DRS_CCW_STENCILFAIL] = D3DSTENCILOP_KEEP;
    renderStates[D3DRS_CCW_STENCILZFAIL] = D3DSTENCILOP_KEEP;
    renderStates[D3DRS_CCW_STENCILPASS] = D3DSTENCILOP_KEEP;
    renderStates[D3DRS_CCW_STENCILFUNC] = D3DCMP_ALWAYS;
    renderStates[D3DRS_BLENDFACTOR] = 0xFFFFFFFF;
    renderStates[D3DRS_SRCBLENDALPHA] = D3DBLEND_ONE;
    renderStates[D3DRS_DESTBLENDALPHA] = D3DBLEND_ZERO;
    renderStates[D3DRS_BLENDOPALPHA] = D3DBLENDOP_ADD;
    for (auto& sampler : samplerStates) {
        sampler[D3DSAMP_ADDRESSU] = sampler[D3DSAMP_ADDRESSV] = sampler[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
        sampler[D3DSAMP_MAGFILTER] = sampler[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
        sampler[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
        sampler[D3DSAMP_MAXANISOTROPY] = 1;
    }
    renderTargets[0] = backBuffer;
    depthStencil = autoDepthStencil;
    viewport = D3DVIEWPORT9{0, 0, width, height, 0.0f, 1.0f};
    scissorRect = RECT{0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
}

void StoreRegisters(float* file, UINT start, const float* data, UINT count, DirtyRegisters* dirty) {
    constexpr size_t kRegisterBytes = 4 * sizeof(float);
    UINT first = 0, end = count;
    while (first < end && std::memcmp(file + (start + first) * 4, data + first * 4, kRegisterBytes) == 0) ++first;
    while (end > first && std::memcmp(file + (start + end - 1) * 4, data + (end - 1) * 4, kRegisterBytes) == 0) --end;
    if (first == end) return;
    std::memcpy(file + (start + first) * 4, data + first * 4, (end - first) * kRegisterBytes);
    dirty->Add(start + first, start + end);
}

void D3D9State::UnbindAll() {
    for (auto& texture : textures) Rebind(texture, static_cast<IDirect3DBaseTexture9*>(nullptr));
    for (auto& target : renderTargets) Rebind(target, static_cast<Surface*>(nullptr));
    Rebind(depthStencil, static_cast<Surface*>(nullptr));
    Rebind(declaration, static_cast<VertexDeclaration*>(nullptr));
    for (auto& stream : streams) Rebind(stream.buffer, static_cast<VertexBuffer*>(nullptr));
    Rebind(indices, static_cast<IndexBuffer*>(nullptr));
    Rebind(vertexShader, static_cast<VertexShader*>(nullptr));
    Rebind(pixelShader, static_cast<PixelShader*>(nullptr));
}

}  // namespace lumaret::platform
