// D3DXSaveSurfaceToFileA for the one case the engine needs: a 32-bit surface as a PNG.
#include "d3d9/HeadlessCapture.h"

#include <d3dx9.h>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

#include <cstring>
#include <vector>

HRESULT WINAPI D3DXSaveSurfaceToFileA(LPCSTR destFile, D3DXIMAGE_FILEFORMAT destFormat, LPDIRECT3DSURFACE9 srcSurface,
                                      const PALETTEENTRY* srcPalette, const RECT* srcRect) {
    if (!destFile || !srcSurface || destFormat != D3DXIFF_PNG || srcPalette || srcRect) return D3DERR_INVALIDCALL;
    D3DSURFACE_DESC desc{};
    if (FAILED(srcSurface->GetDesc(&desc)) ||
        (desc.Format != D3DFMT_A8R8G8B8 && desc.Format != D3DFMT_X8R8G8B8))
        return D3DERR_INVALIDCALL;
    D3DLOCKED_RECT locked{};
    if (FAILED(srcSurface->LockRect(&locked, nullptr, D3DLOCK_READONLY))) return D3DERR_INVALIDCALL;
    // B, G, R, A in memory to R, G, B, A; an X8 format's fourth byte means nothing.
    std::vector<uint8_t> rgba(static_cast<size_t>(desc.Width) * desc.Height * 4);
    for (UINT y = 0; y < desc.Height; ++y) {
        const uint8_t* row = static_cast<const uint8_t*>(locked.pBits) + static_cast<size_t>(y) * locked.Pitch;
        uint8_t* out = &rgba[static_cast<size_t>(y) * desc.Width * 4];
        for (UINT x = 0; x < desc.Width; ++x, row += 4, out += 4) {
            out[0] = row[2];
            out[1] = row[1];
            out[2] = row[0];
            out[3] = desc.Format == D3DFMT_X8R8G8B8 ? 255 : row[3];
        }
    }
    srcSurface->UnlockRect();
    std::vector<uint8_t> png;
    auto append = [](void* context, void* data, int size) {
        auto* bytes = static_cast<std::vector<uint8_t>*>(context);
        bytes->insert(bytes->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
    };
    if (!stbi_write_png_to_func(append, &png, static_cast<int>(desc.Width), static_cast<int>(desc.Height), 4,
                                rgba.data(), static_cast<int>(desc.Width * 4)))
        return E_FAIL;
    return lumaret::platform::WriteWholeFileOrNothing(destFile, png.data(), png.size()) ? D3D_OK : E_FAIL;
}
