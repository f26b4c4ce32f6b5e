// Fuzz target for World::LoadScene on a recording device (no GPU). Every input the
// importer accepts is built into a fresh world; the buffers it fills must keep every index
// inside its mesh and every bone number inside its palette, the renderables must name
// ranges that exist, and a few frames of animation and drawing must run over the result.
//
// The importer ends the engine on a mesh whose primitive chunk is missing; such inputs are
// imported here with MissingPrimitive::EndImport first and skipped, as they never reach
// the builder. So are inputs that may declare more than kMaxVertices vertices or
// kMaxTriangles triangles: a few kilobytes of primitive headers can declare 16 million of
// each, which takes minutes under the sanitizers (the import alone takes seconds) and
// looks for no fault that smaller meshes miss. The cap still lets meshes past 65536
// vertices, with 32-bit indices, through; the tests and the benchmark build bigger ones.
// LoadScene reads its file by path, so each input goes to a scratch file.
#include "render/Renderer.h"
#include "scene/Vertices.h"
#include "scene/World.h"
#include "support/RecordingDevice.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

constexpr size_t kMaxVertices = size_t{1} << 17;
constexpr size_t kMaxTriangles = size_t{1} << 17;

void Require(bool condition) {
    if (!condition) __builtin_trap();
}

// Counted before importing: every "PRIM" in the bytes is taken for a primitive header, so
// the sums can only overestimate what the import would allocate.
bool MayDeclareTooMuch(const uint8_t* data, size_t size) {
    size_t vertices = 0, triangles = 0;
    for (size_t at = 0; at + 10 <= size; ++at) {
        if (std::memcmp(data + at, "PRIM", 4) != 0) continue;
        vertices += data[at + 8] | data[at + 9] << 8;
        if (at + 12 <= size) triangles += data[at + 10] | data[at + 11] << 8;
    }
    return vertices > kMaxVertices || triangles > kMaxTriangles;
}

// A scratch directory where log.txt is a directory: every log line is formatted but none
// written, so millions of runs neither slow down on file I/O nor fill the disk. The input
// file lives there too. The working directory is restored after each run so that crash
// files land where libFuzzer was started.
class Scratch {
public:
    Scratch() {
        char pattern[] = "/tmp/scenebuild-fuzz-XXXXXX";
        if (!mkdtemp(pattern)) std::abort();
        path_ = pattern;
        mkdir((path_ + "/log.txt").c_str(), 0700);
        scratchFd_ = open(path_.c_str(), O_RDONLY | O_DIRECTORY);
        homeFd_ = open(".", O_RDONLY | O_DIRECTORY);
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    void Enter() const {
        if (fchdir(scratchFd_) != 0) std::abort();
    }
    void Leave() const {
        if (fchdir(homeFd_) != 0) std::abort();
    }
    bool WriteInput(const uint8_t* data, size_t size) const {
        FILE* file = std::fopen("input.srx", "wb");
        if (!file) return false;
        bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
        return std::fclose(file) == 0 && written;
    }

private:
    std::string path_;
    int scratchFd_ = -1;
    int homeFd_ = -1;
};

// A renderer on the recording device with the images materials fall back to, and a
// stand-in for a lightmap, so the look-ups hit as well as miss. Never destroyed: the
// process ends with the fuzzer.
lumaret::test::RecordingDevice* StartRenderer() {
    auto* d3d = new lumaret::test::RecordingDirect3D();
    auto* renderer = new Renderer();
    renderer->d3d = d3d;
    D3DPRESENT_PARAMETERS parameters{};
    parameters.BackBufferWidth = 64;
    parameters.BackBufferHeight = 64;
    IDirect3DDevice9* device = nullptr;
    d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, 0, &parameters, &device);
    renderer->device = device;
    for (const char* key : {"./data/default_white.bmp", "./data/default_nmap.bmp", "./data/input_lightmap.tga"})
        renderer->textures.push_back(TextureRecord{key});
    gRenderer = renderer;
    return d3d->lastDevice;
}

template <class Index>
void CheckIndices(const Mesh& mesh) {
    void* data = nullptr;
    Require(SUCCEEDED(mesh.indexBuffer->Lock(0, 0, &data, D3DLOCK_READONLY)));
    const Index* indices = static_cast<const Index*>(data);
    for (uint32_t i = 0; i < mesh.indexCount; ++i) Require(indices[i] < mesh.vertexCount);
    mesh.indexBuffer->Unlock();
}

void CheckMesh(const Mesh& mesh, const Skin* skin) {
    Require(mesh.streams[0].buffer && mesh.indexBuffer && mesh.vertexCount > 0);
    D3DINDEXBUFFER_DESC desc{};
    mesh.indexBuffer->GetDesc(&desc);
    if (desc.Format == D3DFMT_INDEX32)
        CheckIndices<uint32_t>(mesh);
    else
        CheckIndices<uint16_t>(mesh);
    for (const IndexRange& range : mesh.ranges)
        Require(range.start <= mesh.indexCount && range.count <= mesh.indexCount - range.start);
    if (!skin) return;
    Require(mesh.streams[0].stride == sizeof(SkinnedVertex));
    void* data = nullptr;
    Require(SUCCEEDED(mesh.streams[0].buffer->Lock(0, 0, &data, D3DLOCK_READONLY)));
    const auto* vertices = static_cast<const SkinnedVertex*>(data);
    for (uint32_t v = 0; v < mesh.vertexCount; ++v)
        for (uint8_t bone : vertices[v].bones) Require(bone < skin->bindings.size());
    mesh.streams[0].buffer->Unlock();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Scratch scratch;
    static lumaret::test::RecordingDevice* device = StartRenderer();
    if (MayDeclareTooMuch(data, size)) return 0;
    scratch.Enter();
    {
        SrxScene probe(data, size, MissingPrimitive::EndImport);
        if (!probe.importError.empty() || !scratch.WriteInput(data, size)) {
            scratch.Leave();
            return 0;
        }
    }
    {
        World world;
        const D3DVERTEXELEMENT9 none[] = {D3DDECL_END()};
        for (IDirect3DVertexDeclaration9*& declaration : world.declarations)
            declaration = gRenderer->CreateVertexDecl(none);
        SceneObject* object = world.CreateObject("fuzz");
        Require(world.LoadScene(object, "./input.srx"));
        Require(object->controller && object->outline);
        Require(object->outline->entries.size() == world.meshes.size());

        for (const Skin* skin : world.skins) {
            Require(skin->bindings.size() <= 48);
            for (const BoneBinding& binding : skin->bindings)
                Require(binding.node >= 0 && static_cast<size_t>(binding.node) < object->nodes.size());
        }
        for (const Mesh* mesh : world.meshes) {
            const Skin* skin = nullptr;
            for (const Skin* s : world.skins)
                if (s->mesh == mesh) skin = s;
            CheckMesh(*mesh, skin);
        }
        for (const Renderable* r : object->renderables) {
            if (auto* part = dynamic_cast<const MeshPartRenderable*>(r)) {
                Require(part->range >= 0 && static_cast<size_t>(part->range) < part->mesh->ranges.size());
            } else {
                auto* skinned = dynamic_cast<const SkinnedRenderable*>(r);
                Require(skinned && skinned->range >= 0 &&
                        static_cast<size_t>(skinned->range) < skinned->skin->mesh->ranges.size());
                Require(static_cast<size_t>(skinned->boneCount) == skinned->skin->bindings.size());
            }
        }

        // A few frames as the world runs them: evaluate, recompute, draw every range.
        for (float time = 0.0f; time <= 600.0f; time += 120.0f) {
            object->controller->Evaluate(time);
            for (SkinPalette* palette : object->palettes) palette->Recompute();
            for (Renderable* r : object->renderables) r->Render();
        }
    }
    // The recording device keeps every call and object it has seen; start afresh.
    device->Forget();
    device->objects.resize(2);
    scratch.Leave();
    return 0;
}
