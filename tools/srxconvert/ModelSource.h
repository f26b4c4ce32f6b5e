// A model read by Assimp for conversion: the importer that owns the scene, the directory its
// images are looked up in, and what was dropped on the way in. PLY meshes and ASCII STL are
// read by the tools' own readers instead (OwnReaders.h), which make the scene Assimp's would.
//
// Every file Assimp opens (the model and whatever it names: material libraries, buffers,
// external images) goes through ModelFileAccess, and the import runs on a thread with a
// stack for kMaxNodeDepth levels (NodeDepth.h). Faces on vertices that are not finite are
// dropped before normals are made, so the normals of the good triangles around them stay
// good; normals that are not finite (or all 0) are made again, texture coordinates that are
// not finite become 0.
#pragma once

#include "ModelFileAccess.h"
#include "OwnReaders.h"

#include <assimp/Importer.hpp>
#include <assimp/scene.h>

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

namespace srxconvert {

class ModelSource {
public:
    // False with the reason (one line: a refused reference, a hierarchy too deep, or
    // Assimp's own) when the file cannot be read. root: a folder outside the model's own
    // whose files it may name (empty: none).
    bool Read(const std::string& path, std::string& error, const std::filesystem::path& root = {});

    const aiScene& Scene() const { return *scene_; }
    const std::filesystem::path& Directory() const { return directory_; }
    const std::string& Path() const { return path_; }
    size_t DroppedTriangles() const { return droppedTriangles_; }
    size_t RecomputedNormals() const { return recomputedNormals_; }  // meshes
    size_t ZeroedTexCoords() const { return zeroedTexCoords_; }
    // The file's up axis as its metadata gives it (FBX's UpAxis, 0 to 2, and UpAxisSign):
    // 'x', 'y' or 'z', or 0 when it says nothing; sign is -1 or 1.
    char UpAxis(int& sign) const;
    // Every file read for the model, and the references refused on the way.
    ModelFileAccess& Access() const { return access_; }

private:
    void DropNonFinite(aiScene& scene);
    const aiScene* Import(const std::string& path, std::string& error);
    // The tools' own reader of the file's format, where it has one (PLY, ASCII STL).
    OwnRead ReadOwn(const std::string& path, std::string& error);

    mutable ModelFileAccess access_;  // images are read through it after the import
    Assimp::Importer importer_;
    std::unique_ptr<OwnScene> own_;  // the scene, when an own reader made it
    const aiScene* scene_ = nullptr;
    std::filesystem::path directory_;
    std::string path_;
    size_t droppedTriangles_ = 0, recomputedNormals_ = 0, zeroedTexCoords_ = 0;
};

// Assimp's own post-processing that gives the scene ModelSource reads, short of the
// differences MeshVertices.h names: triangulated polygons, joined identical vertices, one
// primitive type per mesh (so lines and points stand apart and are dropped), and smooth
// normals where the file has none. Nothing that changes handedness. Assimp's own
// validation is left out, as it refuses a scene without meshes as unreadable where
// srxconvert reports an empty scene; the conversion checks every count and index it follows
// instead. glTF and PLY files hold indexed vertices already, which their readers keep:
// joining identical vertices there only finds what a careless exporter duplicated, so it is
// left out for them. ModelSource asks Assimp for the triangulation and the sorting by
// primitive type only, and joins vertices and makes normals with MeshVertices.h: Assimp's
// spatial sort of every vertex for both took most of a large file's load. Assimp's steps
// still take what those leave alone: the join of a mesh with bones, tangents or morph
// targets, the normals of a mesh with morph targets. The tests read their reference scenes
// with these flags.
unsigned ImportFlags(const std::string& path);

}  // namespace srxconvert
