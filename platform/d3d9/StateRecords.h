// The device's two records of state.
//
// D3D9State is what the application set, kept exactly as Direct3D 9 keeps it: render and
// sampler states, what is bound, viewport and scissor rectangle, the constant registers.
// GlStateCache is what GL currently has. State calls write the first and mark dirty bits in
// the second; a draw (PrepareDraw) brings GL up to date with what changed and nothing else.
#pragma once

#include "d3d9/DeviceLimits.h"
#include "d3d9/InternalUniforms.h"
#include "d3d9/Buffer.h"
#include "d3d9/ShaderObject.h"
#include "d3d9/Surface.h"
#include "d3d9/VertexDeclaration.h"

#include <d3d9.h>
#include <epoxy/gl.h>

#include <cstdint>

namespace lumaret::platform {

// Binds an object to a slot of the state record the way Direct3D 9 does: the device holds
// what is bound (RefCounted.h). The new object gains its binding before the old one loses
// its own, since they may be the same object, and losing it may end the old one.
template <class Slot, class Object>
void Rebind(Slot*& slot, Object* object) {
    if (SharedObject* held = Bindable(object)) held->HoldBinding();
    Slot* old = slot;
    slot = object;
    if (SharedObject* dropped = Bindable(old)) dropped->DropBinding();
}

struct StreamBinding {
    VertexBuffer* buffer = nullptr;
    UINT offset = 0;
    UINT stride = 0;
};

struct D3D9State {
    DWORD renderStates[D3D_RENDERSTATE_COUNT] = {};
    DWORD samplerStates[kSamplerStages][kSamplerStateCount] = {};
    IDirect3DBaseTexture9* textures[kSamplerStages] = {};
    Surface* renderTargets[kMaxRenderTargets] = {};
    Surface* depthStencil = nullptr;
    D3DVIEWPORT9 viewport{};
    RECT scissorRect{};
    VertexDeclaration* declaration = nullptr;
    StreamBinding streams[kMaxStreams];
    IndexBuffer* indices = nullptr;
    VertexShader* vertexShader = nullptr;
    PixelShader* pixelShader = nullptr;
    float vertexConstants[kVertexConstantRegisters * 4] = {};
    float pixelConstants[kPixelConstantRegisters * 4] = {};
    bool inScene = false;

    // Direct3D 9's state of a new device: its defaults, the implicit back buffer and depth
    // buffer bound, viewport and scissor rectangle over the back buffer.
    void Reset(bool autoDepth, Surface* backBuffer, Surface* autoDepthStencil);
    // Lets go of everything bound (the device's end).
    void UnbindAll();
};

// Registers [first, end) of one register file that GL has not seen yet.
struct DirtyRegisters {
    UINT first = 0;
    UINT end = 0;

    bool empty() const { return first >= end; }
    void Add(UINT from, UINT to) {
        if (empty()) {
            first = from;
            end = to;
        } else {
            first = from < first ? from : first;
            end = to > end ? to : end;
        }
    }
};

// Stores count registers at start of a register file and adds to *dirty only the span
// that really changed: applications re-send whole parameter blocks per draw, mostly the
// same values. Compared bit for bit, so -0.0 and NaN payloads still reach the shader.
void StoreRegisters(float* file, UINT start, const float* data, UINT count, DirtyRegisters* dirty);

// What a draw must send to GL again.
enum Dirty : uint32_t {
    DirtyFramebuffer = 1u << 0,
    DirtyViewport = 1u << 1,
    DirtyDepthStencil = 1u << 2,
    DirtyRaster = 1u << 3,
    DirtyBlend = 1u << 4,
    DirtyColorMask = 1u << 5,
    DirtyScissor = 1u << 6,
    DirtyPrograms = 1u << 7,
    DirtyVertexInput = 1u << 8,
    DirtyVertexConstants = 1u << 9,
    DirtyPixelConstants = 1u << 10,
    DirtySrgbWrite = 1u << 11,
    DirtyAll = 0xFFFFFFFFu,
};

struct GlStateCache {
    uint32_t dirty = DirtyAll;
    uint32_t samplerDirty = 0xFFFF;  // one bit per sampler stage
    // Registers set since the last draw, whichever shader was bound (the whole files at
    // first), and how many registers of each file the bound uniform range covers.
    DirtyRegisters vertexRegisters{0, kVertexConstantRegisters};
    DirtyRegisters pixelRegisters{0, kPixelConstantRegisters};
    UINT vertexRegistersBound = 0;
    UINT pixelRegistersBound = 0;
    GLuint samplers[kSamplerStages] = {};
    GLuint vertexArray = 0;
    GLuint vertexProgram = ~0u;
    GLuint pixelProgram = ~0u;
    InternalUniforms internal;  // what the internal uniform buffer holds
    bool framebufferComplete = true;
    bool viewportPretransformed = false;  // the viewport was last set for pretransformed vertices
    bool programsPretransformed = false;  // likewise the programs
};

}  // namespace lumaret::platform
