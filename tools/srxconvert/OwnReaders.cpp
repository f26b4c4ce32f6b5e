#include "OwnReaders.h"

#include <assimp/fast_atof.h>
#include <assimp/material.h>

#include <algorithm>
#include <cstring>

namespace srxconvert {

OwnScene::OwnScene() : scene_(new aiScene) {}

OwnScene::~OwnScene() {
    for (auto [faces, count] : faces_)
        for (unsigned f = 0; f < count; ++f) faces[f].mIndices = nullptr;
    delete scene_;
}

void OwnScene::MakeTriangles(aiMesh& mesh, size_t first, unsigned faceCount) {
    mesh.mPrimitiveTypes = aiPrimitiveType_TRIANGLE;
    mesh.mNumFaces = faceCount;
    mesh.mFaces = new aiFace[faceCount];
    faces_.emplace_back(mesh.mFaces, faceCount);
    for (unsigned f = 0; f < faceCount; ++f) {
        mesh.mFaces[f].mNumIndices = 3;
        mesh.mFaces[f].mIndices = indices.data() + first + 3 * size_t(f);
    }
}

ByteStream::ByteStream(FILE* file, uint64_t bytes) : file_(file), left_(bytes), buffer_(kCapacity) {}

bool ByteStream::Refill(size_t n) {
    if (n > buffer_.size()) return false;
    std::memmove(buffer_.data(), buffer_.data() + at_, end_ - at_);
    end_ -= at_;
    at_ = 0;
    while (end_ < n && left_ > 0) {
        size_t want = size_t(std::min<uint64_t>(left_, buffer_.size() - end_));
        size_t got = std::fread(buffer_.data() + end_, 1, want, file_);
        if (got == 0) {
            left_ = 0;  // shorter than measured: it ends here
            break;
        }
        end_ += got;
        left_ -= got;
    }
    return end_ >= n;
}

bool ByteStream::Token(std::string& token, bool& tooLong) {
    tooLong = false;
    for (;;) {
        while (at_ < end_ && IsBlank(buffer_[at_])) ++at_;
        if (at_ < end_) break;
        if (!Refill(1)) return false;
    }
    // The whole token in the buffer at once, unless the file ends first: scanned in place,
    // not a byte at a time through Need.
    Need(kMaxToken + 1);
    const char* begin = buffer_.data() + at_;
    const char* stop = buffer_.data() + std::min(end_, at_ + kMaxToken + 1);
    const char* after = begin;
    while (after < stop && !IsBlank(*after)) ++after;
    if (size_t(after - begin) > kMaxToken) {
        tooLong = true;
        return false;
    }
    token.assign(begin, after);
    at_ += size_t(after - begin);
    return true;
}

namespace {

// What fast_atof throws at a token that is no number, in place of Assimp's import error.
struct NotANumber {
    template <class... Parts>
    explicit NotANumber(Parts&&...) {}
};

template <class Real>
bool Parse(const std::string& token, Real& value) {
    try {
        const char* end = Assimp::fast_atoreal_move<Real, NotANumber>(token.c_str(), value);
        return !token.empty() && end == token.c_str() + token.size();
    } catch (const NotANumber&) {
        return false;
    }
}

}  // namespace

bool ParseReal(const std::string& token, float& value) { return Parse(token, value); }
bool ParseReal(const std::string& token, double& value) { return Parse(token, value); }

aiMaterial* PlyDefaultMaterial() {
    auto* material = new aiMaterial();
    int mode = aiShadingMode_Gouraud;
    material->AddProperty(&mode, 1, AI_MATKEY_SHADING_MODEL);
    aiColor3D white(1.0f, 1.0f, 1.0f);
    material->AddProperty(&white, 1, AI_MATKEY_COLOR_DIFFUSE);
    material->AddProperty(&white, 1, AI_MATKEY_COLOR_SPECULAR);
    material->AddProperty(&white, 1, AI_MATKEY_COLOR_AMBIENT);
    const int twoSided = 1;
    material->AddProperty(&twoSided, 1, AI_MATKEY_TWOSIDED);
    return material;
}

aiMaterial* StlDefaultMaterial() {
    auto* material = new aiMaterial();
    aiString name(AI_DEFAULT_MATERIAL_NAME);
    material->AddProperty(&name, AI_MATKEY_NAME);
    aiColor4D white(1.0f, 1.0f, 1.0f, 1.0f), ambient(0.05f, 0.05f, 0.05f, 1.0f);
    material->AddProperty(&white, 1, AI_MATKEY_COLOR_DIFFUSE);
    material->AddProperty(&white, 1, AI_MATKEY_COLOR_SPECULAR);
    material->AddProperty(&ambient, 1, AI_MATKEY_COLOR_AMBIENT);
    return material;
}

}  // namespace srxconvert
