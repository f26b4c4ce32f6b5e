// The translation cache: what D3DXCompileShader made of an HLSL source (the program blob
// and its constant records) kept on disk, so a later run with the same source, profile,
// entry point and macros skips glslang and SPIRV-Cross.
//
// Entries live in $XDG_CACHE_HOME/lumaret (else ~/.cache/lumaret), one file per key, named
// after what it holds ("PassLight.hlsl.ps_3_0.<hash>.entry"). The folder is kept under
// kShaderCacheBytes: past it, the entries used least recently go (an entry's modification
// time is when it was last written or read). The
// key holds everything the result depends on, the identity of the translator included (the
// running program and the hlslfront beside it, by size and modification time), and is
// stored whole in its entry; an entry is used only when its key matches and its checksum
// holds, so a damaged, truncated or foreign file is translated again and rewritten.
// Entries are written under a temporary name and renamed, so readers never see half of
// one. A folder that cannot be written costs nothing but the cache; compile errors are
// never cached. LUMARET_SHADER_CACHE=0 turns the cache off.
#pragma once

#include "d3dx9/ConstantTable.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace lumaret::platform {

struct TranslatedProgram {
    std::vector<uint8_t> blob;  // what D3DXCompileShader hands out as the shader's code
    std::deque<ConstantRecord> constants;
};

// Everything the translation of this source depends on; empty when the cache is off.
std::string ShaderCacheKey(const std::string& profile, const std::string& entry, const std::string& macroPreamble,
                           const std::string& source);
std::optional<TranslatedProgram> LoadCachedProgram(const std::string& key);
void StoreCachedProgram(const std::string& key, const TranslatedProgram& program);
// An entry's bytes, when they hold the program of this key whole.
std::optional<TranslatedProgram> ParseCacheEntry(const std::vector<uint8_t>& bytes, const std::string& key);
// The entry's file for a key, for tests and tools.
std::string ShaderCacheEntryPath(const std::string& key);

constexpr uint64_t kShaderCacheBytes = 64u << 20;
// Removes the least recently used entries while the folder holds more than the limit (down
// to three quarters of it) and returns the bytes left. Stores do this with kShaderCacheBytes
// at a process's first store, and whenever their own count says the limit may be passed.
uint64_t PruneShaderCache(uint64_t limit);

}  // namespace lumaret::platform
