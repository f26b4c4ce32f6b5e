// Small records and flag words shared by the renderer's operations and their callers.
#pragma once

#include <d3d9.h>

#include <cstdint>

// Back-buffer size and refresh rate handed to Renderer::Init (0 = the adapter default).
struct DisplayModeDesc {
    int width = 0;
    int height = 0;
    int refreshRate = 0;
};

struct RendererSettings {
    bool fullscreen = false;
    bool vsync = true;
    int multisample = 0;  // D3DMULTISAMPLE_TYPE of the back buffer
    int anisotropy = 1;
};

// Bit 1 of Renderer::Init's device flags: create an automatic depth-stencil buffer.
constexpr int kDeviceFlagAutoDepthStencil = 2;

// ClearFlags: what Renderer::Clear clears.
enum ClearFlags : uint32_t {
    ClearColor = 1,
    ClearDepth = 2,
    ClearStencil = 4,
};

// SamplerFlags: one sampler stage's filtering, addressing and sRGB reads.
enum SamplerFlags : uint32_t {
    SamplerLinear = 1,
    SamplerLinearMip = 2,
    SamplerClamp = 4,
    SamplerSrgb = 8,
    SamplerBorder = 0x40,  // takes precedence over SamplerClamp
};

// One screen rectangle in normalised target units (origin top-left, y down).
struct QuadDesc {
    float x, y, width, height;
    float uMin, vMin, uMax, vMax;
    D3DCOLOR color;
};

// The vertex of Renderer::DrawQuads: clip-space position, texture coordinates, colour.
struct QuadVertex {
    float x, y, z;
    float u, v;
    D3DCOLOR color;
};

// The vertex of Renderer::DrawScreenQuad: pretransformed pixel position, texture coordinates.
struct ScreenQuadVertex {
    float x, y, z, rhw;
    float u, v;
};
static_assert(sizeof(QuadVertex) == 24 && sizeof(ScreenQuadVertex) == 24);
