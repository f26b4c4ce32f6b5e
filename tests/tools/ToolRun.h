// Running the data tools as a user does: the exit status and what they print.
#pragma once

#include "support/TempDir.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace lumaret::test {

struct ToolRun {
    int status = -1;
    std::string output;  // standard output and standard error together
};

// Runs a shell command line in the working directory.
inline ToolRun RunCommand(const std::string& commandLine) {
    std::string command = "(" + commandLine + ") 2>&1";
    ToolRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    size_t count;
    while ((count = fread(buffer, 1, sizeof(buffer), pipe)) > 0) run.output.append(buffer, count);
    int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// Runs a program of the build tree (a path below it) with the arguments, in the working directory.
inline ToolRun RunTool(const std::string& program, const std::string& arguments) {
    return RunCommand(BuildDir() + "/" + program + " " + arguments);
}

// The viewer headless with the fixed frame clock, a GL error fatal, and no frames saved
// beside the one asked for.
inline void HeadlessViewerSettings() {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    setenv("LUMARET_FRAME_TIME", "0.0166666667", 1);
    setenv("LUMARET_GL_ERRORS_FATAL", "1", 1);
    unsetenv("LUMARET_SCREENSHOT_FRAMES");
}

}  // namespace lumaret::test
