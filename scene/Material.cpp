#include "scene/Material.h"

#include "app/Log.h"
#include "render/Renderer.h"
#include "resources/FileUtil.h"
#include "scene/Renderable.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace {

const char* const kDataFolder = "./data/";
const char* const kDefaultWhite = "./data/default_white.bmp";
const char* const kDefaultNormalMap = "./data/default_nmap.bmp";

// Linear filtering with mip filtering and sRGB reads for colour maps; point filtering
// with mip filtering for the normal map, whose texels are vectors, not colours.
constexpr uint32_t kColorMapSampler = SamplerLinear | SamplerLinearMip | SamplerSrgb;
constexpr uint32_t kNormalMapSampler = SamplerLinearMip;

D3DXVECTOR4 Color(const float rgb[3]) { return D3DXVECTOR4(rgb[0], rgb[1], rgb[2], 1.0f); }

// The name a map bit refers to. The file stores one name per set bit of mapMask, in
// ascending bit order, so a bit's name sits at the rank of the bit among the set bits.
// Empty when the bit is clear or the file gave no name for it.
const std::string& MapName(const SrxMaterial& material, uint16_t bit) {
    static const std::string none;
    if (!(material.mapMask & bit)) return none;
    int rank = std::popcount(static_cast<unsigned>(material.mapMask & (bit - 1u)));
    return rank < srx::MaxMaps ? material.maps[rank] : none;
}

// A map of the extension by its bit; an empty name when the material has none.
const std::string& ExtraMapName(const SrxMaterial& material, uint16_t bit) {
    static const std::string none;
    if (!(material.extraMapMask & bit)) return none;
    return material.extraMaps[std::countr_zero(static_cast<unsigned>(bit))];
}

// A map of the data folder, or the white default (which changes nothing it multiplies).
int MapOrWhite(const std::string& name) {
    int texture = name.empty() ? -1 : gRenderer->FindTexture(kDataFolder + name);
    return texture >= 0 ? texture : gRenderer->FindTexture(kDefaultWhite);
}

// Metal/roughness from maps, per pixel (MetalRoughness.hlsli): a material whose factors
// alone were folded into its colours by srxconvert carries no map and needs nothing here.
bool MetalRoughnessMapped(const SrxMaterial& material) {
    uint16_t maps = srx::ExtraMapMetalRoughness;
    if (material.flags & srx::MaterialMetalRoughnessApart) maps |= srx::ExtraMapRoughness;
    return (material.flags & srx::MaterialMetalRoughness) && (material.extraMapMask & maps);
}

bool Emits(const SrxMaterial& material) {
    return material.emissive[0] > 0.0f || material.emissive[1] > 0.0f || material.emissive[2] > 0.0f;
}

}  // namespace

bool HasMaterialFeatures(const SrxMaterial& material, bool colored) {
    if (colored) return true;
    if (!material.extended) return false;
    bool transformed = std::any_of(std::begin(material.transforms), std::end(material.transforms),
                                   [](const SrxTextureTransform& t) { return !t.IsIdentity(); });
    return (material.flags & (srx::MaterialAlphaMask | srx::MaterialAlphaBlend | srx::MaterialDoubleSided)) ||
           Emits(material) || transformed || (material.extraMapMask & srx::ExtraMapOpacity) ||
           MetalRoughnessMapped(material);
}

void ApplyMaterialFeatures(const SrxMaterial& material, bool colored, bool secondSet,
                           const int (&shaders)[MaterialPassCount], Renderable& renderable) {
    if (!HasMaterialFeatures(material, colored) || shaders[0] < 0 || shaders[1] < 0 || shaders[2] < 0) return;
    ShaderParams& params = renderable.params;
    bool twoSided = material.flags & srx::MaterialDoubleSided;
    params.values[ParamParamsAUX].vector = D3DXVECTOR4(colored ? 1.0f : 0.0f, twoSided ? 1.0f : 0.0f, 0.0f, 0.0f);
    float* values = renderable.materialValues;
    std::copy(material.emissive, material.emissive + 3, values);
    // A cutoff below every alpha when nothing is cut out.
    values[3] = (material.flags & srx::MaterialAlphaMask) ? material.alphaCutoff : -1.0f;
    // The base colour's rgb is the diffuse colour, which the programs read as such: its
    // place carries the metallic and roughness factors, and whether a map scales them.
    values[4] = material.metallic;
    values[5] = material.roughness;
    values[6] = MetalRoughnessMapped(material) ? 1.0f : 0.0f;
    values[7] = material.baseColor[3];
    // Two registers a map slot from the third on: u' = dot(row 0, (u, v, 1)), v' = dot(row 1,
    // (u, v, 1)), and in row 0's w the set (0 or 1) the coordinates come from.
    for (int slot = 0; slot < srx::MapSlotCount; ++slot) {
        const SrxTextureTransform& t = material.transforms[slot];
        float c = std::cos(t.rotation), s = std::sin(t.rotation);
        const float rows[8] = {c * t.scale[0],  s * t.scale[1], t.offset[0], t.uvSet == 1 && secondSet ? 1.0f : 0.0f,
                               -s * t.scale[0], c * t.scale[1], t.offset[1], 0.0f};
        std::copy(rows, rows + 8, values + 8 + 8 * slot);
    }
    params.floatArray = values;
    params.floatArrayCount = 8 + 8 * srx::MapSlotCount;
    params.textures[4] = Emits(material) ? MapOrWhite(ExtraMapName(material, srx::ExtraMapEmissive))
                                         : gRenderer->FindTexture(kDefaultWhite);
    params.textures[5] = MapOrWhite(ExtraMapName(material, srx::ExtraMapOpacity));
    params.samplerFlags[4] = kColorMapSampler;
    params.samplerFlags[5] = SamplerLinear | SamplerLinearMip;
    // Roughness is read from stage 7's green: glTF's one map holds it there beside the
    // metalness, and a map of its own apart is grey (or the same packed map named twice).
    params.textures[6] = MapOrWhite(ExtraMapName(material, srx::ExtraMapMetalRoughness));
    params.textures[7] = (material.flags & srx::MaterialMetalRoughnessApart)
                             ? MapOrWhite(ExtraMapName(material, srx::ExtraMapRoughness))
                             : params.textures[6];
    params.samplerFlags[6] = params.samplerFlags[7] = SamplerLinear | SamplerLinearMip;
    renderable.blended = material.flags & srx::MaterialAlphaBlend;
    if (renderable.blended)
        params.stateFlags = twoSided ? kStateAlphaBlendDepthTestTwoSided : kStateAlphaBlendDepthTest;
    else if (twoSided)
        params.stateFlags = kStateOpaqueTwoSided;
    Renderer::BuildStateList(params);
    std::copy(shaders, shaders + MaterialPassCount, renderable.passShaders);
}

int FindLightmap(const std::string& base) {
    int texture = -1;
    for (const char* suffix : {"_lightmap.jpg", "_lightmap.tga", "_lightmap.dds"}) {
        std::string name = base + suffix;
        texture = gRenderer->FindTexture(name);
        if (texture >= 0) {
            Log::Write("Using lightmap: '%s'\n", name.c_str());
            return texture;
        }
    }
    Log::Write("No lightmap found.\n");
    return texture;
}

void ApplyMaterial(const SrxNode& node, const SrxMaterial& material, Renderable& renderable,
                   const std::string& scenePath) {
    ShaderParams& params = renderable.params;
    params.values[ParamMaterialAmbient].vector = Color(material.ambient);
    params.values[ParamMaterialDiffuse].vector = Color(material.diffuse);
    params.values[ParamMaterialSpecular].vector = Color(material.specular);

    // A map bit without a name counts as no map: there is nothing to look up, and an
    // unbound stage would show whatever the previous draw left there.
    const std::string& diffuseName = MapName(material, srx::MapDiffuse);
    if (!diffuseName.empty()) {
        params.textures[0] = gRenderer->FindTexture(kDataFolder + diffuseName);
        int lightmap = FindLightmap(kDataFolder + std::string(node.name));
        if (lightmap < 0) lightmap = FindLightmap(StripExtension(scenePath));
        if (lightmap < 0) lightmap = gRenderer->FindTexture(kDefaultWhite);
        params.textures[1] = lightmap;
    } else {
        params.textures[0] = params.textures[1] = gRenderer->FindTexture(kDefaultWhite);
    }

    const std::string& normalName = MapName(material, srx::MapNormal);
    params.textures[2] = normalName.empty() ? gRenderer->FindTexture(kDefaultNormalMap)
                                            : gRenderer->FindTexture(kDataFolder + normalName);

    params.samplerFlags[0] = kColorMapSampler;
    params.samplerFlags[1] = kColorMapSampler;
    params.samplerFlags[2] = kNormalMapSampler;
    params.stateFlags = kStateOpaque;
    Renderer::BuildStateList(params);
}
