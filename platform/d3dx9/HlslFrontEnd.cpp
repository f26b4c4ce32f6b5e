#include "d3dx9/HlslFrontEnd.h"

#include "d3dx9/HlslFrontEndProtocol.h"
#include "d3dx9/ShaderCompileError.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <mutex>

extern char** environ;

namespace lumaret::platform {
namespace {

using namespace hlslfront;

constexpr const char* kHelperName = "hlslfront";
constexpr uint32_t kSpirvMagic = 0x07230203;
// A helper that neither answers nor uses CPU (stopped, say) is given up on after this long.
constexpr int kAnswerTimeoutMs = 60 * 1000;

class FrontEndProcess {
public:
    std::vector<uint32_t> Compile(const std::string& source, const std::string& entry, bool vertex,
                                  const std::string& preamble) {
        // A forked copy of this process (a test's death test, say) starts a helper of its own.
        if (pid_ > 0 && owner_ != getpid()) Forget();
        if (pid_ <= 0) Start();
        char stage = vertex ? 1 : 0;
        std::string status, payload;
        bool sent = SendAll(socket_, &stage, 1) && SendString(socket_, entry) && SendString(socket_, preamble) &&
                    SendString(socket_, source);
        bool answered = sent && WaitForAnswer() && ReceiveString(socket_, &status) && ReceiveString(socket_, &payload);
        if (!answered) throw ShaderCompileError("error: the HLSL compiler " + Stop() + "\n");
        if (status.size() != 1 ||
            (status[0] != kCompiled && status[0] != kCompileError && status[0] != kCompileErrorThenEnd))
            throw ShaderCompileError("error: the HLSL compiler " + Stop("answered with garbage") + "\n");
        if (status[0] == kCompileErrorThenEnd) {
            Stop();  // it is on its way out; the next compile starts another
            throw ShaderCompileError(payload);
        }
        if (status[0] == kCompileError) throw ShaderCompileError(payload);
        std::vector<uint32_t> words(payload.size() / sizeof(uint32_t));
        if (words.empty() || payload.size() % sizeof(uint32_t) != 0)
            throw ShaderCompileError("error: the HLSL compiler " + Stop("answered with garbage") + "\n");
        std::memcpy(words.data(), payload.data(), payload.size());
        if (words[0] != kSpirvMagic)
            throw ShaderCompileError("error: the HLSL compiler " + Stop("answered with garbage") + "\n");
        return words;
    }

private:
    void Start() {
        std::string path = HlslFrontEndPath();
        if (access(path.c_str(), X_OK) != 0)
            throw ShaderCompileError("error: the HLSL compiler's helper program " + path + " is missing (" +
                                     std::strerror(errno) + "); it is built beside the program\n");
        int pair[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
            throw ShaderCompileError(std::string("error: the HLSL compiler could not start: ") + std::strerror(errno) +
                                     "\n");
        // dup2 onto the same number would keep close-on-exec set.
        if (pair[1] == kSocketFd) {
            int moved = fcntl(pair[1], F_DUPFD_CLOEXEC, kSocketFd + 1);
            close(pair[1]);
            pair[1] = moved;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pair[1], kSocketFd);
        // The helper starts with no blocked signals and their default actions, whatever the
        // program that starts it has set.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &all);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        std::string fd = std::to_string(kSocketFd), parent = std::to_string(getpid());
        char* argv[] = {path.data(), fd.data(), parent.data(), nullptr};
        pid_t child = -1;
        int failed = posix_spawn(&child, path.c_str(), &actions, &attributes, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        close(pair[1]);
        if (failed != 0) {
            close(pair[0]);
            throw ShaderCompileError("error: the HLSL compiler's helper program " + path + " could not be started (" +
                                     std::strerror(failed) + ")\n");
        }
        pid_ = child;
        owner_ = getpid();
        socket_ = pair[0];
    }

    bool WaitForAnswer() {
        pollfd ready{socket_, POLLIN, 0};
        for (;;) {
            int result = poll(&ready, 1, kAnswerTimeoutMs);
            if (result < 0 && errno == EINTR) continue;
            if (result == 0) timedOut_ = true;
            return result > 0;
        }
    }

    // Ends the helper (killing it when it is still there) and says what became of it.
    std::string Stop(const char* why = nullptr) {
        if (why || timedOut_) kill(pid_, SIGKILL);
        close(socket_);
        int status = 0;
        bool reaped = waitpid(pid_, &status, 0) == pid_;
        std::string how = "stopped on this source";
        if (timedOut_)
            how = "gave no answer within " + std::to_string(kAnswerTimeoutMs / 1000) + " s";
        else if (why)
            how = why;
        else if (reaped && WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU)
            how = "used up its " + std::to_string(kCpuSecondsPerRequest) + " s of CPU time on this source";
        else if (reaped && WIFSIGNALED(status))
            how = "crashed on this source (signal " + std::to_string(WTERMSIG(status)) + ")";
        else if (reaped && WIFEXITED(status) && WEXITSTATUS(status) != 0)
            how = "stopped on this source (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
        pid_ = -1;
        socket_ = -1;
        timedOut_ = false;
        return how;
    }

    void Forget() {
        close(socket_);
        pid_ = -1;
        socket_ = -1;
    }

    pid_t pid_ = -1;
    pid_t owner_ = -1;
    int socket_ = -1;
    bool timedOut_ = false;
};

}  // namespace

std::string HlslFrontEndPath() {
    char self[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
    std::string directory = length > 0 ? std::string(self, static_cast<size_t>(length)) : std::string(".");
    size_t slash = directory.rfind('/');
    directory = slash == std::string::npos ? std::string(".") : directory.substr(0, slash);
    return directory + "/" + kHelperName;
}

std::vector<uint32_t> CompileHlslToSpirv(const std::string& source, const std::string& entry, bool vertex,
                                         const std::string& macroPreamble) {
    // Never freed: the helper lives as long as the program, and its socket closes with it.
    static FrontEndProcess* frontEnd = new FrontEndProcess();
    static std::mutex* turns = new std::mutex();
    std::lock_guard<std::mutex> lock(*turns);
    return frontEnd->Compile(source, entry, vertex, macroPreamble);
}

}  // namespace lumaret::platform
