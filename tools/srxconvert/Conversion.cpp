#include "Conversion.h"
#include "GltfLights.h"
#include "LightConversion.h"

#include "MeshSplit.h"
#include "NodeDepth.h"
#include "NodeAnimation.h"
#include "OutputFiles.h"
#include "import/SrxWriter.h"

#include <assimp/GltfMaterial.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <memory>

namespace srxconvert {

namespace fs = std::filesystem;

namespace {

constexpr uint16_t kNoParent = 0xFFFF;
constexpr size_t kMaxNodes = 0xFFFF;   // ids are 16 bits and 0xFFFF marks the root's parent
constexpr size_t kMaxMaterials = 256;  // a primitive names its material in 8 bits
constexpr float kIdentityTolerance = 1e-5f;
constexpr float kScaleTolerance = 1e-4f;

// F M F with F = diag(1, 1, -1, 1): the matrix that acts on z-negated points as M acts on
// the originals. Negates the elements of the third row and the third column except their
// common element.
aiMatrix4x4 Mirror(const aiMatrix4x4& m) {
    aiMatrix4x4 out = m;
    for (int i = 0; i < 4; ++i) {
        if (i == 2) continue;
        out[2][i] = -out[2][i];
        out[i][2] = -out[i][2];
    }
    return out;
}

// Row by row in the row-vector convention: the transpose of Assimp's column-vector matrix.
void StoreRowVector(const aiMatrix4x4& m, float* out) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) out[4 * r + c] = static_cast<float>(m[c][r]);
}

bool Finite(const float* values, size_t count) {
    return std::all_of(values, values + count, [](float v) { return std::isfinite(v); });
}

bool Finite(const aiVector3D& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// Metal/roughness on the engine's terms (README "Materials"): a metal's base colour becomes
// its specular colour and leaves its diffuse one, and half of it stands in as ambient for
// the surroundings a metal reflects; a dielectric keeps its colour and reflects 4 %. The
// light pass fixes how sharp a highlight is, so roughness only dims it.
void ApproximateMetalRoughness(SrxMaterial& m) {
    float smooth = (1.0f - m.roughness) * (1.0f - m.roughness);
    for (int c = 0; c < 3; ++c) {
        float base = m.diffuse[c];
        float reflectance = 0.04f + (base - 0.04f) * m.metallic;
        m.diffuse[c] = base * (1.0f - m.metallic);
        m.ambient[c] = m.ambient[c] * (1.0f - m.metallic) + 0.5f * reflectance * m.metallic;
        m.specular[c] = reflectance * smooth;
    }
}

bool IsIdentity(const aiMatrix4x4& m) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (std::fabs(m[r][c] - (r == c ? 1.0f : 0.0f)) > kIdentityTolerance) return false;
    return true;
}

void SetName(char (&field)[srx::StringFieldSize], const std::string& text) {
    std::memset(field, 0, sizeof(field));
    std::memcpy(field, text.data(), std::min(text.size(), sizeof(field) - 1));
}

void SetColor(const aiMaterial& material, const char* key, unsigned type, unsigned index, float (&out)[3],
              const float (&fallback)[3]) {
    aiColor3D color;
    bool found = material.Get(key, type, index, color) == aiReturn_SUCCESS;
    out[0] = found ? color.r : fallback[0];
    out[1] = found ? color.g : fallback[1];
    out[2] = found ? color.b : fallback[2];
}

std::string TexturePath(const aiMaterial& material, std::initializer_list<aiTextureType> types) {
    for (aiTextureType type : types) {
        aiString path;
        if (material.GetTextureCount(type) > 0 && material.GetTexture(type, 0, &path) == aiReturn_SUCCESS &&
            path.length > 0)
            return path.C_Str();
    }
    return {};
}

// True when most triangles' vertex normals point against the face their winding makes
// (counter-clockwise is the front in Assimp's convention): the normals point into the model.
bool NormalsPointIn(const aiMesh& mesh, const std::vector<uint32_t>& triangles) {
    if (!mesh.mNormals) return false;
    size_t against = 0, counted = 0;
    for (size_t t = 0; t + 2 < triangles.size(); t += 3) {
        const aiVector3D &a = mesh.mVertices[triangles[t]], &b = mesh.mVertices[triangles[t + 1]],
                         &c = mesh.mVertices[triangles[t + 2]];
        aiVector3D face = (b - a) ^ (c - a);
        aiVector3D normal =
            mesh.mNormals[triangles[t]] + mesh.mNormals[triangles[t + 1]] + mesh.mNormals[triangles[t + 2]];
        float agreement = face * normal;
        if (!std::isfinite(agreement) || agreement == 0.0f) continue;
        ++counted;
        against += agreement < 0.0f ? 1 : 0;
    }
    return counted > 0 && against * 2 > counted;
}

// A bone of one source mesh: the node it follows and its offset, both in the engine's frame.
struct BoneSource {
    int node = 0;
    aiMatrix4x4 offset;
};

class SceneConversion {
public:
    SceneConversion(const aiScene& scene, const fs::path& modelDirectory, ModelFileAccess& access,
                    const std::string& outputStem, const ConvertOptions& options, ConvertReport& report)
        : scene_(scene), options_(options), report_(report), images_(scene, modelDirectory, outputStem, access) {}

    ConvertResult Run(ConvertedModel& out);

private:
    std::vector<const aiMesh*> MeshesOf(size_t node) const;
    ConvertResult CountGeometry();
    void BuildMaterials();
    void ReadMaterialFeatures(const aiMaterial& source, SrxMaterial& material, const std::string& name,
                              const std::function<std::string(const std::string&)>& exportImage);
    void NoteVertexColors();
    void BuildNodes();
    void BuildMesh(int node, const aiMesh& mesh);
    void BuildLinesPoints(int node, const aiMesh& mesh);
    void AddMorphTargets(const aiMesh& mesh, int node, const MeshPart& part, float normalSign,
                         SrxPrimitive& primitive);
    void WriteMeshPart(const aiMesh& mesh, int meshNode, const MeshPart& part, const std::vector<BoneSource>& bones,
                       const std::vector<Influences>& influences, bool turnNormals);
    void BuildTracks();
    // A colour that is not a number draws white, as a mesh without colours does.
    std::array<uint8_t, 4> ColorBytes(const aiColor4D& c) {
        const float channels[4] = {c.r, c.g, c.b, c.a};
        std::array<uint8_t, 4> out;
        for (size_t i = 0; i < 4; ++i) {
            nanColors_ += std::isnan(channels[i]) ? 1 : 0;
            out[i] = std::isnan(channels[i]) ? 255
                                             : static_cast<uint8_t>(std::clamp(channels[i], 0.0f, 1.0f) * 255.0f + 0.5f);
        }
        return out;
    }
    size_t DropNonFiniteMeshes();
    void CountMeshes();
    uint16_t SkinNode(int node);
    aiMatrix4x4 EngineGlobal(const aiMatrix4x4& global) const;

    const aiScene& scene_;
    const ConvertOptions& options_;
    ConvertReport& report_;
    ImageExport images_;
    NodeTable table_;
    const aiAnimation* animation_ = nullptr;
    std::unique_ptr<PoseSampler> pose_;
    std::vector<aiMatrix4x4> rest_;  // rest globals in the engine's frame
    std::vector<SrxMaterial> materials_;
    std::vector<SrxNode> nodes_;
    std::vector<bool> tracked_;
    std::vector<aiVector3D> trackScale_;  // per tracked node: the scale its keys leave out
    std::map<int, uint16_t> skinNodes_;
    std::map<std::string, std::vector<std::string>> notDrawn_;  // kind -> quoted material or mesh names
    std::map<std::string, std::vector<std::string>> drawn_;     // the same for what is drawn
    std::map<std::string, std::vector<std::string>> approximated_;  // and for what is drawn approximately
    unsigned materialIndex_ = 0;                                    // of the material being read
    size_t nanColors_ = 0;                                      // vertex colour values drawn as 1
    std::vector<SrxMesh> meshes_;  // their vertices, indices, colours and morph targets already in meshBytes_
    // Per SRX mesh: its primitives as the file holds them (SrxWriter::Primitives).
    std::vector<std::vector<uint8_t>> meshBytes_;
    std::vector<SrxLinesPoints> linesPoints_;
    TickMapping morphTicks_;  // the ticks morph weights are sampled at: the node tracks'
    // Per SRX mesh: the offsets of its bones in the engine's frame, before the bone scale
    // is folded in.
    std::vector<std::vector<aiMatrix4x4>> offsets_;
};

aiMatrix4x4 SceneConversion::EngineGlobal(const aiMatrix4x4& global) const {
    aiMatrix4x4 scale;
    aiMatrix4x4::Scaling(aiVector3D(options_.scale), scale);
    return Mirror(scale * global);
}

// A point cloud: vertices without faces (PLY and OBJ clouds), each vertex a point. A mesh
// whose faces were all dropped (ModelSource::DropNonFinite) keeps its face array, so it
// is none.
bool IsPointCloud(const aiMesh& mesh) {
    return !mesh.mFaces && mesh.mNumFaces == 0 && mesh.mVertices && mesh.mNumVertices > 0;
}

// The meshes a node names that exist and have faces to read, or are point clouds.
std::vector<const aiMesh*> SceneConversion::MeshesOf(size_t node) const {
    std::vector<const aiMesh*> meshes;
    const aiNode& n = *table_.nodes[node];
    for (unsigned k = 0; k < n.mNumMeshes && n.mMeshes; ++k) {
        unsigned index = n.mMeshes[k];
        const aiMesh* mesh = index < scene_.mNumMeshes ? scene_.mMeshes[index] : nullptr;
        if (mesh && (mesh->mFaces || IsPointCloud(*mesh))) meshes.push_back(mesh);
    }
    return meshes;
}

ConvertResult SceneConversion::CountGeometry() {
    size_t triangles = 0, lines = 0, points = 0;
    for (size_t n = 0; n < table_.nodes.size(); ++n)
        for (const aiMesh* source : MeshesOf(n)) {
            const aiMesh& mesh = *source;
            if (IsPointCloud(mesh)) points += mesh.mNumVertices;
            for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
                unsigned n = mesh.mFaces[f].mNumIndices;
                if (n == 3)
                    ++triangles;
                else if (n == 2)
                    ++lines;
                else if (n == 1)
                    ++points;
                else
                    ++report_.droppedPolygons;
            }
        }
    if (triangles + lines + points > 0) return {};
    std::string message = scene_.mNumMeshes == 0 ? "the scene has no meshes" : "the scene has no triangles, lines or points";
    if (report_.nonFiniteTriangles)
        message +=
            " (" + std::to_string(report_.nonFiniteTriangles) + " triangles dropped: their vertices are not finite)";
    return {ConvertStatus::Unsupported, message};
}

// A mesh's two- and one-index faces as a line list and a point list, each vertex in its
// colour; faces that name a vertex the mesh lacks or one that is not finite are dropped.
void SceneConversion::BuildLinesPoints(int node, const aiMesh& mesh) {
    SrxLinesPoints sets[2];
    size_t* dropped[2] = {&report_.droppedLines, &report_.droppedPoints};
    for (int k = 0; k < 2; ++k) {
        sets[k].node = static_cast<uint16_t>(node);
        sets[k].kind = k == 0 ? srx::LinesPointsLines : srx::LinesPointsPoints;
        // No format Assimp reads gives a size; one pixel loses a sparse cloud in the picture.
        sets[k].pointSize = 3.0f;
        sets[k].material = mesh.mMaterialIndex < materials_.size() ? static_cast<uint8_t>(mesh.mMaterialIndex) : 0;
        // On a node the animation moves they follow it, as its triangles do on their one
        // bone; the placement takes the node's scale once the tracks are made.
        sets[k].follows = pose_->Moving()[static_cast<size_t>(node)];
    }
    auto add = [&](int k, unsigned count, const unsigned* indices) {
        bool valid = true;
        for (unsigned i = 0; i < count; ++i)
            valid = valid && indices[i] < mesh.mNumVertices && Finite(mesh.mVertices[indices[i]]);
        if (!valid) {
            ++*dropped[k];
            return;
        }
        for (unsigned i = 0; i < count; ++i) {
            const aiVector3D& p = mesh.mVertices[indices[i]];
            sets[k].positions.push_back({p.x, p.y, p.z});
            if (mesh.mColors[0]) sets[k].colors.push_back(ColorBytes(mesh.mColors[0][indices[i]]));
        }
    };
    for (unsigned f = 0; f < mesh.mNumFaces && mesh.mVertices; ++f) {
        const aiFace& face = mesh.mFaces[f];
        if ((face.mNumIndices == 1 || face.mNumIndices == 2) && face.mIndices)
            add(face.mNumIndices == 2 ? 0 : 1, face.mNumIndices, face.mIndices);
    }
    if (IsPointCloud(mesh))
        for (unsigned v = 0; v < mesh.mNumVertices; ++v) add(1, 1, &v);
    std::string quoted = "'" + std::string(mesh.mName.C_Str()) + "'";
    for (SrxLinesPoints& set : sets) {
        if (set.positions.empty()) continue;
        (set.kind == srx::LinesPointsLines ? report_.lines : report_.points) +=
            set.kind == srx::LinesPointsLines ? set.positions.size() / 2 : set.positions.size();
        std::vector<std::string>& names =
            drawn_[set.kind == srx::LinesPointsLines ? "lines, unlit" : "points, unlit"];
        if (std::find(names.begin(), names.end(), quoted) == names.end()) names.push_back(quoted);
        linesPoints_.push_back(std::move(set));
    }
}

void SceneConversion::BuildMaterials() {
    static const float kBlack[3] = {0.0f, 0.0f, 0.0f}, kWhite[3] = {1.0f, 1.0f, 1.0f};
    // A primitive must name a material: a scene without any gets one plain white one.
    static const aiMaterial kPlain;
    for (unsigned m = 0; m < std::max(scene_.mNumMaterials, 1u); ++m) {
        const aiMaterial& source = m < scene_.mNumMaterials && scene_.mMaterials[m] ? *scene_.mMaterials[m] : kPlain;
        SrxMaterial& material = materials_.emplace_back();
        aiString name;
        std::string text = source.Get(AI_MATKEY_NAME, name) == aiReturn_SUCCESS && name.length > 0
                               ? std::string(name.C_Str())
                               : "material" + std::to_string(m);
        SetName(material.name, text);
        SetColor(source, AI_MATKEY_COLOR_DIFFUSE, material.diffuse, kWhite);
        // Without an ambient colour (glTF has none) the surface takes its diffuse colour
        // under the engine's sky light, rather than turning black where the light is not.
        SetColor(source, AI_MATKEY_COLOR_AMBIENT, material.ambient, material.diffuse);
        if (options_.ambientFloor && material.ambient[0] == 0.0f && material.ambient[1] == 0.0f &&
            material.ambient[2] == 0.0f)
            std::copy(std::begin(material.diffuse), std::end(material.diffuse), material.ambient);
        SetColor(source, AI_MATKEY_COLOR_SPECULAR, material.specular, kBlack);

        std::string where = "material '" + text + "': ";
        std::vector<std::string> warnings;
        std::string diffuse, normal;
        std::function<std::string(const std::string&)> exportImage = [&](const std::string& path) {
            std::string name = images_.Export(path, warnings);
            std::vector<std::string>& missing = report_.missingImages;
            if (name.empty() && std::find(missing.begin(), missing.end(), path) == missing.end())
                missing.push_back(path);
            return name;
        };
        materialIndex_ = m;
        ReadMaterialFeatures(source, material, text, exportImage);
        if (std::string path = TexturePath(source, {aiTextureType_DIFFUSE, aiTextureType_BASE_COLOR}); !path.empty())
            diffuse = exportImage(path);
        if (std::string path = TexturePath(source, {aiTextureType_NORMALS, aiTextureType_HEIGHT}); !path.empty())
            normal = exportImage(path);
        for (const std::string& warning : warnings) report_.warnings.push_back(where + warning);
        if (!normal.empty() && diffuse.empty()) diffuse = srx::EngineWhiteMap;
        if (!diffuse.empty()) {
            material.mapMask |= srx::MapDiffuse;
            material.maps[0] = diffuse;
        }
        if (!normal.empty()) {
            material.mapMask |= srx::MapNormal;
            material.maps[1] = normal;
        }
    }
    report_.materials = materials_.size();
    report_.images = images_.Names();
}

// Transparency, cut-outs, emission, two-sided faces, metal/roughness factors and the texture
// transforms of the maps: the material's extension, written only when one differs from
// what the plain record draws, so a model without any converts to the same bytes as before.
void SceneConversion::ReadMaterialFeatures(const aiMaterial& source, SrxMaterial& material, const std::string& name,
                                           const std::function<std::string(const std::string&)>& exportImage) {
    std::string quoted = "'" + name + "'";
    aiString alphaMode;
    bool gltfMode = source.Get(AI_MATKEY_GLTF_ALPHAMODE, alphaMode) == aiReturn_SUCCESS;
    float opacity = 1.0f;
    aiColor4D base;
    if (source.Get(AI_MATKEY_BASE_COLOR, base) == aiReturn_SUCCESS)
        opacity = base.a;
    else
        source.Get(AI_MATKEY_OPACITY, opacity);
    material.baseColor[0] = material.diffuse[0];
    material.baseColor[1] = material.diffuse[1];
    material.baseColor[2] = material.diffuse[2];
    material.baseColor[3] = opacity;
    bool opacityMap = source.GetTextureCount(aiTextureType_OPACITY) > 0;
    if (gltfMode && alphaMode == aiString("MASK")) {
        material.flags |= srx::MaterialAlphaMask;
        source.Get(AI_MATKEY_GLTF_ALPHACUTOFF, material.alphaCutoff);
    } else if (gltfMode && alphaMode == aiString("BLEND")) {
        material.flags |= srx::MaterialAlphaBlend;
    } else if (gltfMode) {
        material.baseColor[3] = 1.0f;  // OPAQUE: alpha is ignored
    } else if (opacityMap) {
        // An opacity map (OBJ map_d) cuts its shape out; a material-wide opacity blends.
        material.flags |= srx::MaterialAlphaMask;
    } else if (opacity < 1.0f) {
        material.flags |= srx::MaterialAlphaBlend;
    }
    int twoSided = 0;
    if (source.Get(AI_MATKEY_TWOSIDED, twoSided) == aiReturn_SUCCESS && twoSided)
        material.flags |= srx::MaterialDoubleSided;
    aiColor3D emissive(0.0f, 0.0f, 0.0f);
    float strength = 1.0f;
    source.Get(AI_MATKEY_COLOR_EMISSIVE, emissive);
    source.Get(AI_MATKEY_EMISSIVE_INTENSITY, strength);
    material.emissive[0] = emissive.r * strength;
    material.emissive[1] = emissive.g * strength;
    material.emissive[2] = emissive.b * strength;
    if (source.Get(AI_MATKEY_METALLIC_FACTOR, material.metallic) == aiReturn_SUCCESS) {
        material.flags |= srx::MaterialMetalRoughness;
        source.Get(AI_MATKEY_ROUGHNESS_FACTOR, material.roughness);
    }

    // glTF's metallicRoughnessTexture is Assimp's UNKNOWN map (which it names as the
    // metalness and the roughness map too), metalness in blue and roughness in green. Other
    // formats give a metalness and a roughness map apart (OBJ map_Pm and map_Pr), and
    // their UNKNOWN maps are anything but.
    const aiTextureType metalType = options_.gltf ? aiTextureType_UNKNOWN : aiTextureType_METALNESS;
    const aiTextureType roughType = options_.gltf ? aiTextureType_NONE : aiTextureType_DIFFUSE_ROUGHNESS;
    struct ExtraMapSource {
        uint16_t bit;
        std::initializer_list<aiTextureType> types;
    };
    const ExtraMapSource extras[srx::ExtraMapCount] = {
        {srx::ExtraMapEmissive, {aiTextureType_EMISSIVE, aiTextureType_EMISSION_COLOR}},
        {srx::ExtraMapOpacity, {aiTextureType_OPACITY}},
        {srx::ExtraMapMetalRoughness, {metalType}},
        {srx::ExtraMapRoughness, {roughType}},
    };
    for (int bit = 0; bit < srx::ExtraMapCount; ++bit) {
        std::string path = TexturePath(source, extras[bit].types);
        std::string image = path.empty() ? std::string() : exportImage(path);
        if (image.empty()) continue;
        material.extraMapMask |= extras[bit].bit;
        material.extraMaps[bit] = image;
    }
    // How a map's coordinates are found.
    auto transformOf = [&](aiTextureType type) {
        SrxTextureTransform t;
        aiUVTransform transform;
        if (source.Get(AI_MATKEY_UVTRANSFORM(type, 0), transform) == aiReturn_SUCCESS) {
            // Assimp rotates the other way about the image's middle, with v up; SRX keeps
            // KHR_texture_transform's terms in the engine's coordinates (v down, as glTF's),
            // so Assimp's change of coordinates is undone here.
            t.scale[0] = transform.mScaling.x;
            t.scale[1] = transform.mScaling.y;
            t.rotation = -transform.mRotation;
            float c = std::cos(t.rotation), s = std::sin(t.rotation);
            t.offset[0] = transform.mTranslation.x - 0.5f * t.scale[0] * (-c + s + 1.0f);
            t.offset[1] = 1.0f - t.scale[1] + 0.5f * t.scale[1] * (s + c - 1.0f) - transform.mTranslation.y;
        }
        int set = 0;
        if (source.Get(AI_MATKEY_UVWSRC(type, 0), set) == aiReturn_SUCCESS)
            t.uvSet = static_cast<uint8_t>(std::clamp(set, 0, 255));
        return t;
    };
    // The texture each slot reads; a roughness map apart shares the metalness map's slot.
    const std::initializer_list<aiTextureType> slotTypes[srx::MapSlotCount] = {
        {aiTextureType_DIFFUSE, aiTextureType_BASE_COLOR},
        {aiTextureType_NORMALS, aiTextureType_HEIGHT},
        {aiTextureType_EMISSIVE, aiTextureType_EMISSION_COLOR},
        {aiTextureType_OPACITY},
        {metalType, roughType}};
    for (int slot = 0; slot < srx::MapSlotCount; ++slot)
        for (aiTextureType type : slotTypes[slot])
            if (source.GetTextureCount(type) > 0) {
                material.transforms[slot] = transformOf(type);
                break;
            }
    if ((material.extraMapMask & srx::ExtraMapMetalRoughness) && (material.extraMapMask & srx::ExtraMapRoughness) &&
        transformOf(roughType) != material.transforms[srx::MapSlotMetalRoughness])
        report_.warnings.push_back("material " + quoted +
                                   ": its roughness map is read through the metalness map's texture coordinates "
                                   "and transform, not its own");

    std::string tamed = TameMaterialValues(material);
    if (!tamed.empty())
        report_.warnings.push_back("material " + quoted + " has values that cannot be drawn: " + tamed +
                                   "; they take the defaults in brackets");
    // A glTF material that states no metalness is taken as a dielectric: glTF's default would
    // make every such model a dark metal. With a metal/roughness map the factors scale what
    // the map holds, which the factors alone cannot stand for.
    bool stated = !options_.gltf || (materialIndex_ < options_.statedMetalness.size() &&
                                     options_.statedMetalness[materialIndex_].factor &&
                                     !options_.statedMetalness[materialIndex_].texture);
    // The maps kept are read per pixel with the colours as the file gives them
    // (MetalRoughness.hlsli); a map that could not be kept has had its warning, and the
    // material goes as if it named none (a glTF one as the dielectric it is then taken for).
    bool mapped = material.extraMapMask & (srx::ExtraMapMetalRoughness | srx::ExtraMapRoughness);
    if (mapped && options_.gltf) {
        if (!(material.flags & srx::MaterialMetalRoughness)) material.metallic = material.roughness = 1.0f;
    } else if (mapped) {
        // Apart, a map stands in for its factor: exporters write the value the map
        // replaces beside it (Blender the unused default of its shader's input).
        if (!(material.flags & srx::MaterialMetalRoughness)) material.metallic = 0.0f;
        source.Get(AI_MATKEY_ROUGHNESS_FACTOR, material.roughness);
        if (material.extraMapMask & srx::ExtraMapMetalRoughness) material.metallic = 1.0f;
        if (material.extraMapMask & srx::ExtraMapRoughness) material.roughness = 1.0f;
        material.flags |= srx::MaterialMetalRoughnessApart;
    }
    if (mapped) {
        material.flags |= srx::MaterialMetalRoughness;
        approximated_["metal/roughness"].push_back(quoted);
    } else if ((material.flags & srx::MaterialMetalRoughness) && stated &&
               !(options_.gltf && source.GetTextureCount(aiTextureType_UNKNOWN) > 0)) {
        ApproximateMetalRoughness(material);
        approximated_["metal/roughness"].push_back(quoted);
    } else {
        material.flags &= static_cast<uint16_t>(~srx::MaterialMetalRoughness);
    }
    // Outside glTF, Assimp's UNKNOWN maps are those whose use its reader could not tell.
    if (!options_.gltf && source.GetTextureCount(aiTextureType_UNKNOWN) > 0)
        notDrawn_["maps of an unknown kind"].push_back(quoted);
    bool transformed = std::any_of(std::begin(material.transforms), std::end(material.transforms),
                                   [](const SrxTextureTransform& t) { return !t.IsIdentity(); });
    bool emits = material.emissive[0] > 0.0f || material.emissive[1] > 0.0f || material.emissive[2] > 0.0f;
    material.extended = material.flags != 0 || material.extraMapMask != 0 || emits || transformed;
    if (!material.extended) return;
    if (material.flags & srx::MaterialAlphaMask) drawn_["alpha mask (cut-out)"].push_back(quoted);
    if (material.flags & srx::MaterialAlphaBlend) drawn_["alpha blending"].push_back(quoted);
    if (material.flags & srx::MaterialDoubleSided) drawn_["two-sided faces"].push_back(quoted);
    if (emits) drawn_["emission"].push_back(quoted);
    if (transformed) drawn_["texture transforms and coordinate sets"].push_back(quoted);
}

// A material whose meshes carry colours multiplies them in; said once per material.
void SceneConversion::NoteVertexColors() {
    for (const SrxMesh& mesh : meshes_)
        for (const SrxPrimitive& primitive : mesh.primitives) {
            if (!(primitive.streamFlags & srx::StreamColors) || primitive.material >= materials_.size()) continue;
            SrxMaterial& material = materials_[primitive.material];
            if (material.flags & srx::MaterialVertexColors) continue;
            material.flags |= srx::MaterialVertexColors;
            material.extended = true;
            drawn_["vertex colours"].push_back("'" + std::string(material.name) + "'");
        }
}

void SceneConversion::BuildNodes() {
    PoseSampler rest(table_, nullptr);
    std::vector<aiMatrix4x4> globals;
    rest.Globals(0.0, globals);
    for (size_t i = 0; i < table_.nodes.size(); ++i) {
        rest_.push_back(EngineGlobal(globals[i]));
        SrxNode& node = nodes_.emplace_back();
        SetName(node.name, table_.nodes[i]->mName.C_Str());
        node.id = static_cast<uint16_t>(i);
        node.parent = table_.parent[i] < 0 ? kNoParent : static_cast<uint16_t>(table_.parent[i]);
        StoreRowVector(rest_.back(), node.matrix);
    }
    tracked_.assign(nodes_.size(), false);
}

// A skinned mesh's node must carry the identity (see Conversion.h).
uint16_t SceneConversion::SkinNode(int node) {
    if (IsIdentity(rest_[static_cast<size_t>(node)])) return static_cast<uint16_t>(node);
    auto known = skinNodes_.find(node);
    if (known != skinNodes_.end()) return known->second;
    uint16_t id = static_cast<uint16_t>(nodes_.size());
    SrxNode& added = nodes_.emplace_back();
    SetName(added.name, std::string(table_.nodes[static_cast<size_t>(node)]->mName.C_Str()) + "_skin");
    added.id = id;
    added.parent = static_cast<uint16_t>(node);
    StoreRowVector(aiMatrix4x4(), added.matrix);
    tracked_.push_back(false);
    skinNodes_[node] = id;
    ++report_.addedNodes;
    return id;
}

void SceneConversion::BuildMesh(int node, const aiMesh& mesh) {
    BuildLinesPoints(node, mesh);
    std::vector<uint32_t> triangles;
    triangles.reserve(3 * size_t{mesh.mNumFaces});
    for (unsigned f = 0; f < mesh.mNumFaces && mesh.mVertices; ++f) {
        const aiFace& face = mesh.mFaces[f];
        if (face.mNumIndices != 3 || !face.mIndices) continue;
        bool valid = face.mIndices[0] < mesh.mNumVertices && face.mIndices[1] < mesh.mNumVertices &&
                     face.mIndices[2] < mesh.mNumVertices;
        if (valid && !(Finite(mesh.mVertices[face.mIndices[0]]) && Finite(mesh.mVertices[face.mIndices[1]]) &&
                       Finite(mesh.mVertices[face.mIndices[2]]))) {
            ++report_.nonFiniteTriangles;
            continue;
        }
        if (valid) triangles.insert(triangles.end(), face.mIndices, face.mIndices + 3);
    }
    if (triangles.empty()) return;

    // Bones: the mesh's own, with unweighted vertices following their weighted neighbours;
    // an extra one on the mesh's node for vertices that still have none, which for an
    // unskinned mesh that the animation moves is all of them.
    std::vector<BoneSource> bones;
    std::vector<Influences> influences;
    bool moving = pose_->Moving()[static_cast<size_t>(node)];
    if (mesh.mNumBones > 0 || moving) {
        std::vector<std::vector<std::pair<uint32_t, float>>> weights(mesh.mNumVertices);
        for (unsigned b = 0; b < mesh.mNumBones; ++b) {
            if (!mesh.mBones[b]) continue;
            const aiBone& bone = *mesh.mBones[b];
            int boneNode = table_.Find(bone.mName);
            if (boneNode < 0) {
                report_.warnings.push_back(std::string("bone '") + bone.mName.C_Str() + "' of mesh '" +
                                           mesh.mName.C_Str() + "' names no node; its weights are dropped");
                continue;
            }
            uint32_t index = static_cast<uint32_t>(bones.size());
            bones.push_back({boneNode, Mirror(bone.mOffsetMatrix)});
            for (unsigned w = 0; w < bone.mNumWeights && bone.mWeights; ++w)
                if (bone.mWeights[w].mVertexId < mesh.mNumVertices)
                    weights[bone.mWeights[w].mVertexId].emplace_back(index, bone.mWeights[w].mWeight);
        }
        influences.resize(mesh.mNumVertices);
        for (unsigned v = 0; v < mesh.mNumVertices; ++v) influences[v] = StrongestInfluences(weights[v]);
        if (size_t borrowed = BorrowNeighbourInfluences(triangles, influences))
            report_.warnings.push_back(std::to_string(borrowed) + " vertices of mesh '" + mesh.mName.C_Str() +
                                       "' have no bone weights; they follow their nearest weighted neighbour");
        uint32_t ownBone = UINT32_MAX;
        for (Influences& in : influences) {
            if (in.count > 0) continue;
            if (ownBone == UINT32_MAX) {
                ownBone = static_cast<uint32_t>(bones.size());
                bones.push_back({node, aiMatrix4x4()});
            }
            in.count = 1;
            in.bones[0] = ownBone;
            in.weights[0] = 1.0f;
        }
    }

    bool turn = options_.turnInwardNormals && NormalsPointIn(mesh, triangles);
    if (turn) report_.turnedNormals.push_back(mesh.mName.length ? mesh.mName.C_Str() : "(unnamed)");
    std::vector<MeshPart> parts = SplitMesh(triangles, mesh.mNumVertices, influences, bones.size());
    if (parts.size() > 1) ++report_.splitSources;
    for (const MeshPart& part : parts) WriteMeshPart(mesh, node, part, bones, influences, turn);
}

void SceneConversion::WriteMeshPart(const aiMesh& mesh, int meshNode, const MeshPart& part,
                                    const std::vector<BoneSource>& bones, const std::vector<Influences>& influences,
                                    bool turnNormals) {
    const float normalSign = turnNormals ? -1.0f : 1.0f;
    bool skinned = !influences.empty();
    SrxMesh& out = meshes_.emplace_back();
    std::vector<aiMatrix4x4>& offsets = offsets_.emplace_back();
    out.node = skinned ? SkinNode(meshNode) : static_cast<uint16_t>(meshNode);
    for (uint32_t b : part.bones) {
        out.boneNodes.push_back(bones[b].node);
        offsets.push_back(bones[b].offset);
        tracked_[static_cast<size_t>(bones[b].node)] = true;
    }
    out.boneMatrices.resize(part.bones.size());

    SrxPrimitive& primitive = out.primitives.emplace_back();
    primitive.vertexCount = static_cast<uint16_t>(part.vertices.size());
    primitive.faceCount = static_cast<uint16_t>(part.indices.size() / 3);
    primitive.material = mesh.mMaterialIndex < materials_.size() ? static_cast<uint8_t>(mesh.mMaterialIndex) : 0;
    primitive.indices = part.indices;
    primitive.streamFlags = srx::StreamPositions;
    if (mesh.mNormals) primitive.streamFlags |= srx::StreamNormals;
    if (mesh.mTextureCoords[0]) primitive.streamFlags |= srx::StreamTexCoords;
    if (mesh.mTextureCoords[1]) primitive.streamFlags |= srx::StreamTexCoords2;
    if (skinned) primitive.streamFlags |= srx::StreamWeights;
    if (mesh.mColors[0]) {
        primitive.streamFlags |= srx::StreamColors;
        primitive.colors.reserve(part.vertices.size());
    }
    primitive.vertices.reserve(part.vertices.size());
    for (uint32_t v : part.vertices) {
        SrxVertex& vertex = primitive.vertices.emplace_back();
        const aiVector3D& p = mesh.mVertices[v];
        vertex.position[0] = p.x;
        vertex.position[1] = p.y;
        vertex.position[2] = p.z;
        // ModelSource recomputes normals that are not finite; a scene from elsewhere gets 0.
        if (mesh.mNormals && Finite(mesh.mNormals[v])) {
            vertex.normal[0] = normalSign * mesh.mNormals[v].x;
            vertex.normal[1] = normalSign * mesh.mNormals[v].y;
            vertex.normal[2] = normalSign * mesh.mNormals[v].z;
        }
        // The record holds 1 - v of the file, and the file keeps Assimp's v (0 at the
        // bottom), which the importer turns into Direct3D's (0 at the top).
        if (mesh.mTextureCoords[0] && Finite(mesh.mTextureCoords[0][v])) {
            vertex.uv0[0] = mesh.mTextureCoords[0][v].x;
            vertex.uv0[1] = 1.0f - mesh.mTextureCoords[0][v].y;
        }
        if (mesh.mTextureCoords[1] && Finite(mesh.mTextureCoords[1][v])) {
            vertex.uv1[0] = mesh.mTextureCoords[1][v].x;
            vertex.uv1[1] = 1.0f - mesh.mTextureCoords[1][v].y;
        }
        if (mesh.mColors[0]) {
            primitive.colors.push_back(ColorBytes(mesh.mColors[0][v]));
        }
        if (skinned) {
            const Influences& in = influences[v];
            vertex.influenceCount = in.count;
            for (uint8_t i = 0; i < in.count; ++i) {
                vertex.bones[i] = part.boneOfSource[in.bones[i]];
                vertex.weights[i] = in.weights[i];
            }
        }
    }
    if (mesh.mNumAnimMeshes > 0 && mesh.mAnimMeshes) AddMorphTargets(mesh, meshNode, part, normalSign, primitive);
    // Written at once and the 64-byte records dropped, so that a large model's do not all
    // wait for the end beside the file they become. 12 bytes a position or a normal, 8 a
    // coordinate pair, 4 a colour, at most 21 the weights, 2 an index, and the headers
    // (morph targets, rare, grow it as they need).
    const uint32_t flags = primitive.streamFlags;
    size_t perVertex = 12 + ((flags & srx::StreamNormals) ? 12 : 0) + ((flags & srx::StreamTexCoords) ? 8 : 0) +
                       ((flags & srx::StreamTexCoords2) ? 8 : 0) + ((flags & srx::StreamColors) ? 4 : 0) +
                       ((flags & srx::StreamWeights) ? 21 : 0);
    SrxWriter written;
    written.Reserve(perVertex * part.vertices.size() + 2 * primitive.indices.size() + 256);
    written.Primitives(out);
    meshBytes_.push_back(written.TakeData());
    std::vector<SrxVertex>().swap(primitive.vertices);
    std::vector<uint16_t>().swap(primitive.indices);
    std::vector<std::array<uint8_t, 4>>().swap(primitive.colors);
    std::vector<SrxMorphTarget>().swap(primitive.morphTargets);
    std::vector<SrxMorphKey>().swap(primitive.morphKeys);
}

// The targets as offsets from the mesh (Assimp holds each target's whole shape), and their
// weights sampled at the node tracks' ticks from the animation's morph channel for the
// mesh's node (or the mesh), else held at the weights the file gives at rest.
void SceneConversion::AddMorphTargets(const aiMesh& mesh, int node, const MeshPart& part, float normalSign,
                                      SrxPrimitive& primitive) {
    std::string quoted = "'" + std::string(mesh.mName.C_Str()) + "'";
    unsigned count = std::min(mesh.mNumAnimMeshes, 255u);
    for (unsigned a = 0; a < count; ++a) {
        const aiAnimMesh* target = mesh.mAnimMeshes[a];
        if (!target || !target->mVertices || target->mNumVertices != mesh.mNumVertices) {
            std::string line = "morph targets of mesh " + quoted + " do not have its " +
                               std::to_string(mesh.mNumVertices) + " vertices; it keeps its base shape";
            if (std::find(report_.warnings.begin(), report_.warnings.end(), line) == report_.warnings.end())
                report_.warnings.push_back(line);
            primitive.morphTargets.clear();
            return;
        }
        SrxMorphTarget& out = primitive.morphTargets.emplace_back();
        out.weight = target->mWeight;
        for (uint32_t v : part.vertices) {
            aiVector3D d = target->mVertices[v] - mesh.mVertices[v];
            aiVector3D n = target->mNormals && mesh.mNormals ? normalSign * (target->mNormals[v] - mesh.mNormals[v])
                                                              : aiVector3D();
            out.positions.push_back({Finite(d) ? d.x : 0.0f, Finite(d) ? d.y : 0.0f, Finite(d) ? d.z : 0.0f});
            out.normals.push_back({Finite(n) ? n.x : 0.0f, Finite(n) ? n.y : 0.0f, Finite(n) ? n.z : 0.0f});
        }
    }
    if (mesh.mNumAnimMeshes > count)
        report_.warnings.push_back("mesh " + quoted + " has " + std::to_string(mesh.mNumAnimMeshes) +
                                   " morph targets; the first 255 are kept");
    const aiMeshMorphAnim* channel = nullptr;
    for (unsigned c = 0; animation_ && c < animation_->mNumMorphMeshChannels && animation_->mMorphMeshChannels; ++c) {
        const aiMeshMorphAnim* candidate = animation_->mMorphMeshChannels[c];
        if (candidate && candidate->mKeys && candidate->mNumKeys > 0 &&
            (candidate->mName == table_.nodes[static_cast<size_t>(node)]->mName || candidate->mName == mesh.mName))
            channel = candidate;
    }
    std::vector<std::string>& names = drawn_[channel ? "morph targets, animated" : "morph targets, at rest"];
    if (std::find(names.begin(), names.end(), quoted) == names.end()) names.push_back(quoted);
    if (!channel) return;
    // The weights of every target at one of the channel's keys (targets it leaves out weigh 0).
    auto weightsAt = [&](unsigned k) {
        std::vector<float> w(primitive.morphTargets.size(), 0.0f);
        const aiMeshMorphKey& key = channel->mKeys[k];
        for (unsigned i = 0; i < key.mNumValuesAndWeights && key.mValues && key.mWeights; ++i)
            if (key.mValues[i] < w.size()) w[key.mValues[i]] = static_cast<float>(key.mWeights[i]);
        return w;
    };
    for (size_t t = 0; t < morphTicks_.ticks.size(); ++t) {
        double time = morphTicks_.sourceTimes[t];
        unsigned next = 0;
        while (next < channel->mNumKeys && channel->mKeys[next].mTime <= time) ++next;
        SrxMorphKey& key = primitive.morphKeys.emplace_back();
        key.time = morphTicks_.ticks[t];
        if (next == 0 || next == channel->mNumKeys) {
            key.weights = weightsAt(next == 0 ? 0 : channel->mNumKeys - 1);
            continue;
        }
        double a = channel->mKeys[next - 1].mTime, b = channel->mKeys[next].mTime;
        float f = b > a ? static_cast<float>((time - a) / (b - a)) : 0.0f;
        std::vector<float> low = weightsAt(next - 1), high = weightsAt(next);
        for (size_t i = 0; i < low.size(); ++i) low[i] += f * (high[i] - low[i]);
        key.weights = std::move(low);
    }
}

// A node whose matrix or track keys overflowed (a huge scale, an infinite file value) is
// written as the identity without keys, and every mesh that hangs on it or follows it as a
// bone is dropped, as is a mesh with a bone offset that is not finite. Returns how many.
size_t SceneConversion::DropNonFiniteMeshes() {
    std::vector<bool> bad(nodes_.size(), false);
    for (size_t i = 0; i < nodes_.size(); ++i) {
        SrxNode& node = nodes_[i];
        bad[i] = !Finite(node.matrix, 16);
        for (const SrxTrack& track : node.tracks)
            for (const SrxKey& key : track.keys) bad[i] = bad[i] || !Finite(key.values, std::size(key.values));
        if (!bad[i]) continue;
        StoreRowVector(aiMatrix4x4(), node.matrix);
        node.trackFlags = 0;
        for (SrxTrack& track : node.tracks) track = SrxTrack();
    }
    size_t before = meshes_.size();
    std::vector<SrxMesh> kept;
    std::vector<std::vector<uint8_t>> keptBytes;
    for (size_t m = 0; m < meshes_.size(); ++m) {
        const SrxMesh& mesh = meshes_[m];
        bool drop = bad[mesh.node];
        for (int32_t bone : mesh.boneNodes) drop = drop || bad[static_cast<size_t>(bone)];
        for (const auto& offset : mesh.boneMatrices) drop = drop || !Finite(offset.data(), offset.size());
        if (drop) continue;
        kept.push_back(std::move(meshes_[m]));
        keptBytes.push_back(std::move(meshBytes_[m]));
    }
    meshes_ = std::move(kept);
    meshBytes_ = std::move(keptBytes);
    std::erase_if(linesPoints_, [&](const SrxLinesPoints& set) { return bad[set.node]; });
    return before - meshes_.size();
}

void SceneConversion::CountMeshes() {
    for (const SrxMesh& mesh : meshes_) {
        ++report_.meshes;
        report_.skinnedMeshes += mesh.boneNodes.empty() ? 0 : 1;
        report_.bones += mesh.boneNodes.size();
        for (const SrxPrimitive& primitive : mesh.primitives) {
            report_.vertices += primitive.vertexCount;
            report_.triangles += primitive.faceCount;
        }
    }
}

// Every tracked node gets the same ticks; one that the animation does not move holds its
// rest transform over the whole clock with two keys.
void SceneConversion::BuildTracks() {
    TickMapping moving = MapTicks(animation_, options_.ticksPerSecond);
    TickMapping still = MapTicks(nullptr, 0.0);
    report_.animated = animation_ != nullptr;
    report_.lastTick = moving.lastTick;
    report_.animationSeconds = moving.seconds;
    report_.keysPerTrack = moving.ticks.size();
    trackScale_.assign(nodes_.size(), aiVector3D(1.0f));
    std::vector<bool> scaleChanges(nodes_.size(), false);

    std::vector<aiMatrix4x4> globals;
    auto addKey = [&](size_t node, uint32_t tick, const aiMatrix4x4& global, bool first) {
        aiVector3D scale, position;
        aiQuaternion rotation;
        global.Decompose(scale, rotation, position);
        if (first)
            trackScale_[node] = scale;
        else if ((scale - trackScale_[node]).Length() > kScaleTolerance * std::max(1.0f, trackScale_[node].Length()))
            scaleChanges[node] = true;
        SrxTrack& track = nodes_[node].tracks[srx::SlotSampledTransform];
        SrxKey& key = track.keys.emplace_back();
        key.time = tick;
        key.values[0] = position.x;
        key.values[1] = position.y;
        key.values[2] = position.z;
        // The engine builds a key's matrix as the transpose of D3DXMatrixRotationQuaternion,
        // which is the row-vector matrix of the conjugate rotation: store the conjugate.
        key.values[4] = -rotation.x;
        key.values[5] = -rotation.y;
        key.values[6] = -rotation.z;
        key.values[7] = rotation.w;
    };
    for (size_t i = 0; i < table_.nodes.size(); ++i) {
        bool animated = pose_->Moving()[i];
        if (!tracked_[i] && !animated) continue;
        SrxNode& node = nodes_[i];
        node.trackFlags = srx::TrackSampledTransform;
        node.tracks[srx::SlotSampledTransform].kind = srx::TrackKindSampledTransform;
        if (!animated)
            for (size_t k = 0; k < still.ticks.size(); ++k) addKey(i, still.ticks[k], rest_[i], k == 0);
        ++report_.tracks;
    }
    for (size_t k = 0; k < moving.ticks.size() && animation_; ++k) {
        pose_->Globals(moving.sourceTimes[k], globals);
        for (size_t i = 0; i < table_.nodes.size(); ++i)
            if (pose_->Moving()[i]) addKey(i, moving.ticks[k], EngineGlobal(globals[i]), k == 0);
    }
    size_t changing = static_cast<size_t>(std::count(scaleChanges.begin(), scaleChanges.end(), true));
    if (changing)
        report_.warnings.push_back(std::to_string(changing) +
                                   " animated nodes change their scale, which tracks cannot hold; they keep the scale "
                                   "of their first key");
}

ConvertResult SceneConversion::Run(ConvertedModel& out) {
    if (!scene_.mRootNode) return {ConvertStatus::Unsupported, "the scene has no nodes"};
    table_ = FlattenNodes(scene_.mRootNode);
    if (options_.animation >= 0) {
        if (static_cast<unsigned>(options_.animation) >= scene_.mNumAnimations)
            return {ConvertStatus::NoSuchAnimation, "--animation " + std::to_string(options_.animation) +
                                                        ": the scene has " + std::to_string(scene_.mNumAnimations) +
                                                        " animations (numbered from 0)"};
        animation_ = scene_.mAnimations[options_.animation];
    } else if (scene_.mNumAnimations > 0) {
        animation_ = scene_.mAnimations[0];
    }
    if (animation_) report_.animationName = animation_->mName.C_Str();
    pose_ = std::make_unique<PoseSampler>(table_, animation_);
    morphTicks_ = MapTicks(animation_, options_.ticksPerSecond);

    if (ConvertResult counted = CountGeometry(); counted.status != ConvertStatus::Ok) return counted;
    if (scene_.mNumMaterials > kMaxMaterials)
        return {ConvertStatus::Unsupported,
                "the scene has " + std::to_string(scene_.mNumMaterials) + " materials; a primitive can name 256"};
    if (table_.nodes.size() > kMaxNodes)
        return {ConvertStatus::Unsupported,
                "the scene has " + std::to_string(table_.nodes.size()) + " nodes; node ids are 16 bits"};

    BuildMaterials();
    BuildNodes();
    for (size_t n = 0; n < table_.nodes.size(); ++n)
        for (const aiMesh* mesh : MeshesOf(n)) BuildMesh(static_cast<int>(n), *mesh);
    if (nodes_.size() > kMaxNodes)
        return {ConvertStatus::Unsupported, "the skinned meshes need more nodes than 16-bit ids can number"};
    BuildTracks();
    // A bone's key matrices leave out its scale; the offset takes it instead:
    // offset x S x (rotation, translation) = offset x global.
    for (size_t m = 0; m < meshes_.size(); ++m)
        for (size_t b = 0; b < meshes_[m].boneNodes.size(); ++b) {
            const aiVector3D& s = trackScale_[static_cast<size_t>(meshes_[m].boneNodes[b])];
            aiMatrix4x4 scale;
            aiMatrix4x4::Scaling(s, scale);
            StoreRowVector(scale * offsets_[m][b], meshes_[m].boneMatrices[b].data());
        }
    for (SrxLinesPoints& set : linesPoints_) {
        if (!set.follows) continue;
        aiMatrix4x4 scale;
        aiMatrix4x4::Scaling(trackScale_[set.node], scale);
        StoreRowVector(scale, set.placement.data());
    }
    if (size_t dropped = DropNonFiniteMeshes())
        report_.warnings.push_back(std::to_string(dropped) +
                                   " meshes dropped: their node, bone or animation matrices are not finite");
    if (nanColors_)
        report_.warnings.push_back(std::to_string(nanColors_) +
                                   " vertex colour values are not numbers; they are drawn as full (white, opaque)");
    if (report_.nonFiniteTriangles)
        report_.warnings.push_back(std::to_string(report_.nonFiniteTriangles) +
                                   " triangles dropped: their vertices are not finite");
    if (meshes_.empty() && linesPoints_.empty())
        return {ConvertStatus::Unsupported, report_.warnings.empty()
                                                ? "no triangle has valid indices"
                                                : "nothing is left to draw: " + report_.warnings.back()};
    CountMeshes();
    report_.nodes = nodes_.size();
    std::vector<SrxLight> lights =
        ConvertLights(scene_, table_, rest_, options_.scale, options_.lightRanges, report_.warnings);
    report_.lights = lights.size();
    NoteVertexColors();
    auto list = [](const char* prefix, const std::string& kind, const std::vector<std::string>& names) {
        std::string line = prefix + kind + ":";
        for (size_t i = 0; i < names.size(); ++i) line += (i ? ", " : " ") + names[i];
        return line;
    };
    for (const auto& [kind, names] : drawn_) report_.features.push_back(list("drawn: ", kind, names));
    for (const auto& [kind, names] : approximated_) report_.features.push_back(list("approximated: ", kind, names));
    for (const auto& [kind, names] : notDrawn_) report_.warnings.push_back(list("not drawn: ", kind, names));

    SrxWriter writer;
    writer.SceneHeader();
    for (const SrxMaterial& material : materials_) writer.Material(material);
    for (const SrxNode& node : nodes_) writer.Node(node);
    for (const SrxLight& light : lights) writer.Light(light);
    // Each mesh's streams stay the piece they were made as (BytePieces.h).
    for (size_t m = 0; m < meshes_.size(); ++m) {
        const SrxMesh& mesh = meshes_[m];
        writer.MeshHeader(mesh.node, static_cast<uint8_t>(mesh.primitives.size()), mesh.boneNodes, mesh.boneMatrices);
        out.srx.push_back(writer.TakeData());
        out.srx.push_back(std::move(meshBytes_[m]));
    }
    for (const SrxLinesPoints& set : linesPoints_) writer.LinesPoints(set);
    out.srx.push_back(writer.TakeData());
    out.images = images_.TakeImages();
    return {};
}

}  // namespace

ConvertResult ConvertScene(const aiScene& scene, const fs::path& modelDirectory, ModelFileAccess& access,
                           const std::string& outputStem, const ConvertOptions& options, ConvertReport& report,
                           ConvertedModel& out) {
    SceneConversion conversion(scene, modelDirectory, access, outputStem, options, report);
    return conversion.Run(out);
}

ConvertResult ConvertModel(const ModelSource& source, const std::string& outputStem, const ConvertOptions& options,
                           ConvertReport& report, ConvertedModel& out) {
    report.nonFiniteTriangles += source.DroppedTriangles();
    if (source.RecomputedNormals())
        report.warnings.push_back(std::to_string(source.RecomputedNormals()) +
                                  " meshes have normals that are not finite; they are computed again");
    if (source.ZeroedTexCoords())
        report.warnings.push_back(std::to_string(source.ZeroedTexCoords()) +
                                  " texture coordinates are not finite; they are written as 0");
    for (const std::string& refusal : source.Access().Refusals())
        report.warnings.push_back(refusal + "; the model goes without it");
    ConvertOptions fromFile = options;
    std::string json;
    if (!fromFile.gltf && ReadGltfJson(source.Path(), json)) {
        fromFile.gltf = true;
        fromFile.statedMetalness = GltfStatedMetalness(json.data(), json.size());
        if (source.Scene().mNumLights > 0 && fromFile.lightRanges.empty())
            fromFile.lightRanges = GltfLightRanges(json.data(), json.size());
    }
    return ConvertScene(source.Scene(), source.Directory(), source.Access(), outputStem, fromFile, report, out);
}

ConvertResult ConvertFile(const std::string& input, const std::string& output, const ConvertOptions& options,
                          ConvertReport& report) {
    ModelSource source;
    std::string error;
    if (!source.Read(input, error, options.root)) return {ConvertStatus::Unreadable, error};
    ConvertedModel model;
    fs::path path(output);
    ConvertResult result = ConvertModel(source, path.stem().string(), options, report, model);
    if (result.status != ConvertStatus::Ok) return result;

    fs::path directory = path.parent_path();
    std::error_code code;
    if (!directory.empty() && !fs::is_directory(directory, code)) {
        std::string why;
        if (fs::exists(directory, code))
            why = "it is not a directory";
        else if (fs::create_directories(directory, code); code)
            why = code.message();
        if (!why.empty())
            return {ConvertStatus::Unwritable, "cannot create the directory " + directory.string() + ": " + why};
    }
    std::vector<OutputFile> files;
    for (ModelImage& image : model.images) files.push_back({directory / image.name, {std::move(image.bytes)}});
    files.push_back({path, std::move(model.srx)});
    // The same file under any name (a link, ./): writing it would replace what the model
    // is made of. An image copied onto itself unchanged (converting in the model's own
    // folder) is simply not written.
    std::vector<OutputFile> written;
    for (OutputFile& file : files) {
        if (!source.Access().WasRead(file.path)) {
            written.push_back(std::move(file));
            continue;
        }
        std::vector<uint8_t> existing;
        bool same = &file != &files.back() && source.Access().Read(file.path.string(), existing, error) &&
                    file.pieces.size() == 1 && existing == file.pieces[0];
        if (!same)
            return {ConvertStatus::OutputIsInput,
                    file.path.string() + " is a file the model is read from; name another output"};
    }
    files = std::move(written);
    if (std::string failure = WriteAllOrNothing(files); !failure.empty()) return {ConvertStatus::Unwritable, failure};
    return {};
}

}  // namespace srxconvert
