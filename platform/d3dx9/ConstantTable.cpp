#include "d3dx9/ConstantTable.h"

#include <algorithm>
#include <cstring>

namespace lumaret::platform {

ConstantTable::ConstantTable(bool vertexStage, std::deque<ConstantRecord> constants)
    : vertexStage_(vertexStage), constants_(std::move(constants)), topLevelCount_(constants_.size()) {
    for (ConstantRecord& record : constants_) record.desc.Name = record.name.c_str();
}

ULONG ConstantTable::Release() {
    ULONG remaining = --references_;
    if (remaining == 0) delete this;
    return remaining;
}

ConstantRecord* ConstantTable::Find(D3DXHANDLE handle) {
    if (!handle) return nullptr;
    for (ConstantRecord& record : constants_)
        if (record.name.c_str() == handle) return &record;
    // Not one of our handles: D3DX takes it as a name.
    D3DXHANDLE byName = GetConstantByName(nullptr, handle);
    for (ConstantRecord& record : constants_)
        if (byName && record.name.c_str() == byName) return &record;
    return nullptr;
}

HRESULT ConstantTable::GetDesc(D3DXCONSTANTTABLE_DESC* desc) {
    if (!desc) return D3DERR_INVALIDCALL;
    desc->Creator = "Lumaret HLSL compiler";
    desc->Version = vertexStage_ ? D3DVS_VERSION(3, 0) : D3DPS_VERSION(3, 0);
    desc->Constants = static_cast<UINT>(topLevelCount_);
    return D3D_OK;
}

HRESULT ConstantTable::GetConstantDesc(D3DXHANDLE constant, D3DXCONSTANT_DESC* desc, UINT* count) {
    ConstantRecord* record = Find(constant);
    if (!record || !count) return D3DERR_INVALIDCALL;
    if (desc && *count >= 1) *desc = record->desc;
    *count = 1;
    return D3D_OK;
}

UINT ConstantTable::GetSamplerIndex(D3DXHANDLE constant) {
    ConstantRecord* record = Find(constant);
    if (!record || record->desc.RegisterSet != D3DXRS_SAMPLER) return static_cast<UINT>(-1);
    return record->desc.RegisterIndex;
}

D3DXHANDLE ConstantTable::GetConstant(D3DXHANDLE constant, UINT index) {
    if (constant) return nullptr;  // structures are not supported, so nothing has members
    return index < topLevelCount_ ? constants_[index].name.c_str() : nullptr;
}

D3DXHANDLE ConstantTable::GetConstantByName(D3DXHANDLE constant, LPCSTR name) {
    if (constant || !name) return nullptr;
    // "name[3]" names an array element.
    const char* bracket = std::strchr(name, '[');
    size_t length = bracket ? static_cast<size_t>(bracket - name) : std::strlen(name);
    for (size_t i = 0; i < topLevelCount_; ++i) {
        ConstantRecord& record = constants_[i];
        if (record.name.size() != length || record.name.compare(0, length, name, length) != 0) continue;
        if (!bracket) return record.name.c_str();
        char* end = nullptr;
        unsigned long element = std::strtoul(bracket + 1, &end, 10);
        if (!end || *end != ']' || end[1] != '\0') return nullptr;
        return GetConstantElement(record.name.c_str(), static_cast<UINT>(element));
    }
    return nullptr;
}

D3DXHANDLE ConstantTable::GetConstantElement(D3DXHANDLE constant, UINT index) {
    ConstantRecord* record = Find(constant);
    if (!record || record->desc.Elements <= 1 || index >= record->desc.Elements) return nullptr;
    if (record->elements.empty()) record->elements.assign(record->desc.Elements, nullptr);
    if (!record->elements[index]) {
        ConstantRecord element;
        element.name = record->name + "[" + std::to_string(index) + "]";
        element.desc = record->desc;
        element.desc.Elements = 1;
        element.desc.RegisterIndex = record->desc.RegisterIndex + index * record->registersPerElement;
        element.desc.RegisterCount = record->registersPerElement;
        element.registersPerElement = record->registersPerElement;
        constants_.push_back(std::move(element));
        constants_.back().desc.Name = constants_.back().name.c_str();
        record->elements[index] = &constants_.back();
    }
    return record->elements[index]->name.c_str();
}

HRESULT ConstantTable::SetDefaults(IDirect3DDevice9* device) { return device ? D3D_OK : D3DERR_INVALIDCALL; }

HRESULT ConstantTable::WriteRegisters(IDirect3DDevice9* device, const ConstantRecord& record, const float* registers,
                                      UINT count) {
    if (!device) return D3DERR_INVALIDCALL;
    count = std::min(count, record.desc.RegisterCount);
    if (count == 0) return D3D_OK;
    return vertexStage_ ? device->SetVertexShaderConstantF(record.desc.RegisterIndex, registers, count)
                        : device->SetPixelShaderConstantF(record.desc.RegisterIndex, registers, count);
}

HRESULT ConstantTable::SetFloatArray(IDirect3DDevice9* device, D3DXHANDLE constant, const FLOAT* values, UINT count) {
    ConstantRecord* record = Find(constant);
    if (!record || !values || record->desc.RegisterSet != D3DXRS_FLOAT4) return D3DERR_INVALIDCALL;
    // Each register holds one row (or column) of the constant's type: a float array puts one
    // value per register, a float4 array four.
    const D3DXCONSTANT_DESC& d = record->desc;
    UINT perRegister = d.Class == D3DXPC_MATRIX_COLUMNS ? d.Rows : d.Columns;
    perRegister = std::clamp<UINT>(perRegister, 1, 4);
    UINT registers = std::min(d.RegisterCount, (count + perRegister - 1) / perRegister);
    scratch_.assign(static_cast<size_t>(registers) * 4, 0.0f);
    for (UINT i = 0; i < count && i / perRegister < registers; ++i) scratch_[(i / perRegister) * 4 + i % perRegister] = values[i];
    return WriteRegisters(device, *record, scratch_.data(), registers);
}

HRESULT ConstantTable::SetValue(IDirect3DDevice9* device, D3DXHANDLE constant, LPCVOID data, UINT bytes) {
    if (!data) return D3DERR_INVALIDCALL;
    return SetFloatArray(device, constant, static_cast<const FLOAT*>(data), bytes / sizeof(FLOAT));
}

HRESULT ConstantTable::SetBool(IDirect3DDevice9* device, D3DXHANDLE constant, BOOL b) {
    return SetFloat(device, constant, b ? 1.0f : 0.0f);
}

HRESULT ConstantTable::SetInt(IDirect3DDevice9* device, D3DXHANDLE constant, INT n) {
    return SetFloat(device, constant, static_cast<float>(n));
}

HRESULT ConstantTable::SetFloat(IDirect3DDevice9* device, D3DXHANDLE constant, FLOAT f) {
    return SetFloatArray(device, constant, &f, 1);
}

HRESULT ConstantTable::SetVector(IDirect3DDevice9* device, D3DXHANDLE constant, const D3DXVECTOR4* vector) {
    return SetVectorArray(device, constant, vector, 1);
}

HRESULT ConstantTable::SetVectorArray(IDirect3DDevice9* device, D3DXHANDLE constant, const D3DXVECTOR4* vectors,
                                      UINT count) {
    ConstantRecord* record = Find(constant);
    if (!record || !vectors || record->desc.RegisterSet != D3DXRS_FLOAT4) return D3DERR_INVALIDCALL;
    // A vector fills one whole register, whatever part of it the constant uses.
    return WriteRegisters(device, *record, reinterpret_cast<const float*>(vectors), count);
}

HRESULT ConstantTable::WriteMatrices(IDirect3DDevice9* device, D3DXHANDLE constant, const float* matrices, UINT count,
                                     bool transpose) {
    ConstantRecord* record = Find(constant);
    if (!record || !matrices || record->desc.RegisterSet != D3DXRS_FLOAT4) return D3DERR_INVALIDCALL;
    const D3DXCONSTANT_DESC& d = record->desc;
    UINT perElement = record->registersPerElement;
    UINT elements = std::min(count, std::max<UINT>(d.Elements, 1));
    scratch_.assign(static_cast<size_t>(elements) * perElement * 4, 0.0f);
    for (UINT e = 0; e < elements; ++e) {
        const float* m = matrices + e * 16;
        float* out = scratch_.data() + static_cast<size_t>(e) * perElement * 4;
        // X is the constant's value as HLSL sees it: M, or its transpose.
        auto x = [&](UINT row, UINT column) { return transpose ? m[column * 4 + row] : m[row * 4 + column]; };
        if (d.Class == D3DXPC_MATRIX_COLUMNS) {
            for (UINT c = 0; c < perElement && c < 4; ++c)
                for (UINT r = 0; r < d.Rows && r < 4; ++r) out[c * 4 + r] = x(r, c);
        } else {
            for (UINT r = 0; r < perElement && r < 4; ++r)
                for (UINT c = 0; c < d.Columns && c < 4; ++c) out[r * 4 + c] = x(r, c);
        }
    }
    return WriteRegisters(device, *record, scratch_.data(), elements * perElement);
}

HRESULT ConstantTable::SetMatrix(IDirect3DDevice9* device, D3DXHANDLE constant, const D3DXMATRIX* matrix) {
    return WriteMatrices(device, constant, reinterpret_cast<const float*>(matrix), 1, false);
}

HRESULT ConstantTable::SetMatrixArray(IDirect3DDevice9* device, D3DXHANDLE constant, const D3DXMATRIX* matrices,
                                      UINT count) {
    return WriteMatrices(device, constant, reinterpret_cast<const float*>(matrices), count, false);
}

HRESULT ConstantTable::SetMatrixTranspose(IDirect3DDevice9* device, D3DXHANDLE constant, const D3DXMATRIX* matrix) {
    return WriteMatrices(device, constant, reinterpret_cast<const float*>(matrix), 1, true);
}

HRESULT ConstantTable::SetMatrixTransposeArray(IDirect3DDevice9* device, D3DXHANDLE constant,
                                               const D3DXMATRIX* matrices, UINT count) {
    return WriteMatrices(device, constant, reinterpret_cast<const float*>(matrices), count, true);
}

}  // namespace lumaret::platform
