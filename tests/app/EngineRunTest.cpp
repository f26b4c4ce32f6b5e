// The engine program run as a user runs it, headless, when something around it is wrong:
// its data, its log, its shader compiler's helper. Each case sets up a scratch directory
// with a copy of ./data, runs the engine and looks at what a user sees: the exit status,
// stderr and log.txt.
#include "hlslfront/AddressSanitizer.h"
#include "support/Processes.h"
#include "support/TempDir.h"
#include "tools/ToolRun.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

namespace {

// Runs the shell script in the working directory, stderr with stdout; $ENGINE is the
// engine, $SAMPLES the program that writes sample SRX files.
lumaret::test::ToolRun Shell(const std::string& script) {
    std::string build = lumaret::test::BuildDir();
    return lumaret::test::RunCommand("ENGINE='" + build + "/engine' SAMPLES='" + build +
                                     "/tools/srxdump/srxsamples' LUMARET_HEADLESS_FRAMES=2 LUMARET_NO_MESSAGE_BOX=1 "
                                     "DISPLAY= WAYLAND_DISPLAY= sh -c '" +
                                     script + "' 2>&1");
}

size_t Count(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

class EngineRun : public testing::Test {
protected:
    void SetUp() override {
        std::filesystem::copy(lumaret::test::SourceDir() + "/data", "data", std::filesystem::copy_options::recursive);
    }
    lumaret::test::ScopedTempDir dir;
};

}  // namespace

TEST_F(EngineRun, TroubleWithItsFilesIsSaidOnceAndNamed) {
    struct Case {
        const char* name;
        const char* script;  // runs in the scratch directory, $ENGINE last
        int status;
        const char* says;      // once on stderr; once in the log too, unless logSays is given
        const char* logSays = nullptr;
        size_t lines = 1;  // on stderr, for runs that carry on
    };
    const Case cases[] = {
        {"model missing", "rm data/cylcube01.srx; $ENGINE", 0,
         "Demo: ./data/cylcube01.srx could not be loaded: it does not exist; the frames stay empty."},
        {"model a directory", "rm data/cylcube01.srx; mkdir data/cylcube01.srx; $ENGINE", 0,
         "Demo: ./data/cylcube01.srx could not be loaded: it is a directory, not a file;"},
        {"model empty", ": > data/cylcube01.srx; $ENGINE", 0,
         "Demo: ./data/cylcube01.srx holds no meshes the engine can draw; the frames stay empty."},
        {"model without meshes", "$SAMPLES s >/dev/null && cp s/empty.srx data/cylcube01.srx; $ENGINE", 0,
         "Demo: ./data/cylcube01.srx holds no meshes"},
        {"no data folder", "rm -r data; $ENGINE", 0, "There is no ./data folder in the working directory", nullptr, 2},
        {"mesh without primitive",
         "$SAMPLES s >/dev/null && cp s/missing-primitive.srx data/cylcube01.srx; $ENGINE", 255,
         "ImportSRX: Mesh has no primitive chunk. (./data/cylcube01.srx)", ""},
        {"file too large", "truncate -s 1100M data/huge.tga; $ENGINE", 255,
         "Renderer::LoadTexture: Couldn't read ./data/huge.tga: it is 1153433600 bytes, more than the 1024 MiB", ""},
        // Said once, though the start-up worker asks about the image before its loader does.
        {"image beyond the pixel limit",
         "{ printf \"\\211PNG\\r\\n\\032\\n\\000\\000\\000\\015IHDR\\000\\000\\023\\210\\000\\000\\023\\210\\010\\000"
         "\\000\\000\\000\\000\\000\\000\\000\\000\\000\\165\\060IDAT\"; head -c 30000 /dev/zero; "
         "printf \"\\000\\000\\000\\000\\000\\000\\000\\000IEND\\000\\000\\000\\000\"; } > data/wide.png; $ENGINE",
         255, "D3DX: a 5000 x 5000 image is beyond the limit", ""},
        {"names differing in case", "cp data/cylcube01_bricks.png data/CYLCUBE01_BRICKS.png; $ENGINE", 0, "",
         "differ only in case; ./data/", 0},
        {"log a directory", "mkdir log.txt; $ENGINE", 0,
         "lumaret: log.txt cannot be written in the working directory (Is a directory)", ""},
        {"log a device", "ln -s /dev/full log.txt; $ENGINE", 0,
         "lumaret: log.txt cannot be written in the working directory (not a regular file)", ""},
        {"log a FIFO", "mkfifo log.txt; timeout -s KILL 60 $ENGINE", 0,
         "lumaret: log.txt cannot be written in the working directory (not a regular file)", ""},
        {"log beyond the file size limit", "trap \"\" XFSZ; ulimit -f 0; $ENGINE", 0,
         "lumaret: log.txt cannot be written in the working directory (File too large)", ""},
        {"shader with a syntax error", "sed -i \"29s/\\$/ @@@/\" data/PassLight.hlsl; $ENGINE", 255,
         "./data/PassLight.hlsl:29: '@' : unexpected token", ""},
        {"empty shader", ": > data/PassLight.hlsl; $ENGINE", 255,
         "Renderer::LoadShader: ./data/PassLight.hlsl holds no shader program.", ""},
        {"shader of NULs", "head -c 300 /dev/zero > data/PassLight.hlsl; $ENGINE", 255,
         "Renderer::LoadShader: ./data/PassLight.hlsl holds no shader program.", ""},
        // Line breaks of a CR alone still count lines.
        {"shader with CR line breaks and an error",
         "sed -i \"29s/\\$/ @@@/\" data/PassLight.hlsl && tr \"\\n\" \"\\r\" < data/PassLight.hlsl > cr && "
         "mv cr data/PassLight.hlsl; $ENGINE",
         255, "./data/PassLight.hlsl:29: '@' : unexpected token", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all("s");
        std::filesystem::remove_all("data");
        std::filesystem::remove_all("log.txt");
        std::filesystem::copy(lumaret::test::SourceDir() + "/data", "data", std::filesystem::copy_options::recursive);
        lumaret::test::ToolRun run = Shell(c.script);
        EXPECT_EQ(run.status, c.status) << run.output;
        if (*c.says) {
            EXPECT_EQ(Count(run.output, c.says), 1u) << run.output;
        }
        if (c.status == 0) {
            EXPECT_EQ(Count(run.output, "\n"), c.lines) << run.output;
        }
        std::string log = std::filesystem::is_regular_file("log.txt") ? lumaret::test::ReadFileBytes("log.txt") : "";
        const char* logSays = c.logSays ? c.logSays : c.says;
        if (*logSays) {
            EXPECT_EQ(Count(log, logSays), 1u) << log;
        }
        EXPECT_LE(Count(log, "WM_DESTROY"), 1u) << "one engine, one window";
    }
}

TEST_F(EngineRun, OutOfMemoryWhileLoadingNamesTheFile) {
    if (kUnderAddressSanitizer) GTEST_SKIP() << "AddressSanitizer does not run under an address-space limit";
    // The limit leaves the engine itself room (llvmpipe and a cold shader translation take
    // over 700 MB of address space), not the file.
    lumaret::test::ToolRun run = Shell("truncate -s 1000M data/big.tga; ulimit -v 850000; $ENGINE");
    EXPECT_EQ(run.status, 255) << run.output;
    EXPECT_NE(run.output.find("./data/big.tga: it does not fit in memory"), std::string::npos) << run.output;
}

TEST_F(EngineRun, TheShaderCompilerCannotOutgrowOrOutliveTheEngine) {
    // A pass shader whose macros double 26 times: the compiler's helper runs out of its
    // memory (or, under AddressSanitizer, of its CPU time) and the engine stops with that
    // shader's compile error.
    std::string shader = lumaret::test::ReadFileBytes("data/PassLight.hlsl");
    std::string bomb = "#define X0 1.0\n";
    for (int k = 1; k <= 26; ++k)
        bomb += "#define X" + std::to_string(k) + " (X" + std::to_string(k - 1) + " + X" + std::to_string(k - 1) + ")\n";
    bomb += "static const float bomb = X26;\n";
    shader.insert(shader.find("#pixelshader") + 13, bomb);
    lumaret::test::WriteFileBytes("data/PassLight.hlsl", shader);
    {
        lumaret::test::ToolRun run = Shell("$ENGINE");
        EXPECT_EQ(run.status, 255) << run.output;
        EXPECT_NE(run.output.find("./data/PassLight.hlsl: error: the HLSL compiler "), std::string::npos) << run.output;
        EXPECT_EQ(Count(lumaret::test::ReadFileBytes("log.txt"), "WM_DESTROY"), 1u) << "no second engine";
    }
    // Ended from outside while its helper is busy, the engine takes the helper with it.
    {
        std::string engine = lumaret::test::BuildDir() + "/engine";
        pid_t pid = fork();
        if (pid == 0) {
            setenv("LUMARET_NO_MESSAGE_BOX", "1", 1);
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            execl(engine.c_str(), engine.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        pid_t helper = -1;
        for (int i = 0; i < 200 && helper < 0; ++i) {
            helper = lumaret::test::ChildNamed(pid, "hlslfront");
            usleep(20000);
        }
        EXPECT_GT(helper, 0) << "the engine started its compiler helper";
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        bool gone = false;
        for (int i = 0; i < 50 && !gone; ++i) {
            gone = !lumaret::test::Alive(helper);
            usleep(20000);
        }
        EXPECT_TRUE(helper > 0 && gone) << "helper " << helper << " outlived the engine";
        if (helper > 0 && !gone) kill(helper, SIGKILL);
    }
    // Without its helper beside it, the engine says every place it looked; LUMARET_HLSLFRONT
    // names one more, which a program built elsewhere can use.
    {
        std::filesystem::copy_file(lumaret::test::SourceDir() + "/data/PassLight.hlsl", "data/PassLight.hlsl",
                                   std::filesystem::copy_options::overwrite_existing);
        lumaret::test::ToolRun run = Shell("cp \"$ENGINE\" ./engine-alone && ./engine-alone");
        EXPECT_EQ(run.status, 255) << run.output;
        EXPECT_NE(run.output.find("hlslfront was not found (looked at " + std::filesystem::current_path().string() +
                                  "/hlslfront"),
                  std::string::npos)
            << run.output;
        run = Shell("LUMARET_HLSLFRONT=" + lumaret::test::BuildDir() + "/hlslfront ./engine-alone");
        EXPECT_EQ(run.status, 0) << run.output;
    }
}

// Whatever a helper does, the engine ends within the answer limit (2 s here) with that
// shader's compile error, the start-up worker's pending work dropped. `timeout` bounds each
// run, so a hang fails the test instead of stalling it.
TEST_F(EngineRun, AHelperThatDoesNotAnswerCannotHoldTheEngine) {
    const struct {
        const char* name;
        const char* helper;  // the stand-in's shell script
        const char* says;
    } cases[] = {
        {"silent", "exec sleep 100", "gave no answer within 2 s"},
        {"one byte, then silent", "printf x >&3; exec sleep 100", "gave no answer within 2 s"},
        {"garbage", "printf 'garbage, not a reply' >&3; exec sleep 100", "answered with a reply larger than"},
        {"exits at once", "exit 0", "error: the HLSL compiler stopped on this source"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        lumaret::test::WriteFileBytes("hlslfront", std::string("#!/bin/sh\n") + c.helper + "\n");
        auto started = std::chrono::steady_clock::now();
        lumaret::test::ToolRun run = Shell(
            "chmod +x hlslfront && cp \"$ENGINE\" ./engine-alone && LUMARET_SHADER_CACHE=0 "
            "LUMARET_HLSLFRONT_ANSWER_SECONDS=2 timeout -s KILL 40 ./engine-alone");
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        EXPECT_EQ(run.status, 255) << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
        EXPECT_LT(seconds, 15.0) << run.output;
        // The first program the device needs is built in, and the message says so, once.
        EXPECT_NE(run.output.find("Renderer::CreateShader: the built-in billboard shader could not be made:\n"),
                  std::string::npos)
            << run.output;
        EXPECT_EQ(Count(run.output, "error:"), 1u) << run.output;
    }
}
