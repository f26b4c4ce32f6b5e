// Node animation and skin palettes.
//
// An object built from a scene file animates through its list of AnimatedNodes (one per
// scene node, each with its track controllers), its AnimationController (which evaluates
// every node at the frame's animation time into an array of node matrices) and, for
// skinned meshes, SkinPalettes (offset x node matrix per bone: the matrices a skinned
// renderable uploads). No parent transforms are applied: a node's matrix is its whole
// transform. Evaluation and recomputation allocate nothing.
#pragma once

#include "import/SrxScene.h"
#include "import/TrackController.h"

#include <d3dx9.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct BoneBinding;

// Flags of an AnimatedNode: how Evaluate builds its matrix.
enum AnimatedNodeFlags : uint32_t {
    NodeTranslation = 0x01,     // translation from slot 0
    NodeRotation = 0x02,        // not used by evaluation
    NodeScale = 0x04,           // scale from slot 2
    NodeHold = 0x08,            // leave the matrix unchanged
    NodeWholeTransform = 0x10,  // whole matrix from slot 0
};

class AnimatedNode {
public:
    AnimatedNode(std::string name, uint16_t id, uint16_t parent, uint32_t flags)
        : name(std::move(name)), id(id), parent(parent), flags(flags) {}

    // Kind 2 or 8 goes to slot 1, kind 4 to slot 2, any other kind to slot 0.
    void SetTrack(int kind, std::unique_ptr<TrackController> controller);
    void Evaluate(float time, D3DXMATRIX& out) const;

    std::string name;
    uint16_t id = 0;
    uint16_t parent = 0;  // kept, not used
    uint32_t flags = 0;
    std::unique_ptr<TrackController> tracks[3];  // position or whole transform, rotation, scale
};

// One node per scene node, in order.
std::vector<AnimatedNode> BuildNodes(const SrxScene& scene);

class AnimationController {
public:
    // One node matrix per node, each starting as the identity.
    explicit AnimationController(const std::vector<AnimatedNode>* nodes);
    void Evaluate(float time);

    const std::vector<AnimatedNode>* nodes = nullptr;  // not owned
    int32_t reserved[2] = {};  // kept for the record's interface; nothing reads them
    std::vector<D3DXMATRIX> nodeMatrices;
    D3DXMATRIX root;
};

class SkinPalette {
public:
    // As many matrices as the bindings hold now, each the identity.
    SkinPalette(const std::vector<BoneBinding>* bindings, const AnimationController* controller);
    // matrices[j] = offset of binding j x the matrix of its node; a node outside the
    // controller's matrices counts as the identity.
    void Recompute();

    const std::vector<BoneBinding>* bindings = nullptr;  // not owned
    const AnimationController* controller = nullptr;     // not owned
    std::vector<D3DXMATRIX> matrices;
};
