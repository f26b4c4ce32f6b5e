// A ring of GPU memory for data written once per draw: shader constant registers and the
// vertices and indices of draws from user memory. Writes go through unsynchronised maps
// to fresh ranges, so a draw never waits for earlier ones still reading the buffer (a
// plain buffer update would make llvmpipe finish the queued scene first). When the ring
// is full its storage is orphaned and writing starts again at the beginning.
#pragma once

#include <epoxy/gl.h>

#include <cstdint>

namespace lumaret::platform {

class StreamBuffer {
public:
    void Create(GLsizeiptr size);
    void Destroy();
    // Copies bytes into the ring; returns the offset they start at, or -1 when the storage
    // could not be mapped (nothing was written). Sets *wrapped when the storage was
    // orphaned, after which earlier offsets no longer hold their data.
    GLintptr Write(const void* data, GLsizeiptr size, GLintptr alignment, bool* wrapped);
    GLuint name() const { return name_; }

private:
    GLuint name_ = 0;
    GLsizeiptr size_ = 0;
    GLintptr cursor_ = 0;
};

}  // namespace lumaret::platform
