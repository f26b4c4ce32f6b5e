#include "d3d9/VertexDeclaration.h"

#include "d3d9/Device.h"
#include "d3d9/GlObjectCount.h"
#include "d3d9/ShaderBlob.h"

#include <algorithm>

namespace lumaret::platform {

bool VertexDeclaration::Translate(const D3DVERTEXELEMENT9* elements, std::vector<D3DVERTEXELEMENT9>* copy,
                                  std::vector<Attribute>* attributes) {
    for (int i = 0; i < MAXD3DDECLLENGTH; ++i) {
        const D3DVERTEXELEMENT9& e = elements[i];
        copy->push_back(e);
        if (e.Stream == 0xFF) return true;
        if (e.Stream >= kMaxStreams) return false;
        int location = AttributeLocation(e.Usage, e.UsageIndex);
        if (location < 0) return false;
        Attribute a{static_cast<GLuint>(location), e.Stream, e.Offset, 4, GL_FLOAT, GL_FALSE, e.Usage, e.UsageIndex};
        switch (e.Type) {
        case D3DDECLTYPE_FLOAT1: a.size = 1; break;
        case D3DDECLTYPE_FLOAT2: a.size = 2; break;
        case D3DDECLTYPE_FLOAT3: a.size = 3; break;
        case D3DDECLTYPE_FLOAT4: a.size = 4; break;
        // D3DCOLOR is B, G, R, A in memory; GL_BGRA as the size swizzles it to (R, G, B, A).
        case D3DDECLTYPE_D3DCOLOR: a.size = GL_BGRA; a.type = GL_UNSIGNED_BYTE; a.normalized = GL_TRUE; break;
        case D3DDECLTYPE_UBYTE4: a.type = GL_UNSIGNED_BYTE; break;
        case D3DDECLTYPE_UBYTE4N: a.type = GL_UNSIGNED_BYTE; a.normalized = GL_TRUE; break;
        case D3DDECLTYPE_SHORT2: a.size = 2; a.type = GL_SHORT; break;
        case D3DDECLTYPE_SHORT4: a.type = GL_SHORT; break;
        case D3DDECLTYPE_SHORT2N: a.size = 2; a.type = GL_SHORT; a.normalized = GL_TRUE; break;
        case D3DDECLTYPE_SHORT4N: a.type = GL_SHORT; a.normalized = GL_TRUE; break;
        case D3DDECLTYPE_USHORT2N: a.size = 2; a.type = GL_UNSIGNED_SHORT; a.normalized = GL_TRUE; break;
        case D3DDECLTYPE_USHORT4N: a.type = GL_UNSIGNED_SHORT; a.normalized = GL_TRUE; break;
        case D3DDECLTYPE_FLOAT16_2: a.size = 2; a.type = GL_HALF_FLOAT; break;
        case D3DDECLTYPE_FLOAT16_4: a.type = GL_HALF_FLOAT; break;
        default: return false;
        }
        attributes->push_back(a);
    }
    return false;  // no D3DDECL_END within the maximum length
}

VertexDeclaration::VertexDeclaration(Device* device, std::vector<D3DVERTEXELEMENT9> elements,
                                     std::vector<Attribute> attributes)
    : device_(device), elements_(std::move(elements)), attributes_(std::move(attributes)) {
    device_->MakeCurrent();
    glCreateVertexArrays(1, &vao_);
    CountGlObjects(1);
    for (const Attribute& a : attributes_) {
        glEnableVertexArrayAttrib(vao_, a.location);
        glVertexArrayAttribFormat(vao_, a.location, a.size, a.type, a.normalized, a.offset);
        glVertexArrayAttribBinding(vao_, a.location, a.stream);
        streamMask_ |= 1u << a.stream;
        if (a.usage == D3DDECLUSAGE_POSITIONT) pretransformed_ = true;
    }
}

VertexDeclaration::~VertexDeclaration() {
    device_->MakeCurrent();
    glDeleteVertexArrays(1, &vao_);
    CountGlObjects(-1);
    if (fixedFunctionProgram) glDeleteProgram(fixedFunctionProgram);
}

HRESULT VertexDeclaration::GetDevice(IDirect3DDevice9** device) { return HandOutDevice(device_.get(), device); }

HRESULT VertexDeclaration::GetDeclaration(D3DVERTEXELEMENT9* elements, UINT* count) {
    if (!count) return D3DERR_INVALIDCALL;
    if (elements) std::copy(elements_.begin(), elements_.end(), elements);
    *count = static_cast<UINT>(elements_.size());
    return D3D_OK;
}

}  // namespace lumaret::platform
