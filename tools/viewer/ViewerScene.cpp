#include "ViewerScene.h"

#include "app/Log.h"
#include "render/Renderer.h"
#include "resources/FileUtil.h"
#include "scene/Animation.h"
#include "scene/Skinning.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>

namespace viewer {

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kTicksPerFrame = 24, kClockTicks = 600;  // the engine's animation clock
constexpr size_t kPaletteSize = 48;  // what the pass shaders hold; LoadScene skips larger meshes
const char* const kLightmapExtensions[] = {"jpg", "tga", "dds"};
constexpr float kMaxPitch = 1.45f;         // short of straight above or below
constexpr float kRadiansPerPixel = 0.008f;
constexpr float kZoomPerNotch = 0.85f;
constexpr float kMaxPan = 0.5f * kViewRadius;

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

// A vertex where the scene build puts it: skinned by the palette (Skinning.h) for skinned
// meshes, then the mesh node's matrix. A morphing vertex also where each of its targets
// takes it at full weight: the shapes between lie within, for weights from 0 to 1 that
// sum to at most 1, and the union of a few shapes is cheap next to blending each tick.
void AddMesh(const SrxMesh& mesh, const SrxNode& node, const AnimationController& animation,
             std::vector<D3DXVECTOR3>& points) {
    D3DXMATRIX local(node.matrix);
    std::vector<D3DXMATRIX> palette;
    for (size_t b = 0; b < mesh.boneNodes.size(); ++b) {
        D3DXMATRIX offset(mesh.boneMatrices[b].data());
        palette.emplace_back();
        D3DXMatrixMultiply(&palette.back(), &offset, &animation.nodeMatrices[static_cast<size_t>(mesh.boneNodes[b])]);
    }
    for (const SrxPrimitive& primitive : mesh.primitives)
        for (size_t i = 0; i < primitive.vertices.size(); ++i) {
            const SrxVertex& v = primitive.vertices[i];
            BoneInfluences influences;
            if (!palette.empty()) InfluencesOf(v.bones, v.weights, palette.size(), influences);
            auto add = [&](D3DXVECTOR3 p) {
                if (!palette.empty())
                    p = SkinPoint(p, D3DXVECTOR3(0.0f, 0.0f, 0.0f), influences, palette.data(), palette.size()).position;
                D3DXVECTOR3 placed = Transform(p, local);
                if (std::isfinite(placed.x) && std::isfinite(placed.y) && std::isfinite(placed.z))
                    points.push_back(placed);
            };
            D3DXVECTOR3 rest(v.position[0], v.position[1], -v.position[2]);
            add(rest);
            for (const SrxMorphTarget& target : primitive.morphTargets)
                if (i < target.positions.size() && primitive.vertices.size() == target.positions.size())
                    add(rest + D3DXVECTOR3(target.positions[i][0], target.positions[i][1], -target.positions[i][2]));
        }
}

// Lines and points where the scene build draws them: on their node's animated matrix when
// they follow it, else at the node's rest place (added only when atRest).
void AddLinesPoints(const SrxScene& scene, const AnimationController& animation, bool atRest,
                    std::vector<D3DXVECTOR3>& points) {
    for (const SrxLinesPoints& set : scene.linesPoints) {
        if (set.node >= scene.nodes.size()) continue;
        bool follows = set.follows && (scene.nodes[set.node].trackFlags & srx::TrackSampledTransform);
        if (!follows && !atRest) continue;
        D3DXMATRIX local(scene.nodes[set.node].matrix), placement(set.placement.data());
        if (follows) D3DXMatrixMultiply(&local, &placement, &animation.nodeMatrices[set.node]);
        for (const std::array<float, 3>& p : set.positions) {
            D3DXVECTOR3 placed = Transform(D3DXVECTOR3(p[0], p[1], -p[2]), local);
            if (std::isfinite(placed.x) && std::isfinite(placed.y) && std::isfinite(placed.z)) points.push_back(placed);
        }
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

std::vector<D3DXVECTOR3> FirstPose(const SrxScene& scene) {
    std::vector<AnimatedNode> nodes = BuildNodes(scene);
    AnimationController animation(&nodes);
    animation.Evaluate(0.0f);
    std::vector<D3DXVECTOR3> points;
    for (const SrxMesh& mesh : scene.meshes)
        if (Drawable(scene, mesh)) AddMesh(mesh, scene.nodes[mesh.node], animation, points);
    AddLinesPoints(scene, animation, true, points);
    return points;
}

std::vector<D3DXVECTOR3> AnimatedPoses(const SrxScene& scene) {
    std::vector<D3DXVECTOR3> points = FirstPose(scene);
    bool animated = std::any_of(scene.nodes.begin(), scene.nodes.end(), [](const SrxNode& n) { return n.trackFlags != 0; });
    if (!animated || points.empty()) return points;
    // Enough points per pose for the bounds of a limb's swing, few enough for a big mesh.
    const size_t stride = std::max<size_t>(1, points.size() / 50000);
    std::vector<AnimatedNode> nodes = BuildNodes(scene);
    AnimationController animation(&nodes);
    std::vector<D3DXVECTOR3> pose;
    for (uint32_t tick = kTicksPerFrame; tick <= kClockTicks; tick += kTicksPerFrame) {
        animation.Evaluate(static_cast<float>(tick));
        pose.clear();
        for (const SrxMesh& mesh : scene.meshes)
            if (Drawable(scene, mesh)) AddMesh(mesh, scene.nodes[mesh.node], animation, pose);
        AddLinesPoints(scene, animation, false, pose);
        for (size_t i = 0; i < pose.size(); i += stride) points.push_back(pose[i]);
    }
    return points;
}

Bounds BoundsOf(const std::vector<D3DXVECTOR3>& points) {
    Bounds bounds;
    for (const D3DXVECTOR3& p : points) bounds.Add(p);
    return bounds;
}

std::vector<D3DXVECTOR3> FramingPoints(const std::vector<D3DXVECTOR3>& points) {
    constexpr size_t kFew = 20000;  // below this, every point
    if (points.size() <= kFew) return points;
    Bounds bounds = BoundsOf(points);
    D3DXVECTOR3 extent = bounds.max - bounds.min;
    auto cellOf = [&](float value, float low, float size) {
        float at = size > 0.0f ? (value - low) / size * kFramingGrid : 0.0f;
        return std::clamp(static_cast<int>(at), 0, kFramingGrid - 1);
    };
    std::vector<bool> taken(static_cast<size_t>(kFramingGrid) * kFramingGrid * kFramingGrid, false);
    std::vector<D3DXVECTOR3> kept;
    // The points that reach each face of the box first, so that the bounds stay exact.
    for (int axis = 0; axis < 3; ++axis) {
        auto component = [axis](const D3DXVECTOR3& p) { return axis == 0 ? p.x : axis == 1 ? p.y : p.z; };
        auto [low, high] = std::minmax_element(points.begin(), points.end(), [&](const D3DXVECTOR3& a,
                                                                                   const D3DXVECTOR3& b) {
            return component(a) < component(b);
        });
        kept.push_back(*low);
        kept.push_back(*high);
    }
    for (const D3DXVECTOR3& p : points) {
        size_t cell = (static_cast<size_t>(cellOf(p.x, bounds.min.x, extent.x)) * kFramingGrid +
                       static_cast<size_t>(cellOf(p.y, bounds.min.y, extent.y))) *
                          kFramingGrid +
                      static_cast<size_t>(cellOf(p.z, bounds.min.z, extent.z));
        if (taken[cell]) continue;
        taken[cell] = true;
        kept.push_back(p);
    }
    return kept;
}

D3DXMATRIX FramingMatrix(const Bounds& bounds) {
    D3DXVECTOR3 centre = 0.5f * (bounds.min + bounds.max);
    D3DXVECTOR3 extent = bounds.max - bounds.min;
    float radius = 0.5f * D3DXVec3Length(&extent);
    // A point, or a model too small for floats to scale, stays as it is.
    float scale = radius > 1e-30f && std::isfinite(kViewRadius / radius) ? kViewRadius / radius : 1.0f;
    D3DXMATRIX m;
    D3DXMatrixScaling(&m, scale, scale, scale);
    m._41 = -centre.x * scale;
    m._42 = -centre.y * scale;
    m._43 = -centre.z * scale;
    return m;
}

namespace {

float TanHalfFieldOfView() { return std::tan(kFieldOfViewDegrees * 3.14159265f / 360.0f); }

D3DXVECTOR3 Direction(float yaw, float pitch) {
    return {std::cos(pitch) * std::sin(yaw), std::sin(pitch), -std::cos(pitch) * std::cos(yaw)};
}

// The camera's axes looking at its target from that direction, y up.
struct CameraAxes {
    D3DXVECTOR3 right, up, forward;
};
CameraAxes AxesOf(float yaw, float pitch) {
    CameraAxes axes;
    axes.forward = -Direction(yaw, pitch);
    D3DXVECTOR3 up(0.0f, 1.0f, 0.0f);
    D3DXVec3Cross(&axes.right, &up, &axes.forward);
    D3DXVec3Normalize(&axes.right, &axes.right);
    D3DXVec3Cross(&axes.up, &axes.forward, &axes.right);
    return axes;
}

}  // namespace

D3DXVECTOR3 OrbitView::Eye() const { return target + distance * Direction(yaw, pitch); }

void OrbitView::Orbit(float dxPixels, float dyPixels) {
    yaw -= dxPixels * kRadiansPerPixel;
    pitch = std::clamp(pitch + dyPixels * kRadiansPerPixel, -kMaxPitch, kMaxPitch);
}

float OrbitView::NearestDistance() const { return reach + D3DXVec3Length(&target) + 2.0f * kNear; }

float OrbitView::FarthestDistance() const { return kFar - reach - D3DXVec3Length(&target) - 2.0f * kNear; }

float OrbitView::NearPlane() const {
    return std::min(kNear, std::max(distance - reach - D3DXVec3Length(&target), 0.01f * distance));
}

namespace {
float ClosestZoom(const OrbitView& view) {
    return view.framed > 0.0f ? std::min(view.NearestDistance(), kZoomFloor * view.framed) : view.NearestDistance();
}
}  // namespace

void OrbitView::Zoom(float notches) {
    distance = std::clamp(distance * std::pow(kZoomPerNotch, notches), ClosestZoom(*this), FarthestDistance());
}

void OrbitView::Pan(float dxPixels, float dyPixels, int viewHeight) {
    // One pixel at the target's depth: the cursor drags the model along with it.
    float unitsPerPixel = 2.0f * distance * TanHalfFieldOfView() / static_cast<float>(std::max(viewHeight, 1));
    CameraAxes axes = AxesOf(yaw, pitch);
    target += unitsPerPixel * (-dxPixels * axes.right + dyPixels * axes.up);
    // The model's centre stays in reach, so that zooming keeps the sphere out of the near plane.
    float length = D3DXVec3Length(&target);
    if (length > kMaxPan) target *= kMaxPan / length;
    distance = std::clamp(distance, ClosestZoom(*this), FarthestDistance());
}

D3DXMATRIX UpRotation(UpAxis up) {
    // Row vectors. The source's +z is the engine's -z, which a quarter turn about x lifts
    // to +y; +x reaches +y by a quarter turn about z; -y by a half turn about x.
    float angle = up.axis == 'y' ? (up.sign < 0 ? 3.14159265f : 0.0f) : up.sign * 1.57079633f;
    float c = std::cos(angle), s = std::sin(angle);
    D3DXMATRIX m;
    D3DXMatrixScaling(&m, 1.0f, 1.0f, 1.0f);
    if (up.axis == 'x') {
        m._11 = c, m._12 = s, m._21 = -s, m._22 = c;
    } else {
        m._22 = c, m._23 = s, m._32 = -s, m._33 = c;
    }
    return m;
}

UpAxis NextUpAxis(UpAxis up) { return {up.axis == 'y' ? 'z' : up.axis == 'z' ? 'x' : 'y', 1}; }

Projection Project(const std::vector<D3DXVECTOR3>& worldPoints, const OrbitView& view) {
    D3DXVECTOR3 eye = view.Eye(), up(0.0f, 1.0f, 0.0f);
    D3DXMATRIX lookAt;
    D3DXMatrixLookAtLH(&lookAt, &eye, &view.target, &up);
    float tanHalf = TanHalfFieldOfView();
    float minX = 1e30f, maxX = -1e30f, minY = 1e30f, maxY = -1e30f;
    for (const D3DXVECTOR3& p : worldPoints) {
        D3DXVECTOR3 v = Transform(p, lookAt);
        float depth = std::max(v.z, kNear);
        float x = v.x / (depth * tanHalf * kAspect), y = v.y / (depth * tanHalf);
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
    }
    if (worldPoints.empty()) return {};
    return {0.5f * std::max(maxX - minX, maxY - minY), 0.5f * (minX + maxX), 0.5f * (minY + maxY)};
}

float FitDistance(const std::vector<D3DXVECTOR3>& worldPoints, OrbitView view) {
    // The fill falls as the camera backs away: halve the interval until it holds kFill.
    float nearest = view.NearestDistance(), farthest = view.FarthestDistance();
    for (int i = 0; i < 40; ++i) {
        view.distance = 0.5f * (nearest + farthest);
        (Project(worldPoints, view).fill > kFill ? nearest : farthest) = view.distance;
    }
    return 0.5f * (nearest + farthest);
}

OrbitView OrbitFraming(const std::vector<D3DXVECTOR3>& worldPoints, OrbitView view) {
    Bounds bounds = BoundsOf(worldPoints);
    view.target = 0.5f * (bounds.min + bounds.max);
    // A point at (x, y) across the camera and z0 along its line of sight from the target
    // lies inside the share kFill of the view from a distance d when
    // |x| <= kFill tanHalf aspect (z0 + d) and |y| <= kFill tanHalf (z0 + d).
    const float across = kFill * TanHalfFieldOfView() * kAspect, upward = kFill * TanHalfFieldOfView();
    float distance = view.NearestDistance();
    for (int i = 0; i < kOrbitDirections; ++i) {
        float yaw = 6.2831853f * static_cast<float>(i) / kOrbitDirections;
        CameraAxes axes = AxesOf(yaw, view.pitch);
        for (const D3DXVECTOR3& p : worldPoints) {
            D3DXVECTOR3 q = p - view.target;
            float needed = std::max(std::fabs(D3DXVec3Dot(&q, &axes.right)) / across,
                                    std::fabs(D3DXVec3Dot(&q, &axes.up)) / upward) -
                           D3DXVec3Dot(&q, &axes.forward);
            distance = std::max(distance, needed);
        }
    }
    view.distance = std::min(distance, view.FarthestDistance());
    view.framed = view.distance;
    return view;
}

Framing FrameModel(const std::vector<D3DXVECTOR3>& points, OrbitView view) {
    Framing framing;
    framing.world = FramingMatrix(BoundsOf(points));
    std::vector<D3DXVECTOR3> placed;
    for (const D3DXVECTOR3& p : points) placed.push_back(Transform(p, framing.world));
    // The box's centre need not project to the view's: move the model across the view
    // until its projected bounds sit in the middle, then fit the distance again.
    CameraAxes axes = AxesOf(view.yaw, view.pitch);
    D3DXVECTOR3 shift(0.0f, 0.0f, 0.0f);
    for (int i = 0; i < 4; ++i) {
        view.distance = FitDistance(placed, view);
        Projection projection = Project(placed, view);
        float halfHeight = view.distance * TanHalfFieldOfView();
        D3DXVECTOR3 step =
            -(projection.centreX * halfHeight * kAspect * axes.right + projection.centreY * halfHeight * axes.up);
        // Never so far that the sphere around the model loses its room before the near plane.
        D3DXVECTOR3 moved = shift + step;
        if (D3DXVec3Length(&moved) > kMaxPan) break;
        shift += step;
        for (D3DXVECTOR3& p : placed) p += step;
        view.reach = kViewRadius + D3DXVec3Length(&shift);
    }
    framing.world._41 += shift.x;
    framing.world._42 += shift.y;
    framing.world._43 += shift.z;
    view.distance = FitDistance(placed, view);
    view.framed = view.distance;
    framing.view = view;
    framing.fill = Project(placed, view).fill;
    framing.orbit = OrbitFraming(placed, view);
    return framing;
}

std::vector<RegisteredImage> RegisterModelTextures(Renderer& renderer, const SrxScene& scene,
                                                   const std::string& scenePath) {
    // File name (lower case) -> key, for every image the scene build may look up.
    std::map<std::string, std::set<std::string>> wanted;
    for (const SrxMaterial& material : scene.materials) {
        int names = std::min(std::popcount(material.mapMask), srx::MaxMaps);
        for (int i = 0; i < names; ++i)
            if (!material.maps[i].empty()) wanted[material.maps[i]].insert("./data/" + material.maps[i]);
        for (const std::string& map : material.extraMaps)
            if (!map.empty()) wanted[map].insert("./data/" + map);
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

    std::vector<RegisteredImage> keys;
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
            keys.push_back({Lowercase(key), fs::absolute(path, error).string()});
        }
    }
    return keys;
}

std::vector<RegisteredImage> RegisterImages(Renderer& renderer, const std::vector<NamedImage>& images) {
    std::vector<RegisteredImage> keys;
    for (const NamedImage& image : images) {
        std::string key = "./data/" + Lowercase(image.name);
        D3DXIMAGE_INFO info{};
        if (image.bytes->empty() || FAILED(D3DXGetImageInfoFromFileInMemory(
                                        image.bytes->data(), static_cast<UINT>(image.bytes->size()), &info))) {
            Log::Write("Viewer: %s is not an image the device reads; skipped.\n", image.name.c_str());
            continue;
        }
        renderer.LoadTexture(key, image.bytes->data(), image.bytes->size());
        keys.push_back({key, image.source});
    }
    return keys;
}

}  // namespace viewer
