// PassZN.hlsl: the depth-and-normal pass of the light pre-pass.
// Reads: the queued geometry (unskinned StaticVertex or skinned SkinnedVertex), the bone
// palette matrixArray, matrixTotal and matrixWorldViewIT, and the normal map on stage 2.
// Writes, into the A8R8G8B8 ZN target: the view-space normal (normal-mapped where the vertex
// carries a tangent frame) in red and green as a sphere-map encoding, and the view-space
// depth / 2048 in 16 bits: the high byte in alpha, the low byte in blue. The clear value
// 0xff800000 has alpha 255, which no surface writes: the light pass reads it as "nothing".
//
// One vertex program serves both layouts. Unskinned vertices carry the normal as UBYTE4
// (0..255 per component, read unnormalised), skinned vertices as FLOAT3: a packed normal is
// longer than 2, a float unit normal has length 1, so the normal's length tells them apart.
// The palette loop's count is 0 for unskinned vertices rather than a branch skipping it: a
// driver that shades vertices in batches runs both sides of a branch, but leaves a loop
// as soon as no vertex of the batch is still in it.
// Skinned vertices are moved by the palette (offset x node matrix per bone, uploaded
// transposed at c64 by the skinned renderable through bonetest.hlsl's constant table;
// the registers outlive the shader switch), weighted by their blend weights.
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
    float4 tangent : TEXCOORD2;
    float4 weights : BLENDWEIGHT;
    float4 bones : BLENDINDICES;
};

struct VertexOut
{
    float4 position : POSITION;
    float2 uv0 : TEXCOORD0;
    float3 normal : TEXCOORD1;
    float4 tangent : TEXCOORD2;
    float depth : TEXCOORD3;
};

VertexOut main(VertexIn input)
{
    VertexOut output;
    float4 position = float4(input.position.xyz, 1.0);
    float3 normal = input.normal.xyz;
    float4 tangent = float4(0.0, 0.0, 0.0, 0.0);
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
    }
    output.position = mul(matrixTotal, position);
    output.uv0 = input.uv0;
    output.normal = mul(matrixWorldViewIT, float4(normal, 0.0)).xyz;
    output.tangent = float4(mul(matrixWorldViewIT, float4(tangent.xyz, 0.0)).xyz, tangent.w);
    output.depth = output.position.w;
    return output;
}

#pixelshader
sampler normalMap : register(s2);

float4 main(float2 uv0 : TEXCOORD0, float3 normal : TEXCOORD1, float4 tangent : TEXCOORD2,
            float depth : TEXCOORD3) : COLOR
{
    float3 n = normalize(normal);
    if (dot(tangent.xyz, tangent.xyz) > 0.01)
    {
        float3 t = normalize(tangent.xyz - n * dot(n, tangent.xyz));
        float3 b = cross(n, t) * tangent.w;
        float3 m = tex2D(normalMap, uv0).xyz * 2.0 - 1.0;
        n = normalize(m.x * t + m.y * b + m.z * n);
    }
    // Sphere-map encoding, singular only for normals pointing straight away from the eye.
    float p = sqrt(max(8.0 - 8.0 * n.z, 0.0001));
    float2 encoded = n.xy / p + 0.5;
    // 16-bit depth, high byte below 255 so that no surface looks like the clear value.
    float d = clamp(depth / 2048.0, 0.0, 65279.0 / 65535.0) * 65535.0;
    float high = floor(d / 256.0);
    float low = d - high * 256.0;
    return float4(encoded, low / 255.0, high / 255.0);
}
