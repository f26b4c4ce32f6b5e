// IDirect3DVertexBuffer9 and IDirect3DIndexBuffer9: one GL buffer each, one implementation
// for both (they differ only in their description).
#pragma once

#include "d3d9/DeviceReference.h"
#include "d3d9/PrivateData.h"

#include <d3d9.h>
#include <epoxy/gl.h>

#include <string>
#include <type_traits>
#include <vector>

namespace lumaret::platform {

// The GL buffer behind a vertex or index buffer, and how a lock reaches it.
//
// Direct3D 9 lets the program read back what it locks unless the buffer was created
// D3DUSAGE_WRITEONLY. Only those readable buffers keep a CPU copy: locks return it and the
// last unlock uploads the range written. A write-only buffer has no copy: the first lock
// maps the GL storage and the last unlock unmaps it, so a static mesh is held once; a
// D3DLOCK_READONLY first lock maps it for reading, as Direct3D 9 lets a program read a
// write-only buffer back, slowly. On a
// D3DUSAGE_DYNAMIC buffer, D3DLOCK_DISCARD gives the program fresh storage (the driver
// orphans the old while draws still read it) and D3DLOCK_NOOVERWRITE promises not to touch
// what draws use, so neither waits for the GPU; on other buffers Direct3D 9 ignores both.
// Locks nest: inner locks share the outer one's mapping.
class BufferStorage {
public:
    BufferStorage(UINT length, DWORD usage);
    ~BufferStorage();
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags);
    HRESULT Unlock();
    bool valid() const { return name_ != 0; }
    GLuint name() const { return name_; }
    UINT length() const { return length_; }
    bool keepsCopy() const { return !copy_.empty(); }

private:
    GLuint name_ = 0;
    UINT length_;
    DWORD usage_;
    std::vector<uint8_t> copy_;  // readable buffers only
    uint8_t* mapped_ = nullptr;  // write-only buffers while locked
    UINT dirtyBegin_ = 0;
    UINT dirtyEnd_ = 0;
    bool discarded_ = false;
    int locks_ = 0;
};

template <class Interface, class Desc>
class Buffer final : public WithPrivateData<Interface> {
public:
    static constexpr bool kIndices = std::is_same_v<Desc, D3DINDEXBUFFER_DESC>;

    // format is the index format of an index buffer, the FVF code of a vertex buffer.
    Buffer(Device* device, UINT length, DWORD usage, DWORD format, D3DPOOL pool);
    ~Buffer() override;
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    D3DRESOURCETYPE GetType() override { return desc_.Type; }
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override {
        return storage_.Lock(offset, size, data, flags);
    }
    HRESULT Unlock() override { return storage_.Unlock(); }
    HRESULT GetDesc(Desc* desc) override;
    bool valid() const { return storage_.valid(); }
    bool keepsCopy() const { return storage_.keepsCopy(); }
    GLuint name() const { return storage_.name(); }
    UINT length() const { return storage_.length(); }
    UINT indexSize() const
        requires kIndices
    {
        return desc_.Format == D3DFMT_INDEX32 ? 4 : 2;
    }

protected:
    void ApplicationReleased() override { device_.Drop(); }
    void ApplicationReturned() override { device_.Take(); }
    void ApplyDebugName(const std::string& name) override;

private:
    DeviceReference device_;
    BufferStorage storage_;
    Desc desc_{};
};
using VertexBuffer = Buffer<IDirect3DVertexBuffer9, D3DVERTEXBUFFER_DESC>;
using IndexBuffer = Buffer<IDirect3DIndexBuffer9, D3DINDEXBUFFER_DESC>;

}  // namespace lumaret::platform
