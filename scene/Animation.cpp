#include "scene/Animation.h"

#include "import/KeyframeController.h"
#include "scene/Renderable.h"

#include <cstring>

namespace {

std::unique_ptr<TrackController> SampledTransformController(const SrxTrack& track) {
    auto controller = std::make_unique<KeyframeController>();
    controller->Init(static_cast<int32_t>(track.keys.size()), 1, ControllerSampledTransform);
    for (const SrxKey& key : track.keys) {
        SampledTransformKey sampled;
        sampled.time = key.time;
        std::memcpy(sampled.position, key.values, sizeof(sampled.position));
        std::memcpy(sampled.rotation, key.values + 4, sizeof(sampled.rotation));
        controller->AppendSampledKey(sampled);
    }
    return controller;
}

}  // namespace

void AnimatedNode::SetTrack(int kind, std::unique_ptr<TrackController> controller) {
    int slot = (kind == 2 || kind == 8) ? 1 : kind == 4 ? 2 : 0;
    tracks[slot] = std::move(controller);
}

void AnimatedNode::Evaluate(float time, D3DXMATRIX& out) const {
    if (flags & NodeWholeTransform) {
        if (tracks[0]) tracks[0]->Evaluate(time, &out._11);
        return;
    }
    if (flags & NodeHold) return;
    // Translation and scale only; the rotation track is not consulted.
    float t[3] = {0.0f, 0.0f, 0.0f};
    float s[3] = {1.0f, 1.0f, 1.0f};
    if ((flags & NodeTranslation) && tracks[0]) tracks[0]->Evaluate(time, t);
    if ((flags & NodeScale) && tracks[2]) tracks[2]->Evaluate(time, s);
    D3DXMatrixIdentity(&out);
    out._11 = s[0];
    out._22 = s[1];
    out._33 = s[2];
    out._41 = t[0];
    out._42 = t[1];
    out._43 = t[2];
}

std::vector<AnimatedNode> BuildNodes(const SrxScene& scene) {
    std::vector<AnimatedNode> nodes;
    nodes.reserve(scene.nodes.size());
    for (const SrxNode& n : scene.nodes) {
        uint32_t flags = (n.trackFlags & srx::TrackSampledTransform) ? NodeWholeTransform : 0u;
        flags |= n.trackFlags & (NodeTranslation | NodeRotation | NodeScale | NodeHold);
        AnimatedNode& node = nodes.emplace_back(n.name, n.id, n.parent, flags);
        if (n.trackFlags & srx::TrackSampledTransform)
            node.SetTrack(16, SampledTransformController(n.tracks[srx::SlotSampledTransform]));
    }
    return nodes;
}

AnimationController::AnimationController(const std::vector<AnimatedNode>* animatedNodes) : nodes(animatedNodes) {
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    // Identities, so that a node its tracks never write has a defined matrix.
    nodeMatrices.assign(nodes ? nodes->size() : 0, identity);
    root = identity;
}

void AnimationController::Evaluate(float time) {
    if (!nodes) return;
    for (size_t i = 0; i < nodes->size() && i < nodeMatrices.size(); ++i) (*nodes)[i].Evaluate(time, nodeMatrices[i]);
}

SkinPalette::SkinPalette(const std::vector<BoneBinding>* boneBindings, const AnimationController* animation)
    : bindings(boneBindings), controller(animation) {
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    matrices.assign(bindings ? bindings->size() : 0, identity);
}

void SkinPalette::Recompute() {
    if (!bindings || !controller) return;
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    for (size_t j = 0; j < matrices.size() && j < bindings->size(); ++j) {
        const BoneBinding& binding = (*bindings)[j];
        bool known = binding.node >= 0 && static_cast<size_t>(binding.node) < controller->nodeMatrices.size();
        const D3DXMATRIX& node = known ? controller->nodeMatrices[static_cast<size_t>(binding.node)] : identity;
        D3DXMatrixMultiply(&matrices[j], &binding.offset, &node);
    }
}
