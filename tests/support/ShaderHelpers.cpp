#include "support/ShaderHelpers.h"

namespace lumaret::test {

void CompiledShader::Release() {
    if (vertex) vertex->Release();
    if (pixel) pixel->Release();
    if (constants) constants->Release();
    vertex = nullptr;
    pixel = nullptr;
    constants = nullptr;
}

CompiledShader Compile(IDirect3DDevice9* device, const std::string& source, const char* profile,
                       ID3DXInclude* include) {
    CompiledShader shader;
    ID3DXBuffer* code = nullptr;
    ID3DXBuffer* errors = nullptr;
    shader.result = D3DXCompileShader(source.c_str(), static_cast<UINT>(source.size()), nullptr, include, "main",
                                      profile, D3DXSHADER_PACKMATRIX_COLUMNMAJOR, &code, &errors, &shader.constants);
    if (errors) {
        shader.errors = static_cast<const char*>(errors->GetBufferPointer());
        errors->Release();
    }
    if (code) {
        auto* function = static_cast<const DWORD*>(code->GetBufferPointer());
        HRESULT created = profile[0] == 'v' ? device->CreateVertexShader(function, &shader.vertex)
                                            : device->CreatePixelShader(function, &shader.pixel);
        if (FAILED(created)) shader.result = created;
        code->Release();
    }
    return shader;
}

}  // namespace lumaret::test
