// The shader compiler's helper under the engine's start-up worker: several threads
// compiling at once, and a helper started by a thread that then ends.
#include "support/Processes.h"

#include <d3dx9.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

// Compiles a pixel program reading constant valueN; true when it compiled and its constant
// table knows that constant (so the answer was this request's). The source is new to the
// translation cache, so the helper really does the work.
bool CompilesItsOwnProgram(int n) {
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
    if (!ok && errors) std::fprintf(stderr, "%s\n", static_cast<const char*>(errors->GetBufferPointer()));
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
