// PassLight.hlsl: one light of the light pre-pass, drawn as an additive full-screen quad
// into the light target.
// Reads: the ZN target on stage 0 (point sampling), lightPosition (the light's position
// times view times projection, not divided by w), lightColor, lightInvRangeSq (1 / range^2;
// 0 for the fixed reach below, the demo's light; below 0 for a directional light),
// lightDirection (view space, where a spot or directional light shines; w = 1 / (cos inner
// - cos outer)) and lightCosSpot (cos of a spot's outer edge, -2 without a cone).
// Writes: red, green, blue = lightColor x N.L x falloff; alpha = the specular intensity
// (Blinn-Phong, exponent 32) x N.L x falloff. Pixels where ZN holds nothing get nothing.
// The view-space position comes from the demo camera's projection: 60 degrees vertical
// field of view, aspect 4/3, so ys = cot(30 degrees) = 1.7320508 and xs = ys / (4/3).
#vertexshader
struct VsIn { float4 position : POSITION; float2 texCoord : TEXCOORD0; };
VsIn main(VsIn input) { return input; }

#pixelshader
sampler zn : register(s0);
float4 lightPosition;
float4 lightColor;
float4 lightDirection;
float lightInvRangeSq;
float lightCosSpot;
static const float xs = 1.2990381;
static const float ys = 1.7320508;
static const float depthRange = 2048.0;
static const float lightRadius = 2000.0;
float4 main(float2 uv : TEXCOORD0) : COLOR
{
    float4 g = tex2D(zn, uv);
    if (g.a > 254.5 / 255.0)
        return float4(0.0, 0.0, 0.0, 0.0);
    float2 f = g.xy * 4.0 - 2.0;
    float ff = dot(f, f);
    float3 n = float3(f * sqrt(max(1.0 - ff / 4.0, 0.0)), ff / 2.0 - 1.0);
    float z = (g.a * 255.0 * 256.0 + g.b * 255.0) / 65535.0 * depthRange;
    float2 ndc = float2(uv.x * 2.0 - 1.0, 1.0 - uv.y * 2.0);
    float3 position = float3(ndc.x * z / xs, ndc.y * z / ys, z);
    float3 light = float3(lightPosition.x / xs, lightPosition.y / ys, lightPosition.w);
    float3 toLight = light - position;
    float distance = length(toLight);
    float3 l = toLight / max(distance, 0.001);
    float falloff = 1.0;
    if (lightInvRangeSq < 0.0) {
        l = -lightDirection.xyz;
    } else {
        float reach = lightInvRangeSq > 0.0 ? distance * distance * lightInvRangeSq
                                            : (distance * distance) / (lightRadius * lightRadius);
        float q = saturate(1.0 - reach);
        falloff = q * q;
    }
    if (lightCosSpot > -1.5)
        falloff *= saturate((dot(-l, lightDirection.xyz) - lightCosSpot) * lightDirection.w);
    float nDotL = saturate(dot(n, l));
    float3 h = normalize(l - normalize(position));
    float specular = pow(saturate(dot(n, h)), 32.0);
    float intensity = nDotL * falloff;
    return float4(lightColor.rgb * intensity, specular * intensity);
}
