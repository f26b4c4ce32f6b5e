// Renderables: what a scene object draws. The World owns every renderable; objects only
// refer to them, so one loaded scene can be drawn by many objects. The light pre-pass
// writes each draw's matrices into the renderable's parameter block just before it calls
// Render(), so a shared renderable carries the matrices of its last draw.
#pragma once

#include "render/Mesh.h"
#include "resources/ShaderParams.h"

#include <d3dx9.h>

#include <cstdint>
#include <memory>
#include <vector>

class MorphBlend;

// One bone of a skin: the position of its node in the object's animated-node list and
// the bone's offset (inverse bind) matrix.
struct BoneBinding {
    int32_t node = 0;
    D3DXMATRIX offset;
};

// The bones of one skinned mesh.
struct Skin {
    Mesh* mesh = nullptr;  // not owned
    std::vector<BoneBinding> bindings;
};

class Renderable {
public:
    Renderable();
    virtual ~Renderable() = default;
    // Draws the geometry with whatever shader and states are bound; the base draws nothing.
    virtual void Render() {}

    D3DXMATRIX local;     // transform of the scene node the mesh hangs from
    ShaderParams params;  // material, textures, states and this draw's matrices
    int shader = -1;      // the renderable's own shader, -1 when none
    int32_t reserved = 0;  // kept for the record's interface; nothing reads it
    // The pass shaders the material needs in place of the pass's own (MaterialPass order),
    // -1 where the pass's own draws it; the values they read as floatArray.
    int passShaders[3] = {-1, -1, -1};
    float materialValues[48] = {};
    // Blended: drawn after the forward pass, farthest first by its centre (the middle of
    // its geometry's box, in the mesh's frame), instead of in the ZN and forward passes.
    bool blended = false;
    D3DXVECTOR3 center{0.0f, 0.0f, 0.0f};
    // Lines and points: drawn with their own shader after the forward pass, depth-tested,
    // and in neither the ZN nor the light pass.
    bool unlit = false;
    // Lines and points on a node the animation moves: local takes this matrix (a one-bone
    // palette's, recomputed with the object's) each frame; null for everything else.
    const D3DXMATRIX* placement = nullptr;
    // Morph targets blended into the geometry before each draw; null for most.
    std::shared_ptr<MorphBlend> morph;
};

// The passes whose shader a material may replace (Renderable::passShaders).
enum MaterialPass : int {
    MaterialPassZN,
    MaterialPassForward,
    MaterialPassBlend,
    MaterialPassCount,
    MaterialPassNone = -1
};

// One index range of a mesh.
class MeshPartRenderable : public Renderable {
public:
    MeshPartRenderable(Mesh* mesh, int range) : mesh(mesh), range(range) {}
    void Render() override;

    Mesh* mesh = nullptr;  // not owned
    int range = 0;
};

// A line or point list: a whole mesh without indices, points drawn pointSize pixels wide.
class LinesPointsRenderable : public Renderable {
public:
    LinesPointsRenderable(Mesh* mesh, float pointSize) : mesh(mesh), pointSize(pointSize) { unlit = true; }
    void Render() override;

    Mesh* mesh = nullptr;  // not owned
    float pointSize = 1.0f;
};

// Skinned geometry. Render() uploads the bone palette through the renderable's own
// shader's constant table without binding that shader: Direct3D 9 keeps constant
// registers across shader changes, so the pass shader that is bound reads the palette
// at the same registers.
class SkinnedRenderable : public Renderable {
public:
    SkinnedRenderable(Skin* skin, const D3DXMATRIX* bones, int boneCount, int range = kEveryRange)
        : skin(skin), bones(bones), boneCount(boneCount), range(range) {}
    void Render() override;

    static constexpr int kEveryRange = -1;
    Skin* skin = nullptr;               // not owned
    const D3DXMATRIX* bones = nullptr;  // the palette's matrices, not owned
    int boneCount = 0;
    int range = kEveryRange;  // the one range drawn, or every range of the skin's mesh
};
