#include "d3d9/Formats.h"

#include <cstdint>

namespace lumaret::platform {
namespace {

// Columns: format, internal, upload format, upload type, bpp, block bytes, swizzle,
// render target, depth, stencil, filterable, blendable, sRGB-capable.
const FormatInfo kFormats[] = {
    {D3DFMT_A8R8G8B8, GL_SRGB8_ALPHA8, GL_BGRA, GL_UNSIGNED_BYTE, 4, 0, {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA}, true, false, false, true, true, true},
    {D3DFMT_X8R8G8B8, GL_SRGB8_ALPHA8, GL_BGRA, GL_UNSIGNED_BYTE, 4, 0, {GL_RED, GL_GREEN, GL_BLUE, GL_ONE}, true, false, false, true, true, true},
    {D3DFMT_A8B8G8R8, GL_SRGB8_ALPHA8, GL_RGBA, GL_UNSIGNED_BYTE, 4, 0, {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA}, true, false, false, true, true, true},
    {D3DFMT_X8B8G8R8, GL_SRGB8_ALPHA8, GL_RGBA, GL_UNSIGNED_BYTE, 4, 0, {GL_RED, GL_GREEN, GL_BLUE, GL_ONE}, true, false, false, true, true, true},
    {D3DFMT_R5G6B5, GL_RGB565, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, 2, 0, {GL_RED, GL_GREEN, GL_BLUE, GL_ONE}, true, false, false, true, true, false},
    {D3DFMT_X1R5G5B5, GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, 2, 0, {GL_RED, GL_GREEN, GL_BLUE, GL_ONE}, true, false, false, true, true, false},
    {D3DFMT_A1R5G5B5, GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, 2, 0, {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA}, true, false, false, true, true, false},
    {D3DFMT_A4R4G4B4, GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV, 2, 0, {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA}, true, false, false, true, true, false},
    {D3DFMT_X4R4G4B4, GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV, 2, 0, {GL_RED, GL_GREEN, GL_BLUE, GL_ONE}, true, false, false, true, true, false},
    {D3DFMT_R3G3B2, GL_R3_G3_B2, GL_RGB, GL_UNSIGNED_BYTE_3_3_2, 1, 0, {GL_RED, GL_GREEN, GL_BLUE, GL_ONE}, false, false, false, true, true, false},
    {D3DFMT_A2R10G10B10, GL_RGB10_A2, GL_BGRA, GL_UNSIGNED_INT_2_10_10_10_REV, 4, 0, {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA}, true, false, false, true, true, false},
    {D3DFMT_A2B10G10R10, GL_RGB10_A2, GL_RGBA, GL_UNSIGNED_INT_2_10_10_10_REV, 4, 0, {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA}, true, false, false, true, true, false},
    {D3DFMT_A16B16G16R16, GL_RGBA16, GL_RGBA, GL_UNSIGNED_SHORT, 8, 0, {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA}, true, false, false, true, true, false},
    {D3DFMT_G16R16, GL_RG16, GL_RG, GL_UNSIGNED_SHORT, 4, 0, {GL_RED, GL_GREEN, GL_ONE, GL_ONE}, true, false, false, true, true, false},
    // Luminance and alpha formats sample as D3D9 defines them: L -> (L, L, L, 1), A -> (0, 0, 0, A).
    {D3DFMT_L8, GL_R8, GL_RED, GL_UNSIGNED_BYTE, 1, 0, {GL_RED, GL_RED, GL_RED, GL_ONE}, false, false, false, true, true, false},
    {D3DFMT_A8, GL_R8, GL_RED, GL_UNSIGNED_BYTE, 1, 0, {GL_ZERO, GL_ZERO, GL_ZERO, GL_RED}, false, false, false, true, true, false},
    {D3DFMT_A8L8, GL_RG8, GL_RG, GL_UNSIGNED_BYTE, 2, 0, {GL_RED, GL_RED, GL_RED, GL_GREEN}, false, false, false, true, true, false},
    {D3DFMT_L16, GL_R16, GL_RED, GL_UNSIGNED_SHORT, 2, 0, {GL_RED, GL_RED, GL_RED, GL_ONE}, false, false, false, true, true, false},
    {D3DFMT_V8U8, GL_RG8_SNORM, GL_RG, GL_BYTE, 2, 0, {GL_RED, GL_GREEN, GL_ONE, GL_ONE}, false, false, false, true, true, false},
    {D3DFMT_Q8W8V8U8, GL_RGBA8_SNORM, GL_RGBA, GL_BYTE, 4, 0, {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA}, false, false, false, true, true, false},
    {D3DFMT_V16U16, GL_RG16_SNORM, GL_RG, GL_SHORT, 4, 0, {GL_RED, GL_GREEN, GL_ONE, GL_ONE}, false, false, false, true, true, false},
    // Float formats: missing channels read as 1, as in Direct3D 9.
    {D3DFMT_R16F, GL_R16F, GL_RED, GL_HALF_FLOAT, 2, 0, {GL_RED, GL_ONE, GL_ONE, GL_ONE}, true, false, false, true, true, false},
    {D3DFMT_G16R16F, GL_RG16F, GL_RG, GL_HALF_FLOAT, 4, 0, {GL_RED, GL_GREEN, GL_ONE, GL_ONE}, true, false, false, true, true, false},
    {D3DFMT_A16B16G16R16F, GL_RGBA16F, GL_RGBA, GL_HALF_FLOAT, 8, 0, {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA}, true, false, false, true, true, false},
    {D3DFMT_R32F, GL_R32F, GL_RED, GL_FLOAT, 4, 0, {GL_RED, GL_ONE, GL_ONE, GL_ONE}, true, false, false, true, true, false},
    {D3DFMT_G32R32F, GL_RG32F, GL_RG, GL_FLOAT, 8, 0, {GL_RED, GL_GREEN, GL_ONE, GL_ONE}, true, false, false, true, true, false},
    {D3DFMT_A32B32G32R32F, GL_RGBA32F, GL_RGBA, GL_FLOAT, 16, 0, {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA}, true, false, false, true, true, false},
    // Block-compressed. DXT2 and DXT4 differ from DXT3 and DXT5 only in premultiplied
    // alpha, which the sampler does not undo in Direct3D 9 either.
    {D3DFMT_DXT1, GL_COMPRESSED_SRGB_ALPHA_S3TC_DXT1_EXT, 0, 0, 0, 8, {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA}, false, false, false, true, false, true},
    {D3DFMT_DXT2, GL_COMPRESSED_SRGB_ALPHA_S3TC_DXT3_EXT, 0, 0, 0, 16, {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA}, false, false, false, true, false, true},
    {D3DFMT_DXT3, GL_COMPRESSED_SRGB_ALPHA_S3TC_DXT3_EXT, 0, 0, 0, 16, {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA}, false, false, false, true, false, true},
    {D3DFMT_DXT4, GL_COMPRESSED_SRGB_ALPHA_S3TC_DXT5_EXT, 0, 0, 0, 16, {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA}, false, false, false, true, false, true},
    {D3DFMT_DXT5, GL_COMPRESSED_SRGB_ALPHA_S3TC_DXT5_EXT, 0, 0, 0, 16, {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA}, false, false, false, true, false, true},
    // Depth-stencil.
    {D3DFMT_D16, GL_DEPTH_COMPONENT16, GL_DEPTH_COMPONENT, GL_UNSIGNED_SHORT, 2, 0, {GL_RED, GL_RED, GL_RED, GL_ONE}, false, true, false, true, false, false},
    {D3DFMT_D16_LOCKABLE, GL_DEPTH_COMPONENT16, GL_DEPTH_COMPONENT, GL_UNSIGNED_SHORT, 2, 0, {GL_RED, GL_RED, GL_RED, GL_ONE}, false, true, false, true, false, false},
    {D3DFMT_D24X8, GL_DEPTH24_STENCIL8, GL_DEPTH_STENCIL, GL_UNSIGNED_INT_24_8, 4, 0, {GL_RED, GL_RED, GL_RED, GL_ONE}, false, true, false, true, false, false},
    {D3DFMT_D24S8, GL_DEPTH24_STENCIL8, GL_DEPTH_STENCIL, GL_UNSIGNED_INT_24_8, 4, 0, {GL_RED, GL_RED, GL_RED, GL_ONE}, false, true, true, true, false, false},
    {D3DFMT_D32, GL_DEPTH_COMPONENT32, GL_DEPTH_COMPONENT, GL_UNSIGNED_INT, 4, 0, {GL_RED, GL_RED, GL_RED, GL_ONE}, false, true, false, true, false, false},
    {D3DFMT_D32F_LOCKABLE, GL_DEPTH_COMPONENT32F, GL_DEPTH_COMPONENT, GL_FLOAT, 4, 0, {GL_RED, GL_RED, GL_RED, GL_ONE}, false, true, false, true, false, false},
    {D3DFMT_D24FS8, GL_DEPTH32F_STENCIL8, GL_DEPTH_STENCIL, GL_FLOAT_32_UNSIGNED_INT_24_8_REV, 8, 0, {GL_RED, GL_RED, GL_RED, GL_ONE}, false, true, true, true, false, false},
};

}  // namespace

const FormatInfo* FindFormat(D3DFORMAT format) {
    for (const FormatInfo& info : kFormats)
        if (info.format == format) return &info;
    return nullptr;
}

UINT RowPitch(const FormatInfo& info, UINT width) {
    if (info.blockBytes) return ((width + 3) / 4) * info.blockBytes;
    return width * info.bytesPerPixel;
}

UINT RowCount(const FormatInfo& info, UINT height) { return info.blockBytes ? (height + 3) / 4 : height; }

UINT LevelSize(const FormatInfo& info, UINT width, UINT height) {
    if (width == 0 || height == 0) return 0;
    uint64_t size = static_cast<uint64_t>(RowPitch(info, width)) * RowCount(info, height);
    return size > 0xFFFFFFFFull ? 0 : static_cast<UINT>(size);
}

UINT FullMipCount(UINT width, UINT height) {
    UINT levels = 1;
    while (width > 1 || height > 1) {
        width = width > 1 ? width / 2 : 1;
        height = height > 1 ? height / 2 : 1;
        ++levels;
    }
    return levels;
}

}  // namespace lumaret::platform
