#include "scene/SceneTestSupport.h"

#include <algorithm>
#include <filesystem>

namespace scenetest {

std::vector<uint8_t> Bytes(const SceneFile& file) {
    SrxWriter writer;
    writer.SceneHeader();
    for (const SrxMaterial& material : file.materials) writer.Material(material);
    for (const SrxNode& node : file.nodes) writer.Node(node);
    for (const SrxMesh& mesh : file.meshes) writer.Mesh(mesh);
    return writer.Data();
}

void Write(const std::string& path, const SceneFile& file) {
    std::vector<uint8_t> bytes = Bytes(file);
    lumaret::test::WriteFileBytes(path, std::string(bytes.begin(), bytes.end()));
}

SrxPrimitive Triangles(const std::vector<float>& positions, std::vector<uint16_t> indices, uint8_t material) {
    SrxPrimitive p;
    p.vertexCount = static_cast<uint16_t>(positions.size() / 3);
    p.faceCount = static_cast<uint16_t>(indices.size() / 3);
    p.material = material;
    p.indices = std::move(indices);
    p.streamFlags = srx::StreamPositions | srx::StreamNormals | srx::StreamTexCoords;
    p.vertices.resize(p.vertexCount);
    for (size_t v = 0; v < p.vertices.size(); ++v) {
        SrxVertex& vertex = p.vertices[v];
        std::copy_n(&positions[3 * v], 3, vertex.position);
        vertex.normal[2] = 1.0f;
        vertex.uv0[0] = vertex.position[0];
        vertex.uv0[1] = vertex.position[1];
    }
    return p;
}

SrxPrimitive Strip(uint16_t vertexCount) {
    std::vector<float> positions;
    for (int v = 0; v < vertexCount; ++v) {
        positions.push_back(static_cast<float>(v));
        positions.push_back(static_cast<float>((v * 37) % 11));
        positions.push_back(static_cast<float>(v % 5));
    }
    std::vector<uint16_t> indices;
    int last = vertexCount - 1;
    for (int t = 0; t < std::max(1, vertexCount / 3); ++t)
        for (int c = 0; c < 3; ++c) indices.push_back(static_cast<uint16_t>(std::min(3 * t + c, last)));
    return Triangles(positions, indices);
}

SrxMesh MeshOf(uint16_t node, std::vector<SrxPrimitive> primitives) {
    SrxMesh mesh;
    mesh.node = node;
    mesh.primitives = std::move(primitives);
    return mesh;
}

std::array<float, 16> Identity16() { return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}; }

void MoveAlongX(SrxNode& node, float x0, float x1, uint32_t end) {
    node.trackFlags = srx::TrackSampledTransform;
    SrxTrack& track = node.tracks[srx::SlotSampledTransform];
    track.kind = srx::TrackKindSampledTransform;
    track.keys = {srxtest::SampledKey(0, x0, 0, 0, 0, 0, 0, 1), srxtest::SampledKey(end, x1, 0, 0, 0, 0, 0, 1)};
}

namespace {
template <class Buffer, class Desc>
std::vector<uint8_t> ReadBuffer(Buffer* buffer) {
    Desc desc{};
    buffer->GetDesc(&desc);
    void* data = nullptr;
    if (FAILED(buffer->Lock(0, 0, &data, D3DLOCK_READONLY)) || !data) return {};
    std::vector<uint8_t> bytes(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + desc.Size);
    buffer->Unlock();
    return bytes;
}
}  // namespace

std::vector<uint8_t> ReadVertexBuffer(IDirect3DVertexBuffer9* buffer) {
    return ReadBuffer<IDirect3DVertexBuffer9, D3DVERTEXBUFFER_DESC>(buffer);
}

std::vector<uint8_t> ReadIndexBuffer(IDirect3DIndexBuffer9* buffer) {
    return ReadBuffer<IDirect3DIndexBuffer9, D3DINDEXBUFFER_DESC>(buffer);
}

// ---------------------------------------------------------------------------------------

void RecordedWorldTest::SetUp() {
    RecordedRendererTest::SetUp();
    Init();
    gRenderer = renderer.get();
    world = std::make_unique<World>();
    const D3DVERTEXELEMENT9 none[] = {D3DDECL_END()};
    for (IDirect3DVertexDeclaration9*& declaration : world->declarations)
        declaration = renderer->CreateVertexDecl(none);
    logSeen = lumaret::test::ReadFileBytes(Log::FileName).size();
}

void RecordedWorldTest::TearDown() {
    world.reset();
    gRenderer = nullptr;
}

int RecordedWorldTest::AddTexture(const std::string& key) {
    renderer->textures.push_back(TextureRecord{key});
    return static_cast<int>(renderer->textures.size()) - 1;
}

void RecordedWorldTest::LoadSceneShaders() {
    std::filesystem::create_directories("data");
    for (const char* name : {"diffuseTex.hlsl", "bonetest.hlsl"}) {
        std::filesystem::copy_file(std::filesystem::path(lumaret::test::SourceDir()) / "data" / name,
                                   std::filesystem::path("data") / name);
        ASSERT_GE(renderer->LoadShader(std::string("./data/") + name), 0) << name;
    }
    NewLog();
}

std::string RecordedWorldTest::NewLog() {
    std::string log = lumaret::test::ReadFileBytes(Log::FileName);
    std::string fresh = log.substr(std::min(logSeen, log.size()));
    logSeen = log.size();
    return fresh;
}

// ---------------------------------------------------------------------------------------

lumaret::test::ScopedTempDir* DeviceWorldTest::dir = nullptr;
Window* DeviceWorldTest::window = nullptr;
Renderer* DeviceWorldTest::renderer = nullptr;
World* DeviceWorldTest::world = nullptr;
size_t DeviceWorldTest::logSeen = 0;

void DeviceWorldTest::SetUpTestSuite() {
    dir = new lumaret::test::ScopedTempDir();
    std::filesystem::create_directories("data");
    for (const char* name : {"diffuseTex.hlsl", "bonetest.hlsl", "default_white.bmp", "default_nmap.bmp"})
        std::filesystem::copy_file(std::filesystem::path(lumaret::test::SourceDir()) / "data" / name,
                                   std::filesystem::path("data") / name);
    Log::Open();
    window = new Window();
    window->create(0, 0, kWidth, kHeight, 1);
    gRenderer = renderer = new Renderer();
    renderer->Init(window->handle, DisplayModeDesc{kWidth, kHeight, 0}, RendererSettings{false, false, 0, 1},
                   ClearColor | ClearDepth | ClearStencil);
    renderer->LoadResources();
    gWorld = world = new World();
    world->InitPipeline();
    NewLog();
}

void DeviceWorldTest::TearDownTestSuite() {
    delete world;
    gWorld = world = nullptr;
    delete renderer;
    gRenderer = renderer = nullptr;
    window->destroy();
    delete window;
    delete dir;
}

std::string DeviceWorldTest::NewLog() {
    std::string log = lumaret::test::ReadFileBytes(Log::FileName);
    std::string fresh = log.substr(std::min(logSeen, log.size()));
    logSeen = log.size();
    return fresh;
}

}  // namespace scenetest
