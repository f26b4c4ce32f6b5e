// Scene building: World::LoadScene of a generated scene of one million triangles in 16
// unskinned meshes of 50 primitives each (a 25 x 25 quad grid per primitive), on the real
// device (headless on llvmpipe), from reading the file to the filled GPU buffers. And the
// tangent pass over those meshes both ways: once per mesh, as the build runs it, and after
// every primitive over everything written so far, which gives the same bytes.
// The load also reports what holding the scene costs in resident memory: the process's
// resident set after the first load less the one before it (held_MiB; later iterations
// reuse freed heap, so only the first is a clean figure), beside the time.
// Runs in a scratch directory, where the importer's log and the scene file go.
#include "app/Log.h"
#include "app/Window.h"
#include "import/SrxWriter.h"
#include "import/TangentGeneration.h"
#include "render/Renderer.h"
#include "scene/World.h"
#include "ScratchDirectory.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kMeshes = 16;
constexpr int kPrimitivesPerMesh = 50;
constexpr int kGrid = 25;  // quads per side of a primitive: 1250 triangles
constexpr int kGridVertices = (kGrid + 1) * (kGrid + 1);
const char* const kScenePath = "./million.srx";

// A wavy grid, so tangents and normals differ from vertex to vertex.
SrxPrimitive GridPrimitive(int seed) {
    SrxPrimitive p;
    p.vertexCount = kGridVertices;
    p.faceCount = 2 * kGrid * kGrid;
    p.streamFlags = srx::StreamPositions | srx::StreamNormals | srx::StreamTexCoords;
    p.vertices.resize(kGridVertices);
    for (int y = 0; y <= kGrid; ++y)
        for (int x = 0; x <= kGrid; ++x) {
            SrxVertex& v = p.vertices[static_cast<size_t>(y * (kGrid + 1) + x)];
            float h = 0.3f * std::sin(0.4f * static_cast<float>(x + seed)) * std::cos(0.3f * static_cast<float>(y));
            v.position[0] = static_cast<float>(x);
            v.position[1] = h;
            v.position[2] = static_cast<float>(y + seed);
            v.normal[1] = 1.0f;
            v.uv0[0] = static_cast<float>(x) / kGrid;
            v.uv0[1] = static_cast<float>(y) / kGrid;
        }
    for (int y = 0; y < kGrid; ++y)
        for (int x = 0; x < kGrid; ++x) {
            auto at = [](int gx, int gy) { return static_cast<uint16_t>(gy * (kGrid + 1) + gx); };
            for (uint16_t i : {at(x, y), at(x + 1, y), at(x, y + 1), at(x + 1, y), at(x + 1, y + 1), at(x, y + 1)})
                p.indices.push_back(i);
        }
    return p;
}

const std::vector<SrxMesh>& Meshes() {
    static const std::vector<SrxMesh> meshes = [] {
        std::vector<SrxMesh> list(kMeshes);
        for (int m = 0; m < kMeshes; ++m) {
            list[m].node = 0;
            for (int k = 0; k < kPrimitivesPerMesh; ++k) list[m].primitives.push_back(GridPrimitive(k));
        }
        return list;
    }();
    return meshes;
}

void WriteScene() {
    static bool written = false;
    if (written) return;
    written = true;
    SrxWriter writer;
    writer.SceneHeader();
    SrxMaterial material;
    writer.Material(material);
    SrxNode node;
    std::snprintf(node.name, sizeof(node.name), "grid");
    node.matrix[0] = node.matrix[5] = node.matrix[10] = node.matrix[15] = 1.0f;
    writer.Node(node);
    for (const SrxMesh& mesh : Meshes()) writer.Mesh(mesh);
    FILE* file = std::fopen(kScenePath, "wb");
    if (!file || std::fwrite(writer.Data().data(), 1, writer.Size(), file) != writer.Size()) std::abort();
    std::fclose(file);
}

struct Device {
    Window window;
    Renderer* renderer = nullptr;
    World* pipeline = nullptr;  // holds the vertex declarations every loading world borrows

    Device() {
        Log::Open();
        window.create(50, 50, 640, 480, 1);
        gRenderer = renderer = new Renderer();
        renderer->Init(window.handle, DisplayModeDesc{640, 480, 0}, RendererSettings{false, false, 0, 1}, 7);
        pipeline = new World();
        pipeline->InitPipeline();
    }
    ~Device() {
        delete pipeline;
        delete renderer;
        window.destroy();
    }
};

// VmRSS of this process, MiB.
double ResidentMiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            double kib = 0;
            status >> kib;
            return kib / 1024.0;
        }
        status.ignore(1 << 10, '\n');
    }
    return 0;
}

void BM_LoadSceneMillionTriangles(benchmark::State& state) {
    EnterScratchDirectory("lumaret-scene-bench", false);
    WriteScene();
    static Device device;
    double held = -1;
    for (auto _ : state) {
        state.PauseTiming();
        auto* world = new World();
        std::copy(std::begin(device.pipeline->declarations), std::end(device.pipeline->declarations),
                  world->declarations);
        SceneObject* object = world->CreateObject("million");
        double before = held < 0 ? ResidentMiB() : 0;
        state.ResumeTiming();
        if (!world->LoadScene(object, kScenePath)) std::abort();
        // Unlocking hands the bytes to GL, so the figure includes the uploads.
        benchmark::DoNotOptimize(world->meshes.back()->indexBuffer);
        state.PauseTiming();
        if (held < 0) held = ResidentMiB() - before;
        std::fill(std::begin(world->declarations), std::end(world->declarations), nullptr);
        delete world;
        state.ResumeTiming();
    }
    state.counters["triangles"] = kMeshes * kPrimitivesPerMesh * 2.0 * kGrid * kGrid;
    state.counters["held_MiB"] = held;
}
BENCHMARK(BM_LoadSceneMillionTriangles)->Unit(benchmark::kMillisecond)->Iterations(5);

// The meshes' vertices and indices as the build writes them (winding and offsets applied).
struct MeshData {
    std::vector<StaticVertex> vertices;
    std::vector<uint16_t> indices;
};

const std::vector<MeshData>& WrittenMeshes() {
    static const std::vector<MeshData> data = [] {
        std::vector<MeshData> list;
        for (const SrxMesh& mesh : Meshes()) {
            MeshData& d = list.emplace_back();
            for (const SrxPrimitive& p : mesh.primitives) {
                auto base = static_cast<uint16_t>(d.vertices.size());
                for (const SrxVertex& v : p.vertices) {
                    StaticVertex s{};
                    s.position[0] = v.position[0];
                    s.position[1] = v.position[1];
                    s.position[2] = -v.position[2];
                    for (int c = 0; c < 3; ++c) s.normal[c] = PackUnitByte(c == 2 ? -v.normal[c] : v.normal[c]);
                    s.normal[3] = 255;
                    s.uv0[0] = v.uv0[0];
                    s.uv0[1] = v.uv0[1];
                    d.vertices.push_back(s);
                }
                for (size_t i = 0; i < p.indices.size(); i += 3)
                    for (size_t c : {0, 2, 1}) d.indices.push_back(static_cast<uint16_t>(p.indices[i + c] + base));
            }
        }
        return list;
    }();
    return data;
}

// state.range(0): 1 = once per mesh, 0 = after every primitive.
void BM_MeshTangents(benchmark::State& state) {
    std::vector<MeshData> meshes = WrittenMeshes();
    bool once = state.range(0) != 0;
    for (auto _ : state) {
        for (MeshData& mesh : meshes) {
            int primitives = once ? 1 : kPrimitivesPerMesh;
            for (int k = 1; k <= primitives; ++k) {
                int fraction = once ? kPrimitivesPerMesh : k;
                GenerateTangents(mesh.vertices.data(), fraction * kGridVertices, mesh.indices.data(),
                                 fraction * 6 * kGrid * kGrid);
            }
        }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MeshTangents)->Arg(1)->Arg(0)->ArgNames({"oncePerMesh"})->Unit(benchmark::kMillisecond);

}  // namespace
