// The number of draw calls the engine has issued: Mesh::Draw and the Renderer's quad draws
// add to it. The stats overlay resets it at the start of a frame and shows it per frame.
#pragma once

#include <cstdint>

inline uint32_t gDrawCalls = 0;
