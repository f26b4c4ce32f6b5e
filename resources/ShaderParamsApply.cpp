// Compiling render-state flag words and uploading parameter blocks.
#include "render/Renderer.h"

namespace {

struct BlendMode {
    bool enable;
    uint8_t op, source, destination;
};

// Blend modes 3 to 11; other modes leave blending alone (1 switches it off).
const BlendMode kBlendModes[16] = {
    {false, 0, 0, 0},
    {false, 0, 0, 0},
    {false, 0, 0, 0},
    {true, D3DBLENDOP_ADD, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA},
    {true, D3DBLENDOP_ADD, D3DBLEND_SRCALPHA, D3DBLEND_ONE},
    {true, D3DBLENDOP_ADD, D3DBLEND_ONE, D3DBLEND_ONE},
    {true, D3DBLENDOP_ADD, D3DBLEND_DESTCOLOR, D3DBLEND_ZERO},
    {true, D3DBLENDOP_ADD, D3DBLEND_ZERO, D3DBLEND_INVSRCCOLOR},
    {true, D3DBLENDOP_REVSUBTRACT, D3DBLEND_ONE, D3DBLEND_ONE},
    {true, D3DBLENDOP_MAX, D3DBLEND_ONE, D3DBLEND_ONE},
    {true, D3DBLENDOP_MIN, D3DBLEND_ONE, D3DBLEND_ONE},
    {true, D3DBLENDOP_ADD, D3DBLEND_INVDESTCOLOR, D3DBLEND_ONE},
};

}  // namespace

void Renderer::BuildStateList(ShaderParams& block) {
    uint8_t* list = block.stateList;
    int n = 0;
    auto pair = [&](D3DRENDERSTATETYPE state, uint32_t value) {
        list[n++] = static_cast<uint8_t>(state);
        list[n++] = static_cast<uint8_t>(value);
    };
    uint32_t flags = block.stateFlags;
    switch (flags & 3) {
    case 1: pair(D3DRS_ZENABLE, 0); break;
    case 2:
        pair(D3DRS_ZENABLE, 1);
        pair(D3DRS_ZWRITEENABLE, 0);
        pair(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
        break;
    case 3:
        pair(D3DRS_ZENABLE, 1);
        pair(D3DRS_ZWRITEENABLE, 1);
        pair(D3DRS_ZFUNC, D3DCMP_LESS);
        break;
    default: break;
    }
    switch ((flags >> 2) & 3) {
    case 1: pair(D3DRS_CULLMODE, D3DCULL_NONE); break;
    case 2: pair(D3DRS_CULLMODE, D3DCULL_CW); break;
    case 3: pair(D3DRS_CULLMODE, D3DCULL_CCW); break;
    default: break;
    }
    switch ((flags >> 4) & 3) {
    case 1: pair(D3DRS_FILLMODE, D3DFILL_WIREFRAME); break;
    case 2: pair(D3DRS_FILLMODE, D3DFILL_SOLID); break;
    default: break;
    }
    uint32_t mask = (flags & (1u << 10)) ? 0x7 : 0xF;
    if (flags & (1u << 11)) mask &= ~static_cast<uint32_t>(D3DCOLORWRITEENABLE_RED);
    if (flags & (1u << 12)) mask &= ~static_cast<uint32_t>(D3DCOLORWRITEENABLE_GREEN);
    if (flags & (1u << 13)) mask &= ~static_cast<uint32_t>(D3DCOLORWRITEENABLE_BLUE);
    pair(D3DRS_COLORWRITEENABLE, mask);
    uint32_t blend = (flags >> 6) & 15;
    if (blend == 1) {
        pair(D3DRS_ALPHABLENDENABLE, 0);
    } else if (kBlendModes[blend].enable) {
        pair(D3DRS_ALPHABLENDENABLE, 1);
        pair(D3DRS_BLENDOP, kBlendModes[blend].op);
        pair(D3DRS_SRCBLEND, kBlendModes[blend].source);
        pair(D3DRS_DESTBLEND, kBlendModes[blend].destination);
    }
    block.stateListSize = static_cast<uint8_t>(n);
}

void Renderer::ApplyShaderParams(int shaderIndex, const ShaderParams& block) {
    // A missing shader (-1) has nothing to receive the block: skip it.
    if (shaderIndex < 0 || shaderIndex >= static_cast<int>(shaders.size())) return;
    const ShaderRecord& shader = shaders[static_cast<size_t>(shaderIndex)];
    for (int i = 0; i + 1 < block.stateListSize && i + 1 < kStateListBytes; i += 2) {
        uint8_t state = block.stateList[i];
        uint32_t value = block.stateList[i + 1];
        if (stateCache[state] == value) continue;
        stateCache[state] = value;
        device->SetRenderState(static_cast<D3DRENDERSTATETYPE>(state), value);
    }
    for (int i = 0; i < kShaderParamCount; ++i) {
        const ShaderParamValue& value = block.values[i];
        for (int side = 0; side < 2; ++side) {
            D3DXHANDLE handle = side == 0 ? shader.vertexHandles[i] : shader.pixelHandles[i];
            ID3DXConstantTable* table = side == 0 ? shader.vertexConstants : shader.pixelConstants;
            if (!handle) continue;
            switch (ShaderParamNames[i].kind) {
            case ShaderParamKind::Matrix: table->SetMatrixTranspose(device, handle, &value.matrix); break;
            case ShaderParamKind::Vector: table->SetVector(device, handle, &value.vector); break;
            case ShaderParamKind::Scalar: table->SetFloat(device, handle, value.scalar); break;
            }
        }
    }
    if (shader.matrixArrayHandle && block.matrixArray)
        shader.vertexConstants->SetMatrixTransposeArray(device, shader.matrixArrayHandle, block.matrixArray,
                                                        block.matrixArrayCount);
    if (shader.floatArrayHandle && block.floatArray)
        shader.pixelConstants->SetFloatArray(device, shader.floatArrayHandle, block.floatArray, block.floatArrayCount);
    if (shader.floatArray2Handle && block.floatArray2)
        shader.pixelConstants->SetFloatArray(device, shader.floatArray2Handle, block.floatArray2,
                                             block.floatArray2Count);
    for (int stage = 0; stage < kShaderTextureStages; ++stage) {
        if (block.textures[stage] < 0) continue;
        SetSamplerFlags(stage, block.samplerFlags[stage]);
        SetTexture(stage, block.textures[stage]);
    }
}
