#include "d3d9/GlObjectCount.h"

namespace lumaret::platform {

namespace {
long gLiveGlObjects = 0;  // one GL context, one thread
}

void CountGlObjects(int delta) { gLiveGlObjects += delta; }
long LiveGlObjects() { return gLiveGlObjects; }

}  // namespace lumaret::platform
