#include "scene/Renderable.h"

#include "render/Renderer.h"
#include "scene/MorphBlend.h"
#include "scene/World.h"

#include <cstring>

Renderable::Renderable() { D3DXMatrixIdentity(&local); }

void MeshPartRenderable::Render() {
    if (!mesh || range < 0 || range >= static_cast<int>(mesh->ranges.size())) return;
    if (morph) morph->Update(AnimationTime());
    mesh->Draw(mesh->ranges[static_cast<size_t>(range)]);
}

void LinesPointsRenderable::Render() {
    if (!mesh) return;
    if (mesh->primitiveType == D3DPT_POINTLIST) {
        DWORD size;
        std::memcpy(&size, &pointSize, sizeof(size));
        gRenderer->device->SetRenderState(D3DRS_POINTSIZE, size);
    }
    mesh->Draw(IndexRange{0, mesh->vertexCount});
}

void SkinnedRenderable::Render() {
    params.matrixArray = bones;
    params.matrixArrayCount = static_cast<uint32_t>(boneCount);
    // Uploaded through this renderable's own constant table; the bound pass shader reads
    // the same registers.
    gRenderer->ApplyShaderParams(shader, params);
    if (!skin || !skin->mesh) return;
    if (morph) morph->Update(AnimationTime());
    Mesh& mesh = *skin->mesh;
    if (range != kEveryRange) {
        if (range >= 0 && range < static_cast<int>(mesh.ranges.size()))
            mesh.Draw(mesh.ranges[static_cast<size_t>(range)]);
        return;
    }
    for (const IndexRange& r : mesh.ranges) mesh.Draw(r);
}
