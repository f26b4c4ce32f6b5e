// SceneHandle: a scene a client loaded into an object and may release again.
//
// The demo loads once and keeps everything until shutdown, and the world's registries never
// move an index. A client that replaces models (the viewer) loads each through
// World::LoadReleasableScene and lets it go with World::ReleaseScene, which frees what the
// load made (meshes and their device buffers, skins, outlines, renderables, the controller
// and palettes) and leaves the object empty, ready for another load; every other entry of
// the world's lists keeps its index. A handle is its slot in the world's table of such
// scenes and the generation the slot had when the load filled it, so a handle kept past its
// release is refused instead of reaching whatever was loaded into the slot next.
#pragma once

#include <cstdint>

struct SceneHandle {
    uint32_t slot = 0;
    uint32_t generation = 0;  // 0: no scene
    explicit operator bool() const { return generation != 0; }
};
