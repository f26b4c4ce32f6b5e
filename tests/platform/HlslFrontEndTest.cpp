// The shader compiler's helper under the engine's start-up worker: several threads
// compiling at once, and a helper started by a thread that then ends.
#include "hlslfront/AddressSanitizer.h"
#include "hlslfront/HlslFrontEnd.h"
#include "support/Processes.h"
#include "support/TempDir.h"

#include <d3dx9.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

// Compiles a pixel program reading constant valueN; true when it compiled and its constant
// table knows that constant (so the answer was this request's). The source is new to the
// translation cache, so the helper really does the work.
bool CompilesItsOwnProgram(int n, std::string* message = nullptr) {
    static const std::string unique = "// " + std::to_string(getpid()) + " " +
                                      std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
                                      "\n";
    std::string name = "value" + std::to_string(n);
    std::string source = unique + "float4 " + name + ";\nfloat4 main() : COLOR { return " + name + "; }\n";
    ID3DXBuffer* code = nullptr;
    ID3DXBuffer* errors = nullptr;
    ID3DXConstantTable* constants = nullptr;
    HRESULT result = D3DXCompileShader(source.c_str(), static_cast<UINT>(source.size()), nullptr, nullptr, "main",
                                       "ps_3_0", 0, &code, &errors, &constants);
    bool ok = SUCCEEDED(result) && constants && constants->GetConstantByName(nullptr, name.c_str()) != nullptr;
    if (!ok && errors && message) *message = static_cast<const char*>(errors->GetBufferPointer());
    if (!ok && errors && !message) std::fprintf(stderr, "%s\n", static_cast<const char*>(errors->GetBufferPointer()));
    for (IUnknown* object :
         {static_cast<IUnknown*>(code), static_cast<IUnknown*>(errors), static_cast<IUnknown*>(constants)})
        if (object) object->Release();
    return ok;
}

}  // namespace

TEST(HlslFrontEndDeathTest, ServesThreadsAtOnceAndOutlivesTheThreadThatStartedIt) {
    EXPECT_EXIT(
        {
            // A process of its own, so the helper is started here, by a thread that then ends.
            bool first = false;
            std::thread([&] { first = CompilesItsOwnProgram(0); }).join();
            usleep(300 * 1000);
            pid_t helper = lumaret::test::ChildNamed(getpid(), "hlslfront");
            if (!first || helper < 0) {
                std::fprintf(stderr, "the helper ended with the thread that started it\n");
                _exit(2);
            }
            std::atomic<int> failures{0};
            std::vector<std::thread> threads;
            for (int t = 1; t <= 4; ++t)
                threads.emplace_back([&failures, t] {
                    for (int k = 0; k < 3; ++k)
                        if (!CompilesItsOwnProgram(10 * t + k)) ++failures;
                });
            for (std::thread& thread : threads) thread.join();
            if (failures > 0) {
                std::fprintf(stderr, "%d compiles from threads at once failed\n", failures.load());
                _exit(3);
            }
            if (lumaret::test::ChildNamed(getpid(), "hlslfront") != helper) {
                std::fprintf(stderr, "the helper was started again\n");
                _exit(4);
            }
            _exit(0);
        },
        testing::ExitedWithCode(0), "");
}

// A helper that reached its memory or CPU limit (a macro bomb reaches one or the other,
// depending on how far its expansion gets) answers with that error and ends; the compile
// after it, from whichever thread, gets a fresh helper rather than the one on its way out.
TEST(HlslFrontEndDeathTest, TheCompileAfterALimitReachedGetsAFreshHelper) {
    if (kUnderAddressSanitizer) GTEST_SKIP() << "no address-space limit under AddressSanitizer";
    EXPECT_EXIT(
        {
            std::string bomb = "#define X0 1.0\n";
            for (int k = 1; k <= 26; ++k)
                bomb += "#define X" + std::to_string(k) + " (X" + std::to_string(k - 1) + " + X" +
                        std::to_string(k - 1) + ")\n";
            bomb += "float4 main() : COLOR { return X26; }\n";
            ID3DXBuffer* code = nullptr;
            ID3DXBuffer* errors = nullptr;
            HRESULT result = D3DXCompileShader(bomb.c_str(), static_cast<UINT>(bomb.size()), nullptr, nullptr, "main",
                                               "ps_3_0", 0, &code, &errors, nullptr);
            std::string said = errors ? static_cast<const char*>(errors->GetBufferPointer()) : "";
            if (SUCCEEDED(result) ||
                (said.find("ran out of its") == std::string::npos && said.find("of CPU time") == std::string::npos)) {
                std::fprintf(stderr, "the bomb gave: %s\n", said.c_str());
                _exit(2);
            }
            std::string message;
            if (!CompilesItsOwnProgram(1, &message)) {
                std::fprintf(stderr, "the next compile failed: %s\n", message.c_str());
                _exit(3);
            }
            _exit(0);
        },
        testing::ExitedWithCode(0), "");
}

// Programs standing in for the helper, each doing what no helper of ours does: every one
// becomes the compile's error within the answer limit (1 s here), and the stand-in is
// ended and reaped. alarm() fails a case that hangs instead of stalling the suite.
TEST(HlslFrontEndDeathTest, AHelperThatMisbehavesIsEndedAndBecomesTheCompileError) {
    const struct {
        const char* name;
        const char* script;  // empty: a file that is not executable
        const char* says;
    } cases[] = {
        {"not executable", "", "could not be started"},
        {"exits at once", "exit 0", "stopped on this source"},
        {"crashes", "kill -SEGV $$", "crashed on this source (signal 11)"},
        {"silent", "exec sleep 100", "gave no answer within 1 s"},
        {"a reply cut short, then silent", "printf '\\100\\000\\000\\000\\001\\000' >&3; exec sleep 100",
         "gave no answer within 1 s"},
        {"random bytes", "head -c 4096 /dev/urandom >&3; exec sleep 100", "error: the HLSL compiler "},
        {"a reply larger than any", "printf '\\377\\377\\377\\377' >&3; exec sleep 100", "reply larger than"},
        {"a reply with a status of its own",
         "printf '\\015\\000\\000\\000\\001\\000\\000\\000\\011\\000\\000\\000\\000\\000\\000\\000\\000' >&3; "
         "exec sleep 100",
         "answered with garbage"},
    };
    lumaret::test::ScopedTempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir.path() + "/hlslfront";
        lumaret::test::WriteFileBytes(path, std::string("#!/bin/sh\n") + c.script + "\n");
        chmod(path.c_str(), *c.script ? 0755 : 0644);
        EXPECT_EXIT(
            {
                alarm(20);
                setenv("LUMARET_HLSLFRONT_ANSWER_SECONDS", "1", 1);
                setenv("LUMARET_SHADER_CACHE", "0", 1);
                lumaret::platform::UseHlslFrontEnd(path);
                std::string message;
                if (CompilesItsOwnProgram(1, &message)) _exit(2);
                if (message.find(c.says) == std::string::npos) {
                    std::fprintf(stderr, "said: %s\n", message.c_str());
                    _exit(3);
                }
                int status = 0;
                if (waitpid(-1, &status, WNOHANG) != -1 || errno != ECHILD) {
                    std::fprintf(stderr, "the stand-in was not reaped\n");
                    _exit(4);
                }
                _exit(0);
            },
            testing::ExitedWithCode(0), "");
    }
}

// A helper that stalls is named by the file whose compile got no answer, both in that
// compile's error and in the one queued behind it, which is not tried.
TEST(HlslFrontEndDeathTest, ATimeOutNamesTheFileThatGotNoAnswer) {
    lumaret::test::ScopedTempDir dir;
    std::string path = dir.path() + "/hlslfront";
    lumaret::test::WriteFileBytes(path, "#!/bin/sh\nexec sleep 100\n");
    chmod(path.c_str(), 0755);
    EXPECT_EXIT(
        {
            alarm(20);
            setenv("LUMARET_HLSLFRONT_ANSWER_SECONDS", "1", 1);
            setenv("LUMARET_SHADER_CACHE", "0", 1);
            lumaret::platform::UseHlslFrontEnd(path);
            auto compile = [](const char* file) {
                std::string source = "#line 1 \"" + std::string(file) + "\"\nfloat4 main() : COLOR { return 1; }\n";
                ID3DXBuffer* code = nullptr;
                ID3DXBuffer* errors = nullptr;
                D3DXCompileShader(source.c_str(), static_cast<UINT>(source.size()), nullptr, nullptr, "main",
                                  "ps_3_0", 0, &code, &errors, nullptr);
                std::string said = errors ? static_cast<const char*>(errors->GetBufferPointer()) : "";
                if (code) code->Release();
                if (errors) errors->Release();
                return said;
            };
            std::string first;
            std::thread stalled([&] { first = compile("data/Stalled.hlsl"); });
            usleep(300 * 1000);
            std::string second = compile("data/Queued.hlsl");
            stalled.join();
            if (first.find("no answer within 1 s to the compile of data/Stalled.hlsl") == std::string::npos ||
                second.find("to the compile of data/Stalled.hlsl before this one") == std::string::npos) {
                std::fprintf(stderr, "first said: %s\nsecond said: %s\n", first.c_str(), second.c_str());
                _exit(2);
            }
            _exit(0);
        },
        testing::ExitedWithCode(0), "");
}

// A helper killed while idle is replaced, and the compile that finds it gone succeeds.
TEST(HlslFrontEndDeathTest, AHelperGoneWhileIdleIsReplacedOnce) {
    EXPECT_EXIT(
        {
            alarm(60);
            setenv("LUMARET_SHADER_CACHE", "0", 1);
            if (!CompilesItsOwnProgram(1)) _exit(2);
            pid_t helper = lumaret::test::ChildNamed(getpid(), "hlslfront");
            if (helper < 0) _exit(3);
            kill(helper, SIGKILL);
            usleep(300 * 1000);  // gone before the next request, not during it
            std::string message;
            if (!CompilesItsOwnProgram(2, &message)) {
                std::fprintf(stderr, "after the helper went: %s\n", message.c_str());
                _exit(4);
            }
            _exit(0);
        },
        testing::ExitedWithCode(0), "");
}
