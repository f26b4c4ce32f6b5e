// The tools' own PLY and ASCII STL readers: small files made here (binary both ways round,
// ascii, with and without normals, colours and texture coordinates, polygons, broken ones)
// with what each must give, and Debian's test models read as Assimp's readers read them.
#include "ModelSource.h"
#include "PlyReader.h"
#include "StlReader.h"
#include "support/TempDir.h"

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using srxconvert::OwnRead;

// A PLY body value by value, in either byte order.
struct Body {
    bool big = false;
    std::string bytes;
    template <class T>
    Body& Put(T value) {
        char raw[sizeof(T)];
        std::memcpy(raw, &value, sizeof raw);
        if (big) std::reverse(raw, raw + sizeof raw);
        bytes.append(raw, sizeof raw);
        return *this;
    }
};

// A unit square in the z = 0 plane as one quad, with normals and colours, in either order.
std::string BinarySquare(bool big) {
    std::string text = std::string("ply\nformat binary_") + (big ? "big" : "little") +
                       "_endian 1.0\ncomment made for a test\nelement vertex 4\nproperty float x\nproperty float y\n"
                       "property float z\nproperty float nx\nproperty float ny\nproperty float nz\n"
                       "property uchar red\nproperty uchar green\nproperty uchar blue\nproperty short extra\n"
                       "element face 1\nproperty uchar flags\nproperty list uchar uint vertex_indices\n"
                       "end_header\n";
    Body body{big, {}};
    const float corners[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (const auto& c : corners)
        body.Put(c[0]).Put(c[1]).Put(0.0f).Put(0.0f).Put(0.0f).Put(1.0f).Put<uint8_t>(255).Put<uint8_t>(51).Put<uint8_t>(0).Put<int16_t>(-7);
    body.Put<uint8_t>(9).Put<uint8_t>(4).Put<uint32_t>(0).Put<uint32_t>(1).Put<uint32_t>(2).Put<uint32_t>(3);
    return text + body.bytes;
}

struct ReaderCase {
    const char* name;
    std::function<OwnRead(FILE*, uint64_t, srxconvert::OwnScene&, std::string&)> read;
    std::string file;
    OwnRead result;
    unsigned meshes = 0, vertices = 0, triangles = 0;  // of the last mesh
    const char* says = "";                              // part of the error
    std::function<void(const aiScene&)> check = {};
};

OwnRead Read(const ReaderCase& c, srxconvert::OwnScene& scene, std::string& error) {
    std::string bytes = c.file;
    FILE* file = fmemopen(bytes.data(), bytes.size(), "rb");
    EXPECT_NE(file, nullptr);
    OwnRead result = c.read(file, bytes.size(), scene, error);
    std::fclose(file);
    return result;
}

TEST(OwnReaders, GiveWhatTheFileHoldsOrSayWhy) {
    const auto ply = srxconvert::ReadPly;
    const auto stl = srxconvert::ReadAsciiStl;
    const std::string asciiHead = "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
                                  "property float z\n";
    const std::string triangleFace = "element face 1\nproperty list uchar int vertex_indices\nend_header\n";
    auto square = [](const aiScene& scene) {
        const aiMesh& mesh = *scene.mMeshes[0];
        ASSERT_NE(mesh.mNormals, nullptr);
        ASSERT_NE(mesh.mColors[0], nullptr);
        EXPECT_EQ(mesh.mVertices[2], aiVector3D(1, 1, 0));
        EXPECT_EQ(mesh.mNormals[3], aiVector3D(0, 0, 1));
        EXPECT_EQ(mesh.mColors[0][1], aiColor4D(1.0f, 51 / 255.0f, 0.0f, 1.0f));
        // Fanned from the first corner, as Assimp triangulates a convex quad.
        const unsigned expected[2][3] = {{0, 1, 2}, {0, 2, 3}};
        for (unsigned f = 0; f < 2; ++f)
            EXPECT_TRUE(std::equal(expected[f], expected[f] + 3, mesh.mFaces[f].mIndices)) << "face " << f;
        EXPECT_EQ(scene.mNumMaterials, 1u);
    };
    std::string lying = BinarySquare(false);
    lying.replace(lying.find("vertex 4"), 8, "vertex 4000000000");
    std::string cut = BinarySquare(true);
    cut.resize(cut.size() - 5);
    const std::string facet = " facet normal 0 0 1\n  outer loop\n   vertex 0 0 0\n   vertex 1 0 0\n   vertex 0 1 0\n"
                              "  endloop\n endfacet\n";
    const ReaderCase cases[] = {
        {"binary little-endian", ply, BinarySquare(false), OwnRead::Read, 1, 4, 2, "", square},
        {"binary big-endian", ply, BinarySquare(true), OwnRead::Read, 1, 4, 2, "", square},
        // Texture coordinates by Blender's names, an element before the vertices and a
        // property between them passed over, a quad and a triangle.
        {"ascii with uv", ply,
         "ply\nformat ascii 1.0\nelement note 2\nproperty list uchar float words\nelement vertex 5\n"
         "property float x\nproperty float y\nproperty float z\nproperty int id\nproperty float s\nproperty float t\n"
         "element face 2\nproperty list uchar int vertex_index\nend_header\n"
         "2 1.5 2.5\n0\n0 0 0 7 0 0\n1 0 0 7 1 0\n1 1 0 7 1 1\n0.5 2 0 7 0.5 1.5\n0 1 0 7 0 1\n4 0 1 2 4\n3 2 3 4\n",
         OwnRead::Read, 1, 5, 3, "",
         [](const aiScene& scene) {
             const aiMesh& mesh = *scene.mMeshes[0];
             ASSERT_NE(mesh.mTextureCoords[0], nullptr);
             EXPECT_EQ(mesh.mNumUVComponents[0], 2u);
             EXPECT_EQ(mesh.mTextureCoords[0][3], aiVector3D(0.5f, 1.5f, 0));
             EXPECT_EQ(mesh.mNormals, nullptr);
             EXPECT_EQ(mesh.mColors[0], nullptr);
             EXPECT_EQ(mesh.mFaces[2].mIndices[2], 4u);
         }},
        {"float colours with alpha", ply,
         asciiHead + "property float red\nproperty float green\nproperty float blue\nproperty float alpha\n" +
             triangleFace + "0 0 0 0.25 0.5 1 0.5\n1 0 0 0 0 0 1\n0 1 0 1 1 1 1\n3 0 1 2\n",
         OwnRead::Read, 1, 3, 1, "",
         [](const aiScene& scene) { EXPECT_EQ(scene.mMeshes[0]->mColors[0][0], aiColor4D(0.25f, 0.5f, 1, 0.5f)); }},
        {"lying count", ply, lying, OwnRead::Refused, 0, 0, 0, "declares 4000000000 'vertex' elements"},
        {"truncated body", ply, cut, OwnRead::Refused, 0, 0, 0, "its PLY data ends in 'face' 0 of 1"},
        {"index out of range", ply, asciiHead + triangleFace + "0 0 0\n1 0 0\n0 1 0\n3 0 1 3\n", OwnRead::Refused, 0, 0, 0,
         "face 0 names vertex 3 of 3"},
        {"bad token", ply, asciiHead + triangleFace + "0 0 0\n1 0x 0\n0 1 0\n3 0 1 2\n", OwnRead::Refused, 0, 0, 0,
         "holds '0x' where a number of 'vertex' 1 belongs"},
        // What Assimp reads in ways of its own: a point cloud, a material, a line, a polygon.
        {"point cloud", ply, asciiHead + "end_header\n0 0 0\n1 0 0\n0 1 0\n", OwnRead::NotMine},
        {"material element", ply, asciiHead + "element material 1\nproperty float opacity\n" + triangleFace,
         OwnRead::NotMine},
        {"a line", ply, asciiHead + triangleFace + "0 0 0\n1 0 0\n0 1 0\n2 0 1\n", OwnRead::NotMine},
        {"a pentagon", ply, asciiHead + triangleFace + "0 0 0\n1 0 0\n0 1 0\n5 0 1 2 1 0\n", OwnRead::NotMine},
        {"one solid", stl, "solid part\n" + facet + facet + "endsolid part\n", OwnRead::Read, 1, 6, 2, "",
         [](const aiScene& scene) {
             const aiMesh& mesh = *scene.mMeshes[0];
             EXPECT_STREQ(mesh.mName.C_Str(), "part");
             EXPECT_EQ(mesh.mNormals[4], aiVector3D(0, 0, 1));
             EXPECT_EQ(mesh.mVertices[4], aiVector3D(1, 0, 0));
             EXPECT_EQ(mesh.mFaces[1].mIndices[2], 5u);
             ASSERT_EQ(scene.mRootNode->mNumChildren, 1u);
             EXPECT_STREQ(scene.mRootNode->mChildren[0]->mName.C_Str(), "part");
         }},
        {"two solids", stl, "solid a\n" + facet + "endsolid a\nsolid\n" + facet + facet + "endsolid\n", OwnRead::Read, 2,
         6, 2, "",
         [](const aiScene& scene) {
             EXPECT_EQ(scene.mMeshes[0]->mNumVertices, 3u);
             EXPECT_EQ(scene.mMeshes[1]->mFaces[1].mIndices[0], 3u);
             EXPECT_STREQ(scene.mRootNode->mName.C_Str(), "<STL_ASCII>");
         }},
        {"short facet", stl, "solid\n facet normal 0 0 1\n outer loop\n vertex 0 0 0\n vertex 1 0 0\n endloop\n endfacet\n" +
                                 facet + "endsolid\n",
         OwnRead::Refused, 0, 0, 0, "facet 1 has 2 vertices, not 3"},
        {"bad number", stl, "solid\n facet normal 0 0 1\n outer loop\n vertex 0 0 0\n vertex 1 zero 0\n",
         OwnRead::Refused, 0, 0, 0, "holds 'zero' where a number of its vertex belongs"},
        // 84 + 50 bytes with a facet count of 1: binary, whatever its first word says.
        {"binary that says solid", stl, "solid" + std::string(75, ' ') + std::string("\x01\0\0\0", 4) + std::string(50, 'x'),
         OwnRead::NotMine},
        {"facet without normal", stl, "solid\n facet\n outer loop\n vertex 0 0 0\n", OwnRead::NotMine},
    };
    for (const ReaderCase& c : cases) {
        SCOPED_TRACE(c.name);
        srxconvert::OwnScene own;
        std::string error;
        ASSERT_EQ(Read(c, own, error), c.result) << error;
        if (c.result == OwnRead::Refused) {
            EXPECT_NE(error.find(c.says), std::string::npos) << error;
        }
        if (c.result != OwnRead::Read) continue;
        const aiScene& scene = own.Scene();
        ASSERT_EQ(scene.mNumMeshes, c.meshes);
        const aiMesh& mesh = *scene.mMeshes[c.meshes - 1];
        EXPECT_EQ(mesh.mNumVertices, c.vertices);
        EXPECT_EQ(mesh.mNumFaces, c.triangles);
        EXPECT_EQ(mesh.mPrimitiveTypes, unsigned(aiPrimitiveType_TRIANGLE));
        if (c.check) c.check(scene);
    }
}

// A face on a vertex that is not finite is dropped before normals are made, as from
// Assimp's scenes, and the scene is still freed whole (the dropped face names the block).
TEST(OwnReaders, FacesOnNonFiniteVerticesAreDropped) {
    lumaret::test::ScopedTempDir dir;
    lumaret::test::WriteFileBytes("nan.ply",
                                  "ply\nformat ascii 1.0\nelement vertex 4\nproperty float x\nproperty float y\n"
                                  "property float z\nelement face 2\nproperty list uchar int vertex_indices\n"
                                  "end_header\n0 0 0\n1 0 0\n0 1 0\nnan 1 1\n3 1 3 2\n3 0 1 2\n");
    srxconvert::ModelSource source;
    std::string error;
    ASSERT_TRUE(source.Read("nan.ply", error)) << error;
    EXPECT_EQ(source.DroppedTriangles(), 1u);
    ASSERT_EQ(source.Scene().mMeshes[0]->mNumFaces, 1u);
    EXPECT_EQ(source.Scene().mMeshes[0]->mFaces[0].mIndices[2], 2u);
}

// Every model of Debian's set that the readers take gives the vertices, attributes and faces
// Assimp's own readers give (after its triangulation), value for value.
TEST(OwnReaders, TestModelsReadAsAssimpReadsThem) {
    const char* models[] = {"dart", "PLY/Wuson.ply", "PLY/cube.ply", "PLY/cube_binary.ply", "PLY/cube_uv.ply",
                            "PLY/float-color.ply", "STL/Spider_ascii.stl", "STL/sphereWithHole.stl",
                            "STL/triangle_with_two_solids.stl"};
    // A dart: its fourth corner is concave, where Assimp starts the fan.
    lumaret::test::ScopedTempDir dir;
    lumaret::test::WriteFileBytes("dart.ply", "ply\nformat ascii 1.0\nelement vertex 4\nproperty float x\n"
                                              "property float y\nproperty float z\nelement face 1\n"
                                              "property list uchar int vertex_indices\nend_header\n"
                                              "0 0 0\n2 1 0\n0 2 0\n0.5 1 0\n4 0 1 2 3\n");
    for (const char* model : models) {
        SCOPED_TRACE(model);
        std::string path = std::string("/usr/share/assimp/models/") + model;
        if (model == models[0]) path = "dart.ply";
        bool isPly = path.ends_with(".ply");
        FILE* file = std::fopen(path.c_str(), "rb");
        ASSERT_NE(file, nullptr);
        std::fseek(file, 0, SEEK_END);
        uint64_t bytes = uint64_t(std::ftell(file));
        std::rewind(file);
        srxconvert::OwnScene own;
        std::string error;
        OwnRead read = isPly ? srxconvert::ReadPly(file, bytes, own, error) : srxconvert::ReadAsciiStl(file, bytes, own, error);
        std::fclose(file);
        ASSERT_EQ(read, OwnRead::Read) << error;
        Assimp::Importer importer;
        const aiScene* theirs = importer.ReadFile(path, aiProcess_Triangulate);
        ASSERT_NE(theirs, nullptr);
        const aiScene& ours = own.Scene();
        ASSERT_EQ(ours.mNumMeshes, theirs->mNumMeshes);
        for (unsigned m = 0; m < ours.mNumMeshes; ++m) {
            const aiMesh &a = *ours.mMeshes[m], &b = *theirs->mMeshes[m];
            ASSERT_EQ(a.mNumVertices, b.mNumVertices);
            ASSERT_EQ(a.mNumFaces, b.mNumFaces);
            EXPECT_STREQ(a.mName.C_Str(), b.mName.C_Str());
            auto same = [&](const void* x, const void* y, size_t size) {
                return (x == nullptr) == (y == nullptr) && (!x || std::memcmp(x, y, size * a.mNumVertices) == 0);
            };
            EXPECT_TRUE(same(a.mVertices, b.mVertices, sizeof(aiVector3D)));
            EXPECT_TRUE(same(a.mNormals, b.mNormals, sizeof(aiVector3D)));
            EXPECT_TRUE(same(a.mColors[0], b.mColors[0], sizeof(aiColor4D)));
            EXPECT_TRUE(same(a.mTextureCoords[0], b.mTextureCoords[0], sizeof(aiVector3D)));
            for (unsigned f = 0; f < a.mNumFaces; ++f)
                ASSERT_TRUE(std::equal(a.mFaces[f].mIndices, a.mFaces[f].mIndices + 3, b.mFaces[f].mIndices)) << f;
        }
    }
}

}  // namespace
