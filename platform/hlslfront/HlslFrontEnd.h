// HLSL to SPIR-V through the hlslfront helper program.
//
// The helper is started on the first compile (posix_spawn, so no copy of the engine ever
// runs a second time), answers one request at a time, and is started again after it
// stops. It is looked for beside the running program (the build tree), then where
// `cmake --install` puts it (../lib/lumaret/ from the program), then where
// LUMARET_HLSLFRONT points.
//
// Nothing the helper does can hang or fail the program: its whole reply is read within
// the answer limit (LUMARET_HLSLFRONT_ANSWER_SECONDS, 60 s by default; CPU time is bounded
// on its side, 10 s a request), and a reply that is late, cut short, malformed or too
// large ends the helper (killed and reaped) and becomes that shader's compile error, as
// does a crash or a limit reached. A helper found gone before a request (killed while
// idle) is replaced once and the request sent again. Any thread may compile; requests
// take turns with the one helper, and a request that waited while the helper gave no
// answer to another fails at once instead of trying again, so a program with a stuck
// helper ends within one answer limit.
#pragma once

#include "hlslfront/GlobalDeclarations.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lumaret::platform {

struct FrontEndOutput {
    std::vector<uint32_t> spirv;
    GlobalScan globals;  // what the preprocessed program's globals say, pins of every profile
};

// The SPIR-V of one HLSL program; throws ShaderCompileError.
FrontEndOutput CompileHlslToSpirv(const std::string& source, const std::string& entry, bool vertex,
                                  const std::string& macroPreamble);

// Every place the helper is looked for, in order.
std::vector<std::string> HlslFrontEndCandidates();
// The first candidate that is an executable file, or nothing.
std::string HlslFrontEndPath();

// Tests stand other programs in for the helper: the next helper started is this one
// (empty: back to the candidates), and the one running now ends.
void UseHlslFrontEnd(const std::string& path);

}  // namespace lumaret::platform
