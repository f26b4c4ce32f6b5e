// ImportSRX on well-formed files: records, the placement rules between chunks, the exact
// log account, and the one fatal error.
#include "import/ChunkReader.h"
#include "import/SrxScene.h"
#include "import/SrxWriter.h"
#include "import/SrxTestSupport.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

using namespace srxtest;

namespace {

// One of every chunk, as an exporter would write them.
std::vector<uint8_t> RepresentativeScene() {
    SrxWriter writer;
    writer.SceneHeader();
    writer.Material(Material("Brick Wall", 0x0011, {"C:\\Maps\\Brick.TGA", "Normal_Map.PNG"}));

    SrxNode box = Node("Box01", 0, 65535);
    box.pivot[0] = 1.0f;
    box.pivot[1] = 2.5f;
    box.pivot[2] = -3.0f;
    box.trackFlags = srx::TrackSampledTransform | srx::TrackKeyedPosition;
    SrxTrack& sampled = box.tracks[srx::SlotSampledTransform];
    sampled.kind = srx::TrackKindSampledTransform;
    sampled.keys = {SampledKey(0, 0, 0, 0, 0, 0, 0, 1), SampledKey(100, 10, 0, 0, 0, 0, 0, 1)};
    SrxTrack& curve = box.tracks[srx::SlotKeyedPosition];
    curve.kind = 3;
    curve.channels = 3;
    curve.extraByte = 9;
    curve.keys = {CurveKey(10, {1, 2, 3})};
    curve.keys[0].params[4] = 0.5f;
    writer.Node(box);
    writer.Node(Node("Bone_Root", 1, 0));
    writer.Camera(SrxCamera{0, {1, 2, 3}});
    writer.Light(SrxLight{1, {4, 5}, {6, 7, 8}});

    SrxMesh mesh;
    mesh.node = 0;
    mesh.boneNodes = {1, 0};
    mesh.boneMatrices.resize(2);
    mesh.boneMatrices[1][15] = 42.0f;
    mesh.primitives.push_back(Primitive(3, {0, 1, 2}));
    writer.Mesh(mesh);
    return writer.Data();
}

}  // namespace

TEST(SrxImport, ZeroBytesAreAnEmptyScene) {
    Imported imported = Import({});
    EXPECT_TRUE(imported.scene.materials.empty());
    EXPECT_TRUE(imported.scene.nodes.empty());
    EXPECT_TRUE(imported.scene.meshes.empty());
    EXPECT_TRUE(imported.scene.cameras.empty());
    EXPECT_TRUE(imported.scene.lights.empty());
    EXPECT_EQ(imported.log, "");
}

TEST(SrxImport, LogsItsAccountLineByLine) {
    Imported imported = Import(RepresentativeScene());
    EXPECT_EQ(imported.log,
              "Material: brick wall\n"
              "Map 0: c:\\maps\\brick.tga\n"
              "Map 1: normal_map.png\n"
              "* NODE: Box01 Id: 0 Parent: 65535\n"
              "  pivot: 1.000000 2.500000 -3.000000\n"
              "Track: keys: 2 channels: 0\n"
              "Track is sampled Transform.\n"
              "Track: keys: 1 channels: 3\n"
              "Key 0 time: 10 data: 1.000000 2.000000 3.000000 0.000000\n"
              "* NODE: Bone_Root Id: 1 Parent: 0\n"
              "  pivot: 0.000000 0.000000 0.000000\n"
              "Camera node: 0\n"
              "Light.Node: 1\n"
              "Mesh has 2 bones:\n"
              "1 0 \n"
              "Primitive: 3 vertices 1 faces, material: 0\n"
              "Reading vertex positions...\n"
              "Reading vertex normals...\n"
              "Reading vertex UVs...\n"
              "Reading vertex UV2s...\n"
              "Reading vertex weights...\n"
              "Reading indexbuffer...\n");
}

TEST(SrxImport, MaterialNamesAreLowerCasedAndMapsReducedToFileNames) {
    SrxWriter writer;
    writer.Material(Material("Brick Wall", 0x0011, {"C:\\Maps\\Brick.TGA", "Normal_Map.PNG"}));
    writer.Material(Material("Plain", 0));
    writer.Material(Material("Third", 0x0080, {"Sub/Dir\\Odd.Name.DDS"}));
    Imported imported = Import(writer.Data());
    const auto& materials = imported.scene.materials;
    ASSERT_EQ(materials.size(), 3u);
    EXPECT_STREQ(materials[0].name, "brick wall");
    EXPECT_EQ(materials[0].mapMask, 0x0011);
    EXPECT_EQ(materials[0].maps[0], "brick.tga");  // bit 0: diffuse
    EXPECT_EQ(materials[0].maps[1], "normal_map.png");  // bit 4: normal map
    EXPECT_EQ(materials[0].maps[2], "");
    for (const std::string& map : materials[1].maps) EXPECT_EQ(map, "");
    EXPECT_EQ(materials[2].maps[0], "odd.name.dds");
}

TEST(SrxImport, MaterialKeepsEveryFieldInOrder) {
    SrxMaterial material = Material("m", 0);
    material.extraWord = 0xBEEF;
    material.ambient[0] = 0.1f;
    material.diffuse[1] = 0.2f;
    material.specular[2] = 0.3f;
    material.extraScalars[3] = 4.0f;
    material.extraBytes[0] = 5;
    material.extraBytes[1] = 6;
    SrxWriter writer;
    writer.Material(material);
    Imported imported = Import(writer.Data());
    const SrxMaterial& read = imported.scene.materials.at(0);
    EXPECT_EQ(read.extraWord, 0xBEEF);
    EXPECT_EQ(read.ambient[0], 0.1f);
    EXPECT_EQ(read.diffuse[1], 0.2f);
    EXPECT_EQ(read.specular[2], 0.3f);
    EXPECT_EQ(read.extraScalars[3], 4.0f);
    EXPECT_EQ(read.extraBytes[0], 5);
    EXPECT_EQ(read.extraBytes[1], 6);
}

TEST(SrxImport, NodesKeepTheirCaseAndTracksLandInTheirSlots) {
    Imported imported = Import(RepresentativeScene());
    const auto& nodes = imported.scene.nodes;
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_STREQ(nodes[0].name, "Box01");
    EXPECT_STREQ(nodes[1].name, "Bone_Root");
    EXPECT_EQ(nodes[0].parent, 65535);
    EXPECT_EQ(nodes[0].matrix[0], 1.0f);
    EXPECT_EQ(nodes[0].matrix[1], 0.0f);
    EXPECT_EQ(nodes[0].trackFlags, 0x81);

    // 0x81: the sampled track comes first in the file and goes to slot 3; the keyed
    // position track follows and goes to slot 0.
    const SrxTrack& sampled = nodes[0].tracks[srx::SlotSampledTransform];
    EXPECT_EQ(sampled.kind, 2);
    ASSERT_EQ(sampled.keys.size(), 2u);
    EXPECT_EQ(sampled.keys[1].time, 100u);
    EXPECT_EQ(sampled.keys[1].values[0], 10.0f);
    EXPECT_EQ(sampled.keys[1].values[3], 0.0f);
    EXPECT_EQ(sampled.keys[1].values[7], 1.0f);
    EXPECT_EQ(sampled.keys[1].params[0], 0.0f);

    const SrxTrack& curve = nodes[0].tracks[srx::SlotKeyedPosition];
    EXPECT_EQ(curve.kind, 3);
    EXPECT_EQ(curve.channels, 3);
    EXPECT_EQ(curve.extraByte, 9);
    ASSERT_EQ(curve.keys.size(), 1u);
    EXPECT_EQ(curve.keys[0].time, 10u);
    EXPECT_EQ(curve.keys[0].params[4], 0.5f);
    EXPECT_EQ(curve.keys[0].values[2], 3.0f);
    EXPECT_EQ(curve.keys[0].values[3], 0.0f);
    for (int slot : {1, 2, 4}) EXPECT_TRUE(nodes[0].tracks[slot].keys.empty());
}

TEST(SrxImport, EveryTrackFlagReadsItsTrackInFileOrder) {
    // Each track has as many keys as its slot number + 1, so a mix-up shows.
    SrxNode node = Node("AllTracks", 0, 0);
    node.trackFlags = 0x8F;
    for (int slot = 0; slot < srx::TrackSlotCount; ++slot) {
        SrxTrack& track = node.tracks[slot];
        track.kind = slot == srx::SlotSampledTransform ? 2 : 0;
        track.channels = static_cast<uint8_t>(slot + 1);
        for (int k = 0; k <= slot; ++k) track.keys.push_back(CurveKey(static_cast<uint32_t>(k), {float(slot)}));
    }
    SrxWriter writer;
    writer.Node(node);
    Imported imported = Import(writer.Data());
    const SrxNode& read = imported.scene.nodes.at(0);
    for (int slot = 0; slot < srx::TrackSlotCount; ++slot) {
        ASSERT_EQ(read.tracks[slot].keys.size(), static_cast<size_t>(slot + 1)) << "slot " << slot;
        EXPECT_EQ(read.tracks[slot].keys.back().values[0], float(slot)) << "slot " << slot;
    }
}

TEST(SrxImport, TrackWithoutKeysStillLogsItsLines) {
    SrxNode node = Node("Empty", 0, 0);
    node.trackFlags = srx::TrackSampledTransform | srx::TrackKeyedScale;
    node.tracks[srx::SlotSampledTransform].kind = 2;
    node.tracks[srx::SlotKeyedScale].channels = 3;
    SrxWriter writer;
    writer.Node(node);
    Imported imported = Import(writer.Data());
    EXPECT_EQ(imported.log,
              "* NODE: Empty Id: 0 Parent: 0\n"
              "  pivot: 0.000000 0.000000 0.000000\n"
              "Track: keys: 0 channels: 0\n"
              "Track is sampled Transform.\n"
              "Track: keys: 0 channels: 3\n");
    EXPECT_TRUE(imported.scene.nodes.at(0).tracks[srx::SlotSampledTransform].keys.empty());
}

TEST(SrxImport, CamerasAndLightsKeepTheirFields) {
    Imported imported = Import(RepresentativeScene());
    ASSERT_EQ(imported.scene.cameras.size(), 1u);
    EXPECT_EQ(imported.scene.cameras[0].values[2], 3.0f);
    ASSERT_EQ(imported.scene.lights.size(), 1u);
    EXPECT_EQ(imported.scene.lights[0].node, 1);
    EXPECT_EQ(imported.scene.lights[0].words[1], 5);
    EXPECT_EQ(imported.scene.lights[0].values[2], 8.0f);
}

TEST(SrxImport, MeshBonesAndVertexStreams) {
    Imported imported = Import(RepresentativeScene());
    ASSERT_EQ(imported.scene.meshes.size(), 1u);
    const SrxMesh& mesh = imported.scene.meshes[0];
    EXPECT_EQ(mesh.boneNodes, (std::vector<int32_t>{1, 0}));
    ASSERT_EQ(mesh.boneMatrices.size(), 2u);
    EXPECT_EQ(mesh.boneMatrices[1][15], 42.0f);
    ASSERT_EQ(mesh.primitives.size(), 1u);
    const SrxPrimitive& primitive = mesh.primitives[0];
    EXPECT_EQ(primitive.streamFlags, 0x1Fu);
    EXPECT_EQ(primitive.indices, (std::vector<uint16_t>{0, 1, 2}));
    ASSERT_EQ(primitive.vertices.size(), 3u);
    const SrxVertex& vertex = primitive.vertices[2];
    EXPECT_EQ(vertex.position[1], 21.0f);
    EXPECT_EQ(vertex.normal[2], 1.0f);
    EXPECT_EQ(vertex.uv0[0], 0.5f);
    EXPECT_EQ(vertex.uv0[1], 0.75f);
    EXPECT_EQ(vertex.influenceCount, 2);
    EXPECT_EQ(vertex.weights[1], 0.25f);
    EXPECT_EQ(vertex.weights[2], 0.0f);
    EXPECT_EQ(vertex.bones[1], 1);
    // Vertex 0 has no influences: its VWGT entry is the single byte 0.
    EXPECT_EQ(primitive.vertices[0].influenceCount, 0);
}

TEST(SrxImport, TextureVIsStoredFlipped) {
    SrxWriter writer;
    writer.MeshHeader(0, 1);
    writer.Primitive(3, 0, 0);
    const float uv[] = {0.0f, 0.25f, 0.0f, 1.0f, 0.0f, 0.0f};
    writer.TexCoords(uv);
    writer.TexCoords2(uv);
    Imported imported = Import(writer.Data());
    const auto& vertices = imported.scene.meshes.at(0).primitives.at(0).vertices;
    EXPECT_EQ(vertices[0].uv0[1], 0.75f);
    EXPECT_EQ(vertices[1].uv0[1], 0.0f);
    EXPECT_EQ(vertices[2].uv0[1], 1.0f);
    EXPECT_EQ(vertices[0].uv1[1], 0.75f);
    EXPECT_EQ(vertices[2].uv1[1], 1.0f);
}

TEST(SrxImport, ExactlyFilledChunksHaveTheirDocumentedSizes) {
    auto sizeOf = [](auto write) {
        SrxWriter writer;
        write(writer);
        return writer.Size();
    };
    EXPECT_EQ(sizeOf([](SrxWriter& w) { w.Material(Material("m", 0)); }), 322u);
    EXPECT_EQ(sizeOf([](SrxWriter& w) { w.Material(Material("m", 0x0011, {"a", "b"})); }), 834u);
    EXPECT_EQ(sizeOf([](SrxWriter& w) { w.Node(Node("n", 0, 0)); }), 346u);
    EXPECT_EQ(sizeOf([](SrxWriter& w) { w.MeshHeader(0, 0); }), 12u);
    EXPECT_EQ(sizeOf([](SrxWriter& w) {
                  std::vector<int32_t> bones = {1, 2};
                  std::vector<std::array<float, 16>> matrices(2);
                  w.MeshHeader(0, 0, bones, matrices);
              }),
              144u);
    EXPECT_EQ(sizeOf([](SrxWriter& w) { w.Primitive(3, 2, 0); }), 13u);
    EXPECT_EQ(sizeOf([](SrxWriter& w) { w.Positions(std::vector<float>(9)); }), 44u);
    EXPECT_EQ(sizeOf([](SrxWriter& w) { w.Indices(std::vector<uint16_t>(6)); }), 20u);
    EXPECT_EQ(sizeOf([](SrxWriter& w) { w.Camera(SrxCamera{}); }), 22u);
    EXPECT_EQ(sizeOf([](SrxWriter& w) { w.Light(SrxLight{}); }), 26u);
    EXPECT_EQ(sizeOf([](SrxWriter& w) { w.SceneHeader(); }), 42u);

    // Read back, each fills its chunk exactly: nothing after them is lost or misread.
    SrxWriter writer;
    writer.SceneHeader();
    writer.Material(Material("m", 0x0011, {"a", "b"}));
    writer.Node(Node("n", 0, 0));
    writer.Camera(SrxCamera{});
    writer.Light(SrxLight{});
    writer.Camera(SrxCamera{9, {}});
    Imported imported = Import(writer.Data());
    EXPECT_EQ(imported.scene.materials.size(), 1u);
    EXPECT_EQ(imported.scene.nodes.size(), 1u);
    ASSERT_EQ(imported.scene.cameras.size(), 2u);
    EXPECT_EQ(imported.scene.cameras[1].node, 9);
}

TEST(SrxImport, ExtraBytesAndUnknownChunksAreSkipped) {
    SrxWriter writer;
    writer.BeginChunk(srx::ChunkCamera);
    writer.PutU16(4);
    writer.PutF32s(std::vector<float>{1, 2, 3});
    writer.PutU32(0xDEADBEEF);  // beyond the camera's fields
    writer.EndChunk();
    writer.BeginChunk(srx::MakeChunkId("ZZZZ"));
    writer.PutZeros(100);
    writer.EndChunk();
    writer.Light(SrxLight{6, {}, {}});
    Imported imported = Import(writer.Data());
    ASSERT_EQ(imported.scene.cameras.size(), 1u);
    EXPECT_EQ(imported.scene.cameras[0].values[2], 3.0f);
    ASSERT_EQ(imported.scene.lights.size(), 1u);
    EXPECT_EQ(imported.scene.lights[0].node, 6);
    EXPECT_EQ(imported.log, "Camera node: 4\nLight.Node: 6\n");
}

TEST(SrxImport, StrayPrimitivesAndStreamsAreSkippedSilently) {
    SrxWriter writer;
    writer.Primitive(3, 1, 0);
    writer.Positions(std::vector<float>(9, 1.0f));
    writer.Light(SrxLight{2, {}, {}});
    Imported imported = Import(writer.Data());
    EXPECT_TRUE(imported.scene.meshes.empty());
    EXPECT_EQ(imported.log, "Light.Node: 2\n");
}

TEST(SrxImport, PrimitiveFollowedByAnotherChunkKeepsZeroedStreams) {
    SrxWriter writer;
    writer.MeshHeader(0, 1);
    writer.Primitive(2, 1, 3);
    writer.MeshHeader(1, 0);
    writer.Light(SrxLight{5, {}, {}});
    Imported imported = Import(writer.Data());
    ASSERT_EQ(imported.scene.meshes.size(), 2u);
    const SrxPrimitive& primitive = imported.scene.meshes[0].primitives.at(0);
    EXPECT_EQ(primitive.material, 3);
    EXPECT_EQ(primitive.streamFlags, 0u);
    ASSERT_EQ(primitive.vertices.size(), 2u);
    EXPECT_EQ(primitive.vertices[1].position[0], 0.0f);
    EXPECT_EQ(primitive.vertices[1].uv0[1], 0.0f);
    EXPECT_EQ(primitive.indices, (std::vector<uint16_t>{0, 0, 0}));
    // The next MESH, with no primitives, is followed directly by any chunk.
    EXPECT_EQ(imported.scene.meshes[1].node, 1);
    EXPECT_TRUE(imported.scene.meshes[1].primitives.empty());
    EXPECT_EQ(imported.scene.lights.size(), 1u);
    EXPECT_EQ(imported.log, "Primitive: 2 vertices 1 faces, material: 3\nLight.Node: 5\n");
}

TEST(SrxImport, StreamsInAnyOrderAndARepeatedStreamOverwrites) {
    SrxWriter writer;
    writer.MeshHeader(0, 2);
    writer.Primitive(1, 1, 0);
    writer.Indices(std::vector<uint16_t>{0, 0, 0});
    writer.Positions(std::vector<float>{1, 2, 3});
    writer.Positions(std::vector<float>{4, 5, 6});
    writer.Primitive(0, 0, 1);
    writer.Normals(std::vector<float>{});
    Imported imported = Import(writer.Data());
    const auto& primitives = imported.scene.meshes.at(0).primitives;
    ASSERT_EQ(primitives.size(), 2u);
    EXPECT_EQ(primitives[0].vertices[0].position[0], 4.0f);
    EXPECT_EQ(primitives[0].streamFlags, srx::StreamPositions);  // INDX has no bit
    // A stream of a primitive without vertices still logs and sets its bit.
    EXPECT_EQ(primitives[1].streamFlags, srx::StreamNormals);
    EXPECT_NE(imported.log.find("Primitive: 0 vertices 0 faces, material: 1\nReading vertex normals...\n"),
              std::string::npos);
}

TEST(SrxImport, MeshWithoutBonesLogsNoBoneLines) {
    SrxWriter writer;
    writer.MeshHeader(0, 0);
    EXPECT_EQ(Import(writer.Data()).log, "");
}

TEST(SrxImport, ZeroSizeHeaderEndsTheImport) {
    SrxWriter writer;
    writer.Camera(SrxCamera{1, {}});
    writer.BeginChunk(srx::ChunkCamera);
    writer.PutZeros(14);
    writer.EndChunkWithSize(0);
    writer.Camera(SrxCamera{2, {}});
    Imported imported = Import(writer.Data());
    EXPECT_EQ(imported.scene.cameras.size(), 1u);
    EXPECT_EQ(imported.log, "Camera node: 1\n");
}

TEST(SrxImport, ZeroSizeHeaderEndsAPrimitivesStreams) {
    SrxWriter writer;
    writer.MeshHeader(0, 1);
    writer.Primitive(1, 0, 0);
    writer.BeginChunk(srx::ChunkPositions);
    writer.PutF32s(std::vector<float>{1, 2, 3});
    writer.EndChunkWithSize(0);
    Imported imported = Import(writer.Data());
    EXPECT_EQ(imported.scene.meshes.at(0).primitives.at(0).streamFlags, 0u);
}

TEST(SrxImport, LastPrimitiveFollowedByTheNextMeshIsFine) {
    SrxWriter writer;
    writer.MeshHeader(0, 2);
    writer.Primitive(1, 0, 0);
    writer.Primitive(1, 0, 0);
    writer.MeshHeader(1, 1);
    writer.Primitive(1, 0, 0);
    Imported imported = Import(writer.Data());
    ASSERT_EQ(imported.scene.meshes.size(), 2u);
    EXPECT_EQ(imported.scene.meshes[0].primitives.size(), 2u);
    EXPECT_EQ(imported.scene.meshes[1].primitives.size(), 1u);
}

using SrxImportDeathTest = testing::Test;

TEST(SrxImportDeathTest, MissingPrimitiveStopsTheProgram) {
    lumaret::test::ScopedTempDir dir;
    // Announces two primitives; the second place holds a NODE.
    SrxWriter beforeNode;
    beforeNode.MeshHeader(0, 2);
    beforeNode.Primitive(1, 0, 0);
    beforeNode.Node(Node("n", 0, 0));
    // The next MESH where a primitive that is not the last one should follow.
    SrxWriter beforeMesh;
    beforeMesh.MeshHeader(0, 2);
    beforeMesh.Primitive(1, 0, 0);
    beforeMesh.MeshHeader(1, 0);
    // The data ends after the MESH chunk.
    SrxWriter atEnd;
    atEnd.MeshHeader(0, 1);
    for (const SrxWriter* writer : {&beforeNode, &beforeMesh, &atEnd}) {
        const std::vector<uint8_t>& data = writer->Data();
        EXPECT_EXIT(SrxScene(data.data(), data.size()), testing::ExitedWithCode(255),
                    "error: ImportSRX: Mesh has no primitive chunk\\.");
    }
    // Nothing is logged for it.
    {
        lumaret::test::ScopedTempDir quiet;
        SrxWriter writer;
        writer.MeshHeader(0, 1);
        writer.Light(SrxLight{});
        const std::vector<uint8_t>& data = writer.Data();
        EXPECT_EXIT(SrxScene(data.data(), data.size()), testing::ExitedWithCode(255), "");
        EXPECT_EQ(lumaret::test::ReadFileBytes("log.txt"), "");
    }
}

TEST(SrxImport, ToolsCanAskForTheMissingPrimitiveAsAResult) {
    SrxWriter writer;
    writer.Camera(SrxCamera{3, {}});
    writer.MeshHeader(0, 2);
    writer.Primitive(4, 0, 0);
    writer.Light(SrxLight{});
    Imported imported = Import(writer.Data(), MissingPrimitive::EndImport);
    EXPECT_EQ(imported.scene.importError, "ImportSRX: Mesh has no primitive chunk.");
    EXPECT_EQ(imported.scene.cameras.size(), 1u);
    ASSERT_EQ(imported.scene.meshes.size(), 1u);
    EXPECT_EQ(imported.scene.meshes[0].primitives.size(), 1u);
    EXPECT_TRUE(imported.scene.lights.empty());
    EXPECT_EQ(Import(RepresentativeScene(), MissingPrimitive::EndImport).scene.importError, "");
}

// The material extension and vertex colours: read back as written, placed where a reader
// that does not know them skips them (after the map names; VCOL only after a mesh's last
// primitive, never between its PRIM chunks), and values no renderer can use tamed.
TEST(SrxImport, MaterialExtensionAndVertexColoursRoundTripWhereOldReadersSkipThem) {
    SrxMaterial plain = Material("glass", srx::MapDiffuse, {"a.png"});
    SrxMaterial extended = plain;
    extended.extended = true;
    extended.flags = srx::MaterialAlphaMask | srx::MaterialDoubleSided | srx::MaterialMetalRoughnessApart;
    extended.alphaCutoff = 0.25f;
    extended.emissive[1] = 3.0f;
    extended.extraMapMask = srx::ExtraMapEmissive | srx::ExtraMapMetalRoughness | srx::ExtraMapRoughness;
    extended.extraMaps[0] = "glow.png";
    extended.extraMaps[2] = "mr.png";
    extended.extraMaps[3] = "rough.png";
    extended.transforms[srx::MapSlotEmissive].rotation = 0.5f;
    extended.transforms[srx::MapSlotEmissive].uvSet = 1;
    SrxMesh mesh;
    mesh.primitives = {Primitive(3, {0, 1, 2}), Primitive(3, {0, 2, 1})};
    mesh.primitives[0].colors = {{{255, 0, 0, 255}}, {{0, 255, 0, 128}}, {{0, 0, 255, 0}}};
    SrxWriter withExtras, without;
    withExtras.Material(extended);
    withExtras.Mesh(mesh);
    without.Material(plain);
    SrxMesh uncoloured = mesh;
    uncoloured.primitives[0].colors.clear();
    without.Mesh(uncoloured);

    Imported a = Import(withExtras.Data()), b = Import(without.Data());
    ASSERT_EQ(a.scene.materials.size(), 1u);
    const SrxMaterial& m = a.scene.materials[0];
    EXPECT_TRUE(m.extended);
    EXPECT_EQ(m.flags, extended.flags);
    EXPECT_EQ(m.alphaCutoff, 0.25f);
    EXPECT_EQ(m.emissive[1], 3.0f);
    EXPECT_EQ(m.extraMapMask, extended.extraMapMask);
    EXPECT_EQ(m.extraMaps[0], "glow.png");
    EXPECT_EQ(m.extraMaps[2], "mr.png");
    EXPECT_EQ(m.extraMaps[3], "rough.png");
    EXPECT_EQ(m.transforms[srx::MapSlotEmissive].rotation, 0.5f);
    EXPECT_EQ(m.transforms[srx::MapSlotEmissive].uvSet, 1);
    EXPECT_EQ(m.maps[0], b.scene.materials[0].maps[0]);
    EXPECT_FALSE(b.scene.materials[0].extended);
    ASSERT_EQ(a.scene.meshes.size(), 1u);
    EXPECT_EQ(a.scene.meshes[0].primitives[0].colors, mesh.primitives[0].colors);
    EXPECT_TRUE(a.scene.meshes[0].primitives[1].colors.empty());
    EXPECT_EQ(a.scene.meshes[0].primitives[1].indices, b.scene.meshes[0].primitives[1].indices);
    EXPECT_NE(a.log.find("  features: alpha mask at 0.25, double-sided, metalness and roughness maps apart\n"),
              std::string::npos)
        << a.log;
    EXPECT_NE(a.log.find("Emissive map: glow.png\n"), std::string::npos) << a.log;

    std::vector<uint32_t> ids;
    ByteStream stream(withExtras.Data().data(), withExtras.Size());
    ChunkReader reader(stream);
    for (uint32_t id = 0; reader.ReadHeader(id) != 0;) ids.push_back(id);
    ASSERT_GE(ids.size(), 2u);
    EXPECT_EQ(ids.back(), srx::ChunkVertexColors);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), srx::ChunkVertexColors), 1);
    EXPECT_EQ(ids[ids.size() - 2], srx::ChunkIndices);

    // Values out of bounds take defaults, in one line; colours for a primitive the mesh does
    // not have, or more than its chunk holds, are not read.
    SrxMaterial bad = extended;
    bad.alphaCutoff = -2.0f;
    bad.emissive[0] = std::nanf("");
    bad.transforms[srx::MapSlotNormal].uvSet = 4;
    SrxWriter badWriter;
    badWriter.Material(bad);
    badWriter.Mesh(uncoloured);
    badWriter.VertexColors(2, mesh.primitives[0].colors);
    badWriter.VertexColors(0, std::vector<std::array<uint8_t, 4>>(2));
    Imported c = Import(badWriter.Data());
    const SrxMaterial& tamed = c.scene.materials[0];
    EXPECT_EQ(tamed.alphaCutoff, 0.5f);
    EXPECT_EQ(tamed.emissive[0], 0.0f);
    EXPECT_EQ(tamed.transforms[srx::MapSlotNormal].uvSet, 0);
    EXPECT_NE(c.log.find("has values that cannot be drawn: alpha cutoff -2 (0.5), emissive colour nan (0), texture "
                         "coordinate set 4 (0); they take the defaults in brackets.\n"),
              std::string::npos)
        << c.log;
    EXPECT_NE(c.log.find("names primitive 2 of a mesh that has no such primitive"), std::string::npos);
    EXPECT_TRUE(c.scene.meshes[0].primitives[0].colors.empty());
}

// Morph targets and line and point lists: read back as written, in chunks of their own that a
// reader which does not know them skips between meshes; targets for another vertex count,
// or more than their chunk holds, are not read and the primitive keeps its shape.
TEST(SrxImport, MorphTargetsAndLinesAndPointsRoundTripInChunksOldReadersSkip) {
    SrxMesh mesh;
    mesh.primitives = {Primitive(3, {0, 1, 2})};
    SrxMorphTarget target;
    target.weight = 0.25f;
    target.positions = {{0, 1, 0}, {0, 2, 0}, {0, 3, 0}};
    target.normals = {{1, 0, 0}, {0, 0, 0}, {0, 0, -1}};
    mesh.primitives[0].morphTargets = {target, target};
    mesh.primitives[0].morphKeys = {{0, {0.0f, 1.0f}}, {600, {1.0f, 0.5f}}};
    SrxLinesPoints points;
    points.kind = srx::LinesPointsPoints;
    points.node = 2;
    points.pointSize = 4.0f;
    points.positions = {{1, 2, 3}, {4, 5, 6}};
    points.colors = {{{1, 2, 3, 4}}, {{5, 6, 7, 8}}};
    points.follows = true;
    points.placement[0] = 2.0f;
    SrxWriter writer;
    writer.Mesh(mesh);
    writer.LinesPoints(points);
    writer.Mesh(mesh);
    Imported a = Import(writer.Data());
    ASSERT_EQ(a.scene.meshes.size(), 2u);
    const SrxPrimitive& p = a.scene.meshes[0].primitives[0];
    ASSERT_EQ(p.morphTargets.size(), 2u);
    EXPECT_EQ(p.morphTargets[1].weight, 0.25f);
    EXPECT_EQ(p.morphTargets[1].positions, target.positions);
    EXPECT_EQ(p.morphTargets[1].normals, target.normals);
    ASSERT_EQ(p.morphKeys.size(), 2u);
    EXPECT_EQ(p.morphKeys[1].time, 600u);
    EXPECT_EQ(p.morphKeys[1].weights, (std::vector<float>{1.0f, 0.5f}));
    ASSERT_EQ(a.scene.linesPoints.size(), 1u);
    const SrxLinesPoints& read = a.scene.linesPoints[0];
    EXPECT_EQ(read.kind, srx::LinesPointsPoints);
    EXPECT_EQ(read.node, 2);
    EXPECT_EQ(read.pointSize, 4.0f);
    EXPECT_EQ(read.positions, points.positions);
    EXPECT_EQ(read.colors, points.colors);
    EXPECT_TRUE(read.follows);
    EXPECT_EQ(read.placement, points.placement);

    // What a reader without the new chunks sees: both meshes whole, each PRIM after its MESH.
    std::vector<uint32_t> ids;
    ByteStream stream(writer.Data().data(), writer.Size());
    ChunkReader reader(stream);
    for (uint32_t id = 0; reader.ReadHeader(id) != 0;) ids.push_back(id);
    for (size_t i = 0; i < ids.size(); ++i)
        if (ids[i] == srx::ChunkMesh) EXPECT_EQ(ids[i + 1], srx::ChunkPrimitive);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), srx::ChunkMorphTargets), 2);

    SrxWriter bad;
    bad.Mesh(SrxMesh{0, {}, {}, {Primitive(2, {0, 1, 1})}});
    auto morphHeader = [&](uint8_t targets, uint16_t vertices) {
        bad.BeginChunk(srx::ChunkMorphTargets);
        bad.PutU8(0);
        bad.PutU8(targets);
        bad.PutU16(0);
        bad.PutU16(vertices);
    };
    morphHeader(1, 3);
    bad.PutZeros(4 + 24 * 3);
    bad.MeshHeader(0, 1);
    bad.Primitive(3, 0, 0);
    morphHeader(9, 3);
    bad.EndChunk();
    Imported b = Import(bad.Data());
    ASSERT_EQ(b.scene.meshes.size(), 2u);
    EXPECT_TRUE(b.scene.meshes[0].primitives[0].morphTargets.empty());
    EXPECT_TRUE(b.scene.meshes[1].primitives[0].morphTargets.empty());
    EXPECT_NE(b.log.find("morph targets of 3 vertices for a primitive of 2; the primitive keeps its shape"),
              std::string::npos)
        << b.log;
    EXPECT_NE(b.log.find("9 morph targets need"), std::string::npos) << b.log;
}
