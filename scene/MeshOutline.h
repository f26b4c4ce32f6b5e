// MeshOutline: a record of the meshes of one loaded scene (kind, node, transform), one
// entry per mesh in scene order. Kept for the World's interface (the scene build fills
// it); nothing draws it and nothing in the frame reads it.
#pragma once

#include <d3dx9.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct MeshOutline;

struct MeshOutlineEntry {
    enum Kind : int32_t { Unskinned = 1, Skinned = 2 };
    int32_t kind = Unskinned;
    std::string name;  // the node's name
    uint16_t id = 0;   // the mesh's node
    uint16_t parent = 0;
    D3DXMATRIX transform;
    std::unique_ptr<MeshOutline> children;
    uint8_t flag = 0;
};

struct MeshOutline {
    std::vector<MeshOutlineEntry> entries;
};
