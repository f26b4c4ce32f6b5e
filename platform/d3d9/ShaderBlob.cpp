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

std::string SourceNameOf(const std::string& source) {
    size_t at = source.find_first_not_of(" \t");
    if (at == std::string::npos || source.compare(at, 5, "#line") != 0) return std::string();
    size_t end = source.find('\n', at);
    std::string line = source.substr(at + 5, end == std::string::npos ? std::string::npos : end - at - 5);
    size_t open = line.find('"');
    size_t close = open == std::string::npos ? std::string::npos : line.find('"', open + 1);
    if (close == std::string::npos) return std::string();
    return line.substr(open + 1, close - open - 1);
}

}  // namespace lumaret::platform
