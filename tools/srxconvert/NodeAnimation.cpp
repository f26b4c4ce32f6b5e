#include "NodeAnimation.h"

#include <algorithm>
#include <cmath>

namespace srxconvert {

namespace {

// Assimp leaves the tick rate 0 when the file does not state one; its own tools take 25.
constexpr double kDefaultSourceTicksPerSecond = 25.0;

// Position of the key interval holding time: keys[i].mTime <= time < keys[i + 1].mTime,
// with the factor within it. Times outside the keys clamp to the first or last key.
template <class Key>
size_t FindInterval(const Key* keys, unsigned count, double time, double& factor) {
    factor = 0.0;
    if (count < 2 || time <= keys[0].mTime) return 0;
    for (unsigned i = 0; i + 1 < count; ++i) {
        if (time < keys[i + 1].mTime) {
            double span = keys[i + 1].mTime - keys[i].mTime;
            factor = span > 0.0 ? (time - keys[i].mTime) / span : 0.0;
            return i;
        }
    }
    return count - 1;
}

aiVector3D Lerp(const aiVectorKey* keys, unsigned count, double time, const aiVector3D& fallback) {
    if (count == 0 || !keys) return fallback;
    double f;
    size_t i = FindInterval(keys, count, time, f);
    if (i + 1 >= count || f == 0.0) return keys[i].mValue;
    return keys[i].mValue + (keys[i + 1].mValue - keys[i].mValue) * static_cast<ai_real>(f);
}

aiQuaternion Slerp(const aiQuatKey* keys, unsigned count, double time, const aiQuaternion& fallback) {
    if (count == 0 || !keys) return fallback;
    double f;
    size_t i = FindInterval(keys, count, time, f);
    if (i + 1 >= count || f == 0.0) return keys[i].mValue;
    aiQuaternion out;
    aiQuaternion::Interpolate(out, keys[i].mValue, keys[i + 1].mValue, static_cast<ai_real>(f));
    return out.Normalize();
}

}  // namespace

int NodeTable::Find(const aiString& name) const {
    auto it = byName.find(std::string(name.C_Str()));
    return it == byName.end() ? -1 : it->second;
}

NodeTable FlattenNodes(const aiNode* root) {
    NodeTable table;
    if (!root) return table;
    // An explicit stack: deep hierarchies must not exhaust the call stack.
    std::vector<std::pair<const aiNode*, int>> stack{{root, -1}};
    while (!stack.empty()) {
        auto [node, parent] = stack.back();
        stack.pop_back();
        int index = static_cast<int>(table.nodes.size());
        table.nodes.push_back(node);
        table.parent.push_back(parent);
        table.byName.emplace(node->mName.C_Str(), index);
        for (unsigned c = node->mNumChildren; c-- > 0;)
            if (node->mChildren[c]) stack.emplace_back(node->mChildren[c], index);
    }
    return table;
}

PoseSampler::PoseSampler(const NodeTable& table, const aiAnimation* animation)
    : table_(table), channels_(table.nodes.size(), nullptr), moving_(table.nodes.size(), false) {
    if (animation) {
        for (unsigned c = 0; c < animation->mNumChannels; ++c) {
            const aiNodeAnim* channel = animation->mChannels[c];
            if (!channel) continue;
            int node = table.Find(channel->mNodeName);
            if (node >= 0) channels_[static_cast<size_t>(node)] = channel;
        }
    }
    for (size_t i = 0; i < table.nodes.size(); ++i) {
        int parent = table.parent[i];
        moving_[i] = channels_[i] != nullptr || (parent >= 0 && moving_[static_cast<size_t>(parent)]);
    }
}

aiMatrix4x4 PoseSampler::Local(size_t node, double time) const {
    const aiNodeAnim* channel = channels_[node];
    const aiMatrix4x4& rest = table_.nodes[node]->mTransformation;
    if (!channel) return rest;
    aiVector3D restScale, restPosition;
    aiQuaternion restRotation;
    rest.Decompose(restScale, restRotation, restPosition);
    aiVector3D position = Lerp(channel->mPositionKeys, channel->mNumPositionKeys, time, restPosition);
    aiQuaternion rotation = Slerp(channel->mRotationKeys, channel->mNumRotationKeys, time, restRotation);
    aiVector3D scale = Lerp(channel->mScalingKeys, channel->mNumScalingKeys, time, restScale);
    aiMatrix4x4 t, s;
    aiMatrix4x4::Translation(position, t);
    aiMatrix4x4::Scaling(scale, s);
    return t * aiMatrix4x4(rotation.GetMatrix()) * s;
}

void PoseSampler::Globals(double time, std::vector<aiMatrix4x4>& out) const {
    out.resize(table_.nodes.size());
    for (size_t i = 0; i < table_.nodes.size(); ++i) {
        int parent = table_.parent[i];
        aiMatrix4x4 local = Local(i, time);
        out[i] = parent < 0 ? local : out[static_cast<size_t>(parent)] * local;
    }
}

TickMapping MapTicks(const aiAnimation* animation, double ticksPerSecond) {
    TickMapping mapping;
    double duration = animation ? std::max(0.0, animation->mDuration) : 0.0;
    double sourceRate =
        animation && animation->mTicksPerSecond > 0.0 ? animation->mTicksPerSecond : kDefaultSourceTicksPerSecond;
    mapping.seconds = duration / sourceRate;
    if (!animation || duration <= 0.0) {
        mapping.ticks = {0, kHoldTick};
        mapping.sourceTimes = {0.0, 0.0};
        return mapping;
    }
    // Source time of tick k: k / 600 of the duration, or k / R seconds.
    double sourcePerTick = ticksPerSecond > 0.0 ? sourceRate / ticksPerSecond : duration / kClockEnd;
    double lastTick = ticksPerSecond > 0.0 ? std::min<double>(kClockEnd, mapping.seconds * ticksPerSecond) : kClockEnd;
    mapping.lastTick = static_cast<uint32_t>(std::floor(lastTick));
    for (uint32_t tick = 0; tick < mapping.lastTick; tick += kTicksPerFrame) {
        mapping.ticks.push_back(tick);
        mapping.sourceTimes.push_back(tick * sourcePerTick);
    }
    double lastTime = std::min(duration, mapping.lastTick * sourcePerTick);
    mapping.ticks.push_back(mapping.lastTick);
    mapping.sourceTimes.push_back(lastTime);
    mapping.ticks.push_back(std::max(kHoldTick, mapping.lastTick + 1));
    mapping.sourceTimes.push_back(lastTime);
    return mapping;
}

}  // namespace srxconvert
