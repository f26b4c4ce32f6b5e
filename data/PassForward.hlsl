// PassForward.hlsl: the forward pass of the light pre-pass, into the 16-bit scene target.
// Reads: the queued geometry (as PassZN.hlsl, which explains how one vertex program serves
// unskinned and skinned vertices), the diffuse map on stage 0 (sRGB-decoded), the lightmap on
// stage 1 (second texture coordinates; skinned vertices have none and take 1), the normal
// map on stage 2, the light target on stage 3 (rgb: the lights' diffuse sum, alpha: their
// specular intensity), materialAmbient, materialDiffuse and materialSpecular.
// Writes: linear colour = diffuse map x lightmap x (ambient from a sky/ground hemisphere over
// the normal-mapped normal + materialDiffuse x the light at this pixel) + materialSpecular x
// the specular light. Alpha 1.
//
// The light target is read at the pixel's own screen position: the clip position travels
// to the pixel program, and half a pixel (taken from the screen-space derivatives, which
// are 1/width and 1/height) moves the sample from the pixel's corner, where Direct3D 9
// puts pixel centres, to its texel's centre.
//
// Constant registers: one map for every program that draws skinned geometry (bonetest.hlsl,
// PassZN.hlsl, PassForward.hlsl). bonetest's table writes its parameters while a pass shader
// is bound, so a register means the same parameter in each of them: vertex c0 matrixTotal,
// c4 matrixWorldViewIT, c8 matrixWorldIT, c64 matrixArray; pixel c0 materialAmbient,
// c1 materialDiffuse, c2 materialSpecular.
#vertexshader
float4x4 matrixTotal : register(c0);
float4x4 matrixWorldViewIT : register(c4);
float4x4 matrixArray[48] : register(c64);
#include "Skinning.hlsli"

struct VertexIn
{
    float4 position : POSITION;
    float4 normal : NORMAL;
    float2 uv0 : TEXCOORD0;
    float2 uv1 : TEXCOORD1;
    float4 tangent : TEXCOORD2;
    float4 weights : BLENDWEIGHT;
    float4 bones : BLENDINDICES;
};

struct VertexOut
{
    float4 position : POSITION;
    float2 uv0 : TEXCOORD0;
    float3 uv1 : TEXCOORD1;
    float3 normal : TEXCOORD2;
    float4 tangent : TEXCOORD3;
    float4 screen : TEXCOORD4;
};

VertexOut main(VertexIn input)
{
    VertexOut output;
    float4 position = float4(input.position.xyz, 1.0);
    float3 normal = input.normal.xyz;
    float4 tangent = float4(0.0, 0.0, 0.0, 0.0);
    float hasLightmap = 1.0;
    // Packed normals mark unskinned vertices. The palette loop runs for skinned ones only:
    // its count, not a branch around it, is what lets a batch of unskinned vertices skip it.
    bool packed = dot(normal, normal) > 4.0;
    int influences = packed ? 0 : 4;
    float4 skinned;
    float3 skinnedNormal;
    SkinVertex(input.weights, input.bones, influences, position, normal, skinned, skinnedNormal);
    if (packed)
    {
        normal = normal / 127.5 - 1.0;
        tangent.xyz = input.tangent.xyz / 127.5 - 1.0;
        tangent.w = input.tangent.w > 127.0 ? 1.0 : -1.0;
    }
    else
    {
        position = float4(skinned.xyz, 1.0);
        normal = skinnedNormal;
        hasLightmap = 0.0;
    }
    output.position = mul(matrixTotal, position);
    output.uv0 = input.uv0;
    output.uv1 = float3(input.uv1, hasLightmap);
    output.normal = mul(matrixWorldViewIT, float4(normal, 0.0)).xyz;
    output.tangent = float4(mul(matrixWorldViewIT, float4(tangent.xyz, 0.0)).xyz, tangent.w);
    output.screen = output.position;
    return output;
}

#pixelshader
sampler diffuseMap : register(s0);
sampler lightMap : register(s1);
sampler normalMap : register(s2);
sampler lightBuffer : register(s3);
float4 materialAmbient : register(c0);
float4 materialDiffuse : register(c1);
float4 materialSpecular : register(c2);

static const float3 skyColor = float3(0.30, 0.33, 0.40);
static const float3 groundColor = float3(0.10, 0.09, 0.08);

float4 main(float2 uv0 : TEXCOORD0, float3 uv1 : TEXCOORD1, float3 normal : TEXCOORD2, float4 tangent : TEXCOORD3,
            float4 screen : TEXCOORD4) : COLOR
{
    float3 n = normalize(normal);
    if (dot(tangent.xyz, tangent.xyz) > 0.01)
    {
        float3 t = normalize(tangent.xyz - n * dot(n, tangent.xyz));
        float3 b = cross(n, t) * tangent.w;
        float3 m = tex2D(normalMap, uv0).xyz * 2.0 - 1.0;
        n = normalize(m.x * t + m.y * b + m.z * n);
    }
    float2 at = float2(0.5 * screen.x / screen.w + 0.5, 0.5 - 0.5 * screen.y / screen.w);
    at += 0.5 * float2(abs(ddx(at.x)), abs(ddy(at.y)));
    float4 light = tex2D(lightBuffer, at);

    float3 albedo = tex2D(diffuseMap, uv0).rgb;
    float3 baked = uv1.z > 0.5 ? tex2D(lightMap, uv1.xy).rgb : float3(1.0, 1.0, 1.0);
    // View space is left-handed with y up: n.y is how much the surface faces the sky.
    float3 hemisphere = lerp(groundColor, skyColor, n.y * 0.5 + 0.5);
    float3 diffuse = albedo * baked * (materialAmbient.rgb * hemisphere + materialDiffuse.rgb * light.rgb);
    float3 specular = materialSpecular.rgb * light.a * baked;
    return float4(diffuse + specular, 1.0);
}
