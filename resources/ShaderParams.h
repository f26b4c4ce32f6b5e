// The shader parameter vocabulary: 22 named parameters and three named arrays that every
// shader may declare, and ShaderParams, the per-draw block a drawing operation fills and
// Renderer::ApplyShaderParams uploads. The block also carries a packed render-state flag
// word, compiled once into a list of (state, value) byte pairs.
//
// Flag word: bits 0-1 depth mode, 2-3 cull mode, 4-5 fill mode, 6-9 blend mode,
// 10-13 no alpha / red / green / blue writes. Words in use: 111 opaque, 109 opaque without
// depth test, 365 additive without depth test, 237 alpha-blended without depth test.
#pragma once

#include <d3dx9.h>

#include <cstdint>

enum class ShaderParamKind { Matrix, Vector, Scalar };

struct ShaderParamName {
    const char* name;
    ShaderParamKind kind;
};

constexpr int kShaderParamCount = 22;
extern const ShaderParamName ShaderParamNames[kShaderParamCount];

enum ShaderParamSlot : int {
    ParamMatrixTotal,
    ParamMatrixWorld,
    ParamMatrixView,
    ParamMatrixProjection,
    ParamMatrixViewProjection,
    ParamMatrixWorldIT,
    ParamMatrixWorldView,
    ParamMatrixWorldViewIT,
    ParamMatrixShadowMap,
    ParamMaterialAmbient,
    ParamMaterialDiffuse,
    ParamMaterialSpecular,
    ParamParamsDOF,
    ParamParamsAUX,
    ParamCameraPosition,
    ParamCameraRight,
    ParamCameraUp,
    ParamLightPosition,
    ParamLightColor,
    ParamLightDirection,
    ParamLightInvRangeSq,
    ParamLightCosSpot,
};

struct ShaderParamValue {
    D3DXMATRIX matrix;
    D3DXVECTOR4 vector;
    float scalar;
};

constexpr int kShaderTextureStages = 8;
constexpr int kStateListBytes = 64;

// Render-state flag words used by the engine.
constexpr uint32_t kStateOpaque = 111;
constexpr uint32_t kStateOpaqueNoDepth = 109;
constexpr uint32_t kStateAdditiveNoDepth = 365;
constexpr uint32_t kStateAlphaBlendNoDepth = 237;
// Additive, depth tested (LESSEQUAL) without writing: the bounded lights against the
// scene's depth, so that surfaces in front of a light's reach are never shaded.
constexpr uint32_t kStateAdditiveDepthTest = 366;
// Opaque without culling: two-sided faces.
constexpr uint32_t kStateOpaqueTwoSided = 103;
// Alpha-blended (SRCALPHA, INVSRCALPHA), depth tested (LESSEQUAL) without writing: blended
// surfaces over the opaque ones; culled, and without culling for two-sided faces.
constexpr uint32_t kStateAlphaBlendDepthTest = 238;
constexpr uint32_t kStateAlphaBlendDepthTestTwoSided = 230;

struct ShaderParams {
    ShaderParams();

    ShaderParamValue values[kShaderParamCount];
    const D3DXMATRIX* matrixArray;
    uint32_t matrixArrayCount;
    const float* floatArray;
    const float* floatArray2;
    uint32_t floatArrayCount;
    uint32_t floatArray2Count;
    int32_t textures[kShaderTextureStages];
    uint32_t samplerFlags[kShaderTextureStages];
    uint32_t stateFlags;
    uint8_t stateList[kStateListBytes];
    uint8_t stateListSize;
};
