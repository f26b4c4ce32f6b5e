// srxsamples: writes a set of small SRX files, well-formed and deliberately malformed,
// into a directory. They seed the importer's fuzz corpus and make handy srxdump inputs.
#include "import/SrxWriter.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

void SetName(char (&field)[srx::StringFieldSize], const char* text) {
    std::memset(field, 0, sizeof(field));
    std::strncpy(field, text, sizeof(field) - 1);
}

SrxNode AnimatedNode(const char* name, uint16_t id, uint16_t parent) {
    SrxNode node;
    SetName(node.name, name);
    node.id = id;
    node.parent = parent;
    node.matrix[0] = node.matrix[5] = node.matrix[10] = node.matrix[15] = 1.0f;
    node.trackFlags = srx::TrackSampledTransform | srx::TrackKeyedPosition;
    SrxTrack& sampled = node.tracks[srx::SlotSampledTransform];
    sampled.kind = srx::TrackKindSampledTransform;
    for (uint32_t k = 0; k < 3; ++k) {
        SrxKey key;
        key.time = 300 * k;
        key.values[0] = static_cast<float>(k);
        key.values[6] = k == 1 ? 0.70710678f : 0.0f;
        key.values[7] = k == 1 ? 0.70710678f : 1.0f;
        sampled.keys.push_back(key);
    }
    SrxTrack& curve = node.tracks[srx::SlotKeyedPosition];
    curve.kind = 0;
    curve.channels = 3;
    SrxKey key;
    key.values[0] = 1.0f;
    curve.keys = {key};
    return node;
}

SrxPrimitive Quad(bool skinned) {
    SrxPrimitive primitive;
    primitive.vertexCount = 4;
    primitive.faceCount = 2;
    primitive.indices = {0, 1, 2, 2, 1, 3};
    primitive.streamFlags = srx::StreamPositions | srx::StreamNormals | srx::StreamTexCoords;
    if (skinned) primitive.streamFlags |= srx::StreamWeights;
    for (int v = 0; v < 4; ++v) {
        SrxVertex vertex;
        vertex.position[0] = static_cast<float>(v & 1);
        vertex.position[1] = static_cast<float>(v >> 1);
        vertex.normal[2] = 1.0f;
        vertex.uv0[0] = static_cast<float>(v & 1);
        vertex.uv0[1] = static_cast<float>(v >> 1);
        vertex.influenceCount = skinned ? static_cast<uint8_t>(v % 3) : 0;
        for (int i = 0; i < vertex.influenceCount; ++i) vertex.weights[i] = 0.5f;
        primitive.vertices.push_back(vertex);
    }
    return primitive;
}

// A scene with one of everything: header, material with two maps, two nodes, camera,
// light, a skinned mesh and an unskinned mesh of two primitives.
SrxWriter FullScene() {
    SrxWriter writer;
    writer.SceneHeader();
    SrxMaterial material;
    SetName(material.name, "Brick Wall");
    material.mapMask = srx::MapDiffuse | srx::MapNormal;
    material.maps[0] = "C:\\Maps\\Brick.TGA";
    material.maps[1] = "Brick_NM.png";
    writer.Material(material);
    writer.Node(AnimatedNode("Root", 0, 0xFFFF));
    writer.Node(AnimatedNode("Bone01", 1, 0));
    writer.Camera(SrxCamera{0, {1, 2, 3}});
    writer.Light(SrxLight{1, {0, 1}, {1, 1, 1}});
    SrxMesh skinned;
    skinned.boneNodes = {0, 1};
    skinned.boneMatrices.resize(2);
    skinned.primitives.push_back(Quad(true));
    writer.Mesh(skinned);
    SrxMesh plain;
    plain.node = 1;
    plain.primitives = {Quad(false), Quad(false)};
    plain.primitives[1].material = 3;
    writer.Mesh(plain);
    return writer;
}

void Save(const std::filesystem::path& directory, const char* name, const std::vector<uint8_t>& bytes, int& failures) {
    std::ofstream file(directory / name, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        std::fprintf(stderr, "srxsamples: cannot write '%s'\n", (directory / name).c_str());
        ++failures;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], "--help") == 0) {
        std::fputs("usage: srxsamples DIRECTORY\n\nWrites small well-formed and malformed SRX files into DIRECTORY.\n",
                   argc == 2 ? stdout : stderr);
        return argc == 2 ? 0 : 1;
    }
    std::filesystem::path directory = argv[1];
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    int failures = 0;

    Save(directory, "empty.srx", {}, failures);
    Save(directory, "full-scene.srx", FullScene().Data(), failures);

    SrxWriter truncated = FullScene();
    truncated.Truncate(truncated.Size() - 40);
    Save(directory, "truncated-stream.srx", truncated.Data(), failures);

    SrxWriter unknownAndPadded;
    unknownAndPadded.BeginChunk(srx::MakeChunkId("XTRA"));
    unknownAndPadded.PutZeros(12);
    unknownAndPadded.EndChunk();
    unknownAndPadded.BeginChunk(srx::ChunkCamera);
    unknownAndPadded.PutU16(2);
    unknownAndPadded.PutZeros(30);
    unknownAndPadded.EndChunk();
    unknownAndPadded.BeginChunk(srx::ChunkLight);
    unknownAndPadded.EndChunkWithSize(5);
    Save(directory, "unknown-padded-small.srx", unknownAndPadded.Data(), failures);

    SrxWriter missingPrimitive;
    missingPrimitive.MeshHeader(0, 2);
    missingPrimitive.Primitive(3, 1, 0);
    missingPrimitive.Light(SrxLight{});
    Save(directory, "missing-primitive.srx", missingPrimitive.Data(), failures);

    SrxWriter overlong;
    SrxMaterial many;
    std::memset(many.name, 'M', sizeof(many.name));
    many.mapMask = 0x03FF;
    for (std::string& map : many.maps) map = "D:\\Deep\\Path\\Map.DDS";
    overlong.Material(many);
    SrxNode wide = AnimatedNode("Wide", 0, 0);
    wide.tracks[srx::SlotKeyedPosition].channels = 11;
    overlong.Node(wide);
    overlong.MeshHeader(0, 1, std::vector<int32_t>{0}, std::vector<std::array<float, 16>>(1));
    overlong.Primitive(2, 1, 0);
    overlong.BeginChunk(srx::ChunkWeights);
    overlong.PutU8(6);
    overlong.PutZeros(6 * 5);
    overlong.PutU8(0);
    overlong.EndChunk();
    overlong.BeginChunk(srx::ChunkIndices);
    overlong.PutU16(0);
    overlong.EndChunk();
    Save(directory, "overlong-counts.srx", overlong.Data(), failures);

    // A material with every feature of the extension and a coloured mesh, then the same
    // with values no renderer can draw.
    SrxWriter features;
    SrxMaterial extended;
    SetName(extended.name, "Glass");
    extended.extended = true;
    extended.flags = srx::MaterialAlphaMask | srx::MaterialDoubleSided | srx::MaterialVertexColors |
                     srx::MaterialMetalRoughness | srx::MaterialMetalRoughnessApart;
    extended.alphaCutoff = 0.25f;
    extended.emissive[0] = 2.0f;
    extended.extraMapMask = srx::ExtraMapEmissive | srx::ExtraMapOpacity | srx::ExtraMapRoughness;
    extended.extraMaps[0] = "glow.png";
    extended.extraMaps[1] = "cut.png";
    extended.extraMaps[3] = "rough.png";
    extended.transforms[srx::MapSlotDiffuse].offset[0] = 0.5f;
    extended.transforms[srx::MapSlotEmissive].uvSet = 1;
    features.Material(extended);
    extended.alphaCutoff = 7.0f;
    extended.baseColor[3] = std::nanf("");
    extended.transforms[srx::MapSlotNormal].uvSet = 9;
    features.Material(extended);
    features.Node(AnimatedNode("Root", 0, 0xFFFF));
    SrxMesh coloured;
    coloured.primitives = {Quad(false), Quad(false)};
    coloured.primitives[1].colors = {{{255, 0, 0, 255}}, {{0, 255, 0, 255}}, {{0, 0, 255, 128}}, {{255, 255, 255, 0}}};
    SrxMorphTarget lift;
    lift.weight = 0.5f;
    lift.positions.assign(4, {0.0f, 1.0f, 0.0f});
    lift.normals.assign(4, {0.0f, 0.0f, 0.0f});
    coloured.primitives[0].morphTargets = {lift};
    coloured.primitives[0].morphKeys = {{0, {0.0f}}, {300, {1.0f}}};
    features.Mesh(coloured);
    features.VertexColors(7, coloured.primitives[1].colors);
    SrxLinesPoints lines;
    lines.positions = {{0, 0, 0}, {1, 0, 0}, {1, 0, 0}, {1, 1, 0}};
    lines.colors = {{{255, 0, 0, 255}}, {{255, 0, 0, 255}}, {{0, 255, 0, 255}}, {{0, 255, 0, 255}}};
    features.LinesPoints(lines);
    SrxLinesPoints points;
    points.kind = srx::LinesPointsPoints;
    points.pointSize = 1e9f;
    points.positions = {{0, 0, 1}, {0, 1, 1}};
    features.LinesPoints(points);
    Save(directory, "material-features.srx", features.Data(), failures);

    SrxWriter badSizes;
    badSizes.MeshHeader(0, 1);
    badSizes.Primitive(1, 0, 0);
    badSizes.BeginChunk(srx::ChunkPositions);
    badSizes.PutF32(1.0f);
    badSizes.EndChunkWithSize(4000);
    Save(directory, "stream-past-end.srx", badSizes.Data(), failures);

    return failures ? 2 : 0;
}
