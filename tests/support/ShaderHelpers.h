// Compiling HLSL into device shaders for tests.
#pragma once

#include <d3dx9.h>

#include <string>

namespace lumaret::test {

struct CompiledShader {
    IDirect3DVertexShader9* vertex = nullptr;
    IDirect3DPixelShader9* pixel = nullptr;
    ID3DXConstantTable* constants = nullptr;
    std::string errors;
    HRESULT result = E_FAIL;
    void Release();
};

// Compiles one program ("vs_3_0" or "ps_3_0") and creates its device shader.
CompiledShader Compile(IDirect3DDevice9* device, const std::string& source, const char* profile,
                       ID3DXInclude* include = nullptr);

}  // namespace lumaret::test
