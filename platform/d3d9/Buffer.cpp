#include "d3d9/Buffer.h"

#include "d3d9/Device.h"
#include "d3d9/GlDebug.h"
#include "d3d9/GlObjectCount.h"

#include <algorithm>

namespace lumaret::platform {

namespace {

GLenum UsageHint(DWORD usage) { return (usage & D3DUSAGE_DYNAMIC) ? GL_DYNAMIC_DRAW : GL_STATIC_DRAW; }

}  // namespace

BufferStorage::BufferStorage(UINT length, DWORD usage) : length_(length), usage_(usage) {
    TakeGlErrors();  // someone else's
    glCreateBuffers(1, &name_);
    CountGlObjects(1);
    glNamedBufferData(name_, length, nullptr, UsageHint(usage));
    if (TakeGlErrors()) {  // out of memory: the device reports an invalid buffer
        glDeleteBuffers(1, &name_);
        CountGlObjects(-1);
        name_ = 0;
        return;
    }
    if (!(usage & D3DUSAGE_WRITEONLY)) copy_.assign(length, 0);
}

BufferStorage::~BufferStorage() {
    if (!name_) return;
    if (mapped_) glUnmapNamedBuffer(name_);
    glDeleteBuffers(1, &name_);
    CountGlObjects(-1);
}

HRESULT BufferStorage::Lock(UINT offset, UINT size, void** data, DWORD flags) {
    if (!data) return D3DERR_INVALIDCALL;
    // Size 0 locks the whole buffer from the offset, as Direct3D 9 does.
    if (offset > length_) return D3DERR_INVALIDCALL;
    if (size == 0) size = length_ - offset;
    if (size > length_ - offset) return D3DERR_INVALIDCALL;
    bool dynamic = (usage_ & D3DUSAGE_DYNAMIC) != 0;
    if (copy_.empty() && locks_ == 0) {
        bool reading = flags & D3DLOCK_READONLY;
        GLbitfield access = reading ? GL_MAP_READ_BIT : GL_MAP_WRITE_BIT;
        if (!reading && dynamic && (flags & D3DLOCK_DISCARD))
            access |= GL_MAP_INVALIDATE_BUFFER_BIT;
        else if (!reading && dynamic && (flags & D3DLOCK_NOOVERWRITE))
            access |= GL_MAP_UNSYNCHRONIZED_BIT;
        mapped_ = static_cast<uint8_t*>(glMapNamedBufferRange(name_, 0, length_, access));
        if (!mapped_) {
            TakeGlErrors();  // reported here, not by the next draw
            return D3DERR_INVALIDCALL;
        }
    }
    if (copy_.empty()) {
        *data = mapped_ + offset;
        ++locks_;
        return D3D_OK;
    }
    *data = copy_.data() + offset;
    if (!(flags & D3DLOCK_READONLY)) {
        if (dirtyBegin_ == dirtyEnd_) {
            dirtyBegin_ = offset;
            dirtyEnd_ = offset + size;
        } else {
            dirtyBegin_ = std::min(dirtyBegin_, offset);
            dirtyEnd_ = std::max(dirtyEnd_, offset + size);
        }
    }
    if (dynamic && (flags & D3DLOCK_DISCARD)) discarded_ = true;
    ++locks_;
    return D3D_OK;
}

HRESULT BufferStorage::Unlock() {
    if (locks_ == 0) return D3DERR_INVALIDCALL;
    if (--locks_ > 0) return D3D_OK;
    if (mapped_) {
        glUnmapNamedBuffer(name_);
        mapped_ = nullptr;
        return D3D_OK;
    }
    // Fresh storage for a discarded buffer, so the upload need not wait for draws that
    // still read the old one.
    if (discarded_) glNamedBufferData(name_, length_, nullptr, UsageHint(usage_));
    discarded_ = false;
    if (dirtyEnd_ > dirtyBegin_) {
        glNamedBufferSubData(name_, dirtyBegin_, dirtyEnd_ - dirtyBegin_, copy_.data() + dirtyBegin_);
        dirtyBegin_ = dirtyEnd_ = 0;
    }
    return D3D_OK;
}

namespace {

D3DVERTEXBUFFER_DESC Describe(D3DVERTEXBUFFER_DESC*, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool) {
    return D3DVERTEXBUFFER_DESC{D3DFMT_VERTEXDATA, D3DRTYPE_VERTEXBUFFER, usage, pool, length, fvf};
}

D3DINDEXBUFFER_DESC Describe(D3DINDEXBUFFER_DESC*, UINT length, DWORD usage, DWORD format, D3DPOOL pool) {
    return D3DINDEXBUFFER_DESC{static_cast<D3DFORMAT>(format), D3DRTYPE_INDEXBUFFER, usage, pool, length};
}

}  // namespace

template <class Interface, class Desc>
Buffer<Interface, Desc>::Buffer(Device* device, UINT length, DWORD usage, DWORD format, D3DPOOL pool)
    : device_(device),
      storage_((device->MakeCurrent(), length), usage),
      desc_(Describe(static_cast<Desc*>(nullptr), length, usage, format, pool)) {}

template <class Interface, class Desc>
Buffer<Interface, Desc>::~Buffer() {
    device_->MakeCurrent();
}

template <class Interface, class Desc>
HRESULT Buffer<Interface, Desc>::GetDevice(IDirect3DDevice9** device) {
    return HandOutDevice(device_.get(), device);
}

template <class Interface, class Desc>
void Buffer<Interface, Desc>::ApplyDebugName(const std::string& name) {
    device_->MakeCurrent();
    LabelGlObject(GL_BUFFER, storage_.name(), name);
}

template <class Interface, class Desc>
HRESULT Buffer<Interface, Desc>::GetDesc(Desc* desc) {
    if (!desc) return D3DERR_INVALIDCALL;
    *desc = desc_;
    return D3D_OK;
}

template class Buffer<IDirect3DVertexBuffer9, D3DVERTEXBUFFER_DESC>;
template class Buffer<IDirect3DIndexBuffer9, D3DINDEXBUFFER_DESC>;

}  // namespace lumaret::platform
