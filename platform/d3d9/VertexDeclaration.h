// IDirect3DVertexDeclaration9: Direct3D 9 vertex elements as a GL vertex array's attribute
// formats, attribute locations taken from each element's usage.
#pragma once

#include "d3d9/DeviceReference.h"
#include "d3d9/RefCounted.h"

#include <d3d9.h>
#include <epoxy/gl.h>

#include <vector>

namespace lumaret::platform {

class VertexDeclaration final : public RefCounted<IDirect3DVertexDeclaration9> {
public:
    struct Attribute {
        GLuint location;
        GLuint stream;
        GLuint offset;
        GLint size;
        GLenum type;
        GLboolean normalized;
        BYTE usage;
        BYTE usageIndex;
    };

    VertexDeclaration(Device* device, std::vector<D3DVERTEXELEMENT9> elements, std::vector<Attribute> attributes);
    ~VertexDeclaration() override;
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    HRESULT GetDeclaration(D3DVERTEXELEMENT9* elements, UINT* count) override;

    // Builds the attribute list for an element array; false for element types or usages
    // the layer cannot feed.
    static bool Translate(const D3DVERTEXELEMENT9* elements, std::vector<D3DVERTEXELEMENT9>* copy,
                          std::vector<Attribute>* attributes);

    GLuint vao() const { return vao_; }
    bool pretransformed() const { return pretransformed_; }
    const std::vector<Attribute>& attributes() const { return attributes_; }
    UINT streamMask() const { return streamMask_; }
    // The buffer bindings last given to this declaration's vertex array, per stream.
    struct Binding {
        GLuint buffer = 0;
        UINT offset = 0;
        UINT stride = 0;
    };
    Binding bindings[16];
    GLuint elementBuffer = 0;
    // Generated vertex stage for draws without a vertex shader (0 until first needed).
    GLuint fixedFunctionProgram = 0;
    bool fixedFunctionFailed = false;  // it could not be linked: draws with it fail

protected:
    void ApplicationReleased() override { device_.Drop(); }
    void ApplicationReturned() override { device_.Take(); }

private:
    DeviceReference device_;
    std::vector<D3DVERTEXELEMENT9> elements_;
    std::vector<Attribute> attributes_;
    GLuint vao_ = 0;
    bool pretransformed_ = false;
    UINT streamMask_ = 0;
};

}  // namespace lumaret::platform
