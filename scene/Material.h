// Materials and lightmaps: filling a renderable's parameter block from an imported
// material. Textures are looked up among those the resource manager already loaded from
// ./data/; nothing is read from disk here.
#pragma once

#include "import/SrxScene.h"

#include <string>

class Renderable;

// Colours, the diffuse map, a lightmap (by node name, then by scene stem, then the white
// default), the normal map, sampler flags 11, 11, 2 and the opaque state word.
void ApplyMaterial(const SrxNode& node, const SrxMaterial& material, Renderable& renderable,
                   const std::string& scenePath);

// The first loaded of base + "_lightmap.jpg", ".tga", ".dds"; logs which one, or
// "No lightmap found.". Negative when none is loaded.
int FindLightmap(const std::string& base);
