// The tools' own vertex join and generated normals, on small files written here and read
// as the viewer and srxconvert read them (ModelSource), and against Assimp's join and
// smooth normals on the test models without normals.
#include "MeshVertices.h"
#include "ModelSource.h"
#include "support/TempDir.h"

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

using lumaret::test::ScopedTempDir;
using lumaret::test::WriteFileBytes;

namespace {

const double kPi = 3.14159265358979323846;

aiVector3D FaceNormal(const aiMesh& mesh, const aiFace& face) {
    const aiVector3D &a = mesh.mVertices[face.mIndices[0]], &b = mesh.mVertices[face.mIndices[1]],
                     &c = mesh.mVertices[face.mIndices[2]];
    aiVector3D n = (b - a) ^ (c - a);
    return n.Length() > 0.0f ? n / n.Length() : n;
}

double Degrees(const aiVector3D& a, const aiVector3D& b) {
    double cosine = std::clamp(double(a * b) / (double(a.Length()) * b.Length()), -1.0, 1.0);
    return std::acos(cosine) * 180.0 / kPi;
}

std::string Facet(const aiVector3D& n, const aiVector3D& a, const aiVector3D& b, const aiVector3D& c) {
    std::ostringstream out;
    out.precision(9);
    out << "facet normal " << n.x << ' ' << n.y << ' ' << n.z << "\nouter loop\n";
    for (const aiVector3D* p : {&a, &b, &c}) out << "vertex " << p->x << ' ' << p->y << ' ' << p->z << '\n';
    out << "endloop\nendfacet\n";
    return out.str();
}

// The unit cube's six faces as quads, counter-clockwise from outside, with their normals.
struct Quad {
    int corners[4];
    aiVector3D normal;
};
const aiVector3D kCubeCorners[8] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
                                    {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
const Quad kCubeFaces[6] = {{{0, 3, 2, 1}, {0, 0, -1}}, {{4, 5, 6, 7}, {0, 0, 1}},  {{0, 1, 5, 4}, {0, -1, 0}},
                            {{3, 7, 6, 2}, {0, 1, 0}},  {{0, 4, 7, 3}, {-1, 0, 0}}, {{1, 2, 6, 5}, {1, 0, 0}}};

std::string CubeStl() {
    std::string text = "solid cube\n";
    for (const Quad& q : kCubeFaces) {
        const aiVector3D* p = kCubeCorners;
        text += Facet(q.normal, p[q.corners[0]], p[q.corners[1]], p[q.corners[2]]);
        text += Facet(q.normal, p[q.corners[0]], p[q.corners[2]], p[q.corners[3]]);
    }
    return text + "endsolid cube\n";
}

std::string CubeObj() {
    std::string text;
    for (const aiVector3D& p : kCubeCorners)
        text += "v " + std::to_string(p.x) + " " + std::to_string(p.y) + " " + std::to_string(p.z) + "\n";
    for (const Quad& q : kCubeFaces)
        text += "f " + std::to_string(q.corners[0] + 1) + " " + std::to_string(q.corners[1] + 1) + " " +
                std::to_string(q.corners[2] + 1) + " " + std::to_string(q.corners[3] + 1) + "\n";
    return text;
}

// A UV sphere of radius 2 with texture coordinates: its seam is two columns of vertices at
// the same positions with different u, its poles one vertex each.
constexpr int kRings = 12, kSegments = 24;
std::string SphereObj() {
    std::ostringstream out;
    out.precision(9);
    out << "v 0 2 0\nv 0 -2 0\nvt 0.5 1\nvt 0.5 0\n";
    for (int r = 1; r < kRings; ++r)
        for (int s = 0; s <= kSegments; ++s) {
            double theta = kPi * r / kRings, phi = 2 * kPi * (s % kSegments) / kSegments;
            out << "v " << 2 * std::sin(theta) * std::cos(phi) << ' ' << 2 * std::cos(theta) << ' '
                << -2 * std::sin(theta) * std::sin(phi) << "\nvt " << double(s) / kSegments << ' '
                << 1.0 - double(r) / kRings << '\n';
        }
    auto at = [](int r, int s) { return 3 + (r - 1) * (kSegments + 1) + s; };  // 1-based, v and vt alike
    auto corner = [](int i) { return std::to_string(i) + "/" + std::to_string(i); };
    for (int s = 0; s < kSegments; ++s) {
        out << "f 1/1 " << corner(at(1, s)) << ' ' << corner(at(1, s + 1)) << '\n';
        out << "f 2/2 " << corner(at(kRings - 1, s + 1)) << ' ' << corner(at(kRings - 1, s)) << '\n';
        for (int r = 1; r + 1 < kRings; ++r)
            out << "f " << corner(at(r, s)) << ' ' << corner(at(r + 1, s)) << ' ' << corner(at(r + 1, s + 1)) << ' '
                << corner(at(r, s + 1)) << '\n';
    }
    return out.str();
}

// The same sphere as triangles in an STL file, each with its facet normal; the facet
// normal of triangle `flipped` turned inward.
std::string SphereStl(int flipped = -1) {
    auto at = [](int r, int s) {
        if (r == 0 || r == kRings) return aiVector3D(0, r == 0 ? 2 : -2, 0);  // sin(pi) is not 0
        double theta = kPi * r / kRings, phi = 2 * kPi * (s % kSegments) / kSegments;
        return aiVector3D(float(2 * std::sin(theta) * std::cos(phi)), float(2 * std::cos(theta)),
                          float(-2 * std::sin(theta) * std::sin(phi)));
    };
    std::string text = "solid sphere\n";
    int count = 0;
    auto facet = [&](const aiVector3D& a, const aiVector3D& b, const aiVector3D& c) {
        aiVector3D n = (b - a) ^ (c - a);
        n /= n.Length();
        text += Facet(count++ == flipped ? -n : n, a, b, c);
    };
    for (int s = 0; s < kSegments; ++s)
        for (int r = 0; r < kRings; ++r) {
            if (r > 0) facet(at(r, s), at(r + 1, s), at(r, s + 1));
            if (r + 1 < kRings) facet(at(r + 1, s), at(r + 1, s + 1), at(r, s + 1));
        }
    return text + "endsolid sphere\n";
}
constexpr unsigned kSpherePositions = 2 + (kRings - 1) * kSegments;

// Two unit squares on the x axis, the second turned up about it by `degrees`.
std::string FoldObj(double degrees) {
    double a = degrees * kPi / 180.0;
    std::ostringstream out;
    out.precision(9);
    out << "v 0 0 -1\nv 1 0 -1\nv 1 0 0\nv 0 0 0\nv 1 " << std::sin(a) << ' ' << std::cos(a) << "\nv 0 " << std::sin(a)
        << ' ' << std::cos(a) << "\nf 1 4 3 2\nf 4 6 5 3\n";
    return out.str();
}

// A good triangle beside faces of zero area: one on a line, one naming a vertex twice, one
// on a single point that no other face uses, and triangles too small and too large for a
// float cross product.
const char* const kDegenerateObj =
    "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 2 0 0\nv 5 5 5\nv 1e-20 0 0\nv 0 1e-20 0\nv 3e38 0 0\nv 0 3e38 0\n"
    "f 1 2 3\nf 1 2 4\nf 1 1 3\nf 5 5 5\nf 1 6 7\nf 1 8 9\n";

// A cone of 600 faces: more meet at its tip than the pairwise crease test takes.
std::string ConeObj() {
    std::ostringstream out;
    out.precision(9);
    out << "v 0 1 0\n";
    const int sides = 600;
    for (int s = 0; s < sides; ++s)
        out << "v " << std::cos(2 * kPi * s / sides) << " 0 " << -std::sin(2 * kPi * s / sides) << '\n';
    for (int s = 0; s < sides; ++s) out << "f 1 " << 2 + s << ' ' << 2 + (s + 1) % sides << '\n';
    return out.str();
}

enum class Expect {
    FaceNormals,  // every corner's normal is its face's: sharp everywhere
    Sphere,       // within 1 degree of the direction from the centre
    Finite,       // unit length, and (0,0,1) where a face of area lies in the xy plane
};

struct NormalCase {
    const char* file;
    std::string text;
    unsigned vertices;  // after the join and the normals
    size_t normals;     // distinct normals; 0: not counted
    Expect expect;
};

TEST(MeshVertices, FilesGetTheNormalsTheirShapeCallsFor) {
    const NormalCase cases[] = {
        // An STL file's corners joined and its normals made: the cube's edges stay sharp,
        // two triangles of one face share their corners, the sphere is smooth.
        {"cube.stl", CubeStl(), 24, 6, Expect::FaceNormals},
        {"sphere.stl", SphereStl(), kSpherePositions, 0, Expect::Sphere},
        // Made here at 90 degrees: the crease splits every corner three ways.
        {"cube.obj", CubeObj(), 24, 6, Expect::FaceNormals},
        {"sphere.obj", SphereObj(), 2 + (kRings - 1) * (kSegments + 1), 0, Expect::Sphere},
        // Below the crease angle the shared edge is smooth, above it sharp.
        {"fold30.obj", FoldObj(30), 6, 3, Expect::Finite},
        {"fold90.obj", FoldObj(90), 8, 2, Expect::FaceNormals},
        {"degenerate.obj", kDegenerateObj, 0, 0, Expect::Finite},
        // Its tip flat on every face, one copy each; its rim smooth.
        {"cone.obj", ConeObj(), 1200, 1200, Expect::Finite},
    };
    ScopedTempDir dir;
    for (const NormalCase& c : cases) {
        SCOPED_TRACE(c.file);
        WriteFileBytes(c.file, c.text);
        srxconvert::ModelSource source;
        std::string error;
        ASSERT_TRUE(source.Read(c.file, error)) << error;
        ASSERT_EQ(source.Scene().mNumMeshes, 1u);
        const aiMesh& mesh = *source.Scene().mMeshes[0];
        ASSERT_NE(mesh.mNormals, nullptr);
        if (c.vertices) {
            EXPECT_EQ(mesh.mNumVertices, c.vertices);
        }
        std::set<std::tuple<float, float, float>> distinct;
        for (unsigned v = 0; v < mesh.mNumVertices; ++v) {
            const aiVector3D& n = mesh.mNormals[v];
            distinct.emplace(n.x, n.y, n.z);
            ASSERT_TRUE(std::isfinite(n.x) && std::isfinite(n.y) && std::isfinite(n.z)) << "vertex " << v;
            EXPECT_NEAR(n.Length(), 1.0f, 1e-5f) << "vertex " << v;
            if (c.expect == Expect::Sphere) {
                EXPECT_LT(Degrees(n, mesh.mVertices[v]), 1.0) << "vertex " << v;
            }
        }
        if (c.normals) {
            EXPECT_EQ(distinct.size(), c.normals);
        }
        for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
            const aiFace& face = mesh.mFaces[f];
            ASSERT_EQ(face.mNumIndices, 3u);
            aiVector3D own = FaceNormal(mesh, face);
            for (unsigned k = 0; k < 3; ++k) {
                const aiVector3D& n = mesh.mNormals[face.mIndices[k]];
                if (c.expect == Expect::FaceNormals) {
                    EXPECT_LT(Degrees(n, own), 1e-3) << "face " << f;
                }
                // Smooth or not, a normal stays on the front of its face.
                if (own.Length() > 0.0f) {
                    EXPECT_GT(n * own, 0.0f) << "face " << f;
                }
                if (c.expect == Expect::Finite && own.Length() > 0.0f && own.z > 0.999f) {
                    EXPECT_LT(Degrees(n, aiVector3D(0, 0, 1)), 1e-3) << "face " << f;
                }
            }
        }
    }
}

// A facet normal that turns against its triangle is the file's word: that triangle keeps
// it on corners of its own, while its neighbours stay smooth.
TEST(MeshVertices, StlKeepsFacetNormalsThatContradictTheGeometry) {
    ScopedTempDir dir;
    const int flipped = 40;
    WriteFileBytes("flipped.stl", SphereStl(flipped));
    srxconvert::ModelSource source;
    std::string error;
    ASSERT_TRUE(source.Read("flipped.stl", error)) << error;
    const aiMesh& mesh = *source.Scene().mMeshes[0];
    ASSERT_NE(mesh.mNormals, nullptr);
    EXPECT_EQ(mesh.mNumVertices, kSpherePositions + 3);
    for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
        const aiFace& face = mesh.mFaces[f];
        aiVector3D own = FaceNormal(mesh, face);
        for (unsigned k = 0; k < 3; ++k) {
            const aiVector3D& n = mesh.mNormals[face.mIndices[k]];
            if (f == flipped) {
                EXPECT_LT(Degrees(n, -own), 1e-3) << "corner " << k;
            } else {  // a face short at the flipped one's corners
                EXPECT_LT(Degrees(n, mesh.mVertices[face.mIndices[k]]), 5.0) << "face " << f;
            }
        }
    }
}

// Spread over threads or not, a mesh gets the same vertices, normals and faces: a grid of
// 80 000 triangles folded every 7 rows (sharp) and waving gently (smooth) between.
TEST(MeshVertices, NormalsAreTheSameOnAnyThreadCount) {
    auto grid = [] {
        const unsigned side = 201;
        auto mesh = std::make_unique<aiMesh>();
        mesh->mPrimitiveTypes = aiPrimitiveType_TRIANGLE;
        mesh->mNumVertices = side * side;
        mesh->mVertices = new aiVector3D[side * side];
        for (unsigned y = 0; y < side; ++y)
            for (unsigned x = 0; x < side; ++x)
                mesh->mVertices[y * side + x] =
                    aiVector3D(float(x), float(y), (y % 7 == 0 ? 3.0f : 0.0f) + 0.2f * std::sin(0.3f * float(x)));
        mesh->mNumFaces = 2 * (side - 1) * (side - 1);
        mesh->mFaces = new aiFace[mesh->mNumFaces];
        unsigned f = 0;
        for (unsigned y = 0; y + 1 < side; ++y)
            for (unsigned x = 0; x + 1 < side; ++x) {
                unsigned a = y * side + x, b = a + 1, c = a + side, d = c + 1;
                for (auto [i, j, k] : {std::make_tuple(a, b, d), std::make_tuple(a, d, c)}) {
                    mesh->mFaces[f].mNumIndices = 3;
                    mesh->mFaces[f++].mIndices = new unsigned[3]{i, j, k};
                }
            }
        return mesh;
    };
    auto one = grid(), two = grid();
    ASSERT_TRUE(srxconvert::GenerateNormals(*one, srxconvert::kCreaseDegrees, 1));
    ASSERT_TRUE(srxconvert::GenerateNormals(*two, srxconvert::kCreaseDegrees, 2));
    ASSERT_GT(one->mNumVertices, 201u * 201u);  // the folds split their vertices
    ASSERT_EQ(one->mNumVertices, two->mNumVertices);
    EXPECT_EQ(std::memcmp(one->mVertices, two->mVertices, one->mNumVertices * sizeof(aiVector3D)), 0);
    EXPECT_EQ(std::memcmp(one->mNormals, two->mNormals, one->mNumVertices * sizeof(aiVector3D)), 0);
    for (unsigned f = 0; f < one->mNumFaces; ++f)
        ASSERT_TRUE(std::equal(one->mFaces[f].mIndices, one->mFaces[f].mIndices + 3, two->mFaces[f].mIndices)) << f;
}

// Assimp's join takes values within 1e-5 of each other for one; the tools' join takes only
// bit-equal ones, so that the faces of a file's own normals stay apart however close.
TEST(MeshVertices, JoinKeepsCornersApartThatDifferInTheirLastBits) {
    ScopedTempDir dir;
    WriteFileBytes("twice.obj",
                   "v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nvn 1e-6 0 1\nf 1//1 2//1 3//1\nf 1//2 2//2 3//2\n");
    srxconvert::ModelSource ours;
    std::string error;
    ASSERT_TRUE(ours.Read("twice.obj", error)) << error;
    EXPECT_EQ(ours.Scene().mMeshes[0]->mNumVertices, 6u);
    Assimp::Importer importer;
    const aiScene* theirs = importer.ReadFile("twice.obj", srxconvert::ImportFlags("twice.obj"));
    ASSERT_NE(theirs, nullptr);
    EXPECT_EQ(theirs->mMeshes[0]->mNumVertices, 3u);
}

// The normals made here against Assimp's GenSmoothNormals, which made them before: every
// face at a position within 175 degrees weighed alike. That step gives each vertex of an
// indexed mesh the normal of the last face naming it before it smooths over the vertices at
// a position, so the models are given to it with every corner apart, as the OBJ and STL
// readers give them. Where a position lies on no crease of 60 degrees the two agree within
// the stated degrees: the rest is the weighting by angle, which leans towards the faces
// that cover most of the turn around a vertex where Assimp counts thin and wide faces alike.
TEST(MeshVertices, GeneratedNormalsAgreeWithAssimpsAwayFromCreases) {
    struct Model {
        const char* path;
        double median, p95;  // degrees
    };
    // Dense smooth surfaces agree closely; low-poly ones (Wuson, the dwarf) mix thin and
    // wide faces around a vertex, where the weighting turns the normal most. Assimp also
    // smooths over positions within 1e-5 of each other where these take bit-equal ones.
    const Model models[] = {{"NFF/NFF/spheres.nff", 0.5, 1.0},   {"X3D/HelloX3dTrademark.x3d", 0.5, 1.0},
                            {"DXF/PinkEggFromLW.dxf", 1.0, 3.0}, {"OFF/Wuson.off", 2.0, 16.0},
                            {"AC/Wuson.ac", 2.0, 16.0},          {"COB/dwarf.cob", 3.0, 10.0}};
    auto key = [](const aiVector3D& p) { return std::make_tuple(p.x, p.y, p.z); };
    for (const Model& model : models) {
        SCOPED_TRACE(model.path);
        std::string path = std::string("/usr/share/assimp/models/") + model.path;
        srxconvert::ModelSource ours;
        std::string error;
        ASSERT_TRUE(ours.Read(path, error)) << error;
        Assimp::Importer importer;
        const aiScene* read = importer.ReadFile(path, aiProcess_Triangulate | aiProcess_SortByPType);
        ASSERT_NE(read, nullptr);
        aiScene& theirs = *const_cast<aiScene*>(read);
        ASSERT_EQ(ours.Scene().mNumMeshes, theirs.mNumMeshes);
        for (unsigned m = 0; m < theirs.mNumMeshes; ++m) {
            aiMesh& mesh = *theirs.mMeshes[m];
            ASSERT_EQ(mesh.mNormals, nullptr);
            auto* corners = new aiVector3D[3 * mesh.mNumFaces];
            for (unsigned f = 0; f < mesh.mNumFaces; ++f)
                for (unsigned k = 0; k < mesh.mFaces[f].mNumIndices; ++k) {
                    corners[3 * f + k] = mesh.mVertices[mesh.mFaces[f].mIndices[k]];
                    mesh.mFaces[f].mIndices[k] = 3 * f + k;
                }
            delete[] mesh.mVertices;
            mesh.mVertices = corners;
            mesh.mNumVertices = 3 * mesh.mNumFaces;
            for (aiVector3D*& coords : mesh.mTextureCoords) delete[] std::exchange(coords, nullptr);
            for (aiColor4D*& set : mesh.mColors) delete[] std::exchange(set, nullptr);
        }
        ASSERT_NE(importer.ApplyPostProcessing(aiProcess_GenSmoothNormals), nullptr);
        std::vector<double> angles;
        size_t creased = 0;
        for (unsigned m = 0; m < theirs.mNumMeshes; ++m) {
            const aiMesh& a = *ours.Scene().mMeshes[m];
            const aiMesh& b = *theirs.mMeshes[m];
            if (!(b.mPrimitiveTypes & aiPrimitiveType_TRIANGLE)) continue;
            ASSERT_NE(a.mNormals, nullptr);
            std::map<std::tuple<float, float, float>, aiVector3D> assimp;  // one normal per position
            for (unsigned v = 0; v < b.mNumVertices; ++v) assimp[key(b.mVertices[v])] = b.mNormals[v];
            std::map<std::tuple<float, float, float>, std::set<std::tuple<float, float, float>>> here;
            for (unsigned v = 0; v < a.mNumVertices; ++v) here[key(a.mVertices[v])].insert(key(a.mNormals[v]));
            for (const auto& [position, normals] : here) {
                auto found = assimp.find(position);
                ASSERT_NE(found, assimp.end());
                if (normals.size() > 1) {
                    ++creased;
                    continue;
                }
                auto [x, y, z] = *normals.begin();
                angles.push_back(Degrees(aiVector3D(x, y, z), found->second));
            }
        }
        ASSERT_FALSE(angles.empty());
        std::sort(angles.begin(), angles.end());
        double median = angles[angles.size() / 2], p95 = angles[angles.size() * 95 / 100];
        std::printf("%-26s %5zu positions, %4zu on creases; degrees from Assimp's: median %.2f, 95%% %.2f, max %.1f\n",
                    model.path, angles.size() + creased, creased, median, p95, angles.back());
        EXPECT_LT(median, model.median);
        EXPECT_LT(p95, model.p95);
    }
}

}  // namespace
