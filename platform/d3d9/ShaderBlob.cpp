#include "d3d9/ShaderBlob.h"

#include <d3d9.h>

#include <cstring>

namespace lumaret::platform {

int AttributeLocation(int usage, int usageIndex) {
    switch (usage) {
    case D3DDECLUSAGE_POSITION:
    case D3DDECLUSAGE_POSITIONT: return usageIndex == 0 ? 0 : -1;
    case D3DDECLUSAGE_BLENDWEIGHT: return usageIndex == 0 ? 1 : -1;
    case D3DDECLUSAGE_BLENDINDICES: return usageIndex == 0 ? 2 : -1;
    case D3DDECLUSAGE_NORMAL: return usageIndex == 0 ? 3 : -1;
    case D3DDECLUSAGE_TEXCOORD: return usageIndex < 8 ? 4 + usageIndex : -1;
    case D3DDECLUSAGE_TANGENT: return usageIndex == 0 ? 12 : -1;
    case D3DDECLUSAGE_BINORMAL: return usageIndex == 0 ? 13 : -1;
    case D3DDECLUSAGE_COLOR: return usageIndex < 2 ? 14 + usageIndex : -1;
    default: return -1;
    }
}

int VaryingLocation(const char* semantic, int index) {
    if (!std::strcmp(semantic, "TEXCOORD")) return index < 10 ? index : -1;
    if (!std::strcmp(semantic, "COLOR")) return index < 2 ? 10 + index : -1;
    if (!std::strcmp(semantic, "NORMAL")) return index < 2 ? 12 + index : -1;
    if (!std::strcmp(semantic, "TANGENT")) return index == 0 ? 14 : -1;
    if (!std::strcmp(semantic, "BINORMAL")) return index == 0 ? 15 : -1;
    if (!std::strcmp(semantic, "FOG")) return index == 0 ? 16 : -1;
    if (!std::strcmp(semantic, "BLENDWEIGHT")) return index == 0 ? 17 : -1;
    if (!std::strcmp(semantic, "BLENDINDICES")) return index == 0 ? 18 : -1;
    if (!std::strcmp(semantic, "PSIZE")) return index == 0 ? 19 : -1;
    return -1;
}

}  // namespace lumaret::platform
