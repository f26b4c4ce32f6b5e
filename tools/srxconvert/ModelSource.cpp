#include "ModelSource.h"

#include <assimp/DefaultIOStream.h>
#include <assimp/DefaultIOSystem.h>
#include <assimp/postprocess.h>

#include "MeshVertices.h"
#include "NodeDepth.h"
#include "PlyReader.h"
#include "StlReader.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace srxconvert {

namespace {

// A file stream Assimp reads and closes as its own, no larger than the file was when its
// descriptor was checked (Assimp's own stream asks the name again for the size).
class CheckedStream : public Assimp::DefaultIOStream {
public:
    CheckedStream(FILE* file, const std::string& name, uint64_t bytes)
        : Assimp::DefaultIOStream(file, name), bytes_(static_cast<size_t>(bytes)) {}
    size_t FileSize() const override { return bytes_; }
    size_t Read(void* buffer, size_t size, size_t count) override {
        size_t position = Tell();
        size_t left = position < bytes_ ? bytes_ - position : 0;
        return size ? Assimp::DefaultIOStream::Read(buffer, size, std::min(count, left / size)) : 0;
    }

private:
    size_t bytes_;
};

// Assimp's file access through ModelFileAccess: what the model may not read is as good as
// missing to the reader (an OBJ goes without its .mtl, a glTF without its buffer and so
// fails), and is named once in the refusals.
class CheckedFileSystem : public Assimp::DefaultIOSystem {
public:
    explicit CheckedFileSystem(ModelFileAccess& access) : access_(access) {}
    bool Exists(const char* path) const override { return path && Allowed(path); }
    Assimp::IOStream* Open(const char* path, const char* mode) override {
        if (!path || !mode || std::strpbrk(mode, "wa+")) return nullptr;
        std::string why;
        uint64_t bytes = 0;
        FILE* file = access_.Open(path, why, &bytes);
        if (!file) {
            Allowed(path);
            return nullptr;
        }
        return new CheckedStream(file, path, bytes);
    }

private:
    // Readers probe for files that may not exist (a texture under several names): only a
    // file that is there and refused is worth a line.
    bool Allowed(const char* path) const {
        bool missing = false;
        std::string why = access_.Problem(path, &missing);
        if (!why.empty() && !missing) access_.Refuse(path, why);
        return why.empty();
    }

    ModelFileAccess& access_;
};

bool Finite(const aiVector3D& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

std::string LowerExtension(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

}  // namespace

unsigned ImportFlags(const std::string& path) {
    std::string extension = LowerExtension(path);
    bool indexed = extension == ".gltf" || extension == ".glb" || extension == ".ply";
    return aiProcess_Triangulate | (indexed ? 0u : unsigned(aiProcess_JoinIdenticalVertices)) | aiProcess_SortByPType |
           aiProcess_GenSmoothNormals;
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
                // The members, not the faces: aiFace's assignment copies its indices into a
                // new allocation and frees the old, and an own reader's faces share one block.
                if (kept != f) {
                    std::swap(mesh->mFaces[kept].mIndices, face.mIndices);
                    std::swap(mesh->mFaces[kept].mNumIndices, face.mNumIndices);
                }
                ++kept;
            } else if (face.mNumIndices >= 3) {
                droppedTriangles_ += face.mNumIndices - 2;
            }
        }
        // The dropped faces sit past the kept ones; the array keeps its size for delete[].
        mesh->mNumFaces = kept;
        // No face uses them now, yet a NaN left in the array would still upset a hash of
        // positions or Assimp's spatial sort.
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
        // Some STL writers leave every face normal 0: no normals at all, made here instead.
        if (mesh->mNormals && std::all_of(mesh->mNormals, mesh->mNormals + mesh->mNumVertices,
                                          [](const aiVector3D& n) { return n == aiVector3D(0.0f); })) {
            delete[] mesh->mNormals;
            mesh->mNormals = nullptr;
        }
        for (aiVector3D* coords : mesh->mTextureCoords)
            for (unsigned v = 0; coords && v < mesh->mNumVertices; ++v)
                if (!Finite(coords[v])) {
                    coords[v] = aiVector3D(0.0f);
                    ++zeroedTexCoords_;
                }
    }
}

char ModelSource::UpAxis(int& sign) const {
    int axis = -1, axisSign = 1;
    const aiMetadata* data = scene_ ? scene_->mMetaData : nullptr;
    if (!data || !data->Get("UpAxis", axis) || axis < 0 || axis > 2) return 0;
    data->Get("UpAxisSign", axisSign);
    sign = axisSign < 0 ? -1 : 1;
    return "xyz"[axis];
}

OwnRead ModelSource::ReadOwn(const std::string& path, std::string& error) {
    std::string extension = LowerExtension(path);
    if (extension != ".ply" && extension != ".stl") return OwnRead::NotMine;
    std::string why;
    uint64_t bytes = 0;
    std::unique_ptr<FILE, int (*)(FILE*)> file(access_.Open(path, why, &bytes), &std::fclose);
    if (!file) return OwnRead::NotMine;  // Assimp meets the same refusal and names it
    auto own = std::make_unique<OwnScene>();
    OwnRead read = extension == ".ply" ? ReadPly(file.get(), bytes, *own, error)
                                       : ReadAsciiStl(file.get(), bytes, *own, error);
    if (read == OwnRead::Read) own_ = std::move(own);
    return read;
}

const aiScene* ModelSource::Import(const std::string& path, std::string& error) {
    // Read as the file stands, clean it, then post-process: generated normals must come
    // from good triangles only.
    const aiScene* scene = nullptr;
    OwnRead ownRead = ReadOwn(path, error);
    if (ownRead == OwnRead::Refused) return nullptr;
    if (ownRead == OwnRead::Read) {
        scene = &own_->Scene();
        DropNonFinite(own_->Scene());  // made triangulated and of one primitive type
    } else {
        scene = importer_.ReadFile(path, 0);
        if (scene) {
            DropNonFinite(*const_cast<aiScene*>(scene));  // the importer's own scene, ours to change until released
            scene = importer_.ApplyPostProcessing(aiProcess_Triangulate | aiProcess_SortByPType);
        }
    }
    if (scene) {
        aiScene& own = *const_cast<aiScene*>(scene);
        // After triangulation, which must see every corner apart (a polygon naming a
        // vertex twice triangulates otherwise), and before the normals, which then have
        // the fewest vertices to go over.
        unsigned assimp = 0;
        bool join = ImportFlags(path) & aiProcess_JoinIdenticalVertices;
        bool facets = LowerExtension(path) == ".stl";  // the one format whose normals are only per face
        for (unsigned m = 0; join && m < own.mNumMeshes && own.mMeshes; ++m) {
            aiMesh* mesh = own.mMeshes[m];
            if (!mesh || (facets && WeldFacets(*mesh))) continue;
            if (!JoinEqualVertices(*mesh)) assimp |= aiProcess_JoinIdenticalVertices;
        }
        // Assimp's join goes over every mesh again, those joined here too, which it leaves
        // as they are but where values within 1e-5 of each other meet.
        // Never for the own readers' meshes, which have no bones, tangents or morph targets.
        if (assimp && !own_) scene = importer_.ApplyPostProcessing(assimp);
        for (unsigned m = 0; scene && m < own.mNumMeshes && own.mMeshes; ++m) {
            aiMesh* mesh = own.mMeshes[m];
            if (mesh && !mesh->mNormals && (mesh->mPrimitiveTypes & aiPrimitiveType_TRIANGLE) &&
                !GenerateNormals(*mesh))
                assimp = aiProcess_GenSmoothNormals;
        }
        if (scene && assimp == aiProcess_GenSmoothNormals && !own_) scene = importer_.ApplyPostProcessing(assimp);
    }
    if (scene && NodeDepth(scene->mRootNode) > kMaxNodeDepth) {
        error = "its nodes nest deeper than " + std::to_string(kMaxNodeDepth) + " levels";
        importer_.FreeScene();  // here, on the deep stack: freeing a hierarchy recurses too
        return nullptr;
    }
    if (!scene) {
        error = importer_.GetErrorString();
        for (char& c : error)
            if (c == '\n' || c == '\r') c = ' ';
        if (error.empty()) error = "Assimp cannot read it";
        // Assimp's readers catch every exception and keep only its what().
        if (error.find("std::bad_alloc") != std::string::npos) error = "out of memory";
        // The refused reference is why, not what the reader made of its absence.
        if (!access_.Refusals().empty()) error = access_.Refusals().front();
    }
    return scene;
}

bool ModelSource::Read(const std::string& path, std::string& error, const std::filesystem::path& root) {
    error = RegularFileProblem(path);
    if (error.empty()) error = NodeGraphProblem(path);
    // Assimp takes a file by its extension, and one whose extension it does not know by
    // its content, which may be OBJ or PLY.
    std::string extension = LowerExtension(path);
    bool unknown = !importer_.IsExtensionSupported(extension);
    if (error.empty() && (extension == ".obj" || unknown)) error = ObjFileCountProblem(path);
    if (error.empty() && (extension == ".ply" || unknown)) error = PlyFileHeaderProblem(path);
    if (!error.empty()) return false;
    access_.Allow(path, root);
    importer_.SetIOHandler(new CheckedFileSystem(access_));
    const aiScene* scene = nullptr;
    bool ran = RunOnImportStack([&] {
        try {
            scene = Import(path, error);
        } catch (const std::bad_alloc&) {
            importer_.FreeScene();
            own_.reset();
            error = "out of memory";
        }
    });
    if (!ran) error = "cannot start the import thread";
    if (!scene) return false;
    scene_ = scene;
    path_ = path;
    std::filesystem::path directory = std::filesystem::path(path).parent_path();
    directory_ = directory.empty() ? std::filesystem::path(".") : directory;
    return true;
}

}  // namespace srxconvert
