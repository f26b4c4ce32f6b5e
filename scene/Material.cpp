// Placeholder until materials land.
#include "scene/Material.h"
