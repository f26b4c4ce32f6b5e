// D3DX 9 shader compilation and constant tables.
//
// D3DXCompileShader takes DX9-style HLSL ("vs_3_0"/"ps_3_0" and the 2.0 profiles) and
// returns a program for CreateVertexShader/CreatePixelShader, a constant table and, on
// failure, the compiler's messages. Constant tables write through the device into its
// shader constant registers (SetVertexShaderConstantF/SetPixelShaderConstantF), which
// persist across shader switches as they do in Direct3D 9.
#pragma once

#include <d3d9.h>

struct D3DXMATRIX;
struct D3DXVECTOR4;

typedef LPCSTR D3DXHANDLE;

typedef struct _D3DXMACRO {
    LPCSTR Name;
    LPCSTR Definition;
} D3DXMACRO;

// Where D3DXCompileShader gets the text of an #include line: "name" asks for
// D3DXINC_LOCAL, <name> for D3DXINC_SYSTEM. Open hands out the text, Close takes it back.
typedef enum _D3DXINCLUDE_TYPE {
    D3DXINC_LOCAL = 0,
    D3DXINC_SYSTEM = 1,
    D3DXINC_FORCE_DWORD = 0x7fffffff
} D3DXINCLUDE_TYPE;

struct ID3DXInclude {
    virtual HRESULT WINAPI Open(D3DXINCLUDE_TYPE includeType, LPCSTR fileName, LPCVOID parentData, LPCVOID* data,
                                UINT* bytes) = 0;
    virtual HRESULT WINAPI Close(LPCVOID data) = 0;
};
typedef ID3DXInclude* LPD3DXINCLUDE;

struct ID3DXBuffer : IUnknown {
    virtual LPVOID GetBufferPointer() = 0;
    virtual DWORD GetBufferSize() = 0;
};
typedef ID3DXBuffer* LPD3DXBUFFER;

typedef enum _D3DXREGISTER_SET {
    D3DXRS_BOOL,
    D3DXRS_INT4,
    D3DXRS_FLOAT4,
    D3DXRS_SAMPLER,
    D3DXRS_FORCE_DWORD = 0x7fffffff
} D3DXREGISTER_SET;

typedef enum _D3DXPARAMETER_CLASS {
    D3DXPC_SCALAR,
    D3DXPC_VECTOR,
    D3DXPC_MATRIX_ROWS,
    D3DXPC_MATRIX_COLUMNS,
    D3DXPC_OBJECT,
    D3DXPC_STRUCT,
    D3DXPC_FORCE_DWORD = 0x7fffffff
} D3DXPARAMETER_CLASS;

typedef enum _D3DXPARAMETER_TYPE {
    D3DXPT_VOID,
    D3DXPT_BOOL,
    D3DXPT_INT,
    D3DXPT_FLOAT,
    D3DXPT_STRING,
    D3DXPT_TEXTURE,
    D3DXPT_TEXTURE1D,
    D3DXPT_TEXTURE2D,
    D3DXPT_TEXTURE3D,
    D3DXPT_TEXTURECUBE,
    D3DXPT_SAMPLER,
    D3DXPT_SAMPLER1D,
    D3DXPT_SAMPLER2D,
    D3DXPT_SAMPLER3D,
    D3DXPT_SAMPLERCUBE,
    D3DXPT_FORCE_DWORD = 0x7fffffff
} D3DXPARAMETER_TYPE;

typedef struct _D3DXCONSTANTTABLE_DESC {
    LPCSTR Creator;
    DWORD Version;
    UINT Constants;
} D3DXCONSTANTTABLE_DESC;

typedef struct _D3DXCONSTANT_DESC {
    LPCSTR Name;
    D3DXREGISTER_SET RegisterSet;
    UINT RegisterIndex;
    UINT RegisterCount;
    D3DXPARAMETER_CLASS Class;
    D3DXPARAMETER_TYPE Type;
    UINT Rows;
    UINT Columns;
    UINT Elements;
    UINT StructMembers;
    UINT Bytes;
    LPCVOID DefaultValue;
} D3DXCONSTANT_DESC;

struct ID3DXConstantTable : ID3DXBuffer {
    virtual HRESULT GetDesc(D3DXCONSTANTTABLE_DESC* desc) = 0;
    virtual HRESULT GetConstantDesc(D3DXHANDLE constant, D3DXCONSTANT_DESC* desc, UINT* count) = 0;
    virtual UINT GetSamplerIndex(D3DXHANDLE constant) = 0;
    virtual D3DXHANDLE GetConstant(D3DXHANDLE constant, UINT index) = 0;
    virtual D3DXHANDLE GetConstantByName(D3DXHANDLE constant, LPCSTR name) = 0;
    virtual D3DXHANDLE GetConstantElement(D3DXHANDLE constant, UINT index) = 0;
    virtual HRESULT SetDefaults(IDirect3DDevice9* device) = 0;
    virtual HRESULT SetValue(IDirect3DDevice9* device, D3DXHANDLE constant, LPCVOID data, UINT bytes) = 0;
    virtual HRESULT SetBool(IDirect3DDevice9* device, D3DXHANDLE constant, BOOL b) = 0;
    virtual HRESULT SetInt(IDirect3DDevice9* device, D3DXHANDLE constant, INT n) = 0;
    virtual HRESULT SetFloat(IDirect3DDevice9* device, D3DXHANDLE constant, FLOAT f) = 0;
    virtual HRESULT SetFloatArray(IDirect3DDevice9* device, D3DXHANDLE constant, const FLOAT* f, UINT count) = 0;
    virtual HRESULT SetVector(IDirect3DDevice9* device, D3DXHANDLE constant, const D3DXVECTOR4* vector) = 0;
    virtual HRESULT SetVectorArray(IDirect3DDevice9* device, D3DXHANDLE constant, const D3DXVECTOR4* vector,
                                   UINT count) = 0;
    virtual HRESULT SetMatrix(IDirect3DDevice9* device, D3DXHANDLE constant, const D3DXMATRIX* matrix) = 0;
    virtual HRESULT SetMatrixArray(IDirect3DDevice9* device, D3DXHANDLE constant, const D3DXMATRIX* matrix,
                                   UINT count) = 0;
    virtual HRESULT SetMatrixTranspose(IDirect3DDevice9* device, D3DXHANDLE constant, const D3DXMATRIX* matrix) = 0;
    virtual HRESULT SetMatrixTransposeArray(IDirect3DDevice9* device, D3DXHANDLE constant,
                                            const D3DXMATRIX* matrix, UINT count) = 0;
};
typedef ID3DXConstantTable* LPD3DXCONSTANTTABLE;

// Compile flags
#define D3DXSHADER_DEBUG (1 << 0)
#define D3DXSHADER_SKIPVALIDATION (1 << 1)
#define D3DXSHADER_SKIPOPTIMIZATION (1 << 2)
#define D3DXSHADER_PACKMATRIX_ROWMAJOR (1 << 3)
#define D3DXSHADER_PACKMATRIX_COLUMNMAJOR (1 << 4)
#define D3DXSHADER_PARTIALPRECISION (1 << 5)
#define D3DXSHADER_AVOID_FLOW_CONTROL (1 << 9)
#define D3DXSHADER_PREFER_FLOW_CONTROL (1 << 10)
#define D3DXSHADER_ENABLE_BACKWARDS_COMPATIBILITY (1 << 12)
#define D3DXSHADER_IEEE_STRICTNESS (1 << 13)
#define D3DXSHADER_OPTIMIZATION_LEVEL0 (1 << 14)
#define D3DXSHADER_OPTIMIZATION_LEVEL1 0
#define D3DXSHADER_OPTIMIZATION_LEVEL2 ((1 << 14) | (1 << 15))
#define D3DXSHADER_OPTIMIZATION_LEVEL3 (1 << 15)

#define _FACDD 0x876
#define MAKE_DDHRESULT(code) MAKE_HRESULT(1, _FACDD, code)
#ifndef D3DXERR_INVALIDDATA
#define D3DXERR_INVALIDDATA MAKE_DDHRESULT(2905)
#endif

HRESULT WINAPI D3DXCompileShader(LPCSTR srcData, UINT srcDataLen, const D3DXMACRO* defines, ID3DXInclude* include,
                                 LPCSTR functionName, LPCSTR profile, DWORD flags, ID3DXBuffer** shader,
                                 ID3DXBuffer** errorMsgs, ID3DXConstantTable** constantTable);
LPCSTR WINAPI D3DXGetVertexShaderProfile(IDirect3DDevice9* device);
LPCSTR WINAPI D3DXGetPixelShaderProfile(IDirect3DDevice9* device);
HRESULT WINAPI D3DXCreateBuffer(DWORD numBytes, ID3DXBuffer** buffer);
