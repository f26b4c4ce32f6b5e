// What the PLY and ASCII STL fuzz targets check of a scene an own reader made: every corner
// of every face names a vertex of its mesh, and every mesh hangs on a node.
#pragma once

#include "OwnReaders.h"

#include <cstdio>
#include <cstdlib>

namespace lumaret::fuzz {

template <class Read>
void CheckOwnRead(const uint8_t* data, size_t size, Read read) {
    if (size == 0) return;
    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!file) return;
    srxconvert::OwnScene own;
    std::string error;
    srxconvert::OwnRead result = read(file, uint64_t(size), own, error);
    std::fclose(file);
    if (result == srxconvert::OwnRead::Refused && error.empty()) std::abort();
    if (result != srxconvert::OwnRead::Read) return;
    const aiScene& scene = own.Scene();
    if (!scene.mRootNode || scene.mNumMaterials == 0) std::abort();
    for (unsigned m = 0; m < scene.mNumMeshes; ++m) {
        const aiMesh& mesh = *scene.mMeshes[m];
        for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
            const aiFace& face = mesh.mFaces[f];
            if (face.mNumIndices != 3) std::abort();
            for (unsigned k = 0; k < 3; ++k)
                if (face.mIndices[k] >= mesh.mNumVertices) std::abort();
        }
    }
}

}  // namespace lumaret::fuzz
