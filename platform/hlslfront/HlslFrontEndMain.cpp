// hlslfront: glslang's HLSL front end in a program of its own, started by D3DXCompileShader.
//
// glslang 12 crashes on some malformed sources and has no bound on the memory or time a
// source may cost (nested macros that double take gigabytes), so the engine never runs it
// in its own process. This helper turns HLSL into SPIR-V, one request at a time over the
// socket it inherits (see HlslFrontEndProtocol.h), inside limits of its own: address
// space, CPU time per request, no core files; and it ends with the process that started
// it, whichever of that process's threads started it. Whatever goes wrong in here reaches the engine as that shader's
// compile error.
#include "hlslfront/AddressSanitizer.h"
#include "hlslfront/GlobalDeclarations.h"
#include "hlslfront/HlslFrontEndProtocol.h"

#include <glslang/Public/ResourceLimits.h>
#include <glslang/Public/ShaderLang.h>
#include <glslang/SPIRV/GlslangToSpv.h>

#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>
#include <vector>

using namespace lumaret::platform::hlslfront;

namespace {

struct ParseResult {
    bool ok = false;
    std::vector<uint32_t> spirv;
    std::string message;
    lumaret::platform::GlobalScan globals;
};

constexpr auto kMessages =
    static_cast<EShMessages>(EShMsgSpvRules | EShMsgVulkanRules | EShMsgReadHlsl | EShMsgHlslDX9Compatible);

// The shader keeps pointers to these until it is done.
struct SourceText {
    explicit SourceText(const std::string& source) : text(source.c_str()), length(static_cast<int>(source.size())) {}
    const char* text;
    int length;
    const char* name = "memory";
};

void DescribeSource(glslang::TShader& shader, SourceText& source, const std::string& entry,
                    const std::string& preamble, EShLanguage stage) {
    shader.setStringsWithLengthsAndNames(&source.text, &source.length, &source.name, 1);
    shader.setPreamble(preamble.c_str());
    shader.setEntryPoint(entry.c_str());
    shader.setSourceEntryPoint(entry.c_str());
    shader.setEnvInput(glslang::EShSourceHlsl, stage, glslang::EShClientVulkan, 100);
    shader.setEnvClient(glslang::EShClientVulkan, glslang::EShTargetVulkan_1_0);
    shader.setEnvTarget(glslang::EShTargetSpv, glslang::EShTargetSpv_1_0);
}

// The program as the preprocessor leaves it (comments gone, branches chosen, macros
// expanded), scanned for what its globals say; glslang itself is not trusted with a
// global declared twice with different types (it crashes).
bool ScanPreprocessed(const std::string& source, const std::string& entry, const std::string& preamble,
                      EShLanguage stage, ParseResult* result) {
    glslang::TShader shader(stage);
    SourceText text(source);
    DescribeSource(shader, text, entry, preamble, stage);
    std::string preprocessed;
    glslang::TShader::ForbidIncluder includer;
    if (!shader.preprocess(GetDefaultResources(), 100, ENoProfile, false, false, kMessages, &preprocessed,
                           includer)) {
        result->message = std::string(shader.getInfoLog()) + shader.getInfoDebugLog();
        return false;
    }
    lumaret::platform::GlobalScan scan = lumaret::platform::ScanGlobalDeclarations(preprocessed);
    if (!scan.redefinition.empty()) {
        result->message = scan.redefinition;
        return false;
    }
    result->globals = std::move(scan);
    return true;
}

// Macro definitions come in as a preamble, so the source's own line numbers stay right in
// the compiler's messages.
ParseResult ParseHlsl(const std::string& source, const std::string& entry, bool vertex, const std::string& preamble) {
    ParseResult result;
    EShLanguage stage = vertex ? EShLangVertex : EShLangFragment;
    if (!ScanPreprocessed(source, entry, preamble, stage, &result)) return result;
    glslang::TShader shader(stage);
    SourceText text(source);
    DescribeSource(shader, text, entry, preamble, stage);
    shader.setHlslIoMapping(true);
    shader.setAutoMapBindings(true);
    shader.setAutoMapLocations(true);
    shader.setEnvTargetHlslFunctionality1();
    EShMessages messages = kMessages;
    if (!shader.parse(GetDefaultResources(), 100, false, messages)) {
        result.message = std::string(shader.getInfoLog()) + shader.getInfoDebugLog();
        return result;
    }
    glslang::TProgram program;
    program.addShader(&shader);
    if (!program.link(messages) || !program.mapIO()) {
        result.message = std::string(program.getInfoLog()) + program.getInfoDebugLog();
        return result;
    }
    glslang::SpvOptions options;
    options.disableOptimizer = true;
    glslang::GlslangToSpv(*program.getIntermediate(stage), result.spirv, &options);
    result.ok = true;
    return result;
}

void SetLimit(int resource, rlim_t soft) {
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0) return;
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY || soft < limit.rlim_max ? soft : limit.rlim_max;
    setrlimit(resource, &limit);
}

// The next request may use kCpuSecondsPerRequest more seconds than all before it; past
// that the kernel sends SIGXCPU, which ends the helper.
void AllowOneMoreRequest() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    rlim_t used = static_cast<rlim_t>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + 1;
    SetLimit(RLIMIT_CPU, used + kCpuSecondsPerRequest);
}

// The socket's other end closes when the program that started the helper ends, however it
// ends (its end is close-on-exec, so no program it starts holds it). A watch on that,
// beside the compiling thread, ends the helper in the middle of a compile too. A parent-
// death signal would not do: it follows the thread that started the helper, and programs
// compile from worker threads that end long before they do.
void EndWithTheProgram() {
    std::thread([] {
        pollfd socket{kSocketFd, POLLRDHUP, 0};
        for (;;) {
            if (poll(&socket, 1, -1) > 0 && (socket.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL))) _exit(0);
        }
    }).detach();
}

int Usage() {
    std::fputs(
        "hlslfront: the HLSL front end of the Lumaret engine's shader compiler.\n"
        "It is started by the engine and its tools, which find it beside their own program;\n"
        "it is not meant to be run by hand.\n",
        stderr);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || std::atoi(argv[1]) != kSocketFd) return Usage();
    pid_t parent = static_cast<pid_t>(std::atol(argv[2]));
    if (getppid() != parent) return 0;  // already gone
    EndWithTheProgram();
    SetLimit(RLIMIT_CORE, 0);
    // AddressSanitizer reserves terabytes of shadow address space, so sanitizer builds go
    // without this one limit.
    if (!kUnderAddressSanitizer) SetLimit(RLIMIT_AS, static_cast<rlim_t>(kAddressSpaceMegabytes) << 20);
    glslang::InitializeProcess();
    for (;;) {
        char stage = 0;
        std::string entry, defines, source;
        if (!ReceiveAll(kSocketFd, &stage, 1) || !ReceiveString(kSocketFd, &entry) ||
            !ReceiveString(kSocketFd, &defines) || !ReceiveString(kSocketFd, &source))
            return 0;  // the engine has gone
        AllowOneMoreRequest();
        Reply reply;
        bool carryOn = true;
        try {
            ParseResult result = ParseHlsl(source, entry, stage != 0, defines);
            if (result.ok) {
                reply.payload.assign(reinterpret_cast<const char*>(result.spirv.data()), result.spirv.size() * 4);
                reply.globals = lumaret::platform::EncodeGlobals(result.globals);
            } else {
                reply.status = kCompileError, reply.payload = result.message;
            }
        } catch (const std::bad_alloc&) {
            reply.status = kCompileError;
            reply.payload = "error: the HLSL compiler ran out of its " + std::to_string(kAddressSpaceMegabytes) +
                            " MB of memory on this source\n";
            carryOn = false;  // glslang's pools may be half-built: the next request gets a fresh helper
        } catch (const std::exception& error) {
            reply.status = kCompileError;
            reply.payload = std::string("error: the HLSL compiler failed on this source: ") + error.what() + "\n";
            carryOn = false;
        }
        // Said in the answer, so that the next request (from another thread, say) goes to a
        // fresh helper instead of to this one as it ends.
        if (!carryOn) reply.status = kCompileErrorThenEnd;
        if (!SendString(kSocketFd, EncodeReply(reply))) return 0;
        if (!carryOn) return 0;
    }
}
