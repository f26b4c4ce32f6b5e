#include "BoundedRun.h"

#include "common/ToolExitStatus.h"
#include "hlslfront/AddressSanitizer.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace srxconvert {

namespace {

void SetLimit(int resource, rlim_t soft, rlim_t hard) {
    rlimit limit{soft, hard};
    setrlimit(resource, &limit);
}

}  // namespace

uint64_t DefaultAddressSpaceLimit() {
    long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || size <= 0) return 0;
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(size) / 2;
}

void ApplyLimits(const RunLimits& limits) {
    // SIGXCPU at the limit, and SIGKILL a second later should it be caught.
    if (limits.cpuSeconds > 0)
        SetLimit(RLIMIT_CPU, static_cast<rlim_t>(limits.cpuSeconds), static_cast<rlim_t>(limits.cpuSeconds) + 1);
    if (limits.addressSpaceBytes && !kUnderAddressSanitizer)
        SetLimit(RLIMIT_AS, limits.addressSpaceBytes, limits.addressSpaceBytes);
    SetLimit(RLIMIT_CORE, 0, 0);
}

std::string DescribeSignalEnd(int signal, double cpuSeconds, const RunLimits& limits) {
    if (limits.cpuSeconds > 0 && (signal == SIGXCPU || (signal == SIGKILL && cpuSeconds >= limits.cpuSeconds)))
        return "its import took more than " + std::to_string(limits.cpuSeconds) + " s of processing (--time-limit)";
    const char* name = sigabbrev_np(signal);
    const char* description = sigdescr_np(signal);
    return std::string("its import ended on signal ") + (name ? std::string("SIG") + name : std::to_string(signal)) +
           " (" + (description ? description : "unknown") + ")";
}

int RunBounded(const std::function<int()>& work, const RunLimits& limits, std::string& why) {
    why.clear();
    std::fflush(nullptr);  // or the child would print what the parent still holds
    pid_t child = fork();
    if (child < 0) return work();
    if (child == 0) {
        ApplyLimits(limits);
        int status = work();
        std::fflush(nullptr);
        _exit(status);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR) {
            why = std::string("lost its conversion process: ") + std::strerror(errno);
            return ExitUnreadable;
        }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    why = DescribeSignalEnd(WIFSIGNALED(status) ? WTERMSIG(status) : 0, cpu, limits);
    return ExitUnreadable;
}

}  // namespace srxconvert
