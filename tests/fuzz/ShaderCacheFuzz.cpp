// A translation-cache entry of arbitrary bytes: refused unless whole, never read past its end.
#include "d3dx9/ShaderCache.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    // The key of the corpus's seed entry: the fuzzer can reach past the key check.
    std::optional<lumaret::platform::TranslatedProgram> program = lumaret::platform::ParseCacheEntry(bytes, "key");
    if (program && !program->constants.empty()) (void)program->constants.back().name.size();
    return 0;
}
