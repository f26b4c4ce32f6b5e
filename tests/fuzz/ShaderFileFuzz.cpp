// Shader files: splitting into sections never reads outside the file, and the sections it
// returns lie inside it; the names of its #include lines lie inside it too, and expanding
// them (through a handler that gives a line of text for one name and, for another, a file
// that includes itself) ends in text or a compile error, never a crash or a loop.
#include "d3dx9/ShaderIncludes.h"
#include "hlslfront/ShaderCompileError.h"
#include "resources/ShaderFile.h"
#include "resources/ShaderInclude.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct FixedInclude : ID3DXInclude {
    HRESULT WINAPI Open(D3DXINCLUDE_TYPE, LPCSTR name, LPCVOID, LPCVOID* data, UINT* bytes) override {
        static const char kLine[] = "float4 included;\n";
        static const char kLoop[] = "#include \"loop\"\n";
        const char* text = std::strcmp(name, "loop") == 0 ? kLoop : std::strlen(name) % 2 ? kLine : nullptr;
        if (!text) return E_FAIL;
        *data = text;
        *bytes = static_cast<UINT>(std::strlen(text));
        return S_OK;
    }
    HRESULT WINAPI Close(LPCVOID) override { return S_OK; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    ShaderFileSections sections = SplitShaderFile(text, size);
    if (sections.vertex.size() + sections.pixel.size() > size) std::abort();
    if (!sections.hasVertex && !sections.vertex.empty()) std::abort();
    size_t named = 0;
    for (const std::string& name : IncludedFileNames(text, size)) named += name.size();
    if (named > size) std::abort();
    FixedInclude include;
    try {
        (void)lumaret::platform::ExpandIncludes(std::string(text, size), &include);
    } catch (const lumaret::platform::ShaderCompileError&) {
    }
    return 0;
}
