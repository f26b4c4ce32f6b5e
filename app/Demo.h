// Demo: the built-in demo's scene and its per-frame animation.
//
// SetupDemoScene fills the World once at start-up: the zone, the "scene" object holding the
// imported model (cylcube01.srx) and its animation, and a 5 x 5 x 5 grid of cubes that share
// the scene object's renderables. AnimateDemo moves the light and pulses every cube's size.
// The World owns every object; the caller keeps the cube list (not owning) and the light.
// The camera and the main loop are Engine's.
#pragma once

#include <vector>

class World;
class SceneObject;
struct Light;

// Steps 1-4 of the demo's set-up: clear colour and post factor, the zone, the scene object
// (in no zone, yet visited by the frame walk, which takes each zone's count of objects from
// the World's own list), and the cubes, appended to cubes in the order 25 i + 5 j + k.
void SetupDemoScene(World& world, std::vector<SceneObject*>& cubes);

// One frame of the demo's animation at s (twice the frame timer's seconds): the light's
// path, and each cube's scale written to its matrix's diagonal only.
void AnimateDemo(float s, Light& light, std::vector<SceneObject*>& cubes);
