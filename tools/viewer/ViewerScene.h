// What the viewer works out about an SRX scene before it hands the file to the engine:
// where the model lies, how to frame it, and which images next to the file its materials
// and lightmap look-ups will ask for.
//
// The pass shaders fix the camera the pipeline can rebuild positions for (60 degrees,
// aspect 4/3), store depth up to 2048 units and let the light fall off to nothing at 2000.
// So the viewer does not move its camera to the model's size: it scales and centres the
// model into a sphere of kViewRadius units and keeps camera and light at distances those
// numbers suit.
#pragma once

#include "import/SrxScene.h"

#include <d3dx9.h>

#include <string>
#include <vector>

class Renderer;

namespace viewer {

constexpr float kViewRadius = 250.0f;

struct Bounds {
    D3DXVECTOR3 min{0.0f, 0.0f, 0.0f}, max{0.0f, 0.0f, 0.0f};
    bool empty = true;
    void Add(const D3DXVECTOR3& p);
};

// The box around every vertex as the engine places it (z negated, node matrix or bone
// palette) at ticks 0, 120, ... 600 of the animation clock, so an animated model stays in
// view while it moves.
Bounds SceneBounds(const SrxScene& scene);

// Object-to-world matrix that centres the box on the origin and scales it to kViewRadius.
D3DXMATRIX FramingMatrix(const Bounds& bounds);

// The camera's place on its orbit: angle 0 looks at the model's front (the source's +z,
// -z after the engine's conversion), from a little above.
D3DXVECTOR3 OrbitPosition(float angle);
// The light: above and to the right of the camera, so the side in view is lit.
D3DXVECTOR3 LightPosition(float angle);

// Loads the images in the scene file's directory that the scene will look up, under the
// keys LoadScene asks for: "./data/" + map name for maps and node lightmaps, the scene's
// stem + "_lightmap.<ext>" for its own lightmap. Runs before the ./data/ scan, so that
// the model's images win a look-up over same-named files there. Images the device cannot
// decode are left out (the material then falls back as in the engine). Returns the keys.
std::vector<std::string> RegisterModelTextures(Renderer& renderer, const SrxScene& scene, const std::string& scenePath);

}  // namespace viewer
