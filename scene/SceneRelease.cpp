// World::LoadReleasableScene and World::ReleaseScene (SceneHandle.h).
#include "render/Mesh.h"
#include "render/Renderer.h"
#include "scene/World.h"

#include <algorithm>
#include <unordered_set>

namespace {

// Released entries stay in the lists as null pointers, so that no other index moves.
template <class T>
void DeleteRange(std::vector<T*>& list, size_t begin, size_t end) {
    for (size_t i = begin; i < end && i < list.size(); ++i) {
        delete list[i];
        list[i] = nullptr;
    }
}

}  // namespace

void World::ListSizes(size_t (&sizes)[6]) const {
    const size_t current[6] = {outlines.size(),     meshes.size(),      skins.size(),
                               renderables.size(), controllers.size(), palettes.size()};
    std::copy(current, current + 6, sizes);
}

SceneHandle World::LoadReleasableScene(SceneObject* object, const std::string& path, const uint8_t* data,
                                       size_t size) {
    LoadedScene loaded;
    ListSizes(loaded.begin);
    if (!LoadScene(object, path, data, size)) return {};
    ListSizes(loaded.end);
    loaded.object = object;
    loaded.live = true;
    // A free slot is taken again under its next generation.
    auto freeSlot = std::find_if(loadedScenes_.begin(), loadedScenes_.end(), [](const LoadedScene& s) { return !s.live; });
    if (freeSlot == loadedScenes_.end()) freeSlot = loadedScenes_.insert(loadedScenes_.end(), LoadedScene{});
    loaded.generation = freeSlot->generation + 1;
    *freeSlot = loaded;
    return SceneHandle{static_cast<uint32_t>(freeSlot - loadedScenes_.begin()), loaded.generation};
}

bool World::IsLoaded(SceneHandle handle) const {
    return handle && handle.slot < loadedScenes_.size() && loadedScenes_[handle.slot].live &&
           loadedScenes_[handle.slot].generation == handle.generation;
}

bool World::ReleaseScene(SceneHandle handle) {
    if (!IsLoaded(handle)) return false;
    LoadedScene& scene = loadedScenes_[handle.slot];
    // The device holds what is bound, as Direct3D 9 does: the last frame's buffers would
    // outlive their release.
    if (gRenderer && gRenderer->device) {
        gRenderer->device->SetStreamSource(0, nullptr, 0, 0);
        gRenderer->device->SetIndices(nullptr);
    }
    // Other objects may draw the scene's renderables too (as the demo's copies do): they
    // stop drawing them rather than keep pointers to freed ones.
    std::unordered_set<Renderable*> released(renderables.begin() + static_cast<std::ptrdiff_t>(scene.begin[3]),
                                             renderables.begin() + static_cast<std::ptrdiff_t>(scene.end[3]));
    for (SceneObject* object : objects) {
        if (!object) continue;
        std::erase_if(object->renderables, [&](Renderable* r) { return released.count(r) != 0; });
    }
    for (size_t i = scene.begin[1]; i < scene.end[1]; ++i)
        if (meshes[i]) meshes[i]->Release();
    DeleteRange(outlines, scene.begin[0], scene.end[0]);
    DeleteRange(meshes, scene.begin[1], scene.end[1]);
    DeleteRange(skins, scene.begin[2], scene.end[2]);
    DeleteRange(renderables, scene.begin[3], scene.end[3]);
    DeleteRange(controllers, scene.begin[4], scene.end[4]);
    DeleteRange(palettes, scene.begin[5], scene.end[5]);
    SceneObject& object = *scene.object;
    object.outline = nullptr;
    object.controller = nullptr;
    object.palette = nullptr;
    object.palettes.clear();
    object.renderables.clear();
    object.nodes.clear();
    object.nodes.shrink_to_fit();
    scene.live = false;
    scene.object = nullptr;
    return true;
}
