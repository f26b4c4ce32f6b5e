// TextureRecord: one registered texture (2D or cube), keyed by its lower-cased path.
#pragma once

#include <d3d9.h>

#include <cstdint>
#include <string>

struct TextureRecord {
    std::string name;
    IDirect3DBaseTexture9* texture = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
};
