#include "MeshSplit.h"

#include <algorithm>
#include <cmath>
#include <deque>

namespace srxconvert {

namespace {

constexpr uint32_t kNoVertex = 0xFFFFFFFF;

class PartBuilder {
public:
    PartBuilder(size_t vertexCount, size_t boneCount, const std::vector<Influences>& influences)
        : influences_(influences), vertexSlot_(vertexCount, kNoVertex) {
        part_.boneOfSource.assign(boneCount, MeshPart::kNoBone);
    }

    // New vertices and new bones the triangle would bring into the part.
    void Count(const uint32_t* corners, uint32_t& newVertices, uint32_t& newBones) const {
        newVertices = 0;
        newBones = 0;
        uint32_t seenBones[12];
        uint32_t seen = 0;
        for (int c = 0; c < 3; ++c) {
            uint32_t v = corners[c];
            bool repeated = (c > 0 && corners[0] == v) || (c > 1 && corners[1] == v);
            if (vertexSlot_[v] != kNoVertex || repeated) continue;
            ++newVertices;
            if (influences_.empty()) continue;
            const Influences& in = influences_[v];
            for (uint8_t i = 0; i < in.count; ++i) {
                uint32_t bone = in.bones[i];
                if (part_.boneOfSource[bone] != MeshPart::kNoBone) continue;
                if (std::find(seenBones, seenBones + seen, bone) != seenBones + seen) continue;
                seenBones[seen++] = bone;
                ++newBones;
            }
        }
    }

    void Add(const uint32_t* corners) {
        for (int c = 0; c < 3; ++c) {
            uint32_t v = corners[c];
            if (vertexSlot_[v] == kNoVertex) {
                vertexSlot_[v] = static_cast<uint32_t>(part_.vertices.size());
                part_.vertices.push_back(v);
                if (!influences_.empty()) {
                    const Influences& in = influences_[v];
                    for (uint8_t i = 0; i < in.count; ++i) {
                        uint32_t bone = in.bones[i];
                        if (part_.boneOfSource[bone] != MeshPart::kNoBone) continue;
                        part_.boneOfSource[bone] = static_cast<uint8_t>(part_.bones.size());
                        part_.bones.push_back(bone);
                    }
                }
            }
            part_.indices.push_back(static_cast<uint16_t>(vertexSlot_[v]));
        }
    }

    bool Empty() const { return part_.indices.empty(); }
    size_t Vertices() const { return part_.vertices.size(); }
    size_t Triangles() const { return part_.indices.size() / 3; }
    size_t Bones() const { return part_.bones.size(); }

    MeshPart Finish() {
        for (uint32_t v : part_.vertices) vertexSlot_[v] = kNoVertex;
        MeshPart done = std::move(part_);
        part_ = MeshPart();
        part_.boneOfSource.assign(done.boneOfSource.size(), MeshPart::kNoBone);
        return done;
    }

private:
    const std::vector<Influences>& influences_;
    std::vector<uint32_t> vertexSlot_;
    MeshPart part_;
};

}  // namespace

std::vector<MeshPart> SplitMesh(const std::vector<uint32_t>& triangles, size_t vertexCount,
                                const std::vector<Influences>& influences, size_t boneCount,
                                const SplitLimits& limits) {
    std::vector<MeshPart> parts;
    PartBuilder builder(vertexCount, boneCount, influences);
    for (size_t t = 0; t + 2 < triangles.size(); t += 3) {
        const uint32_t* corners = &triangles[t];
        uint32_t newVertices, newBones;
        builder.Count(corners, newVertices, newBones);
        bool fits = builder.Vertices() + newVertices <= limits.vertices &&
                    builder.Triangles() + 1 <= limits.triangles && builder.Bones() + newBones <= limits.bones;
        if (!fits && !builder.Empty()) {
            parts.push_back(builder.Finish());
            builder.Count(corners, newVertices, newBones);
        }
        builder.Add(corners);
    }
    if (!builder.Empty()) parts.push_back(builder.Finish());
    return parts;
}

Influences StrongestInfluences(const std::vector<std::pair<uint32_t, float>>& weights) {
    std::vector<std::pair<uint32_t, float>> sorted;
    for (const auto& w : weights)
        if (std::isfinite(w.second) && w.second > 0.0f) sorted.push_back(w);
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    Influences out;
    out.count = static_cast<uint8_t>(std::min<size_t>(sorted.size(), 4));
    float sum = 0.0f;
    for (uint8_t i = 0; i < out.count; ++i) sum += sorted[i].second;
    for (uint8_t i = 0; i < out.count; ++i) {
        out.bones[i] = sorted[i].first;
        out.weights[i] = sorted[i].second / sum;
    }
    return out;
}

size_t BorrowNeighbourInfluences(const std::vector<uint32_t>& triangles, std::vector<Influences>& influences) {
    std::vector<std::vector<uint32_t>> neighbours(influences.size());
    for (size_t t = 0; t + 2 < triangles.size(); t += 3)
        for (int c = 0; c < 3; ++c) {
            uint32_t a = triangles[t + c], b = triangles[t + (c + 1) % 3];
            if (a >= influences.size() || b >= influences.size()) continue;
            neighbours[a].push_back(b);
            neighbours[b].push_back(a);
        }
    // Breadth first from every weighted vertex at once: each gap fills from its nearest.
    std::deque<uint32_t> queue;
    for (uint32_t v = 0; v < influences.size(); ++v)
        if (influences[v].count > 0) queue.push_back(v);
    size_t borrowed = 0;
    while (!queue.empty()) {
        uint32_t v = queue.front();
        queue.pop_front();
        for (uint32_t n : neighbours[v]) {
            if (influences[n].count > 0) continue;
            influences[n] = influences[v];
            ++borrowed;
            queue.push_back(n);
        }
    }
    return borrowed;
}

}  // namespace srxconvert
