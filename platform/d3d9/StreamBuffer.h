// The device's upload buffers: the float4 constant register files of the two shader
// stages, and a ring for the vertices and indices of draws from user memory.
//
// The register files are one buffer for the device's lifetime, bound as each stage's
// uniform block; a draw sends only the registers set since the last one. Direct3D 9's
// registers outlive shader switches, and so does this buffer, so a switch costs nothing.
// GL orders each update after the draws issued before it, and llvmpipe does so without
// waiting: it runs the vertex stage when a draw is recorded and copies the pixel stage's
// constants then.
//
// The ring takes data written once per draw. Writes go through unsynchronised maps to
// fresh ranges, so a draw never waits for earlier ones still reading the buffer (a plain
// buffer update would make llvmpipe finish the queued scene first). When the ring is full
// its storage is orphaned and writing starts again at the beginning; it starts small and
// grows with the writes it is given.
#pragma once

#include "d3d9/DeviceLimits.h"

#include <epoxy/gl.h>

#include <cstdint>

namespace lumaret::platform {

class StreamBuffer {
public:
    // Where each stage's registers start in registerBuffer(); a multiple of every uniform
    // offset alignment GL allows (at most 256).
    static constexpr GLintptr kVertexRegisterOffset = 0;
    static constexpr GLintptr kPixelRegisterOffset = kVertexConstantRegisters * 16;

    void Create(GLsizeiptr size);
    void Destroy();
    // Copies bytes into the ring; returns the offset they start at, or -1 when the storage
    // could not be mapped (nothing was written). Sets *wrapped when the storage was
    // orphaned, after which earlier offsets no longer hold their data.
    GLintptr Write(const void* data, GLsizeiptr size, GLintptr alignment, bool* wrapped);
    GLuint name() const { return name_; }

    // Sends registers [first, end) of the register file that starts at fileOffset.
    void UpdateRegisters(GLintptr fileOffset, UINT first, UINT end, const float* file);
    GLuint registerBuffer() const { return registers_; }

private:
    GLuint name_ = 0;
    GLsizeiptr size_ = 0;
    GLintptr cursor_ = 0;
    GLuint registers_ = 0;
};

static_assert(StreamBuffer::kPixelRegisterOffset % 256 == 0);

}  // namespace lumaret::platform
