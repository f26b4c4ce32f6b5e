// Materials and lightmaps: which loaded texture each stage receives, and the log lines of
// the lightmap search, against a texture registry filled by hand.
#include "scene/Material.h"
#include "scene/SceneTestSupport.h"

using scenetest::RecordedWorldTest;

namespace {

const char* const kWhite = "./data/default_white.bmp";
const char* const kFlat = "./data/default_nmap.bmp";

struct MaterialCase {
    const char* what;
    std::vector<std::string> loaded;  // registry keys, in registry order
    const char* node;
    const char* scene;
    uint16_t mapMask;
    std::vector<std::string> maps;
    const char* stages[3];  // expected key per stage, "" for none (-1)
    const char* log;
};

// clang-format off
const MaterialCase kCases[] = {
    {"without a diffuse map: white defaults and no lightmap search",
     {kWhite, kFlat, "./data/box_lightmap.jpg"}, "box", "./data/s.srx", 0, {},
     {kWhite, kWhite, kFlat}, ""},
    {"lightmaps by node name: .jpg first",
     {"./data/brick.tga", "./data/box_lightmap.dds", "./data/box_lightmap.tga", "./data/box_lightmap.jpg", kFlat},
     "box", "./data/s.srx", srx::MapDiffuse, {"brick.tga"},
     {"./data/brick.tga", "./data/box_lightmap.jpg", kFlat}, "Using lightmap: './data/box_lightmap.jpg'\n"},
    {".tga before .dds", {"./data/box_lightmap.dds", "./data/box_lightmap.tga"}, "box", "./data/s.srx",
     srx::MapDiffuse, {"brick.tga"}, {"", "./data/box_lightmap.tga", ""}, "Using lightmap: './data/box_lightmap.tga'\n"},
    {".dds last", {"./data/box_lightmap.dds"}, "box", "./data/s.srx", srx::MapDiffuse, {"brick.tga"},
     {"", "./data/box_lightmap.dds", ""}, "Using lightmap: './data/box_lightmap.dds'\n"},
    {"look-ups lower-case the node name", {"./data/box_lightmap.jpg"}, "Box", "./data/s.srx", srx::MapDiffuse,
     {"brick.tga"}, {"", "./data/box_lightmap.jpg", ""}, "Using lightmap: './data/Box_lightmap.jpg'\n"},
    {"then the scene stem, lower-cased", {"./data/cylcube01_lightmap.jpg", kWhite}, "pipe", "./data/CylCube01.srx",
     srx::MapDiffuse, {"brick.tga"}, {"", "./data/cylcube01_lightmap.jpg", ""},
     "No lightmap found.\nUsing lightmap: './data/cylcube01_lightmap.jpg'\n"},
    {"then the white default", {kWhite, "./data/brick.tga"}, "pipe", "./data/s.srx", srx::MapDiffuse,
     {"brick.tga"}, {"./data/brick.tga", kWhite, ""}, "No lightmap found.\nNo lightmap found.\n"},
    {"the normal map is the name at the rank of bit 0x10", {kWhite, "./data/bump.dds", "./data/brick.tga"}, "pipe",
     "./data/s.srx", srx::MapDiffuse | srx::MapNormal, {"brick.tga", "bump.dds"},
     {"./data/brick.tga", kWhite, "./data/bump.dds"}, "No lightmap found.\nNo lightmap found.\n"},
    {"bit 0x10 alone has its one name", {kWhite, "./data/bump.dds"}, "pipe", "./data/s.srx", srx::MapNormal,
     {"bump.dds"}, {kWhite, kWhite, "./data/bump.dds"}, ""},
    {"a map bit between them moves the normal map's name", {kWhite, "./data/bump.dds", "./data/gloss.tga"}, "pipe",
     "./data/s.srx", srx::MapDiffuse | 0x2 | srx::MapNormal, {"brick.tga", "gloss.tga", "bump.dds"},
     {"", kWhite, "./data/bump.dds"}, "No lightmap found.\nNo lightmap found.\n"},
    {"a normal map that is not loaded leaves its stage alone", {kWhite, kFlat}, "pipe", "./data/s.srx",
     srx::MapNormal, {"gone.dds"}, {kWhite, kWhite, ""}, ""},
    {"a diffuse bit without a name counts as no diffuse map", {kWhite, kFlat, "./data/box_lightmap.jpg"}, "box",
     "./data/s.srx", srx::MapDiffuse, {""}, {kWhite, kWhite, kFlat}, ""},
};
// clang-format on

// Cases are named by what they check, in test names and failure messages alike.
void PrintTo(const MaterialCase& c, std::ostream* out) { *out << c.what; }

class MaterialTest : public RecordedWorldTest, public testing::WithParamInterface<MaterialCase> {};

TEST_P(MaterialTest, StagesAndLightmapSearch) {
    const MaterialCase& c = GetParam();
    for (const std::string& key : c.loaded) AddTexture(key);
    SrxMaterial material = srxtest::Material("m", c.mapMask, {});
    for (size_t i = 0; i < c.maps.size(); ++i) material.maps[i] = c.maps[i];
    SrxNode node = srxtest::Node(c.node, 0, 0);
    Renderable r;
    ApplyMaterial(node, material, r, c.scene);
    for (int stage = 0; stage < 3; ++stage) {
        std::string expected = c.stages[stage];
        int id = r.params.textures[stage];
        std::string got = id >= 0 ? renderer->textures[static_cast<size_t>(id)].name : "";
        EXPECT_EQ(got, expected) << c.what << ", stage " << stage;
    }
    for (int stage = 3; stage < kShaderTextureStages; ++stage) EXPECT_EQ(r.params.textures[stage], -1);
    EXPECT_EQ(NewLog(), c.log) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Cases, MaterialTest, testing::ValuesIn(kCases));

TEST_F(RecordedWorldTest, MaterialColoursSamplersAndOpaqueStates) {
    SrxMaterial material = srxtest::Material("m");
    for (int c = 0; c < 3; ++c) {
        material.ambient[c] = 0.1f * static_cast<float>(c + 1);
        material.diffuse[c] = 0.2f * static_cast<float>(c + 1);
        material.specular[c] = 0.3f * static_cast<float>(c + 1);
    }
    Renderable r;
    ApplyMaterial(srxtest::Node("n", 0, 0), material, r, "s.srx");
    auto colour = [](const float rgb[3]) { return D3DXVECTOR4(rgb[0], rgb[1], rgb[2], 1.0f); };
    const ShaderParamValue* v = r.params.values;
    EXPECT_EQ(v[ParamMaterialAmbient].vector, colour(material.ambient));
    EXPECT_EQ(v[ParamMaterialDiffuse].vector, colour(material.diffuse));
    EXPECT_EQ(v[ParamMaterialSpecular].vector, colour(material.specular));
    EXPECT_EQ(r.params.samplerFlags[0], 11u);
    EXPECT_EQ(r.params.samplerFlags[1], 11u);
    EXPECT_EQ(r.params.samplerFlags[2], 2u);
    EXPECT_EQ(r.params.stateFlags, 111u);
    // Compiled at once: depth, cull, fill, colour mask and blending pairs.
    EXPECT_EQ(r.params.stateListSize, 14);
}

}  // namespace
