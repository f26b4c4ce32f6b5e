// The shader registry: compiling pairs, shader files with their two sections, look-ups,
// and the built-in billboard resources.
#include "app/Log.h"
#include "render/DebugName.h"
#include "render/Renderer.h"
#include "resources/FileUtil.h"
#include "resources/ShaderFile.h"
#include "resources/ShaderInclude.h"
#include "resources/StartupPrefetch.h"

#include <cctype>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

const char* const kBillboardVertexShader =
    "float4x4 matrixWorldView;\nfloat4x4 matrixProjection;\nfloat4 paramsAUX;\nstruct vsOut { float4 p : POSITION; "
    "float2 uv0 : TEXCOORD0; float4 col : COLOR0; };\nvsOut main(float3 p : POSITION, float2 uv0 : TEXCOORD0, float4 "
    "c : COLOR0) {\n\tvsOut o;\n\tfloat2 dir = uv0 * 2.0 - 1.0;\n\tfloat4 viewPos = mul(matrixWorldView, "
    "float4(0,0,0,1));\n\tviewPos.xy += (dir * paramsAUX.xy);\n\to.p = mul(matrixProjection, viewPos);\n\to.uv0 = "
    "uv0;\n\to.col = c;\nreturn o; };\n";
const char* const kBillboardPixelShader =
    "sampler s0 : register(s0);\n\nfloat4 materialDiffuse;\nfloat4 main(float4 p : POSITION, float2 uv0 : TEXCOORD0, "
    "float4 col : COLOR0) : COLOR {\n\treturn materialDiffuse * tex2D(s0, uv0);\n};\n";

namespace {

const char* DeviceErrorName(HRESULT result) {
    switch (result) {
        case D3DERR_INVALIDCALL: return "the device refused the program (D3DERR_INVALIDCALL)";
        case D3DERR_OUTOFVIDEOMEMORY: return "out of video memory (D3DERR_OUTOFVIDEOMEMORY)";
        case E_OUTOFMEMORY: return "out of memory (E_OUTOFMEMORY)";
        case D3DERR_DEVICELOST: return "the device is lost (D3DERR_DEVICELOST)";
        default: return SUCCEEDED(result) ? "the device returned no shader" : "the device failed";
    }
}

// Compiles one program, or takes it compiled ahead; false with the compiler's text on a
// compile error.
template <class ShaderInterface>
bool CompileProgram(IDirect3DDevice9* device, StartupPrefetch* ahead, const char* source, const char* name,
                    int firstLine, bool vertex, ShaderInterface** shader, ID3DXConstantTable** constants,
                    std::string* error) {
    LPCSTR profile = vertex ? D3DXGetVertexShaderProfile(device) : D3DXGetPixelShaderProfile(device);
    std::string text = NamedShaderSource(source, name, firstLine);
    CompiledProgram compiled;
    if (!ahead || !profile || !ahead->TakeProgram(text, profile, &compiled))
        compiled = CompileShaderText(text, profile, ShaderFolderInclude::FolderOf(name ? name : ""));
    // The references are this function's now.
    ID3DXBuffer* code = std::exchange(compiled.code, nullptr);
    ID3DXBuffer* errors = std::exchange(compiled.errors, nullptr);
    *constants = std::exchange(compiled.constants, nullptr);
    if (compiled.result != 0) {
        *error = errors && errors->GetBufferSize() > 0
                     ? static_cast<const char*>(errors->GetBufferPointer())
                     : "Renderer::CreateShader: the shader compiler failed without a message.\n";
        if (errors) errors->Release();
        return false;
    }
    const DWORD* function = static_cast<const DWORD*>(code->GetBufferPointer());
    HRESULT created;
    if constexpr (std::is_same_v<ShaderInterface, IDirect3DVertexShader9>)
        created = device->CreateVertexShader(function, shader);
    else
        created = device->CreatePixelShader(function, shader);
    code->Release();
    if (errors) errors->Release();
    if (SUCCEEDED(created) && *shader) return true;
    // The program compiled, but the device would not take it.
    *error = std::string("Renderer::CreateShader: ") + (vertex ? "CreateVertexShader" : "CreatePixelShader") +
             " failed for " + (name ? name : "a shader") + ": " + DeviceErrorName(created) + ".\n";
    if (*constants) (*constants)->Release();
    *constants = nullptr;
    return false;
}

// A shader file whose text (up to a NUL, where the compiler stops) is blank.
bool HoldsNoProgram(const std::vector<uint8_t>& file) {
    for (uint8_t byte : file) {
        if (byte == 0) break;
        if (!std::isspace(byte)) return false;
    }
    return true;
}

void ReleaseRecord(ShaderRecord& record) {
    if (record.vertexShader) record.vertexShader->Release();
    if (record.pixelShader) record.pixelShader->Release();
    if (record.vertexConstants) record.vertexConstants->Release();
    if (record.pixelConstants) record.pixelConstants->Release();
    record.vertexShader = nullptr;
    record.pixelShader = nullptr;
    record.vertexConstants = nullptr;
    record.pixelConstants = nullptr;
}

}  // namespace

int Renderer::CreateShader(const char* vertexSource, const char* pixelSource, const char* name) {
    if (!vertexSource && !pixelSource) return -1;
    ShaderRecord record;
    std::string error;
    if (!BuildShaderRecord(vertexSource, pixelSource, name, 1, 1, &record, &error)) {
        // Built into the program, not read from a file: said so, with its role.
        if (!error.empty())
            Log::Fatal("Renderer::CreateShader: the built-in %s shader could not be made:\n%s", name ? name : "unnamed",
                       error.c_str());
        return -1;
    }
    shaders.push_back(record);
    return static_cast<int>(shaders.size()) - 1;
}

int Renderer::CreateShaderFromFileText(const char* vertexSource, const char* pixelSource, const char* name,
                                       int vertexLine, int pixelLine) {
    if (!vertexSource && !pixelSource) return -1;
    ShaderRecord record;
    std::string error;
    if (!BuildShaderRecord(vertexSource, pixelSource, name, vertexLine, pixelLine, &record, &error)) {
        // A compile error ends the program with the compiler's text.
        if (!error.empty()) Log::Fatal("%s", error.c_str());
        return -1;
    }
    shaders.push_back(record);
    return static_cast<int>(shaders.size()) - 1;
}

bool Renderer::BuildShaderRecord(const char* vertexSource, const char* pixelSource, const char* name, int vertexLine,
                                 int pixelLine, ShaderRecord* out, std::string* error) {
    ShaderRecord record;
    if (vertexSource) {
        bool compiled = CompileProgram(device, startupPrefetch, vertexSource, name, vertexLine, true,
                                       &record.vertexShader, &record.vertexConstants, error);
        if (!compiled || !record.vertexShader) {
            ReleaseRecord(record);
            return false;
        }
    }
    if (pixelSource) {
        bool compiled = CompileProgram(device, startupPrefetch, pixelSource, name, pixelLine, false,
                                       &record.pixelShader, &record.pixelConstants, error);
        if (!compiled || !record.pixelShader) {
            ReleaseRecord(record);
            return false;
        }
    }
    bool vertexSide = record.vertexShader && record.vertexConstants;
    bool pixelSide = record.pixelShader && record.pixelConstants;
    for (int i = 0; i < kShaderParamCount; ++i) {
        record.vertexHandles[i] =
            vertexSide ? record.vertexConstants->GetConstantByName(nullptr, ShaderParamNames[i].name) : nullptr;
        record.pixelHandles[i] =
            pixelSide ? record.pixelConstants->GetConstantByName(nullptr, ShaderParamNames[i].name) : nullptr;
    }
    // The arrays are looked up on one side only: bone palettes for vertex programs, filter
    // taps for pixel programs.
    record.matrixArrayHandle = vertexSide ? record.vertexConstants->GetConstantByName(nullptr, "matrixArray") : nullptr;
    record.floatArrayHandle = pixelSide ? record.pixelConstants->GetConstantByName(nullptr, "floatArray") : nullptr;
    record.floatArray2Handle = pixelSide ? record.pixelConstants->GetConstantByName(nullptr, "floatArray2") : nullptr;
    *out = record;
    return true;
}

int Renderer::LoadShader(const std::string& path) {
    std::string why;
    std::optional<std::vector<uint8_t>> file = startupPrefetch ? startupPrefetch->TakeFile(path) : std::nullopt;
    if (!file) file = ReadWholeFile(path, &why);
    if (!file) Log::Fatal("Renderer::LoadShader: Couldn't read %s: it %s.\n", path.c_str(), why.c_str());
    if (HoldsNoProgram(*file)) Log::Fatal("Renderer::LoadShader: %s holds no shader program.\n", path.c_str());
    ShaderFileSections sections = SplitShaderFile(reinterpret_cast<const char*>(file->data()), file->size());
    // Messages name the file as it is on disk; the registry key is lower-cased.
    int index = CreateShaderFromFileText(sections.hasVertex ? sections.vertex.c_str() : nullptr, sections.pixel.c_str(),
                                         path.c_str(), sections.vertexLine, sections.pixelLine);
    std::string name = path;
    LowercaseInPlace(name);
    if (index >= 0) {
        shaders[static_cast<size_t>(index)].name = name;
        shaders[static_cast<size_t>(index)].path = path;
    }
    return index;
}

bool Renderer::ReloadShader(int index, std::string* error) {
    if (index < 0 || index >= static_cast<int>(shaders.size()) || shaders[static_cast<size_t>(index)].path.empty()) {
        *error = "Renderer::ReloadShader: no shader file to reload.\n";
        return false;
    }
    ShaderRecord& current = shaders[static_cast<size_t>(index)];
    std::string why;
    std::optional<std::vector<uint8_t>> file = ReadWholeFile(current.path, &why);
    if (!file) {
        *error = "Renderer::ReloadShader: Couldn't read " + current.path + ": it " + why + ".\n";
        return false;
    }
    if (HoldsNoProgram(*file)) {
        *error = "Renderer::ReloadShader: " + current.path + " holds no shader program.\n";
        return false;
    }
    ShaderFileSections sections = SplitShaderFile(reinterpret_cast<const char*>(file->data()), file->size());
    ShaderRecord fresh;
    if (!BuildShaderRecord(sections.hasVertex ? sections.vertex.c_str() : nullptr, sections.pixel.c_str(),
                           current.path.c_str(), sections.vertexLine, sections.pixelLine, &fresh, error))
        return false;
    // Nothing may stay bound to the programs about to go; the next SetShader binds the new ones.
    device->SetVertexShader(nullptr);
    device->SetPixelShader(nullptr);
    fresh.name = current.name;
    fresh.path = current.path;
    ReleaseRecord(current);
    current = fresh;
    return true;
}

int Renderer::FindShader(const std::string& name) const {
    std::string key = name;
    LowercaseInPlace(key);
    for (size_t i = 0; i < shaders.size(); ++i)
        if (shaders[i].name == key) return static_cast<int>(i);
    return -1;
}

void Renderer::ReleaseShader(int index) {
    if (index < 0 || index >= static_cast<int>(shaders.size())) return;
    ReleaseRecord(shaders[static_cast<size_t>(index)]);
}

void Renderer::CreateBillboardResources() {
    QuadVertex corners[6] = {{0, 0, 0, 0, 0, 0xFFFFFFFF}, {0, 0, 0, 0, 1, 0xFFFFFFFF}, {0, 0, 0, 1, 0, 0xFFFFFFFF},
                             {0, 0, 0, 1, 0, 0xFFFFFFFF}, {0, 0, 0, 0, 1, 0xFFFFFFFF}, {0, 0, 0, 1, 1, 0xFFFFFFFF}};
    billboard.vertexBuffer = CreateVertexBuffer(sizeof(corners), 0, false);
    SetDebugName(billboard.vertexBuffer, "billboard quad");
    std::memcpy(LockVertexBuffer(billboard.vertexBuffer, 0, sizeof(corners), 0), corners, sizeof(corners));
    UnlockVertexBuffer(billboard.vertexBuffer);
    billboard.shader = CreateShader(kBillboardVertexShader, kBillboardPixelShader, "billboard");
    billboard.params.stateFlags = kStateAdditiveNoDepth;
    BuildStateList(billboard.params);
    billboard.queries[0] = CreateOcclusionQuery();
    billboard.queries[1] = CreateOcclusionQuery();
}

void Renderer::ReleaseBillboardResources() {
    if (billboard.vertexBuffer) billboard.vertexBuffer->Release();
    billboard.vertexBuffer = nullptr;
    for (IDirect3DQuery9*& query : billboard.queries) {
        if (query) query->Release();
        query = nullptr;
    }
}
