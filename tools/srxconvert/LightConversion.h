// The scene's lights as SRX light records that carry their reach (srx::LightReachSize):
// kind, position and direction where the engine places the meshes at the first pose,
// colour with the intensity folded in, range, and a spot's cone.
//
// Assimp gives a point or spot light's falloff as attenuation terms 1 / (c + l d + q d^2);
// the engine's lights fall to zero at a range instead, taken where that attenuation leaves
// less than 1/255 of the light. A file that states the range itself (a glTF punctual
// light's `range`, which Assimp does not keep) gives it instead, in `fileRanges` by the
// light's index in the scene (NaN or absent: none). A light that reaches no distance at
// all (no attenuation and no range) gets range 0: the reader chooses one. Ambient and area
// lights are not written, nor lights whose values are not finite; at most kMaxLights are.
#pragma once

#include "NodeAnimation.h"
#include "import/SrxScene.h"

#include <assimp/scene.h>

#include <string>
#include <vector>

namespace srxconvert {

constexpr size_t kMaxLights = 4096;

// engineGlobals: each node's rest transform in the engine's frame (z mirrored, scaled).
std::vector<SrxLight> ConvertLights(const aiScene& scene, const NodeTable& table,
                                    const std::vector<aiMatrix4x4>& engineGlobals, float scale,
                                    const std::vector<float>& fileRanges, std::vector<std::string>& warnings);

// The distance at which attenuation 1 / (constant + linear d + quadratic d^2) leaves less
// than 1/255 of a light whose brightest channel is `intensity`; 0 when it never does.
float AttenuationRange(float constant, float linear, float quadratic, float intensity);

}  // namespace srxconvert
