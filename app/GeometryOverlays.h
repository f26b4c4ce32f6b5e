// GeometryOverlays: the frame's geometry drawn again over the finished picture, for
// inspection, in the engine and the viewer alike: W the wireframe, B each object's
// bounding box, V each vertex's normal as a short line. Off by default; nothing is
// compiled or read until one is turned on.
//
// The wireframe is every queued draw again with D3DRS_FILLMODE = D3DFILL_WIREFRAME and the
// depth-and-normal pass's own vertex program (read from ./data/PassZN.hlsl), so skinned
// meshes bend as the passes draw them. Boxes and normals are line lists (D3DPT_LINELIST)
// built from the scene meshes' vertices, read back on the CPU and skinned there as that
// vertex program skins them; a box holds the object's vertices as posed this frame, and a
// normal is 4% of its object's box diagonal long. With boxes alone, a static mesh's
// vertices are not each placed: its own box's corners are, so the box holds them as
// before, looser where the object's matrix turns the mesh. All of it is drawn without a depth test,
// so hidden edges show too.
#pragma once

#include "render/RendererTypes.h"
#include "resources/ShaderParams.h"

#include <d3dx9.h>

#include <vector>

class Renderer;
class World;

class GeometryOverlays {
public:
    bool wireframe = false, bounds = false, normals = false;

    // Toggles the overlays whose keys were pressed; true when one changed.
    bool Toggle(bool wireframeKey, bool boundsKey, bool normalsKey);
    // Draws the overlays that are on over the bound target, for the world's objects as
    // they are posed at the clock's current time.
    void Draw(Renderer& renderer, World& world);

private:
    void Compile(Renderer& renderer);
    // Appends the boxes and normal lines of the queued draws, in world space.
    void BuildLines(World& world);

    bool compiled_ = false;
    int wireShader_ = -1, lineShader_ = -1;
    ShaderParams wireParams_, lineParams_;
    std::vector<QuadVertex> lines_;
    std::vector<D3DXVECTOR3> positions_, directions_;  // one object's, reused
};
