// A triangle mesh of arbitrary bytes through the tools' vertex join and generated normals:
// any float for a position (NaN, infinities, denormals, -0) or texture coordinate, any index
// for a corner. Whatever comes in, every corner of a triangle names a vertex, and every
// normal made is finite and of unit length.
//
// Bytes: a flags byte (bit 0: texture coordinates, bit 1: the join first, both: normals
// too, (u, v, z), as an STL file's facets through WeldFacets; bits 2-7: the crease angle in
// steps of 3 degrees), the vertex count (one byte), the vertices (three
// floats each, and two more with texture coordinates), then triples of 16-bit indices.
#include "MeshVertices.h"

#include <assimp/mesh.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

struct Reader {
    const uint8_t* data;
    size_t size;
    bool Take(void* out, size_t count) {
        if (size < count) return false;
        std::memcpy(out, data, count);
        data += count;
        size -= count;
        return true;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in{data, size};
    uint8_t flags = 0, count = 0;
    if (!in.Take(&flags, 1) || !in.Take(&count, 1) || count == 0) return 0;
    bool coords = flags & 1, join = flags & 2, facets = coords && join;
    float crease = float(flags >> 2) * 3.0f;
    auto mesh = std::make_unique<aiMesh>();
    mesh->mPrimitiveTypes = aiPrimitiveType_TRIANGLE;
    mesh->mNumVertices = count;
    mesh->mVertices = new aiVector3D[count];
    if (coords) {
        mesh->mTextureCoords[0] = new aiVector3D[count];
        mesh->mNumUVComponents[0] = 2;
    }
    if (facets) mesh->mNormals = new aiVector3D[count];
    for (unsigned v = 0; v < count; ++v) {
        float p[5] = {};
        in.Take(p, (coords ? 5 : 3) * sizeof(float));
        mesh->mVertices[v] = aiVector3D(p[0], p[1], p[2]);
        if (coords) mesh->mTextureCoords[0][v] = aiVector3D(p[3], p[4], 0.0f);
        if (facets) mesh->mNormals[v] = aiVector3D(p[3], p[4], p[2]);
    }
    unsigned faces = unsigned(std::min<size_t>(in.size / 6, 65536 / 3));
    if (faces == 0) return 0;
    mesh->mNumFaces = faces;
    mesh->mFaces = new aiFace[faces];
    for (unsigned f = 0; f < faces; ++f) {
        uint16_t index[3];
        in.Take(index, sizeof index);
        mesh->mFaces[f].mNumIndices = 3;
        mesh->mFaces[f].mIndices = new unsigned[3]{index[0], index[1], index[2]};
    }
    // Corners on no vertex are what the join and the normals leave alone.
    bool valid[65536 / 3 + 1] = {};
    for (unsigned f = 0; f < faces; ++f)
        valid[f] = mesh->mFaces[f].mIndices[0] < count && mesh->mFaces[f].mIndices[1] < count &&
                   mesh->mFaces[f].mIndices[2] < count;
    // Facets whose normals differ across a face are refused, the mesh left as it was.
    if (!facets || !srxconvert::WeldFacets(*mesh, crease, 2)) {
        if (join && !srxconvert::JoinEqualVertices(*mesh)) std::abort();
        if (!srxconvert::GenerateNormals(*mesh, crease, 2)) std::abort();
    }
    for (unsigned v = 0; v < mesh->mNumVertices; ++v) {
        const aiVector3D& n = mesh->mNormals[v];
        if (!std::isfinite(n.x) || !std::isfinite(n.y) || !std::isfinite(n.z) || std::fabs(n.Length() - 1.0f) > 1e-3f)
            std::abort();
    }
    for (unsigned f = 0; f < faces; ++f)
        for (unsigned k = 0; valid[f] && k < 3; ++k)
            if (mesh->mFaces[f].mIndices[k] >= mesh->mNumVertices) std::abort();
    return 0;
}
