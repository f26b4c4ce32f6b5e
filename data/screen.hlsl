// screen.hlsl: untextured screen quads. The quad's corners arrive in clip space, so the
// vertex program only passes them through; every pixel takes the interpolated vertex colour,
// alpha included, for blended overlays.
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
float4 main(float2 texCoord : TEXCOORD0, float4 color : COLOR0) : COLOR
{
    return color;
}
