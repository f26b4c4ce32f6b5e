// The number of draw calls the engine has issued: Mesh::Draw and the Renderer's quad draws
// add to it. The main loop (RunEngine) resets it before each frame's scene and the stats
// overlay shows the frame's count.
#pragma once

#include <cstdint>

inline uint32_t gDrawCalls = 0;
