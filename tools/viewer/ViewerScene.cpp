#include "ViewerScene.h"

#include "app/Log.h"
#include "render/Renderer.h"
#include "resources/FileUtil.h"
#include "scene/Animation.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>

namespace viewer {

namespace {

namespace fs = std::filesystem;

constexpr float kOrbitDistance = 2.3f * kViewRadius;  // the view sphere fills most of the 60-degree view
constexpr float kOrbitElevation = 0.35f;              // radians above the horizon
constexpr float kLightAzimuthLead = 0.6f;             // radians ahead of the camera
constexpr float kLightElevation = 0.8f;
constexpr size_t kPaletteSize = 48;  // what the pass shaders hold; LoadScene skips larger meshes
const char* const kLightmapExtensions[] = {"jpg", "tga", "dds"};

D3DXVECTOR3 Transform(const D3DXVECTOR3& p, const D3DXMATRIX& m) {
    D3DXVECTOR4 out;
    D3DXVec3Transform(&out, &p, &m);
    return {out.x, out.y, out.z};
}

bool Drawable(const SrxScene& scene, const SrxMesh& mesh) {
    if (mesh.node >= scene.nodes.size() || mesh.boneNodes.size() != mesh.boneMatrices.size() ||
        mesh.boneNodes.size() > kPaletteSize)
        return false;
    for (int32_t bone : mesh.boneNodes)
        if (bone < 0 || static_cast<size_t>(bone) >= scene.nodes.size()) return false;
    return true;
}

// A vertex where the scene build puts it: the palette's weighted sum for skinned meshes
// (all bone numbers 0 meaning bone 0 at full weight, unknown numbers reading bone 0), then
// the mesh node's matrix.
void AddMesh(const SrxMesh& mesh, const SrxNode& node, const AnimationController& animation, Bounds& bounds) {
    D3DXMATRIX local(node.matrix);
    std::vector<D3DXMATRIX> palette;
    for (size_t b = 0; b < mesh.boneNodes.size(); ++b) {
        D3DXMATRIX offset(mesh.boneMatrices[b].data());
        palette.emplace_back();
        D3DXMatrixMultiply(&palette.back(), &offset, &animation.nodeMatrices[static_cast<size_t>(mesh.boneNodes[b])]);
    }
    for (const SrxPrimitive& primitive : mesh.primitives)
        for (const SrxVertex& v : primitive.vertices) {
            D3DXVECTOR3 p(v.position[0], v.position[1], -v.position[2]);
            if (!palette.empty()) {
                bool noBones = !(v.bones[0] | v.bones[1] | v.bones[2] | v.bones[3]);
                D3DXVECTOR3 skinned(0.0f, 0.0f, 0.0f);
                for (int i = 0; i < 4; ++i) {
                    float weight = noBones ? (i == 3 ? 1.0f : 0.0f) : v.weights[i];
                    size_t bone = v.bones[i] < palette.size() ? v.bones[i] : 0;
                    if (weight != 0.0f) skinned += weight * Transform(p, palette[bone]);
                }
                p = skinned;
            }
            bounds.Add(Transform(p, local));
        }
}

std::string Lowercase(std::string text) {
    LowercaseInPlace(text);
    return text;
}

}  // namespace

void Bounds::Add(const D3DXVECTOR3& p) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) return;
    if (empty) {
        min = max = p;
        empty = false;
        return;
    }
    min = D3DXVECTOR3(std::min(min.x, p.x), std::min(min.y, p.y), std::min(min.z, p.z));
    max = D3DXVECTOR3(std::max(max.x, p.x), std::max(max.y, p.y), std::max(max.z, p.z));
}

Bounds SceneBounds(const SrxScene& scene) {
    std::vector<AnimatedNode> nodes = BuildNodes(scene);
    AnimationController animation(&nodes);
    bool animated = std::any_of(scene.nodes.begin(), scene.nodes.end(),
                                [](const SrxNode& n) { return (n.trackFlags & srx::TrackSampledTransform) != 0; });
    Bounds bounds;
    for (float tick = 0.0f; tick <= 600.0f; tick += 120.0f) {
        animation.Evaluate(tick);
        for (const SrxMesh& mesh : scene.meshes)
            if (Drawable(scene, mesh)) AddMesh(mesh, scene.nodes[mesh.node], animation, bounds);
        if (!animated) break;
    }
    return bounds;
}

D3DXMATRIX FramingMatrix(const Bounds& bounds) {
    D3DXVECTOR3 centre = 0.5f * (bounds.min + bounds.max);
    D3DXVECTOR3 extent = bounds.max - bounds.min;
    float radius = 0.5f * D3DXVec3Length(&extent);
    float scale = radius > 1e-6f ? kViewRadius / radius : 1.0f;
    D3DXMATRIX m;
    D3DXMatrixScaling(&m, scale, scale, scale);
    m._41 = -centre.x * scale;
    m._42 = -centre.y * scale;
    m._43 = -centre.z * scale;
    return m;
}

D3DXVECTOR3 OrbitPosition(float angle) {
    float ground = kOrbitDistance * std::cos(kOrbitElevation);
    return {ground * std::sin(angle), kOrbitDistance * std::sin(kOrbitElevation), -ground * std::cos(angle)};
}

D3DXVECTOR3 LightPosition(float angle) {
    float a = angle + kLightAzimuthLead;
    float ground = kOrbitDistance * std::cos(kLightElevation);
    return {ground * std::sin(a), kOrbitDistance * std::sin(kLightElevation), -ground * std::cos(a)};
}

std::vector<std::string> RegisterModelTextures(Renderer& renderer, const SrxScene& scene,
                                               const std::string& scenePath) {
    // File name (lower case) -> key, for every image the scene build may look up.
    std::map<std::string, std::set<std::string>> wanted;
    for (const SrxMaterial& material : scene.materials) {
        int names = std::min(std::popcount(material.mapMask), srx::MaxMaps);
        for (int i = 0; i < names; ++i)
            if (!material.maps[i].empty()) wanted[material.maps[i]].insert("./data/" + material.maps[i]);
    }
    std::string stem = StripExtension(scenePath);
    for (const char* extension : kLightmapExtensions) {
        std::string suffix = std::string("_lightmap.") + extension;
        for (const SrxNode& node : scene.nodes) {
            std::string file = Lowercase(node.name) + suffix;
            wanted[file].insert("./data/" + file);
        }
        wanted[FileNameOfPath(stem) + suffix].insert(stem + suffix);
    }

    std::vector<std::string> keys;
    fs::path directory = fs::path(scenePath).parent_path();
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory.empty() ? "." : directory, error)) {
        if (!entry.is_regular_file(error)) continue;
        auto found = wanted.find(Lowercase(entry.path().filename().string()));
        if (found == wanted.end()) continue;
        std::string path = entry.path().string();
        // LoadTexture ends the program on an image it cannot decode; a model's stray file
        // must not.
        std::optional<std::vector<uint8_t>> bytes = ReadWholeFile(path);
        D3DXIMAGE_INFO info{};
        if (!bytes ||
            FAILED(D3DXGetImageInfoFromFileInMemory(bytes->data(), static_cast<UINT>(bytes->size()), &info))) {
            Log::Write("Viewer: %s is not an image the device reads; skipped.\n", path.c_str());
            continue;
        }
        for (const std::string& key : found->second) {
            int index = renderer.LoadTexture(path);
            renderer.textures[static_cast<size_t>(index)].name = Lowercase(key);
            keys.push_back(Lowercase(key));
        }
    }
    return keys;
}

}  // namespace viewer
