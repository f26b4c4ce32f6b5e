#include "ImportLauncher.h"

#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <linux/sched.h>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <unistd.h>

namespace viewer {

namespace {

std::mutex gLauncherMutex;
int gLauncher = -1;  // the viewer's end of the socket to the launcher
std::string gNotRunning = "the import launcher was not started";

size_t CountThreads() {
    std::error_code error;
    size_t count = 0;
    for (std::filesystem::directory_iterator task("/proc/self/task", error), end; !error && task != end;
         task.increment(error))
        ++count;
    return error ? 0 : count;
}

}  // namespace

bool SendDescriptor(int socket, int descriptor) {
    char mark = kDescriptorMark;
    iovec part{&mark, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &descriptor, sizeof descriptor);
    ssize_t sent;
    do sent = sendmsg(socket, &message, MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    return sent == 1;
}

namespace {

// The one descriptor a message brings; -1 when the other end is gone or sent none.
int ReceiveDescriptor(int socket) {
    char mark;
    iovec part{&mark, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t got;
    do got = recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    while (got < 0 && errno == EINTR);
    cmsghdr* header = got == 1 ? CMSG_FIRSTHDR(&message) : nullptr;
    if (!header || header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS ||
        header->cmsg_len != CMSG_LEN(sizeof(int)))
        return -1;
    int descriptor;
    std::memcpy(&descriptor, CMSG_DATA(header), sizeof descriptor);
    return descriptor;
}

// The launcher's life: a child for each socket the viewer sends, its pid (or -errno) sent
// back, until the viewer closes its end or ends.
[[noreturn]] void RunLauncher(int socket, pid_t viewerProcess, ImportChildWork work) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != viewerProcess) _exit(0);  // the viewer ended before the line above
    prctl(PR_SET_NAME, "viewer-imports");
    for (;;) {
        int childSocket = ReceiveDescriptor(socket);
        if (childSocket < 0) _exit(0);
        // fork(), but with the viewer as the parent. glibc's fork has no such flag; its
        // atfork work has nothing to do in this one-threaded process, and glibc reads the
        // thread id from the kernel where it signals itself (raise, abort).
        long child = syscall(SYS_clone, CLONE_PARENT | SIGCHLD, 0, 0, 0, 0);
        if (child == 0) {
            close(socket);
            prctl(PR_SET_NAME, "viewer-import");
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != viewerProcess) _exit(0);
            _exit(work(childSocket));
        }
        int32_t answer = child > 0 ? static_cast<int32_t>(child) : -errno;
        close(childSocket);
        if (send(socket, &answer, sizeof answer, MSG_NOSIGNAL) != sizeof answer) _exit(0);
    }
}

}  // namespace

bool StartImportLauncher(ImportChildWork work, std::string& why) {
    std::lock_guard<std::mutex> lock(gLauncherMutex);
    if (CountThreads() != 1) {
        why = gNotRunning = "the import launcher could not start: the viewer already runs other threads";
        return false;
    }
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
        why = gNotRunning = std::string("the import launcher could not start: ") + std::strerror(errno);
        return false;
    }
    pid_t viewerProcess = getpid();
    pid_t launcher = fork();
    if (launcher == 0) {
        // The standard streams stay, for what Assimp prints; the viewer's other descriptors
        // (its log, the window system's) are none of the launcher's business.
        close(ends[0]);
        if (ends[1] > STDERR_FILENO + 1) close_range(STDERR_FILENO + 1, static_cast<unsigned>(ends[1]) - 1, 0);
        close_range(static_cast<unsigned>(ends[1]) + 1, ~0u, 0);
        RunLauncher(ends[1], viewerProcess, work);
    }
    close(ends[1]);
    if (launcher < 0) {
        close(ends[0]);
        why = gNotRunning = std::string("the import launcher could not start: ") + std::strerror(errno);
        return false;
    }
    gLauncher = ends[0];
    return true;
}

pid_t LaunchImport(int socket, std::string& why) {
    std::lock_guard<std::mutex> lock(gLauncherMutex);
    if (gLauncher < 0) {
        why = gNotRunning;
        return -1;
    }
    int32_t answer = 0;
    ssize_t got = -1;
    if (SendDescriptor(gLauncher, socket)) {
        do got = recv(gLauncher, &answer, sizeof answer, 0);
        while (got < 0 && errno == EINTR);
    }
    if (got != sizeof answer) {
        close(gLauncher);
        gLauncher = -1;
        why = gNotRunning = "the import launcher is gone";
        return -1;
    }
    if (answer < 0) {
        why = std::strerror(-answer);
        return -1;
    }
    return answer;
}

}  // namespace viewer
