// Placeholder until the scene builder lands.
#include "scene/World.h"

bool World::LoadScene(SceneObject*, const std::string&) { return false; }
