// HLSL to SPIR-V through the hlslfront helper program, found beside the running program.
//
// The helper is started on the first compile (posix_spawn, so no copy of the engine ever
// runs a second time), answers one request at a time, and is started again after it
// stops. Everything that can go wrong on its side (a crash, a limit reached, a reply cut
// short or malformed, a helper that is missing) comes back as a ShaderCompileError.
// Any thread may compile; requests from several threads take turns with the one helper,
// which ends with the program, not with the thread that happened to start it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumaret::platform {

// The SPIR-V of one HLSL program; throws ShaderCompileError.
std::vector<uint32_t> CompileHlslToSpirv(const std::string& source, const std::string& entry, bool vertex,
                                         const std::string& macroPreamble);

// Where the helper is looked for: the directory of the running program.
std::string HlslFrontEndPath();

}  // namespace lumaret::platform
