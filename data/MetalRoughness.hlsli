// Metal/roughness per pixel, for the material pixel programs that light a surface
// (PassForwardMaterial.hlslv, PassBlendMaterial.hlslv), which declare materialAmbient,
// materialDiffuse and floatArray before including it. A material with a metal/roughness map
// (floatArray[1].b set) keeps its colours as the file gives them, and the map's blue
// (metalness) and green (roughness), times the factors in floatArray[1].r and .g, map glTF's
// model onto the engine's lighting as srxconvert maps a material's factors alone: the
// diffuse colour loses the metal's share, the reflectance F0 = 0.04 + (base - 0.04) x metal
// is the specular colour, dimmed by (1 - roughness)^2 because the light pass fixes how sharp
// a highlight is, and half of F0 x metal joins the ambient term in place of the
// surroundings a metal reflects.
void MetalRoughnessLighting(float4 texel, float3 albedo, float3 baked, float3 hemisphere, float4 light,
                            inout float3 diffuse, inout float3 specular)
{
    float metal = saturate(floatArray[1].r * texel.b);
    float rough = saturate(floatArray[1].g * texel.g);
    float3 base = albedo * materialDiffuse.rgb;
    float3 reflectance = 0.04 + (base - 0.04) * metal;
    diffuse = baked * ((1.0 - metal) * (albedo * materialAmbient.rgb * hemisphere + base * light.rgb) +
                       0.5 * reflectance * metal * hemisphere);
    specular = reflectance * (1.0 - rough) * (1.0 - rough) * light.a * baked;
}
