// Direct3D 9 values in GL's terms: comparison and stencil functions, blend factors and
// equations, texture addressing, primitive topologies, colours and float-valued states;
// and GL's errors in Direct3D 9's. Plain translation, no state.
#pragma once

#include <d3d9.h>
#include <epoxy/gl.h>

namespace lumaret::platform {

// Float-valued render and sampler states travel as their bits in a DWORD.
float FloatBits(DWORD value);
DWORD BitsOf(float value);
// D3DCOLOR (A8R8G8B8) as R, G, B, A in [0, 1].
void ColorToFloats(D3DCOLOR color, float out[4]);

GLenum CompareFunction(DWORD value);
GLenum StencilOperation(DWORD value);
// D3DRS_SRCBLEND and D3DRS_DESTBLEND (or their alpha versions) as one pair of GL factors.
void BlendFactors(DWORD source, DWORD destination, GLenum* glSource, GLenum* glDestination);
GLenum BlendEquation(DWORD value);
GLenum AddressMode(DWORD value);
// A primitive type and count as a GL mode and vertex (or index) count; false for types GL
// has no mode for and counts beyond GLsizei.
bool Topology(D3DPRIMITIVETYPE type, UINT primitives, GLenum* mode, GLsizei* vertices);

// With the debug callback installed, GL errors raised while the layer carried out a call
// become the call's result (the callback has already named the failing GL call on stderr).
// Without it the result passes unchanged: the layer validates what draws, clears and
// presents hand to GL, so glGetError after each of them would only look for errors that
// cannot happen. Allocations check for themselves (TakeGlErrors).
HRESULT GlResult(HRESULT result = D3D_OK);

}  // namespace lumaret::platform
