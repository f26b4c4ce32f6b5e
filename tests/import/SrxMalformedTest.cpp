// ImportSRX on malformed files: framing faults end the import, counts a chunk cannot hold
// are refused, overlong values are clamped, and each case is named in the log.
#include "import/SrxScene.h"
#include "import/SrxTestSupport.h"
#include "import/SrxWriter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace srxtest;

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(SrxMalformed, ChunkRunningPastTheEndEndsTheImportKeepingWhatWasRead) {
    SrxWriter writer;
    writer.Camera(SrxCamera{1, {}});
    writer.Light(SrxLight{2, {}, {}});
    writer.Truncate(writer.Size() - 1);
    Imported imported = Import(writer.Data());
    EXPECT_EQ(imported.scene.cameras.size(), 1u);
    EXPECT_TRUE(imported.scene.lights.empty());
    EXPECT_EQ(imported.log,
              "Camera node: 1\n"
              "ImportSRX: LITE chunk at offset 22 has size 26, past the end of the data (47 bytes); "
              "import ends here.\n");
}

TEST(SrxMalformed, SizeBelowTheHeaderEndsTheImport) {
    SrxWriter writer;
    writer.Camera(SrxCamera{1, {}});
    writer.BeginChunk(srx::ChunkCamera);
    writer.EndChunkWithSize(7);
    writer.Camera(SrxCamera{2, {}});
    Imported imported = Import(writer.Data());
    EXPECT_EQ(imported.scene.cameras.size(), 1u);
    EXPECT_TRUE(Contains(imported.log,
                         "ImportSRX: TCAM chunk at offset 22 has size 7, less than its 8-byte header; "
                         "import ends here.\n"));
}

TEST(SrxMalformed, StrayBytesTooShortForAHeaderEndTheImport) {
    SrxWriter writer;
    writer.Camera(SrxCamera{1, {}});
    writer.PutBytes(std::vector<uint8_t>{'L', 'I', 'T'});
    Imported imported = Import(writer.Data());
    EXPECT_EQ(imported.log,
              "Camera node: 1\n"
              "ImportSRX: 3 stray bytes at offset 22 are too few for a chunk header; import ends here.\n");
}

TEST(SrxMalformed, FramingFaultWhereAPrimitiveShouldBeIsNotFatal) {
    SrxWriter writer;
    writer.MeshHeader(0, 2);
    writer.Primitive(2, 0, 0);
    writer.Primitive(2, 0, 0);
    writer.Truncate(writer.Size() - 3);
    Imported imported = Import(writer.Data());
    ASSERT_EQ(imported.scene.meshes.size(), 1u);
    EXPECT_EQ(imported.scene.meshes[0].primitives.size(), 1u);
    EXPECT_EQ(imported.scene.importError, "");
    EXPECT_TRUE(Contains(imported.log, "ImportSRX: PRIM chunk at offset 25 has size 13, past the end"));
}

TEST(SrxMalformed, ShortFixedFieldsReadAsZero) {
    SrxWriter writer;
    writer.BeginChunk(srx::ChunkLight);
    writer.PutU16(9);
    writer.PutU16(3);
    writer.EndChunk();
    writer.Camera(SrxCamera{4, {}});
    Imported imported = Import(writer.Data());
    ASSERT_EQ(imported.scene.lights.size(), 1u);
    EXPECT_EQ(imported.scene.lights[0].node, 9);
    EXPECT_EQ(imported.scene.lights[0].words[0], 3);
    EXPECT_EQ(imported.scene.lights[0].words[1], 0);
    EXPECT_EQ(imported.scene.cameras.at(0).node, 4);  // the next chunk is not read into the light
    EXPECT_EQ(imported.log,
              "ImportSRX: LITE chunk at offset 0 has 4 body bytes, fewer than its 18 bytes of fields; "
              "the missing fields read as zero.\n"
              "Light.Node: 9\n"
              "Camera node: 4\n");
}

TEST(SrxMalformed, ShortNodeIsStillANodeSoLaterIdsKeepTheirPositions) {
    SrxWriter writer;
    writer.BeginChunk(srx::ChunkNode);
    writer.PutString("Cut");
    writer.EndChunk();
    writer.Node(Node("Next", 1, 0));
    Imported imported = Import(writer.Data());
    ASSERT_EQ(imported.scene.nodes.size(), 2u);
    EXPECT_STREQ(imported.scene.nodes[0].name, "Cut");
    EXPECT_EQ(imported.scene.nodes[0].trackFlags, 0);
    EXPECT_STREQ(imported.scene.nodes[1].name, "Next");
}

TEST(SrxMalformed, StringsWithoutNulAreCutTo255Characters) {
    SrxMaterial material = Material(std::string(256, 'M'), 0x0001, {std::string(300, 'P')});
    SrxNode node = Node(std::string(256, 'N'), 0, 0);
    SrxWriter writer;
    writer.Material(material);
    writer.Node(node);
    Imported imported = Import(writer.Data());
    EXPECT_EQ(std::string(imported.scene.materials.at(0).name), std::string(255, 'm'));
    EXPECT_EQ(imported.scene.materials[0].maps[0], std::string(255, 'p'));
    EXPECT_EQ(std::string(imported.scene.nodes.at(0).name), std::string(255, 'N'));
    EXPECT_TRUE(Contains(imported.log, "ImportSRX: MATL chunk at offset 0: material name has no NUL; cut to 255"));
    EXPECT_TRUE(Contains(imported.log, "ImportSRX: MATL chunk at offset 0: map name has no NUL; cut to 255"));
    EXPECT_TRUE(Contains(imported.log, "ImportSRX: NODE chunk at offset 578: node name has no NUL; cut to 255"));
}

TEST(SrxMalformed, MoreThanEightMapNamesReadTheFirstEight) {
    SrxMaterial material =
        Material("many", 0x01FF, {"m0.tga", "m1.tga", "m2.tga", "m3.tga", "m4.tga", "m5.tga", "m6.tga", "m7.tga"});
    SrxWriter writer;
    writer.Material(material);
    writer.Camera(SrxCamera{8, {}});
    Imported imported = Import(writer.Data());
    const SrxMaterial& read = imported.scene.materials.at(0);
    EXPECT_EQ(read.maps[7], "m7.tga");
    EXPECT_TRUE(Contains(imported.log, "mapMask 0x01FF names 9 maps; only the first 8 are read.\n"));
    EXPECT_TRUE(Contains(imported.log, "Map 7: m7.tga\n"));
    EXPECT_FALSE(Contains(imported.log, "Map 8"));
    EXPECT_EQ(imported.scene.cameras.at(0).node, 8);
}

TEST(SrxMalformed, MapNamesTheChunkCannotHoldAreRefused) {
    SrxWriter writer;
    writer.Material(Material("short", 0x0011, {"a.tga", "b.tga"}));
    // Restate the size as if the second name were missing.
    std::vector<uint8_t> data = writer.Data();
    data[4] = static_cast<uint8_t>(578 & 0xFF);
    data[5] = static_cast<uint8_t>(578 >> 8);
    data.resize(578);
    Imported imported = Import(data);
    const SrxMaterial& read = imported.scene.materials.at(0);
    EXPECT_EQ(read.maps[0], "");
    EXPECT_EQ(read.mapMask, 0x0011);
    EXPECT_TRUE(Contains(imported.log, "ImportSRX: MATL chunk at offset 0: 2 map names need 512 bytes, 256 left; "
                                       "no maps are read.\n"));
    EXPECT_FALSE(Contains(imported.log, "Map 0"));
}

TEST(SrxMalformed, MoreThanEightChannelsKeepEightAndStayAligned) {
    SrxNode node = Node("wide", 0, 0);
    node.trackFlags = srx::TrackKeyedPosition | srx::TrackKeyedScale;
    SrxTrack& wide = node.tracks[srx::SlotKeyedPosition];
    wide.channels = 12;
    wide.keys = {CurveKey(1, {1, 2, 3, 4, 5, 6, 7, 8}), CurveKey(2, {11, 12, 13, 14, 15, 16, 17, 18})};
    SrxTrack& after = node.tracks[srx::SlotKeyedScale];
    after.channels = 1;
    after.keys = {CurveKey(3, {99})};
    SrxWriter writer;
    writer.Node(node);
    Imported imported = Import(writer.Data());
    const SrxNode& read = imported.scene.nodes.at(0);
    const SrxTrack& track = read.tracks[srx::SlotKeyedPosition];
    EXPECT_EQ(track.channels, 8);
    ASSERT_EQ(track.keys.size(), 2u);
    EXPECT_EQ(track.keys[1].time, 2u);
    EXPECT_EQ(track.keys[1].values[7], 18.0f);
    ASSERT_EQ(read.tracks[srx::SlotKeyedScale].keys.size(), 1u);
    EXPECT_EQ(read.tracks[srx::SlotKeyedScale].keys[0].values[0], 99.0f);
    EXPECT_TRUE(Contains(imported.log, "Track: keys: 2 channels: 12\nImportSRX: NODE chunk at offset 0: a track "
                                       "with 12 channels; each key keeps its first 8 values.\n"));
}

TEST(SrxMalformed, KeysTheNodeCannotHoldAreRefusedAndEndItsTracks) {
    SrxNode node = Node("keys", 0, 0);
    node.trackFlags = srx::TrackSampledTransform | srx::TrackKeyedPosition;
    node.tracks[srx::SlotSampledTransform].kind = 2;
    node.tracks[srx::SlotSampledTransform].keys = {SampledKey(0, 1, 2, 3, 0, 0, 0, 1), SampledKey(9, 0, 0, 0, 0, 0, 0, 1)};
    node.tracks[srx::SlotKeyedPosition].channels = 1;
    node.tracks[srx::SlotKeyedPosition].keys = {CurveKey(1, {5})};
    SrxWriter writer;
    writer.Node(node);
    std::vector<uint8_t> data = writer.Data();
    // Cut the chunk inside the second sampled key.
    uint32_t size = 8 + 338 + 5 + 32 + 10;
    data.resize(size);
    data[4] = static_cast<uint8_t>(size & 0xFF);
    data[5] = static_cast<uint8_t>(size >> 8);
    Imported imported = Import(data);
    const SrxNode& read = imported.scene.nodes.at(0);
    EXPECT_TRUE(read.tracks[srx::SlotSampledTransform].keys.empty());
    EXPECT_TRUE(read.tracks[srx::SlotKeyedPosition].keys.empty());
    EXPECT_TRUE(Contains(imported.log, "Track is sampled Transform.\nImportSRX: NODE chunk at offset 0: 2 track keys "
                                       "need 64 bytes, 42 left; they are not read and the node's tracks end here.\n"));
    EXPECT_FALSE(Contains(imported.log, "channels: 1"));
}

TEST(SrxMalformed, MoreThanFourInfluencesKeepTheFirstFour) {
    SrxWriter writer;
    writer.MeshHeader(0, 1, std::vector<int32_t>{0}, std::vector<std::array<float, 16>>(1));
    writer.Primitive(2, 0, 0);
    writer.BeginChunk(srx::ChunkWeights);
    writer.PutU8(6);
    writer.PutF32s(std::vector<float>{0.5f, 0.25f, 0.125f, 0.0625f, 9, 9});
    writer.PutBytes(std::vector<uint8_t>{1, 2, 3, 4, 5, 6});
    writer.PutU8(1);
    writer.PutF32(1.0f);
    writer.PutU8(7);
    writer.EndChunk();
    Imported imported = Import(writer.Data());
    const auto& vertices = imported.scene.meshes.at(0).primitives.at(0).vertices;
    EXPECT_EQ(vertices[0].influenceCount, 4);
    EXPECT_EQ(vertices[0].weights[3], 0.0625f);
    EXPECT_EQ(vertices[0].bones[3], 4);
    EXPECT_EQ(vertices[1].influenceCount, 1);
    EXPECT_EQ(vertices[1].weights[0], 1.0f);
    EXPECT_EQ(vertices[1].bones[0], 7);
    EXPECT_TRUE(Contains(imported.log, "ImportSRX: VWGT chunk at offset 91: a vertex with 6 influences; "
                                       "the first 4 are kept.\n"));
}

TEST(SrxMalformed, StreamsShorterThanTheirCountAreRefused) {
    SrxWriter writer;
    writer.MeshHeader(0, 1);
    writer.Primitive(3, 2, 0);
    writer.Positions(std::vector<float>(8, 1.0f));
    writer.Normals(std::vector<float>(9, 1.0f));
    writer.Indices(std::vector<uint16_t>{0, 1, 2});
    writer.BeginChunk(srx::ChunkWeights);
    writer.PutU8(0);
    writer.PutU8(2);
    writer.PutF32(1.0f);
    writer.EndChunk();
    Imported imported = Import(writer.Data());
    const SrxPrimitive& primitive = imported.scene.meshes.at(0).primitives.at(0);
    EXPECT_EQ(primitive.streamFlags, srx::StreamNormals);
    EXPECT_EQ(primitive.vertices[0].position[0], 0.0f);
    EXPECT_EQ(primitive.vertices[2].normal[2], 1.0f);
    EXPECT_EQ(primitive.indices, (std::vector<uint16_t>(6, 0)));
    EXPECT_TRUE(Contains(imported.log, "Reading vertex positions...\nImportSRX: VPOS chunk at offset 25: 3 vertex "
                                       "entries need 36 bytes, 32 left; the stream is not read.\n"));
    EXPECT_TRUE(Contains(imported.log, "ImportSRX: INDX chunk at offset 109: 2 triangle entries need 12 bytes"));
    EXPECT_TRUE(Contains(imported.log, "ImportSRX: VWGT chunk at offset 123: the influences of vertex 1 run past"));
}

TEST(SrxMalformed, BonesTheMeshCannotHoldAreRefused) {
    SrxWriter writer;
    writer.BeginChunk(srx::ChunkMesh);
    writer.PutU16(0);
    writer.PutU8(0);
    writer.PutU8(3);
    writer.PutZeros(2 * srx::BoneEntrySize);
    writer.EndChunk();
    Imported imported = Import(writer.Data());
    EXPECT_TRUE(imported.scene.meshes.at(0).boneNodes.empty());
    EXPECT_EQ(imported.log, "ImportSRX: MESH chunk at offset 0: 3 bone entries need 198 bytes, 132 left; "
                            "no bones are read.\n");
}

// Every prefix of a file is a truncated file; none may read out of bounds (the sanitizer
// build checks) and each keeps the chunks that were complete.
TEST(SrxMalformed, EveryTruncationImportsWithoutFault) {
    SrxWriter writer;
    writer.Material(Material("m", 0x0001, {"a.tga"}));
    SrxNode node = Node("n", 0, 0);
    node.trackFlags = srx::TrackSampledTransform;
    node.tracks[srx::SlotSampledTransform].kind = 2;
    node.tracks[srx::SlotSampledTransform].keys = {SampledKey(0, 0, 0, 0, 0, 0, 0, 1)};
    writer.Node(node);
    SrxMesh mesh;
    mesh.boneNodes = {0};
    mesh.boneMatrices.resize(1);
    mesh.primitives.push_back(Primitive(4, {0, 1, 2, 2, 3, 0}));
    writer.Mesh(mesh);
    const std::vector<uint8_t> whole = writer.Data();
    lumaret::test::ScopedTempDir dir;
    for (size_t size = 0; size <= whole.size(); ++size) {
        std::vector<uint8_t> prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        SrxScene scene(prefix.data(), prefix.size(), MissingPrimitive::EndImport);
        EXPECT_EQ(scene.materials.size(), size >= 578 ? 1u : 0u) << size;
        for (const SrxMesh& read : scene.meshes)
            for (const SrxPrimitive& primitive : read.primitives) {
                EXPECT_EQ(primitive.vertices.size(), 4u);
                EXPECT_EQ(primitive.indices.size(), 6u);
            }
    }
}
