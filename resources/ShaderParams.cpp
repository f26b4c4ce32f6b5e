#include "resources/ShaderParams.h"

#include <cstring>

const ShaderParamName ShaderParamNames[kShaderParamCount] = {
    {"matrixTotal", ShaderParamKind::Matrix},
    {"matrixWorld", ShaderParamKind::Matrix},
    {"matrixView", ShaderParamKind::Matrix},
    {"matrixProjection", ShaderParamKind::Matrix},
    {"matrixViewProjection", ShaderParamKind::Matrix},
    {"matrixWorldIT", ShaderParamKind::Matrix},
    {"matrixWorldView", ShaderParamKind::Matrix},
    {"matrixWorldViewIT", ShaderParamKind::Matrix},
    {"matrixShadowMap", ShaderParamKind::Matrix},
    {"materialAmbient", ShaderParamKind::Vector},
    {"materialDiffuse", ShaderParamKind::Vector},
    {"materialSpecular", ShaderParamKind::Vector},
    {"paramsDOF", ShaderParamKind::Vector},
    {"paramsAUX", ShaderParamKind::Vector},
    {"cameraPosition", ShaderParamKind::Vector},
    {"cameraRight", ShaderParamKind::Vector},
    {"cameraUp", ShaderParamKind::Vector},
    {"lightPosition", ShaderParamKind::Vector},
    {"lightColor", ShaderParamKind::Vector},
    {"lightDirection", ShaderParamKind::Vector},
    {"lightInvRangeSq", ShaderParamKind::Scalar},
    {"lightCosSpot", ShaderParamKind::Scalar},
};

ShaderParams::ShaderParams() {
    // Values and sampler flags start at zero; the drawing code fills them.
    const float zeros[16] = {};
    for (ShaderParamValue& value : values) {
        value.matrix = D3DXMATRIX(zeros);
        value.vector = D3DXVECTOR4(0.0f, 0.0f, 0.0f, 0.0f);
        value.scalar = 0.0f;
    }
    matrixArray = nullptr;
    matrixArrayCount = 0;
    floatArray = nullptr;
    floatArray2 = nullptr;
    floatArrayCount = 0;
    floatArray2Count = 0;
    for (int32_t& texture : textures) texture = -1;
    std::memset(samplerFlags, 0, sizeof(samplerFlags));
    stateFlags = kStateOpaque;
    std::memset(stateList, 0, sizeof(stateList));
    stateListSize = 0;
}
