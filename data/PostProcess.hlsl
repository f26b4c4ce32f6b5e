// PostProcess.hlsl: the final composite of the PostFX chain into the back buffer.
// Reads: the full-size scene on stage 0 (linear colour, 16 bits per channel), the 3 x 3
// blurred quarter-size scene on stage 1 and the fully blurred one on stage 2, paramsAUX
// (x: the frame's log-average luminance, y: the bloom factor) and paramsDOF (1/width,
// 1/height, 1/quarter width, 1/quarter height; not needed here).
// Writes: the exposed scene plus a soft bloom of its bright parts, tone-mapped and encoded
// for display (gamma 2.2), alpha 1.
//
// Exposure follows the luminance half way, as the eye does: exposure ~ 1 / sqrt(L), within
// limits. The demo's frames have much empty black background, which pulls the log-average
// far below the objects' own brightness; scaling by the full inverse would wash them out.
#vertexshader
struct VsIn { float4 position : POSITION; float2 texCoord : TEXCOORD0; };
VsIn main(VsIn input) { return input; }

#pixelshader
sampler scene : register(s0);
sampler blurSoft : register(s1);
sampler blurWide : register(s2);
float4 paramsAUX;

static const float exposureKey = 0.25;
static const float minExposure = 0.5;
static const float maxExposure = 4.0;
static const float bloomGain = 40.0;
static const float bloomThreshold = 0.3;

float4 main(float2 uv : TEXCOORD0) : COLOR
{
    float exposure = clamp(exposureKey / sqrt(max(paramsAUX.x, 0.0001)), minExposure, maxExposure);
    float3 color = tex2D(scene, uv).rgb * exposure;
    float3 blurred = (0.4 * tex2D(blurSoft, uv).rgb + 0.6 * tex2D(blurWide, uv).rgb) * exposure;
    float3 bloom = max(blurred - bloomThreshold, 0.0) * paramsAUX.y * bloomGain;
    color += bloom;
    // Reinhard on each channel, white point 2.
    color = color * (1.0 + color / 4.0) / (1.0 + color);
    return float4(pow(saturate(color), 1.0 / 2.2), 1.0);
}
