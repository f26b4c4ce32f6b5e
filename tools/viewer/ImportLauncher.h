// The process that starts the viewer's import children (ModelImport.h).
//
// Running the viewer's program again for each import cost 20-30 ms before the child read
// a byte of the model: loading and relocating the sixty libraries the program links, most
// of them for the window, the device and sound, which an import never uses. Instead the
// viewer forks once at its start, while it is still one thread and small, and that copy,
// the launcher, forks each import child in its turn: a child starts in about a millisecond
// with every library already in place.
//
// Each child is made the viewer's own (CLONE_PARENT), not the launcher's, so the viewer
// waits for it and sees how it ended (the signal, the processing time) as it would for a
// child it started itself, and the child dies with the viewer (PR_SET_PDEATHSIG).
#pragma once

#include <string>
#include <sys/types.h>

namespace viewer {

// What an import child runs: it is given its end of a socket to the viewer and returns
// its exit status.
using ImportChildWork = int (*)(int socket);

// Forks the launcher. Call while the program is one thread: a fork copies only the thread
// that makes it, so a copy made later could start with a lock another thread held. False
// with why when the program already has other threads or the fork fails.
bool StartImportLauncher(ImportChildWork work, std::string& why);

// A new import child that runs the work on `socket` (still open here, for the caller to
// close). Its pid, or -1 with why (the launcher was not started, is gone, or could not
// fork). Safe from any thread.
pid_t LaunchImport(int socket, std::string& why);

// One byte, kDescriptorMark, with a descriptor for the process at the other end of a
// Unix socket; false when it did not go.
constexpr char kDescriptorMark = 'D';
bool SendDescriptor(int socket, int descriptor);

}  // namespace viewer
