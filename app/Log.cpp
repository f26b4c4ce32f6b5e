#include "app/Log.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
char gWriteBuffer[Log::BufferSize];
char gFatalBuffer[Log::BufferSize];
}  // namespace

void Log::Open() {
    FILE* file = std::fopen(FileName, "wt");
    if (!file) return;
    std::fwrite(Banner, 1, std::strlen(Banner), file);
    std::fclose(file);
}

void Log::Write(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(gWriteBuffer, sizeof(gWriteBuffer), format, args);
    va_end(args);
    FILE* file = std::fopen(FileName, "at");
    if (!file) return;
    std::fwrite(gWriteBuffer, 1, std::strlen(gWriteBuffer), file);
    std::fclose(file);
}

void Log::Fatal(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(gFatalBuffer, sizeof(gFatalBuffer), format, args);
    va_end(args);
    MessageBoxA(nullptr, gFatalBuffer, "error", MB_OK | MB_ICONERROR | MB_TASKMODAL);
    std::exit(-1);
}
