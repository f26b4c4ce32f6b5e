// IDirect3DQuery9: occlusion queries on GL sample queries, timestamps on GL timestamp
// queries (nanoseconds, so the frequency query answers 10^9), events, frequencies and
// disjoint brackets on fences.
#pragma once

#include "d3d9/DeviceReference.h"
#include "d3d9/RefCounted.h"

#include <d3d9.h>
#include <epoxy/gl.h>

namespace lumaret::platform {

class Query final : public RefCounted<IDirect3DQuery9> {
public:
    Query(Device* device, D3DQUERYTYPE type);
    ~Query() override;
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    D3DQUERYTYPE GetType() override { return type_; }
    DWORD GetDataSize() override;
    HRESULT Issue(DWORD issueFlags) override;
    HRESULT GetData(void* data, DWORD size, DWORD getDataFlags) override;

private:
    DeviceReference device_;
    D3DQUERYTYPE type_;
    GLuint query_ = 0;
    GLsync fence_ = nullptr;
    bool begun_ = false;
    bool issued_ = false;
};

}  // namespace lumaret::platform
