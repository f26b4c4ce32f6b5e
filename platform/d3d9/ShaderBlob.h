// The compiled form of a shader, as D3DXCompileShader returns it and CreateVertexShader /
// CreatePixelShader take it: a small header, the GLSL text for one stage and the source's
// name (from a leading #line directive, as HLSL compilers name sources in their messages;
// the device labels the GL program with it). Inputs,
// varyings and outputs carry locations derived from their semantics, so any vertex
// shader pairs with any pixel shader, as in Direct3D 9.
#pragma once

#include <cstdint>
#include <string>

namespace lumaret::platform {

constexpr uint32_t kShaderBlobMagic = 0x48534D4Cu;  // "LMSH"
constexpr uint32_t kMaxShaderBlobBytes = 1u << 24;

enum class ShaderStage : uint32_t { Vertex = 0, Pixel = 1 };

struct ShaderBlobHeader {
    uint32_t magic;
    uint32_t stage;
    uint32_t totalBytes;  // header, GLSL text and name, each with its terminating NUL
    uint32_t glslBytes;   // without the NUL
    uint32_t constantRegisters;  // float4 registers the program reads: c0 up to this one
    uint32_t nameBytes;   // without the NUL; 0 for a source without a name
};

// The name a source gives itself in a first line of the form #line N "name"; empty when
// it has none.
std::string SourceNameOf(const std::string& source);

// Vertex inputs by Direct3D 9 declaration usage.
constexpr int kAttributeLocationUnsupported = -1;
int AttributeLocation(int usage, int usageIndex);

// Varying locations by semantic name (upper-case, without index) and index; -1 when the
// semantic cannot be carried between stages.
int VaryingLocation(const char* semantic, int index);

}  // namespace lumaret::platform
