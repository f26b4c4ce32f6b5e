#include "app/Log.h"

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {
char gWriteBuffer[Log::BufferSize];
char gFatalBuffer[Log::BufferSize];

// Opens the log, writes the text and closes it; a failure anywhere (a read-only or full
// working directory) is said on stderr the first time only, and the run goes on.
void AppendToFile(const char* mode, const char* text) {
    if (!Log::writesFile) return;
    static bool told = false;
    errno = 0;
    // Only a regular file (or none yet) is opened: opening a FIFO would wait for a reader.
    std::error_code error;
    std::filesystem::file_type type = std::filesystem::status(Log::FileName, error).type();
    bool special = type != std::filesystem::file_type::not_found && type != std::filesystem::file_type::regular &&
                   type != std::filesystem::file_type::directory && !error;
    FILE* file = special ? nullptr : std::fopen(Log::FileName, mode);
    bool written = file && std::fwrite(text, 1, std::strlen(text), file) == std::strlen(text);
    bool closed = file && std::fclose(file) == 0;
    if ((written && closed) || told) return;
    told = true;
    std::fprintf(stderr, "lumaret: %s cannot be written in the working directory (%s); the log is incomplete\n",
                 Log::FileName, special ? "not a regular file" : errno ? std::strerror(errno) : "write failed");
}

}  // namespace

void Log::Open() { AppendToFile("wt", Banner); }

void Log::Write(const char* format, ...) {
    if (muted) return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(gWriteBuffer, sizeof(gWriteBuffer), format, args);
    va_end(args);
    AppendToFile("at", gWriteBuffer);
}

void Log::Warn(const char* format, ...) {
    if (muted) return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(gWriteBuffer, sizeof(gWriteBuffer), format, args);
    va_end(args);
    AppendToFile("at", gWriteBuffer);
    std::fprintf(stderr, "lumaret: %s", gWriteBuffer);
}

void Log::Fatal(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(gFatalBuffer, sizeof(gFatalBuffer), format, args);
    va_end(args);
    MessageBoxA(nullptr, gFatalBuffer, "error", MB_OK | MB_ICONERROR | MB_TASKMODAL);
    if (beforeFatalExit) beforeFatalExit();
    std::exit(-1);
}
