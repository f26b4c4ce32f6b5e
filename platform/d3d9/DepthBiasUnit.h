// What one unit of glPolygonOffset moves depth by, measured on the driver.
//
// Direct3D 9's D3DRS_DEPTHBIAS is an offset in the depth buffer's [0, 1] range, while GL's
// polygon offset counts "minimum resolvable differences" whose size the driver picks: 2^-24
// for a 24-bit buffer in OpenGL's own example, but llvmpipe's is twice that. So the device
// measures the unit of each depth format once when it is created (one draw into a 1 x 1
// buffer) and divides the bias by it. The device measures at its first draw with a bias,
// so that a program that never asks for one never pays for the measuring draws. For float
// depth buffers the unit depends on the depth itself; the one measured at 0.5 stands in
// for all.
#pragma once

#include <epoxy/gl.h>

#include <map>

namespace lumaret::platform {

class DepthBiasUnits {
public:
    // Measures every depth format the layer creates; needs the device's context current.
    // Changes GL state: the caller reapplies its own afterwards.
    void Measure();
    bool Measured() const { return !units_.empty(); }
    // Depth moved by one polygon-offset unit on a buffer of this internal format.
    float UnitOf(GLenum depthInternalFormat) const;

private:
    std::map<GLenum, float> units_;
};

}  // namespace lumaret::platform
