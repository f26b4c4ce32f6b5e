// Skinned geometry in the passes. A skinned renderable uploads its parameters through
// bonetest.hlsl's constant table while a pass shader stays bound, so every register that
// table writes must mean the same parameter in the passes that draw skinned geometry; and
// a skinned quad with an identity palette must come out of every pass as its unskinned
// copy does.
#include "scene/WorldTestSupport.h"

#include "resources/FileUtil.h"
#include "resources/ShaderFile.h"
#include "resources/ShaderInclude.h"
#include "scene/Vertices.h"

#include <cstring>
#include <map>

using lumaret::test::WorldTest;

namespace {

// register -> (constant name, register within the constant) of one program's float4 registers.
using RegisterMap = std::map<UINT, std::pair<std::string, UINT>>;

RegisterMap RegistersOf(const std::string& file, bool vertex) {
    std::optional<std::vector<uint8_t>> bytes = ReadWholeFile(std::string(lumaret::test::SourceDir()) + "/data/" + file);
    EXPECT_TRUE(bytes) << file;
    if (!bytes) return {};
    ShaderFileSections sections = SplitShaderFile(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    const std::string& source = vertex ? sections.vertex : sections.pixel;
    ID3DXBuffer* code = nullptr;
    ID3DXBuffer* errors = nullptr;
    ID3DXConstantTable* table = nullptr;
    ShaderFolderInclude include(std::string(lumaret::test::SourceDir()) + "/data/");
    HRESULT result = D3DXCompileShader(source.c_str(), static_cast<UINT>(source.size()), nullptr, &include, "main",
                                       vertex ? "vs_3_0" : "ps_3_0", 0, &code, &errors, &table);
    EXPECT_EQ(result, D3D_OK) << file << (errors ? static_cast<const char*>(errors->GetBufferPointer()) : "");
    RegisterMap map;
    if (table) {
        D3DXCONSTANTTABLE_DESC desc{};
        table->GetDesc(&desc);
        for (UINT i = 0; i < desc.Constants; ++i) {
            D3DXCONSTANT_DESC constant{};
            UINT count = 1;
            table->GetConstantDesc(table->GetConstant(nullptr, i), &constant, &count);
            if (constant.RegisterSet != D3DXRS_FLOAT4) continue;
            for (UINT r = 0; r < constant.RegisterCount; ++r)
                map[constant.RegisterIndex + r] = {constant.Name, r};
        }
        table->Release();
    }
    if (code) code->Release();
    if (errors) errors->Release();
    return map;
}

}  // namespace

TEST(SkinnedShaderFiles, EveryRegisterBonetestWritesMeansTheSameInThePasses) {
    for (bool vertex : {true, false}) {
        RegisterMap skinned = RegistersOf("bonetest.hlsl", vertex);
        EXPECT_FALSE(skinned.empty());
        for (const char* pass : {"PassZN.hlsl", "PassForward.hlsl"}) {
            RegisterMap read = RegistersOf(pass, vertex);
            for (const auto& [reg, written] : skinned) {
                auto found = read.find(reg);
                if (found == read.end()) continue;
                EXPECT_EQ(found->second, written) << pass << (vertex ? " vertex" : " pixel") << " register c" << reg
                                                  << " holds " << found->second.first << ", bonetest writes "
                                                  << written.first;
            }
        }
    }
}

namespace {

class SkinnedPassTest : public WorldTest {
protected:
    // The quad of AddQuad as skinned vertices on one bone, drawn through bonetest.hlsl.
    SkinnedRenderable* AddSkinnedQuad(float edge, const D3DXMATRIX* palette) {
        MeshPartRenderable* plain = AddQuad(edge);
        Mesh* source = plain->mesh;
        auto* staticVertices = static_cast<StaticVertex*>(source->LockStream(0));
        Mesh* mesh = gRenderer->CreateMesh();
        mesh->CreateStream(0, 4, sizeof(SkinnedVertex), false);
        mesh->declaration = gWorld->declarations[DeclarationC];
        auto* vertices = static_cast<SkinnedVertex*>(mesh->LockStream(0));
        for (int i = 0; i < 4; ++i) {
            SkinnedVertex v{};
            std::memcpy(v.position, staticVertices[i].position, sizeof(v.position));
            v.normal[2] = -1.0f;
            std::memcpy(v.uv0, staticVertices[i].uv0, sizeof(v.uv0));
            v.weights[0] = 1.0f;
            vertices[i] = v;
        }
        mesh->UnlockStream(0);
        source->UnlockStream(0);
        const uint16_t indices[6] = {0, 1, 2, 0, 2, 3};
        mesh->CreateIndexBuffer(6, nullptr, false, false);
        std::memcpy(mesh->LockIndexBuffer(0, 0), indices, sizeof(indices));
        mesh->UnlockIndexBuffer();
        mesh->ranges.push_back(IndexRange{0, 6});
        gWorld->meshes.push_back(mesh);
        auto* skin = new Skin{mesh, {BoneBinding{0, {}}}};
        gWorld->skins.push_back(skin);
        auto* quad = new SkinnedRenderable(skin, palette, 1);
        quad->params = plain->params;
        quad->shader = gRenderer->FindShader("./data/bonetest.hlsl");
        gWorld->renderables.push_back(quad);
        return quad;
    }

    struct Targets {
        std::vector<uint8_t> zn, light, scene;
    };

    // One object drawing just this renderable.
    Targets RenderAlone(Renderable* renderable) {
        if (!object) object = AddObject(nullptr, gWorld->CreateZone("zone"));
        object->renderables = {renderable};
        gWorld->Render(&camera);
        return {ReadTarget(gWorld->znTarget), ReadTarget(gWorld->lightTarget), ReadTarget(gWorld->postfx.sceneTarget)};
    }

    SceneObject* object = nullptr;
};

// Largest difference between two targets' channels, 8 or 16 bits each.
int LargestDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, bool wide) {
    int largest = 0;
    for (size_t i = 0; i + (wide ? 1 : 0) < a.size() && i < b.size(); i += wide ? 2 : 1) {
        int x = wide ? a[i] | a[i + 1] << 8 : a[i];
        int y = wide ? b[i] | b[i + 1] << 8 : b[i];
        largest = std::max(largest, std::abs(x - y));
    }
    return largest;
}

}  // namespace

TEST_F(SkinnedPassTest, AnIdentityPaletteShadesAsTheUnskinnedCopyInEveryPass) {
    std::vector<std::string> shaders = PassShaders();
    shaders.push_back("bonetest.hlsl");
    StartOnRealDevice(640, 480, shaders);
    // Seen from the side and above, so that world and view space differ.
    camera.SetPosition(D3DXVECTOR3(260.0f, 180.0f, -420.0f));
    Light light;
    light.position = D3DXVECTOR3(100.0f, 80.0f, -200.0f);
    light.color = D3DXVECTOR3(0.8f, 0.7f, 0.6f);
    gWorld->lights = {&light};
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);

    MeshPartRenderable* unskinned = AddQuad(300.0f);
    // Without a tangent frame, as skinned vertices have none: no normal mapping either way.
    auto* vertices = static_cast<StaticVertex*>(unskinned->mesh->LockStream(0));
    for (int i = 0; i < 4; ++i) std::memset(vertices[i].tangent, 127, 4);
    unskinned->mesh->UnlockStream(0);

    Targets plain = RenderAlone(unskinned);
    Targets skinned = RenderAlone(AddSkinnedQuad(300.0f, &identity));
    // What remains is the packed normal's rounding, a fraction of a byte step.
    EXPECT_LE(LargestDifference(plain.zn, skinned.zn, false), 2) << "depth-and-normal pass";
    EXPECT_LE(LargestDifference(plain.light, skinned.light, false), 2) << "light pass";
    EXPECT_LE(LargestDifference(plain.scene, skinned.scene, true), 2 * 257) << "forward pass";
    EXPECT_GT(LargestDifference(plain.light, std::vector<uint8_t>(plain.light.size()), false), 40) << "lit at all";
}
