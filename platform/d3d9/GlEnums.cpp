#include "d3d9/GlEnums.h"

#include "d3d9/GlDebug.h"

#include <cstdint>
#include <cstring>

namespace lumaret::platform {

float FloatBits(DWORD value) {
    float f;
    std::memcpy(&f, &value, sizeof(f));
    return f;
}

DWORD BitsOf(float value) {
    DWORD bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

void ColorToFloats(D3DCOLOR color, float out[4]) {
    out[0] = ((color >> 16) & 0xFF) / 255.0f;
    out[1] = ((color >> 8) & 0xFF) / 255.0f;
    out[2] = (color & 0xFF) / 255.0f;
    out[3] = ((color >> 24) & 0xFF) / 255.0f;
}

GLenum CompareFunction(DWORD value) {
    switch (value) {
    case D3DCMP_NEVER: return GL_NEVER;
    case D3DCMP_LESS: return GL_LESS;
    case D3DCMP_EQUAL: return GL_EQUAL;
    case D3DCMP_LESSEQUAL: return GL_LEQUAL;
    case D3DCMP_GREATER: return GL_GREATER;
    case D3DCMP_NOTEQUAL: return GL_NOTEQUAL;
    case D3DCMP_GREATEREQUAL: return GL_GEQUAL;
    default: return GL_ALWAYS;
    }
}

GLenum StencilOperation(DWORD value) {
    switch (value) {
    case D3DSTENCILOP_ZERO: return GL_ZERO;
    case D3DSTENCILOP_REPLACE: return GL_REPLACE;
    case D3DSTENCILOP_INCRSAT: return GL_INCR;
    case D3DSTENCILOP_DECRSAT: return GL_DECR;
    case D3DSTENCILOP_INVERT: return GL_INVERT;
    case D3DSTENCILOP_INCR: return GL_INCR_WRAP;
    case D3DSTENCILOP_DECR: return GL_DECR_WRAP;
    default: return GL_KEEP;
    }
}

namespace {

GLenum BlendFactor(DWORD value) {
    switch (value) {
    case D3DBLEND_ZERO: return GL_ZERO;
    case D3DBLEND_ONE: return GL_ONE;
    case D3DBLEND_SRCCOLOR: return GL_SRC_COLOR;
    case D3DBLEND_INVSRCCOLOR: return GL_ONE_MINUS_SRC_COLOR;
    case D3DBLEND_SRCALPHA: return GL_SRC_ALPHA;
    case D3DBLEND_INVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
    case D3DBLEND_DESTALPHA: return GL_DST_ALPHA;
    case D3DBLEND_INVDESTALPHA: return GL_ONE_MINUS_DST_ALPHA;
    case D3DBLEND_DESTCOLOR: return GL_DST_COLOR;
    case D3DBLEND_INVDESTCOLOR: return GL_ONE_MINUS_DST_COLOR;
    case D3DBLEND_SRCALPHASAT: return GL_SRC_ALPHA_SATURATE;
    case D3DBLEND_BLENDFACTOR: return GL_CONSTANT_COLOR;
    case D3DBLEND_INVBLENDFACTOR: return GL_ONE_MINUS_CONSTANT_COLOR;
    default: return GL_ONE;
    }
}

}  // namespace

// BOTHSRCALPHA and BOTHINVSRCALPHA set the destination factor too.
void BlendFactors(DWORD source, DWORD destination, GLenum* glSource, GLenum* glDestination) {
    if (source == D3DBLEND_BOTHSRCALPHA) {
        *glSource = GL_SRC_ALPHA;
        *glDestination = GL_ONE_MINUS_SRC_ALPHA;
    } else if (source == D3DBLEND_BOTHINVSRCALPHA) {
        *glSource = GL_ONE_MINUS_SRC_ALPHA;
        *glDestination = GL_SRC_ALPHA;
    } else {
        *glSource = BlendFactor(source);
        *glDestination = BlendFactor(destination);
    }
}

GLenum BlendEquation(DWORD value) {
    switch (value) {
    case D3DBLENDOP_SUBTRACT: return GL_FUNC_SUBTRACT;
    case D3DBLENDOP_REVSUBTRACT: return GL_FUNC_REVERSE_SUBTRACT;
    case D3DBLENDOP_MIN: return GL_MIN;
    case D3DBLENDOP_MAX: return GL_MAX;
    default: return GL_FUNC_ADD;
    }
}

GLenum AddressMode(DWORD value) {
    switch (value) {
    case D3DTADDRESS_MIRROR: return GL_MIRRORED_REPEAT;
    case D3DTADDRESS_CLAMP: return GL_CLAMP_TO_EDGE;
    case D3DTADDRESS_BORDER: return GL_CLAMP_TO_BORDER;
    case D3DTADDRESS_MIRRORONCE: return GL_MIRROR_CLAMP_TO_EDGE;
    default: return GL_REPEAT;
    }
}

bool Topology(D3DPRIMITIVETYPE type, UINT primitives, GLenum* mode, GLsizei* vertices) {
    uint64_t count;
    switch (type) {
    case D3DPT_POINTLIST: *mode = GL_POINTS; count = primitives; break;
    case D3DPT_LINELIST: *mode = GL_LINES; count = 2ull * primitives; break;
    case D3DPT_LINESTRIP: *mode = GL_LINE_STRIP; count = primitives + 1ull; break;
    case D3DPT_TRIANGLELIST: *mode = GL_TRIANGLES; count = 3ull * primitives; break;
    case D3DPT_TRIANGLESTRIP: *mode = GL_TRIANGLE_STRIP; count = primitives + 2ull; break;
    case D3DPT_TRIANGLEFAN: *mode = GL_TRIANGLE_FAN; count = primitives + 2ull; break;
    default: return false;
    }
    if (primitives == 0) count = 0;
    if (count > 0x7FFFFFFF) return false;
    *vertices = static_cast<GLsizei>(count);
    return true;
}

HRESULT GlResult(HRESULT result) {
    if (!GlDebugCallbackInstalled()) return result;
    return TakeGlErrors() && SUCCEEDED(result) ? D3DERR_DRIVERINTERNALERROR : result;
}

}  // namespace lumaret::platform
