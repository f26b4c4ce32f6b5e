// Log: the engine's one diagnostic channel.
//
// Log::Open starts "log.txt" in the working directory with a banner; Log::Write appends one
// printf-style message (opening and closing the file each time, so the file is complete
// even if the process is killed); Log::Fatal shows a message box captioned "error" and
// ends the process with exit status -1 without touching the file. Messages carry their
// own "\n"; one without it continues the current line. Log::Warn writes its message to
// the log and to stderr too, for what the engine survives but whoever runs it must see.
// A log.txt that cannot be created or written is said once on stderr; the run goes on.
// Before Fatal ends the process it runs beforeFatalExit, when set: work on other threads
// stops there, so none of it is still running while the process's statics are destroyed.
#pragma once

#include <cstdarg>

// mingw-w64's C++ runtime formats with its own ANSI printf (%zu and all), which GCC knows
// as __MINGW_PRINTF_FORMAT; plain "printf" there would mean the old Microsoft one.
#ifdef __MINGW32__
#include <cstdio>
#define LUMARET_PRINTF_FORMAT __MINGW_PRINTF_FORMAT
#else
#define LUMARET_PRINTF_FORMAT printf
#endif

class Log {
public:
    static void Open();
    static void Write(const char* format, ...) __attribute__((format(LUMARET_PRINTF_FORMAT, 1, 2)));
    static void Warn(const char* format, ...) __attribute__((format(LUMARET_PRINTF_FORMAT, 1, 2)));
    [[noreturn]] static void Fatal(const char* format, ...) __attribute__((format(LUMARET_PRINTF_FORMAT, 1, 2)));

    static inline void (*beforeFatalExit)() = nullptr;
    // Set on a thread whose Write and Warn are not wanted: a trial import on a worker while
    // the main thread logs its own start-up. Fatal still speaks and ends the process.
    static inline thread_local bool muted = false;
    // Cleared by a program whose working directory is not its to write in (the viewer making
    // a thumbnail for a file manager): then no log.txt is opened at all, and Warn still
    // says its message on stderr.
    static inline bool writesFile = true;

    static constexpr const char* FileName = "log.txt";
    static constexpr const char* Banner = "Lumaret Engine Log\n\n";
    // A formatted message holds at most BufferSize - 1 characters; longer text is cut.
    static constexpr int BufferSize = 1000;
};
