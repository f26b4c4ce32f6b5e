#include "import/SrxWriter.h"

#include <algorithm>
#include <bit>
#include <cstring>

using namespace srx;

void SrxWriter::BeginChunk(uint32_t id) {
    if (chunkOpen_) EndChunk();
    chunkStart_ = data_.size();
    chunkOpen_ = true;
    PutU32(id);
    PutU32(0);
}

void SrxWriter::EndChunk() { EndChunkWithSize(static_cast<uint32_t>(data_.size() - chunkStart_)); }

void SrxWriter::EndChunkWithSize(uint32_t size) {
    if (!chunkOpen_) return;
    chunkOpen_ = false;
    for (int i = 0; i < 4; ++i) data_[chunkStart_ + 4 + i] = static_cast<uint8_t>(size >> (8 * i));
}

void SrxWriter::PutU8(uint8_t value) { data_.push_back(value); }

void SrxWriter::PutU16(uint16_t value) {
    data_.push_back(static_cast<uint8_t>(value));
    data_.push_back(static_cast<uint8_t>(value >> 8));
}

void SrxWriter::PutU32(uint32_t value) {
    for (int i = 0; i < 4; ++i) data_.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void SrxWriter::PutF32(float value) { PutU32(std::bit_cast<uint32_t>(value)); }

void SrxWriter::PutF32s(std::span<const float> values) {
    if constexpr (std::endian::native == std::endian::little)
        PutHostBytes(values);
    else
        for (float value : values) PutF32(value);
}

void SrxWriter::PutBytes(std::span<const uint8_t> bytes) { data_.insert(data_.end(), bytes.begin(), bytes.end()); }

void SrxWriter::PutZeros(size_t count) { data_.resize(data_.size() + count, 0); }

void SrxWriter::PutString(std::string_view text) {
    size_t length = std::min(text.size(), StringFieldSize);
    data_.insert(data_.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length));
    PutZeros(StringFieldSize - length);
}

void SrxWriter::PutStringField(const char (&field)[StringFieldSize]) {
    PutBytes(std::span(reinterpret_cast<const uint8_t*>(field), StringFieldSize));
}

void SrxWriter::SceneHeader() {
    BeginChunk(ChunkSceneHeader);
    PutZeros(SceneHeaderBodySize);
    EndChunk();
}

void SrxWriter::Material(const SrxMaterial& material) {
    BeginChunk(ChunkMaterial);
    PutStringField(material.name);
    PutU16(material.extraWord);
    PutF32s(material.ambient);
    PutF32s(material.diffuse);
    PutF32s(material.specular);
    PutF32s(material.extraScalars);
    PutU8(material.extraBytes[0]);
    PutU8(material.extraBytes[1]);
    PutU16(material.mapMask);
    int names = std::popcount(material.mapMask);
    for (int i = 0; i < names; ++i) PutString(i < MaxMaps ? std::string_view(material.maps[i]) : std::string_view());
    if (material.extended) {
        PutU16(material.flags);
        PutF32(material.alphaCutoff);
        PutF32s(material.baseColor);
        PutF32s(material.emissive);
        PutF32(material.metallic);
        PutF32(material.roughness);
        PutU16(material.extraMapMask);
        for (const SrxTextureTransform& t : material.transforms) {
            PutF32s(t.offset);
            PutF32s(t.scale);
            PutF32(t.rotation);
            PutU8(t.uvSet);
        }
        for (int bit = 0; bit < ExtraMapCount; ++bit)
            if (material.extraMapMask & (1u << bit)) PutString(material.extraMaps[bit]);
    }
    EndChunk();
}

void SrxWriter::Node(const SrxNode& node) {
    BeginChunk(ChunkNode);
    PutStringField(node.name);
    PutU16(node.id);
    PutU16(node.parent);
    PutF32s(node.matrix);
    PutF32s(node.pivot);
    PutU16(node.trackFlags);
    for (const TrackOrderEntry& entry : TrackFileOrder) {
        if (!(node.trackFlags & entry.flag)) continue;
        const SrxTrack& track = node.tracks[entry.slot];
        PutU8(track.kind);
        PutU8(track.channels);
        PutU16(static_cast<uint16_t>(track.keys.size()));
        PutU8(track.extraByte);
        for (const SrxKey& key : track.keys) {
            if (track.kind == TrackKindSampledTransform) {
                PutU32(key.time);
                PutF32s(std::span(key.values, 3));
                PutF32s(std::span(key.values + 4, 4));
            } else {
                PutU16(static_cast<uint16_t>(key.time));
                PutF32s(key.params);
                for (int c = 0; c < track.channels; ++c) PutF32(c < MaxChannels ? key.values[c] : 0.0f);
            }
        }
    }
    EndChunk();
}

void SrxWriter::Camera(const SrxCamera& camera) {
    BeginChunk(ChunkCamera);
    PutU16(camera.node);
    PutF32s(camera.values);
    EndChunk();
}

void SrxWriter::Light(const SrxLight& light) {
    BeginChunk(ChunkLight);
    PutU16(light.node);
    PutU16(light.words[0]);
    PutU16(light.words[1]);
    PutF32s(light.values);
    if (light.kind != 0) {
        PutU16(light.kind);
        PutF32s(light.position);
        PutF32s(light.direction);
        PutF32s(light.color);
        const float rest[3] = {light.range, light.innerCone, light.outerCone};
        PutF32s(rest);
    }
    EndChunk();
}

void SrxWriter::MeshHeader(uint16_t node, uint8_t primitiveCount, std::span<const int32_t> boneNodes,
                           std::span<const std::array<float, 16>> boneMatrices) {
    BeginChunk(ChunkMesh);
    PutU16(node);
    PutU8(primitiveCount);
    PutU8(static_cast<uint8_t>(boneNodes.size()));
    for (size_t b = 0; b < boneNodes.size(); ++b) {
        PutU16(static_cast<uint16_t>(boneNodes[b]));
        if (b < boneMatrices.size())
            PutF32s(boneMatrices[b]);
        else
            PutZeros(16 * sizeof(float));
    }
    EndChunk();
}

void SrxWriter::Primitive(uint16_t vertexCount, uint16_t faceCount, uint8_t material) {
    BeginChunk(ChunkPrimitive);
    PutU16(vertexCount);
    PutU16(faceCount);
    PutU8(material);
    EndChunk();
}

void SrxWriter::Positions(std::span<const float> xyz) {
    BeginChunk(ChunkPositions);
    PutF32s(xyz);
    EndChunk();
}

void SrxWriter::Normals(std::span<const float> xyz) {
    BeginChunk(ChunkNormals);
    PutF32s(xyz);
    EndChunk();
}

void SrxWriter::TexCoords(std::span<const float> uv) {
    BeginChunk(ChunkTexCoords);
    PutF32s(uv);
    EndChunk();
}

void SrxWriter::TexCoords2(std::span<const float> uv) {
    BeginChunk(ChunkTexCoords2);
    PutF32s(uv);
    EndChunk();
}

void SrxWriter::Weights(std::span<const SrxVertex> vertices) {
    BeginChunk(ChunkWeights);
    for (const SrxVertex& vertex : vertices) {
        uint8_t n = std::min<uint8_t>(vertex.influenceCount, MaxInfluences);
        PutU8(n);
        PutF32s(std::span(vertex.weights, n));
        PutBytes(std::span(vertex.bones, n));
    }
    EndChunk();
}

void SrxWriter::Indices(std::span<const uint16_t> indices) {
    BeginChunk(ChunkIndices);
    if constexpr (std::endian::native == std::endian::little)
        PutHostBytes(indices);
    else
        for (uint16_t index : indices) PutU16(index);
    EndChunk();
}

void SrxWriter::VertexColors(uint8_t primitive, std::span<const std::array<uint8_t, 4>> colors) {
    BeginChunk(ChunkVertexColors);
    PutU8(primitive);
    for (const std::array<uint8_t, 4>& color : colors) PutBytes(color);
    EndChunk();
}

void SrxWriter::MorphTargets(uint8_t primitive, const SrxPrimitive& source) {
    BeginChunk(ChunkMorphTargets);
    PutU8(primitive);
    PutU8(static_cast<uint8_t>(source.morphTargets.size()));
    PutU16(static_cast<uint16_t>(source.morphKeys.size()));
    PutU16(source.vertexCount);
    for (const SrxMorphTarget& target : source.morphTargets) PutF32(target.weight);
    for (const SrxMorphTarget& target : source.morphTargets)
        for (const auto* offsets : {&target.positions, &target.normals})
            if (!offsets->empty()) PutF32s(std::span<const float>(offsets->front().data(), 3 * offsets->size()));
    for (const SrxMorphKey& key : source.morphKeys) {
        PutU32(key.time);
        PutF32s(key.weights);
    }
    EndChunk();
}

void SrxWriter::LinesPoints(const SrxLinesPoints& set) {
    BeginChunk(ChunkLinesPoints);
    PutU16(set.node);
    PutU8(set.material);
    PutU8(set.kind);
    PutU32(static_cast<uint32_t>(set.positions.size()));
    PutF32(set.pointSize);
    bool colored = !set.colors.empty() && set.colors.size() == set.positions.size();
    PutU8(static_cast<uint8_t>((colored ? LinesPointsColors : 0) | (set.follows ? LinesPointsFollow : 0)));
    if (!set.positions.empty()) PutF32s(std::span<const float>(set.positions.front().data(), 3 * set.positions.size()));
    if (colored) PutHostBytes(std::span<const std::array<uint8_t, 4>>(set.colors));
    if (set.follows) PutF32s(std::span<const float>(set.placement));
    EndChunk();
}

void SrxWriter::Mesh(const SrxMesh& mesh) {
    MeshHeader(mesh.node, static_cast<uint8_t>(mesh.primitives.size()), mesh.boneNodes, mesh.boneMatrices);
    Primitives(mesh);
}

void SrxWriter::Primitives(const SrxMesh& mesh) {
    for (const SrxPrimitive& primitive : mesh.primitives) {
        Primitive(primitive.vertexCount, primitive.faceCount, primitive.material);
        std::vector<float> values;
        values.reserve(3 * primitive.vertices.size());
        auto gather = [&](auto field, int width, bool flipV) {
            values.clear();
            for (const SrxVertex& vertex : primitive.vertices)
                for (int c = 0; c < width; ++c)
                    values.push_back(flipV && c == 1 ? 1.0f - (vertex.*field)[c] : (vertex.*field)[c]);
            return std::span<const float>(values);
        };
        uint32_t flags = primitive.streamFlags;
        if (flags & StreamPositions) Positions(gather(&SrxVertex::position, 3, false));
        if (flags & StreamNormals) Normals(gather(&SrxVertex::normal, 3, false));
        if (flags & StreamTexCoords) TexCoords(gather(&SrxVertex::uv0, 2, true));
        if (flags & StreamTexCoords2) TexCoords2(gather(&SrxVertex::uv1, 2, true));
        if (flags & StreamWeights) Weights(primitive.vertices);
        if (!primitive.indices.empty()) Indices(primitive.indices);
    }
    // After every primitive: a reader that does not know VCOL or MRPH meets them between chunks.
    for (size_t p = 0; p < mesh.primitives.size(); ++p) {
        if (!mesh.primitives[p].colors.empty()) VertexColors(static_cast<uint8_t>(p), mesh.primitives[p].colors);
        if (!mesh.primitives[p].morphTargets.empty()) MorphTargets(static_cast<uint8_t>(p), mesh.primitives[p]);
    }
}

void SrxWriter::Truncate(size_t size) {
    if (chunkOpen_) EndChunk();
    if (size < data_.size()) data_.resize(size);
}
