// ShaderRecord: one registered vertex/pixel shader pair with its constant tables and the
// handles of every named parameter, resolved once at compile time.
#pragma once

#include "resources/ShaderParams.h"

#include <d3dx9.h>

#include <string>

struct ShaderRecord {
    std::string name;  // lower-cased file path; empty for shaders built from source texts
    std::string path;  // the file's path as found on disk, for reloading; empty likewise
    IDirect3DVertexShader9* vertexShader = nullptr;
    IDirect3DPixelShader9* pixelShader = nullptr;
    ID3DXConstantTable* vertexConstants = nullptr;
    ID3DXConstantTable* pixelConstants = nullptr;
    D3DXHANDLE vertexHandles[kShaderParamCount] = {};
    D3DXHANDLE pixelHandles[kShaderParamCount] = {};
    D3DXHANDLE matrixArrayHandle = nullptr;
    D3DXHANDLE floatArrayHandle = nullptr;
    D3DXHANDLE floatArray2Handle = nullptr;
};
