// The uniform block the layer gives every vertex and pixel stage besides the shader's own
// constants, as one C++ record and the GLSL declaration it must match member for member.
#pragma once

#include <epoxy/gl.h>

#include <cstddef>

namespace lumaret::platform {

constexpr GLuint kInternalBinding = 2;

struct InternalUniforms {
    // Clip-space shift of just under half a pixel, so that Direct3D 9's integer pixel
    // centres land on GL's half-integer ones (x, y; z, w unused).
    float pixelOffset[4] = {};
    // 2 / target width and height, for pretransformed vertices (x, y; z, w unused).
    float targetScale[4] = {};
    // x: stage 0 holds a 2D texture (the fixed-function pixel stage samples it).
    float flags[4] = {};
};

// std140: three vec4s, each at a 16-byte boundary, in declaration order.
static_assert(offsetof(InternalUniforms, pixelOffset) == 0);
static_assert(offsetof(InternalUniforms, targetScale) == 16);
static_assert(offsetof(InternalUniforms, flags) == 32);
static_assert(sizeof(InternalUniforms) == 48);

inline constexpr const char* kInternalUniformsGlsl =
    "layout(std140, binding = 2) uniform LumaretInternal {\n"
    "    vec4 lumaretPixelOffset;\n"
    "    vec4 lumaretTargetScale;\n"
    "    vec4 lumaretFlags;\n"
    "};\n";

}  // namespace lumaret::platform
