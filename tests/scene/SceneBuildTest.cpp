// World::LoadScene on the real device: vertex and index bytes read back from the mesh's
// buffers, ranges, skins and renderables, the two scene shaders, and a skinned mesh whose
// bones move drawn at two animation times.
#include "import/TangentGeneration.h"
#include "scene/Camera.h"
#include "scene/SceneTestSupport.h"

#include <cstring>

using scenetest::DeviceWorldTest;

namespace {

template <class Vertex>
std::vector<Vertex> AsVertices(const std::vector<uint8_t>& bytes) {
    std::vector<Vertex> vertices(bytes.size() / sizeof(Vertex));
    std::memcpy(vertices.data(), bytes.data(), vertices.size() * sizeof(Vertex));
    return vertices;
}

template <class Index>
std::vector<uint32_t> AsIndices(const std::vector<uint8_t>& bytes) {
    std::vector<uint32_t> indices(bytes.size() / sizeof(Index));
    for (size_t i = 0; i < indices.size(); ++i) {
        Index index;
        std::memcpy(&index, bytes.data() + i * sizeof(Index), sizeof(Index));
        indices[i] = index;
    }
    return indices;
}

D3DFORMAT IndexFormat(const Mesh& mesh) {
    D3DINDEXBUFFER_DESC desc{};
    mesh.indexBuffer->GetDesc(&desc);
    return desc.Format;
}

// A first primitive of 10 vertices (two triangles) with the normals (0, 0, 1) and
// (0, 0, -1) on its first two vertices, and a second of 3 vertices with uv1 (1, -1) and
// the triangle (0, 1, 2).
scenetest::SceneFile TwoPrimitiveScene() {
    std::vector<float> positions;
    for (int v = 0; v < 10; ++v)
        for (int c = 0; c < 3; ++c) positions.push_back(static_cast<float>(10 * v + c) - 20.0f);
    SrxPrimitive first = scenetest::Triangles(positions, {0, 1, 2, 3, 4, 5});
    first.vertices[1].normal[2] = -1.0f;
    for (int v = 0; v < 10; ++v) first.vertices[v].uv0[1] = 0.125f * static_cast<float>(v * v);
    SrxPrimitive second = scenetest::Triangles({0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2});
    second.streamFlags |= srx::StreamTexCoords2;
    second.vertices[2].uv1[0] = 1.0f;
    second.vertices[2].uv1[1] = -1.0f;
    return {{srxtest::Material("plain")}, {srxtest::Node("box", 0, 0)}, {scenetest::MeshOf(0, {first, second})}};
}

TEST_F(DeviceWorldTest, UnskinnedMeshBytesRangesAndRenderables) {
    scenetest::Write("two.srx", TwoPrimitiveScene());
    SceneObject* object = world->CreateObject("two");
    ASSERT_TRUE(world->LoadScene(object, "two.srx"));
    std::string log = NewLog();
    // Widened with the positions as the file holds them, before z is negated.
    EXPECT_NE(log.find("BBox: (-20.00, -19.00, -18.00) (70.00, 71.00, 72.00)\n"), std::string::npos) << log;

    ASSERT_EQ(object->RenderableCount(), 2);
    auto* a = dynamic_cast<MeshPartRenderable*>(object->GetRenderable(0));
    auto* b = dynamic_cast<MeshPartRenderable*>(object->GetRenderable(1));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->mesh, b->mesh);
    EXPECT_EQ(a->range, 0);
    EXPECT_EQ(b->range, 1);
    EXPECT_EQ(a->shader, renderer->FindShader("./data/diffuseTex.hlsl"));
    EXPECT_GE(a->shader, 0);
    EXPECT_EQ(object->palette, nullptr);
    const Mesh& mesh = *a->mesh;
    EXPECT_EQ(mesh.declaration, world->declarations[DeclarationB]);
    ASSERT_EQ(mesh.ranges.size(), 2u);
    EXPECT_EQ(mesh.ranges[0].start, 0u);
    EXPECT_EQ(mesh.ranges[0].count, 6u);
    EXPECT_EQ(mesh.ranges[1].start, 6u);
    EXPECT_EQ(mesh.ranges[1].count, 3u);
    EXPECT_EQ(IndexFormat(mesh), D3DFMT_INDEX16);

    std::vector<StaticVertex> vertices = AsVertices<StaticVertex>(scenetest::ReadVertexBuffer(mesh.streams[0].buffer));
    std::vector<uint32_t> indices = AsIndices<uint16_t>(scenetest::ReadIndexBuffer(mesh.indexBuffer));
    ASSERT_EQ(vertices.size(), 13u);
    ASSERT_EQ(indices.size(), 9u);
    EXPECT_EQ(std::vector<uint32_t>(indices.begin(), indices.begin() + 3), (std::vector<uint32_t>{0, 2, 1}));
    EXPECT_EQ(std::vector<uint32_t>(indices.begin() + 6, indices.end()), (std::vector<uint32_t>{10, 12, 11}));

    const StaticVertex& v0 = vertices[0];
    EXPECT_EQ(v0.position[0], -20.0f);
    EXPECT_EQ(v0.position[2], 18.0f);
    EXPECT_EQ(std::vector<int>(v0.normal, v0.normal + 4), (std::vector<int>{127, 127, 0, 255}));
    EXPECT_EQ(std::vector<int>(vertices[1].normal, vertices[1].normal + 4), (std::vector<int>{127, 127, 255, 255}));
    EXPECT_EQ(vertices[3].uv0[1], 1.125f);
    // The second set is in the mesh: every vertex carries it, packed as SHORT2N.
    EXPECT_EQ(vertices[12].uv1[0], 32767);
    EXPECT_EQ(vertices[12].uv1[1], -32767);
    EXPECT_EQ(vertices[0].uv1[0], 0);

    // One tangent pass over the whole mesh gives the bytes of one pass after every
    // primitive over all that was written before.
    std::vector<StaticVertex> perPrimitive = vertices;
    for (StaticVertex& v : perPrimitive) std::memset(v.tangent, 0, sizeof(v.tangent));
    std::vector<uint16_t> narrow(indices.begin(), indices.end());
    GenerateTangents(perPrimitive.data(), 10, narrow.data(), 6);
    GenerateTangents(perPrimitive.data(), 13, narrow.data(), 9);
    EXPECT_EQ(std::memcmp(perPrimitive.data(), vertices.data(), vertices.size() * sizeof(StaticVertex)), 0);
    EXPECT_NE(std::vector<int>(v0.tangent, v0.tangent + 3), (std::vector<int>{0, 0, 0}));
}

// Meshes up to 65536 vertices keep 16-bit indices; past that they get 32-bit ones and the
// second primitive's indices do not wrap.
TEST_F(DeviceWorldTest, IndexWidthFollowsTheVertexCount) {
    struct Case {
        uint16_t first, second;
        D3DFORMAT format;
    };
    for (Case c : {Case{32768, 32768, D3DFMT_INDEX16}, Case{65535, 2, D3DFMT_INDEX32}}) {
        scenetest::Write("wide.srx", {{srxtest::Material("plain")},
                                      {srxtest::Node("big", 0, 0)},
                                      {scenetest::MeshOf(0, {scenetest::Strip(c.first), scenetest::Strip(c.second)})}});
        SceneObject* object = world->CreateObject("wide");
        ASSERT_TRUE(world->LoadScene(object, "wide.srx"));
        NewLog();
        const Mesh& mesh = *dynamic_cast<MeshPartRenderable*>(object->GetRenderable(1))->mesh;
        ASSERT_EQ(IndexFormat(mesh), c.format) << c.first + c.second << " vertices";
        std::vector<uint8_t> bytes = scenetest::ReadIndexBuffer(mesh.indexBuffer);
        std::vector<uint32_t> indices =
            c.format == D3DFMT_INDEX32 ? AsIndices<uint32_t>(bytes) : AsIndices<uint16_t>(bytes);
        ASSERT_EQ(indices.size(), mesh.indexCount);
        // The second primitive's first triangle, (0, 1, min(2, last)), reversed and offset.
        const IndexRange& second = mesh.ranges[1];
        uint32_t base = c.first, last = c.second - 1u;
        EXPECT_EQ(indices[second.start], base);
        EXPECT_EQ(indices[second.start + 1], base + std::min(2u, last));
        EXPECT_EQ(indices[second.start + 2], base + 1);
    }
}

// Skinned: float normals with z negated, weights (0, 0, 0, 1) for a vertex without bones,
// one skin whose bindings are not repeated per primitive, one palette per mesh, and one
// renderable per primitive drawing its own range.
TEST_F(DeviceWorldTest, SkinnedMeshesShareOneSkinAndPalettePerMesh) {
    SrxPrimitive first = scenetest::Triangles({0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0}, {0, 1, 2, 1, 3, 2});
    first.streamFlags |= srx::StreamWeights;
    first.vertices[0].normal[2] = 0.5f;
    first.vertices[0].weights[0] = 0.7f;  // no bones: replaced
    first.vertices[1].influenceCount = 2;
    first.vertices[1].bones[0] = 1;
    first.vertices[1].weights[0] = 0.25f;
    first.vertices[1].weights[1] = 0.75f;
    SrxPrimitive second = first;
    SrxMesh skinned = scenetest::MeshOf(0, {first, second});
    skinned.boneNodes = {1, 2};
    std::array<float, 16> offset = scenetest::Identity16();
    offset[13] = 4.0f;
    skinned.boneMatrices = {scenetest::Identity16(), offset};
    SrxMesh other = skinned;
    other.primitives.resize(1);
    scenetest::Write("skinned.srx",
                     {{srxtest::Material("plain")},
                      {srxtest::Node("root", 0, 0), srxtest::Node("b1", 1, 0), srxtest::Node("b2", 2, 1)},
                      {skinned, other}});
    size_t skinsBefore = world->skins.size();
    SceneObject* object = world->CreateObject("skinned");
    ASSERT_TRUE(world->LoadScene(object, "skinned.srx"));
    NewLog();

    ASSERT_EQ(world->skins.size(), skinsBefore + 2);
    const Skin& skin = *world->skins[skinsBefore];
    ASSERT_EQ(skin.bindings.size(), 2u);
    EXPECT_EQ(skin.bindings[1].node, 2);
    EXPECT_EQ(skin.bindings[1].offset._42, 4.0f);
    ASSERT_EQ(object->palettes.size(), 2u);
    EXPECT_EQ(object->palette, object->palettes[1]);
    ASSERT_EQ(object->RenderableCount(), 3);
    for (int k = 0; k < 2; ++k) {
        auto* r = dynamic_cast<SkinnedRenderable*>(object->GetRenderable(k));
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->skin, &skin);
        EXPECT_EQ(r->range, k);
        EXPECT_EQ(r->boneCount, 2);
        EXPECT_EQ(r->bones, object->palettes[0]->matrices.data());
        EXPECT_EQ(r->shader, renderer->FindShader("./data/bonetest.hlsl"));
        EXPECT_GE(r->shader, 0);
    }
    const Mesh& mesh = *skin.mesh;
    EXPECT_EQ(mesh.declaration, world->declarations[DeclarationC]);
    std::vector<SkinnedVertex> vertices =
        AsVertices<SkinnedVertex>(scenetest::ReadVertexBuffer(mesh.streams[0].buffer));
    ASSERT_EQ(vertices.size(), 8u);
    EXPECT_EQ(std::vector<float>(vertices[0].normal, vertices[0].normal + 3), (std::vector<float>{0, 0, -0.5f}));
    EXPECT_EQ(std::vector<float>(vertices[0].weights, vertices[0].weights + 4), (std::vector<float>{0, 0, 0, 1}));
    EXPECT_EQ(std::vector<float>(vertices[5].weights, vertices[5].weights + 4),
              (std::vector<float>{0.25f, 0.75f, 0, 0}));
    EXPECT_EQ(std::vector<int>(vertices[5].bones, vertices[5].bones + 4), (std::vector<int>{1, 0, 0, 0}));
}

TEST_F(DeviceWorldTest, SceneShadersDeclareWhatTheBuildUploads) {
    int bones = renderer->FindShader("./data/bonetest.hlsl");
    int diffuse = renderer->FindShader("./data/diffuseTex.hlsl");
    ASSERT_GE(bones, 0);
    ASSERT_GE(diffuse, 0);
    const ShaderRecord& skinning = renderer->shaders[static_cast<size_t>(bones)];
    ASSERT_NE(skinning.matrixArrayHandle, nullptr);
    D3DXCONSTANT_DESC desc{};
    UINT count = 1;
    ASSERT_EQ(skinning.vertexConstants->GetConstantDesc(skinning.matrixArrayHandle, &desc, &count), D3D_OK);
    // The palette's registers are the ones every pass shader reads.
    EXPECT_EQ(desc.RegisterIndex, 64u);
    EXPECT_EQ(desc.Elements, 48u);
    const ShaderRecord& lit = renderer->shaders[static_cast<size_t>(diffuse)];
    for (const ShaderRecord* record : {&skinning, &lit}) {
        EXPECT_NE(record->vertexHandles[ParamMatrixTotal], nullptr);
        EXPECT_NE(record->pixelHandles[ParamMaterialDiffuse], nullptr);
    }
}

// A skinned quad on one bone whose node moves from x = -0.5 to x = 0.5 over 100 ticks,
// drawn with its own shader at two animation times: the lit pixels move right.
TEST_F(DeviceWorldTest, MovingBonesMoveTheSkinnedPixels) {
    SrxPrimitive quad = scenetest::Triangles({-0.25f, -0.25f, 0, 0.25f, -0.25f, 0, -0.25f, 0.25f, 0, 0.25f, 0.25f, 0},
                                             {0, 1, 2, 1, 3, 2});
    quad.streamFlags |= srx::StreamWeights;
    for (SrxVertex& v : quad.vertices) {
        v.influenceCount = 1;
        v.bones[0] = 1;
        v.weights[0] = 1.0f;
    }
    SrxMesh mesh = scenetest::MeshOf(0, {quad});
    mesh.boneNodes = {0, 1};
    mesh.boneMatrices = {scenetest::Identity16(), scenetest::Identity16()};
    scenetest::SceneFile file{
        {srxtest::Material("plain")}, {srxtest::Node("root", 0, 0), srxtest::Node("bone", 1, 0)}, {mesh}};
    file.materials[0].diffuse[0] = file.materials[0].diffuse[1] = file.materials[0].diffuse[2] = 1.0f;
    file.materials[0].ambient[0] = file.materials[0].ambient[1] = file.materials[0].ambient[2] = 1.0f;
    scenetest::MoveAlongX(file.nodes[1], -0.5f, 0.5f, 100);
    scenetest::Write("moving.srx", file);
    SceneObject* object = world->CreateObject("moving");
    ASSERT_TRUE(world->LoadScene(object, "moving.srx"));
    NewLog();

    Camera camera;
    camera.SetPerspective(60.0f, 1.0f, 0.1f, 10.0f);
    camera.SetPosition(D3DXVECTOR3(0, 0, -2));
    camera.SetTarget(D3DXVECTOR3(0, 0, 0));
    world->camera = &camera;
    int target = renderer->CreateRenderTarget(PixelFormatA8R8G8B8, kWidth, kHeight, PixelFormatD24S8, true);
    // Mean x of the lit pixels, in pixels.
    auto litCentre = [&](float time) {
        object->controller->Evaluate(time);
        for (SkinPalette* palette : object->palettes) palette->Recompute();
        world->drawList = {DrawItem{object->GetRenderable(0), object->world}};
        renderer->BeginScene();
        renderer->BeginRenderTarget(target, 0);
        renderer->Clear(ClearColor | ClearDepth | ClearStencil, 0xFF000000, 0);
        world->DrawList(nullptr);
        renderer->EndRenderTarget(target, 0);
        renderer->EndScene();
        world->drawList.clear();
        int pitch = 0;
        const auto* pixels = static_cast<const uint8_t*>(renderer->LockRenderTarget(target, &pitch));
        double sum = 0;
        int lit = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                if (pixels[y * pitch + 4 * x + 1] > 128) {
                    sum += x;
                    ++lit;
                }
        renderer->UnlockRenderTarget(target);
        EXPECT_GT(lit, 50) << "tick " << time;
        return lit ? sum / lit : -1.0;
    };
    double early = litCentre(24.0f), late = litCentre(72.0f);
    // The bone moves 0.48 units, about 14 pixels at this distance and field of view.
    EXPECT_GT(late - early, 8.0);
    EXPECT_LT(late - early, 20.0);
    world->camera = nullptr;
}

}  // namespace
