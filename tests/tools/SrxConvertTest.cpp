// srxconvert against Assimp's own reading of real models (Debian's assimp-testmodels):
// counts, materials and images, where the engine puts vertices after its own conversion
// and animation, which way faces point, splits at the engine's limits, and the tool's exit
// statuses and messages.
#include "Conversion.h"
#include "MeshSplit.h"
#include "ModelFileAccess.h"
#include "ModelSource.h"
#include "NodeDepth.h"
#include "ToolRun.h"
#include "import/SrxScene.h"
#include "scene/Animation.h"
#include "support/TempDir.h"

#include <assimp/Importer.hpp>
#include <assimp/scene.h>
#include <d3dx9.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

using lumaret::test::ReadFileBytes;
using lumaret::test::RunTool;

// Tools built with the address sanitizer cannot run under a small address-space limit.
#if defined(__SANITIZE_ADDRESS__)
#define LUMARET_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUMARET_TEST_SANITIZED 1
#endif
#endif

namespace {

namespace fs = std::filesystem;

const std::string kModels = "/usr/share/assimp/models/";

struct ModelCase {
    const char* source;  // below kModels
    const char* name;    // output stem
    float scale;
    size_t bones;                   // over all SRX meshes
    std::set<std::string> diffuse;  // diffuse map names the SRX stores
    double facingShare;             // least share of triangles whose front agrees with their normals
};

// anim_test.x weights its cylinder to four joints, two of which have no node in the file:
// their weights are dropped, and the one vertex left without any follows its neighbours.
const ModelCase kCases[] = {
    {"X/anim_test.x", "anim_test", 2.5f, 2, {}, 1.0},
    {"glTF2/simple_skin/simple_skin.gltf", "simple_skin", 1.0f, 2, {}, 1.0},
    {"OBJ/spider.obj",
     "spider",
     1.0f,
     0,
     {"wal67ar_small.jpg", "wal69ar_small.jpg", "spidertex.jpg", "drkwood2.jpg", "engineflare1.jpg"},
     0.99},
    {"glTF2/BoxTextured-glTF-Binary/BoxTextured.glb", "box", 3.0f, 0, {"box_texture0.png"}, 1.0},
    // An unskinned box moved by an animated parent: written skinned on its own node.
    {"Collada/box_nested_animation.dae", "nested", 1.0f, 1, {}, 1.0},
};

struct Converted {
    srxconvert::ConvertResult result;
    srxconvert::ConvertReport report;
    Assimp::Importer importer;
    const aiScene* source = nullptr;
    std::unique_ptr<SrxScene> srx;
};

// Converts into the working directory (a scratch one) and reads both sides.
std::unique_ptr<Converted> Convert(const ModelCase& c) {
    auto out = std::make_unique<Converted>();
    srxconvert::ConvertOptions options;
    options.scale = c.scale;
    std::string output = std::string(c.name) + ".srx";
    out->result = srxconvert::ConvertFile(kModels + c.source, output, options, out->report);
    out->source = out->importer.ReadFile(kModels + c.source, srxconvert::ImportFlags(c.source));
    std::string bytes = ReadFileBytes(output);
    out->srx = std::make_unique<SrxScene>(bytes.data(), bytes.size(), MissingPrimitive::EndImport);
    return out;
}

// The source's triangle meshes in the order of their nodes, depth first.
std::vector<std::pair<const aiNode*, const aiMesh*>> TriangleMeshes(const aiScene& scene) {
    std::vector<std::pair<const aiNode*, const aiMesh*>> out;
    std::function<void(const aiNode*)> visit = [&](const aiNode* node) {
        for (unsigned k = 0; k < node->mNumMeshes; ++k) {
            const aiMesh* mesh = scene.mMeshes[node->mMeshes[k]];
            if (mesh->mPrimitiveTypes & aiPrimitiveType_TRIANGLE) out.emplace_back(node, mesh);
        }
        for (unsigned c = 0; c < node->mNumChildren; ++c) visit(node->mChildren[c]);
    };
    visit(scene.mRootNode);
    return out;
}

// Global transforms with every animated node at its first or last keys, composed here from
// the keys as they stand (no interpolation involved).
std::map<std::string, aiMatrix4x4> PoseAtKeys(const aiScene& scene, bool last) {
    std::map<std::string, const aiNodeAnim*> channels;
    if (scene.mNumAnimations > 0)
        for (unsigned c = 0; c < scene.mAnimations[0]->mNumChannels; ++c)
            channels[scene.mAnimations[0]->mChannels[c]->mNodeName.C_Str()] = scene.mAnimations[0]->mChannels[c];
    std::map<std::string, aiMatrix4x4> globals;
    std::function<void(const aiNode*, const aiMatrix4x4&)> visit = [&](const aiNode* node, const aiMatrix4x4& parent) {
        aiMatrix4x4 local = node->mTransformation;
        if (auto found = channels.find(node->mName.C_Str()); found != channels.end()) {
            const aiNodeAnim& a = *found->second;
            auto pick = [&](auto* keys, unsigned n) { return keys[last ? n - 1 : 0].mValue; };
            aiMatrix4x4 t, s;
            aiMatrix4x4::Translation(pick(a.mPositionKeys, a.mNumPositionKeys), t);
            aiMatrix4x4::Scaling(pick(a.mScalingKeys, a.mNumScalingKeys), s);
            local = t * aiMatrix4x4(pick(a.mRotationKeys, a.mNumRotationKeys).GetMatrix()) * s;
        }
        aiMatrix4x4 global = parent * local;
        globals.emplace(node->mName.C_Str(), global);
        for (unsigned c = 0; c < node->mNumChildren; ++c) visit(node->mChildren[c], global);
    };
    visit(scene.mRootNode, aiMatrix4x4());
    return globals;
}

// What the engine draws for a vertex at the controller's last evaluated time: z negated,
// then the skin palette (offset x node matrix, LoadScene's weight rules) or nothing, then
// the mesh node's matrix.
D3DXVECTOR3 EnginePosition(const SrxMesh& mesh, const SrxNode& node, const SrxVertex& v,
                           const AnimationController& animation) {
    D3DXVECTOR3 p(v.position[0], v.position[1], -v.position[2]);
    D3DXVECTOR4 q;
    if (!mesh.boneNodes.empty()) {
        bool noBones = !(v.bones[0] | v.bones[1] | v.bones[2] | v.bones[3]);
        D3DXVECTOR3 sum(0.0f, 0.0f, 0.0f);
        for (int i = 0; i < 4; ++i) {
            float weight = noBones ? (i == 3 ? 1.0f : 0.0f) : v.weights[i];
            D3DXMATRIX offset(mesh.boneMatrices.at(v.bones[i]).data()), palette;
            D3DXMatrixMultiply(&palette, &offset, &animation.nodeMatrices.at(mesh.boneNodes.at(v.bones[i])));
            D3DXVec3Transform(&q, &p, &palette);
            sum += weight * D3DXVECTOR3(q.x, q.y, q.z);
        }
        p = sum;
    }
    D3DXMATRIX local(node.matrix);
    D3DXVec3Transform(&q, &p, &local);
    return {q.x, q.y, q.z};
}

// Assimp's position of source vertex s: its bones' weighted transforms, else its node's;
// scaled, then z negated as the engine sees it. Weights on bones that name no node are
// left out, as srxconvert documents (anim_test.x has two such joints, weighted below 0.1%);
// a skinned vertex left without weights borrows its neighbour's and is not compared.
std::optional<D3DXVECTOR3> SourcePosition(const aiMesh& mesh, unsigned s, const aiNode& node,
                                          const std::map<std::string, aiMatrix4x4>& pose, float scale) {
    aiVector3D sum(0.0f, 0.0f, 0.0f);
    float weights = 0.0f;
    for (unsigned b = 0; b < mesh.mNumBones; ++b)
        for (unsigned w = 0; w < mesh.mBones[b]->mNumWeights; ++w) {
            float weight = mesh.mBones[b]->mWeights[w].mWeight;
            auto global = pose.find(mesh.mBones[b]->mName.C_Str());
            if (mesh.mBones[b]->mWeights[w].mVertexId != s || weight == 0.0f || global == pose.end()) continue;
            sum += weight * (global->second * mesh.mBones[b]->mOffsetMatrix * mesh.mVertices[s]);
            weights += weight;
        }
    if (mesh.mNumBones > 0 && weights == 0.0f) return std::nullopt;
    aiVector3D p = weights > 0.0f ? sum / weights : pose.at(node.mName.C_Str()) * mesh.mVertices[s];
    return D3DXVECTOR3(p.x * scale, p.y * scale, -p.z * scale);
}

// The source vertex an SRX vertex was written from: the one with its exact position,
// normal and first texture coordinates.
int SourceVertex(const aiMesh& mesh, const SrxVertex& v) {
    for (unsigned s = 0; s < mesh.mNumVertices; ++s) {
        const aiVector3D& p = mesh.mVertices[s];
        if (p.x != v.position[0] || p.y != v.position[1] || p.z != v.position[2]) continue;
        if (mesh.mNormals && (mesh.mNormals[s].x != v.normal[0] || mesh.mNormals[s].z != v.normal[2])) continue;
        if (mesh.mTextureCoords[0] && mesh.mTextureCoords[0][s].x != v.uv0[0]) continue;
        return static_cast<int>(s);
    }
    return -1;
}

class SrxConvertModels : public testing::Test {
protected:
    lumaret::test::ScopedTempDir dir_;
};

}  // namespace

TEST_F(SrxConvertModels, CountsMaterialsAndImagesMatchAssimpsScene) {
    for (const ModelCase& c : kCases) {
        SCOPED_TRACE(c.source);
        std::unique_ptr<Converted> m = Convert(c);
        ASSERT_EQ(m->result.status, srxconvert::ConvertStatus::Ok) << m->result.message;
        ASSERT_NE(m->source, nullptr);
        const SrxScene& srx = *m->srx;
        EXPECT_TRUE(srx.importError.empty()) << srx.importError;

        // No source mesh here passes a limit: one SRX mesh per (node, mesh) pair, same counts.
        auto sources = TriangleMeshes(*m->source);
        ASSERT_EQ(srx.meshes.size(), sources.size());
        size_t bones = 0;
        for (size_t i = 0; i < sources.size(); ++i) {
            const SrxMesh& mesh = srx.meshes[i];
            ASSERT_EQ(mesh.primitives.size(), 1u);
            const SrxPrimitive& p = mesh.primitives[0];
            EXPECT_EQ(p.vertexCount, sources[i].second->mNumVertices) << "mesh " << i;
            EXPECT_EQ(p.faceCount, sources[i].second->mNumFaces) << "mesh " << i;
            EXPECT_LT(p.material, srx.materials.size());
            EXPECT_EQ(mesh.boneNodes.size(), mesh.boneMatrices.size());
            for (uint16_t index : p.indices) ASSERT_LT(index, p.vertexCount);
            bones += mesh.boneNodes.size();
        }
        EXPECT_EQ(bones, c.bones);

        EXPECT_EQ(srx.materials.size(), m->source->mNumMaterials);
        std::set<std::string> diffuse;
        for (const SrxMaterial& material : srx.materials)
            if (material.mapMask & srx::MapDiffuse) diffuse.insert(material.maps[0]);
        EXPECT_EQ(diffuse, c.diffuse);
        for (const std::string& name : c.diffuse) {
            std::string bytes = ReadFileBytes(name);
            D3DXIMAGE_INFO info{};
            EXPECT_TRUE(
                SUCCEEDED(D3DXGetImageInfoFromFileInMemory(bytes.data(), static_cast<UINT>(bytes.size()), &info)))
                << name << " is written next to the SRX file as an image the engine reads";
        }
    }
}

// Vertices are joined by the tools' own hash table, not Assimp's spatial sort: every OBJ test
// model whose file gives normals must come out as Assimp's JoinIdenticalVertices leaves it,
// the same vertices in the same order under the same faces, materials, nodes and animations
// (MeshVerticesTest holds the rest: where the joins differ, and the normals made).
TEST(SrxConvertObj, JoinedVerticesMatchAssimpsJoin) {
    size_t models = 0;
    for (const auto& entry : fs::directory_iterator(kModels + "OBJ")) {
        const fs::path& file = entry.path();
        if (file.extension() != ".obj") continue;
        std::string path = file.string();
        SCOPED_TRACE(path);
        Assimp::Importer raw;
        const aiScene* asRead = raw.ReadFile(path, 0);
        bool normals = asRead != nullptr;
        // Normals all 0 are none: they are made, as where the file has none.
        for (unsigned m = 0; asRead && m < asRead->mNumMeshes; ++m) {
            const aiMesh& mesh = *asRead->mMeshes[m];
            normals = normals && mesh.mNormals &&
                      std::any_of(mesh.mNormals, mesh.mNormals + mesh.mNumVertices,
                                  [](const aiVector3D& n) { return n != aiVector3D(0.0f); });
        }
        if (!normals) continue;
        srxconvert::ModelSource ours;
        std::string error;
        Assimp::Importer importer;
        const aiScene* theirs = importer.ReadFile(path, srxconvert::ImportFlags(path));
        ASSERT_EQ(ours.Read(path, error), theirs != nullptr) << error;
        if (!theirs) continue;
        ++models;
        const aiScene& scene = ours.Scene();
        ASSERT_EQ(scene.mNumMeshes, theirs->mNumMeshes);
        for (unsigned m = 0; m < scene.mNumMeshes; ++m) {
            const aiMesh& a = *scene.mMeshes[m];
            const aiMesh& b = *theirs->mMeshes[m];
            SCOPED_TRACE(a.mName.C_Str());
            EXPECT_STREQ(a.mName.C_Str(), b.mName.C_Str());
            EXPECT_EQ(a.mMaterialIndex, b.mMaterialIndex);
            ASSERT_EQ(a.mNumVertices, b.mNumVertices);
            ASSERT_EQ(a.mNumFaces, b.mNumFaces);
            auto same = [&](const auto* x, const auto* y) {
                if (!x || !y) return x == y;
                return std::equal(x, x + a.mNumVertices, y);
            };
            EXPECT_TRUE(same(a.mVertices, b.mVertices));
            EXPECT_TRUE(same(a.mNormals, b.mNormals));
            for (unsigned c = 0; c < AI_MAX_NUMBER_OF_TEXTURECOORDS; ++c)
                EXPECT_TRUE(same(a.mTextureCoords[c], b.mTextureCoords[c])) << "UV set " << c;
            for (unsigned c = 0; c < AI_MAX_NUMBER_OF_COLOR_SETS; ++c)
                EXPECT_TRUE(same(a.mColors[c], b.mColors[c])) << "colour set " << c;
            for (unsigned f = 0; f < a.mNumFaces; ++f) {
                ASSERT_EQ(a.mFaces[f].mNumIndices, b.mFaces[f].mNumIndices);
                ASSERT_TRUE(std::equal(a.mFaces[f].mIndices, a.mFaces[f].mIndices + a.mFaces[f].mNumIndices,
                                       b.mFaces[f].mIndices))
                    << "face " << f;
            }
        }
        ASSERT_EQ(scene.mNumMaterials, theirs->mNumMaterials);
        for (unsigned m = 0; m < scene.mNumMaterials; ++m)
            EXPECT_EQ(scene.mMaterials[m]->GetName(), theirs->mMaterials[m]->GetName());
        std::function<void(const aiNode*, const aiNode*)> sameNodes = [&](const aiNode* x, const aiNode* y) {
            ASSERT_STREQ(x->mName.C_Str(), y->mName.C_Str());
            ASSERT_TRUE(std::equal(x->mMeshes, x->mMeshes + x->mNumMeshes, y->mMeshes, y->mMeshes + y->mNumMeshes));
            ASSERT_EQ(x->mNumChildren, y->mNumChildren);
            for (unsigned c = 0; c < x->mNumChildren; ++c) sameNodes(x->mChildren[c], y->mChildren[c]);
        };
        sameNodes(scene.mRootNode, theirs->mRootNode);
        EXPECT_EQ(scene.mNumAnimations, theirs->mNumAnimations);
    }
    EXPECT_GE(models, 10u);
}

// The engine's own node evaluation and palette rule against positions composed from
// Assimp's hierarchy: the rest pose for static models, the first and last keys (ticks 0
// and 600 of the fitted clock) for animated ones.
TEST_F(SrxConvertModels, EnginePlacesVerticesWhereAssimpDoesMirroredInZ) {
    for (const ModelCase& c : kCases) {
        SCOPED_TRACE(c.source);
        std::unique_ptr<Converted> m = Convert(c);
        ASSERT_EQ(m->result.status, srxconvert::ConvertStatus::Ok) << m->result.message;
        const SrxScene& srx = *m->srx;
        std::vector<AnimatedNode> nodes = BuildNodes(srx);
        AnimationController animation(&nodes);
        auto sources = TriangleMeshes(*m->source);
        ASSERT_EQ(srx.meshes.size(), sources.size());
        for (bool last : {false, true}) {
            animation.Evaluate(last ? 600.0f : 0.0f);
            std::map<std::string, aiMatrix4x4> pose = PoseAtKeys(*m->source, last);
            size_t checked = 0;
            for (size_t i = 0; i < sources.size(); ++i) {
                const SrxMesh& mesh = srx.meshes[i];
                const SrxPrimitive& p = mesh.primitives.at(0);
                for (size_t k = 0; k < p.vertices.size(); k += std::max<size_t>(1, p.vertices.size() / 7)) {
                    int s = SourceVertex(*sources[i].second, p.vertices[k]);
                    ASSERT_GE(s, 0) << "mesh " << i << " vertex " << k;
                    std::optional<D3DXVECTOR3> source =
                        SourcePosition(*sources[i].second, static_cast<unsigned>(s), *sources[i].first, pose, c.scale);
                    if (!source) continue;
                    D3DXVECTOR3 expected = *source;
                    D3DXVECTOR3 actual = EnginePosition(mesh, srx.nodes.at(mesh.node), p.vertices[k], animation);
                    D3DXVECTOR3 error = actual - expected;
                    EXPECT_LT(D3DXVec3Length(&error), 1e-4f * std::max(1.0f, D3DXVec3Length(&expected)))
                        << "mesh " << i << " vertex " << k << (last ? " at the last keys" : " at the first keys")
                        << ": engine (" << actual.x << ", " << actual.y << ", " << actual.z << "), Assimp ("
                        << expected.x << ", " << expected.y << ", " << expected.z << ")";
                    ++checked;
                }
            }
            EXPECT_GE(checked, 7u);
        }
    }
}

// Direct3D 9 under the engine's counter-clockwise culling draws the triangles whose
// (v1 - v0) x (v2 - v0) faces the viewer in its left-handed space. After the engine's
// conversion (z negated, corners i0, i2, i1) that must agree with the vertex normals, or
// the model shows its inside. (The spider's own normals disagree with 4 of its triangles.)
TEST_F(SrxConvertModels, FacesPointOutAfterTheEnginesConversion) {
    for (const ModelCase& c : kCases) {
        SCOPED_TRACE(c.source);
        std::unique_ptr<Converted> m = Convert(c);
        ASSERT_EQ(m->result.status, srxconvert::ConvertStatus::Ok) << m->result.message;
        size_t agree = 0, triangles = 0;
        for (const SrxMesh& mesh : m->srx->meshes)
            for (const SrxPrimitive& p : mesh.primitives)
                for (size_t f = 0; f + 2 < p.indices.size(); f += 3) {
                    auto at = [&](uint16_t i) {
                        const SrxVertex& v = p.vertices.at(i);
                        return std::pair(D3DXVECTOR3(v.position[0], v.position[1], -v.position[2]),
                                         D3DXVECTOR3(v.normal[0], v.normal[1], -v.normal[2]));
                    };
                    auto [a, na] = at(p.indices[f]);
                    auto [b, nb] = at(p.indices[f + 2]);
                    auto [cc, nc] = at(p.indices[f + 1]);
                    D3DXVECTOR3 front, ab = b - a, ac = cc - a, normal = na + nb + nc;
                    D3DXVec3Cross(&front, &ab, &ac);
                    if (D3DXVec3Length(&front) < 1e-12f) continue;
                    ++triangles;
                    agree += D3DXVec3Dot(&front, &normal) > 0.0f ? 1 : 0;
                }
        ASSERT_GT(triangles, 0u);
        EXPECT_GE(static_cast<double>(agree) / triangles, c.facingShare) << agree << " of " << triangles;
    }
}

// Meshes over a primitive's 16-bit counts or a palette's 48 bones: every part within the
// limits, every triangle kept in order on the same source vertices, each vertex's bones
// present in its part.
TEST(SrxConvertSplit, PartsStayWithinTheLimitsAndKeepEveryTriangle) {
    struct Case {
        uint32_t columns, rows, bones;
        srxconvert::SplitLimits limits;
        size_t leastParts;
    };
    // A grid of quads; with bones, column x is weighted to bone x % bones and x / 2 % bones.
    for (Case c : {Case{20, 10, 0, {50, 1000, 48}, 5}, Case{20, 10, 0, {1000, 40, 48}, 10},
                   Case{60, 4, 60, {65535, 65535, 48}, 2}, Case{30, 30, 30, {200, 300, 8}, 4}}) {
        SCOPED_TRACE(testing::Message() << c.columns << " x " << c.rows << ", " << c.bones << " bones");
        std::vector<uint32_t> triangles;
        uint32_t width = c.columns + 1;
        for (uint32_t y = 0; y < c.rows; ++y)
            for (uint32_t x = 0; x < c.columns; ++x) {
                uint32_t v = y * width + x;
                for (uint32_t i : {v, v + 1, v + width + 1, v, v + width + 1, v + width}) triangles.push_back(i);
            }
        size_t vertexCount = static_cast<size_t>(width) * (c.rows + 1);
        std::vector<srxconvert::Influences> influences;
        for (size_t v = 0; v < vertexCount && c.bones; ++v) {
            uint32_t x = static_cast<uint32_t>(v % width);
            influences.push_back(srxconvert::StrongestInfluences({{x % c.bones, 0.5f}, {x / 2 % c.bones, 0.25f}}));
        }
        std::vector<srxconvert::MeshPart> parts =
            srxconvert::SplitMesh(triangles, vertexCount, influences, c.bones, c.limits);
        EXPECT_GE(parts.size(), c.leastParts);
        std::vector<uint32_t> rebuilt;
        for (const srxconvert::MeshPart& part : parts) {
            EXPECT_LE(part.vertices.size(), c.limits.vertices);
            EXPECT_LE(part.indices.size() / 3, c.limits.triangles);
            EXPECT_LE(part.bones.size(), c.limits.bones);
            for (uint16_t i : part.indices) rebuilt.push_back(part.vertices.at(i));
            for (uint32_t v : part.vertices)
                for (uint8_t i = 0; c.bones && i < influences[v].count; ++i)
                    ASSERT_NE(part.boneOfSource.at(influences[v].bones[i]), srxconvert::MeshPart::kNoBone);
        }
        EXPECT_EQ(rebuilt, triangles);
    }
}

TEST(SrxConvertSplit, StrongestFourWeightsRenormalised) {
    struct Case {
        std::vector<std::pair<uint32_t, float>> weights;
        uint8_t count;
        std::vector<uint32_t> bones;
        std::vector<float> normalised;
    };
    for (const Case& c : {Case{{{3, 0.5f}, {1, 0.5f}}, 2, {3, 1}, {0.5f, 0.5f}},
                          Case{{{0, 0.1f}, {1, 0.3f}, {2, 0.05f}, {3, 0.2f}, {4, 0.25f}, {5, 0.1f}},
                               4,
                               {1, 4, 3, 0},
                               {0.3f / 0.85f, 0.25f / 0.85f, 0.2f / 0.85f, 0.1f / 0.85f}},
                          Case{{{7, 2.0f}, {2, 0.0f}, {9, -1.0f}}, 1, {7}, {1.0f}}, Case{{}, 0, {}, {}}}) {
        srxconvert::Influences in = srxconvert::StrongestInfluences(c.weights);
        ASSERT_EQ(in.count, c.count);
        for (uint8_t i = 0; i < in.count; ++i) {
            EXPECT_EQ(in.bones[i], c.bones[i]);
            EXPECT_FLOAT_EQ(in.weights[i], c.normalised[i]);
        }
    }
}

// A strip of quads whose middle lost its weights: each gap vertex takes the influences of
// the nearest weighted one across the triangles; an unconnected vertex keeps none.
TEST(SrxConvertSplit, UnweightedVerticesFollowTheirNearestWeightedNeighbour) {
    // Vertices 0..5 along the bottom, 6..11 along the top; 12 in no triangle.
    std::vector<uint32_t> triangles;
    for (uint32_t x = 0; x < 5; ++x)
        for (uint32_t i : {x, x + 1, x + 7, x, x + 7, x + 6}) triangles.push_back(i);
    std::vector<srxconvert::Influences> influences(13);
    influences[0] = srxconvert::StrongestInfluences({{4, 1.0f}});
    influences[11] = srxconvert::StrongestInfluences({{9, 0.5f}, {2, 0.5f}});
    EXPECT_EQ(srxconvert::BorrowNeighbourInfluences(triangles, influences), 10u);
    for (uint32_t v : {1u, 6u, 7u}) EXPECT_EQ(influences[v].bones[0], 4u) << v;
    for (uint32_t v : {4u, 5u, 10u}) EXPECT_EQ(influences[v].bones[0], 9u) << v;
    EXPECT_EQ(influences[12].count, 0);
}

// A real file past 65535 vertices: an OBJ grid of 300 x 240 quads with their own corners.
TEST_F(SrxConvertModels, MeshPastSixteenBitCountsIsSplit) {
    std::ofstream obj("grid.obj");
    constexpr int kColumns = 300, kRows = 240;
    for (int y = 0; y <= kRows; ++y)
        for (int x = 0; x <= kColumns; ++x) obj << "v " << x << " " << y << " " << ((x * y) % 7) << "\n";
    for (int y = 0; y < kRows; ++y)
        for (int x = 0; x < kColumns; ++x) {
            int v = y * (kColumns + 1) + x + 1;
            obj << "f " << v << " " << v + 1 << " " << v + kColumns + 2 << " " << v + kColumns + 1 << "\n";
        }
    obj.close();
    srxconvert::ConvertReport report;
    srxconvert::ConvertResult result = srxconvert::ConvertFile("grid.obj", "grid.srx", {}, report);
    ASSERT_EQ(result.status, srxconvert::ConvertStatus::Ok) << result.message;
    std::string bytes = ReadFileBytes("grid.srx");
    SrxScene srx(bytes.data(), bytes.size(), MissingPrimitive::EndImport);
    ASSERT_GE(srx.meshes.size(), 2u);
    size_t triangles = 0;
    for (const SrxMesh& mesh : srx.meshes)
        for (const SrxPrimitive& p : mesh.primitives) {
            EXPECT_EQ(p.vertices.size(), p.vertexCount);
            triangles += p.faceCount;
        }
    EXPECT_EQ(triangles, 2u * kColumns * kRows);
    EXPECT_EQ(report.splitSources, 1u);
}

// The command line: usage errors, files Assimp cannot read, scenes with nothing to draw.
TEST_F(SrxConvertModels, ExitStatusesAndMessages) {
    lumaret::test::WriteFileBytes("garbage.xyz", "these bytes are no model\n");
    lumaret::test::WriteFileBytes("empty.obj", "# nothing but a comment\n");
    lumaret::test::WriteFileBytes("lines.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nl 1 2\nl 2 3\n");
    std::string anim = kModels + "X/anim_test.x";
    struct Case {
        std::string arguments;
        int status;
        const char* says;
    };
    for (const Case& c : {Case{"--help", 0, "usage: srxconvert"}, Case{"", 1, "needs an input model and an output"},
                          Case{anim + " a.srx --scale -2", 1, "--scale needs a positive number"},
                          Case{anim + " a.srx --ticks-per-second", 1, "--ticks-per-second needs a positive number"},
                          Case{anim + " a.srx --animation 1", 1, "the scene has 1 animations"},
                          Case{anim + " a.srx --bogus", 1, "unknown option --bogus"},
                          Case{"missing.obj a.srx", 2, "cannot read missing.obj: no such file"},
                          Case{"garbage.xyz a.srx", 2, "cannot read garbage.xyz"},
                          Case{anim + " garbage.xyz/a.srx", 2,
                               "cannot create the directory garbage.xyz: it is not a directory"},
                          Case{anim + " garbage.xyz/sub/a.srx", 2,
                               "cannot create the directory garbage.xyz/sub: Not a directory"},
                          Case{anim + " new/dir/a.srx", 0, "-> new/dir/a.srx"},
                          Case{"empty.obj a.srx", 3, "nothing to convert in empty.obj"},
                          Case{"lines.obj a.srx", 0, "lines: 2, points: 0 (drawn unlit)"},
                          Case{anim + " a.srx --ticks-per-second 240 --animation 0", 0, "on ticks 0..240"}}) {
        lumaret::test::ToolRun run = RunTool("tools/srxconvert/srxconvert", c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments << ": " << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << c.arguments << ": " << run.output;
    }
}

namespace {

std::string Base64(const std::string& bytes) {
    static const char* kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t n = static_cast<uint8_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) n |= static_cast<uint8_t>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) n |= static_cast<uint8_t>(bytes[i + 2]);
        size_t present = std::min<size_t>(3, bytes.size() - i);
        for (size_t k = 0; k < 4; ++k) out += k <= present ? kDigits[(n >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

// A glTF of two triangles (a quad) with the given positions and node scale; the buffer is
// embedded, so the file stands alone.
std::string QuadGltf(const std::vector<float>& positions, const std::string& nodeScale) {
    std::string bytes(reinterpret_cast<const char*>(positions.data()), positions.size() * sizeof(float));
    std::string count = std::to_string(positions.size() / 3);
    return R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],
"nodes":[{"mesh":0,"scale":[)" +
           nodeScale + R"(]}],"meshes":[{"primitives":[{"attributes":{"POSITION":0}}]}],
"buffers":[{"byteLength":)" +
           std::to_string(bytes.size()) + R"(,"uri":"data:application/octet-stream;base64,)" + Base64(bytes) +
           R"("}],"bufferViews":[{"buffer":0,"byteLength":)" + std::to_string(bytes.size()) +
           R"(}],"accessors":[{"bufferView":0,"componentType":5126,"count":)" + count +
           R"(,"type":"VEC3","min":[0,0,0],"max":[1,1,0]}]})";
}

// Every number of the SRX scene that the engine reads as a float.
bool AllFinite(const SrxScene& srx) {
    auto finite = [](const float* values, size_t n) {
        return std::all_of(values, values + n, [](float v) { return std::isfinite(v); });
    };
    for (const SrxNode& node : srx.nodes) {
        if (!finite(node.matrix, 16)) return false;
        for (const SrxTrack& track : node.tracks)
            for (const SrxKey& key : track.keys)
                if (!finite(key.values, std::size(key.values))) return false;
    }
    for (const SrxMesh& mesh : srx.meshes) {
        for (const auto& m : mesh.boneMatrices)
            if (!finite(m.data(), m.size())) return false;
        for (const SrxPrimitive& p : mesh.primitives)
            for (const SrxVertex& v : p.vertices)
                if (!finite(v.position, 3) || !finite(v.normal, 3) || !finite(v.uv0, 2) || !finite(v.uv1, 2) ||
                    !finite(v.weights, 4))
                    return false;
    }
    return true;
}

}  // namespace

// Numbers that are not finite never reach the file: triangles on such vertices are dropped
// with a counted warning (and normals come from the good ones), matrices that overflow drop
// what hangs on them, and a scene left with nothing to draw is refused.
TEST_F(SrxConvertModels, NonFiniteNumbersAreDroppedOrRefused) {
    std::string cube =
        "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\n"
        "f 1 4 3 2\nf 5 6 7 8\nf 1 2 6 5\nf 2 3 7 6\nf 3 4 8 7\nf 4 1 5 8\n";
    lumaret::test::WriteFileBytes("cube.obj", cube);
    lumaret::test::WriteFileBytes("nan.obj", cube + "v nan 0 0\nf 1 2 9\n");
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> quad = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 0, 0, 1, 1, 0, 0, 1, 0};
    std::vector<float> oneInfinite = quad;
    oneInfinite[4] = inf;
    lumaret::test::WriteFileBytes("half.gltf", QuadGltf(oneInfinite, "1,1,1"));
    lumaret::test::WriteFileBytes("infinite.gltf", QuadGltf(std::vector<float>(quad.size(), inf), "1,1,1"));
    lumaret::test::WriteFileBytes("overflow.gltf", QuadGltf(quad, "1e39,1,1"));
    struct Case {
        std::string arguments;
        int status;
        const char* says;
        size_t triangles;  // written, when converted
    };
    for (const Case& c :
         {Case{"nan.obj nan.srx", 0, "warning: 1 triangles dropped: their vertices are not finite", 12},
          Case{"half.gltf half.srx", 0, "warning: 1 triangles dropped", 1},
          Case{"infinite.gltf infinite.srx", 3, "2 triangles dropped", 0},
          // Assimp's own sample: a box whose every vertex is infinite.
          Case{kModels + "glTF2/BoxWithInfinites-glTF-Binary/BoxWithInfinites.glb box.srx", 3,
               "12 triangles dropped: their vertices are not finite", 0},
          Case{"overflow.gltf overflow.srx", 3, "not finite", 0},
          Case{"cube.obj big.srx --scale 1e40", 1, "--scale needs a positive number a float holds", 0}}) {
        SCOPED_TRACE(c.arguments);
        lumaret::test::ToolRun run = RunTool("tools/srxconvert/srxconvert", c.arguments);
        EXPECT_EQ(run.status, c.status) << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
        std::string output = c.arguments.substr(c.arguments.find(' ') + 1);
        output = output.substr(0, output.find(' '));
        std::string bytes = ReadFileBytes(output);
        if (c.status != 0) {
            EXPECT_FALSE(fs::exists(output)) << "a refused conversion leaves " << output;
            continue;
        }
        SrxScene srx(bytes.data(), bytes.size(), MissingPrimitive::EndImport);
        ASSERT_TRUE(srx.importError.empty()) << srx.importError;
        EXPECT_TRUE(AllFinite(srx));
        size_t triangles = 0;
        for (const SrxMesh& mesh : srx.meshes)
            for (const SrxPrimitive& p : mesh.primitives) {
                triangles += p.faceCount;
                for (const SrxVertex& v : p.vertices) {
                    if (p.streamFlags & srx::StreamNormals) {
                        EXPECT_NEAR(std::hypot(v.normal[0], v.normal[1], v.normal[2]), 1.0, 1e-3);
                    }
                }
            }
        EXPECT_EQ(triangles, c.triangles);
    }
}

namespace {

// What a directory holds, by name: a regular file's bytes, else what kind of entry it is.
std::map<std::string, std::string> Snapshot(const std::string& directory) {
    std::map<std::string, std::string> entries;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
        fs::file_status status = fs::symlink_status(entry.path());
        std::string& what = entries[entry.path().filename().string()];
        if (fs::is_symlink(status))
            what = "link to " + fs::read_symlink(entry.path()).string();
        else if (fs::is_regular_file(status))
            what = ReadFileBytes(entry.path().string());
        else
            what = "kind " + std::to_string(static_cast<int>(status.type()));
    }
    return entries;
}

}  // namespace

// Conversions that cannot finish leave nothing behind and say so: an output that is the
// input or its material library, a file-size limit hit while writing (as a full disk
// would), and a material library that is a FIFO (which would block the read for ever).
// An output set that cannot all be written leaves every old output as it was: an SRX
// path that is a directory, a FIFO or a link to a device, or that is also one of the
// images (by name or by a hard link), is refused before any image is replaced.
TEST_F(SrxConvertModels, FailuresLeaveNoFilesAndNeverHang) {
    fs::copy_file(kModels + "OBJ/spider.obj", "spider.obj");
    for (const char* image :
         {"wal67ar_small.jpg", "wal69ar_small.jpg", "SpiderTex.jpg", "drkwood2.jpg", "engineflare1.jpg", "spider.mtl"})
        fs::copy_file(kModels + "OBJ/" + image, image);
    std::string before = ReadFileBytes("spider.obj");
    fs::create_hard_link("spider.obj", "linked.obj");
    fs::create_directory("limited");
    ASSERT_EQ(mkfifo("fifo.mtl", 0600), 0);
    lumaret::test::WriteFileBytes("fifo.obj", "mtllib fifo.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    const std::string tool = lumaret::test::BuildDir() + "/tools/srxconvert/srxconvert ";
    struct Case {
        std::string command;
        int status;
        const char* says;
        const char* leavesNothingIn;  // a directory that must stay empty, or null
        bool keepsOld = false;        // old/ must hold what it held before
    };
    fs::create_directory("old");
    for (const char* image :
         {"wal67ar_small.jpg", "wal69ar_small.jpg", "spidertex.jpg", "drkwood2.jpg", "engineflare1.jpg"})
        lumaret::test::WriteFileBytes(std::string("old/") + image, std::string("old ") + image);
    fs::create_directory("old/dir.srx");
    ASSERT_EQ(mkfifo("old/fifo.srx", 0600), 0);
    fs::create_symlink("/dev/null", "old/null.srx");
    fs::create_hard_link("old/drkwood2.jpg", "old/linked.srx");
    const std::map<std::string, std::string> old = Snapshot("old");
    for (const Case& c :
         {Case{tool + "spider.obj spider.obj", 1, "is a file the model is read from", nullptr},
          Case{tool + "spider.obj ./linked.obj", 1, "is a file the model is read from", nullptr},
          Case{tool + "spider.obj spider.mtl", 1, "spider.mtl is a file the model is read from", nullptr},
          // 512-byte blocks: the SRX file and the images are larger.
          Case{"ulimit -f 4; " + tool + "spider.obj limited/spider.srx", 2, "cannot write limited/", "limited"},
          Case{"timeout 60 " + tool + "fifo.obj fifo.srx", 0, "warning: fifo.mtl is not a regular file", nullptr},
          Case{tool + "spider.obj old/dir.srx", 2, "cannot write old/dir.srx: is a directory", nullptr, true},
          Case{"timeout 60 " + tool + "spider.obj old/fifo.srx", 2, "old/fifo.srx: is not a regular file", nullptr,
               true},
          Case{tool + "spider.obj old/null.srx", 2, "old/null.srx: is not a regular file", nullptr, true},
          Case{tool + "spider.obj old/drkwood2.jpg", 2, "image of that name is written there too", nullptr, true},
          Case{tool + "spider.obj old/linked.srx", 2, "is the same file as old/drkwood2.jpg", nullptr, true}}) {
        SCOPED_TRACE(c.command);
        lumaret::test::ToolRun run = lumaret::test::RunCommand(c.command);
        EXPECT_EQ(run.status, c.status) << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
        if (c.leavesNothingIn) {
            for (const fs::directory_entry& entry : fs::directory_iterator(c.leavesNothingIn))
                ADD_FAILURE() << "left behind: " << entry.path();
        }
        if (c.keepsOld) {
            EXPECT_TRUE(Snapshot("old") == old) << "an old output was replaced";
        }
    }
    // A link planted at the temporary name (the writer's process id is known to whoever
    // starts it) is never followed: its target keeps its bytes and the output is written.
    lumaret::test::WriteFileBytes("victim", "not to be overwritten");
    fs::create_directory("planted");
    lumaret::test::ToolRun planted = lumaret::test::RunCommand(
        "sh -c 'ln -s ../victim planted/spider.srx.partial$$ && ln -s ../victim planted/drkwood2.jpg.partial$$ && "
        "exec " + tool + "spider.obj planted/spider.srx'");
    EXPECT_EQ(planted.status, 0) << planted.output;
    EXPECT_EQ(ReadFileBytes("victim"), "not to be overwritten");
    EXPECT_GT(ReadFileBytes("planted/spider.srx").size(), 1000u);
    EXPECT_EQ(ReadFileBytes("planted/drkwood2.jpg"), ReadFileBytes("drkwood2.jpg"));
#if !defined(LUMARET_TEST_SANITIZED)
    // Memory that runs out (here a PLY point cloud that declares four billion vertices,
    // which Assimp's reader allocates up front, under a limit of 3 GB) is a message and exit
    // 2, not an abort, in both tools: the address sanitizer's shadow memory cannot live under
    // such a limit.
    lumaret::test::WriteFileBytes("big.ply",
                                  "ply\nformat ascii 1.0\nelement vertex 4000000000\nproperty float x\n"
                                  "property float y\nproperty float z\nend_header\n0 0 0\n1 0 0\n0 1 0\n");
    lumaret::test::ToolRun big = lumaret::test::RunCommand("ulimit -v 3000000; timeout 60 " + tool + "big.ply big.srx");
    EXPECT_EQ(big.status, 2) << big.output;
    EXPECT_NE(big.output.find("cannot read big.ply: out of memory"), std::string::npos) << big.output;
    EXPECT_FALSE(fs::exists("big.srx"));
    // The viewer's import child meets the same limit, and the viewer says so.
    lumaret::test::ToolRun shown = lumaret::test::RunCommand(
        "ulimit -v 3000000; timeout 60 " + lumaret::test::BuildDir() + "/tools/viewer/viewer --screenshot big.png big.ply");
    EXPECT_EQ(shown.status, 2) << shown.output;
    EXPECT_NE(shown.output.find("viewer: cannot read big.ply: out of memory"), std::string::npos) << shown.output;
#endif
    EXPECT_TRUE(ReadFileBytes("spider.obj") == before) << "the input was changed";
    EXPECT_TRUE(ReadFileBytes("spider.mtl") == ReadFileBytes(kModels + "OBJ/spider.mtl")) << "the .mtl was changed";
}

namespace {

// A glTF of one triangle under a chain of depth nodes, its buffer at bufferUri.
std::string ChainGltf(size_t depth, const std::string& bufferUri) {
    std::string nodes;
    for (size_t i = 0; i + 1 < depth; ++i) nodes += R"({"children":[)" + std::to_string(i + 1) + "]},";
    return R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":[)" + nodes +
           R"({"mesh":0}],"meshes":[{"primitives":[{"attributes":{"POSITION":0}}]}],
"buffers":[{"byteLength":36,"uri":")" +
           bufferUri + R"("}],"bufferViews":[{"buffer":0,"byteLength":36}],
"accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3","min":[0,0,0],"max":[1,1,0]}]})";
}

// A chain whose every node lists its child twice, so that the importer's copy of it holds
// 2^depth - 1 nodes; key spells "children" as the file should (escapes included).
std::string SharedGltf(size_t depth, const std::string& key) {
    std::string chain = ChainGltf(depth, "model/triangle.bin");
    for (size_t i = 1; i < depth; ++i) {
        std::string one = R"({"children":[)" + std::to_string(i) + "]}";
        chain.replace(chain.find(one), one.size(), "{\"" + key + "\":[" + std::to_string(i) + "," + std::to_string(i) + "]}");
    }
    return chain;
}

// Collada nodes nested depth levels, or, with instances, a library of depth nodes each
// naming the next one twice through <instance_node>.
std::string NestedCollada(size_t depth, bool instances) {
    std::string nodes;
    for (size_t i = 0; i < depth; ++i) {
        std::string next = "#n" + std::to_string(i + 1);
        nodes += "<node id=\"n" + std::to_string(i) + "\">";
        if (instances) {
            if (i + 1 < depth) nodes += "<instance_node url=\"" + next + "\"/><instance_node url=\"" + next + "\"/>";
            nodes += "</node>";
        }
    }
    if (!instances) for (size_t i = 0; i < depth; ++i) nodes += "</node>";
    std::string scene = instances ? R"(<node id="root"><instance_node url="#n0"/></node>)" : nodes;
    return R"(<?xml version="1.0"?><COLLADA xmlns="http://www.collada.org/2005/11/COLLADASchema" version="1.4.1">)" +
           (instances ? "<library_nodes>" + nodes + "</library_nodes>" : std::string()) +
           R"(<library_visual_scenes><visual_scene id="s">)" + scene +
           R"(</visual_scene></library_visual_scenes><scene><instance_visual_scene url="#s"/></scene></COLLADA>)";
}

}  // namespace

// A link flipped between a file in the model's folder and one outside it while the model's
// files are read: however the flips fall between the check and the open, the outside
// bytes are never what is read.
TEST_F(SrxConvertModels, ALinkSwappedInAfterTheCheckNeverLeadsOutside) {
    fs::create_directory("model");
    lumaret::test::WriteFileBytes("model/inside.bin", "inside");
    lumaret::test::WriteFileBytes("outside.bin", "outside");
    srxconvert::ModelFileAccess access;
    access.Allow("model/model.gltf", {});
    std::atomic<bool> stop{false};
    std::thread flipper([&] {
        for (bool out = false; !stop; out = !out) {
            fs::remove("model/next");
            fs::create_symlink(out ? "../outside.bin" : "inside.bin", "model/next");
            fs::rename("model/next", "model/swapped.bin");
        }
    });
    int inside = 0;
    for (int i = 0; i < 4000; ++i) {
        std::vector<uint8_t> bytes;
        std::string why;
        if (!access.Read("model/swapped.bin", bytes, why)) continue;
        ASSERT_EQ(std::string(bytes.begin(), bytes.end()), "inside") << "read " << i;
        ++inside;
    }
    stop = true;
    flipper.join();
    EXPECT_GT(inside, 0);
}

// Whatever ends the import's process, a crash inside a reader or a file that takes longer
// than it is given, is that model's error for srxconvert and the viewer alike: one line
// saying how, exit status 2, nothing written.
TEST_F(SrxConvertModels, AnImportThatCrashesOrRunsOnIsTheModelsError) {
    // Tens of thousands of objects: seconds of Assimp's time, under the pre-scan's count.
    std::string slow = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
    for (int i = 0; i < 60000; ++i) slow += "o a" + std::to_string(i) + "\nf 1 2 3\n";
    lumaret::test::WriteFileBytes("slow.obj", slow);
    const std::string tool = lumaret::test::BuildDir() + "/tools/srxconvert/srxconvert";
    const std::string viewer = lumaret::test::BuildDir() + "/tools/viewer/viewer";
    struct Case {
        std::string command;
        const char* says;
    };
    // The viewer's import child is the one child of the viewer named so (its launcher and
    // its shader helper are others); it is struck as soon as it runs.
    const std::string strikeImport =
        "for i in $(seq 300); do pkill -SEGV -P $! -x viewer-import && break; sleep 0.05; done; wait $!";
    for (const Case& c : {Case{tool + " --time-limit 1 slow.obj slow.srx",
                               "cannot read slow.obj: its import took more than 1 s of processing"},
                          // A sanitizer build's child reports the fault and aborts instead.
                          Case{"(" + tool + " slow.obj slow.srx & sleep 0.5; pkill -SEGV -P $!; wait $!)",
                               "cannot read slow.obj: its import ended on signal SIG"},
                          Case{"(" + viewer + " --screenshot slow.png slow.obj & " + strikeImport + ")",
                               "viewer: cannot read slow.obj: its import ended on signal SIG"}}) {
        lumaret::test::ToolRun run = lumaret::test::RunCommand("timeout 60 bash -c '" + c.command + "'");
        EXPECT_EQ(run.status, 2) << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
        EXPECT_FALSE(fs::exists("slow.srx"));
        EXPECT_FALSE(fs::exists("slow.png"));
    }
}

// Files made to hurt, through srxconvert and the viewer: references out of the model's
// folder (by .., an absolute path, a link) are refused and named, unless --root takes them
// in; hierarchies deeper than the import stack holds are refused before they are read,
// ones just within it convert; what is no regular file or too large is named as such.
// Nothing is written for a refusal.
TEST_F(SrxConvertModels, HostileFilesAreRefusedByName) {
    std::vector<float> triangle = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    fs::create_directories("model/sub");
    lumaret::test::WriteFileBytes("model/triangle.bin", std::string(reinterpret_cast<const char*>(triangle.data()), 36));
    lumaret::test::WriteFileBytes("model/up.gltf", ChainGltf(1, "../../../../../../../../etc/passwd"));
    lumaret::test::WriteFileBytes("model/absolute.gltf", ChainGltf(1, "/etc/passwd"));
    fs::create_symlink("/etc/passwd", "model/link.bin");
    lumaret::test::WriteFileBytes("model/link.gltf", ChainGltf(1, "link.bin"));
    lumaret::test::WriteFileBytes("model/inside.gltf", ChainGltf(1, "triangle.bin"));
    lumaret::test::WriteFileBytes("model/dot.gltf", ChainGltf(1, "."));
    lumaret::test::WriteFileBytes("model/sub/parent.gltf", ChainGltf(1, "../triangle.bin"));
    fs::copy_file(kModels + "OBJ/SpiderTex.jpg", "outside.jpg");
    lumaret::test::WriteFileBytes("model/image.obj", "mtllib image.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\n"
                                                     "vt 0 1\nusemtl a\nf 1/1 2/2 3/3\n");
    lumaret::test::WriteFileBytes("model/image.mtl", "newmtl a\nmap_Kd ../outside.jpg\n");
    // A JPEG cut short: its header reads, its pixels do not, and the engine would stop on it.
    std::ifstream jpeg(kModels + "OBJ/SpiderTex.jpg", std::ios::binary);
    std::string cut(3000, '\0');
    jpeg.read(cut.data(), 3000);
    lumaret::test::WriteFileBytes("model/cut.jpg", cut);
    lumaret::test::WriteFileBytes("model/cut.obj", "mtllib cut.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\n"
                                                   "vt 0 1\nusemtl a\nf 1/1 2/2 3/3\n");
    lumaret::test::WriteFileBytes("model/cut.mtl", "newmtl a\nmap_Kd cut.jpg\n");
    lumaret::test::WriteFileBytes("deepest.gltf", ChainGltf(srxconvert::kMaxNodeDepth, "model/triangle.bin"));
    lumaret::test::WriteFileBytes("deeper.gltf", ChainGltf(srxconvert::kMaxNodeDepth + 1, "model/triangle.bin"));
    std::string loop = ChainGltf(2, "model/triangle.bin");
    loop.replace(loop.find(R"({"mesh":0})"), 10, R"({"mesh":0,"children":[0]})");
    lumaret::test::WriteFileBytes("loop.gltf", loop);
    lumaret::test::WriteFileBytes("nested.gltf", R"({"asset":{"version":"2.0"},"extras":)" + std::string(300, '[') +
                                                     std::string(300, ']') + "}");
    // Shared subtrees that a kilobyte expands to millions of nodes, however the keys are
    // spelled and whatever the file is called; a chain that fits expands as it should.
    lumaret::test::WriteFileBytes("shared.gltf", SharedGltf(28, "children"));
    lumaret::test::WriteFileBytes("escaped.gltf", SharedGltf(28, "child\\u0072en"));
    lumaret::test::WriteFileBytes("renamed.model", SharedGltf(28, "children"));
    lumaret::test::WriteFileBytes("fitting.gltf", SharedGltf(15, "children"));
    lumaret::test::WriteFileBytes("instances.dae", NestedCollada(28, true));
    lumaret::test::WriteFileBytes("deep.dae", NestedCollada(srxconvert::kMaxXmlDepth, false));
    // OBJ counts Assimp pays dearly for and the SRX file could never hold.
    std::string objects = "v 0 0 0\nv 1 0 0\nv 0 1 0\n", materials = objects;
    // Over a megabyte, so that the scan's pieces cut a line: one object past the limit.
    for (size_t i = 0; i <= srxconvert::kMaxObjObjects; ++i) objects += "o object\nf 1 2 3\n";
    for (size_t i = 0; i <= srxconvert::kMaxObjMaterialNames; ++i)
        materials += "usemtl m" + std::to_string(i) + "\nf 1 2 3\n";
    // A binary glTF whose first chunk claims four gigabytes: Assimp would reserve them.
    lumaret::test::WriteFileBytes("lying.glb", std::string("glTF\x02\0\0\0\xff\xff\xff\xff\xf0\xff\xff\xffJSON{}", 22));
    lumaret::test::WriteFileBytes("objects.obj", objects);
    lumaret::test::WriteFileBytes("objects.model", objects);
    lumaret::test::WriteFileBytes("materials.obj", materials);
    fs::create_directory("folder.gltf");
    ASSERT_EQ(mkfifo("pipe.obj", 0600), 0);
    // A PLY header that never ends: Assimp's reader would look for its end until stopped.
    lumaret::test::WriteFileBytes("endless.ply", "ply\nformat ascii 1.0\nelement vertex 8\nproperty float x\n");
    // A mesh whose header claims more than its body holds: refused before the arrays.
    lumaret::test::WriteFileBytes("lying.ply", "ply\nformat ascii 1.0\nelement vertex 4000000000\nproperty float x\n"
                                               "element face 1\nproperty list uchar int vertex_indices\nend_header\n"
                                               "0\n1\n2\n3 0 1 2\n");
    lumaret::test::WriteFileBytes("huge.ply", "ply\n");
    fs::resize_file("huge.ply", 600u << 20);  // sparse: a gigabyte of zeros takes no disk
    struct Case {
        std::string arguments;  // input and output first
        int status;
        const char* says;
    };
    for (const Case& c :
         {Case{"model/up.gltf up.srx", 2, "refused 'model/../../../../../../../../etc/passwd': it lies outside"},
          Case{"model/absolute.gltf absolute.srx", 2, "/etc/passwd"},
          Case{"model/link.gltf link.srx", 2, "refused 'model/link.bin': it lies outside the model's folder"},
          Case{"model/inside.gltf inside.srx", 0, "triangles: 1"},
          Case{"model/dot.gltf dot.srx", 2, ". is a directory"},
          Case{"model/sub/parent.gltf parent.srx", 2, "refused 'model/sub/../triangle.bin'"},
          Case{"model/sub/parent.gltf parent.srx --root model", 0, "triangles: 1"},
          Case{"model/image.obj image.srx", 0, "image refused 'model/../outside.jpg'"},
          Case{"model/image.obj image.srx --root .", 0, "images: 1 outside.jpg"},
          Case{"model/cut.obj cut.srx", 0, "image model/cut.jpg: the engine cannot decode it"},
          Case{"deepest.gltf deepest.srx", 0, "triangles: 1"},
          Case{"deeper.gltf deeper.srx", 2, "its nodes nest deeper than 30000 levels"},
          Case{"loop.gltf loop.srx", 2, "its nodes hold themselves"},
          Case{"nested.gltf nested.srx", 2, "its JSON nests deeper than 256 levels"},
          Case{"shared.gltf shared.srx", 2, "its nodes expand to more than 262144"},
          Case{"escaped.gltf escaped.srx", 2, "its nodes expand to more than 262144"},
          Case{"renamed.model renamed.srx", 2, "its nodes expand to more than 262144"},
          Case{"fitting.gltf fitting.srx", 0, "nodes: 3276"},
          Case{"instances.dae instances.srx", 2, "its nodes expand to more than 262144"},
          Case{"deep.dae deep.srx", 2, "its XML nests deeper than 30256 levels"},
          Case{"lying.glb lying.srx", 2, "its binary glTF header claims a first chunk of 4294967280 bytes"},
          Case{"objects.obj objects.srx", 2, "it names more than 65535 objects"},
          Case{"objects.model objects.srx", 2, "it names more than 65535 objects"},
          Case{"materials.obj materials.srx", 2, "it names more than 256 materials"},
          Case{"endless.ply endless.srx", 2, "its PLY header has no end_header line"},
          Case{"lying.ply lying.srx", 2, "declares 4000000000 'vertex' elements, more than its 14 bytes"},
          Case{"folder.gltf folder.srx", 2, "cannot read folder.gltf: is a directory"},
          Case{"pipe.obj pipe.srx", 2, "cannot read pipe.obj: is not a regular file"},
          Case{"/dev/zero zero.srx", 2, "cannot read /dev/zero: is not a regular file"},
          Case{"huge.ply huge.srx", 2, "cannot read huge.ply: is 629145600 bytes, over the limit of 512 MiB"}}) {
        SCOPED_TRACE(c.arguments);
        lumaret::test::ToolRun run =
            lumaret::test::RunCommand("timeout 120 " + lumaret::test::BuildDir() + "/tools/srxconvert/srxconvert " +
                                      c.arguments);
        EXPECT_EQ(run.status, c.status) << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
        std::string output = c.arguments.substr(c.arguments.find(' ') + 1);
        std::string options = output.find(' ') == std::string::npos ? "" : output.substr(output.find(' ') + 1);
        output = output.substr(0, output.find(' '));
        EXPECT_EQ(fs::exists(output), c.status == 0);
        if (c.status != 2) continue;
        // The viewer refuses it alike: its import child reads through the same checks.
        lumaret::test::ToolRun shown = lumaret::test::RunCommand(
            "timeout 120 " + lumaret::test::BuildDir() + "/tools/viewer/viewer --screenshot refused.png " + options +
            " " + c.arguments.substr(0, c.arguments.find(' ')));
        EXPECT_EQ(shown.status, 2) << shown.output;
        EXPECT_NE(shown.output.find(c.says), std::string::npos) << shown.output;
        EXPECT_FALSE(fs::exists("refused.png"));
    }
}
