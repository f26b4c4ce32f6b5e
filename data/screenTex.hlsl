// screenTex.hlsl: textured screen quads, such as text from a font texture (white texels with
// the glyph coverage in alpha). The quad's corners arrive in clip space; every pixel is the
// texel of stage 0 tinted by the interpolated vertex colour.
#vertexshader
struct VertexIn
{
    float3 position : POSITION;
    float2 texCoord : TEXCOORD0;
    float4 color : COLOR0;
};

struct VertexOut
{
    float4 position : POSITION;
    float2 texCoord : TEXCOORD0;
    float4 color : COLOR0;
};

VertexOut main(VertexIn input)
{
    VertexOut output;
    output.position = float4(input.position, 1.0);
    output.texCoord = input.texCoord;
    output.color = input.color;
    return output;
}

#pixelshader
sampler s0 : register(s0);

float4 main(float2 texCoord : TEXCOORD0, float4 color : COLOR0) : COLOR
{
    return tex2D(s0, texCoord) * color;
}
