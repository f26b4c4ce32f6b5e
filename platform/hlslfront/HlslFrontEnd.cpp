#include "hlslfront/HlslFrontEnd.h"

#include "hlslfront/HlslFrontEndProtocol.h"
#include "hlslfront/ShaderCompileError.h"
#include "win32/Settings.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

extern char** environ;

namespace lumaret::platform {
namespace {

using namespace hlslfront;
using Clock = std::chrono::steady_clock;

constexpr const char* kHelperName = "hlslfront";
// A helper whose socket has closed has exited or is about to; it gets this long to be
// reaped with its own exit status before it is killed.
constexpr auto kExitGrace = std::chrono::seconds(2);

bool IsExecutableFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

// Moves exactly `size` bytes unless the deadline passes or the peer closes first: a
// helper that stops reading cannot hold a request up either. MSG_NOSIGNAL keeps a
// dead peer from raising SIGPIPE.
enum class Transfer { Done, Closed, Late };
Transfer TransferBy(int fd, char* p, size_t size, bool sending, Clock::time_point deadline) {
    while (size > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return Transfer::Late;
        pollfd ready{fd, static_cast<short>(sending ? POLLOUT : POLLIN), 0};
        int polled = poll(&ready, 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
        if (polled < 0 && errno == EINTR) continue;
        if (polled == 0) return Transfer::Late;
        if (polled < 0) return Transfer::Closed;
        ssize_t moved = sending ? send(fd, p, size, MSG_DONTWAIT | MSG_NOSIGNAL) : recv(fd, p, size, MSG_DONTWAIT);
        if (moved < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (moved <= 0) return Transfer::Closed;
        p += moved;
        size -= static_cast<size_t>(moved);
    }
    return Transfer::Done;
}

std::string g_standIn;                      // UseHlslFrontEnd's choice
std::atomic<unsigned> g_unansweredCount{0};  // requests the helper left without an answer
// The file of the request in the helper's hands and of the last one it left unanswered
// (both under Turns()): a time-out is that file's, not the next one queued behind it.
std::string g_compilingFile;
std::string g_unansweredFile;

// The file a source says it comes from (its first #line "name"), else a plain description.
std::string FileOf(const std::string& source) {
    size_t at = source.find("#line");
    while (at != std::string::npos && at != 0 && source[at - 1] != '\n') at = source.find("#line", at + 1);
    if (at != std::string::npos) {
        size_t end = source.find('\n', at);
        size_t open = source.find('"', at);
        size_t close = open == std::string::npos ? open : source.find('"', open + 1);
        if (close != std::string::npos && close < end) return source.substr(open + 1, close - open - 1);
    }
    return "a source without a #line name";
}

class FrontEndProcess {
public:
    FrontEndOutput Compile(const std::string& source, const std::string& entry, bool vertex,
                           const std::string& preamble) {
        // A forked copy of this process (a test's death test, say) starts a helper of its own.
        if (pid_ > 0 && owner_ != getpid()) Forget();
        std::string request(1, vertex ? 1 : 0);
        for (const std::string* text : {&entry, &preamble, &source}) {
            uint32_t length = static_cast<uint32_t>(text->size());
            request.append(reinterpret_cast<const char*>(&length), sizeof(length));
            request += *text;
        }
        // A helper that went away while idle is replaced once and asked again; one that
        // goes away during the request has failed on this source.
        auto deadline = Clock::now() + std::chrono::seconds(HlslFrontEndAnswerSeconds());
        for (int attempt = 0;; ++attempt) {
            if (pid_ > 0 && !Serving()) Stop("went away while idle");
            if (pid_ <= 0) Start();
            Transfer sent = TransferBy(socket_, request.data(), request.size(), true, deadline);
            if (sent == Transfer::Done) break;
            if (sent == Transfer::Late) Late();
            std::string how = Stop();
            if (attempt > 0) throw ShaderCompileError("error: the HLSL compiler " + how + "\n");
        }
        return Answer(deadline);
    }

    void End() {
        if (pid_ > 0 && owner_ == getpid()) Stop("was replaced");
        pid_ = -1;
        socket_ = -1;
    }

private:
    FrontEndOutput Answer(Clock::time_point deadline) {
        uint32_t length = 0;
        Transfer got = TransferBy(socket_, reinterpret_cast<char*>(&length), sizeof(length), false, deadline);
        std::string bytes;
        if (got == Transfer::Done) {
            if (length > kMaxMessageBytes) Fail("answered with a reply larger than " + MiB(kMaxMessageBytes));
            bytes.resize(length);
            got = TransferBy(socket_, bytes.data(), length, false, deadline);
        }
        if (got == Transfer::Late) Late();
        if (got == Transfer::Closed) throw ShaderCompileError("error: the HLSL compiler " + Stop() + "\n");
        Reply reply;
        std::string why;
        if (!DecodeReply(bytes, &reply, &why)) Fail(why);
        if (reply.status == kCompileErrorThenEnd) Stop();  // on its way out; the next compile starts another
        if (reply.status != kCompiled) throw ShaderCompileError(reply.payload);
        FrontEndOutput output;
        output.spirv.resize(reply.payload.size() / sizeof(uint32_t));
        std::memcpy(output.spirv.data(), reply.payload.data(), reply.payload.size());
        DecodeGlobals(reply.globals, &output.globals);
        return output;
    }

    [[noreturn]] void Late() {
        g_unansweredFile = g_compilingFile;
        ++g_unansweredCount;
        Fail("gave no answer within " + std::to_string(HlslFrontEndAnswerSeconds()) + " s to the compile of " +
             g_compilingFile);
    }

    static std::string MiB(uint32_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

    // The helper did something no helper of ours does: it is not trusted with another request.
    [[noreturn]] void Fail(const std::string& why) {
        throw ShaderCompileError("error: the HLSL compiler " + Stop(why.c_str()) + "\n");
    }

    // Alive, and nothing waiting on its socket: an idle helper says nothing.
    bool Serving() {
        pollfd ready{socket_, POLLIN | POLLRDHUP, 0};
        if (poll(&ready, 1, 0) != 0) return false;
        int status = 0;
        return waitpid(pid_, &status, WNOHANG) == 0;
    }

    void Start() {
        std::string path = HlslFrontEndPath();
        if (path.empty()) {
            std::string looked;
            for (const std::string& candidate : HlslFrontEndCandidates())
                looked += (looked.empty() ? "" : ", ") + candidate;
            throw ShaderCompileError("error: the HLSL compiler's helper program hlslfront was not found (looked at " +
                                     looked + "); it is built beside the program and installed with it\n");
        }
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

    // Ends the helper and says what became of it. Without a reason it is expected to be
    // ending (its socket closed) and is given a moment to; with one it is killed at once.
    // Either way it is reaped, so no request ever waits on it again.
    std::string Stop(const char* why = nullptr) {
        close(socket_);
        int status = 0;
        bool reaped = false;
        if (!why) {
            for (auto until = Clock::now() + kExitGrace; !reaped && Clock::now() < until;) {
                reaped = waitpid(pid_, &status, WNOHANG) == pid_;
                if (!reaped) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        if (!reaped) {
            kill(pid_, SIGKILL);
            while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
        }
        pid_ = -1;
        socket_ = -1;
        if (why) return why;
        if (WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU)
            return "used up its " + std::to_string(kCpuSecondsPerRequest) + " s of CPU time on this source";
        if (!reaped) return "stopped answering on this source";
        if (WIFSIGNALED(status)) return "crashed on this source (signal " + std::to_string(WTERMSIG(status)) + ")";
        if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
            return "stopped on this source (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
        return "stopped on this source";
    }

    void Forget() {
        close(socket_);
        pid_ = -1;
        socket_ = -1;
    }

    pid_t pid_ = -1;
    pid_t owner_ = -1;
    int socket_ = -1;
};

// Never freed: the helper lives as long as the program, and its socket closes with it.
FrontEndProcess& TheFrontEnd() {
    static FrontEndProcess* frontEnd = new FrontEndProcess();
    return *frontEnd;
}
std::mutex& Turns() {
    static std::mutex* turns = new std::mutex();
    return *turns;
}

}  // namespace

std::vector<std::string> HlslFrontEndCandidates() {
    std::vector<std::string> candidates;
    char self[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
    std::string directory = length > 0 ? std::string(self, static_cast<size_t>(length)) : std::string(".");
    size_t slash = directory.rfind('/');
    directory = slash == std::string::npos ? std::string(".") : directory.substr(0, slash);
    candidates.push_back(directory + "/" + kHelperName);
    // Installed, PREFIX/bin/PROGRAM starts PREFIX/lib/lumaret/hlslfront (the Debian package's
    // /usr/lib/lumaret, as cmake --install lays out any prefix).
    candidates.push_back(directory + "/../lib/lumaret/" + kHelperName);
    if (std::optional<std::string> setting = HlslFrontEndSetting()) candidates.push_back(*setting);
    return candidates;
}

std::string HlslFrontEndPath() {
    if (!g_standIn.empty()) return g_standIn;
    for (const std::string& candidate : HlslFrontEndCandidates())
        if (IsExecutableFile(candidate)) return candidate;
    return std::string();
}

void UseHlslFrontEnd(const std::string& path) {
    std::lock_guard<std::mutex> lock(Turns());
    TheFrontEnd().End();
    g_standIn = path;
}

FrontEndOutput CompileHlslToSpirv(const std::string& source, const std::string& entry, bool vertex,
                                  const std::string& macroPreamble) {
    if (source.size() + macroPreamble.size() + entry.size() > kMaxMessageBytes)
        throw ShaderCompileError("error: the source is too large for the HLSL compiler (" +
                                 std::to_string(source.size()) + " bytes; at most " +
                                 std::to_string(kMaxMessageBytes >> 20) + " MiB)\n");
    unsigned unansweredBefore = g_unansweredCount.load();
    std::lock_guard<std::mutex> lock(Turns());
    if (g_unansweredCount.load() != unansweredBefore)
        throw ShaderCompileError("error: the HLSL compiler gave no answer within " +
                                 std::to_string(HlslFrontEndAnswerSeconds()) + " s to the compile of " +
                                 g_unansweredFile + " before this one; this one was not tried\n");
    g_compilingFile = FileOf(source);
    return TheFrontEnd().Compile(source, entry, vertex, macroPreamble);
}

}  // namespace lumaret::platform
