#include "ModelSource.h"

#include <assimp/DefaultIOStream.h>
#include <assimp/DefaultIOSystem.h>
#include <assimp/postprocess.h>

#include "NodeDepth.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

namespace srxconvert {

namespace {

// A file stream Assimp reads and closes as its own.
class CheckedStream : public Assimp::DefaultIOStream {
public:
    CheckedStream(FILE* file, const std::string& name) : Assimp::DefaultIOStream(file, name) {}
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
        FILE* file = access_.Open(path, why);
        if (!file) {
            Allowed(path);
            return nullptr;
        }
        return new CheckedStream(file, path);
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

// Vertices the OBJ reader wrote out once per face corner joined again, by equal value: the
// corners that named the same v/vt/vn are bit-for-bit copies, so a hash table finds them in
// one pass where Assimp's spatial sort took most of a large file's load. Kept as Assimp
// keeps them: used vertices only, in their first order. False (the mesh untouched) for what
// the OBJ reader never makes (bones, tangents, morph targets): Assimp joins those.
bool JoinEqualVertices(aiMesh& mesh) {
    if (mesh.HasBones() || mesh.mTangents || mesh.mNumAnimMeshes || !mesh.mVertices || !mesh.mFaces) return false;
    std::vector<const aiVector3D*> vectors{mesh.mVertices};
    if (mesh.mNormals) vectors.push_back(mesh.mNormals);
    for (aiVector3D* coords : mesh.mTextureCoords)
        if (coords) vectors.push_back(coords);
    std::vector<const aiColor4D*> colors;
    for (aiColor4D* set : mesh.mColors)
        if (set) colors.push_back(set);
    const size_t floats = 3 * vectors.size() + 4 * colors.size();
    const unsigned count = mesh.mNumVertices;
    // Every attribute of a vertex in a row; + 0.0f makes -0 and 0 one value, as they compare.
    std::vector<float> rows(size_t(count) * floats);
    for (unsigned v = 0; v < count; ++v) {
        float* row = &rows[size_t(v) * floats];
        for (const aiVector3D* array : vectors)
            for (float f : {array[v].x, array[v].y, array[v].z}) *row++ = f + 0.0f;
        for (const aiColor4D* array : colors)
            for (float f : {array[v].r, array[v].g, array[v].b, array[v].a}) *row++ = f + 0.0f;
    }
    std::vector<bool> used(count);
    for (unsigned f = 0; f < mesh.mNumFaces; ++f)
        for (unsigned i = 0; i < mesh.mFaces[f].mNumIndices && mesh.mFaces[f].mIndices; ++i)
            if (mesh.mFaces[f].mIndices[i] < count) used[mesh.mFaces[f].mIndices[i]] = true;
    // Open addressing over the rows, a slot holding the first vertex of a value + 1: no
    // allocation per vertex, which a node-based map spent as much time on as the hashing.
    auto row = [&](unsigned v) { return &rows[size_t(v) * floats]; };
    auto hash = [&](unsigned v) {
        uint64_t h = 0xcbf29ce484222325ull;
        for (const float* f = row(v); f != row(v) + floats; ++f) {
            uint32_t bits;
            std::memcpy(&bits, f, sizeof bits);
            h = (h ^ bits) * 0x100000001b3ull;
        }
        return h ^ (h >> 29);
    };
    size_t mask = 1;
    while (mask < 2 * size_t(count)) mask <<= 1;
    std::vector<unsigned> slots(mask--, 0);
    std::vector<unsigned> remap(count, 0);
    unsigned joined = 0;
    for (unsigned v = 0; v < count; ++v) {
        if (!used[v]) continue;
        size_t at = hash(v) & mask;
        while (slots[at] && std::memcmp(row(slots[at] - 1), row(v), floats * sizeof(float)) != 0) at = (at + 1) & mask;
        if (!slots[at]) {
            slots[at] = v + 1;
            // Moved down in place: the vertex a new index names never lies past v.
            for (aiVector3D* array : {mesh.mVertices, mesh.mNormals}) if (array) array[joined] = array[v];
            for (aiVector3D* coords : mesh.mTextureCoords) if (coords) coords[joined] = coords[v];
            for (aiColor4D* set : mesh.mColors) if (set) set[joined] = set[v];
            remap[v] = joined++;
        } else {
            remap[v] = remap[slots[at] - 1];
        }
    }
    for (unsigned f = 0; f < mesh.mNumFaces; ++f)
        for (unsigned i = 0; i < mesh.mFaces[f].mNumIndices && mesh.mFaces[f].mIndices; ++i)
            if (mesh.mFaces[f].mIndices[i] < count) mesh.mFaces[f].mIndices[i] = remap[mesh.mFaces[f].mIndices[i]];
    mesh.mNumVertices = joined;  // the arrays keep their size for delete[]
    return true;
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

char ModelSource::UpAxis(int& sign) const {
    int axis = -1, axisSign = 1;
    const aiMetadata* data = scene_ ? scene_->mMetaData : nullptr;
    if (!data || !data->Get("UpAxis", axis) || axis < 0 || axis > 2) return 0;
    data->Get("UpAxisSign", axisSign);
    sign = axisSign < 0 ? -1 : 1;
    return "xyz"[axis];
}

const aiScene* ModelSource::Import(const std::string& path, std::string& error) {
    // Read as the file stands, clean it, then post-process: the normals Assimp generates
    // must come from good triangles only.
    const aiScene* scene = importer_.ReadFile(path, 0);
    if (scene) {
        aiScene& own = *const_cast<aiScene*>(scene);  // the importer's own scene, ours to change until released
        DropNonFinite(own);
        unsigned flags = ImportFlags(path);
        // Normals Assimp generates differ in their last bits around a position, and its join
        // takes those within 1e-5 for one: a file without normals is joined by Assimp.
        bool joinHere = LowerExtension(path) == ".obj";
        for (unsigned m = 0; m < own.mNumMeshes && own.mMeshes; ++m)
            if (own.mMeshes[m] && !own.mMeshes[m]->mNormals) joinHere = false;
        if (joinHere) flags &= ~unsigned(aiProcess_JoinIdenticalVertices);
        scene = importer_.ApplyPostProcessing(flags);
        // Where Assimp joins too: after triangulation and generated normals, which see every
        // corner apart (a polygon naming a vertex twice triangulates otherwise).
        bool joined = true;
        for (unsigned m = 0; joinHere && scene && m < scene->mNumMeshes && scene->mMeshes; ++m)
            if (scene->mMeshes[m]) joined = JoinEqualVertices(*scene->mMeshes[m]) && joined;
        if (scene && !joined) scene = importer_.ApplyPostProcessing(aiProcess_JoinIdenticalVertices);
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
        // The refused reference is why, not what the reader made of its absence.
        if (!access_.Refusals().empty()) error = access_.Refusals().front();
    }
    return scene;
}

bool ModelSource::Read(const std::string& path, std::string& error, const std::filesystem::path& root) {
    error = RegularFileProblem(path);
    if (error.empty()) error = GltfDepthProblem(path);
    if (!error.empty()) return false;
    access_.Allow(path, root);
    importer_.SetIOHandler(new CheckedFileSystem(access_));
    const aiScene* scene = nullptr;
    bool ran = RunOnImportStack([&] {
        try {
            scene = Import(path, error);
        } catch (const std::bad_alloc&) {
            importer_.FreeScene();
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
