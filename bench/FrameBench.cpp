// The demo's frame in both screen configurations, headless on llvmpipe with the fixed frame
// clock: wall and CPU ms per frame, draws per frame, and the time of each pass.
//
// Each measurement is a whole run of the engine (RunEngine, as the program runs it) in a
// child process, once for a short and once for a long run; the difference of the two
// divided by the difference in frames is the cost of a steady-state frame, start-up and
// shutdown cancelling out. Frame figures come from runs that time nothing; pass figures
// from runs with the layer's pass timer (LUMARET_PASS_TIMES): unsynchronised (what the
// pass costs inside the frame as it runs, waiting included) and synchronised
// (LUMARET_PASS_SYNC=1: the device finished at each pass's edges, GL_TIME_ELAPSED).
//
// Usage: frame_bench [--frames SHORT LONG] [--size 640x480|1024x768]... [--no-passes] [--hud 0|1|2]
// (--no-passes: the frame figures only, a third of the runs, for before-and-after pairs;
// --hud: the stats overlay as LUMARET_HUD sets it, off by default, so its cost is the
// difference between two runs)
// Runs from a scratch directory whose ./data links to the repository's data.
#include "app/Engine.h"
#include "render/DrawCount.h"
#include "ScratchDirectory.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct RunFigures {
    double wall = 0, processCpu = 0, mainCpu = 0;  // seconds, the whole run
    double draws = 0;                              // of the last frame
};

struct PassFigures {
    int depth = 0;
    double count = 0, wall = 0, cpu = 0, gl = 0;  // ms totals
};
using PassTable = std::map<std::string, PassFigures>;

const char* gHud = "0";

double Seconds(clockid_t clock) {
    timespec now;
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// One whole run in a child process; the pass table, when asked for, comes back through
// the layer's file.
RunFigures RunOnce(const ScreenConfig& screen, int frames, const char* passFile, bool sync) {
    std::string figures = "frame-bench-run.txt";
    std::filesystem::remove(figures);
    std::fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
        setenv("LUMARET_FRAME_TIME", "0.0166666667", 1);
        setenv("LUMARET_HEADLESS_FRAMES", std::to_string(frames).c_str(), 1);
        setenv("LUMARET_NO_MESSAGE_BOX", "1", 1);
        unsetenv("LUMARET_SCREENSHOT");
        setenv("LUMARET_HUD", gHud, 1);
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        if (passFile)
            setenv("LUMARET_PASS_TIMES", passFile, 1);
        else
            unsetenv("LUMARET_PASS_TIMES");
        if (sync)
            setenv("LUMARET_PASS_SYNC", "1", 1);
        else
            unsetenv("LUMARET_PASS_SYNC");
        double wall = Seconds(CLOCK_MONOTONIC), process = Seconds(CLOCK_PROCESS_CPUTIME_ID);
        double main = Seconds(CLOCK_THREAD_CPUTIME_ID);
        KeepLargeAllocationsInHeap();  // as WinMain does
        int status = RunEngine(screen);
        wall = Seconds(CLOCK_MONOTONIC) - wall;
        process = Seconds(CLOCK_PROCESS_CPUTIME_ID) - process;
        main = Seconds(CLOCK_THREAD_CPUTIME_ID) - main;
        std::ofstream(figures) << wall << " " << process << " " << main << " " << gDrawCalls << "\n";
        std::exit(status);
    }
    int status = 0;
    waitpid(child, &status, 0);
    RunFigures run;
    std::ifstream in(figures);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        !(in >> run.wall >> run.processCpu >> run.mainCpu >> run.draws)) {
        std::fprintf(stderr, "frame_bench: the engine run of %d frames failed (status %d)\n", frames, status);
        std::exit(1);
    }
    return run;
}

PassTable ReadPasses(const std::string& file) {
    PassTable table;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string name;
        PassFigures p;
        std::getline(fields, name, '\t');
        fields >> p.depth >> p.count >> p.wall >> p.cpu >> p.gl;
        table[name] = p;
    }
    return table;
}

// Steady-state ms per frame of each event: (long run - short run) / extra frames.
PassTable PassesPerFrame(const ScreenConfig& screen, int shortRun, int longRun, bool sync) {
    const char* file = "frame-bench-passes.txt";
    RunOnce(screen, shortRun, file, sync);
    PassTable a = ReadPasses(file);
    RunOnce(screen, longRun, file, sync);
    PassTable b = ReadPasses(file);
    double frames = longRun - shortRun;
    PassTable perFrame;
    for (auto& [name, p] : b) {
        PassFigures q = a.count(name) ? a[name] : PassFigures{};
        perFrame[name] = PassFigures{p.depth, (p.count - q.count) / frames, (p.wall - q.wall) / frames,
                                     (p.cpu - q.cpu) / frames, (p.gl - q.gl) / frames};
    }
    return perFrame;
}

}  // namespace

int main(int argc, char** argv) {
    int shortRun = 60, longRun = 360;
    std::vector<ScreenConfig> screens;
    bool passes = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--frames") == 0 && i + 2 < argc) {
            shortRun = std::atoi(argv[++i]);
            longRun = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc) {
            ScreenConfig screen;
            if (std::sscanf(argv[++i], "%dx%d", &screen.width, &screen.height) != 2) return 1;
            screens.push_back(screen);
        } else if (std::strcmp(argv[i], "--no-passes") == 0) {
            passes = false;
        } else if (std::strcmp(argv[i], "--hud") == 0 && i + 1 < argc) {
            gHud = argv[++i];
        } else {
            std::fprintf(stderr, "usage: frame_bench [--frames SHORT LONG] [--size WxH]... [--no-passes] [--hud 0|1|2]\n");
            return 1;
        }
    }
    if (shortRun < 1 || longRun <= shortRun) {
        std::fprintf(stderr, "frame_bench: --frames needs 1 <= SHORT < LONG\n");
        return 1;
    }
    if (screens.empty()) screens = {ScreenConfig{640, 480, true}, ScreenConfig{1024, 768, true}};
    EnterScratchDirectory("lumaret-frame-bench");
    std::printf("frames %d..%d of the demo, fixed clock 1/60 s, headless llvmpipe, LUMARET_HUD=%s; per steady-state "
                "frame\n",
                shortRun, longRun, gHud);
    for (const ScreenConfig& screen : screens) {
        RunFigures a = RunOnce(screen, shortRun, nullptr, false);
        RunFigures b = RunOnce(screen, longRun, nullptr, false);
        double frames = longRun - shortRun;
        std::printf(
            "\n%dx%d: wall %.2f ms  process CPU %.2f ms  main-thread CPU %.2f ms  draws %.0f  "
            "(start-up + shutdown %.0f ms wall)\n",
            screen.width, screen.height, (b.wall - a.wall) / frames * 1e3, (b.processCpu - a.processCpu) / frames * 1e3,
            (b.mainCpu - a.mainCpu) / frames * 1e3, b.draws, (a.wall - (b.wall - a.wall) / frames * shortRun) * 1e3);
        if (!passes) continue;
        PassTable loose = PassesPerFrame(screen, shortRun, longRun, false);
        PassTable synced = PassesPerFrame(screen, shortRun, longRun, true);
        std::printf("%-30s %6s | %9s %9s | %9s %9s %9s\n", "event (ms per frame)", "count", "wall", "main CPU",
                    "sync wall", "sync CPU", "GL time");
        // Top-level events first in frame order, each followed by its steps.
        std::vector<std::string> order = {"ZN pass", "Light pass", "Forward pass", "PostFX", "Logo", "Stats overlay"};
        for (const auto& [name, p] : loose)
            if (std::find(order.begin(), order.end(), name) == order.end()) order.push_back(name);
        for (const std::string& name : order) {
            if (!loose.count(name)) continue;
            const PassFigures& p = loose[name];
            const PassFigures& s = synced[name];
            std::printf("%-30s %6.2f | %9.3f %9.3f | %9.3f %9.3f %9.3f\n", ((p.depth > 1 ? "  " : "") + name).c_str(),
                        p.count, p.wall, p.cpu, s.wall, s.cpu, p.depth == 1 ? s.gl : 0.0);
        }
    }
    return 0;
}
