// The conversion in a child process under limits.
//
// Assimp reads files made to hurt, and not every way it can fail is caught by the scans
// that run before it: a crash, an abort or a loop inside a reader would otherwise end
// srxconvert itself with no word about the file. The work runs in a forked child with a
// CPU-time limit and an address-space limit (none under AddressSanitizer, which reserves
// terabytes), and no core file; its output goes where the tool's goes. A child that ends
// on a signal becomes one line and exit status 2 for that model.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace srxconvert {

struct RunLimits {
    int cpuSeconds = 120;
    uint64_t addressSpaceBytes = 0;  // 0: none
};

// Half the machine's memory: far beyond any model the engine can draw, short of the
// swapping that would make the whole machine stall before the kernel ends the child.
uint64_t DefaultAddressSpaceLimit();

// Sets the limits on the calling process: a child, before it does the work.
void ApplyLimits(const RunLimits& limits);

// What a child that ended on `signal` after `cpuSeconds` of processing says of it: the
// time limit when that ended it, else the signal's name ("its import ended on signal
// SIGSEGV (Segmentation fault)").
std::string DescribeSignalEnd(int signal, double cpuSeconds, const RunLimits& limits);

// Runs work in a child under limits and returns its exit status. When the child ends on a
// signal, what is returned is ExitUnreadable and `why` says how (the CPU time spent, or
// the signal's name); otherwise `why` stays empty. Without a child (fork fails) the work
// runs here.
int RunBounded(const std::function<int()>& work, const RunLimits& limits, std::string& why);

}  // namespace srxconvert
