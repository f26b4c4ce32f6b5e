// bonetest.hlsl: skinned scene geometry drawn with its own shader, and the constant table
// through which every skinned renderable uploads its bone palette. matrixArray sits at
// c64..c255, where every pass shader declares it too: constant registers outlive shader
// changes, so the palette uploaded through this table is what the bound pass reads.
// Reads the skinned vertex layout: position, float normal, texture coordinate 0, four
// blend weights and four bone numbers. Each palette entry is offset x node matrix, so the
// weighted sum is the skinned object-local position; matrixTotal then places it.
// Writes the same colour as diffuseTex.hlsl: the diffuse map of stage 0 times the
// material's ambient colour plus its diffuse colour under one fixed directional light.
//
// Constant registers: one map for every program that draws skinned geometry (bonetest.hlsl,
// PassZN.hlsl, PassForward.hlsl). bonetest's table writes its parameters while a pass shader
// is bound, so a register means the same parameter in each of them: vertex c0 matrixTotal,
// c4 matrixWorldViewIT, c8 matrixWorldIT, c64 matrixArray; pixel c0 materialAmbient,
// c1 materialDiffuse, c2 materialSpecular.
#vertexshader
float4x4 matrixTotal : register(c0);
float4x4 matrixWorldIT : register(c8);
float4x4 matrixArray[48] : register(c64);

struct VertexIn
{
    float3 position : POSITION;
    float3 normal : NORMAL;
    float2 texCoord : TEXCOORD0;
    float4 weights : BLENDWEIGHT;
    float4 bones : BLENDINDICES;
};

struct VertexOut
{
    float4 position : POSITION;
    float2 texCoord : TEXCOORD0;
    float3 normal : TEXCOORD1;
};

VertexOut main(VertexIn input)
{
    float4 position = float4(input.position, 1.0);
    float4 normal = float4(input.normal, 0.0);
    float3 skinnedPosition = float3(0.0, 0.0, 0.0);
    float3 skinnedNormal = float3(0.0, 0.0, 0.0);
    for (int i = 0; i < 4; ++i)
    {
        // The scene build keeps bone numbers below the bone count; the clamp keeps any
        // other geometry inside the array.
        int bone = min((int)input.bones[i], 47);
        skinnedPosition += input.weights[i] * mul(matrixArray[bone], position).xyz;
        skinnedNormal += input.weights[i] * mul(matrixArray[bone], normal).xyz;
    }
    VertexOut output;
    output.position = mul(matrixTotal, float4(skinnedPosition, 1.0));
    output.normal = mul(matrixWorldIT, float4(skinnedNormal, 0.0)).xyz;
    output.texCoord = input.texCoord;
    return output;
}

#pixelshader
sampler s0 : register(s0);
float4 materialAmbient : register(c0);
float4 materialDiffuse : register(c1);

// Towards the light: from above, a little to the right and in front.
static const float3 towardsLight = float3(0.37139068, 0.74278135, -0.55708601);

float4 main(float2 texCoord : TEXCOORD0, float3 normal : TEXCOORD1) : COLOR
{
    float lambert = saturate(dot(normalize(normal), towardsLight));
    float4 albedo = tex2D(s0, texCoord);
    return float4(albedo.rgb * (materialAmbient.rgb + materialDiffuse.rgb * lambert), albedo.a);
}
