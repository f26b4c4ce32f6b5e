#include "d3d9/StreamBuffer.h"

#include "d3d9/PrivateData.h"

#include <cstring>

namespace lumaret::platform {

void StreamBuffer::Create(GLsizeiptr size) {
    glCreateBuffers(1, &name_);
    glNamedBufferData(name_, size, nullptr, GL_STREAM_DRAW);
    size_ = size;
    cursor_ = 0;
    glCreateBuffers(1, &registers_);
    glNamedBufferStorage(registers_, kPixelRegisterOffset + kPixelConstantRegisters * 16, nullptr,
                         GL_DYNAMIC_STORAGE_BIT);
    LabelGlObject(GL_BUFFER, name_, "D3D9 vertex ring (draws from user memory)");
    LabelGlObject(GL_BUFFER, registers_, "D3D9 constant registers");
}

void StreamBuffer::Destroy() {
    if (name_) glDeleteBuffers(1, &name_);
    if (registers_) glDeleteBuffers(1, &registers_);
    name_ = registers_ = 0;
}

void StreamBuffer::UpdateRegisters(GLintptr fileOffset, UINT first, UINT end, const float* file) {
    glNamedBufferSubData(registers_, fileOffset + static_cast<GLintptr>(first) * 16,
                         static_cast<GLsizeiptr>(end - first) * 16, file + first * 4);
}

GLintptr StreamBuffer::Write(const void* data, GLsizeiptr size, GLintptr alignment, bool* wrapped) {
    GLintptr offset = (cursor_ + alignment - 1) / alignment * alignment;
    if (size > size_) {
        // Larger than the ring: grow it.
        size_ = size * 2;
        glNamedBufferData(name_, size_, nullptr, GL_STREAM_DRAW);
        offset = 0;
        *wrapped = true;
    } else if (offset + size > size_) {
        // A ring that holds fewer than eight writes like this one would be refilled (and
        // zero-filled by the driver) every few draws: it doubles instead.
        if (size > size_ / 8) size_ *= 2;
        glNamedBufferData(name_, size_, nullptr, GL_STREAM_DRAW);
        offset = 0;
        *wrapped = true;
    }
    void* target = glMapNamedBufferRange(name_, offset, size,
                                         GL_MAP_WRITE_BIT | GL_MAP_UNSYNCHRONIZED_BIT | GL_MAP_INVALIDATE_RANGE_BIT);
    if (!target) return -1;
    std::memcpy(target, data, static_cast<size_t>(size));
    // Data can be lost (a mode change, on some drivers); then the range holds garbage.
    if (!glUnmapNamedBuffer(name_)) return -1;
    cursor_ = offset + size;
    return offset;
}

}  // namespace lumaret::platform
