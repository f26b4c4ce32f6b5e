// srxconvert's conversion: a scene Assimp reads, written as an SRX file the engine loads
// unchanged, with the images its materials name next to it.
//
// What the engine does on loading decides what is written:
// - It negates z of positions and normals and reverses each triangle, which turns a
//   right-handed source with counter-clockwise front faces (Assimp's convention for every
//   format) into the same picture in its left-handed space. Vertices and triangles are
//   therefore written as Assimp gives them. Matrices and track keys it takes as they stand,
//   so each is mirrored to act on z-negated vertices: with F = diag(1, 1, -1, 1), a matrix
//   M becomes F M F.
// - It applies no parent transforms: a node's matrix is its global transform.
// - It animates nodes only through sampled-transform tracks (position and rotation, no
//   scale) and only for skinned meshes; an unskinned renderable keeps its node's matrix.
//   So a mesh with bones, or on a node that the animation moves, is written skinned (the
//   latter rigidly, on one bone: its own node), and every bone node gets a track, held
//   still when it does not move. A bone's scale at the first key goes into its offset
//   matrix; scale that changes over time cannot be kept and is reported.
// - Skinned geometry reaches model space through the palette alone, yet the renderable
//   still multiplies by its mesh node's matrix: a skinned mesh therefore hangs from a node
//   with the identity matrix (its own node when that is the identity, else an added one).
// - Lines and points go into LNPT chunks as line and point lists in the frame of their
//   node (strips and loops arrive from Assimp as separate segments, loops closed). On a
//   node the animation moves they follow its track rigidly, with its scale in their
//   placement as a bone's is in its offset; a skinned mesh's lines and points follow its
//   node, not their vertices' bones.
// - One primitive holds at most 65535 vertices and 65535 triangles, one palette 48 bones:
//   larger meshes are split into several SRX meshes.
#pragma once

#include "BytePieces.h"
#include "GltfMaterials.h"
#include "ImageExport.h"
#include "ModelSource.h"

#include <assimp/scene.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace srxconvert {

struct ConvertOptions {
    float scale = 1.0f;           // uniform scale applied to the whole scene
    int animation = -1;           // -1: the first animation, if any
    double ticksPerSecond = 0.0;  // 0: the whole animation on one clock cycle (NodeAnimation.h)
    std::filesystem::path root;   // a folder besides the model's own whose files it may name
    // For a viewer, which has no baked light: a material whose ambient colour is black takes
    // its diffuse colour instead, so that the engine's sky light reaches it.
    bool ambientFloor = false;
    // For a viewer: a mesh whose normals point against its faces' winding (into the model)
    // on most of its triangles gets them turned, so that its outside is lit.
    bool turnInwardNormals = false;
    // Ranges the model file states for its lights where Assimp drops them, by light index
    // (NaN: none); ConvertModel fills them from the file (LightConversion.h).
    std::vector<float> lightRanges;
    // For a glTF file, which materials state their metalness (GltfMaterials.h): Assimp gives
    // glTF's default metallic factor of 1 to all the others. ConvertModel fills both.
    bool gltf = false;
    std::vector<GltfMetalness> statedMetalness;
};

struct ConvertReport {
    size_t materials = 0, nodes = 0, addedNodes = 0, lights = 0;
    size_t meshes = 0, skinnedMeshes = 0, vertices = 0, triangles = 0, bones = 0;
    size_t splitSources = 0;  // source meshes written as more than one SRX mesh
    size_t lines = 0, points = 0;  // written, drawn unlit
    size_t droppedLines = 0, droppedPoints = 0, droppedPolygons = 0;
    size_t nonFiniteTriangles = 0;  // dropped, as they use vertices that are not finite
    size_t tracks = 0, keysPerTrack = 0;
    std::string animationName;
    double animationSeconds = 0.0;
    uint32_t lastTick = 0;
    bool animated = false;
    std::vector<std::string> turnedNormals;  // meshes whose inward normals were turned
    std::vector<std::string> images;    // file names written next to the SRX file
    std::vector<std::string> missingImages;  // texture paths the model names that could not be kept
    std::vector<std::string> warnings;  // what was converted with a loss, one line each
    // What the materials ask for beyond diffuse and normal maps that is drawn, one line per
    // kind naming the materials ("drawn: emission: 'lamp'"; "approximated: metal/roughness:
    // 'gold'" for what is drawn on the engine's own terms).
    std::vector<std::string> features;
};

enum class ConvertStatus { Ok, NoSuchAnimation, OutputIsInput, Unreadable, Unsupported, Unwritable };

struct ConvertResult {
    ConvertStatus status = ConvertStatus::Ok;
    std::string message;  // why, when not Ok
};

// A converted model in memory: the SRX file's bytes and the images it names.
struct ConvertedModel {
    BytePieces srx;
    std::vector<ModelImage> images;
};

// Reads input, converts it and writes OUTPUT with its images beside it, all or nothing
// (OutputFiles.h). An output that is any file the model was read from (the model, its
// material library, buffers or images, under any name) is refused; an image output that
// is its own source with the same bytes is left as it is.
ConvertResult ConvertFile(const std::string& input, const std::string& output, const ConvertOptions& options,
                          ConvertReport& report);

// The conversion of a model already read, in memory; outputStem names embedded images
// that have no name of their own.
ConvertResult ConvertModel(const ModelSource& source, const std::string& outputStem, const ConvertOptions& options,
                           ConvertReport& report, ConvertedModel& out);

// The same for any scene; image paths resolve against modelDirectory and are read through access.
ConvertResult ConvertScene(const aiScene& scene, const std::filesystem::path& modelDirectory, ModelFileAccess& access,
                           const std::string& outputStem, const ConvertOptions& options, ConvertReport& report,
                           ConvertedModel& out);

}  // namespace srxconvert
