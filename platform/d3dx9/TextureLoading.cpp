// D3DX texture creation from image files in memory, on top of the device's CreateTexture,
// CreateCubeTexture and LockRect. Decoding and mip generation happen on the CPU first
// (ImageDecoder, ImageMipChain), so a device call only happens for a file that decoded.
// Asking for a 2D image's information decodes it ahead (DecodedImageCache.h).
#include <d3dx9tex.h>

#include "d3dx9/DecodedImageCache.h"
#include "d3dx9/Fnv1a.h"
#include "d3dx9/ImageDecoder.h"
#include "d3dx9/ImageMipChain.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <set>

using lumaret::platform::DecodedImage;
using lumaret::platform::ImageSurface;

namespace {

enum class TextureKind { k2D, kCube };

// Whether these bytes are refused for the first time: a program may ask about a file on a
// worker thread before its loader asks again, and the reason is worth one line.
bool FirstRefusalOf(LPCVOID data, UINT size) {
    static std::mutex* guard = new std::mutex;
    static std::set<uint64_t>* refused = new std::set<uint64_t>;
    std::lock_guard<std::mutex> lock(*guard);
    return refused->insert(lumaret::platform::Fnv1a(data, size) ^ size).second;
}

// A refused file gets D3DXERR_INVALIDDATA like a corrupt one; when the reason is its size,
// stderr says so (once per file), since the file itself may be perfectly well formed.
HRESULT ExplainRefusal(HRESULT result, LPCVOID data, UINT size) {
    D3DXIMAGE_INFO claimed{};
    if (result == D3DXERR_INVALIDDATA && SUCCEEDED(lumaret::platform::ReadImageHeader(data, size, claimed)) &&
        !lumaret::platform::WithinPixelLimit(claimed) && FirstRefusalOf(data, size))
        std::fprintf(stderr, "D3DX: a %u x %u image is beyond the limit of %u pixels (4096 x 4096) per image\n",
                     claimed.Width, claimed.Height, lumaret::platform::kMaxImagePixels);
    return result;
}

// The file's levels, completed to a full chain when it has only one. A 2D texture takes
// a cube map's first face; a cube texture needs a cube map.
HRESULT DecodeForTexture(LPCVOID data, UINT size, TextureKind kind, DecodedImage& image) {
    HRESULT result = lumaret::platform::DecodeImage(data, size, image);
    if (FAILED(result)) return ExplainRefusal(result, data, size);
    if (kind == TextureKind::kCube && image.faceCount != 6) return D3DXERR_INVALIDDATA;
    try {
        if (kind == TextureKind::k2D && image.faceCount > 1) {
            image.surfaces.resize(image.levelCount);
            image.faceCount = 1;
            image.info.ResourceType = D3DRTYPE_TEXTURE;
        }
        lumaret::platform::GenerateMipChain(image);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

// Row by row, because the device's pitch may be wider than the packed rows.
HRESULT CopyToLocked(const ImageSurface& surface, const D3DLOCKED_RECT& locked) {
    if (!locked.pBits || locked.Pitch < 0 || static_cast<size_t>(locked.Pitch) < surface.rowPitch)
        return D3DERR_INVALIDCALL;
    uint8_t* destination = static_cast<uint8_t*>(locked.pBits);
    for (UINT row = 0; row < surface.rowCount; ++row)
        std::memcpy(destination + static_cast<size_t>(row) * locked.Pitch, surface.Row(row), surface.rowPitch);
    return S_OK;
}

HRESULT FillTexture(IDirect3DTexture9* texture, const DecodedImage& image) {
    for (UINT level = 0; level < image.levelCount; ++level) {
        D3DLOCKED_RECT locked{};
        HRESULT result = texture->LockRect(level, &locked, nullptr, 0);
        if (FAILED(result)) return result;
        result = CopyToLocked(image.Surface(0, level), locked);
        HRESULT unlocked = texture->UnlockRect(level);
        if (FAILED(result)) return result;
        if (FAILED(unlocked)) return unlocked;
    }
    return S_OK;
}

HRESULT FillCubeTexture(IDirect3DCubeTexture9* texture, const DecodedImage& image) {
    for (UINT face = 0; face < image.faceCount; ++face) {
        const auto cubeFace = static_cast<D3DCUBEMAP_FACES>(face);
        for (UINT level = 0; level < image.levelCount; ++level) {
            D3DLOCKED_RECT locked{};
            HRESULT result = texture->LockRect(cubeFace, level, &locked, nullptr, 0);
            if (FAILED(result)) return result;
            result = CopyToLocked(image.Surface(face, level), locked);
            HRESULT unlocked = texture->UnlockRect(cubeFace, level);
            if (FAILED(result)) return result;
            if (FAILED(unlocked)) return unlocked;
        }
    }
    return S_OK;
}

}  // namespace

HRESULT WINAPI D3DXGetImageInfoFromFileInMemory(LPCVOID srcData, UINT srcDataSize, D3DXIMAGE_INFO* srcInfo) {
    if (!srcData || srcDataSize == 0 || !srcInfo) return D3DERR_INVALIDCALL;
    HRESULT result = lumaret::platform::ReadImageInfo(srcData, srcDataSize, *srcInfo);
    if (FAILED(result)) return ExplainRefusal(result, srcData, srcDataSize);
    // Cube maps are left to their own creation, which wants every face.
    if (srcInfo->ResourceType == D3DRTYPE_TEXTURE)
        lumaret::platform::DecodedImageCache::Shared().Prepare(srcData, srcDataSize, [&](DecodedImage& image) {
            return DecodeForTexture(srcData, srcDataSize, TextureKind::k2D, image);
        });
    return result;
}

HRESULT WINAPI D3DXCreateTextureFromFileInMemory(LPDIRECT3DDEVICE9 device, LPCVOID srcData, UINT srcDataSize,
                                                 LPDIRECT3DTEXTURE9* texture) {
    if (!device || !srcData || srcDataSize == 0 || !texture) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    DecodedImage image;
    HRESULT result = D3D_OK;
    if (!lumaret::platform::DecodedImageCache::Shared().Take(srcData, srcDataSize, image))
        result = DecodeForTexture(srcData, srcDataSize, TextureKind::k2D, image);
    if (FAILED(result)) return result;

    IDirect3DTexture9* created = nullptr;
    result = device->CreateTexture(image.info.Width, image.info.Height, image.levelCount, 0, image.info.Format,
                                   D3DPOOL_MANAGED, &created, nullptr);
    if (FAILED(result)) return result;
    if (!created) return D3DERR_INVALIDCALL;
    result = FillTexture(created, image);
    if (FAILED(result)) {
        created->Release();
        return result;
    }
    *texture = created;
    return D3D_OK;
}

HRESULT WINAPI D3DXCreateCubeTextureFromFileInMemory(LPDIRECT3DDEVICE9 device, LPCVOID srcData, UINT srcDataSize,
                                                     LPDIRECT3DCUBETEXTURE9* cubeTexture) {
    if (!device || !srcData || srcDataSize == 0 || !cubeTexture) return D3DERR_INVALIDCALL;
    *cubeTexture = nullptr;
    DecodedImage image;
    HRESULT result = DecodeForTexture(srcData, srcDataSize, TextureKind::kCube, image);
    if (FAILED(result)) return result;

    IDirect3DCubeTexture9* created = nullptr;
    result = device->CreateCubeTexture(image.info.Width, image.levelCount, 0, image.info.Format, D3DPOOL_MANAGED,
                                       &created, nullptr);
    if (FAILED(result)) return result;
    if (!created) return D3DERR_INVALIDCALL;
    result = FillCubeTexture(created, image);
    if (FAILED(result)) {
        created->Release();
        return result;
    }
    *cubeTexture = created;
    return D3D_OK;
}
