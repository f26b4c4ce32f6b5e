// Metal/roughness per pixel, for the material pixel programs that light a surface
// (PassForwardMaterial.hlslv, PassBlendMaterial.hlslv), which declare materialAmbient,
// materialDiffuse, floatArray, metalRoughnessMap (stage 6) and roughnessMap (stage 7)
// before including it. A material with metal/roughness maps (floatArray[1].b set) keeps its
// colours as the file gives them, and the blue of stage 6 (metalness) and the green of
// stage 7 (roughness), times the factors in floatArray[1].r and .g, map glTF's model onto
// the engine's lighting as srxconvert maps a material's factors alone: the diffuse colour
// loses the metal's share, the reflectance F0 = 0.04 + (base - 0.04) x metal is the specular
// colour, dimmed by (1 - roughness)^2 because the light pass fixes how sharp a highlight is,
// and half of F0 x metal joins the ambient term in place of the surroundings a metal
// reflects. glTF's one map is on both stages; maps apart are grey, so any channel holds
// their value, and a packed map named as both reads as glTF's does.
void MetalRoughnessLighting(float2 uv, float3 albedo, float3 baked, float3 hemisphere, float4 light,
                            inout float3 diffuse, inout float3 specular)
{
    float metal = saturate(floatArray[1].r * tex2D(metalRoughnessMap, uv).b);
    float rough = saturate(floatArray[1].g * tex2D(roughnessMap, uv).g);
    float3 base = albedo * materialDiffuse.rgb;
    float3 reflectance = 0.04 + (base - 0.04) * metal;
    diffuse = baked * ((1.0 - metal) * (albedo * materialAmbient.rgb * hemisphere + base * light.rgb) +
                       0.5 * reflectance * metal * hemisphere);
    specular = reflectance * (1.0 - rough) * (1.0 - rough) * light.a * baked;
}
