// A real Direct3D 9 device on the GL layer (headless on llvmpipe) for conformance tests,
// with read-back helpers. Any GL debug error during a test fails it.
#pragma once

#include <d3d9.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace lumaret::test {

class DeviceTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Recreates the device with another back buffer (and optional multisampling).
    void CreateDevice(UINT width, UINT height, D3DMULTISAMPLE_TYPE multisample = D3DMULTISAMPLE_NONE,
                      bool autoDepth = true);

    // The pixels of a colour surface as D3D9 lays them out in memory, row by row.
    std::vector<uint8_t> ReadSurface(IDirect3DSurface9* surface, UINT* pitch = nullptr);
    // A8R8G8B8 / X8R8G8B8 surfaces as 0xAARRGGBB values, row by row.
    std::vector<uint32_t> ReadColors(IDirect3DSurface9* surface);
    std::vector<uint32_t> ReadBackBuffer();

    IDirect3DTexture9* MakeTexture(UINT width, UINT height, D3DFORMAT format, const void* texels, UINT bytesPerPixel);
    IDirect3DTexture9* MakeRenderTargetTexture(UINT width, UINT height, D3DFORMAT format);

    IDirect3D9* d3d = nullptr;
    IDirect3DDevice9* device = nullptr;
    HWND window = nullptr;
    UINT width = 64;
    UINT height = 64;
};

}  // namespace lumaret::test
