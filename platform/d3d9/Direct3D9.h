// IDirect3D9: the adapter, its formats and capabilities, and device creation. The answers
// describe this layer on any GL 4.5 core driver with S3TC and sRGB decoding; CreateDevice
// verifies the driver.
#pragma once

#include "d3d9/RefCounted.h"

#include <d3d9.h>

namespace lumaret::platform {

class Direct3D9 final : public RefCounted<IDirect3D9> {
public:
    UINT GetAdapterCount() override { return 1; }
    UINT GetAdapterModeCount(UINT adapter, D3DFORMAT format) override;
    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override;
    HRESULT CheckDeviceType(UINT adapter, D3DDEVTYPE deviceType, D3DFORMAT adapterFormat, D3DFORMAT backBufferFormat,
                            BOOL windowed) override;
    HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE deviceType, D3DFORMAT adapterFormat, DWORD usage,
                              D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) override;
    HRESULT CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE deviceType, D3DFORMAT surfaceFormat, BOOL windowed,
                                       D3DMULTISAMPLE_TYPE multiSampleType, DWORD* qualityLevels) override;
    HRESULT CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE deviceType, D3DFORMAT adapterFormat,
                                   D3DFORMAT renderTargetFormat, D3DFORMAT depthStencilFormat) override;
    HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE deviceType, D3DCAPS9* caps) override;
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE deviceType, HWND focusWindow, DWORD behaviorFlags,
                         D3DPRESENT_PARAMETERS* presentationParameters,
                         IDirect3DDevice9** returnedDeviceInterface) override;

    static void FillCaps(D3DCAPS9* caps);
};

}  // namespace lumaret::platform
