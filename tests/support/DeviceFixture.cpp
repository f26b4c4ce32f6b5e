#include "support/DeviceFixture.h"

#include "d3d9/GlDebug.h"

#include <cstring>

namespace lumaret::test {

namespace {
LRESULT CALLBACK TestWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}
}  // namespace

void DeviceTest::SetUp() {
    WNDCLASSA cls{};
    cls.lpfnWndProc = TestWindowProcedure;
    cls.lpszClassName = "lumaret-device-test";
    RegisterClassA(&cls);
    window = CreateWindowExA(0, cls.lpszClassName, "device test", WS_VISIBLE, 0, 0, 64, 64, nullptr, nullptr, nullptr,
                             nullptr);
    ASSERT_NE(window, nullptr);
    d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    CreateDevice(width, height);
    lumaret::platform::ResetGlDebugErrors();
}

void DeviceTest::CreateDevice(UINT w, UINT h, D3DMULTISAMPLE_TYPE multisample, bool autoDepth) {
    if (device) device->Release();
    device = nullptr;
    width = w;
    height = h;
    D3DPRESENT_PARAMETERS parameters{};
    parameters.BackBufferWidth = w;
    parameters.BackBufferHeight = h;
    parameters.BackBufferFormat = D3DFMT_A8R8G8B8;
    parameters.BackBufferCount = 1;
    parameters.MultiSampleType = multisample;
    parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
    parameters.hDeviceWindow = window;
    parameters.Windowed = TRUE;
    parameters.EnableAutoDepthStencil = autoDepth;
    parameters.AutoDepthStencilFormat = D3DFMT_D24S8;
    parameters.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
    ASSERT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, D3DCREATE_HARDWARE_VERTEXPROCESSING,
                                &parameters, &device),
              D3D_OK);
}

void DeviceTest::TearDown() {
    EXPECT_EQ(lumaret::platform::GlDebugErrorCount(), 0u) << lumaret::platform::GlDebugLastError();
    if (device) {
        EXPECT_EQ(device->Release(), 0u) << "a test leaked device objects";
    }
    if (d3d) d3d->Release();
    if (window) DestroyWindow(window);
}

std::vector<uint8_t> DeviceTest::ReadSurface(IDirect3DSurface9* surface, UINT* pitchOut) {
    D3DSURFACE_DESC desc;
    surface->GetDesc(&desc);
    IDirect3DSurface9* copy = nullptr;
    EXPECT_EQ(device->CreateOffscreenPlainSurface(desc.Width, desc.Height, desc.Format, D3DPOOL_SYSTEMMEM, &copy,
                                                  nullptr),
              D3D_OK);
    if (!copy) return {};
    EXPECT_EQ(device->GetRenderTargetData(surface, copy), D3D_OK);
    D3DLOCKED_RECT locked;
    EXPECT_EQ(copy->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    std::vector<uint8_t> bytes(static_cast<size_t>(locked.Pitch) * desc.Height);
    std::memcpy(bytes.data(), locked.pBits, bytes.size());
    copy->UnlockRect();
    copy->Release();
    if (pitchOut) *pitchOut = static_cast<UINT>(locked.Pitch);
    return bytes;
}

std::vector<uint32_t> DeviceTest::ReadColors(IDirect3DSurface9* surface) {
    D3DSURFACE_DESC desc;
    surface->GetDesc(&desc);
    UINT pitch = 0;
    std::vector<uint8_t> bytes = ReadSurface(surface, &pitch);
    std::vector<uint32_t> colors(static_cast<size_t>(desc.Width) * desc.Height);
    for (UINT y = 0; y < desc.Height; ++y)
        std::memcpy(&colors[static_cast<size_t>(y) * desc.Width], bytes.data() + static_cast<size_t>(y) * pitch,
                    desc.Width * 4);
    return colors;
}

std::vector<uint32_t> DeviceTest::ReadBackBuffer() {
    IDirect3DSurface9* back = nullptr;
    device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
    std::vector<uint32_t> colors = ReadColors(back);
    back->Release();
    return colors;
}

IDirect3DTexture9* DeviceTest::MakeTexture(UINT w, UINT h, D3DFORMAT format, const void* texels, UINT bytesPerPixel) {
    IDirect3DTexture9* texture = nullptr;
    EXPECT_EQ(device->CreateTexture(w, h, 1, 0, format, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    D3DLOCKED_RECT locked;
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    for (UINT y = 0; y < h; ++y)
        std::memcpy(static_cast<uint8_t*>(locked.pBits) + static_cast<size_t>(y) * locked.Pitch,
                    static_cast<const uint8_t*>(texels) + static_cast<size_t>(y) * w * bytesPerPixel, w * bytesPerPixel);
    EXPECT_EQ(texture->UnlockRect(0), D3D_OK);
    return texture;
}

IDirect3DTexture9* DeviceTest::MakeRenderTargetTexture(UINT w, UINT h, D3DFORMAT format) {
    IDirect3DTexture9* texture = nullptr;
    EXPECT_EQ(device->CreateTexture(w, h, 1, D3DUSAGE_RENDERTARGET, format, D3DPOOL_DEFAULT, &texture, nullptr),
              D3D_OK);
    return texture;
}

}  // namespace lumaret::test
