// What the tools' own readers of PLY and ASCII STL share: the scene they make and the way
// they take in a file's bytes.
//
// Assimp's readers of these two formats set the peak of a large file's load: its PLY
// reader keeps every value of the file in a generic tree before it copies them to the
// mesh, its ASCII STL reader holds the whole file in memory and grows its vectors by
// doubling. These readers take the file through one fixed buffer and write each value once,
// into arrays sized from counts the file's size has bounded. What they do not cover they
// leave to Assimp (NotMine), so that a file reads as it did. They make the scene Assimp's
// reader would have made, triangulated and of one primitive type, so that ModelSource's
// own steps (DropNonFinite, JoinEqualVertices, WeldFacets, GenerateNormals) follow as
// before and Assimp's post-processing has nothing left to do.
#pragma once

#include <assimp/scene.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace srxconvert {

enum class OwnRead {
    Read,     // the scene is made
    NotMine,  // the file asks for what the reader leaves to Assimp; nothing is made
    Refused,  // the file is broken; the error says how
};

// A scene made by one of the readers. Every face's indices lie in one block: a million
// triangles each with an allocation of its own weighed 32 MB more. The faces let go of the
// block before the scene is deleted, as aiFace deletes its own indices.
class OwnScene {
public:
    OwnScene();
    ~OwnScene();
    OwnScene(const OwnScene&) = delete;
    OwnScene& operator=(const OwnScene&) = delete;

    aiScene& Scene() { return *scene_; }
    // Gives mesh `faceCount` triangles on the block's indices from `first` on, three each.
    // The block is complete by then: it never moves under the faces.
    void MakeTriangles(aiMesh& mesh, size_t first, unsigned faceCount);
    std::vector<unsigned> indices;

private:
    aiScene* scene_;
    // Every face array made on the block, whole: DropNonFinite moves the faces it drops
    // past mNumFaces, where they still name the block.
    std::vector<std::pair<aiFace*, unsigned>> faces_;
};

// The whitespace that parts tokens, line ends included.
inline bool IsBlank(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

// A file's bytes through a buffer of fixed size, never more of it in memory.
class ByteStream {
public:
    // bytes: the file's size, as ModelFileAccess measured it; nothing past it is read.
    ByteStream(FILE* file, uint64_t bytes);
    // At least n bytes (no more than the buffer holds) from Data() on; false when the file
    // ends first.
    bool Need(size_t n) {
        return end_ - at_ >= n || Refill(n);
    }
    const char* Data() const { return buffer_.data() + at_; }
    void Skip(size_t n) { at_ += n; }
    // The bytes not yet taken.
    uint64_t Left() const { return left_ + (end_ - at_); }
    // The next byte, or -1 at the end of the file.
    int Get() { return Need(1) ? static_cast<unsigned char>(buffer_[at_++]) : -1; }
    // The next whitespace-separated token into `token` (at most kMaxToken bytes); false at
    // the end of the file or for a longer token (`tooLong` then says so).
    bool Token(std::string& token, bool& tooLong);
    static constexpr size_t kCapacity = size_t(1) << 20;
    static constexpr size_t kMaxToken = 256;

private:
    bool Refill(size_t n);

    FILE* file_;
    uint64_t left_;  // in the file, not yet in the buffer
    std::vector<char> buffer_;
    size_t at_ = 0, end_ = 0;
};

// A token read as a number the way Assimp's readers read it (its fast_atof: not always the
// nearest float, but the same bits as before, so that a model converts as it did); false
// unless the whole token is one number.
bool ParseReal(const std::string& token, float& value);
bool ParseReal(const std::string& token, double& value);

// The default material Assimp's PLY and STL readers give a mesh: white, two-sided for PLY
// (whose face order is undefined), named and with a dark ambient for STL.
aiMaterial* PlyDefaultMaterial();
aiMaterial* StlDefaultMaterial();

}  // namespace srxconvert
