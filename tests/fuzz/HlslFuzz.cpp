// D3DXCompileShader on arbitrary text: the first byte picks the profile, the rest is the
// source. The compiler must answer with a program or an error, never take the process down.
#include <d3dx9.h>

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 4096) return 0;
    std::string source(reinterpret_cast<const char*>(data) + 1, size - 1);
    ID3DXBuffer* code = nullptr;
    ID3DXBuffer* errors = nullptr;
    ID3DXConstantTable* table = nullptr;
    D3DXCompileShader(source.c_str(), static_cast<UINT>(source.size()), nullptr, nullptr, "main",
                      (data[0] & 1) ? "vs_3_0" : "ps_3_0", D3DXSHADER_PACKMATRIX_COLUMNMAJOR, &code, &errors, &table);
    if (code) code->Release();
    if (errors) errors->Release();
    if (table) {
        D3DXCONSTANTTABLE_DESC desc;
        table->GetDesc(&desc);
        for (UINT i = 0; i < desc.Constants; ++i) {
            D3DXCONSTANT_DESC constant;
            UINT count = 1;
            table->GetConstantDesc(table->GetConstant(nullptr, i), &constant, &count);
            float values[64] = {};
            table->SetFloatArray(nullptr, table->GetConstant(nullptr, i), values, 64);
        }
        table->Release();
    }
    return 0;
}
