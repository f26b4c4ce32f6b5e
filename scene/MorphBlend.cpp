#include "scene/MorphBlend.h"

#include "render/Mesh.h"
#include "scene/Vertices.h"

#include <algorithm>
#include <cmath>

namespace {

// A weight that is not finite counts as 0, so one bad key cannot throw a vertex away.
float Tame(float weight) { return std::isfinite(weight) ? weight : 0.0f; }

}  // namespace

MorphBlend::MorphBlend(Mesh* mesh, uint32_t firstVertex, bool skinned, const SrxPrimitive& primitive,
                       size_t maxTargets)
    : mesh_(mesh), first_(firstVertex), skinned_(skinned),
      targets_(std::min(primitive.morphTargets.size(), maxTargets)), keys_(primitive.morphKeys) {
    size_t n = primitive.vertices.size();
    // The file's frame is right-handed: z turns, as the scene build turns the vertices.
    auto engine = [](const std::array<float, 3>& v, std::vector<float>& out) {
        out.insert(out.end(), {v[0], v[1], -v[2]});
    };
    for (const SrxVertex& v : primitive.vertices) {
        engine({v.position[0], v.position[1], v.position[2]}, positions_);
        engine({v.normal[0], v.normal[1], v.normal[2]}, normals_);
    }
    for (size_t t = 0; t < targets_; ++t) {
        const SrxMorphTarget& target = primitive.morphTargets[t];
        std::vector<float>& offsets = offsets_.emplace_back();
        std::vector<float>& turns = turns_.emplace_back();
        for (size_t v = 0; v < n; ++v) {
            engine(v < target.positions.size() ? target.positions[v] : std::array<float, 3>{}, offsets);
            engine(v < target.normals.size() ? target.normals[v] : std::array<float, 3>{}, turns);
        }
        rest_.push_back(Tame(target.weight));
    }
}

std::vector<float> MorphBlend::WeightsAt(float time) const {
    if (keys_.empty()) return rest_;
    auto weightsOf = [&](const SrxMorphKey& key) {
        std::vector<float> w(targets_, 0.0f);
        for (size_t t = 0; t < targets_ && t < key.weights.size(); ++t) w[t] = Tame(key.weights[t]);
        return w;
    };
    auto after = std::upper_bound(keys_.begin(), keys_.end(), time,
                                  [](float t, const SrxMorphKey& key) { return t < static_cast<float>(key.time); });
    if (after == keys_.begin()) return weightsOf(keys_.front());
    if (after == keys_.end()) return weightsOf(keys_.back());
    const SrxMorphKey& before = *(after - 1);
    float span = static_cast<float>(after->time) - static_cast<float>(before.time);
    float f = span > 0.0f ? (time - static_cast<float>(before.time)) / span : 0.0f;
    std::vector<float> a = weightsOf(before), b = weightsOf(*after);
    for (size_t t = 0; t < targets_; ++t) a[t] += f * (b[t] - a[t]);
    return a;
}

void MorphBlend::Update(float time) {
    if (blended_ && time == lastTime_) return;
    blended_ = true;
    lastTime_ = time;
    std::vector<float> weights = WeightsAt(time);
    void* data = mesh_->LockStream(0);
    if (!data) return;
    // Each vertex blended straight into the buffer, targets in order, those weighing 0 left out.
    for (size_t v = 0; v < positions_.size() / 3; ++v) {
        float p[3], n[3];
        for (int c = 0; c < 3; ++c) {
            p[c] = positions_[3 * v + c];
            n[c] = normals_[3 * v + c];
        }
        for (size_t t = 0; t < targets_; ++t) {
            if (weights[t] == 0.0f) continue;
            for (int c = 0; c < 3; ++c) {
                p[c] += weights[t] * offsets_[t][3 * v + c];
                n[c] += weights[t] * turns_[t][3 * v + c];
            }
        }
        float length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        if (length > 0.0f && std::isfinite(length))
            for (int c = 0; c < 3; ++c) n[c] /= length;
        if (skinned_) {
            SkinnedVertex& out = static_cast<SkinnedVertex*>(data)[first_ + v];
            std::copy(p, p + 3, out.position);
            std::copy(n, n + 3, out.normal);
        } else {
            StaticVertex& out = static_cast<StaticVertex*>(data)[first_ + v];
            std::copy(p, p + 3, out.position);
            for (int c = 0; c < 3; ++c) out.normal[c] = PackUnitByte(n[c]);
        }
    }
    mesh_->UnlockStream(0);
}
