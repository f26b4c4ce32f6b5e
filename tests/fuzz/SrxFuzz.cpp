// Fuzz target for the SRX importer. Any bytes must import without reading outside the
// block or writing outside a record, and the records must keep the invariants the scene
// builder relies on. Whatever the file holds also goes through tangent generation and the
// sampled-transform controllers, as the scene builder would send it.
//
// The missing-primitive error ends the engine through Log::Fatal; here the import is asked
// to report it instead, so that it does not look like a crash.
#include "import/KeyframeController.h"
#include "import/SrxScene.h"
#include "import/TangentGeneration.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace {

void Require(bool condition) {
    if (!condition) __builtin_trap();
}

// The importer logs to ./log.txt. Each run imports inside a scratch directory where
// log.txt is a directory: every line is still formatted, none is written, so millions of
// runs neither slow down on file I/O nor fill the disk. The working directory is restored
// after each run so that crash files land where libFuzzer was started.
class QuietLog {
public:
    QuietLog() {
        char pattern[] = "/tmp/srx-fuzz-XXXXXX";
        if (!mkdtemp(pattern)) return;
        scratch_ = pattern;
        mkdir((scratch_ + "/log.txt").c_str(), 0700);
        scratchFd_ = open(scratch_.c_str(), O_RDONLY | O_DIRECTORY);
        homeFd_ = open(".", O_RDONLY | O_DIRECTORY);
    }
    ~QuietLog() {
        std::error_code ignored;
        if (!scratch_.empty()) std::filesystem::remove_all(scratch_, ignored);
    }
    void Enter() const {
        if (scratchFd_ >= 0 && fchdir(scratchFd_) != 0) std::abort();
    }
    void Leave() const {
        if (homeFd_ >= 0 && fchdir(homeFd_) != 0) std::abort();
    }

private:
    std::string scratch_;
    int scratchFd_ = -1;
    int homeFd_ = -1;
};

void EvaluateSampledTrack(const SrxNode& node) {
    if (!(node.trackFlags & srx::TrackSampledTransform)) return;
    const SrxTrack& track = node.tracks[srx::SlotSampledTransform];
    KeyframeController controller;
    controller.Init(static_cast<int32_t>(track.keys.size()), 1, ControllerSampledTransform);
    for (const SrxKey& key : track.keys) {
        SampledTransformKey sampled;
        sampled.time = key.time;
        std::memcpy(sampled.position, key.values, sizeof(sampled.position));
        std::memcpy(sampled.rotation, key.values + 4, sizeof(sampled.rotation));
        controller.AppendSampledKey(sampled);
    }
    float matrix[16] = {};
    for (float time = 0.0f; time <= 624.0f; time += 24.0f) controller.Evaluate(time, matrix);
}

void GenerateMeshTangents(const SrxPrimitive& primitive) {
    std::vector<StaticVertex> vertices(primitive.vertices.size());
    for (size_t v = 0; v < vertices.size(); ++v) {
        const SrxVertex& source = primitive.vertices[v];
        std::memcpy(vertices[v].position, source.position, sizeof(source.position));
        std::memcpy(vertices[v].uv0, source.uv0, sizeof(source.uv0));
        for (int c = 0; c < 3; ++c) vertices[v].normal[c] = PackUnitByte(source.normal[c]);
        vertices[v].normal[3] = 255;
    }
    GenerateTangents(vertices.data(), static_cast<int32_t>(vertices.size()), primitive.indices.data(),
                     static_cast<int32_t>(primitive.indices.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QuietLog quietLog;
    quietLog.Enter();
    SrxScene scene(data, size, MissingPrimitive::EndImport);
    quietLog.Leave();

    for (const SrxMaterial& material : scene.materials) {
        Require(std::memchr(material.name, 0, sizeof(material.name)) != nullptr);
        for (const std::string& map : material.maps) Require(map.size() < srx::StringFieldSize);
        // What the engine draws with is within bounds, whatever the file said.
        Require(material.alphaCutoff >= 0.0f && material.alphaCutoff <= 1.0f);
        for (const SrxTextureTransform& t : material.transforms) Require(t.uvSet <= 1 && std::isfinite(t.rotation));
    }
    for (const SrxNode& node : scene.nodes) {
        Require(std::memchr(node.name, 0, sizeof(node.name)) != nullptr);
        for (const SrxTrack& track : node.tracks) Require(track.channels <= srx::MaxChannels);
        EvaluateSampledTrack(node);
    }
    for (const SrxMesh& mesh : scene.meshes) {
        Require(mesh.boneNodes.size() == mesh.boneMatrices.size());
        for (const SrxPrimitive& primitive : mesh.primitives) {
            Require(primitive.vertices.size() == primitive.vertexCount);
            Require(primitive.indices.size() == 3u * primitive.faceCount);
            Require(primitive.colors.empty() || primitive.colors.size() == primitive.vertexCount);
            for (const SrxVertex& vertex : primitive.vertices) Require(vertex.influenceCount <= srx::MaxInfluences);
            GenerateMeshTangents(primitive);
        }
    }
    return 0;
}
