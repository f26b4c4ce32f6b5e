// The shaders of a textured screen quad: the quad's corners arrive in clip space and pass
// through with their texture coordinates; the pixel shader samples sampler 0. The logo, the
// World's copy steps and PostFX's filters (with their own pixel shaders) draw with them.
#pragma once

inline constexpr const char* kScreenQuadVertexShader =
    "struct VsIn { float4 position: POSITION; float2 texCoord: TEXCOORD; }; VsIn main(VsIn inp){ return inp; }";
inline constexpr const char* kPassThroughPixelShader =
    "sampler s0 : register(s0); float4 main(float2 vScreenPosition : TEXCOORD0) : COLOR { return tex2D(s0, "
    "vScreenPosition); }";
