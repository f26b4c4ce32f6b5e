// Shader files: splitting into sections never reads outside the file, and the sections it
// returns lie inside it.
#include "resources/ShaderFile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ShaderFileSections sections = SplitShaderFile(reinterpret_cast<const char*>(data), size);
    if (sections.vertex.size() + sections.pixel.size() > size) std::abort();
    if (!sections.hasVertex && !sections.vertex.empty()) std::abort();
    return 0;
}
