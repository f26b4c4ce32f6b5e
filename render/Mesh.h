// Mesh: GPU geometry of up to four vertex streams, an optional index buffer, the vertex
// declaration describing the streams (borrowed), and the index ranges of its sub-meshes.
// Geometry is drawn as triangle lists, or without indices as the line or point list that
// primitiveType names. Shaders, textures and render states are the
// caller's; a draw only binds geometry. Indexed draws go through the renderer's
// DrawThrottle, in batches when large.
#pragma once

#include "render/DrawThrottle.h"

#include <d3d9.h>

#include <cstdint>
#include <string>
#include <vector>

struct IndexRange {
    uint32_t start;
    uint32_t count;
};

class Mesh {
public:
    struct Stream {
        IDirect3DVertexBuffer9* buffer = nullptr;
        bool dynamic = false;
        uint32_t stride = 0;
        uint32_t count = 0;
    };
    static constexpr int kStreamCount = 4;

    explicit Mesh(IDirect3DDevice9* device, DrawThrottle* throttle = nullptr) : device(device), throttle(throttle) {}

    // A readable stream keeps a copy on the CPU for its locks; any other is held by GL
    // alone, and a D3DLOCK_READONLY lock reads it back from there (the inspection overlays
    // read scene meshes' positions and normals so, now and then). Index buffers are
    // write-only.
    void CreateStream(int slot, uint32_t vertexCount, uint32_t stride, bool dynamic, bool readable = false);
    void* LockStream(int slot);
    void UnlockStream(int slot);
    void CreateIndexBuffer(uint32_t indexCount, const void* data, bool dynamic, bool wide);
    void* LockIndexBuffer(uint32_t offset, uint32_t size);
    void UnlockIndexBuffer();
    void SetStreams();
    int Draw(const IndexRange& range);
    void Release();
    // Names the buffers for frame debuggers: "<name> stream N" and "<name> indices".
    void SetDebugName(const std::string& name);

    std::vector<IndexRange> ranges;
    Stream streams[kStreamCount];
    IDirect3DVertexDeclaration9* declaration = nullptr;  // borrowed
    uint32_t vertexCount = 0;
    IDirect3DIndexBuffer9* indexBuffer = nullptr;
    uint32_t indexCount = 0;
    bool indexBufferDynamic = false;
    // D3DPT_LINELIST or D3DPT_POINTLIST for a mesh without indices that holds lines or points.
    D3DPRIMITIVETYPE primitiveType = D3DPT_TRIANGLELIST;
    IDirect3DDevice9* device = nullptr;  // borrowed
    DrawThrottle* throttle = nullptr;    // borrowed; none: each range in one draw
};
