// PassLightBounded.hlsl: lights with a range, drawn additively into the light target, each
// as the screen rectangle its range can reach; any number of them in one draw.
// Every corner of a light's rectangle carries the light (the vertices are pretransformed,
// so no vertex program runs; the section below only completes the file):
//   TEXCOORD0  the ZN target's coordinates at the pixel
//   TEXCOORD1  the light's view-space position, 1 / range^2
//   TEXCOORD2  its colour, its range
//   TEXCOORD3  view-space direction of a spot's cone, cos of its outer edge (-2: no cone)
//   TEXCOORD4  the projection's xs and ys, 1 / (cos inner - cos outer)
// Reads the ZN target on stage 0 (point sampling), as PassLight.hlsl does, and writes what
// it writes for the same light: red, green, blue = colour x N.L x falloff, alpha = the
// specular intensity x N.L x falloff, with falloff (1 - d^2 / range^2)^2.
// Pixels further than the range in front of or behind the light are left at once, before
// the normal is decoded: most of a rectangle lies there.
#vertexshader
struct VsIn { float4 position : POSITION; float2 texCoord : TEXCOORD0; };
VsIn main(VsIn input) { return input; }

#pixelshader
sampler zn : register(s0);
static const float depthRange = 2048.0;

struct LightIn
{
    float2 uv : TEXCOORD0;
    float4 position : TEXCOORD1;
    float4 color : TEXCOORD2;
    float4 spot : TEXCOORD3;
    float4 frame : TEXCOORD4;
};

float4 main(LightIn input) : COLOR
{
    float4 g = tex2D(zn, input.uv);
    float z = (g.a * 255.0 * 256.0 + g.b * 255.0) / 65535.0 * depthRange;
    // The ZN clear value decodes past the depth range and fails this bound too.
    if (g.a > 254.5 / 255.0 || abs(z - input.position.z) > input.color.w)
        return float4(0.0, 0.0, 0.0, 0.0);
    float2 ndc = float2(input.uv.x * 2.0 - 1.0, 1.0 - input.uv.y * 2.0);
    float3 position = float3(ndc.x * z / input.frame.x, ndc.y * z / input.frame.y, z);
    float3 toLight = input.position.xyz - position;
    float distanceSq = dot(toLight, toLight);
    float q = saturate(1.0 - distanceSq * input.position.w);
    if (q <= 0.0)
        return float4(0.0, 0.0, 0.0, 0.0);
    float2 f = g.xy * 4.0 - 2.0;
    float ff = dot(f, f);
    float3 n = float3(f * sqrt(max(1.0 - ff / 4.0, 0.0)), ff / 2.0 - 1.0);
    float3 l = toLight / max(sqrt(distanceSq), 0.001);
    float falloff = q * q;
    if (input.spot.w > -1.5)
        falloff *= saturate((dot(-l, input.spot.xyz) - input.spot.w) * input.frame.z);
    float nDotL = saturate(dot(n, l));
    float3 h = normalize(l - normalize(position));
    float specular = pow(saturate(dot(n, h)), 32.0);
    float intensity = nDotL * falloff;
    return float4(input.color.rgb * intensity, specular * intensity);
}
