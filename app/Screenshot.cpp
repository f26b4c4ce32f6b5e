#include "app/Screenshot.h"

#include "app/Log.h"
#include "render/Renderer.h"

#include <d3dx9.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

std::string NextScreenshotName() {
    char name[32];
    for (int number = 1;; ++number) {
        std::snprintf(name, sizeof(name), "screenshot_%03d.png", number);
        std::error_code error;
        if (!std::filesystem::exists(name, error) || number >= 99999) return name;
    }
}

namespace {

// Why a file cannot be written here, as the system says it: D3DX only says that it failed.
std::string WhyNotWritable(const std::string& name) {
    errno = 0;
    FILE* file = std::fopen(name.c_str(), "wb");
    if (!file) return errno ? std::strerror(errno) : "it cannot be created";
    std::fclose(file);
    std::remove(name.c_str());
    return "the write failed";
}

}  // namespace

bool SaveNumberedScreenshot(Renderer& renderer, std::string* failure) {
    std::string name = NextScreenshotName();
    IDirect3DDevice9* device = renderer.device;
    IDirect3DSurface9* backBuffer = nullptr;
    IDirect3DSurface9* resolved = nullptr;
    IDirect3DSurface9* copy = nullptr;
    D3DSURFACE_DESC desc{};
    // A multisampled back buffer cannot be read back directly: it is resolved into a
    // plain render target first.
    bool taken = device && SUCCEEDED(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer)) &&
                 SUCCEEDED(backBuffer->GetDesc(&desc)) &&
                 SUCCEEDED(device->CreateRenderTarget(desc.Width, desc.Height, desc.Format, D3DMULTISAMPLE_NONE, 0,
                                                      FALSE, &resolved, nullptr)) &&
                 SUCCEEDED(device->StretchRect(backBuffer, nullptr, resolved, nullptr, D3DTEXF_NONE)) &&
                 SUCCEEDED(device->CreateOffscreenPlainSurface(desc.Width, desc.Height, desc.Format, D3DPOOL_SYSTEMMEM,
                                                               &copy, nullptr)) &&
                 SUCCEEDED(device->GetRenderTargetData(resolved, copy));
    bool saved = taken && SUCCEEDED(D3DXSaveSurfaceToFileA(name.c_str(), D3DXIFF_PNG, copy, nullptr, nullptr));
    for (IDirect3DSurface9* surface : {backBuffer, resolved, copy})
        if (surface) surface->Release();
    if (saved) {
        Log::Write("Screenshot: %s\n", name.c_str());
        return true;
    }
    std::string said = "Screenshot: " + name + " could not be " +
                       (taken ? "written (" + WhyNotWritable(name) + ").\n" : std::string("taken.\n"));
    Log::Write("%s", said.c_str());
    if (failure) *failure = said;
    return false;
}
