// SRX scene import.
//
// Owns: turning the bytes of one .srx file into an SrxScene, plain records in file order
// (materials, nodes with their animation tracks, cameras, lights, meshes with primitives
// and vertex streams), and the running account of the import written to the log.
// Leaves to others: reading the file (the caller hands over a memory block and frees it
// afterwards), building meshes, materials and controllers from the records (the scene
// builder), and checking the numbers the file uses to refer to other records (material,
// node, bone and vertex indices are kept as they stand).
//
// Records keep the fields of their chunks with the file's widths. Fields described as
// "kept" are stored for completeness and never interpreted by the engine.
#pragma once

#include "import/SrxFormat.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class ChunkReader;

// How a map's texture coordinates are found: the set, then scaled, rotated and offset as
// KHR_texture_transform says, in the engine's coordinates (u right, v down):
// u' = offset.u + cos r (scale.u u) + sin r (scale.v v), v' = offset.v - sin r (scale.u u)
// + cos r (scale.v v).
struct SrxTextureTransform {
    float offset[2] = {0.0f, 0.0f};
    float scale[2] = {1.0f, 1.0f};
    float rotation = 0.0f;
    uint8_t uvSet = 0;
    bool IsIdentity() const {
        return offset[0] == 0.0f && offset[1] == 0.0f && scale[0] == 1.0f && scale[1] == 1.0f && rotation == 0.0f &&
               uvSet == 0;
    }
    bool operator==(const SrxTextureTransform&) const = default;
};

struct SrxMaterial {
    char name[srx::StringFieldSize] = {};  // lower-cased, always NUL-terminated
    uint16_t extraWord = 0;                // kept
    float ambient[3] = {};
    float diffuse[3] = {};
    float specular[3] = {};
    float extraScalars[4] = {};  // kept
    uint8_t extraBytes[2] = {};  // kept
    uint16_t mapMask = 0;        // one bit per map in the file (srx::MapDiffuse, srx::MapNormal)
    // Slot i holds the file name (lower-cased, without directories) of the i-th map the
    // chunk names; empty where the chunk names none.
    std::string maps[srx::MaxMaps];

    // The extension (srx::MaterialExtensionSize), when the file carries it; the defaults
    // otherwise, which draw as the record above alone does.
    bool extended = false;
    uint16_t flags = 0;  // srx::MaterialFlags
    float alphaCutoff = 0.5f;
    float baseColor[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    float emissive[3] = {};
    float metallic = 0.0f, roughness = 1.0f;
    uint16_t extraMapMask = 0;                  // srx::ExtraMap bits
    std::string extraMaps[srx::ExtraMapCount];  // by bit: emissive, opacity, metal-roughness, roughness
    SrxTextureTransform transforms[srx::MapSlotCount];
};

// Puts the extension's values where they can be drawn: a cutoff outside 0..1, factors,
// colours and transforms that are not finite, a texture coordinate set past the second,
// each take their default. Returns what was replaced ("alpha cutoff 7 (0.5)"), empty when
// nothing was.
std::string TameMaterialValues(SrxMaterial& material);

// One key of either track kind.
struct SrxKey {
    uint32_t time = 0;     // animation ticks
    float params[5] = {};  // curve keys only; kept
    // Curve keys: values[0 .. channels - 1]. Sampled-transform keys: position in 0..2,
    // values[3] zero, rotation quaternion x, y, z, w in 4..7.
    float values[8] = {};
};

struct SrxTrack {
    uint8_t kind = 0;       // srx::TrackKindSampledTransform, or a curve
    uint8_t channels = 0;   // values per curve key, at most srx::MaxChannels
    uint8_t extraByte = 0;  // kept
    std::vector<SrxKey> keys;
};

struct SrxNode {
    char name[srx::StringFieldSize] = {};  // case as in the file, always NUL-terminated
    uint16_t id = 0;                       // equals the node's position among the file's nodes
    uint16_t parent = 0;
    float matrix[16] = {};  // local transform, _11 .. _44, row-vector convention
    float pivot[3] = {};    // kept
    uint16_t trackFlags = 0;
    // Fixed slots (srx::TrackSlot); a slot whose flag is clear stays empty.
    SrxTrack tracks[srx::TrackSlotCount];
};

struct SrxCamera {
    uint16_t node = 0;
    float values[3] = {};  // kept
};

struct SrxLight {
    uint16_t node = 0;
    uint16_t words[2] = {};  // kept
    float values[3] = {};    // kept
    // The light's reach, when the file carries it (srx::LightReachSize); kind 0 otherwise.
    uint16_t kind = 0;
    float position[3] = {};
    float direction[3] = {0.0f, 0.0f, 1.0f};
    float color[3] = {};
    float range = 0.0f;
    float innerCone = 0.0f, outerCone = 0.0f;  // half-angles, radians
};

// Every field stays zero until a vertex stream writes it.
struct SrxVertex {
    float position[3] = {};
    float normal[3] = {};
    float uv0[2] = {};  // u, and 1 - v of the file
    float uv1[2] = {};  // u, and 1 - v of the file
    uint8_t influenceCount = 0;
    float weights[4] = {};
    uint8_t bones[4] = {};  // indices into the mesh's boneNodes
};

// One morph target: what it adds to each vertex at weight 1.
struct SrxMorphTarget {
    float weight = 0.0f;  // at rest, without keys
    std::vector<std::array<float, 3>> positions, normals;  // offsets, one per vertex
};

// The weights of every target of a primitive at one tick.
struct SrxMorphKey {
    uint32_t time = 0;
    std::vector<float> weights;
};

struct SrxPrimitive {
    uint16_t vertexCount = 0;
    uint16_t faceCount = 0;
    uint8_t material = 0;               // index into SrxScene::materials, unchecked
    std::vector<SrxVertex> vertices;    // exactly vertexCount entries
    std::vector<uint16_t> indices;      // exactly 3 * faceCount entries, unchecked
    // r, g, b, a bytes per vertex (VCOL), exactly vertexCount entries; empty without.
    std::vector<std::array<uint8_t, 4>> colors;
    uint32_t streamFlags = 0;           // srx::StreamFlags of the streams read
    // MRPH: each target holds vertexCount offsets and each key one weight per target.
    std::vector<SrxMorphTarget> morphTargets;
    std::vector<SrxMorphKey> morphKeys;
};

struct SrxMesh {
    uint16_t node = 0;
    std::vector<int32_t> boneNodes;  // node id of each bone; a mesh with bones is skinned
    std::vector<std::array<float, 16>> boneMatrices;  // one offset matrix per bone
    std::vector<SrxPrimitive> primitives;
};

// LNPT: a line list or a point list hanging from a node, drawn unlit in its material's
// diffuse colour times its vertex colours.
struct SrxLinesPoints {
    uint16_t node = 0;
    uint8_t material = 0;  // index into SrxScene::materials, unchecked
    uint8_t kind = srx::LinesPointsLines;  // srx::LinesPointsKind; another value is kept, not drawn
    float pointSize = 1.0f;                // pixels, as the file says it
    std::vector<std::array<float, 3>> positions;
    std::vector<std::array<uint8_t, 4>> colors;  // r, g, b, a per position; empty without
    // Set when the node's animation moves them: drawn at placement x the node's animated
    // matrix each frame instead of at the node's matrix.
    bool follows = false;
    std::array<float, 16> placement{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
};

// What the import does when a mesh announces more primitives than follow it.
enum class MissingPrimitive {
    Fatal,      // the engine's behaviour: Log::Fatal, the process ends
    EndImport,  // tools and fuzzing: the import stops and importError holds the message
};

class SrxScene {
public:
    // Runs the whole import over the size bytes at data, which are only read, and only
    // here. Always yields a scene; a block without usable chunks gives empty lists. The
    // source's name, when given, follows the fatal message, so a user knows which file.
    SrxScene(const void* data, size_t size, MissingPrimitive onMissingPrimitive = MissingPrimitive::Fatal,
             const char* sourceName = nullptr);

    std::vector<SrxMaterial> materials;
    std::vector<SrxMesh> meshes;
    std::vector<SrxNode> nodes;
    std::vector<SrxCamera> cameras;
    std::vector<SrxLight> lights;
    std::vector<SrxLinesPoints> linesPoints;
    // With MissingPrimitive::EndImport: the fatal message the engine would have stopped
    // with, or empty.
    std::string importError;

private:
    void ImportSRX(ChunkReader& reader, MissingPrimitive onMissingPrimitive, const char* sourceName);
};
