// The SRX scene format's constants: chunk ids, flag bits and the sizes of fixed fields.
//
// Shared by the importer and the SRX writer so that both agree on every number. What each
// chunk means is documented with the records in SrxScene.h.
#pragma once

#include <cstddef>
#include <cstdint>

namespace srx {

// A chunk id is four characters in reading order; read as a little-endian uint32.
constexpr uint32_t MakeChunkId(const char (&text)[5]) {
    return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) |
           static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(text[3])) << 24;
}

constexpr uint32_t ChunkSceneHeader = MakeChunkId("SC2_");
constexpr uint32_t ChunkMaterial = MakeChunkId("MATL");
constexpr uint32_t ChunkNode = MakeChunkId("NODE");
constexpr uint32_t ChunkCamera = MakeChunkId("TCAM");
constexpr uint32_t ChunkLight = MakeChunkId("LITE");
constexpr uint32_t ChunkMesh = MakeChunkId("MESH");
constexpr uint32_t ChunkPrimitive = MakeChunkId("PRIM");
constexpr uint32_t ChunkPositions = MakeChunkId("VPOS");
constexpr uint32_t ChunkNormals = MakeChunkId("VNRM");
constexpr uint32_t ChunkTexCoords = MakeChunkId("VTEX");
constexpr uint32_t ChunkTexCoords2 = MakeChunkId("VTX2");
constexpr uint32_t ChunkWeights = MakeChunkId("VWGT");
constexpr uint32_t ChunkIndices = MakeChunkId("INDX");
// Per-vertex colours of one primitive of the mesh before it: uint8 primitive number, then
// uint8 r, g, b, a per vertex. Written after the mesh's last primitive and its streams, so
// that a reader which does not know it meets it between chunks and skips it whole.
constexpr uint32_t ChunkVertexColors = MakeChunkId("VCOL");
constexpr size_t VertexColorsFixedSize = 1;
// Morph targets of one primitive of the mesh before it, and the keys of their weights:
// uint8 primitive number, uint8 target count T, uint16 key count K, uint16 vertex count V
// (the primitive's), then float32[T] weights at rest, then per target float32[3] position
// offsets and float32[3] normal offsets for each vertex (as the file holds vertices), then
// K keys of uint32 tick and float32[T] weights. Written after the mesh's last primitive, as
// VCOL is, so that older readers skip it and draw the shape at rest.
constexpr uint32_t ChunkMorphTargets = MakeChunkId("MRPH");
constexpr size_t MorphTargetsFixedSize = 1 + 1 + 2 + 2;

// Lines or points, drawn unlit: uint16 node, uint8 material, uint8 kind (LinesPointsKind),
// uint32 vertex count, float32 point size in pixels, uint8 flags (LinesPointsFlags), then
// float32[3] positions (a line list: two a segment), then with LinesPointsColors uint8 r,
// g, b, a per vertex, then with LinesPointsFollow float32[16] (_11 .. _44) the matrix that
// places them on their node's animated matrix, as a bone's offset does (the node's track
// leaves its scale out). A chunk of its own between meshes, which older readers skip
// whole, so they never take lines for triangles; a reader that knows no LinesPointsFollow
// stops before the matrix and draws them at the node's rest place.
constexpr uint32_t ChunkLinesPoints = MakeChunkId("LNPT");
constexpr size_t LinesPointsFixedSize = 2 + 1 + 1 + 4 + 4 + 1;
enum LinesPointsKind : uint8_t { LinesPointsLines = 1, LinesPointsPoints = 2 };
enum LinesPointsFlags : uint8_t { LinesPointsColors = 0x01, LinesPointsFollow = 0x02 };

constexpr bool IsVertexStream(uint32_t id) {
    return id == ChunkPositions || id == ChunkNormals || id == ChunkTexCoords || id == ChunkTexCoords2 ||
           id == ChunkWeights || id == ChunkIndices;
}

// The four id characters for messages, with bytes outside printable ASCII shown as '?'.
struct ChunkIdText {
    explicit ChunkIdText(uint32_t id) {
        for (int i = 0; i < 4; ++i) {
            char c = static_cast<char>((id >> (8 * i)) & 0xFF);
            text[i] = c >= 0x20 && c < 0x7F ? c : '?';
        }
        text[4] = '\0';
    }
    char text[5];
};

constexpr uint32_t ChunkHeaderSize = 8;
constexpr size_t StringFieldSize = 256;

// Bytes of the fixed part of each chunk body; counted parts follow it.
constexpr size_t SceneHeaderBodySize = 34;
constexpr size_t MaterialFixedSize = 314;
// What a material carries beyond diffuse and normal maps follows its map names in files
// that carry it, which older readers skip: uint16 flags (MaterialFlags), float32 alpha
// cutoff, float32[4] base colour factor (alpha: the opacity), float32[3] emissive colour
// (strength folded in), float32 metallic and roughness factors, uint16 extraMapMask
// (ExtraMap bits), then per map slot (MapSlot order) a texture transform: float32[2]
// offset, float32[2] scale, float32 rotation in radians, uint8 texture coordinate set;
// then one 256-byte name per set extraMapMask bit, in ascending bit order. A reader that
// knows fewer bits reads the names of those it knows, which come first, and leaves the rest
// of the body unread.
constexpr size_t TextureTransformSize = 5 * 4 + 1;
enum MapSlot : int {
    MapSlotDiffuse,
    MapSlotNormal,
    MapSlotEmissive,
    MapSlotOpacity,
    MapSlotMetalRoughness,
    MapSlotCount,
};
constexpr size_t MaterialExtensionSize = 2 + 4 + 16 + 12 + 8 + 2 + MapSlotCount * TextureTransformSize;
enum MaterialFlags : uint16_t {
    MaterialAlphaMask = 0x01,     // cut-out: alpha below the cutoff is not drawn
    MaterialAlphaBlend = 0x02,    // blended over what is behind by its alpha
    MaterialDoubleSided = 0x04,   // drawn without culling, back faces lit as seen
    MaterialVertexColors = 0x08,  // its primitives carry colours (VCOL) that multiply the base colour
    MaterialMetalRoughness = 0x10,
    // Metalness and roughness come from maps of their own (formats other than glTF): the
    // metal/roughness map is a metalness map and roughness is read from the roughness map,
    // each white (its factor alone) when the material has none. Without it the one
    // metal/roughness map holds both, glTF's way.
    MaterialMetalRoughnessApart = 0x20,
};
enum ExtraMap : uint16_t {
    ExtraMapEmissive = 0x01,
    ExtraMapOpacity = 0x02,
    ExtraMapMetalRoughness = 0x04,
    ExtraMapRoughness = 0x08,  // with MaterialMetalRoughnessApart
};
constexpr int ExtraMapCount = 4;
constexpr size_t NodeFixedSize = 338;
constexpr size_t CameraBodySize = 14;
constexpr size_t LightBodySize = 18;
// A light's reach follows its first 18 bytes in files that carry it, which older readers
// skip: uint16 kind (LightKindPoint...), then in the scene's frame at its first pose
// (where the engine places the meshes) float32[3] position and float32[3] direction, then
// float32[3] colour (intensity folded in), float32 range, float32 inner and outer cone
// half-angles in radians.
constexpr size_t LightReachSize = 2 + 12 + 12 + 12 + 4 + 4 + 4;
enum LightKindCode : uint16_t { LightKindPoint = 1, LightKindSpot = 2, LightKindDirectional = 3 };
constexpr size_t MeshFixedSize = 4;
constexpr size_t BoneEntrySize = 2 + 16 * 4;
constexpr size_t PrimitiveBodySize = 5;
constexpr size_t TrackHeaderSize = 5;
constexpr size_t SampledKeySize = 32;
constexpr size_t CurveKeyFixedSize = 22;  // plus 4 bytes per channel

constexpr int MaxMaps = 8;
// The engine's own white image (in its data folder), named as the diffuse map of a material
// that has only a normal map, since the normal map is read as the second name.
constexpr const char* EngineWhiteMap = "default_white.bmp";
constexpr int MaxChannels = 8;
constexpr int MaxInfluences = 4;

// Which tracks a NODE carries (its trackFlags).
enum TrackFlags : uint16_t {
    TrackKeyedPosition = 0x01,
    TrackKeyedStoredA = 0x02,  // read and kept, never evaluated
    TrackKeyedScale = 0x04,
    TrackKeyedStoredB = 0x08,  // read and kept, never evaluated
    TrackSampledTransform = 0x80,
};

// Fixed slots of SrxNode::tracks.
enum TrackSlot : int {
    SlotKeyedPosition = 0,
    SlotKeyedStoredA = 1,
    SlotKeyedScale = 2,
    SlotSampledTransform = 3,
    SlotKeyedStoredB = 4,
    TrackSlotCount = 5,
};

// Tracks follow the node in this order of flag bits, whatever their slots.
struct TrackOrderEntry {
    uint16_t flag;
    TrackSlot slot;
};
constexpr TrackOrderEntry TrackFileOrder[TrackSlotCount] = {
    {TrackSampledTransform, SlotSampledTransform}, {TrackKeyedPosition, SlotKeyedPosition},
    {TrackKeyedStoredB, SlotKeyedStoredB},         {TrackKeyedStoredA, SlotKeyedStoredA},
    {TrackKeyedScale, SlotKeyedScale},
};

// A track of this kind holds complete transforms per key; every other kind is a curve.
constexpr uint8_t TrackKindSampledTransform = 2;

// Which vertex streams a primitive received (SrxPrimitive::streamFlags). INDX has no bit.
enum StreamFlags : uint32_t {
    StreamPositions = 0x01,
    StreamNormals = 0x02,
    StreamTexCoords = 0x04,
    StreamTexCoords2 = 0x08,
    StreamWeights = 0x10,
    StreamColors = 0x20,  // from VCOL
};

// Map bits the engine gives a meaning (SrxMaterial::mapMask).
constexpr uint16_t MapDiffuse = 0x0001;
constexpr uint16_t MapNormal = 0x0010;

}  // namespace srx
