// The conversation between D3DXCompileShader and the HLSL front-end helper program
// (hlslfront), over one Unix stream socket.
//
// Request: one byte (1 vertex, 0 pixel), then the entry point, the macro preamble and the
// source, each a string. Reply: one string whose bytes are the status (0 compiled, 1
// compile error, 2 compile error after which the helper ends, its own state no longer to
// be trusted), then two strings: the payload (the SPIR-V words, or the compiler's
// message) and what the program's globals say (their register pins and declaration
// order, GlobalDeclarations.h). A
// string is its length (uint32, host order) and its bytes. Both ends are this project's
// own programs, built together, so nothing here is versioned; the engine still checks
// every reply whole before it uses any of it, since a helper that crashes, runs out of
// memory or is not ours at all must not be trusted.
#pragma once

#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumaret::platform::hlslfront {

// The socket is the helper's file descriptor 3; its arguments are that number and the
// engine's process id.
constexpr int kSocketFd = 3;
// Largest string either side accepts: sources and SPIR-V of real shaders are far smaller.
constexpr uint32_t kMaxMessageBytes = 64u << 20;
constexpr char kCompiled = 0;
constexpr char kCompileError = 1;
constexpr char kCompileErrorThenEnd = 2;
// Memory and CPU time one compile may take before the helper is stopped.
constexpr unsigned kAddressSpaceMegabytes = 1024;
constexpr unsigned kCpuSecondsPerRequest = 10;

// Whole-message socket I/O. MSG_NOSIGNAL keeps a dead peer from raising SIGPIPE.
inline bool SendAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t sent = send(fd, p, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        p += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

inline bool ReceiveAll(int fd, void* data, size_t size) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
        ssize_t got = recv(fd, p, size, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

inline bool SendString(int fd, const std::string& text) {
    if (text.size() > kMaxMessageBytes) return false;
    uint32_t length = static_cast<uint32_t>(text.size());
    return SendAll(fd, &length, sizeof(length)) && SendAll(fd, text.data(), text.size());
}

inline bool ReceiveString(int fd, std::string* text) {
    uint32_t length = 0;
    if (!ReceiveAll(fd, &length, sizeof(length)) || length > kMaxMessageBytes) return false;
    text->resize(length);
    return ReceiveAll(fd, text->data(), length);
}

struct Reply {
    char status = kCompiled;
    std::string payload;
    std::string globals;
};

// The reply's bytes, which go out as one string.
std::string EncodeReply(const Reply& reply);
// A reply's bytes (without the leading length): false, and why, for anything but a whole,
// well-formed reply; a compiled one must hold SPIR-V and pins in their form.
bool DecodeReply(std::string_view bytes, Reply* reply, std::string* why);

}  // namespace lumaret::platform::hlslfront
