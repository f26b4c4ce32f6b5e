// Scene import throughput (bytes of SRX per second, on a generated file with over 100 MB of
// vertex streams) and tangent generation throughput (vertices per second).
#include "import/SrxScene.h"
#include "import/SrxWriter.h"
#include "import/TangentGeneration.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace {

// The importer logs to ./log.txt; run it where that file can grow harmlessly.
class ScratchWorkingDirectory {
public:
    ScratchWorkingDirectory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "srx-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) return;
        home_ = std::filesystem::current_path();
        path_ = pattern;
        std::filesystem::current_path(path_);
    }
    ~ScratchWorkingDirectory() {
        if (path_.empty()) return;
        std::error_code ignored;
        std::filesystem::current_path(home_, ignored);
        std::filesystem::remove_all(path_, ignored);
    }

private:
    std::filesystem::path home_, path_;
};
ScratchWorkingDirectory gScratch;

constexpr uint16_t kVerticesPerPrimitive = 65535;
constexpr int kPrimitives = 32;

// One skinned mesh of kPrimitives full primitives, every stream present: 51 bytes of
// vertex streams per vertex, about 107 MB in all, plus the index streams.
const std::vector<uint8_t>& LargeScene() {
    static const std::vector<uint8_t> data = [] {
        const size_t n = kVerticesPerPrimitive;
        std::vector<float> positions(3 * n), normals(3 * n), uv(2 * n);
        std::vector<SrxVertex> weights(n);
        for (size_t v = 0; v < n; ++v) {
            positions[3 * v] = static_cast<float>(v % 256);
            positions[3 * v + 1] = static_cast<float>(v / 256);
            normals[3 * v + 2] = 1.0f;
            uv[2 * v] = static_cast<float>(v % 256) / 255.0f;
            uv[2 * v + 1] = static_cast<float>(v / 256) / 255.0f;
            weights[v].influenceCount = 2;
            weights[v].weights[0] = 0.75f;
            weights[v].weights[1] = 0.25f;
            weights[v].bones[1] = 1;
        }
        const uint16_t faces = kVerticesPerPrimitive / 3;
        std::vector<uint16_t> indices(3 * size_t{faces});
        for (size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<uint16_t>(i);

        SrxWriter writer;
        std::vector<int32_t> bones = {0, 1};
        std::vector<std::array<float, 16>> matrices(2);
        writer.MeshHeader(0, kPrimitives, bones, matrices);
        for (int p = 0; p < kPrimitives; ++p) {
            writer.Primitive(kVerticesPerPrimitive, faces, 0);
            writer.Positions(positions);
            writer.Normals(normals);
            writer.TexCoords(uv);
            writer.TexCoords2(uv);
            writer.Weights(weights);
            writer.Indices(indices);
        }
        return writer.Data();
    }();
    return data;
}

void BM_ImportSRX(benchmark::State& state) {
    const std::vector<uint8_t>& data = LargeScene();
    for (auto _ : state) {
        SrxScene scene(data.data(), data.size());
        benchmark::DoNotOptimize(scene.meshes.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
    state.counters["file_MB"] = static_cast<double>(data.size()) / 1e6;
}
BENCHMARK(BM_ImportSRX)->Unit(benchmark::kMillisecond)->UseRealTime();

// A 256 x 256 grid (65536 vertices, the most 16-bit indices reach), two triangles per cell.
void BM_GenerateTangents(benchmark::State& state) {
    const int side = 256;
    std::vector<StaticVertex> vertices(side * side);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            StaticVertex& vertex = vertices[y * side + x];
            vertex.position[0] = static_cast<float>(x);
            vertex.position[1] = static_cast<float>(y);
            vertex.position[2] = static_cast<float>((x * y) % 7) * 0.1f;
            vertex.normal[0] = 127;
            vertex.normal[1] = 127;
            vertex.normal[2] = 255;
            vertex.normal[3] = 255;
            vertex.uv0[0] = static_cast<float>(x) / (side - 1);
            vertex.uv0[1] = static_cast<float>(y) / (side - 1);
        }
    std::vector<uint16_t> indices;
    for (int y = 0; y + 1 < side; ++y)
        for (int x = 0; x + 1 < side; ++x) {
            uint16_t i = static_cast<uint16_t>(y * side + x);
            uint16_t right = static_cast<uint16_t>(i + 1), below = static_cast<uint16_t>(i + side);
            uint16_t diagonal = static_cast<uint16_t>(below + 1);
            indices.insert(indices.end(), {i, right, below, below, right, diagonal});
        }
    for (auto _ : state) {
        GenerateTangents(vertices.data(), static_cast<int32_t>(vertices.size()), indices.data(),
                         static_cast<int32_t>(indices.size()));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(vertices.size()));
    state.counters["vertices"] = static_cast<double>(vertices.size());
}
BENCHMARK(BM_GenerateTangents)->Unit(benchmark::kMicrosecond);

}  // namespace
