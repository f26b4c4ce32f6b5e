// What the viewer works out about an SRX scene before it hands it to the engine: where
// the model lies, how to frame it, where the camera and the light go as the user turns,
// zooms and pans, and which images the scene's materials and lightmap look-ups will ask for.
//
// The pass shaders fix the camera the pipeline can rebuild positions for (60 degrees,
// aspect 4/3), store depth up to 2048 units and let the light fall off to nothing at 2000.
// So the viewer never changes the projection: it scales and centres the model into a
// sphere of kViewRadius units, and moves the camera around that sphere within distances
// those numbers suit, never into it (the lights: ViewerLighting.h).
#pragma once

#include "import/SrxScene.h"

#include <d3dx9.h>

#include <string>
#include <vector>

class Renderer;

namespace viewer {

constexpr float kViewRadius = 250.0f;
constexpr float kFieldOfViewDegrees = 60.0f;
constexpr float kAspect = 4.0f / 3.0f;
constexpr float kNear = 1.0f, kFar = 2000.0f;
constexpr float kFill = 0.75f;  // of the view's width or height, whichever binds
constexpr float kZoomFloor = 0.03f;

struct Bounds {
    D3DXVECTOR3 min{0.0f, 0.0f, 0.0f}, max{0.0f, 0.0f, 0.0f};
    bool empty = true;
    void Add(const D3DXVECTOR3& p);
};

// Every vertex as the engine places it (z negated, node matrix or bone palette) in the
// animation's first pose (tick 0), and a morphing vertex also as each target at full
// weight places it; numbers that are not finite are left out.
std::vector<D3DXVECTOR3> FirstPose(const SrxScene& scene);
// The same over the whole animation: the poses at every tick the engine's clock shows
// (0, 24, ..., 600), so that framing holds the model wherever it moves. A scene without
// tracks has one pose; large animated meshes are sampled at every few vertices per pose.
std::vector<D3DXVECTOR3> AnimatedPoses(const SrxScene& scene);
Bounds BoundsOf(const std::vector<D3DXVECTOR3>& points);
// At most one point per cell of a kFramingGrid^3 grid over the points' bounds: the framing
// projects every point some 200 times, and a million-vertex mesh would spend seconds
// there for a fill that cells of a 64th of the extent change by a fraction of a percent.
// The bounds' corners stay exact (each extreme point is kept in its cell's stead).
constexpr int kFramingGrid = 64;
std::vector<D3DXVECTOR3> FramingPoints(const std::vector<D3DXVECTOR3>& points);

// Object-to-world matrix that centres the box on the origin and scales the sphere around
// it to kViewRadius.
D3DXMATRIX FramingMatrix(const Bounds& bounds);

// The camera on a sphere around its target: yaw 0 looks at the model's front (the
// source's +z, -z after the engine's conversion), pitch lifts it above the horizon.
struct OrbitView {
    float yaw = 0.0f;
    float pitch = 0.35f;
    float distance = 2.3f * kViewRadius;
    D3DXVECTOR3 target{0.0f, 0.0f, 0.0f};
    float reach = kViewRadius;  // how far the model reaches from the origin
    float framed = 0.0f;        // the framing's distance; the zoom goes to kZoomFloor of it

    D3DXVECTOR3 Eye() const;
    void Orbit(float dxPixels, float dyPixels);
    // Positive notches move closer; the camera stops short of the model's sphere.
    void Zoom(float notches);
    // Moves the target with the cursor, in the plane facing the camera.
    void Pan(float dxPixels, float dyPixels, int viewHeight);
    // The distance range that keeps the model's sphere between the near and far planes.
    float NearestDistance() const;
    float FarthestDistance() const;
    // The near plane: kNear while the model's sphere lies beyond it; closer in, a
    // hundredth of the distance, so that the zoom can go into the model for a close look.
    float NearPlane() const;
};

// Which of the source's axes points up: 'x', 'y' (the engine's own, and glTF's) or 'z'
// (STL, Q3D, Blender exports), negative when sign is -1.
struct UpAxis {
    char axis = 'y';
    int sign = 1;
};
// The rotation, applied before the framing, that stands a model with that up axis
// upright in the engine's frame (where the source's z is negated).
D3DXMATRIX UpRotation(UpAxis up);
// The axis after this one in the order y, z, x (a key turns through them).
UpAxis NextUpAxis(UpAxis up);

// Where the points fall in the view: the larger of the width and height shares they
// fill, and the centre of their bounds in clip space (-1 to 1 across the view).
struct Projection {
    float fill = 0.0f, centreX = 0.0f, centreY = 0.0f;
};
Projection Project(const std::vector<D3DXVECTOR3>& worldPoints, const OrbitView& view);
// The distance at which the points fill kFill of the view, from the view's angles.
float FitDistance(const std::vector<D3DXVECTOR3>& worldPoints, OrbitView view);

// The camera circling the model: around the centre of the points' box, at the distance
// where from every direction the orbit takes (the yaw all round, at the view's pitch) every
// point lies within kFill of the view's half-width and half-height of the picture's middle.
// One fit for all directions, so that a model circled neither leaves the picture nor
// comes closer as it turns.
constexpr int kOrbitDirections = 72;
OrbitView OrbitFraming(const std::vector<D3DXVECTOR3>& worldPoints, OrbitView view);

// The model's place and the camera's at start: the first pose centred and scaled into
// the view sphere (FramingMatrix), moved across the view so that its projected bounds are
// centred, and the camera at the distance where they fill kFill of the view; and the
// orbit that circles it (OrbitFraming), whose first view is farther out.
struct Framing {
    D3DXMATRIX world;
    OrbitView view;
    OrbitView orbit;
    float fill = 0.0f;
};
Framing FrameModel(const std::vector<D3DXVECTOR3>& points, OrbitView view);

// Loads the images in the scene file's directory that the scene will look up, under the
// keys LoadScene asks for: "./data/" + map name for maps and node lightmaps, the scene's
// stem + "_lightmap.<ext>" for its own lightmap. Runs before the ./data/ scan, so that
// the model's images win a look-up over same-named files there. Images the device cannot
// decode are left out (the material then falls back as in the engine). Returns the keys,
// each with the file it was read from.
struct RegisteredImage {
    std::string key, source;
};
std::vector<RegisteredImage> RegisterModelTextures(Renderer& renderer, const SrxScene& scene,
                                                   const std::string& scenePath);

// The same for images in memory (a model converted on the fly), each under "./data/" + name.
struct NamedImage {
    std::string name;
    const std::vector<uint8_t>* bytes;
    std::string source;  // where the image came from, for the log
};
std::vector<RegisteredImage> RegisterImages(Renderer& renderer, const std::vector<NamedImage>& images);

}  // namespace viewer
