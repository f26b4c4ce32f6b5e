// SrxWriter: builds SRX files in memory, for tests, tools and benchmarks.
//
// The engine only reads SRX; this is the other side, kept next to the reader so that both
// follow the same constants. The chunk functions write exactly filled chunks from the
// importer's own records. Malformed files are made from the same pieces: EndChunkWithSize
// states any size, the Put functions write any field sequence, record counts are written
// as the records give them (a primitive's vertexCount need not match its vertex list),
// and Truncate cuts the data anywhere.
#pragma once

#include "import/SrxScene.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

class SrxWriter {
public:
    // Opens a chunk: writes the id and a size to be patched. An open chunk is ended first.
    void BeginChunk(uint32_t id);
    // Patches the size to the bytes written since BeginChunk, header included.
    void EndChunk();
    // Patches a chosen size instead, true or not.
    void EndChunkWithSize(uint32_t size);

    void PutU8(uint8_t value);
    void PutU16(uint16_t value);
    void PutU32(uint32_t value);
    void PutF32(float value);
    void PutF32s(std::span<const float> values);
    void PutBytes(std::span<const uint8_t> bytes);
    void PutZeros(size_t count);
    // A 256-byte string field: the text, then zeros. Text of 256 bytes or more is cut to
    // 256 bytes and so has no NUL.
    void PutString(std::string_view text);
    // A 256-byte field copied as it is, NUL or not.
    void PutStringField(const char (&field)[srx::StringFieldSize]);

    // Whole chunks.
    void SceneHeader();
    // The names written are maps[0 .. popcount(mapMask) - 1], as paths; slots past the
    // eighth are written empty. An extended material's extension follows them.
    void Material(const SrxMaterial& material);
    // The tracks of the set trackFlags bits, in file order, each with keys.size() keys.
    void Node(const SrxNode& node);
    void Camera(const SrxCamera& camera);
    void Light(const SrxLight& light);
    void MeshHeader(uint16_t node, uint8_t primitiveCount, std::span<const int32_t> boneNodes = {},
                    std::span<const std::array<float, 16>> boneMatrices = {});
    void Primitive(uint16_t vertexCount, uint16_t faceCount, uint8_t material);
    // Vertex streams take the values as the file holds them (v not yet flipped).
    void Positions(std::span<const float> xyz);
    void Normals(std::span<const float> xyz);
    void TexCoords(std::span<const float> uv);
    void TexCoords2(std::span<const float> uv);
    void Weights(std::span<const SrxVertex> vertices);
    void Indices(std::span<const uint16_t> indices);
    // VCOL for primitive number `primitive` of the mesh last written.
    void VertexColors(uint8_t primitive, std::span<const std::array<uint8_t, 4>> colors);
    // MESH with one PRIM per primitive, each followed by the streams its streamFlags name
    // (from the vertex list, v written as 1 - uv[1]) and INDX when it has indices; then VCOL
    // for each primitive that has colours.
    void Mesh(const SrxMesh& mesh);
    // MRPH for primitive number `primitive` of the mesh last written, as the record holds it.
    void MorphTargets(uint8_t primitive, const SrxPrimitive& source);
    // LNPT; colours are written only when there is one per position.
    void LinesPoints(const SrxLinesPoints& set);
    // What Mesh writes after the MESH chunk: one PRIM with its streams and INDX per
    // primitive, then the VCOL chunks. A converter writes these as each mesh is made and the
    // header, whose bone matrices come last, when the scene is put together.
    void Primitives(const SrxMesh& mesh);

    // Cuts the data to size bytes (no effect when it is shorter).
    void Truncate(size_t size);
    // Room for bytes in all, so that a large scene is not copied as it grows.
    void Reserve(size_t bytes) { data_.reserve(bytes); }
    const std::vector<uint8_t>& Data() const { return data_; }
    // The bytes written, leaving the writer empty.
    std::vector<uint8_t> TakeData() { return std::move(data_); }
    size_t Size() const { return data_.size(); }

private:
    // Values as the host stores them: on a little-endian host that is the file's byte
    // order, one copy instead of a push a byte.
    template <class T>
    void PutHostBytes(std::span<const T> values) {
        PutBytes(std::span(reinterpret_cast<const uint8_t*>(values.data()), values.size_bytes()));
    }

    std::vector<uint8_t> data_;
    size_t chunkStart_ = 0;
    bool chunkOpen_ = false;
};
