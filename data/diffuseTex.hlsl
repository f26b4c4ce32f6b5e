// diffuseTex.hlsl: unskinned scene geometry drawn with its own shader (a draw list without
// a pass). Reads the unskinned vertex layout: position, the normal as four unsigned bytes
// (0..255 each, n = b / 127.5 - 1) and texture coordinate 0; matrixTotal places the
// vertex, matrixWorldIT turns the normal into world space. Writes the diffuse map of
// stage 0 (its sampler decodes sRGB) times the material's ambient colour plus its
// diffuse colour under one fixed directional light.
#vertexshader
float4x4 matrixTotal;
float4x4 matrixWorldIT;

struct VertexIn
{
    float3 position : POSITION;
    float4 normal : NORMAL;
    float2 texCoord : TEXCOORD0;
};

struct VertexOut
{
    float4 position : POSITION;
    float2 texCoord : TEXCOORD0;
    float3 normal : TEXCOORD1;
};

VertexOut main(VertexIn input)
{
    VertexOut output;
    output.position = mul(matrixTotal, float4(input.position, 1.0));
    // Packed bytes arrive unnormalised; a float normal (another layout) has length 1.
    float3 normal = input.normal.xyz;
    if (length(normal) > 2.0)
        normal = normal / 127.5 - 1.0;
    output.normal = mul(matrixWorldIT, float4(normal, 0.0)).xyz;
    output.texCoord = input.texCoord;
    return output;
}

#pixelshader
sampler s0 : register(s0);
float4 materialAmbient;
float4 materialDiffuse;

// Towards the light: from above, a little to the right and in front.
static const float3 towardsLight = float3(0.37139068, 0.74278135, -0.55708601);

float4 main(float2 texCoord : TEXCOORD0, float3 normal : TEXCOORD1) : COLOR
{
    float lambert = saturate(dot(normalize(normal), towardsLight));
    float4 albedo = tex2D(s0, texCoord);
    return float4(albedo.rgb * (materialAmbient.rgb + materialDiffuse.rgb * lambert), albedo.a);
}
