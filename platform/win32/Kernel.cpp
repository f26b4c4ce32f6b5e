// kernel32 and user32 odds and ends: module handle and file name, performance counter, message box, itoa.
#include "win32/Settings.h"
#include "win32/WindowSystem.h"

#include <SDL.h>

#include <cmath>
#include <cstdint>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

HMODULE WINAPI GetModuleHandleA(LPCSTR) {
    // One module: any non-null value serves as the instance handle.
    static char module;
    return reinterpret_cast<HMODULE>(&module);
}

// The running program's path (links resolved, as /proc/self/exe has it). As on Windows, a
// name that does not fit is cut to size - 1 characters and size is returned.
DWORD WINAPI GetModuleFileNameA(HMODULE, LPSTR fileName, DWORD size) {
    if (!fileName || size == 0) return 0;
    ssize_t length = readlink("/proc/self/exe", fileName, size);
    if (length <= 0) {
        fileName[0] = '\0';
        return 0;
    }
    if (static_cast<DWORD>(length) >= size) {
        fileName[size - 1] = '\0';
        return size;
    }
    fileName[length] = '\0';
    return static_cast<DWORD>(length);
}

namespace lumaret::platform {
int64_t MessagePumpTurns();  // MessageQueue.cpp
}

namespace {

constexpr int64_t kCounterFrequency = 1000000000LL;  // nanoseconds

}  // namespace

// The counter runs in nanoseconds of the monotonic clock, or of the fixed frame clock.
BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* count) {
    if (!count) return FALSE;
    // LUMARET_FRAME_TIME=S: the counter advances S seconds per PeekMessageA call and
    // ignores the wall clock, so frame N of a run always sees the same time.
    if (std::optional<int64_t> step = lumaret::platform::FixedFrameTime()) {
        count->QuadPart = lumaret::platform::MessagePumpTurns() * *step;
        return TRUE;
    }
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    count->QuadPart = static_cast<int64_t>(now.tv_sec) * kCounterFrequency + now.tv_nsec;
    return TRUE;
}

BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    if (!frequency) return FALSE;
    frequency->QuadPart = kCounterFrequency;
    return TRUE;
}

DWORD WINAPI GetTickCount() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<DWORD>(now.QuadPart / 1000000);
}

void WINAPI Sleep(DWORD milliseconds) { usleep(static_cast<useconds_t>(milliseconds) * 1000); }

int WINAPI MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    // Always on stderr, so that headless runs and logs keep the text; a real box only where
    // a desktop can show one (LUMARET_NO_MESSAGE_BOX keeps automated runs from blocking).
    // The caption goes first unless the text says it already ("error" before a compiler's
    // "error: ..." would say it twice).
    std::string said = text ? text : "";
    std::string heading = std::string(caption ? caption : "") + ":";
    bool captionInText = std::search(said.begin(), said.end(), heading.begin(), heading.end(), [](char a, char b) {
                             return std::tolower(static_cast<unsigned char>(a)) ==
                                    std::tolower(static_cast<unsigned char>(b));
                         }) != said.end();
    if (captionInText)
        std::fprintf(stderr, "%s\n", said.c_str());
    else
        std::fprintf(stderr, "%s %s\n", heading.c_str(), said.c_str());
    std::fflush(stderr);
    if (!lumaret::platform::IsHeadless() && !lumaret::platform::NoMessageBox()) {
        Uint32 flags = (type & 0xF0) == MB_ICONERROR ? SDL_MESSAGEBOX_ERROR
                       : (type & 0xF0) == MB_ICONWARNING ? SDL_MESSAGEBOX_WARNING
                                                         : SDL_MESSAGEBOX_INFORMATION;
        SDL_ShowSimpleMessageBox(flags, caption ? caption : "", text ? text : "", nullptr);
    }
    return IDOK;
}

char* itoa(int value, char* buffer, int radix) {
    if (!buffer) return buffer;
    if (radix < 2 || radix > 36) {
        buffer[0] = '\0';
        return buffer;
    }
    // Like the CRT: negative numbers get a sign only in base 10, other bases show the
    // two's-complement bits.
    bool negative = radix == 10 && value < 0;
    unsigned int magnitude = negative ? 0u - static_cast<unsigned int>(value) : static_cast<unsigned int>(value);
    char digits[40];
    int n = 0;
    do {
        unsigned int d = magnitude % static_cast<unsigned int>(radix);
        digits[n++] = static_cast<char>(d < 10 ? '0' + d : 'a' + d - 10);
        magnitude /= static_cast<unsigned int>(radix);
    } while (magnitude);
    char* out = buffer;
    if (negative) *out++ = '-';
    while (n) *out++ = digits[--n];
    *out = '\0';
    return buffer;
}
