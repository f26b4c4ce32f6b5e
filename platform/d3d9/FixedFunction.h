// The stages the layer writes itself for draws without shaders: Direct3D 9's fixed-function
// pipeline, as far as the engine uses it. Vertices pass through untransformed (or, when
// pretransformed, from target pixels to clip space), texture coordinates and colours go
// to the pixel stage, which multiplies the colour by stage 0's 2D texture when one is set.
#pragma once

#include <string>

namespace lumaret::platform {

class VertexDeclaration;

// GLSL of the vertex stage for a declaration (its inputs decide the varyings).
std::string FixedFunctionVertexSource(const VertexDeclaration& declaration);
// GLSL of the one pixel stage every shaderless draw uses.
std::string FixedFunctionPixelSource();

}  // namespace lumaret::platform
