// Direct3D 9 formats on OpenGL: storage, the upload format that matches D3D9's memory
// layout of a locked row, the swizzle that gives D3D9's sampled values, and what each
// format can do. 8-bit colour formats are stored as sRGB so that D3DSAMP_SRGBTEXTURE can
// switch decoding per sampler (EXT_texture_sRGB_decode); the bytes are never converted.
#pragma once

#include <d3d9.h>

#include <epoxy/gl.h>

namespace lumaret::platform {

struct FormatInfo {
    D3DFORMAT format;
    GLenum internalFormat;
    GLenum uploadFormat;  // for compressed formats: unused
    GLenum uploadType;
    UINT bytesPerPixel;   // 0 for block-compressed formats
    UINT blockBytes;      // bytes per 4 x 4 block of a compressed format, else 0
    GLint swizzle[4];
    bool renderTarget;
    bool depth;
    bool stencil;
    bool filterable;
    bool blendable;
    bool srgbCapable;
};

// Null for formats the layer does not support.
const FormatInfo* FindFormat(D3DFORMAT format);

// Bytes from one row (of pixels, or of 4 x 4 blocks) to the next in a locked rectangle.
UINT RowPitch(const FormatInfo& info, UINT width);
// Rows of a level in memory: pixel rows, or block rows for compressed formats.
UINT RowCount(const FormatInfo& info, UINT height);
// Bytes of a whole level; 0 when width or height is 0 or the size overflows 32 bits.
UINT LevelSize(const FormatInfo& info, UINT width, UINT height);
// Dimension of a mip level: halved per level, never below 1.
inline UINT MipDimension(UINT size, UINT level) {
    UINT value = level >= 32 ? 0 : size >> level;
    return value ? value : 1;
}
// The number of levels of a full chain down to 1 x 1.
UINT FullMipCount(UINT width, UINT height);

}  // namespace lumaret::platform
