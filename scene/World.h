// World: the engine's one scene container and the owner of everything that is drawn.
//
// Owns zones, scene objects and everything built when a scene file is loaded into an
// object (meshes, skins, renderables, animation controllers, skin palettes, outlines),
// the light pre-pass pipeline (vertex declarations, ZN and light targets, pass shaders)
// and the post-processing state. Lights are the application's, registered by pointer.
// Render(camera) animates, queues and draws one frame: the ZN pass, the light pass, the
// forward pass into the PostFX scene target, then PostFX into the bound target.
#pragma once

#include "postfx/PostFX.h"
#include "resources/ShaderParams.h"
#include "scene/Animation.h"
#include "scene/Light.h"
#include "scene/LightBounds.h"
#include "scene/MeshOutline.h"
#include "scene/Renderable.h"
#include "scene/SceneHandle.h"
#include "scene/SceneObject.h"

#include <d3d9.h>
#include <d3dx9.h>

#include <cstdint>
#include <string>
#include <vector>

class Camera;
class Mesh;

struct DrawItem {
    Renderable* renderable = nullptr;  // not owned
    D3DXMATRIX world;                  // the object's world matrix when it was queued
};

// A pass as DrawList receives it: the shader to bind and an optional block that
// replaces each renderable's own for the upload.
struct DrawPass {
    ShaderParams* overrideParams = nullptr;
    int shader = -1;
    // Which of a renderable's passShaders replaces shader for it, if it has one.
    MaterialPass materialPass = MaterialPassNone;
};

// The vertex declarations of the pipeline: A (32 bytes, float normal), B (unskinned
// StaticVertex) and C (SkinnedVertex). A is kept for the renderer's interface (created and
// released with the others); no mesh is drawn with it. B and C with a second stream of
// D3DCOLOR vertex colours are made the first time a mesh with colours is built.
enum VertexDeclarationSlot {
    DeclarationA,
    DeclarationB,
    DeclarationC,
    DeclarationBColor,
    DeclarationCColor,
    DeclarationLines,  // LinesPointsVertex: position and colour, for lines and points
    DeclarationCount
};

class World;
extern World* gWorld;

class World {
public:
    World();
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    void InitPipeline();
    Zone* CreateZone(const std::string& name);
    SceneObject* CreateObject(const std::string& name);
    bool LoadScene(SceneObject* object, const std::string& path);
    // The declaration for a scene mesh, made on first use when it is one with colours.
    IDirect3DVertexDeclaration9* MeshDeclaration(bool skinned, bool colored);
    // The pass shaders for materials beyond what the pass shaders draw
    // (PassZNMaterial.hlslv, PassForwardMaterial.hlslv, PassBlendMaterial.hlslv), loaded the first time a scene
    // asks; false, after one log line, when they cannot be had.
    bool MaterialPassShaders(int (&shaders)[MaterialPassCount]);
    // The shader of lines and points (PassUnlit.hlslv) and their declaration, made the first
    // time a scene has them; -1 after one log line when the shader cannot be had.
    int LinesPointsShader();
    IDirect3DVertexDeclaration9* LinesPointsDeclaration();
    // The same for a scene file already in memory; path names it (its lightmap, its meshes).
    bool LoadScene(SceneObject* object, const std::string& path, const uint8_t* data, size_t size);
    // The same, for a scene the caller will release (SceneHandle.h); an empty handle when
    // the load fails.
    SceneHandle LoadReleasableScene(SceneObject* object, const std::string& path, const uint8_t* data, size_t size);
    // Frees what the load made and empties its object; false for a stale or empty handle.
    bool ReleaseScene(SceneHandle handle);
    bool IsLoaded(SceneHandle handle) const;
    void Render(Camera* camera);
    // Queues every zone's objects for drawing at the clock's current time, as Render does
    // before its passes (the inspection overlays draw the frame's geometry again this way).
    void QueueObjects();
    // Draws the queue once; with a pass, its shader is bound once and every draw uploads
    // through it, without one each renderable uses its own shader.
    void DrawList(const DrawPass* pass);

    Camera* camera = nullptr;  // the frame's camera, not owned
    std::vector<DrawItem> drawList;
    std::vector<DrawItem> blendList;  // the frame's blended renderables, drawn after the forward pass
    std::vector<DrawItem> unlitList;  // the frame's lines and points, drawn after the opaque surfaces
    // How many lights the blend pass lights its surfaces with; the rest are left out, and
    // said once in the log.
    static constexpr int kBlendLights = 16;
    D3DXMATRIX view, projection, viewProjection;
    std::vector<MeshOutline*> outlines;
    std::vector<Mesh*> meshes;
    std::vector<Skin*> skins;
    std::vector<Renderable*> renderables;
    std::vector<AnimationController*> controllers;
    std::vector<SkinPalette*> palettes;
    std::vector<Zone*> zones;
    std::vector<Light*> lights;  // not owned
    std::vector<SceneObject*> objects;
    IDirect3DVertexDeclaration9* declarations[DeclarationCount] = {};
    D3DCOLOR clearColor = 0xff000000;
    float ticksPerFrame = 24.0f;  // how far Render advances the animation clock (0 holds it)
    float postFactor = 0.5f;
    D3DXVECTOR4 dofParams{200.0f, 550.0f, 1000.0f, 0.9f};
    int znTarget = -1, lightTarget = -1;
    int znShader = -1, lightShader = -1, forwardShader = -1;
    int materialShaders[MaterialPassCount] = {-1, -1, -1};  // MaterialPassShaders's, once loaded
    bool materialShadersTried = false;
    int linesPointsShader = -1;
    bool linesPointsShaderTried = false;
    ShaderParams znParams, lightParams, forwardParams;
    PostFX postfx;
    // Point and spot lights shade only the rectangles their ranges reach, all of them in one
    // draw of PassLightBounded.hlsl; false draws each over the whole screen with
    // PassLight.hlsl instead (the same picture, at the cost of a screen per light). Without
    // the bounded shader every light takes the full-screen way.
    bool boundLights = true;
    int boundedLightShader = -1;
    ShaderParams boundedLightParams;  // the additive state against the ZN pass's depth
    IDirect3DVertexDeclaration9* lightQuadDeclaration = nullptr;
    // What the last light pass drew: lights in all, and the pixels of their rectangles.
    struct LightPassStats {
        int lights = 0;
        int boundedLights = 0;
        int64_t boundedPixels = 0;
    } lightStats;

private:
    // What one releasable load appended to each list: [begin, end) positions, in the order
    // of kSceneLists.
    struct LoadedScene {
        uint32_t generation = 0;
        bool live = false;
        SceneObject* object = nullptr;
        size_t begin[6] = {}, end[6] = {};
    };
    std::vector<LoadedScene> loadedScenes_;
    void ListSizes(size_t (&sizes)[6]) const;

    void Queue(SceneObject& object);
    void DrawZNPass();
    void DrawLightPass();
    void DrawFullScreenLight(const Light& light);
    std::vector<LightQuadVertex> lightQuads;  // the bounded lights of this frame
    void DrawForwardPass();
    void DrawBlendPass();
    void DrawItems(const DrawPass* pass, const std::vector<DrawItem>& items);
    std::vector<float> blendLights_;  // three registers a light (PassBlendMaterial.hlslv)
    bool blendLightsCut_ = false;     // the line about lights left out was written
};

// The animation clock shared by the process: ticks of the frame being rendered.
float AnimationTime();
// Back to 0 (a new process starts there; tests restart it).
void ResetAnimationClock();
// The clock's cycle: it runs from 0 to this many ticks, then starts again.
float AnimationCycleTicks();
// Moves the clock (the viewer's timeline steps and scrubs), wrapped into the cycle.
void SetAnimationTime(float ticks);
