// Materials and lightmaps: filling a renderable's parameter block from an imported
// material. Textures are looked up among those the resource manager already loaded from
// ./data/; nothing is read from disk here.
#pragma once

#include "import/SrxScene.h"
#include "scene/Renderable.h"

#include <string>

// Colours, the diffuse map, a lightmap (by node name, then by scene stem, then the white
// default), the normal map, sampler flags 11, 11, 2 and the opaque state word.
void ApplyMaterial(const SrxNode& node, const SrxMaterial& material, Renderable& renderable,
                   const std::string& scenePath);

// What the material asks for beyond ApplyMaterial's (emission and its map, cut-outs by alpha
// or an opacity map, blending, two-sided faces, texture transforms and coordinate sets, the
// mesh's vertex colours when `colored`, metal/roughness maps): the pass
// shaders that draw it (shaders, in MaterialPass order), their values and maps on stages 4
// to 7, and no culling for two-sided faces. A material without any is left as it is.
// A blended material's renderable is marked so and drawn with the blend pass's shader in
// the blended state (alpha blending, depth tested without writing).
// Maps read the texture coordinate set and transform their slot names; a second set the
// mesh lacks (`secondSet` false) reads the first.
void ApplyMaterialFeatures(const SrxMaterial& material, bool colored, bool secondSet,
                           const int (&shaders)[MaterialPassCount], Renderable& renderable);

// True when ApplyMaterialFeatures has something to draw for the material.
bool HasMaterialFeatures(const SrxMaterial& material, bool colored);

// The first loaded of base + "_lightmap.jpg", ".tga", ".dds"; logs which one, or
// "No lightmap found.". Negative when none is loaded.
int FindLightmap(const std::string& base);
