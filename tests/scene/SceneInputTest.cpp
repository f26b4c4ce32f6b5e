// World::LoadScene on the recording device: what it makes of files the importer accepts
// but the builder cannot take as they stand, the material-index warning, outlines and
// node transforms, and the cases where nothing may change.
#include "scene/SceneTestSupport.h"

#include <cstring>

using scenetest::RecordedWorldTest;
using scenetest::SceneFile;

namespace {

SrxMesh Skinned(SrxMesh mesh, size_t bones) {
    mesh.boneNodes.assign(bones, 0);
    mesh.boneMatrices.assign(bones, scenetest::Identity16());
    for (SrxPrimitive& p : mesh.primitives) p.streamFlags |= srx::StreamWeights;
    return mesh;
}

SrxMesh Triangle(uint16_t node = 0) { return scenetest::MeshOf(node, {scenetest::Strip(3)}); }

struct InputCase {
    const char* what;
    SceneFile file;
    size_t meshes;                  // meshes built
    const char* line;               // a line the build logs
    std::vector<uint32_t> indices;  // the first mesh's indices, when given
};

std::vector<InputCase> Cases() {
    SrxMaterial plain = srxtest::Material("plain");
    SrxNode box = srxtest::Node("box", 0, 0);
    SrxMesh outside = scenetest::MeshOf(0, {scenetest::Triangles({0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2, 0, 1, 3})});
    SrxMesh badBone = Skinned(Triangle(), 2);
    badBone.primitives[0].vertices[1].influenceCount = 1;
    badBone.primitives[0].vertices[1].bones[0] = 5;
    badBone.primitives[0].vertices[1].weights[0] = 1.0f;
    SrxMesh noTriangles = scenetest::MeshOf(0, {scenetest::Triangles({0, 0, 0, 1, 0, 0, 0, 1, 0}, {})});
    SrxMesh badBoneNode = Skinned(Triangle(), 2);
    badBoneNode.boneNodes[1] = 9;
    return {
        {"a mesh node past the node list is skipped, the next mesh is built",
         {{plain}, {box}, {Triangle(3), Triangle(0)}},
         1,
         "World::LoadScene: mesh 0 names node 3, but the scene has 1 nodes; mesh skipped.\n",
         {}},
        {"a bone node past the node list",
         {{plain}, {box}, {badBoneNode}},
         0,
         "World::LoadScene: mesh 0 ('box') names bone node 9, but the scene has 1 nodes; mesh skipped.\n",
         {}},
        {"more bones than the palette registers hold",
         {{plain}, {box}, {Skinned(Triangle(), 49)}},
         0,
         "World::LoadScene: mesh 0 ('box') has 49 bones, more than the 48 a skinned mesh may have; mesh skipped.\n",
         {}},
        {"48 bones fit", {{plain}, {box}, {Skinned(Triangle(), 48)}}, 1, "BBox: ", {}},
        {"nothing to draw",
         {{plain}, {box}, {noTriangles}},
         0,
         "World::LoadScene: mesh 0 ('box') has no vertices or no triangles; mesh skipped.\n",
         {}},
        {"a triangle past its primitive's vertices is drawn as nothing",
         {{plain}, {box}, {outside}},
         1,
         "World::LoadScene: mesh 0 ('box'): 1 triangles name vertices outside their primitive; they are not drawn.\n",
         {0, 2, 1, 0, 0, 0}},
        {"a bone number past the mesh's bones reads bone 0",
         {{plain}, {box}, {badBone}},
         1,
         "World::LoadScene: mesh 0 ('box'): 1 influences name bones outside the mesh's 2; they read bone 0.\n",
         {}},
    };
}

TEST_F(RecordedWorldTest, InputsTheBuildMustNotTakeAsTheyStand) {
    for (const InputCase& c : Cases()) {
        SCOPED_TRACE(c.what);
        scenetest::Write("in.srx", c.file);
        size_t meshesBefore = world->meshes.size();
        SceneObject* object = world->CreateObject("in");
        ASSERT_TRUE(world->LoadScene(object, "in.srx"));
        std::string log = NewLog();
        EXPECT_NE(log.find(c.line), std::string::npos) << log;
        ASSERT_EQ(world->meshes.size() - meshesBefore, c.meshes);
        EXPECT_NE(object->controller, nullptr);
        if (c.meshes == 0) {
            EXPECT_EQ(object->RenderableCount(), 0);
            continue;
        }
        const Mesh& mesh = *world->meshes[meshesBefore];
        if (!c.indices.empty()) {
            std::vector<uint8_t> bytes = scenetest::ReadIndexBuffer(mesh.indexBuffer);
            std::vector<uint32_t> indices;
            for (size_t i = 0; i + 1 < bytes.size(); i += 2) indices.push_back(bytes[i] | bytes[i + 1] << 8);
            EXPECT_EQ(indices, c.indices);
        }
        if (mesh.declaration == world->declarations[DeclarationC]) {
            std::vector<uint8_t> bytes = scenetest::ReadVertexBuffer(mesh.streams[0].buffer);
            for (size_t v = 0; v < bytes.size() / sizeof(SkinnedVertex); ++v) {
                SkinnedVertex vertex;
                std::memcpy(&vertex, bytes.data() + v * sizeof(SkinnedVertex), sizeof(vertex));
                for (uint8_t bone : vertex.bones) EXPECT_LT(bone, world->skins.back()->bindings.size());
            }
        }
    }
}

TEST_F(RecordedWorldTest, MaterialIndexOutOfRangeWarnsAndTakesTheFirst) {
    SrxMaterial first = srxtest::Material("first"), second = srxtest::Material("second");
    first.diffuse[1] = 0.5f;
    SrxMesh mesh = scenetest::MeshOf(0, {scenetest::Strip(3), scenetest::Strip(3)});
    mesh.primitives[0].material = 5;
    mesh.primitives[1].material = 1;
    scenetest::Write("m.srx", {{first, second}, {srxtest::Node("n", 0, 0)}, {mesh}});
    SceneObject* object = world->CreateObject("m");
    ASSERT_TRUE(world->LoadScene(object, "m.srx"));
    std::string log = NewLog();
    const std::string warning = "WARNING: Material index out of bounds! No material assigned?\n";
    size_t at = log.find(warning);
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_EQ(log.find(warning, at + 1), std::string::npos) << "warned twice";
    EXPECT_EQ(object->GetRenderable(0)->params.values[ParamMaterialDiffuse].vector.y, 0.5f);
    EXPECT_EQ(object->GetRenderable(1)->params.values[ParamMaterialDiffuse].vector.y, 0.0f);
}

TEST_F(RecordedWorldTest, SceneWithoutMaterialsGetsAMaterialWithoutMaps) {
    int white = AddTexture("./data/default_white.bmp");
    int flat = AddTexture("./data/default_nmap.bmp");
    scenetest::Write("bare.srx", {{}, {srxtest::Node("n", 0, 0)}, {Triangle()}});
    SceneObject* object = world->CreateObject("bare");
    ASSERT_TRUE(world->LoadScene(object, "bare.srx"));
    EXPECT_NE(NewLog().find("WARNING: Material index out of bounds! No material assigned?\n"), std::string::npos);
    const ShaderParams& params = object->GetRenderable(0)->params;
    EXPECT_EQ(params.textures[0], white);
    EXPECT_EQ(params.textures[1], white);
    EXPECT_EQ(params.textures[2], flat);
    EXPECT_EQ(params.values[ParamMaterialDiffuse].vector, D3DXVECTOR4(1, 1, 1, 1));
}

TEST_F(RecordedWorldTest, RenderablesAndOutlineTakeTheMeshesNode) {
    SrxNode other = srxtest::Node("other", 0, 0), carrier = srxtest::Node("carrier", 1, 0);
    carrier.parent = 7;
    carrier.matrix[12] = 3.0f;
    scenetest::Write("o.srx", {{srxtest::Material("m")}, {other, carrier}, {Triangle(1), Skinned(Triangle(0), 1)}});
    SceneObject* object = world->CreateObject("o");
    ASSERT_TRUE(world->LoadScene(object, "o.srx"));
    EXPECT_EQ(object->GetRenderable(0)->local._41, 3.0f);
    ASSERT_NE(object->outline, nullptr);
    ASSERT_EQ(object->outline->entries.size(), 2u);
    const MeshOutlineEntry& entry = object->outline->entries[0];
    EXPECT_EQ(entry.kind, MeshOutlineEntry::Unskinned);
    EXPECT_EQ(entry.name, "carrier");
    EXPECT_EQ(entry.id, 1);
    EXPECT_EQ(entry.parent, 7);
    EXPECT_EQ(entry.transform._41, 3.0f);
    EXPECT_EQ(object->outline->entries[1].kind, MeshOutlineEntry::Skinned);
    EXPECT_EQ(world->outlines.back(), object->outline);
    EXPECT_EQ(world->controllers.back(), object->controller);
    EXPECT_EQ(object->nodes.size(), 2u);
}

TEST_F(RecordedWorldTest, LoadsThatMustChangeNothing) {
    SceneObject* object = world->CreateObject("x");
    EXPECT_FALSE(world->LoadScene(object, "missing.srx"));
    EXPECT_EQ(NewLog(), "");
    EXPECT_EQ(object->controller, nullptr);
    EXPECT_TRUE(world->controllers.empty());
    EXPECT_TRUE(world->outlines.empty());

    scenetest::Write("s.srx", {{srxtest::Material("m")}, {srxtest::Node("n", 0, 0)}, {Triangle()}});
    ASSERT_TRUE(world->LoadScene(object, "s.srx"));
    NewLog();
    EXPECT_FALSE(world->LoadScene(object, "s.srx"));
    EXPECT_EQ(NewLog(), "World::LoadScene: object 'x' already holds a scene; s.srx is not loaded.\n");
    EXPECT_EQ(object->RenderableCount(), 1);
    EXPECT_EQ(world->meshes.size(), 1u);
}

}  // namespace
