// The limits of the Direct3D 9 device on GL: register files, stages, targets, streams, and
// the uniform-buffer bindings shared with the shader compiler. Limits only.
#pragma once

#include <d3d9.h>
#include <epoxy/gl.h>

namespace lumaret::platform {

// Register files of vs_3_0 and ps_3_0.
constexpr UINT kVertexConstantRegisters = 256;
constexpr UINT kPixelConstantRegisters = 224;
constexpr UINT kSamplerStages = 16;
constexpr UINT kTextureStagesReported = 8;
constexpr UINT kMaxRenderTargets = 4;
constexpr UINT kMaxStreams = 16;
constexpr UINT kSamplerStateCount = D3DSAMP_DMAPOFFSET + 1;
// Uniform-buffer bindings shared with the shader compiler (the internal block: binding 2).
constexpr GLuint kVertexConstantBinding = 0;
constexpr GLuint kPixelConstantBinding = 1;

}  // namespace lumaret::platform
