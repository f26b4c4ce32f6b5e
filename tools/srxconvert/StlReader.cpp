#include "StlReader.h"

#include <cstring>
#include <new>

namespace srxconvert {

namespace {

// Arrays the mesh deletes with delete[], made without touching their memory: the file's
// size bounds the vertices from above, several times over for a real file, and only the
// pages the vertices fill become resident. aiVector3D is trivially destructible, so
// delete[] of it frees what operator new[] gave.
aiVector3D* Uncommitted(size_t count) { return static_cast<aiVector3D*>(::operator new[](count * sizeof(aiVector3D))); }

bool IsSpace(int c) { return c == ' ' || c == '\t'; }

class StlRead {
public:
    StlRead(ByteStream& in, uint64_t bytes, OwnScene& out, std::string& error)
        : in_(in), bytes_(bytes), out_(out), error_(error) {}

    ~StlRead() {
        ::operator delete[](positions_);
        ::operator delete[](normals_);
    }

    OwnRead Run() {
        if (LooksBinary()) return OwnRead::NotMine;
        // A facet takes at least 57 bytes ("facet normal 0 0 0" and three "vertex 0 0 0").
        capacity_ = size_t(bytes_ / 19 + 3);
        positions_ = Uncommitted(capacity_);
        normals_ = Uncommitted(capacity_);
        SkipSpaces();
        if (!StartsSolid()) return OwnRead::NotMine;
        do {
            OwnRead read = Solid();
            if (read != OwnRead::Read) return read;
            while (in_.Need(1) && IsBlank(in_.Data()[0])) in_.Skip(1);
            SkipSpaces();
        } while (StartsSolid());
        return Finish();
    }

private:
    // Assimp takes a file for binary STL when its size is that of the facet count at byte
    // 80, and leaves it alone when it has bytes that are not text near its start.
    bool LooksBinary() {
        size_t head = size_t(std::min<uint64_t>(bytes_, 500));
        if (!in_.Need(head)) return true;
        const unsigned char* data = reinterpret_cast<const unsigned char*>(in_.Data());
        if (bytes_ >= 84) {
            uint32_t facets = uint32_t(data[80]) | uint32_t(data[81]) << 8 | uint32_t(data[82]) << 16 |
                              uint32_t(data[83]) << 24;
            if (84 + 50 * uint64_t(facets) == bytes_) return true;
        }
        for (size_t i = 0; i < head; ++i)
            if (data[i] == 0 || data[i] > 127) return true;
        return false;
    }

    void SkipSpaces() {
        while (in_.Need(1) && IsSpace(in_.Data()[0])) in_.Skip(1);
    }

    bool StartsSolid() { return in_.Need(5) && std::memcmp(in_.Data(), "solid", 5) == 0; }

    // The rest of the line: after `solid` its name, after `endsolid` nothing.
    std::string Word() {
        SkipSpaces();
        std::string word;
        while (in_.Need(1) && !IsBlank(in_.Data()[0])) {
            word.push_back(in_.Data()[0]);
            in_.Skip(1);
        }
        return word;
    }

    bool Number(float& value) {
        bool tooLong = false;
        return in_.Token(token_, tooLong) && ParseReal(token_, value);
    }

    OwnRead BadNumber(const char* what) {
        error_ = "its ASCII STL facet " + std::to_string(facets_) + " holds '" + token_.substr(0, 32) +
                 "' where a number of its " + what + " belongs";
        return OwnRead::Refused;
    }

    // The facet before this point is whole.
    OwnRead CloseFacet() {
        if (open_ && corners_ != 3) {
            error_ = "its ASCII STL facet " + std::to_string(facets_) + " has " + std::to_string(corners_) +
                     " vertices, not 3";
            return OwnRead::Refused;
        }
        open_ = false;
        return OwnRead::Read;
    }

    OwnRead Solid() {
        in_.Skip(5);
        std::string name = Word();
        if (name.size() >= MAXLEN) return OwnRead::NotMine;  // Assimp refuses it in its own words
        solids_.push_back({count_, 0, std::move(name)});
        bool tooLong = false;
        while (in_.Token(token_, tooLong)) {
            if (token_ == "facet") {
                if (CloseFacet() != OwnRead::Read) return OwnRead::Refused;
                if (!in_.Token(token_, tooLong) || token_ != "normal") return OwnRead::NotMine;
                ++facets_;
                open_ = true;
                corners_ = 0;
                if (!Number(normal_.x) || !Number(normal_.y) || !Number(normal_.z)) return BadNumber("normal");
            } else if (token_ == "vertex") {
                if (!open_ || corners_ == 3) return OwnRead::NotMine;
                if (count_ == capacity_) return OwnRead::NotMine;  // cannot be: the size bounds it
                aiVector3D& p = positions_[count_];
                if (!Number(p.x) || !Number(p.y) || !Number(p.z)) return BadNumber("vertex");
                normals_[count_++] = normal_;
                ++corners_;
            } else if (token_.starts_with("endsolid")) {
                while (in_.Need(1) && in_.Data()[0] != '\n') in_.Skip(1);
                break;
            }
            // Anything else (outer loop, endloop, endfacet) Assimp passes over too.
        }
        if (tooLong) return OwnRead::NotMine;
        if (CloseFacet() != OwnRead::Read) return OwnRead::Refused;
        solids_.back().end = count_;
        if (solids_.back().end == solids_.back().begin) return OwnRead::NotMine;
        return OwnRead::Read;
    }

    OwnRead Finish() {
        aiScene& scene = out_.Scene();
        out_.indices.resize(count_);
        const unsigned meshCount = unsigned(solids_.size());
        scene.mMeshes = new aiMesh*[meshCount]();
        scene.mNumMeshes = meshCount;
        scene.mRootNode = new aiNode();
        scene.mRootNode->mChildren = new aiNode*[meshCount]();
        scene.mRootNode->mNumChildren = meshCount;
        for (unsigned m = 0; m < meshCount; ++m) {
            const SolidRange& solid = solids_[m];
            const unsigned vertices = unsigned(solid.end - solid.begin);
            aiMesh* mesh = scene.mMeshes[m] = new aiMesh();
            mesh->mMaterialIndex = 0;
            mesh->mNumVertices = vertices;
            if (meshCount == 1) {  // the arrays as they are, unused room and all
                mesh->mVertices = positions_;
                mesh->mNormals = normals_;
                positions_ = normals_ = nullptr;
            } else {
                mesh->mVertices = new aiVector3D[vertices];
                mesh->mNormals = new aiVector3D[vertices];
                std::memcpy(mesh->mVertices, positions_ + solid.begin, vertices * sizeof(aiVector3D));
                std::memcpy(mesh->mNormals, normals_ + solid.begin, vertices * sizeof(aiVector3D));
            }
            for (unsigned v = 0; v < vertices; ++v) out_.indices[solid.begin + v] = v;
            out_.MakeTriangles(*mesh, solid.begin, vertices / 3);
            aiNode* node = scene.mRootNode->mChildren[m] = new aiNode();
            node->mParent = scene.mRootNode;
            node->mNumMeshes = 1;
            node->mMeshes = new unsigned[1]{m};
            if (solid.name.empty()) {
                scene.mRootNode->mName.Set("<STL_ASCII>");
            } else {
                node->mName.Set(solid.name);
                mesh->mName.Set(solid.name);
            }
        }
        scene.mNumMaterials = 1;
        scene.mMaterials = new aiMaterial*[1]{StlDefaultMaterial()};
        return OwnRead::Read;
    }

    struct SolidRange {
        size_t begin, end;
        std::string name;
    };

    ByteStream& in_;
    uint64_t bytes_;
    OwnScene& out_;
    std::string& error_;
    std::string token_;
    aiVector3D* positions_ = nullptr;
    aiVector3D* normals_ = nullptr;
    size_t capacity_ = 0, count_ = 0;
    aiVector3D normal_;
    bool open_ = false;
    unsigned corners_ = 0;
    uint64_t facets_ = 0;
    std::vector<SolidRange> solids_;
};

}  // namespace

OwnRead ReadAsciiStl(FILE* file, uint64_t bytes, OwnScene& out, std::string& error) {
    ByteStream in(file, bytes);
    return StlRead(in, bytes, out, error).Run();
}

}  // namespace srxconvert
