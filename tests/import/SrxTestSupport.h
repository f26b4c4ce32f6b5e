// Helpers for the SRX tests: records to feed the writer, and an import that also returns
// the log lines it wrote.
#pragma once

#include "import/SrxScene.h"
#include "import/SrxWriter.h"
#include "support/TempDir.h"

#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace srxtest {

struct Imported {
    SrxScene scene;
    std::string log;
};

// Imports the bytes in a scratch directory; log holds exactly what the import logged.
inline Imported Import(const std::vector<uint8_t>& bytes, MissingPrimitive mode = MissingPrimitive::Fatal) {
    lumaret::test::ScopedTempDir dir;
    SrxScene scene(bytes.data(), bytes.size(), mode);
    return Imported{std::move(scene), lumaret::test::ReadFileBytes("log.txt")};
}

inline void SetName(char (&field)[srx::StringFieldSize], const std::string& text) {
    std::memset(field, 0, sizeof(field));
    std::memcpy(field, text.data(), std::min(text.size(), sizeof(field)));
}

inline SrxMaterial Material(const std::string& name, uint16_t mapMask = 0, std::initializer_list<std::string> maps = {}) {
    SrxMaterial material;
    SetName(material.name, name);
    material.mapMask = mapMask;
    int slot = 0;
    for (const std::string& map : maps) material.maps[slot++] = map;
    return material;
}

inline SrxNode Node(const std::string& name, uint16_t id, uint16_t parent) {
    SrxNode node;
    SetName(node.name, name);
    node.id = id;
    node.parent = parent;
    for (int i = 0; i < 16; ++i) node.matrix[i] = i % 5 == 0 ? 1.0f : 0.0f;
    return node;
}

inline SrxKey SampledKey(uint32_t time, float x, float y, float z, float qx, float qy, float qz, float qw) {
    SrxKey key;
    key.time = time;
    key.values[0] = x;
    key.values[1] = y;
    key.values[2] = z;
    key.values[4] = qx;
    key.values[5] = qy;
    key.values[6] = qz;
    key.values[7] = qw;
    return key;
}

inline SrxKey CurveKey(uint32_t time, std::initializer_list<float> values) {
    SrxKey key;
    key.time = time;
    int i = 0;
    for (float value : values) key.values[i++] = value;
    return key;
}

// A primitive with vertexCount vertices whose fields are all distinct, every stream
// flag set, and the given indices.
inline SrxPrimitive Primitive(uint16_t vertexCount, std::vector<uint16_t> indices, uint8_t material = 0) {
    SrxPrimitive primitive;
    primitive.vertexCount = vertexCount;
    primitive.faceCount = static_cast<uint16_t>(indices.size() / 3);
    primitive.material = material;
    primitive.indices = std::move(indices);
    primitive.streamFlags = srx::StreamPositions | srx::StreamNormals | srx::StreamTexCoords |
                            srx::StreamTexCoords2 | srx::StreamWeights;
    for (int v = 0; v < vertexCount; ++v) {
        SrxVertex vertex;
        for (int c = 0; c < 3; ++c) {
            vertex.position[c] = static_cast<float>(10 * v + c);
            vertex.normal[c] = c == 2 ? 1.0f : 0.0f;
        }
        vertex.uv0[0] = 0.25f * static_cast<float>(v);
        vertex.uv0[1] = 0.75f;
        vertex.uv1[0] = 0.5f;
        vertex.uv1[1] = 0.5f;
        vertex.influenceCount = static_cast<uint8_t>(v % 5);
        for (int i = 0; i < vertex.influenceCount; ++i) {
            vertex.weights[i] = 0.125f * static_cast<float>(i + 1);
            vertex.bones[i] = static_cast<uint8_t>(i);
        }
        primitive.vertices.push_back(vertex);
    }
    return primitive;
}

}  // namespace srxtest
