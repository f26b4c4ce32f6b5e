#include "ModelSource.h"

#include <assimp/DefaultIOSystem.h>
#include <assimp/postprocess.h>

#include <sys/stat.h>

#include <cmath>
#include <utility>

namespace srxconvert {

namespace {

bool IsRegularFile(const char* path) {
    struct stat info {};
    return path && stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

// Assimp's own file access, for regular files only: anything else is as good as missing,
// which every reader already handles (an OBJ without its .mtl, a glTF without its buffer).
class RegularFileSystem : public Assimp::DefaultIOSystem {
public:
    bool Exists(const char* path) const override { return IsRegularFile(path); }
    Assimp::IOStream* Open(const char* path, const char* mode) override {
        if (!IsRegularFile(path)) return nullptr;
        return Assimp::DefaultIOSystem::Open(path, mode);
    }
};

bool Finite(const aiVector3D& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

}  // namespace

unsigned ImportFlags() {
    return aiProcess_Triangulate | aiProcess_JoinIdenticalVertices | aiProcess_SortByPType | aiProcess_GenSmoothNormals;
}

void ModelSource::DropNonFinite(aiScene& scene) {
    for (unsigned m = 0; m < scene.mNumMeshes && scene.mMeshes; ++m) {
        aiMesh* mesh = scene.mMeshes[m];
        if (!mesh || !mesh->mVertices || !mesh->mFaces) continue;
        auto goodFace = [&](const aiFace& face) {
            for (unsigned i = 0; i < face.mNumIndices && face.mIndices; ++i)
                if (face.mIndices[i] < mesh->mNumVertices && !Finite(mesh->mVertices[face.mIndices[i]])) return false;
            return true;
        };
        unsigned kept = 0;
        for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
            aiFace& face = mesh->mFaces[f];
            if (goodFace(face)) {
                if (kept != f) std::swap(mesh->mFaces[kept], face);
                ++kept;
            } else if (face.mNumIndices >= 3) {
                droppedTriangles_ += face.mNumIndices - 2;
            }
        }
        // The dropped faces sit past the kept ones; the array keeps its size for delete[].
        mesh->mNumFaces = kept;
        // No face uses them now, yet a NaN left in the array would still upset the spatial
        // sort that smooths normals across the whole mesh.
        for (unsigned v = 0; v < mesh->mNumVertices; ++v)
            if (!Finite(mesh->mVertices[v])) mesh->mVertices[v] = aiVector3D(0.0f);
        if (mesh->mNormals)
            for (unsigned v = 0; v < mesh->mNumVertices; ++v)
                if (!Finite(mesh->mNormals[v])) {
                    delete[] mesh->mNormals;
                    mesh->mNormals = nullptr;
                    ++recomputedNormals_;
                    break;
                }
        for (aiVector3D* coords : mesh->mTextureCoords)
            for (unsigned v = 0; coords && v < mesh->mNumVertices; ++v)
                if (!Finite(coords[v])) {
                    coords[v] = aiVector3D(0.0f);
                    ++zeroedTexCoords_;
                }
    }
}

bool ModelSource::Read(const std::string& path, std::string& error) {
    if (!IsRegularFile(path.c_str())) {
        error = "no such file";
        return false;
    }
    importer_.SetIOHandler(new RegularFileSystem());
    // Read as the file stands, clean it, then post-process: the normals Assimp generates
    // must come from good triangles only.
    const aiScene* scene = importer_.ReadFile(path, 0);
    if (scene) {
        DropNonFinite(*const_cast<aiScene*>(scene));  // the importer's own scene, ours to change until released
        scene = importer_.ApplyPostProcessing(ImportFlags());
    }
    if (!scene) {
        error = importer_.GetErrorString();
        for (char& c : error)
            if (c == '\n' || c == '\r') c = ' ';
        if (error.empty()) error = "Assimp cannot read it";
        return false;
    }
    scene_ = scene;
    std::filesystem::path directory = std::filesystem::path(path).parent_path();
    directory_ = directory.empty() ? std::filesystem::path(".") : directory;
    return true;
}

}  // namespace srxconvert
