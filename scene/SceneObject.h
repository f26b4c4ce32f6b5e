// Scene objects and zones. An object is a world transform plus a list of renderables it
// draws (shared, owned by the World) and, when a scene was loaded into it, its animated
// nodes, animation controller and skin palettes. A zone is a named list of objects.
#pragma once

#include "scene/Animation.h"

#include <d3dx9.h>

#include <string>
#include <vector>

class Renderable;
struct MeshOutline;
class Zone;

class SceneObject {
public:
    explicit SceneObject(std::string name);
    virtual ~SceneObject() = default;  // the animated nodes go with the object

    void AddRenderable(Renderable* renderable) { renderables.push_back(renderable); }
    int RenderableCount() const { return static_cast<int>(renderables.size()); }
    Renderable* GetRenderable(int index) const { return renderables[static_cast<size_t>(index)]; }

    std::string name;
    Zone* zone = nullptr;                       // not owned
    D3DXMATRIX world;                           // object to world; identity at creation
    MeshOutline* outline = nullptr;             // not owned
    std::vector<Renderable*> renderables;       // not owned, drawn in order
    AnimationController* controller = nullptr;  // not owned
    SkinPalette* palette = nullptr;             // the last skinned mesh's palette, not owned
    std::vector<SkinPalette*> palettes;         // every palette of the object, not owned
    std::vector<AnimatedNode> nodes;
};

class Zone {
public:
    explicit Zone(std::string name) : name(std::move(name)) {}
    // Appends without checking: an object added twice is listed twice.
    void AddObject(SceneObject* object) {
        object->zone = this;
        objects.push_back(object);
    }

    std::string name;
    std::vector<SceneObject*> objects;  // not owned, insertion order
};
