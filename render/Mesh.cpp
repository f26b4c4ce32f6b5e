#include "render/Mesh.h"

#include "app/Log.h"
#include "render/DebugName.h"
#include "render/DrawCount.h"

#include <algorithm>
#include <cstring>

namespace {
bool ValidSlot(int slot) { return slot >= 0 && slot < Mesh::kStreamCount; }
}  // namespace

void Mesh::CreateStream(int slot, uint32_t count, uint32_t stride, bool dynamic, bool readable) {
    if (!ValidSlot(slot)) Log::Fatal("Mesh::CreateStream failed!");
    Stream& stream = streams[slot];
    if (stream.buffer) {
        stream.buffer->Release();
        stream.buffer = nullptr;
    }
    DWORD usage = (readable ? 0 : D3DUSAGE_WRITEONLY) | (dynamic ? D3DUSAGE_DYNAMIC : 0);
    stream.dynamic = dynamic;
    stream.stride = stride;
    stream.count = count;
    if (count > vertexCount) vertexCount = count;
    uint64_t length = static_cast<uint64_t>(count) * stride;
    if (length > 0xFFFFFFFFull || FAILED(device->CreateVertexBuffer(static_cast<UINT>(length), usage, 0,
                                                                    D3DPOOL_DEFAULT, &stream.buffer, nullptr)))
        Log::Fatal("Mesh::CreateStream failed!");
}

void* Mesh::LockStream(int slot) {
    void* data = nullptr;
    if (!ValidSlot(slot) || !streams[slot].buffer ||
        FAILED(
            streams[slot].buffer->Lock(0, 0, &data, streams[slot].dynamic ? D3DLOCK_DISCARD | D3DLOCK_NOOVERWRITE : 0)))
        Log::Fatal("Mesh::LockStream: Locking failed!");
    return data;
}

void Mesh::UnlockStream(int slot) {
    if (!ValidSlot(slot) || !streams[slot].buffer || FAILED(streams[slot].buffer->Unlock()))
        Log::Fatal("Mesh::UnlockStream: Unlocking failed!");
}

void Mesh::CreateIndexBuffer(uint32_t count, const void* data, bool dynamic, bool wide) {
    // A second call replaces the buffer instead of leaking it.
    if (indexBuffer) {
        indexBuffer->Release();
        indexBuffer = nullptr;
    }
    indexCount = count;
    indexBufferDynamic = dynamic;
    uint64_t length = static_cast<uint64_t>(count) * (wide ? 4 : 2);
    if (length > 0xFFFFFFFFull || FAILED(device->CreateIndexBuffer(
                                      static_cast<UINT>(length), D3DUSAGE_WRITEONLY | (dynamic ? D3DUSAGE_DYNAMIC : 0),
                                      wide ? D3DFMT_INDEX32 : D3DFMT_INDEX16, D3DPOOL_DEFAULT, &indexBuffer, nullptr)))
        Log::Fatal("Mesh::CreateIndexBuffer failed!");
    if (!data) return;
    void* target = nullptr;
    if (FAILED(indexBuffer->Lock(0, static_cast<UINT>(length), &target, dynamic ? D3DLOCK_DISCARD : 0)))
        Log::Fatal("Mesh::LockIndexBuffer: Locking failed!");
    std::memcpy(target, data, static_cast<size_t>(length));
    indexBuffer->Unlock();
}

void* Mesh::LockIndexBuffer(uint32_t offset, uint32_t size) {
    void* data = nullptr;
    if (!indexBuffer || FAILED(indexBuffer->Lock(offset, size, &data, indexBufferDynamic ? D3DLOCK_DISCARD : 0)))
        Log::Fatal("Mesh::LockIndexBuffer: Locking failed!");
    return data;
}

void Mesh::UnlockIndexBuffer() {
    if (indexBuffer) indexBuffer->Unlock();
}

void Mesh::SetStreams() {
    if (FAILED(device->SetVertexDeclaration(declaration))) Log::Fatal("Mesh::SetStreams: SetVertexDeclaration failed!");
    for (int slot = 0; slot < kStreamCount && streams[slot].buffer; ++slot)
        if (FAILED(device->SetStreamSource(static_cast<UINT>(slot), streams[slot].buffer, 0, streams[slot].stride)))
            Log::Fatal("Mesh::SetStreams: SetStreamSource failed!");
    if (indexBuffer && FAILED(device->SetIndices(indexBuffer))) Log::Fatal("Mesh::SetStreams: SetIndices failed!");
}

int Mesh::Draw(const IndexRange& range) {
    SetStreams();
    ++gDrawCalls;
    if (indexBuffer) {
        const uint32_t triangles = range.count / 3;
        const bool batched = throttle && triangles > DrawThrottle::kBatchTriangles;
        const uint32_t batch = batched ? DrawThrottle::kBatchTriangles : triangles;
        for (uint32_t done = 0; done < triangles;) {
            uint32_t count = std::min(batch, triangles - done);
            if (batched) throttle->BeforeDraw(device, count);
            if (FAILED(
                    device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, vertexCount, range.start + 3 * done, count)))
                Log::Fatal("Mesh::Draw: DrawIndexedPrimitive failed!");
            done += count;
        }
    } else {
        UINT primitives = primitiveType == D3DPT_POINTLIST  ? vertexCount
                          : primitiveType == D3DPT_LINELIST ? vertexCount / 2
                                                            : vertexCount / 3;
        if (FAILED(device->DrawPrimitive(primitiveType, 0, primitives)))
            Log::Fatal("Mesh::Draw: DrawPrimitive failed!");
    }
    return 0;
}

void Mesh::Release() {
    ranges.clear();
    ranges.shrink_to_fit();
    for (Stream& stream : streams) {
        if (stream.buffer) stream.buffer->Release();
        stream = Stream{};
    }
    if (indexBuffer) indexBuffer->Release();
    indexBuffer = nullptr;
    declaration = nullptr;
    vertexCount = 0;
    indexCount = 0;
    indexBufferDynamic = false;
    device = nullptr;
}

void Mesh::SetDebugName(const std::string& name) {
    for (int slot = 0; slot < kStreamCount; ++slot)
        ::SetDebugName(streams[slot].buffer, name + " stream " + std::to_string(slot));
    ::SetDebugName(indexBuffer, name + " indices");
}
