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
// glslang's HLSL front end is kept behind this one function so it can be replaced.
#include "d3d9/Device.h"
#include "d3d9/ShaderBlob.h"
#include "d3dx9/ConstantTable.h"

#include <d3dx9.h>

#include <glslang/Public/ResourceLimits.h>
#include <glslang/Public/ShaderLang.h>
#include <glslang/SPIRV/GlslangToSpv.h>
#include <spirv_cross/spirv_glsl.hpp>

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <map>
#include <regex>
#include <set>
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

const Profile kProfiles[] = {{"vs_1_1", true},  {"vs_2_0", true},  {"vs_2_a", true}, {"vs_3_0", true},
                             {"ps_2_0", false}, {"ps_2_a", false}, {"ps_2_b", false}, {"ps_3_0", false}};

class CompileError {
public:
    explicit CompileError(std::string text) : text(std::move(text)) {}
    std::string text;
};

std::vector<uint32_t> ParseHlsl(const std::string& source, const char* entry, bool vertex, const std::string& preamble);

void EnsureGlslangInitialised() {
    static bool initialised = glslang::InitializeProcess();
    (void)initialised;
}

// glslang builds its built-in symbol tables on the first parse of each stage, which costs
// tens of milliseconds. Doing that once here, with two known-good programs, lets every
// child process of CompileToSpirv inherit the tables instead of building them again.
void WarmUpGlslang() {
    static bool warm = false;
    if (warm) return;
    warm = true;
    EnsureGlslangInitialised();
    ParseHlsl("float4 main(float4 p : POSITION) : POSITION { return p; }", "main", true, "");
    ParseHlsl("float4 main() : COLOR { return 0; }", "main", false, "");
}

// "TEXCOORD3" -> ("TEXCOORD", 3); "SV_Target" -> ("SV_TARGET", 0).
void SplitSemantic(const std::string& semantic, std::string* name, int* index) {
    size_t digits = semantic.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(semantic[digits - 1]))) --digits;
    *name = semantic.substr(0, digits);
    for (char& c : *name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    *index = digits < semantic.size() ? std::atoi(semantic.c_str() + digits) : 0;
}

int VertexInputLocation(const std::string& name, int index) {
    static const std::map<std::string, int> usages = {
        {"POSITION", D3DDECLUSAGE_POSITION}, {"POSITIONT", D3DDECLUSAGE_POSITIONT},
        {"BLENDWEIGHT", D3DDECLUSAGE_BLENDWEIGHT}, {"BLENDINDICES", D3DDECLUSAGE_BLENDINDICES},
        {"NORMAL", D3DDECLUSAGE_NORMAL}, {"TEXCOORD", D3DDECLUSAGE_TEXCOORD},
        {"TANGENT", D3DDECLUSAGE_TANGENT}, {"BINORMAL", D3DDECLUSAGE_BINORMAL},
        {"COLOR", D3DDECLUSAGE_COLOR}, {"SV_POSITION", D3DDECLUSAGE_POSITION}};
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
        if (location < 0) throw CompileError(Describe(semantic, vertex ? "vertex input" : "pixel input"));
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
            if (location < 0) throw CompileError(Describe(semantic, "vertex output"));
            compiler.set_decoration(output.id, spv::DecorationLocation, static_cast<uint32_t>(location));
        } else {
            if (name == "DEPTH" || name == "SV_DEPTH") {
                compiler.unset_decoration(output.id, spv::DecorationLocation);
                compiler.set_decoration(output.id, spv::DecorationBuiltIn, spv::BuiltInFragDepth);
                continue;
            }
            if ((name != "COLOR" && name != "SV_TARGET") || index > 3)
                throw CompileError(Describe(semantic, "pixel output"));
            compiler.set_decoration(output.id, spv::DecorationLocation, static_cast<uint32_t>(index));
        }
    }
}

// VPOS is Direct3D 9's integer pixel position: the pixel centres lie on integers there,
// while GL's fragment coordinate is the centre at half-integers. The input that
// AssignInterfaceLocations renamed becomes a private variable set from gl_FragCoord.
std::string ResolveVpos(std::string glsl) {
    static const std::regex declaration("layout\\(location = " + std::to_string(kVposLocation) +
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
    if (body == std::string::npos) throw CompileError("error: VPOS could not be given its value\n");
    glsl.insert(body + 13, std::string("    ") + kVposName + " = " + value + ";\n");
    return glsl;
}

// register(cN) annotations of the source, by constant name.
std::map<std::string, UINT> ExplicitRegisters(const std::string& source) {
    static const std::regex pattern(R"(([A-Za-z_]\w*)\s*(?:\[[^\]]*\]\s*)?:\s*register\s*\(\s*[cC](\d+)\s*\))");
    std::map<std::string, UINT> registers;
    for (auto it = std::sregex_iterator(source.begin(), source.end(), pattern); it != std::sregex_iterator(); ++it)
        registers[(*it)[1].str()] = static_cast<UINT>(std::stoul((*it)[2].str()));
    return registers;
}

struct MemberLayout {
    D3DXCONSTANT_DESC desc{};
    UINT registersPerElement = 1;
    std::string name;
};

MemberLayout DescribeMember(spirv_cross::CompilerGLSL& compiler, const spirv_cross::SPIRType& block, uint32_t index) {
    MemberLayout layout;
    layout.name = compiler.get_member_name(block.self, index);
    const spirv_cross::SPIRType& type = compiler.get_type(block.member_types[index]);
    D3DXCONSTANT_DESC& d = layout.desc;
    d.RegisterSet = D3DXRS_FLOAT4;
    switch (type.basetype) {
    case spirv_cross::SPIRType::Float: d.Type = D3DXPT_FLOAT; break;
    case spirv_cross::SPIRType::Int:
    case spirv_cross::SPIRType::UInt: d.Type = D3DXPT_INT; break;
    case spirv_cross::SPIRType::Boolean: d.Type = D3DXPT_BOOL; break;
    default: throw CompileError("error: constant '" + layout.name + "' has a type Direct3D 9 registers cannot hold\n");
    }
    if (type.columns > 1) {
        // glslang writes HLSL's floatRxC as a matrix of R columns of C-vectors; HLSL's
        // default column_major packing comes out row-major in SPIR-V.
        bool columnMajor = compiler.has_member_decoration(block.self, index, spv::DecorationRowMajor);
        d.Rows = type.columns;
        d.Columns = type.vecsize;
        d.Class = columnMajor ? D3DXPC_MATRIX_COLUMNS : D3DXPC_MATRIX_ROWS;
        layout.registersPerElement = columnMajor ? d.Columns : d.Rows;
    } else {
        d.Rows = 1;
        d.Columns = type.vecsize;
        d.Class = type.vecsize > 1 ? D3DXPC_VECTOR : D3DXPC_SCALAR;
        layout.registersPerElement = 1;
    }
    if (type.array.size() > 1) throw CompileError("error: constant '" + layout.name + "' is a nested array\n");
    d.Elements = type.array.empty() ? 1 : type.array[0];
    if (d.Elements == 0) throw CompileError("error: constant '" + layout.name + "' has no elements\n");
    d.RegisterCount = d.Elements * layout.registersPerElement;
    d.Bytes = d.Elements * d.Rows * d.Columns * 4;
    return layout;
}

std::deque<ConstantRecord> AssignRegisters(spirv_cross::CompilerGLSL& compiler, const std::string& source,
                                           bool vertex) {
    std::deque<ConstantRecord> records;
    spirv_cross::ShaderResources resources = compiler.get_shader_resources();
    const UINT registerCount = vertex ? kVertexConstantRegisters : kPixelConstantRegisters;
    for (const spirv_cross::Resource& buffer : resources.uniform_buffers) {
        const spirv_cross::SPIRType& block = compiler.get_type(buffer.base_type_id);
        if (compiler.get_name(buffer.base_type_id) != "$Global" && buffer.name != "$Global")
            throw CompileError("error: constant buffers are not supported by Direct3D 9 shader models\n");
        std::map<std::string, UINT> explicitRegisters = ExplicitRegisters(source);
        std::vector<MemberLayout> members;
        std::vector<bool> used(registerCount, false);
        // Explicitly placed constants first, then the rest into the lowest free registers.
        std::vector<int> assigned(block.member_types.size(), -1);
        for (uint32_t i = 0; i < block.member_types.size(); ++i) {
            members.push_back(DescribeMember(compiler, block, i));
            auto found = explicitRegisters.find(members.back().name);
            if (found == explicitRegisters.end()) continue;
            UINT first = found->second, count = members.back().desc.RegisterCount;
            if (first + count > registerCount)
                throw CompileError("error: constant '" + members.back().name + "' lies beyond the last register\n");
            for (UINT r = first; r < first + count; ++r) {
                if (used[r]) throw CompileError("error: constant '" + members.back().name + "' overlaps another\n");
                used[r] = true;
            }
            assigned[i] = static_cast<int>(first);
        }
        for (uint32_t i = 0; i < block.member_types.size(); ++i) {
            if (assigned[i] >= 0) continue;
            UINT count = members[i].desc.RegisterCount;
            UINT first = 0;
            while (first + count <= registerCount &&
                   std::any_of(used.begin() + first, used.begin() + first + count, [](bool u) { return u; }))
                ++first;
            if (first + count > registerCount)
                throw CompileError("error: too many constants for the " + std::to_string(registerCount) +
                                   " registers of the stage\n");
            std::fill(used.begin() + first, used.begin() + first + count, true);
            assigned[i] = static_cast<int>(first);
        }
        for (uint32_t i = 0; i < block.member_types.size(); ++i) {
            MemberLayout& member = members[i];
            member.desc.RegisterIndex = static_cast<UINT>(assigned[i]);
            compiler.set_member_decoration(block.self, i, spv::DecorationOffset, member.desc.RegisterIndex * 16);
            const spirv_cross::SPIRType& type = compiler.get_type(block.member_types[i]);
            if (!type.array.empty())
                compiler.set_decoration(block.member_types[i], spv::DecorationArrayStride,
                                        member.registersPerElement * 16);
            ConstantRecord record;
            record.name = member.name;
            record.desc = member.desc;
            record.registersPerElement = member.registersPerElement;
            records.push_back(std::move(record));
        }
        // The block is read as an array of registers, so offsets may come in any order.
        compiler.flatten_buffer_block(buffer.id);
    }
    for (const spirv_cross::Resource& sampler : resources.sampled_images) {
        ConstantRecord record;
        record.name = compiler.get_name(sampler.id);
        D3DXCONSTANT_DESC& d = record.desc;
        d.RegisterSet = D3DXRS_SAMPLER;
        d.RegisterIndex = compiler.get_decoration(sampler.id, spv::DecorationBinding);
        d.RegisterCount = 1;
        d.Class = D3DXPC_OBJECT;
        const spirv_cross::SPIRType& type = compiler.get_type(sampler.type_id);
        d.Type = type.image.dim == spv::DimCube ? D3DXPT_SAMPLERCUBE
                 : type.image.dim == spv::Dim3D ? D3DXPT_SAMPLER3D
                 : type.image.dim == spv::Dim1D ? D3DXPT_SAMPLER1D
                                                : D3DXPT_SAMPLER2D;
        d.Rows = d.Columns = d.Elements = 1;
        d.Bytes = 4;
        if (d.RegisterIndex >= kSamplerStages)
            throw CompileError("error: sampler '" + record.name + "' uses a register beyond s15\n");
        records.push_back(std::move(record));
    }
    return records;
}

// Replaces the flattened "uniform vec4 NAME[N];" with a block bound to the register file.
std::string BindRegisterFile(std::string glsl, bool vertex, UINT registers) {
    static const std::regex declaration(R"(\nuniform vec4 (\w+)\[\d+\];)");
    std::smatch match;
    if (!std::regex_search(glsl, match, declaration)) return glsl;
    std::string replacement = "\nlayout(std140, binding = " +
                              std::to_string(vertex ? kVertexConstantBinding : kPixelConstantBinding) + ") uniform " +
                              (vertex ? "VertexRegisters" : "PixelRegisters") + " {\n    vec4 " + match[1].str() +
                              "[" + std::to_string(registers) + "];\n};";
    return glsl.replace(static_cast<size_t>(match.position(0)), static_cast<size_t>(match.length(0)), replacement);
}

// Macro definitions come in as a preamble, so the source's own line numbers stay right in
// the compiler's messages.
std::vector<uint32_t> ParseHlsl(const std::string& source, const char* entry, bool vertex, const std::string& preamble) {
    EnsureGlslangInitialised();
    EShLanguage stage = vertex ? EShLangVertex : EShLangFragment;
    glslang::TShader shader(stage);
    const char* text = source.c_str();
    int length = static_cast<int>(source.size());
    const char* names[] = {"memory"};
    shader.setStringsWithLengthsAndNames(&text, &length, names, 1);
    shader.setPreamble(preamble.c_str());
    shader.setEntryPoint(entry);
    shader.setSourceEntryPoint(entry);
    shader.setEnvInput(glslang::EShSourceHlsl, stage, glslang::EShClientVulkan, 100);
    shader.setEnvClient(glslang::EShClientVulkan, glslang::EShTargetVulkan_1_0);
    shader.setEnvTarget(glslang::EShTargetSpv, glslang::EShTargetSpv_1_0);
    shader.setHlslIoMapping(true);
    shader.setAutoMapBindings(true);
    shader.setAutoMapLocations(true);
    shader.setEnvTargetHlslFunctionality1();
    auto messages = static_cast<EShMessages>(EShMsgSpvRules | EShMsgVulkanRules | EShMsgReadHlsl |
                                             EShMsgHlslDX9Compatible);
    if (!shader.parse(GetDefaultResources(), 100, false, messages))
        throw CompileError(std::string(shader.getInfoLog()) + shader.getInfoDebugLog());
    glslang::TProgram program;
    program.addShader(&shader);
    if (!program.link(messages) || !program.mapIO())
        throw CompileError(std::string(program.getInfoLog()) + program.getInfoDebugLog());
    std::vector<uint32_t> spirv;
    glslang::SpvOptions options;
    options.disableOptimizer = true;
    glslang::GlslangToSpv(*program.getIntermediate(stage), spirv, &options);
    return spirv;
}

// Whole-message socket I/O. MSG_NOSIGNAL keeps a dead peer from raising SIGPIPE here.
bool SendAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t sent = send(fd, p, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        p += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

bool ReceiveAll(int fd, void* data, size_t size) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
        ssize_t got = recv(fd, p, size, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

bool SendString(int fd, const std::string& text) {
    uint32_t length = static_cast<uint32_t>(text.size());
    return SendAll(fd, &length, sizeof(length)) && SendAll(fd, text.data(), text.size());
}

bool ReceiveString(int fd, std::string* text) {
    uint32_t length = 0;
    if (!ReceiveAll(fd, &length, sizeof(length)) || length > kMaxShaderBlobBytes * 4u) return false;
    text->resize(length);
    return ReceiveAll(fd, text->data(), length);
}

// The HLSL front end runs in a helper process: glslang 12 crashes on some malformed
// sources (a global declared twice, found by fuzzing), and a shader file must not be able
// to take the engine down with it. The helper is forked once (after glslang's tables are
// built, so it inherits them), answers one request at a time over a socket, and is
// started again after it dies; a request it dies on is reported as a compile error.
class FrontEndProcess {
public:
    std::vector<uint32_t> Compile(const std::string& source, const std::string& entry, bool vertex,
                                  const std::string& defines) {
        // A forked copy of this process (a test's death test, say) gets its own helper.
        if (pid_ > 0 && owner_ != getpid()) Forget();
        if (pid_ <= 0 && !Start()) return ParseHlslText(source, entry, vertex, defines);
        char stage = vertex ? 1 : 0;
        std::string status, payload;
        bool answered = SendAll(socket_, &stage, 1) && SendString(socket_, entry) && SendString(socket_, defines) &&
                        SendString(socket_, source) && ReceiveString(socket_, &status) &&
                        ReceiveString(socket_, &payload) && status.size() == 1;
        if (!answered) {
            std::string how = Stop();
            throw CompileError("error: the HLSL compiler failed on this source (" + how + ")\n");
        }
        if (status[0] != 0) throw CompileError(payload);
        if (payload.size() % sizeof(uint32_t) != 0) throw CompileError("error: the HLSL compiler's output was cut\n");
        std::vector<uint32_t> words(payload.size() / sizeof(uint32_t));
        std::memcpy(words.data(), payload.data(), payload.size());
        return words;
    }

private:
    static std::vector<uint32_t> ParseHlslText(const std::string& source, const std::string& entry, bool vertex,
                                               const std::string& defines) {
        return ParseHlsl(source, entry.c_str(), vertex, defines);
    }

    bool Start() {
        int pair[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return false;
        pid_t child = fork();
        if (child < 0) {
            close(pair[0]);
            close(pair[1]);
            return false;
        }
        if (child == 0) {
            close(pair[0]);
            Serve(pair[1]);
        }
        close(pair[1]);
        pid_ = child;
        owner_ = getpid();
        socket_ = pair[0];
        return true;
    }

    [[noreturn]] static void Serve(int fd) {
        for (;;) {
            char stage = 0;
            std::string entry, defines, source;
            if (!ReceiveAll(fd, &stage, 1) || !ReceiveString(fd, &entry) || !ReceiveString(fd, &defines) ||
                !ReceiveString(fd, &source))
                _exit(0);  // the engine has gone
            char status = 0;
            std::string payload;
            try {
                std::vector<uint32_t> words = ParseHlslText(source, entry, stage != 0, defines);
                payload.assign(reinterpret_cast<const char*>(words.data()), words.size() * sizeof(uint32_t));
            } catch (const CompileError& error) {
                status = 1;
                payload = error.text;
            }
            if (!SendString(fd, std::string(1, status)) || !SendString(fd, payload)) _exit(0);
        }
    }

    // Ends the helper and says how it ended.
    std::string Stop() {
        close(socket_);
        int status = 0;
        std::string how = "it stopped";
        if (waitpid(pid_, &status, 0) == pid_ && WIFSIGNALED(status))
            how = "signal " + std::to_string(WTERMSIG(status));
        pid_ = -1;
        socket_ = -1;
        return how;
    }

    void Forget() {
        close(socket_);
        pid_ = -1;
        socket_ = -1;
    }

    pid_t pid_ = -1;
    pid_t owner_ = -1;
    int socket_ = -1;
};

std::vector<uint32_t> CompileToSpirv(const std::string& source, const char* entry, bool vertex,
                                     const D3DXMACRO* defines) {
    WarmUpGlslang();
    static FrontEndProcess* frontEnd = new FrontEndProcess();
    std::string preamble;
    for (const D3DXMACRO* macro = defines; macro && macro->Name; ++macro)
        preamble += std::string("#define ") + macro->Name + " " + (macro->Definition ? macro->Definition : "") + "\n";
    return frontEnd->Compile(source, entry, vertex, preamble);
}

void SetErrors(ID3DXBuffer** errors, const std::string& text) {
    if (!errors) return;
    auto* buffer = new ByteBuffer(text.size() + 1);
    std::memcpy(buffer->GetBufferPointer(), text.c_str(), text.size() + 1);
    *errors = buffer;
}

}  // namespace
}  // namespace lumaret::platform

using namespace lumaret::platform;

HRESULT WINAPI D3DXCompileShader(LPCSTR srcData, UINT srcDataLen, const D3DXMACRO* defines, ID3DXInclude*,
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
        std::vector<uint32_t> spirv = CompileToSpirv(source, entry, match->vertex, defines);
        spirv_cross::CompilerGLSL compiler(std::move(spirv));
        spirv_cross::CompilerGLSL::Options options;
        options.version = 450;
        options.es = false;
        options.separate_shader_objects = true;
        options.vulkan_semantics = false;
        compiler.set_common_options(options);
        AssignInterfaceLocations(compiler, match->vertex);
        std::deque<ConstantRecord> constants = AssignRegisters(compiler, source, match->vertex);
        std::string glsl = compiler.compile();
        // The program reads registers up to the last one its constants occupy.
        UINT registers = 0;
        for (const ConstantRecord& c : constants)
            if (c.desc.RegisterSet == D3DXRS_FLOAT4)
                registers = std::max(registers, c.desc.RegisterIndex + c.desc.RegisterCount);
        glsl = BindRegisterFile(std::move(glsl), match->vertex, std::max(registers, 1u));
        if (!match->vertex) glsl = ResolveVpos(std::move(glsl));

        std::string name = SourceNameOf(source);
        size_t total = sizeof(ShaderBlobHeader) + glsl.size() + 1 + name.size() + 1;
        // Blob sizes stay whole DWORDs, as Direct3D 9 programs are.
        auto* blob = new ByteBuffer((total + 3) & ~size_t{3});
        ShaderBlobHeader header{kShaderBlobMagic,
                                static_cast<uint32_t>(match->vertex ? ShaderStage::Vertex : ShaderStage::Pixel),
                                static_cast<uint32_t>(total), static_cast<uint32_t>(glsl.size()), registers,
                                static_cast<uint32_t>(name.size())};
        auto* bytes = static_cast<char*>(blob->GetBufferPointer());
        std::memcpy(bytes, &header, sizeof(header));
        std::memcpy(bytes + sizeof(header), glsl.c_str(), glsl.size() + 1);
        std::memcpy(bytes + sizeof(header) + glsl.size() + 1, name.c_str(), name.size() + 1);
        if (shader) *shader = blob; else blob->Release();
        if (constantTable) *constantTable = new ConstantTable(match->vertex, std::move(constants));
        return D3D_OK;
    } catch (const CompileError& error) {
        SetErrors(errorMsgs, error.text);
    } catch (const std::exception& error) {
        SetErrors(errorMsgs, std::string("error: ") + error.what() + "\n");
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
