// ImportSRX: one pass over the chunks of a block, filling the scene's lists and writing
// the import's account to the log.
//
// Malformed files. The format promises whole chunks of at least 8 bytes inside the data,
// streams that hold their full counts, at most 4 influences per vertex, 8 channels per
// curve and 8 map names per material, and NUL-terminated strings. None of that is
// trusted; the import never reads outside the block and never writes outside a record:
//  - Framing ends the import. A header cut short by the end of the data, a size of 1 to 7,
//    or a chunk that runs past the end of the data stops the import at that chunk, keeping
//    everything read before it (a size of 0 ends it too, silently, as the format says).
//  - Bodies are read through a stream confined to their chunk, so nothing spills into the
//    next chunk. A chunk shorter than its fixed fields is read as far as it goes and the
//    missing fields read as zero; its record is still kept, so node positions stay ids.
//  - A count the chunk cannot hold is refused, not read past: such map names, bones,
//    track keys or stream entries are not read at all. A refused track also ends its
//    node's tracks, since nothing after it can lie inside the chunk. A refused stream
//    leaves its StreamFlags bit clear.
//  - Clamped: a mapMask with more than eight bits (the first eight names are read),
//    curves with more than eight channels (the first eight values of each key are kept),
//    vertices with more than four influences (the first four kept), strings without a NUL
//    (cut to 255 characters).
// Each case writes one log line naming the chunk and its offset, so a bad file can be
// told from a good one by its log. The one fatal error stays: a mesh whose announced
// PRIM chunk is missing at a clean chunk boundary ends the program, as the engine has
// always done; tools ask for MissingPrimitive::EndImport instead.
#include "import/SrxScene.h"

#include "app/Log.h"
#include "import/ByteStream.h"
#include "import/ChunkReader.h"
#include "resources/FileUtil.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#endif

using namespace srx;

namespace {

constexpr const char* MissingPrimitiveMessage = "ImportSRX: Mesh has no primitive chunk.";

// Where a diagnostic points: the chunk's id and the offset of its header in the block.
struct ChunkSite {
    uint32_t id;
    size_t offset;
    const char* Name() const { return name.text; }
    ChunkIdText name{id};
};

ChunkSite SiteOf(const ChunkReader& reader) { return ChunkSite{reader.LastHeaderId(), reader.ChunkStart()}; }

void WarnIfShort(const ByteStream& body, size_t fieldBytes, const ChunkSite& site) {
    if (body.Size() >= fieldBytes) return;
    Log::Write("ImportSRX: %s chunk at offset %zu has %zu body bytes, fewer than its %zu bytes of fields; "
               "the missing fields read as zero.\n",
               site.Name(), site.offset, body.Size(), fieldBytes);
}

// True when count entries of entryBytes each fit in what is left of the body; logs the
// refusal otherwise.
bool CountFits(const ByteStream& body, size_t count, size_t entryBytes, const char* what, const ChunkSite& site,
               const char* consequence) {
    if (body.Remaining() / entryBytes >= count) return true;
    Log::Write("ImportSRX: %s chunk at offset %zu: %zu %s need %zu bytes, %zu left; %s.\n", site.Name(), site.offset,
               count, what, count * entryBytes, body.Remaining(), consequence);
    return false;
}

// Reads a 256-byte string field; a field without NUL is cut to 255 characters.
void ReadString(ByteStream& body, char (&dst)[StringFieldSize], const char* what, const ChunkSite& site) {
    body.ReadBytes(dst, StringFieldSize);
    if (std::memchr(dst, 0, StringFieldSize)) return;
    dst[StringFieldSize - 1] = '\0';
    Log::Write("ImportSRX: %s chunk at offset %zu: %s has no NUL; cut to 255 characters.\n", site.Name(),
               site.offset, what);
}

void ReportFraming(const ChunkReader& reader) {
    ChunkSite site = SiteOf(reader);
    switch (reader.Status()) {
        case HeaderStatus::CutHeader:
            Log::Write("ImportSRX: %zu stray bytes at offset %zu are too few for a chunk header; import ends here.\n",
                       reader.Stream().Size() - site.offset, site.offset);
            break;
        case HeaderStatus::SizeBelowHeader:
            Log::Write("ImportSRX: %s chunk at offset %zu has size %u, less than its 8-byte header; "
                       "import ends here.\n",
                       site.Name(), site.offset, reader.LastHeaderSize());
            break;
        case HeaderStatus::PastEnd:
            Log::Write("ImportSRX: %s chunk at offset %zu has size %u, past the end of the data (%zu bytes); "
                       "import ends here.\n",
                       site.Name(), site.offset, reader.LastHeaderSize(),
                       reader.Stream().Size());
            break;
        default:
            break;
    }
}

bool IsFramingFault(HeaderStatus status) {
    return status == HeaderStatus::CutHeader || status == HeaderStatus::SizeBelowHeader ||
           status == HeaderStatus::PastEnd;
}

void ReadSceneHeader(ChunkReader& reader) {
    // Read field by field and dropped: nothing in the header is interpreted.
    ByteStream body = reader.Body();
    WarnIfShort(body, SceneHeaderBodySize, SiteOf(reader));
    body.ReadU8();
    body.ReadU8();
    body.ReadU32();
    body.ReadU32();
    body.ReadU32();
    body.ReadU16();
    body.ReadF32();
    body.ReadF32();
    body.ReadU16();
    body.ReadU16();
    body.ReadU16();
    body.ReadF32();
}

std::string FlagNames(const SrxMaterial& m) {
    std::string names;
    auto add = [&](uint16_t flag, const std::string& name) {
        if (m.flags & flag) names += (names.empty() ? "" : ", ") + name;
    };
    char cutoff[48];
    std::snprintf(cutoff, sizeof(cutoff), "alpha mask at %g", static_cast<double>(m.alphaCutoff));
    add(MaterialAlphaMask, cutoff);
    add(MaterialAlphaBlend, "alpha blend");
    add(MaterialDoubleSided, "double-sided");
    add(MaterialVertexColors, "vertex colours");
    add(MaterialMetalRoughness, "metal/roughness");
    add(MaterialMetalRoughnessApart, "metalness and roughness maps apart");
    return names.empty() ? "none" : names;
}

void ReadMaterialExtension(ByteStream& body, SrxMaterial& material, const ChunkSite& site) {
    material.extended = true;
    material.flags = body.ReadU16();
    material.alphaCutoff = body.ReadF32();
    body.ReadF32Array(material.baseColor, 4);
    body.ReadF32Array(material.emissive, 3);
    material.metallic = body.ReadF32();
    material.roughness = body.ReadF32();
    material.extraMapMask = body.ReadU16();
    for (SrxTextureTransform& t : material.transforms) {
        body.ReadF32Array(t.offset, 2);
        body.ReadF32Array(t.scale, 2);
        t.rotation = body.ReadF32();
        t.uvSet = body.ReadU8();
    }
    Log::Write("  features: %s\n", FlagNames(material).c_str());
    Log::Write("  base colour %f %f %f %f emissive %f %f %f metallic %f roughness %f\n", material.baseColor[0],
               material.baseColor[1], material.baseColor[2], material.baseColor[3], material.emissive[0],
               material.emissive[1], material.emissive[2], material.metallic, material.roughness);
    static const char* const kExtraNames[ExtraMapCount] = {"Emissive map", "Opacity map", "Metal/roughness map",
                                                             "Roughness map"};
    uint16_t named = 0;
    for (int bit = 0; bit < ExtraMapCount; ++bit) {
        if (!(material.extraMapMask & (1u << bit))) continue;
        if (!CountFits(body, 1, StringFieldSize, "map names", site, "the rest of its maps are not read")) break;
        char path[StringFieldSize];
        ReadString(body, path, "map name", site);
        LowercaseInPlace(path);
        material.extraMaps[bit] = FileNameOfPath(path);
        Log::Write("%s: %s\n", kExtraNames[bit], path);
        named |= static_cast<uint16_t>(1u << bit);
    }
    // A bit without a name, or one no map is known by, reads as no map.
    material.extraMapMask = named;
    for (int slot = 0; slot < MapSlotCount; ++slot) {
        const SrxTextureTransform& t = material.transforms[slot];
        if (t.IsIdentity()) continue;
        Log::Write("  map slot %d: texture coordinates %d, offset %f %f, scale %f %f, rotation %f\n", slot, t.uvSet,
                   t.offset[0], t.offset[1], t.scale[0], t.scale[1], t.rotation);
    }
    std::string tamed = TameMaterialValues(material);
    if (!tamed.empty())
        Log::Write(
            "ImportSRX: %s chunk at offset %zu: material '%s' has values that cannot be drawn: %s; they take "
            "the defaults in brackets.\n",
            site.Name(), site.offset, material.name, tamed.c_str());
}

SrxMaterial ReadMaterial(ChunkReader& reader) {
    ChunkSite site = SiteOf(reader);
    ByteStream body = reader.Body();
    WarnIfShort(body, MaterialFixedSize, site);
    SrxMaterial material;
    ReadString(body, material.name, "material name", site);
    material.extraWord = body.ReadU16();
    body.ReadF32Array(material.ambient, 3);
    body.ReadF32Array(material.diffuse, 3);
    body.ReadF32Array(material.specular, 3);
    body.ReadF32Array(material.extraScalars, 4);
    material.extraBytes[0] = body.ReadU8();
    material.extraBytes[1] = body.ReadU8();
    material.mapMask = body.ReadU16();
    LowercaseInPlace(material.name);
    Log::Write("Material: %s\n", material.name);

    size_t mapCount = static_cast<size_t>(std::popcount(material.mapMask));
    if (mapCount > MaxMaps) {
        Log::Write("ImportSRX: %s chunk at offset %zu: mapMask 0x%04X names %zu maps; only the first %d are read.\n",
                   site.Name(), site.offset, unsigned{material.mapMask}, mapCount, MaxMaps);
        mapCount = MaxMaps;
    }
    if (!CountFits(body, mapCount, StringFieldSize, "map names", site, "no maps are read")) mapCount = 0;
    for (size_t i = 0; i < mapCount; ++i) {
        char path[StringFieldSize];
        ReadString(body, path, "map name", site);
        LowercaseInPlace(path);
        Log::Write("Map %d: %s\n", static_cast<int>(i), path);
        material.maps[i] = FileNameOfPath(path);
    }
    if (body.Remaining() >= MaterialExtensionSize) ReadMaterialExtension(body, material, site);
    return material;
}

// VCOL: the colours of one primitive of the last mesh read.
void ReadVertexColors(ChunkReader& reader, std::vector<SrxMesh>& meshes) {
    ChunkSite site = SiteOf(reader);
    ByteStream body = reader.Body();
    WarnIfShort(body, VertexColorsFixedSize, site);
    uint8_t number = body.ReadU8();
    if (meshes.empty() || number >= meshes.back().primitives.size()) {
        Log::Write(
            "ImportSRX: %s chunk at offset %zu names primitive %d of a mesh that has no such primitive; "
            "the colours are not read.\n",
            site.Name(), site.offset, number);
        return;
    }
    SrxPrimitive& primitive = meshes.back().primitives[number];
    Log::Write("Reading vertex colours of primitive %d...\n", number);
    if (!CountFits(body, primitive.vertexCount, 4, "vertex entries", site, "the stream is not read")) return;
    primitive.colors.resize(primitive.vertexCount);
    body.ReadBytes(primitive.colors.data(), 4 * size_t{primitive.vertexCount});
    primitive.streamFlags |= StreamColors;
}

// MRPH: the morph targets of one primitive of the last mesh read.
void ReadMorphTargets(ChunkReader& reader, std::vector<SrxMesh>& meshes) {
    ChunkSite site = SiteOf(reader);
    ByteStream body = reader.Body();
    WarnIfShort(body, MorphTargetsFixedSize, site);
    uint8_t number = body.ReadU8();
    uint8_t targets = body.ReadU8();
    uint16_t keys = body.ReadU16();
    uint16_t vertices = body.ReadU16();
    if (meshes.empty() || number >= meshes.back().primitives.size()) {
        Log::Write("ImportSRX: %s chunk at offset %zu names primitive %d of a mesh that has no such primitive; "
                   "the targets are not read.\n",
                   site.Name(), site.offset, number);
        return;
    }
    SrxPrimitive& primitive = meshes.back().primitives[number];
    if (vertices != primitive.vertexCount) {
        Log::Write("ImportSRX: %s chunk at offset %zu: morph targets of %u vertices for a primitive of %u; the "
                   "primitive keeps its shape.\n",
                   site.Name(), site.offset, vertices, primitive.vertexCount);
        return;
    }
    Log::Write("Reading %d morph targets of primitive %d, %d keys...\n", targets, number, keys);
    size_t bytes = 4 + 24 * size_t{vertices};
    if (!CountFits(body, targets, bytes, "morph targets", site, "the primitive keeps its shape")) return;
    primitive.morphTargets.resize(targets);
    for (SrxMorphTarget& target : primitive.morphTargets) target.weight = body.ReadF32();
    for (SrxMorphTarget& target : primitive.morphTargets) {
        target.positions.resize(vertices);
        target.normals.resize(vertices);
        body.ReadF32Array(target.positions.data()->data(), 3 * size_t{vertices});
        body.ReadF32Array(target.normals.data()->data(), 3 * size_t{vertices});
    }
    if (!CountFits(body, keys, 4 + 4 * size_t{targets}, "weight keys", site, "the weights stay at rest")) return;
    primitive.morphKeys.resize(keys);
    for (SrxMorphKey& key : primitive.morphKeys) {
        key.time = body.ReadU32();
        key.weights.resize(targets);
        body.ReadF32Array(key.weights.data(), targets);
    }
}

// LNPT: one line or point list.
SrxLinesPoints ReadLinesPoints(ChunkReader& reader) {
    ChunkSite site = SiteOf(reader);
    ByteStream body = reader.Body();
    WarnIfShort(body, LinesPointsFixedSize, site);
    SrxLinesPoints set;
    set.node = body.ReadU16();
    set.material = body.ReadU8();
    set.kind = body.ReadU8();
    uint32_t count = body.ReadU32();
    set.pointSize = body.ReadF32();
    uint8_t flags = body.ReadU8();
    Log::Write("Reading %u %s...\n", count, set.kind == LinesPointsPoints ? "points" : "line vertices");
    if (!CountFits(body, count, 12, "positions", site, "the list is not read")) return set;
    set.positions.resize(count);
    body.ReadF32Array(set.positions.data()->data(), 3 * size_t{count});
    if ((flags & LinesPointsColors) && CountFits(body, count, 4, "colours", site, "they are not read")) {
        set.colors.resize(count);
        body.ReadBytes(set.colors.data(), 4 * size_t{count});
    }
    if ((flags & LinesPointsFollow) &&
        CountFits(body, 1, sizeof(set.placement), "placement matrices", site, "they stay at the node's rest place")) {
        body.ReadF32Array(set.placement.data(), set.placement.size());
        set.follows = true;
    }
    return set;
}

// False when the track's keys could not be read, which ends the node's tracks.
bool ReadTrack(ByteStream& body, SrxTrack& track, const ChunkSite& site) {
    if (body.Remaining() < TrackHeaderSize) {
        Log::Write("ImportSRX: %s chunk at offset %zu: a track header needs %zu bytes, %zu left; "
                   "the node's tracks end here.\n",
                   site.Name(), site.offset, TrackHeaderSize, body.Remaining());
        return false;
    }
    track.kind = body.ReadU8();
    uint8_t channels = body.ReadU8();
    uint16_t keyCount = body.ReadU16();
    track.extraByte = body.ReadU8();
    Log::Write("Track: keys: %d channels: %d\n", keyCount, channels);
    bool sampled = track.kind == TrackKindSampledTransform;
    if (sampled) Log::Write("Track is sampled Transform.\n");

    // The record holds eight values; the key layout in the file still follows the
    // file's channel count, so extra values are skipped rather than misread.
    track.channels = std::min<uint8_t>(channels, MaxChannels);
    if (!sampled && channels > MaxChannels)
        Log::Write("ImportSRX: %s chunk at offset %zu: a track with %d channels; each key keeps its first %d values.\n",
                   site.Name(), site.offset, channels, MaxChannels);

    size_t keyBytes = sampled ? SampledKeySize : CurveKeyFixedSize + 4 * size_t{channels};
    if (!CountFits(body, keyCount, keyBytes, "track keys", site, "they are not read and the node's tracks end here"))
        return false;

    track.keys.resize(keyCount);
    for (size_t k = 0; k < keyCount; ++k) {
        SrxKey& key = track.keys[k];
        if (sampled) {
            key.time = body.ReadU32();
            body.ReadF32Array(key.values, 3);
            body.ReadF32Array(key.values + 4, 4);
        } else {
            key.time = body.ReadU16();
            body.ReadF32Array(key.params, 5);
            body.ReadF32Array(key.values, track.channels);
            body.Skip(4 * size_t{static_cast<uint8_t>(channels - track.channels)});
            Log::Write("Key %d time: %d data: %f %f %f %f\n", static_cast<int>(k), static_cast<int>(key.time),
                       key.values[0], key.values[1], key.values[2], key.values[3]);
        }
    }
    return true;
}

SrxNode ReadNode(ChunkReader& reader) {
    ChunkSite site = SiteOf(reader);
    ByteStream body = reader.Body();
    WarnIfShort(body, NodeFixedSize, site);
    SrxNode node;
    ReadString(body, node.name, "node name", site);
    node.id = body.ReadU16();
    node.parent = body.ReadU16();
    body.ReadF32Array(node.matrix, 16);
    body.ReadF32Array(node.pivot, 3);
    node.trackFlags = body.ReadU16();
    Log::Write("* NODE: %s Id: %d Parent: %d\n", node.name, node.id, node.parent);
    Log::Write("  pivot: %f %f %f\n", node.pivot[0], node.pivot[1], node.pivot[2]);
    for (const TrackOrderEntry& entry : TrackFileOrder) {
        if (!(node.trackFlags & entry.flag)) continue;
        if (!ReadTrack(body, node.tracks[entry.slot], site)) break;
    }
    return node;
}

SrxCamera ReadCamera(ChunkReader& reader) {
    ByteStream body = reader.Body();
    WarnIfShort(body, CameraBodySize, SiteOf(reader));
    SrxCamera camera;
    camera.node = body.ReadU16();
    body.ReadF32Array(camera.values, 3);
    Log::Write("Camera node: %d\n", camera.node);
    return camera;
}

SrxLight ReadLight(ChunkReader& reader) {
    ByteStream body = reader.Body();
    WarnIfShort(body, LightBodySize, SiteOf(reader));
    SrxLight light;
    light.node = body.ReadU16();
    light.words[0] = body.ReadU16();
    light.words[1] = body.ReadU16();
    body.ReadF32Array(light.values, 3);
    Log::Write("Light.Node: %d\n", light.node);
    if (body.Remaining() < LightReachSize) return light;
    light.kind = body.ReadU16();
    body.ReadF32Array(light.position, 3);
    body.ReadF32Array(light.direction, 3);
    body.ReadF32Array(light.color, 3);
    light.range = body.ReadF32();
    light.innerCone = body.ReadF32();
    light.outerCone = body.ReadF32();
    Log::Write("  kind %d position %f %f %f colour %f %f %f range %f\n", light.kind, light.position[0],
               light.position[1], light.position[2], light.color[0], light.color[1], light.color[2], light.range);
    return light;
}

// Influence entries vary in length, so the whole stream is measured before any vertex is
// written: either every entry fits in the chunk or none is read.
bool WeightsFit(const ByteStream& body, size_t vertexCount, const ChunkSite& site) {
    ByteStream scan = body;
    for (size_t v = 0; v < vertexCount; ++v) {
        size_t influences = scan.Remaining() ? scan.ReadU8() : 0;
        if (scan.Overran() || scan.Remaining() < 5 * influences) {
            Log::Write("ImportSRX: %s chunk at offset %zu: the influences of vertex %zu run past the chunk; "
                       "the stream is not read.\n",
                       site.Name(), site.offset, v);
            return false;
        }
        scan.Skip(5 * influences);
    }
    return true;
}

// The first vertex with more influences than a vertex keeps is reported once, before the
// stream is read.
void ReportExtraInfluences(ByteStream scan, size_t vertexCount, const ChunkSite& site) {
    for (size_t v = 0; v < vertexCount; ++v) {
        uint8_t influences = scan.ReadU8();
        if (influences > MaxInfluences) {
            Log::Write("ImportSRX: %s chunk at offset %zu: a vertex with %d influences; the first %d are kept.\n",
                       site.Name(), site.offset, influences, MaxInfluences);
            return;
        }
        scan.Skip(5 * size_t{influences});
    }
}

// A vertex stream that passed its checks, positioned at its first entry. The vertices are
// written once every stream of the primitive is known (see FillVertices).
struct PendingStream {
    uint32_t id = 0;
    ByteStream body;
};

// Logs and checks one stream chunk as it comes. Index streams are read at once; vertex
// streams are handed back to be read later, in file order.
bool AcceptStream(ChunkReader& reader, uint32_t id, SrxPrimitive& primitive, PendingStream* pending) {
    ChunkSite site = SiteOf(reader);
    ByteStream body = reader.Body();
    size_t vertexCount = primitive.vertexCount;
    const char* refused = "the stream is not read";
    switch (id) {
        case ChunkPositions:
            Log::Write("Reading vertex positions...\n");
            if (!CountFits(body, vertexCount, 12, "vertex entries", site, refused)) return false;
            primitive.streamFlags |= StreamPositions;
            break;
        case ChunkNormals:
            Log::Write("Reading vertex normals...\n");
            if (!CountFits(body, vertexCount, 12, "vertex entries", site, refused)) return false;
            primitive.streamFlags |= StreamNormals;
            break;
        case ChunkTexCoords:
            Log::Write("Reading vertex UVs...\n");
            if (!CountFits(body, vertexCount, 8, "vertex entries", site, refused)) return false;
            primitive.streamFlags |= StreamTexCoords;
            break;
        case ChunkTexCoords2:
            Log::Write("Reading vertex UV2s...\n");
            if (!CountFits(body, vertexCount, 8, "vertex entries", site, refused)) return false;
            primitive.streamFlags |= StreamTexCoords2;
            break;
        case ChunkWeights:
            Log::Write("Reading vertex weights...\n");
            if (!WeightsFit(body, vertexCount, site)) return false;
            primitive.streamFlags |= StreamWeights;
            ReportExtraInfluences(body, vertexCount, site);
            break;
        case ChunkIndices:
            Log::Write("Reading indexbuffer...\n");
            if (!CountFits(body, primitive.indices.size() / 3, 6, "triangle entries", site, refused)) return false;
            body.ReadU16Array(primitive.indices.data(), primitive.indices.size());
            return false;
        default:
            return false;
    }
    pending->id = id;
    pending->body = body;
    return true;
}

// A little-endian float at p (compilers make this one load on little-endian hosts).
float F32At(const uint8_t* p) {
    uint32_t bits = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                    static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    return std::bit_cast<float>(bits);
}

// Reads count entries of one accepted stream into vertices. The stream's checks showed
// that every entry lies inside the chunk, so the entries are read straight from its bytes.
void ReadStreamEntries(PendingStream& stream, SrxVertex* vertices, size_t count) {
    ByteStream& body = stream.body;
    const uint8_t* p = body.Data() + body.Position();
    const uint8_t* start = p;
    const uint8_t* end = p + body.Remaining();
    switch (stream.id) {
        case ChunkPositions:
            for (size_t v = 0; v < count; ++v, p += 12)
                for (int i = 0; i < 3; ++i) vertices[v].position[i] = F32At(p + 4 * i);
            break;
        case ChunkNormals:
            for (size_t v = 0; v < count; ++v, p += 12)
                for (int i = 0; i < 3; ++i) vertices[v].normal[i] = F32At(p + 4 * i);
            break;
        case ChunkTexCoords:
            for (size_t v = 0; v < count; ++v, p += 8) {
                vertices[v].uv0[0] = F32At(p);
                vertices[v].uv0[1] = 1.0f - F32At(p + 4);
            }
            break;
        case ChunkTexCoords2:
            for (size_t v = 0; v < count; ++v, p += 8) {
                vertices[v].uv1[0] = F32At(p);
                vertices[v].uv1[1] = 1.0f - F32At(p + 4);
            }
            break;
        case ChunkWeights:
            // Entry: influence count n, n weights, n bone bytes; at most MaxInfluences kept.
            // WeightsFit lets the chunk end before the last vertices' counts (they read as
            // no influences); every entry whose count is there fits whole.
            for (size_t v = 0; v < count; ++v) {
                SrxVertex& vertex = vertices[v];
                uint8_t influences = p < end ? *p++ : 0;
                uint8_t kept = std::min<uint8_t>(influences, MaxInfluences);
                vertex.influenceCount = kept;
                for (int i = 0; i < kept; ++i) vertex.weights[i] = F32At(p + 4 * i);
                p += 4 * size_t{influences};
                std::memcpy(vertex.bones, p, kept);
                p += influences;
            }
            break;
        default:
            break;
    }
    body.Skip(static_cast<size_t>(p - start));
}

// A large vertex list is fresh memory: faulting it in 4 KB at a time costs more than
// reading the file, so on Linux it asks for huge pages, which the kernel gives on request
// (transparent huge pages in "madvise" mode). A hint only; elsewhere nothing.
void PreferHugePages([[maybe_unused]] void* data, [[maybe_unused]] size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr uintptr_t kHugePage = uintptr_t{1} << 21;
    uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
    uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kHugePage - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

// The vertex list is built a block at a time, every stream applied to the block in file
// order (a repeated stream overwrites, as it would streaming into the list): each vertex
// is zeroed and written while in cache, and the large list is written to memory once
// rather than once per stream.
void FillVertices(SrxPrimitive& primitive, std::vector<PendingStream>& streams) {
    constexpr size_t kBlock = 256;  // 16 KB of vertices
    size_t count = primitive.vertexCount;
    std::vector<SrxVertex>& vertices = primitive.vertices;
    vertices.reserve(count);
    PreferHugePages(vertices.data(), count * sizeof(SrxVertex));
    for (size_t first = 0; first < count; first += kBlock) {
        size_t last = std::min(count, first + kBlock);
        vertices.resize(last);
        for (PendingStream& stream : streams) ReadStreamEntries(stream, vertices.data() + first, last - first);
    }
}

SrxPrimitive ReadPrimitive(ChunkReader& reader) {
    ByteStream body = reader.Body();
    WarnIfShort(body, PrimitiveBodySize, SiteOf(reader));
    SrxPrimitive primitive;
    primitive.vertexCount = body.ReadU16();
    primitive.faceCount = body.ReadU16();
    primitive.material = body.ReadU8();
    primitive.indices.resize(3 * size_t{primitive.faceCount});
    Log::Write("Primitive: %d vertices %d faces, material: %d\n", primitive.vertexCount, primitive.faceCount,
               primitive.material);
    // Streams belong to the primitive by position: every stream chunk up to the first
    // chunk of another kind. That chunk stays unread for whoever comes next.
    std::vector<PendingStream> streams;
    uint32_t id = 0;
    while (reader.PeekHeader(id) != 0 && IsVertexStream(id)) {
        reader.ReadHeader(id);
        PendingStream stream;
        if (AcceptStream(reader, id, primitive, &stream)) streams.push_back(stream);
    }
    FillVertices(primitive, streams);
    return primitive;
}

}  // namespace

std::string TameMaterialValues(SrxMaterial& m) {
    std::string replaced;
    auto note = [&](const char* what, double was, double now) {
        char text[96];
        std::snprintf(text, sizeof(text), "%s%s %g (%g)", replaced.empty() ? "" : ", ", what, was, now);
        replaced += text;
    };
    auto tame = [&](const char* what, float& value, float fallback, float low, float high) {
        if (std::isfinite(value) && value >= low && value <= high) return;
        note(what, static_cast<double>(value), static_cast<double>(fallback));
        value = fallback;
    };
    constexpr float kBig = 3.0e38f;
    tame("alpha cutoff", m.alphaCutoff, 0.5f, 0.0f, 1.0f);
    for (float& c : m.baseColor) tame("base colour", c, 1.0f, 0.0f, kBig);
    for (float& c : m.emissive) tame("emissive colour", c, 0.0f, 0.0f, kBig);
    tame("metallic factor", m.metallic, 0.0f, 0.0f, 1.0f);
    tame("roughness factor", m.roughness, 1.0f, 0.0f, 1.0f);
    for (SrxTextureTransform& t : m.transforms) {
        for (float& v : t.offset) tame("texture offset", v, 0.0f, -kBig, kBig);
        for (float& v : t.scale) tame("texture scale", v, 1.0f, -kBig, kBig);
        tame("texture rotation", t.rotation, 0.0f, -kBig, kBig);
        if (t.uvSet > 1) {
            note("texture coordinate set", t.uvSet, 0);
            t.uvSet = 0;
        }
    }
    return replaced;
}

SrxScene::SrxScene(const void* data, size_t size, MissingPrimitive onMissingPrimitive, const char* sourceName) {
    ByteStream stream(data, size);
    ChunkReader reader(stream);
    ImportSRX(reader, onMissingPrimitive, sourceName);
}

void SrxScene::ImportSRX(ChunkReader& reader, MissingPrimitive onMissingPrimitive, const char* sourceName) {
    uint32_t id = 0;
    bool ended = false;
    while (!ended && reader.ReadHeader(id) != 0) {
        switch (id) {
            case ChunkSceneHeader: ReadSceneHeader(reader); break;
            case ChunkMaterial: materials.push_back(ReadMaterial(reader)); break;
            case ChunkNode: nodes.push_back(ReadNode(reader)); break;
            case ChunkCamera: cameras.push_back(ReadCamera(reader)); break;
            case ChunkLight: lights.push_back(ReadLight(reader)); break;
            case ChunkVertexColors: ReadVertexColors(reader, meshes); break;
            case ChunkMorphTargets: ReadMorphTargets(reader, meshes); break;
            case ChunkLinesPoints: linesPoints.push_back(ReadLinesPoints(reader)); break;
            case ChunkMesh: {
                ChunkSite site = SiteOf(reader);
                ByteStream body = reader.Body();
                WarnIfShort(body, MeshFixedSize, site);
                SrxMesh& mesh = meshes.emplace_back();
                mesh.node = body.ReadU16();
                uint8_t primitiveCount = body.ReadU8();
                uint8_t boneCount = body.ReadU8();
                if (boneCount != 0 && CountFits(body, boneCount, BoneEntrySize, "bone entries", site, "no bones are read")) {
                    Log::Write("Mesh has %d bones:\n", boneCount);
                    for (int b = 0; b < boneCount; ++b) {
                        uint16_t boneNode = body.ReadU16();
                        Log::Write("%d ", boneNode);
                        std::array<float, 16> matrix;
                        body.ReadF32Array(matrix.data(), matrix.size());
                        mesh.boneNodes.push_back(boneNode);
                        mesh.boneMatrices.push_back(matrix);
                    }
                    Log::Write("\n");
                }
                for (int p = 0; p < primitiveCount && !ended; ++p) {
                    uint32_t primitiveId = 0;
                    uint32_t size = reader.ReadHeader(primitiveId);
                    if (size == 0 && IsFramingFault(reader.Status())) {
                        ended = true;
                    } else if (size == 0 || primitiveId != ChunkPrimitive) {
                        if (onMissingPrimitive == MissingPrimitive::Fatal) {
                            if (sourceName) Log::Fatal("%s (%s)", MissingPrimitiveMessage, sourceName);
                            Log::Fatal("%s", MissingPrimitiveMessage);
                        }
                        importError = MissingPrimitiveMessage;
                        return;
                    } else {
                        // The reference into meshes stays valid: nothing is appended to
                        // the list while the mesh's primitives are read.
                        mesh.primitives.push_back(ReadPrimitive(reader));
                    }
                }
                break;
            }
            default:
                break;
        }
    }
    ReportFraming(reader);
}
