// How many GL objects the layer's resources hold right now: textures, renderbuffers,
// buffers, vertex arrays, programs and queries created for the engine's textures,
// surfaces, vertex and index buffers, declarations, shaders and queries. The device's
// own framebuffers and scratch objects are not counted. Tests compare the count before
// and after a piece of the engine comes and goes to find leaked device objects.
#pragma once

namespace lumaret::platform {

void CountGlObjects(int delta);
long LiveGlObjects();

}  // namespace lumaret::platform
