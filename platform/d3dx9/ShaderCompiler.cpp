// D3DXCompileShader on glslang and SPIRV-Cross.
//
// DX9-style HLSL goes through glslang's HLSL front end to SPIR-V (Vulkan rules are the
// only ones it accepts for HLSL), then SPIRV-Cross writes GLSL 4.50 for the GL device.
// Between the two, the program is made to behave as Direct3D 9 runs it:
//  - inputs, varyings and outputs get locations from their semantics (one fixed table),
//    so a pixel shader may read fewer varyings than its vertex shader writes;
//  - a vertex output with the POSITION semantic becomes gl_Position;
//  - global constants get Direct3D 9 registers (register(cN) where given, otherwise the
//    lowest free registers in declaration order, each constant starting its own
//    register), and the constant block becomes an array of registers bound to the
//    device's register file for the stage.
// glslang runs in a helper program of its own (HlslFrontEnd.h), behind this one function,
// so a source cannot take the engine down and the front end can be replaced; register
// assignment is in ConstantRegisters.cpp.
#include "d3d9/Device.h"
#include "d3d9/ShaderBlob.h"
#include "d3dx9/ConstantRegisters.h"
#include "d3dx9/ConstantTable.h"
#include "d3dx9/ShaderCache.h"
#include "d3dx9/ShaderIncludes.h"
#include "hlslfront/HlslFrontEnd.h"
#include "hlslfront/ShaderCompileError.h"

#include <d3dx9.h>

#include <spirv_cross/spirv_glsl.hpp>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace lumaret::platform {
namespace {

// The pixel input with the VPOS semantic, until ResolveVpos turns it into a variable. The
// location is one no varying uses.
constexpr const char* kVposName = "lumaretVpos";
constexpr int kVposLocation = 30;

struct Profile {
    const char* name;
    bool vertex;
};

const Profile kProfiles[] = {{"vs_1_1", true},  {"vs_2_0", true},  {"vs_2_a", true},  {"vs_3_0", true},
                             {"ps_2_0", false}, {"ps_2_a", false}, {"ps_2_b", false}, {"ps_3_0", false}};

// "TEXCOORD3" -> ("TEXCOORD", 3); "SV_Target" -> ("SV_TARGET", 0).
void SplitSemantic(const std::string& semantic, std::string* name, int* index) {
    size_t digits = semantic.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(semantic[digits - 1]))) --digits;
    *name = semantic.substr(0, digits);
    for (char& c : *name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    *index = digits < semantic.size() ? std::atoi(semantic.c_str() + digits) : 0;
}

int VertexInputLocation(const std::string& name, int index) {
    // Never destroyed: a worker thread may still be compiling while the program exits.
    static const std::map<std::string, int>& usages =
        *new std::map<std::string, int>{{"POSITION", D3DDECLUSAGE_POSITION},
                                        {"POSITIONT", D3DDECLUSAGE_POSITIONT},
                                        {"BLENDWEIGHT", D3DDECLUSAGE_BLENDWEIGHT},
                                        {"BLENDINDICES", D3DDECLUSAGE_BLENDINDICES},
                                        {"NORMAL", D3DDECLUSAGE_NORMAL},
                                        {"TEXCOORD", D3DDECLUSAGE_TEXCOORD},
                                        {"TANGENT", D3DDECLUSAGE_TANGENT},
                                        {"BINORMAL", D3DDECLUSAGE_BINORMAL},
                                        {"COLOR", D3DDECLUSAGE_COLOR},
                                        {"SV_POSITION", D3DDECLUSAGE_POSITION}};
    auto found = usages.find(name);
    return found == usages.end() ? -1 : AttributeLocation(found->second, index);
}

std::string Describe(const std::string& semantic, const std::string& what) {
    return "error: " + what + " semantic '" + semantic + "' is not supported\n";
}

void AssignInterfaceLocations(spirv_cross::CompilerGLSL& compiler, bool vertex) {
    spirv_cross::ShaderResources resources = compiler.get_shader_resources();
    for (const spirv_cross::Resource& input : resources.stage_inputs) {
        std::string semantic = compiler.get_decoration_string(input.id, spv::DecorationUserSemantic);
        std::string name;
        int index;
        SplitSemantic(semantic, &name, &index);
        int location;
        if (vertex) {
            location = VertexInputLocation(name, index);
        } else if (name == "VPOS") {
            // Filled in from the fragment coordinate once the GLSL is written (ResolveVpos).
            compiler.set_name(input.id, kVposName);
            location = kVposLocation;
        } else if (name == "POSITION" || name == "SV_POSITION") {
            // The pixel's own position: the fragment coordinate when it is a float4.
            const spirv_cross::SPIRType& type = compiler.get_type(input.type_id);
            if (type.vecsize == 4 && type.columns == 1) {
                compiler.unset_decoration(input.id, spv::DecorationLocation);
                compiler.set_decoration(input.id, spv::DecorationBuiltIn, spv::BuiltInFragCoord);
                continue;
            }
            location = 31;
        } else {
            location = VaryingLocation(name.c_str(), index);
        }
        if (location < 0) throw ShaderCompileError(Describe(semantic, vertex ? "vertex input" : "pixel input"));
        compiler.set_decoration(input.id, spv::DecorationLocation, static_cast<uint32_t>(location));
    }
    for (const spirv_cross::Resource& output : resources.stage_outputs) {
        std::string semantic = compiler.get_decoration_string(output.id, spv::DecorationUserSemantic);
        std::string name;
        int index;
        SplitSemantic(semantic, &name, &index);
        if (vertex) {
            if (name == "POSITION" || name == "SV_POSITION") {
                compiler.unset_decoration(output.id, spv::DecorationLocation);
                compiler.set_decoration(output.id, spv::DecorationBuiltIn, spv::BuiltInPosition);
                continue;
            }
            int location = VaryingLocation(name.c_str(), index);
            if (location < 0) throw ShaderCompileError(Describe(semantic, "vertex output"));
            compiler.set_decoration(output.id, spv::DecorationLocation, static_cast<uint32_t>(location));
        } else {
            if (name == "DEPTH" || name == "SV_DEPTH") {
                compiler.unset_decoration(output.id, spv::DecorationLocation);
                compiler.set_decoration(output.id, spv::DecorationBuiltIn, spv::BuiltInFragDepth);
                continue;
            }
            if ((name != "COLOR" && name != "SV_TARGET") || index > 3)
                throw ShaderCompileError(Describe(semantic, "pixel output"));
            compiler.set_decoration(output.id, spv::DecorationLocation, static_cast<uint32_t>(index));
        }
    }
}

// VPOS is Direct3D 9's integer pixel position: the pixel centres lie on integers there,
// while GL's fragment coordinate is the centre at half-integers. The input that
// AssignInterfaceLocations renamed becomes a private variable set from gl_FragCoord.
std::string ResolveVpos(std::string glsl) {
    static const std::regex& declaration = *new std::regex("layout\\(location = " + std::to_string(kVposLocation) +
                                                           "\\) in (float|vec2|vec3|vec4) " + kVposName + ";");
    std::smatch match;
    if (!std::regex_search(glsl, match, declaration)) return glsl;
    std::string type = match[1].str();
    std::string value = type == "float"  ? "gl_FragCoord.x - 0.5"
                        : type == "vec2" ? "gl_FragCoord.xy - vec2(0.5)"
                        : type == "vec3" ? "vec3(gl_FragCoord.xy - vec2(0.5), gl_FragCoord.z)"
                                         : "vec4(gl_FragCoord.xy - vec2(0.5), gl_FragCoord.zw)";
    glsl.replace(static_cast<size_t>(match.position(0)), static_cast<size_t>(match.length(0)),
                 type + " " + kVposName + ";");
    size_t body = glsl.find("void main()\n{\n");
    if (body == std::string::npos) throw ShaderCompileError("error: VPOS could not be given its value\n");
    glsl.insert(body + 13, std::string("    ") + kVposName + " = " + value + ";\n");
    return glsl;
}

// A message that does not say which source it is about (a missing entry point, a helper
// that failed, a constant that does not fit) gets the source's name in front.
std::string NamingTheSource(const std::string& text, const std::string& source) {
    std::string name = SourceNameOf(source);
    if (name.empty() || text.find(name) != std::string::npos) return text;
    return name + ": " + text;
}

void SetErrors(ID3DXBuffer** errors, const std::string& text) {
    if (!errors) return;
    auto* buffer = new ByteBuffer(text.size() + 1);
    std::memcpy(buffer->GetBufferPointer(), text.c_str(), text.size() + 1);
    *errors = buffer;
}

// HLSL through the front end to SPIR-V, then SPIRV-Cross to GLSL as Direct3D 9 runs it.
TranslatedProgram Translate(const std::string& source, const char* entry, const Profile& profile,
                            const std::string& preamble) {
    const bool vertex = profile.vertex;
    FrontEndOutput front = CompileHlslToSpirv(source, entry, vertex, preamble);
    spirv_cross::CompilerGLSL compiler(std::move(front.spirv));
    spirv_cross::CompilerGLSL::Options options;
    options.version = 450;
    options.es = false;
    options.separate_shader_objects = true;
    options.vulkan_semantics = false;
    compiler.set_common_options(options);
    AssignInterfaceLocations(compiler, vertex);
    std::deque<ConstantRecord> constants = AssignRegisters(compiler, front.globals, profile.name, vertex);
    std::string glsl = compiler.compile();
    // The program reads registers up to the last one its constants occupy.
    UINT registers = 0;
    for (const ConstantRecord& c : constants)
        if (c.desc.RegisterSet == D3DXRS_FLOAT4)
            registers = std::max(registers, c.desc.RegisterIndex + c.desc.RegisterCount);
    glsl = BindRegisterFile(std::move(glsl), vertex, std::max(registers, 1u));
    if (!vertex) glsl = ResolveVpos(std::move(glsl));

    std::string name = SourceNameOf(source);
    size_t total = sizeof(ShaderBlobHeader) + glsl.size() + 1 + name.size() + 1;
    TranslatedProgram program;
    // Blob sizes stay whole DWORDs, as Direct3D 9 programs are.
    program.blob.resize((total + 3) & ~size_t{3});
    ShaderBlobHeader header{kShaderBlobMagic,
                            static_cast<uint32_t>(vertex ? ShaderStage::Vertex : ShaderStage::Pixel),
                            static_cast<uint32_t>(total),
                            static_cast<uint32_t>(glsl.size()),
                            registers,
                            static_cast<uint32_t>(name.size())};
    auto* bytes = reinterpret_cast<char*>(program.blob.data());
    std::memcpy(bytes, &header, sizeof(header));
    std::memcpy(bytes + sizeof(header), glsl.c_str(), glsl.size() + 1);
    std::memcpy(bytes + sizeof(header) + glsl.size() + 1, name.c_str(), name.size() + 1);
    program.constants = std::move(constants);
    return program;
}

}  // namespace
}  // namespace lumaret::platform

using namespace lumaret::platform;

HRESULT WINAPI D3DXCompileShader(LPCSTR srcData, UINT srcDataLen, const D3DXMACRO* defines, ID3DXInclude* include,
                                 LPCSTR functionName, LPCSTR profile, DWORD, ID3DXBuffer** shader,
                                 ID3DXBuffer** errorMsgs, ID3DXConstantTable** constantTable) {
    if (shader) *shader = nullptr;
    if (errorMsgs) *errorMsgs = nullptr;
    if (constantTable) *constantTable = nullptr;
    if (!srcData || !profile) return D3DERR_INVALIDCALL;
    const Profile* match = nullptr;
    for (const Profile& candidate : kProfiles)
        if (std::strcmp(candidate.name, profile) == 0) match = &candidate;
    if (!match) {
        SetErrors(errorMsgs, std::string("error X3501: unknown profile '") + profile + "'\n");
        return E_FAIL;
    }
    // The length covers the text up to any NUL inside it, as the compiler reads a C string.
    std::string source(srcData, strnlen(srcData, srcDataLen));
    const char* entry = functionName ? functionName : "main";
    try {
        // What the program's lines say, includes and all, is what is compiled and cached.
        source = ExpandIncludes(source, include);
        std::string preamble;
        for (const D3DXMACRO* macro = defines; macro && macro->Name; ++macro)
            preamble +=
                std::string("#define ") + macro->Name + " " + (macro->Definition ? macro->Definition : "") + "\n";
        std::string key = ShaderCacheKey(match->name, entry, preamble, source);
        std::optional<TranslatedProgram> program = LoadCachedProgram(key);
        if (!program) {
            program = Translate(source, entry, *match, preamble);
            StoreCachedProgram(key, *program);
        }
        auto* blob = new ByteBuffer(program->blob.size());
        std::memcpy(blob->GetBufferPointer(), program->blob.data(), program->blob.size());
        if (shader)
            *shader = blob;
        else
            blob->Release();
        if (constantTable) *constantTable = new ConstantTable(match->vertex, std::move(program->constants));
        return D3D_OK;
    } catch (const ShaderCompileError& error) {
        SetErrors(errorMsgs, NamingTheSource(error.text, source));
    } catch (const std::exception& error) {
        SetErrors(errorMsgs, NamingTheSource(std::string("error: ") + error.what() + "\n", source));
    }
    return E_FAIL;
}

LPCSTR WINAPI D3DXGetVertexShaderProfile(IDirect3DDevice9* device) {
    D3DCAPS9 caps;
    if (!device || FAILED(device->GetDeviceCaps(&caps))) return nullptr;
    if (caps.VertexShaderVersion >= D3DVS_VERSION(3, 0)) return "vs_3_0";
    if (caps.VertexShaderVersion >= D3DVS_VERSION(2, 0)) return "vs_2_0";
    return "vs_1_1";
}

LPCSTR WINAPI D3DXGetPixelShaderProfile(IDirect3DDevice9* device) {
    D3DCAPS9 caps;
    if (!device || FAILED(device->GetDeviceCaps(&caps))) return nullptr;
    if (caps.PixelShaderVersion >= D3DPS_VERSION(3, 0)) return "ps_3_0";
    if (caps.PixelShaderVersion >= D3DPS_VERSION(2, 0)) return "ps_2_0";
    return nullptr;
}

HRESULT WINAPI D3DXCreateBuffer(DWORD numBytes, ID3DXBuffer** buffer) {
    if (!buffer) return D3DERR_INVALIDCALL;
    *buffer = new ByteBuffer(numBytes);
    return D3D_OK;
}
