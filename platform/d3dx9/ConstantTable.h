// ID3DXConstantTable over Direct3D 9 constant registers.
//
// Handles are the addresses of the table's records (which also hold the names), so that,
// as in D3DX, a name may be passed wherever a handle is expected. Setters convert values
// into register contents and write them through the device, which keeps them across
// shader switches.
#pragma once

#include <d3dx9shader.h>

#include <atomic>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace lumaret::platform {

struct ConstantRecord {
    std::string name;
    D3DXCONSTANT_DESC desc{};
    UINT registersPerElement = 1;
    std::vector<ConstantRecord*> elements;  // made on demand for arrays
};

class ConstantTable final : public ID3DXConstantTable {
public:
    ConstantTable(bool vertexStage, std::deque<ConstantRecord> constants);

    // IUnknown
    HRESULT QueryInterface(REFIID, void** object) override {
        if (object) *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override;
    // ID3DXBuffer: D3DX returns the table's serialised form; this layer has none to offer.
    LPVOID GetBufferPointer() override { return nullptr; }
    DWORD GetBufferSize() override { return 0; }

    HRESULT GetDesc(D3DXCONSTANTTABLE_DESC* desc) override;
    HRESULT GetConstantDesc(D3DXHANDLE constant, D3DXCONSTANT_DESC* desc, UINT* count) override;
    UINT GetSamplerIndex(D3DXHANDLE constant) override;
    D3DXHANDLE GetConstant(D3DXHANDLE constant, UINT index) override;
    D3DXHANDLE GetConstantByName(D3DXHANDLE constant, LPCSTR name) override;
    D3DXHANDLE GetConstantElement(D3DXHANDLE constant, UINT index) override;
    HRESULT SetDefaults(IDirect3DDevice9* device) override;
    HRESULT SetValue(IDirect3DDevice9* device, D3DXHANDLE constant, LPCVOID data, UINT bytes) override;
    HRESULT SetBool(IDirect3DDevice9* device, D3DXHANDLE constant, BOOL b) override;
    HRESULT SetInt(IDirect3DDevice9* device, D3DXHANDLE constant, INT n) override;
    HRESULT SetFloat(IDirect3DDevice9* device, D3DXHANDLE constant, FLOAT f) override;
    HRESULT SetFloatArray(IDirect3DDevice9* device, D3DXHANDLE constant, const FLOAT* f, UINT count) override;
    HRESULT SetVector(IDirect3DDevice9* device, D3DXHANDLE constant, const D3DXVECTOR4* vector) override;
    HRESULT SetVectorArray(IDirect3DDevice9* device, D3DXHANDLE constant, const D3DXVECTOR4* vector,
                           UINT count) override;
    HRESULT SetMatrix(IDirect3DDevice9* device, D3DXHANDLE constant, const D3DXMATRIX* matrix) override;
    HRESULT SetMatrixArray(IDirect3DDevice9* device, D3DXHANDLE constant, const D3DXMATRIX* matrix,
                           UINT count) override;
    HRESULT SetMatrixTranspose(IDirect3DDevice9* device, D3DXHANDLE constant, const D3DXMATRIX* matrix) override;
    HRESULT SetMatrixTransposeArray(IDirect3DDevice9* device, D3DXHANDLE constant, const D3DXMATRIX* matrix,
                                    UINT count) override;

private:
    ~ConstantTable() = default;
    ConstantRecord* Find(D3DXHANDLE handle);
    HRESULT WriteRegisters(IDirect3DDevice9* device, const ConstantRecord& record, const float* registers,
                           UINT count);
    HRESULT WriteMatrices(IDirect3DDevice9* device, D3DXHANDLE handle, const float* matrices, UINT count,
                          bool transpose);

    bool vertexStage_;
    std::deque<ConstantRecord> constants_;
    size_t topLevelCount_;
    std::atomic<ULONG> references_{1};  // released on another thread than it was made on
    std::vector<float> scratch_;
};

// ID3DXBuffer holding bytes.
class ByteBuffer final : public ID3DXBuffer {
public:
    explicit ByteBuffer(size_t size) : bytes_(size) {}
    HRESULT QueryInterface(REFIID, void** object) override {
        if (object) *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override {
        ULONG remaining = --references_;
        if (remaining == 0) delete this;
        return remaining;
    }
    LPVOID GetBufferPointer() override { return bytes_.data(); }
    DWORD GetBufferSize() override { return static_cast<DWORD>(bytes_.size()); }

private:
    ~ByteBuffer() = default;
    std::vector<uint8_t> bytes_;
    std::atomic<ULONG> references_{1};  // released on another thread than it was made on
};

}  // namespace lumaret::platform
