// ModelSummary: what a model holds, in a few lines for the viewer's F3 panel and for
// log.txt at load: the file and its format, the meshes, vertices and triangles the engine
// draws, materials, the images they name (missing ones marked), bones, animations with
// their lengths, the file's lights by kind, the first pose's size and the scale the framing applied to it.
#pragma once

#include "import/SrxScene.h"

#include <d3dx9.h>

#include <string>
#include <vector>

class Renderer;

namespace viewer {

struct ModelSummary {
    struct Image {
        std::string name;
        bool found = false;
    };
    struct Clip {
        std::string name;
        double seconds = 0.0;  // < 0: only ticks are known
        double ticks = 0.0;
    };
    std::string file, format;
    size_t meshes = 0, vertices = 0, triangles = 0, materials = 0, bones = 0;
    size_t lines = 0, points = 0;  // drawn unlit
    // The same as the file holds them (a converted model's, as Assimp reads it): the engine
    // draws a mesh once for every node that places it, and a material once for every
    // combination of maps and colours a mesh uses. Shown beside the engine's when they differ.
    struct Counts {
        size_t meshes = 0, materials = 0, triangles = 0;
        bool known = false;
    } inFile;
    std::vector<Image> images;
    std::vector<Clip> clips;
    size_t lights[3] = {};  // point, spot and directional lights the file brings
    D3DXVECTOR3 size{0.0f, 0.0f, 0.0f};
    float scale = 1.0f;

    // The panel's lines, "\n" between them.
    std::string Text() const;
};

// The counts of the scene as the engine draws it, the images its materials name (not yet
// looked up), and for an SRX file its one animation in ticks (the longest track). Made
// where the scene is read: a converted model's in its import child (ModelImport.h).
ModelSummary CountScene(const SrxScene& scene);

// The counted summary completed: its images looked up where the scene build will look
// (renderer's registry, after the model's images and ./data/ are loaded), the file, the
// first pose's size and the framing's scale. A converted model's clips come from its
// source (the caller fills them in).
ModelSummary Summarize(ModelSummary counted, const Renderer& renderer, const std::string& file,
                       const std::string& format, const D3DXVECTOR3& size, const D3DXMATRIX& framing);

}  // namespace viewer
