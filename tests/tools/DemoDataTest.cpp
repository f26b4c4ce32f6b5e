// The demo's data: demogen reproduces the committed files byte for byte, and the committed
// scene imports into the model the demo relies on: a two-material cube whose triangles face
// out after the engine's handedness conversion, and a skinned cylinder that stays on the
// cube, bends both ways over the animation clock and does not tear at its joints.
#include "d3dx9/ImageDecoder.h"
#include "import/KeyframeController.h"
#include "import/SrxScene.h"
#include "support/TempDir.h"
#include "ToolRun.h"

#include <d3dx9.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

using lumaret::test::ReadFileBytes;
using lumaret::test::RunTool;
using lumaret::test::SourceDir;

namespace {

const char* const kDemoFiles[] = {"cylcube01.srx",         "cylcube01_bricks.png",   "cylcube01_bricks_nm.png",
                                  "cylcube01_plate.png",   "cylcube01_plate_nm.png", "cylcube01_tiles.png",
                                  "cylcube01_lightmap.jpg"};

std::string DataFile(const std::string& name) { return SourceDir() + "/data/" + name; }

// Imports the committed scene; the importer logs into the working directory.
SrxScene ImportDemoScene() {
    lumaret::test::ScopedTempDir dir;
    std::string bytes = ReadFileBytes(DataFile("cylcube01.srx"));
    return SrxScene(bytes.data(), bytes.size(), MissingPrimitive::EndImport);
}

struct Texels {
    int width = 0, height = 0;
    std::vector<D3DXVECTOR3> rgb;  // 0..1 per channel
    const D3DXVECTOR3& At(int x, int y) const { return rgb[static_cast<size_t>(y) * width + x]; }
};

bool Decode(const std::string& name, Texels* texels) {
    std::string bytes = ReadFileBytes(DataFile(name));
    lumaret::platform::DecodedImage image;
    if (bytes.empty() || FAILED(lumaret::platform::DecodeImage(bytes.data(), bytes.size(), image))) return false;
    const lumaret::platform::ImageSurface& surface = image.Surface(0, 0);
    size_t bytesPerTexel = surface.rowPitch / surface.width;
    if (bytesPerTexel != 3 && bytesPerTexel != 4) return false;
    texels->width = static_cast<int>(surface.width);
    texels->height = static_cast<int>(surface.height);
    for (UINT y = 0; y < surface.height; ++y)
        for (UINT x = 0; x < surface.width; ++x) {
            const uint8_t* t = surface.Row(y) + x * bytesPerTexel;  // B, G, R
            texels->rgb.emplace_back(t[2] / 255.0f, t[1] / 255.0f, t[0] / 255.0f);
        }
    return true;
}

// What the engine's scene build makes of a file position: z negated.
D3DXVECTOR3 EnginePosition(const SrxVertex& v) { return {v.position[0], v.position[1], -v.position[2]}; }

D3DXVECTOR3 Transform(const D3DXVECTOR3& p, const D3DXMATRIX& m) {
    D3DXVECTOR4 q;
    D3DXVec3Transform(&q, &p, &m);
    return {q.x, q.y, q.z};
}

const SrxPrimitive& Cylinder(const SrxScene& scene) { return scene.meshes.at(1).primitives.at(0); }

}  // namespace

TEST(DemoGen, RerunReproducesTheCommittedFilesByteForByte) {
    lumaret::test::ScopedTempDir dir;
    std::filesystem::create_directory("out");
    lumaret::test::ToolRun run = RunTool("tools/demogen/demogen", "-o out");
    ASSERT_EQ(run.status, 0) << run.output;
    std::set<std::string> written;
    for (const auto& entry : std::filesystem::directory_iterator("out")) written.insert(entry.path().filename());
    EXPECT_EQ(written, std::set<std::string>(std::begin(kDemoFiles), std::end(kDemoFiles)));
    for (const char* name : kDemoFiles) {
        std::string generated = ReadFileBytes(std::string("out/") + name);
        EXPECT_FALSE(generated.empty()) << name;
        EXPECT_TRUE(generated == ReadFileBytes(DataFile(name))) << name << " differs from data/" << name;
    }
}

TEST(DemoGen, SaysWhatWentWrong) {
    lumaret::test::ScopedTempDir dir;
    lumaret::test::ToolRun help = RunTool("tools/demogen/demogen", "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("usage: demogen"), std::string::npos) << help.output;
    lumaret::test::WriteFileBytes("a-file", "x");
    struct Case {
        const char* arguments;
        int status;
        const char* says;
    };
    for (Case c : {Case{"", 1, "no output directory"}, Case{"-o", 1, "needs a directory"},
                   Case{"--size 3", 1, "unknown option --size"}, Case{"-o no-such-dir", 4, "not a directory"},
                   Case{"-o a-file", 4, "not a directory"}}) {
        lumaret::test::ToolRun run = RunTool("tools/demogen/demogen", c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << c.arguments << ": " << run.output;
    }
}

TEST(DemoScene, ImportsTwoMeshesThreeMaterialsAndFourAnimatedBones) {
    SrxScene scene = ImportDemoScene();
    ASSERT_TRUE(scene.importError.empty()) << scene.importError;

    // Each material has its own diffuse map; the cube's two have normal maps. Every map is
    // a committed image of the size the generator draws.
    struct ExpectedMaterial {
        const char* name;
        uint16_t mapMask;
        const char* diffuse;
        const char* normal;
    };
    const ExpectedMaterial materials[] = {{"cube_sides", 0x11, "cylcube01_bricks.png", "cylcube01_bricks_nm.png"},
                                          {"cube_caps", 0x11, "cylcube01_plate.png", "cylcube01_plate_nm.png"},
                                          {"cylinder", 0x01, "cylcube01_tiles.png", ""}};
    ASSERT_EQ(scene.materials.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        const SrxMaterial& m = scene.materials[i];
        SCOPED_TRACE(materials[i].name);
        EXPECT_STREQ(m.name, materials[i].name);
        EXPECT_EQ(m.mapMask, materials[i].mapMask);
        EXPECT_EQ(m.maps[0], materials[i].diffuse);
        EXPECT_EQ(m.maps[1], materials[i].normal);
        for (const std::string& map : {m.maps[0], m.maps[1]}) {
            if (map.empty()) continue;
            Texels texels;
            EXPECT_TRUE(Decode(map, &texels)) << map;
            EXPECT_EQ(texels.width, 256) << map;
            EXPECT_EQ(texels.height, 256) << map;
        }
    }

    // The lightmap is found through the scene's stem only: no node has one of its own.
    EXPECT_TRUE(std::filesystem::exists(DataFile("cylcube01_lightmap.jpg")));
    const char* const nodeNames[] = {"Cube", "Cylinder", "Bone01", "Bone02", "Bone03", "Bone04"};
    ASSERT_EQ(scene.nodes.size(), 6u);
    for (size_t i = 0; i < scene.nodes.size(); ++i) {
        const SrxNode& node = scene.nodes[i];
        EXPECT_STREQ(node.name, nodeNames[i]);
        EXPECT_EQ(node.id, i);
        std::string stem = node.name;
        std::transform(stem.begin(), stem.end(), stem.begin(), [](unsigned char c) { return std::tolower(c); });
        for (const char* extension : {".jpg", ".tga", ".dds"})
            EXPECT_FALSE(std::filesystem::exists(DataFile(stem + "_lightmap" + extension))) << stem;
        // Bones carry a sampled-transform track with a key on every frame of the clock
        // (0, 24, ..., 600) and one at 624 to close the last interval.
        bool bone = i >= 2;
        EXPECT_EQ(node.trackFlags, bone ? 0x80 : 0) << node.name;
        if (!bone) continue;
        const SrxTrack& track = node.tracks[srx::SlotSampledTransform];
        ASSERT_EQ(track.keys.size(), 27u) << node.name;
        for (size_t k = 0; k < track.keys.size(); ++k) EXPECT_EQ(track.keys[k].time, 24 * k);
    }

    ASSERT_EQ(scene.meshes.size(), 2u);
    const SrxMesh& cube = scene.meshes[0];
    EXPECT_EQ(cube.node, 0);
    EXPECT_TRUE(cube.boneNodes.empty());
    ASSERT_EQ(cube.primitives.size(), 2u);
    for (size_t p = 0; p < 2; ++p) {
        const SrxPrimitive& primitive = cube.primitives[p];
        EXPECT_EQ(primitive.material, p);
        EXPECT_EQ(primitive.streamFlags, 0x0Fu) << "positions, normals and both texture coordinate sets";
        for (const SrxVertex& v : primitive.vertices)
            for (int c = 0; c < 3; ++c) EXPECT_FLOAT_EQ(std::abs(v.position[c]), 60.0f);
    }
    EXPECT_EQ(cube.primitives[0].vertexCount + cube.primitives[1].vertexCount, 24);

    const SrxMesh& cylinder = scene.meshes[1];
    EXPECT_EQ(cylinder.node, 1);
    EXPECT_EQ(cylinder.boneNodes, (std::vector<int32_t>{2, 3, 4, 5}));
    ASSERT_EQ(cylinder.primitives.size(), 1u);
    EXPECT_EQ(Cylinder(scene).material, 2);
    EXPECT_EQ(Cylinder(scene).streamFlags, 0x17u) << "no second set, weights";
    for (const SrxVertex& v : Cylinder(scene).vertices) {
        ASSERT_TRUE(v.influenceCount >= 1 && v.influenceCount <= 2);
        float sum = 0.0f;
        for (int i = 0; i < v.influenceCount; ++i) {
            EXPECT_LT(v.bones[i], 4);
            sum += v.weights[i];
        }
        EXPECT_NEAR(sum, 1.0f, 1e-6f);
    }
}

// Direct3D 9 draws, under the engine's counter-clockwise culling, the triangles that are
// clockwise on screen: in its left-handed coordinates those whose (v1 - v0) x (v2 - v0)
// points at the viewer. After the engine's conversion (z negated, corners i0, i2, i1) that
// normal must point out of the solid for every triangle, or the model shows its inside.
TEST(DemoScene, EveryTriangleFacesOutAfterTheEnginesConversion) {
    SrxScene scene = ImportDemoScene();
    ASSERT_EQ(scene.meshes.size(), 2u);
    for (size_t m = 0; m < 2; ++m)
        for (const SrxPrimitive& primitive : scene.meshes[m].primitives) {
            ASSERT_EQ(primitive.indices.size(), primitive.faceCount * 3u);
            for (size_t f = 0; f < primitive.faceCount; ++f) {
                const uint16_t* i = &primitive.indices[3 * f];
                ASSERT_TRUE(i[0] < primitive.vertexCount && i[1] < primitive.vertexCount &&
                            i[2] < primitive.vertexCount);
                D3DXVECTOR3 a = EnginePosition(primitive.vertices[i[0]]);
                D3DXVECTOR3 b = EnginePosition(primitive.vertices[i[2]]);
                D3DXVECTOR3 c = EnginePosition(primitive.vertices[i[1]]);
                D3DXVECTOR3 front, ab = b - a, ac = c - a;
                D3DXVec3Cross(&front, &ab, &ac);
                D3DXVECTOR3 centre = (a + b + c) / 3.0f;
                // The cube's centre, or the nearest point of the cylinder's axis inside it.
                D3DXVECTOR3 inside(0.0f, m == 0 ? 0.0f : std::clamp(centre.y, 61.0f, 155.0f), 0.0f);
                D3DXVECTOR3 out = centre - inside;
                EXPECT_GT(D3DXVec3Dot(&front, &out), 0.0f) << "mesh " << m << " triangle " << f;
            }
        }
}

// The bones through the engine's own track evaluation and palette rule (offset x node
// matrix), at every time the animation clock shows.
TEST(DemoScene, CylinderBendsBothWaysStaysOnTheCubeAndHoldsTogether) {
    SrxScene scene = ImportDemoScene();
    ASSERT_EQ(scene.meshes.size(), 2u);
    const SrxMesh& mesh = scene.meshes[1];
    ASSERT_EQ(mesh.boneNodes.size(), 4u);
    std::vector<KeyframeController> controllers(4);
    for (size_t j = 0; j < 4; ++j) {
        const SrxTrack& track =
            scene.nodes.at(static_cast<size_t>(mesh.boneNodes[j])).tracks[srx::SlotSampledTransform];
        controllers[j].Init(static_cast<int32_t>(track.keys.size()), 1, ControllerSampledTransform);
        for (const SrxKey& k : track.keys)
            controllers[j].AppendSampledKey({k.time,
                                             {k.values[0], k.values[1], k.values[2]},
                                             {k.values[4], k.values[5], k.values[6], k.values[7]}});
    }
    float leftmostTip = 0.0f, rightmostTip = 0.0f;
    for (int tick = 0; tick <= 600; tick += 24) {
        SCOPED_TRACE(tick);
        D3DXMATRIX palette[4];
        for (size_t j = 0; j < 4; ++j) {
            D3DXMATRIX node;
            std::fill(&node._11, &node._11 + 16, NAN);
            controllers[j].Evaluate(static_cast<float>(tick), &node._11);
            ASSERT_FALSE(std::isnan(node._11)) << "bone " << j << " has no matrix at this time";
            D3DXMatrixMultiply(&palette[j], reinterpret_cast<const D3DXMATRIX*>(mesh.boneMatrices[j].data()), &node);
        }
        // The chain holds together: where a bone ends in its rest pose, the next one starts.
        for (int j = 0; j + 1 < 4; ++j) {
            D3DXVECTOR3 gap = Transform(D3DXVECTOR3(0.0f, 84.0f + 24.0f * j, 0.0f), palette[j]) -
                              Transform(D3DXVECTOR3(0.0f, 84.0f + 24.0f * j, 0.0f), palette[j + 1]);
            EXPECT_LT(D3DXVec3Length(&gap), 1e-3f) << "joint " << j + 1;
        }
        for (const SrxVertex& v : Cylinder(scene).vertices) {
            D3DXVECTOR3 p = EnginePosition(v);
            D3DXVECTOR3 skinned(0.0f, 0.0f, 0.0f);
            for (int i = 0; i < v.influenceCount; ++i) skinned += Transform(p, palette[v.bones[i]]) * v.weights[i];
            EXPECT_GE(skinned.y, 60.0f - 1e-3f) << "the cylinder sinks into the cube";
            if (v.position[1] == 60.0f) {
                D3DXVECTOR3 moved = skinned - p;
                EXPECT_LT(D3DXVec3Length(&moved), 1e-3f) << "the base ring left the cube";
            }
            if (v.position[1] == 156.0f && v.position[0] == 0.0f && v.position[2] == 0.0f) {
                leftmostTip = std::min(leftmostTip, skinned.x);
                rightmostTip = std::max(rightmostTip, skinned.x);
            }
        }
    }
    EXPECT_LT(leftmostTip, -40.0f);
    EXPECT_GT(rightmostTip, 40.0f);
}

TEST(DemoImages, NormalMapsHoldUnitVectorsAndTheLightmapShadowsTheCylindersFoot) {
    for (const char* name : {"cylcube01_bricks_nm.png", "cylcube01_plate_nm.png"}) {
        SCOPED_TRACE(name);
        Texels texels;
        ASSERT_TRUE(Decode(name, &texels));
        int tilted = 0;
        for (const D3DXVECTOR3& t : texels.rgb) {
            D3DXVECTOR3 n = t * 2.0f - D3DXVECTOR3(1.0f, 1.0f, 1.0f);
            ASSERT_NEAR(D3DXVec3Length(&n), 1.0f, 0.02f);
            ASSERT_GT(n.z, 0.2f) << "normals point out of the surface";
            if (n.z < 0.95f) ++tilted;
        }
        EXPECT_GT(tilted, 256 * 256 / 20) << "too flat to show";
    }
    Texels lightmap;
    ASSERT_TRUE(Decode("cylcube01_lightmap.jpg", &lightmap));
    ASSERT_EQ(lightmap.width, 256);
    ASSERT_EQ(lightmap.height, 256);
    // Texture coordinate (0, 0) is neutral; on the top face (the 128-texel cell at the top
    // right, +x to the right, +z down) the ground next to the cylinder on the side away from
    // the key light is darker than the open corner towards it.
    EXPECT_GT(lightmap.At(0, 0).y, 0.97f);
    float shadowed = lightmap.At(192 - 28, 64 - 28).y, open = lightmap.At(250, 122).y;
    EXPECT_LT(shadowed, open - 0.15f) << shadowed << " vs " << open;
}
