// Names for frame debuggers: a resource carries its engine name as private data under the
// debug-object-name GUID that Direct3D's tools (PIX, and GL captures through our layer)
// read. Shaders have no private data in Direct3D 9; their sources name themselves with a
// #line directive instead (Renderer::CreateShader).
#pragma once

#include <d3d9.h>

#include <string>

inline constexpr GUID kDebugObjectName = {0x429b8c22, 0x9188, 0x4b0c, {0x87, 0x42, 0xac, 0xb0, 0xbf, 0x85, 0xc2, 0x00}};

inline void SetDebugName(IDirect3DResource9* resource, const std::string& name) {
    if (resource) resource->SetPrivateData(kDebugObjectName, name.c_str(), static_cast<DWORD>(name.size()), 0);
}
