// World::LoadScene: one SRX file built into a scene object.
//
// Each mesh becomes one Mesh with one vertex stream and one index buffer, sized by a
// counting pass and filled through a single lock; its primitives become index ranges with
// one renderable each. Geometry turns from the file's right-handed coordinates into the
// engine's left-handed ones on the way: z is negated and every triangle's winding
// reversed.
//
// Files are not trusted further than the importer checks them. A mesh whose node or bone
// nodes lie outside the scene's node list, that has more bones than the skinning shaders
// hold, or that has nothing to draw is skipped with one log line. Within a mesh, a
// triangle naming a vertex its primitive does not have is drawn as nothing, and a bone
// number outside the mesh's bones reads bone 0, so no index reaches past a buffer or the
// bone palette.
#include "scene/World.h"

#include "app/Log.h"
#include "import/SrxScene.h"
#include "import/TangentGeneration.h"
#include "render/Renderer.h"
#include "resources/FileUtil.h"
#include "scene/Material.h"
#include "scene/MorphBlend.h"
#include "scene/Vertices.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace {

// The skinning shaders declare matrixArray[48] at c64, which fills the vertex registers.
constexpr size_t kMaxBones = 48;
// Morph targets blended per primitive: the first this many, which is what glTF viewers
// commonly take.
constexpr size_t kMaxMorphTargets = 8;
// 16-bit indices address this many vertices; larger meshes get 32-bit indices.
constexpr uint32_t kShortIndexedVertices = 65536;
constexpr float kBoxStart = 99999.99f;

// SHORT2N: x * 32767 truncated toward zero; out-of-range values saturate and NaN gives 0
// instead of an undefined conversion.
int16_t PackShortNorm(float x) {
    float scaled = x * 32767.0f;
    if (std::isnan(scaled)) return 0;
    if (scaled >= 32767.0f) return 32767;
    if (scaled <= -32768.0f) return -32768;
    return static_cast<int16_t>(scaled);
}

// The material of a scene without materials: no maps, so the white defaults and the flat
// normal map, under a white diffuse colour.
const SrxMaterial& MaterialWithoutMaps() {
    static const SrxMaterial material = [] {
        SrxMaterial m;
        m.diffuse[0] = m.diffuse[1] = m.diffuse[2] = 1.0f;
        return m;
    }();
    return material;
}

// The middle of a primitive's box in the engine's frame, which orders blended surfaces.
D3DXVECTOR3 PrimitiveCenter(const SrxPrimitive& p) {
    if (p.vertices.empty()) return D3DXVECTOR3(0.0f, 0.0f, 0.0f);
    float low[3], high[3];
    for (int c = 0; c < 3; ++c) low[c] = high[c] = p.vertices[0].position[c];
    for (const SrxVertex& v : p.vertices)
        for (int c = 0; c < 3; ++c) {
            low[c] = std::min(low[c], v.position[c]);
            high[c] = std::max(high[c], v.position[c]);
        }
    return D3DXVECTOR3(0.5f * (low[0] + high[0]), 0.5f * (low[1] + high[1]), -0.5f * (low[2] + high[2]));
}

struct Box {
    float min[3] = {kBoxStart, kBoxStart, kBoxStart};
    float max[3] = {-kBoxStart, -kBoxStart, -kBoxStart};
    void Add(const float p[3]) {
        for (int c = 0; c < 3; ++c) {
            if (p[c] > max[c]) max[c] = p[c];
            if (p[c] < min[c]) min[c] = p[c];
        }
    }
};

void WriteStatic(const SrxVertex& source, bool secondSet, StaticVertex& out) {
    out.position[0] = source.position[0];
    out.position[1] = source.position[1];
    out.position[2] = -source.position[2];
    out.normal[0] = PackUnitByte(source.normal[0]);
    out.normal[1] = PackUnitByte(source.normal[1]);
    out.normal[2] = PackUnitByte(-source.normal[2]);
    out.normal[3] = 255;
    out.uv0[0] = source.uv0[0];
    out.uv0[1] = source.uv0[1];
    out.uv1[0] = secondSet ? PackShortNorm(source.uv1[0]) : 0;
    out.uv1[1] = secondSet ? PackShortNorm(source.uv1[1]) : 0;
    std::memset(out.tangent, 0, sizeof(out.tangent));
}

// Returns how many bone numbers had to be replaced.
uint32_t WriteSkinned(const SrxVertex& source, size_t boneCount, SkinnedVertex& out) {
    out.position[0] = source.position[0];
    out.position[1] = source.position[1];
    out.position[2] = -source.position[2];
    out.normal[0] = source.normal[0];
    out.normal[1] = source.normal[1];
    out.normal[2] = -source.normal[2];
    out.uv0[0] = source.uv0[0];
    out.uv0[1] = source.uv0[1];
    BoneInfluences influences;
    uint32_t replaced = InfluencesOf(source.bones, source.weights, boneCount, influences);
    std::memcpy(out.weights, influences.weights, sizeof(out.weights));
    std::memcpy(out.bones, influences.bones, sizeof(out.bones));
    return replaced;
}

// Writes p's triangles at out with reversed winding, offset by vBase. Returns how many
// triangles named a vertex outside the primitive; they are written as (0, 0, 0), a
// degenerate triangle on a vertex every drawn mesh has.
template <class Index>
uint32_t WriteIndices(const SrxPrimitive& p, uint32_t vBase, Index* out) {
    size_t vertexCount = p.vertices.size();
    size_t triangles = p.indices.size() / 3;
    const uint16_t* in = p.indices.data();
    uint32_t bad = 0;
    for (size_t t = 0; t < triangles; ++t, in += 3, out += 3) {
        if (in[0] >= vertexCount || in[1] >= vertexCount || in[2] >= vertexCount) {
            out[0] = out[1] = out[2] = 0;
            ++bad;
            continue;
        }
        out[0] = static_cast<Index>(in[0] + vBase);
        out[1] = static_cast<Index>(in[2] + vBase);
        out[2] = static_cast<Index>(in[1] + vBase);
    }
    return bad;
}

class SceneBuild {
public:
    SceneBuild(World& world, SceneObject& object, const SrxScene& scene, const std::string& path)
        : world_(world), object_(object), scene_(scene), path_(path) {
        staticShader_ = gRenderer->FindShader("./data/diffuseTex.hlsl");
        skinnedShader_ = gRenderer->FindShader("./data/bonetest.hlsl");
    }

    void BuildMesh(size_t index, MeshOutline& outline);
    void BuildLinesPoints(size_t index);

private:
    void Follow(size_t index, const SrxLinesPoints& set, LinesPointsRenderable& r);
    bool Accept(size_t index, const SrxMesh& m) const;
    const SrxMaterial& MaterialOf(const SrxPrimitive& p) const;

    World& world_;
    SceneObject& object_;
    const SrxScene& scene_;
    const std::string& path_;
    int staticShader_ = -1;
    int skinnedShader_ = -1;
};

bool SceneBuild::Accept(size_t index, const SrxMesh& m) const {
    size_t nodeCount = scene_.nodes.size();
    if (m.node >= nodeCount) {
        Log::Write("World::LoadScene: mesh %zu names node %u, but the scene has %zu nodes; mesh skipped.\n", index,
                   m.node, nodeCount);
        return false;
    }
    const char* name = scene_.nodes[m.node].name;
    for (int32_t bone : m.boneNodes) {
        if (bone < 0 || static_cast<size_t>(bone) >= nodeCount) {
            Log::Write(
                "World::LoadScene: mesh %zu ('%s') names bone node %d, but the scene has %zu nodes; mesh "
                "skipped.\n",
                index, name, bone, nodeCount);
            return false;
        }
    }
    if (m.boneMatrices.size() != m.boneNodes.size()) {
        Log::Write("World::LoadScene: mesh %zu ('%s') has %zu bones but %zu bone matrices; mesh skipped.\n", index,
                   name, m.boneNodes.size(), m.boneMatrices.size());
        return false;
    }
    if (m.boneNodes.size() > kMaxBones) {
        Log::Write(
            "World::LoadScene: mesh %zu ('%s') has %zu bones, more than the %zu a skinned mesh may have; mesh "
            "skipped.\n",
            index, name, m.boneNodes.size(), kMaxBones);
        return false;
    }
    size_t vertices = 0, indices = 0;
    for (const SrxPrimitive& p : m.primitives) {
        vertices += p.vertices.size();
        indices += p.indices.size();
    }
    if (vertices == 0 || indices == 0) {
        Log::Write("World::LoadScene: mesh %zu ('%s') has no vertices or no triangles; mesh skipped.\n", index, name);
        return false;
    }
    return true;
}

const SrxMaterial& SceneBuild::MaterialOf(const SrxPrimitive& p) const {
    if (p.material < scene_.materials.size()) return scene_.materials[p.material];
    Log::Write("WARNING: Material index out of bounds! No material assigned?\n");
    return scene_.materials.empty() ? MaterialWithoutMaps() : scene_.materials[0];
}

void SceneBuild::BuildMesh(size_t index, MeshOutline& outline) {
    const SrxMesh& m = scene_.meshes[index];
    if (!Accept(index, m)) return;
    const SrxNode& node = scene_.nodes[m.node];
    bool skinned = !m.boneNodes.empty();

    Mesh* mesh = gRenderer->CreateMesh();
    if (!mesh) Log::Fatal("World::LoadScene: Renderer::CreateMesh failed!");
    // One skin and one palette per skinned mesh: its primitives share the bones.
    Skin* skin = nullptr;
    SkinPalette* palette = nullptr;
    if (skinned) {
        skin = new Skin{mesh, {}};
        world_.skins.push_back(skin);
        skin->bindings.reserve(m.boneNodes.size());
        for (size_t i = 0; i < m.boneNodes.size(); ++i)
            skin->bindings.push_back(BoneBinding{m.boneNodes[i], D3DXMATRIX(m.boneMatrices[i].data())});
        palette = new SkinPalette(&skin->bindings, object_.controller);
        world_.palettes.push_back(palette);
        object_.palettes.push_back(palette);
    }

    uint32_t vertexCount = 0, indexCount = 0;
    bool secondSet = false, colored = false;
    for (const SrxPrimitive& p : m.primitives) {
        vertexCount += static_cast<uint32_t>(p.vertices.size());
        indexCount += static_cast<uint32_t>(p.indices.size());
        secondSet = secondSet || (p.streamFlags & srx::StreamTexCoords2);
        colored = colored || (!p.colors.empty() && p.colors.size() == p.vertices.size());
    }
    bool wide = vertexCount > kShortIndexedVertices;
    const size_t stride = skinned ? sizeof(SkinnedVertex) : sizeof(StaticVertex);
    mesh->CreateStream(0, vertexCount, static_cast<uint32_t>(stride), false);
    mesh->CreateIndexBuffer(indexCount, nullptr, false, wide);
    mesh->declaration = world_.MeshDeclaration(skinned, colored);
    // Colours in a stream of their own, so that a mesh without them carries nothing more.
    if (colored) {
        mesh->CreateStream(1, vertexCount, sizeof(D3DCOLOR), false);
        auto* colors = static_cast<D3DCOLOR*>(mesh->LockStream(1));
        for (const SrxPrimitive& p : m.primitives) {
            bool own = p.colors.size() == p.vertices.size();
            for (size_t v = 0; v < p.vertices.size(); ++v, ++colors) {
                const std::array<uint8_t, 4> c = own ? p.colors[v] : std::array<uint8_t, 4>{255, 255, 255, 255};
                *colors = D3DCOLOR_ARGB(c[3], c[0], c[1], c[2]);
            }
        }
        mesh->UnlockStream(1);
    }
    int materialShaders[MaterialPassCount] = {-1, -1, -1};
    mesh->SetDebugName(path_ + " " + node.name);
    // Made here, then copied into buffers that keep no copy of their own (a large model's
    // vertices and indices are held once, by GL): the tangents read back what was written,
    // which a write-only buffer's mapping is not for.
    std::vector<uint8_t> vertexBytes(vertexCount * stride), indexBytes(size_t{indexCount} * (wide ? 4 : 2));
    void* vertexData = vertexBytes.data();
    void* indexData = indexBytes.data();
    auto* staticVertices = static_cast<StaticVertex*>(vertexData);
    auto* skinnedVertices = static_cast<SkinnedVertex*>(vertexData);

    Box box;
    uint32_t vBase = 0, iBase = 0, badTriangles = 0, badBones = 0;
    for (size_t k = 0; k < m.primitives.size(); ++k) {
        const SrxPrimitive& p = m.primitives[k];
        for (size_t v = 0; v < p.vertices.size(); ++v) {
            const SrxVertex& source = p.vertices[v];
            if (skinned)
                badBones += WriteSkinned(source, m.boneNodes.size(), skinnedVertices[vBase + v]);
            else
                WriteStatic(source, secondSet, staticVertices[vBase + v]);
            box.Add(source.position);
        }
        uint32_t count = static_cast<uint32_t>(p.indices.size());
        mesh->ranges.push_back(IndexRange{iBase, count});
        badTriangles += wide ? WriteIndices(p, vBase, static_cast<uint32_t*>(indexData) + iBase)
                             : WriteIndices(p, vBase, static_cast<uint16_t*>(indexData) + iBase);
        vBase += static_cast<uint32_t>(p.vertices.size());
        iBase += count;

        const SrxMaterial& material = MaterialOf(p);
        Renderable* r =
            skinned ? static_cast<Renderable*>(new SkinnedRenderable(
                          skin, palette->matrices.data(), static_cast<int>(skin->bindings.size()), static_cast<int>(k)))
                    : new MeshPartRenderable(mesh, static_cast<int>(k));
        world_.renderables.push_back(r);
        r->local = D3DXMATRIX(node.matrix);
        r->center = PrimitiveCenter(p);
        ApplyMaterial(node, material, *r, path_);
        if (HasMaterialFeatures(material, colored) &&
            (materialShaders[0] >= 0 || world_.MaterialPassShaders(materialShaders))) {
            bool hasSecond = (p.streamFlags & srx::StreamTexCoords2) && !skinned;
            bool wantsSecond = std::any_of(std::begin(material.transforms), std::end(material.transforms),
                                           [](const SrxTextureTransform& t) { return t.uvSet == 1; });
            if (wantsSecond && !hasSecond)
                Log::Write(
                    "World::LoadScene: mesh %zu ('%s'): material '%s' names a second set of texture "
                    "coordinates, which the mesh does not have (or, skinned, does not keep); its maps read the "
                    "first.\n",
                    index, node.name, material.name);
            ApplyMaterialFeatures(material, colored, hasSecond, materialShaders, *r);
        }
        r->shader = skinned ? skinnedShader_ : staticShader_;
        if (!p.morphTargets.empty()) {
            if (p.morphTargets.size() > kMaxMorphTargets)
                Log::Write("World::LoadScene: mesh %zu ('%s') primitive %zu has %zu morph targets; the first %zu are "
                           "blended.\n",
                           index, node.name, k, p.morphTargets.size(), kMaxMorphTargets);
            r->morph = std::make_shared<MorphBlend>(mesh, vBase - static_cast<uint32_t>(p.vertices.size()), skinned, p,
                                                    kMaxMorphTargets);
        }
        object_.AddRenderable(r);
        object_.palette = palette;
    }
    // Once over the whole mesh: the same bytes as after every primitive over everything
    // written so far, whose last call covers it all.
    if (!skinned) {
        if (wide)
            GenerateTangentsWide(staticVertices, static_cast<int32_t>(vertexCount),
                                 static_cast<const uint32_t*>(indexData), static_cast<int32_t>(indexCount));
        else
            GenerateTangents(staticVertices, static_cast<int32_t>(vertexCount), static_cast<const uint16_t*>(indexData),
                             static_cast<int32_t>(indexCount));
    }
    std::memcpy(mesh->LockStream(0), vertexBytes.data(), vertexBytes.size());
    mesh->UnlockStream(0);
    std::memcpy(mesh->LockIndexBuffer(0, 0), indexBytes.data(), indexBytes.size());
    mesh->UnlockIndexBuffer();

    if (badTriangles)
        Log::Write(
            "World::LoadScene: mesh %zu ('%s'): %u triangles name vertices outside their primitive; they are "
            "not drawn.\n",
            index, node.name, badTriangles);
    if (badBones)
        Log::Write(
            "World::LoadScene: mesh %zu ('%s'): %u influences name bones outside the mesh's %zu; they read bone "
            "0.\n",
            index, node.name, badBones, m.boneNodes.size());
    Log::Write("BBox: (%.2f, %.2f, %.2f) (%.2f, %.2f, %.2f)\n", box.min[0], box.min[1], box.min[2], box.max[0],
               box.max[1], box.max[2]);

    MeshOutlineEntry& entry = outline.entries.emplace_back();
    entry.kind = skinned ? MeshOutlineEntry::Skinned : MeshOutlineEntry::Unskinned;
    entry.name = node.name;
    entry.id = m.node;
    entry.parent = node.parent;
    entry.transform = D3DXMATRIX(node.matrix);
    world_.meshes.push_back(mesh);
}

// Lines and points the animation moves hang from their node as a rigid mesh on one bone
// does: a palette of one binding (node, placement), recomputed with the object's others.
// Only a node with a track moves; without one, or with a placement that is not finite,
// they stay at the node's rest place. Their vertices are not skinned one by one: LNPT
// carries no influences, and the node's own motion is what a line or point mesh has.
void SceneBuild::Follow(size_t index, const SrxLinesPoints& set, LinesPointsRenderable& r) {
    const SrxNode& node = scene_.nodes[set.node];
    bool finite = std::all_of(set.placement.begin(), set.placement.end(), [](float v) { return std::isfinite(v); });
    if (!(node.trackFlags & srx::TrackSampledTransform) || !finite) {
        Log::Write("World::LoadScene: lines or points %zu ('%s') follow a node without a track, or a placement that "
                   "is not finite; they stay at the node's rest place.\n",
                   index, node.name);
        return;
    }
    auto* skin = new Skin{r.mesh, {BoneBinding{set.node, D3DXMATRIX(set.placement.data())}}};
    world_.skins.push_back(skin);
    auto* palette = new SkinPalette(&skin->bindings, object_.controller);
    world_.palettes.push_back(palette);
    object_.palettes.push_back(palette);
    r.placement = palette->matrices.data();
}

// A line or point list becomes a mesh of its own, its colours the vertex colours times the
// material's diffuse colour, drawn unlit. Points take the size the file gives, clamped to
// what the device draws; a size that is not finite draws them one pixel wide.
void SceneBuild::BuildLinesPoints(size_t index) {
    const SrxLinesPoints& set = scene_.linesPoints[index];
    bool lines = set.kind == srx::LinesPointsLines;
    const char* what = lines ? "lines" : "points";
    if (set.node >= scene_.nodes.size() || (!lines && set.kind != srx::LinesPointsPoints) || set.positions.empty()) {
        Log::Write("World::LoadScene: %s %zu name node %u of %zu, are of kind %u or are empty; not drawn.\n", what,
                   index, set.node, scene_.nodes.size(), set.kind);
        return;
    }
    int shader = world_.LinesPointsShader();
    if (shader < 0) return;
    const SrxNode& node = scene_.nodes[set.node];
    const SrxMaterial& material = set.material < scene_.materials.size() ? scene_.materials[set.material]
                                                                         : MaterialWithoutMaps();
    // A line list's last vertex without a partner is left out.
    uint32_t count = static_cast<uint32_t>(lines ? set.positions.size() / 2 * 2 : set.positions.size());
    if (count == 0) return;
    float pointSize = set.pointSize;
    if (!lines) {
        D3DCAPS9 caps{};
        gRenderer->device->GetDeviceCaps(&caps);
        if (!(pointSize >= 1.0f && pointSize <= caps.MaxPointSize)) {
            float drawn = std::isfinite(pointSize) ? std::clamp(pointSize, 1.0f, caps.MaxPointSize) : 1.0f;
            Log::Write("World::LoadScene: points %zu ('%s') are %g pixels wide; the device draws %g to %g, so they "
                       "are drawn %g wide.\n",
                       index, node.name, pointSize, 1.0, caps.MaxPointSize, drawn);
            pointSize = drawn;
        }
    }
    Mesh* mesh = gRenderer->CreateMesh();
    if (!mesh) Log::Fatal("World::LoadScene: Renderer::CreateMesh failed!");
    mesh->CreateStream(0, count, sizeof(LinesPointsVertex), false, true);
    mesh->declaration = world_.LinesPointsDeclaration();
    mesh->primitiveType = lines ? D3DPT_LINELIST : D3DPT_POINTLIST;
    mesh->SetDebugName(path_ + " " + node.name + " " + what);
    auto* vertices = static_cast<LinesPointsVertex*>(mesh->LockStream(0));
    bool colored = set.colors.size() == set.positions.size();
    auto channel = [](float material, uint8_t vertex) {
        float value = std::isfinite(material) ? std::clamp(material, 0.0f, 1.0f) : 1.0f;
        return static_cast<uint32_t>(value * static_cast<float>(vertex) + 0.5f);
    };
    for (uint32_t v = 0; v < count; ++v) {
        const std::array<float, 3>& p = set.positions[v];
        const std::array<uint8_t, 4> c = colored ? set.colors[v] : std::array<uint8_t, 4>{255, 255, 255, 255};
        vertices[v].position[0] = p[0];
        vertices[v].position[1] = p[1];
        vertices[v].position[2] = -p[2];
        vertices[v].color = D3DCOLOR_ARGB(255, channel(material.diffuse[0], c[0]), channel(material.diffuse[1], c[1]),
                                          channel(material.diffuse[2], c[2]));
    }
    mesh->UnlockStream(0);
    world_.meshes.push_back(mesh);
    auto* r = new LinesPointsRenderable(mesh, pointSize);
    world_.renderables.push_back(r);
    r->local = D3DXMATRIX(node.matrix);
    if (set.follows) Follow(index, set, *r);
    r->shader = shader;
    Renderer::BuildStateList(r->params);
    object_.AddRenderable(r);
}

}  // namespace

bool World::LoadScene(SceneObject* object, const std::string& path) {
    if (!object) return false;
    // Node list, controller and palettes belong to one scene; a second load would leave
    // the first one's palettes reading the second one's nodes.
    if (object->controller) {
        Log::Write("World::LoadScene: object '%s' already holds a scene; %s is not loaded.\n", object->name.c_str(),
                   path.c_str());
        return false;
    }
    std::optional<std::vector<uint8_t>> file = ReadWholeFile(path);
    if (!file) return false;
    return LoadScene(object, path, file->data(), file->size());
}

bool World::LoadScene(SceneObject* object, const std::string& path, const uint8_t* data, size_t size) {
    if (!object) return false;
    if (object->controller) {
        Log::Write("World::LoadScene: object '%s' already holds a scene; %s is not loaded.\n", object->name.c_str(),
                   path.c_str());
        return false;
    }
    std::unique_ptr<SrxScene> scene;
    try {
        scene = std::make_unique<SrxScene>(data, size, MissingPrimitive::Fatal, path.c_str());
    } catch (const std::bad_alloc&) {
        Log::Fatal("World::LoadScene: Out of memory while importing %s\n", path.c_str());
    }

    object->nodes = BuildNodes(*scene);
    auto* controller = new AnimationController(&object->nodes);
    controllers.push_back(controller);
    object->controller = controller;

    auto* outline = new MeshOutline();
    SceneBuild build(*this, *object, *scene, path);
    for (size_t m = 0; m < scene->meshes.size(); ++m) {
        build.BuildMesh(m, *outline);
        // In the buffers now (and a morphed primitive's shape in its MorphBlend): its records
        // go before the next mesh's buffers are made, so that a large model is not held
        // twice at once.
        for (SrxPrimitive& p : scene->meshes[m].primitives) {
            std::vector<SrxVertex>().swap(p.vertices);
            std::vector<uint16_t>().swap(p.indices);
            std::vector<std::array<uint8_t, 4>>().swap(p.colors);
        }
    }
    for (size_t l = 0; l < scene->linesPoints.size(); ++l) build.BuildLinesPoints(l);
    outlines.push_back(outline);
    object->outline = outline;
    return true;
}
