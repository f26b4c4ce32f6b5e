// The Win32 subset: message queue order and filtering, WM_QUIT, mouse motion, itoa, file
// search, the performance counter on the wall clock and on the fixed frame clock.
#include <d3d9.h>
#include <io.h>
#include <windows.h>

#include "support/GoldenImage.h"
#include "support/TempDir.h"
#include "win32/WindowSystem.h"

#include <SDL.h>
#include <shellapi.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<UINT> gSeen;

LRESULT CALLBACK Recorder(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    gSeen.push_back(message);
    if (message == WM_DESTROY) PostQuitMessage(7);
    return DefWindowProcA(window, message, wParam, lParam);
}

// Queues a key press for the window with that SDL id, as SDL reports one.
int PushKeyDown(uint32_t windowId, SDL_Keycode key, bool repeat) {
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.windowID = windowId;
    event.key.state = SDL_PRESSED;
    event.key.repeat = repeat;
    event.key.keysym.sym = key;
    return SDL_PushEvent(&event);
}

HWND MakeWindow(const char* className) {
    WNDCLASSA cls{};
    cls.lpfnWndProc = Recorder;
    cls.lpszClassName = className;
    RegisterClassA(&cls);
    return CreateWindowExA(0, className, "test", WS_VISIBLE, 0, 0, 32, 32, nullptr, nullptr, nullptr, nullptr);
}

// A window whose queue starts empty, for tests that count what arrives.
HWND MakeQuietWindow(const char* className) {
    HWND window = MakeWindow(className);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    return window;
}

}  // namespace

TEST(Win32Messages, PostedMessagesComeOutInOrderAndQuitComesLast) {
    gSeen.clear();
    HWND window = MakeWindow("queue-order");
    ASSERT_NE(window, nullptr);
    PostMessageA(window, WM_USER + 1, 0, 0);
    PostMessageA(window, WM_CLOSE, 0, 0);
    PostMessageA(window, WM_USER + 2, 0, 0);
    MSG msg;
    std::vector<UINT> taken;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        taken.push_back(msg.message);
        if (msg.message == WM_QUIT) {
            EXPECT_EQ(msg.wParam, 7u);
            break;
        }
        DispatchMessageA(&msg);
    }
    // WM_USER + 2 was addressed to the window that WM_CLOSE destroyed, so it is dropped.
    EXPECT_EQ(taken, (std::vector<UINT>{WM_USER + 1, WM_CLOSE, WM_QUIT}));
    EXPECT_EQ(gSeen, (std::vector<UINT>{WM_USER + 1, WM_CLOSE, WM_DESTROY}));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST(Win32Messages, NoRemoveLeavesTheMessageQueued) {
    HWND window = MakeWindow("peek-only");
    PostMessageA(window, WM_USER, 1, 2);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 1u);
    EXPECT_EQ(msg.lParam, 2);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    DestroyWindow(window);
}

TEST(Win32Messages, UserDataHoldsAFullPointer) {
    HWND window = MakeWindow("user-data");
    static int marker;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&marker));
    EXPECT_EQ(reinterpret_cast<int*>(GetWindowLongPtrA(window, GWLP_USERDATA)), &marker);
    DestroyWindow(window);
    EXPECT_EQ(GetWindowLongPtrA(window, GWLP_USERDATA), 0);
}

TEST(Win32Runtime, ItoaWritesLikeTheCRuntime) {
    char buffer[40];
    EXPECT_STREQ(itoa(0, buffer, 10), "0");
    EXPECT_STREQ(itoa(1234, buffer, 10), "1234");
    EXPECT_STREQ(itoa(-56, buffer, 10), "-56");
    EXPECT_STREQ(itoa(255, buffer, 16), "ff");
    EXPECT_STREQ(itoa(-1, buffer, 16), "ffffffff");
    EXPECT_STREQ(itoa(-2147483647 - 1, buffer, 10), "-2147483648");
}

TEST(Win32Runtime, PerformanceCounterIsMonotonic) {
    LARGE_INTEGER frequency, a, b;
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    EXPECT_GT(frequency.QuadPart, 0);
    QueryPerformanceCounter(&a);
    QueryPerformanceCounter(&b);
    EXPECT_GE(b.QuadPart, a.QuadPart);
}

namespace {

int64_t Counter() {
    LARGE_INTEGER value;
    QueryPerformanceCounter(&value);
    return value.QuadPart;
}

void TurnPump() {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);
}

}  // namespace

TEST(Win32Runtime, FrameTimeMovesTheCounterPerPumpTurnOnly) {
    struct Case {
        const char* value;
        int64_t step;  // nanoseconds per PeekMessageA call
    };
    LARGE_INTEGER frequency;
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    for (Case c : {Case{"0.0166667", 16666700}, Case{"0.25", 250000000}, Case{"1", 1000000000}, Case{"0", 0}}) {
        SCOPED_TRACE(c.value);
        setenv("LUMARET_FRAME_TIME", c.value, 1);
        int64_t start = Counter();
        Sleep(15);
        EXPECT_EQ(Counter(), start) << "the wall clock leaked in";
        for (int turn = 1; turn <= 3; ++turn) {
            TurnPump();
            EXPECT_EQ(Counter() - start, turn * c.step);
        }
        // The frequency is unchanged, so a frame timer sees exactly S seconds per turn.
        EXPECT_EQ(frequency.QuadPart, 1000000000);
    }
    unsetenv("LUMARET_FRAME_TIME");
}

namespace {

LRESULT CALLBACK QuitOnDestroy(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcA(window, message, wParam, lParam);
}

// A minimal main loop: one pump turn, clear, present, until WM_QUIT. Each frame's colour
// says which loop turn it is (green) and what the counter said (red, in 0.25 s steps).
int RunColourLoop() {
    WNDCLASSA cls{};
    cls.lpfnWndProc = QuitOnDestroy;
    cls.lpszClassName = "frame-clock";
    RegisterClassA(&cls);
    HWND window = CreateWindowExA(0, cls.lpszClassName, "frame clock", WS_VISIBLE, 0, 0, 32, 32, nullptr, nullptr,
                                  nullptr, nullptr);
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS parameters{};
    parameters.BackBufferWidth = 32;
    parameters.BackBufferHeight = 32;
    parameters.BackBufferFormat = D3DFMT_A8R8G8B8;
    parameters.BackBufferCount = 1;
    parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
    parameters.hDeviceWindow = window;
    parameters.Windowed = TRUE;
    IDirect3DDevice9* device = nullptr;
    if (!d3d || d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, D3DCREATE_HARDWARE_VERTEXPROCESSING,
                                  &parameters, &device) != D3D_OK)
        return 3;
    int64_t start = Counter();
    for (int turn = 1; turn < 50; ++turn) {
        MSG msg;
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) break;
            DispatchMessageA(&msg);
        }
        int64_t quarterSeconds = (Counter() - start) / 250000000;
        device->Clear(0, nullptr, D3DCLEAR_TARGET,
                      D3DCOLOR_ARGB(255, static_cast<int>(quarterSeconds * 20), turn * 20, 0), 1.0f, 0);
        device->Present(nullptr, nullptr, nullptr, nullptr);
    }
    device->Release();
    d3d->Release();
    return 0;
}

}  // namespace

TEST(Win32RuntimeDeathTest, HeadlessScreenshotIsFrameNAtNTimesTheFrameTime) {
    // A fresh process: the headless frame count and the screenshot are once per process. The
    // child runs the test from its start, so the screenshot needs a path both agree on.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::string shot = lumaret::test::BuildDir() + "/tests/frame-clock-screenshot.png";
    std::filesystem::remove(shot);
    EXPECT_EXIT(
        {
            setenv("LUMARET_HEADLESS_FRAMES", "3", 1);
            setenv("LUMARET_SCREENSHOT", shot.c_str(), 1);
            setenv("LUMARET_FRAME_TIME", "0.25", 1);
            std::exit(RunColourLoop());
        },
        testing::ExitedWithCode(0), "");
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    ASSERT_TRUE(lumaret::test::ReadPng(shot, &width, &height, &pixels));
    std::filesystem::remove(shot);
    ASSERT_EQ(pixels.size(), 32u * 32u);
    EXPECT_EQ(pixels[0] & 0xFFFFFF, 0x3C3C00u) << std::hex << pixels[0];
}

TEST(Win32RuntimeDeathTest, PlatformVariablesOutsideTheirFormStopTheProgram) {
    // Every variable is checked when the window system starts, the same way: a value that
    // is not of the variable's form ends the process with status 2 and one line naming it.
    struct Case {
        const char* variable;
        const char* value;
        const char* screenshot = nullptr;  // LUMARET_SCREENSHOT for the case
    };
    const Case cases[] = {
        // Frames that would never be saved: without a file name, or past the run's 3 frames.
        {"LUMARET_SCREENSHOT_FRAMES", "2"},      {"LUMARET_SCREENSHOT_FRAMES", "1,4", "/tmp/shot.png"},
        {"LUMARET_HEADLESS_FRAMES", "abc"},      {"LUMARET_HEADLESS_FRAMES", "-5"},
        {"LUMARET_HEADLESS_FRAMES", "3 frames"}, {"LUMARET_HEADLESS_FRAMES", "99999999999999999999"},
        {"LUMARET_FRAME_TIME", "fast"},          {"LUMARET_FRAME_TIME", "0.5s"},
        {"LUMARET_FRAME_TIME", "-0.1"},          {"LUMARET_FRAME_TIME", "nan"},
        {"LUMARET_FRAME_TIME", "1e9"},           {"LUMARET_SCREENSHOT_FRAMES", "1,x,3"},
        {"LUMARET_SCREENSHOT_FRAMES", "0"},      {"LUMARET_SCREENSHOT_FRAMES", "1,,2"},
        {"LUMARET_GL_DEBUG", "yes"},             {"LUMARET_GL_ERRORS_FATAL", "2"},
        {"LUMARET_NO_MESSAGE_BOX", "true"},      {"LUMARET_SCREENSHOT", "/no/such/directory/shot.png"},
        {"LUMARET_MAX_FRAMES", "-1"},            {"LUMARET_PASS_SYNC", "on"},            {"LUMARET_SHADER_CACHE", "yes"},
        {"LUMARET_PASS_TIMES", "/no/dir/p.tsv"}, {"LUMARET_PASS_TIMES", "/tmp/"},
    };
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.variable) + "=" + c.value);
        EXPECT_EXIT(
            {
                setenv(c.variable, c.value, 1);
                setenv("LUMARET_HEADLESS_FRAMES", std::strcmp(c.variable, "LUMARET_HEADLESS_FRAMES") ? "3" : c.value, 1);
                if (c.screenshot) setenv("LUMARET_SCREENSHOT", c.screenshot, 1);
                std::exit(RunColourLoop());
            },
            testing::ExitedWithCode(2), std::string("^lumaret: ") + c.variable + " is ");
    }
}

TEST(Win32RuntimeDeathTest, AScreenshotThatCannotBeWrittenFailsTheRunAndLeavesNoPartialFile) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::string directory = lumaret::test::BuildDir() + "/tests/screenshot-is-a-directory.png";
    std::filesystem::create_directories(directory);
    EXPECT_EXIT(
        {
            setenv("LUMARET_HEADLESS_FRAMES", "3", 1);
            setenv("LUMARET_SCREENSHOT", directory.c_str(), 1);
            std::exit(RunColourLoop());
        },
        testing::ExitedWithCode(3), "could not write the screenshot");
    std::filesystem::remove(directory);
    // A disk that fills up part-way (a file-size limit stands in for it): the write fails,
    // the run says so, and nothing of the PNG is left behind. (The limit cuts the captured
    // stderr short too, so only the start of the line is matched.)
    std::string full = lumaret::test::BuildDir() + "/tests/screenshot-on-a-full-disk.png";
    std::filesystem::remove(full);
    EXPECT_EXIT(
        {
            signal(SIGXFSZ, SIG_IGN);
            rlimit limit;
            limit.rlim_cur = limit.rlim_max = 100;
            setrlimit(RLIMIT_FSIZE, &limit);
            setenv("LUMARET_HEADLESS_FRAMES", "3", 1);
            setenv("LUMARET_SCREENSHOT", full.c_str(), 1);
            std::exit(RunColourLoop());
        },
        testing::ExitedWithCode(3), "could not write the screenshot");
    EXPECT_FALSE(std::filesystem::exists(full));
    EXPECT_FALSE(std::filesystem::exists(full + ".partial"));
}

TEST(Win32Runtime, FindFirstListsFilesAndDirectoriesWithAttributes) {
    lumaret::test::ScopedTempDir dir;
    std::filesystem::create_directory("sub");
    lumaret::test::WriteFileBytes("b.txt", "x");
    lumaret::test::WriteFileBytes("a.hlsl", "");
    _finddata_t data;
    intptr_t handle = _findfirst("./*", &data);
    ASSERT_NE(handle, -1);
    std::set<std::string> files, dirs;
    do {
        ((data.attrib & _A_SUBDIR) ? dirs : files).insert(data.name);
    } while (_findnext(handle, &data) == 0);
    EXPECT_EQ(_findclose(handle), 0);
    EXPECT_EQ(files, (std::set<std::string>{"a.hlsl", "b.txt"}));
    EXPECT_EQ(dirs, (std::set<std::string>{".", "..", "sub"}));
    EXPECT_EQ(_findfirst("./*.none", &data), -1);
    EXPECT_EQ(_findfirst("./missing/*", &data), -1);
}

TEST(Win32Messages, AHeldKeyRaisesTheRepeatCountInsteadOfFloodingTheQueue) {
    // As Win32 does for a program that is behind: autorepeats of the key waiting at the end
    // of the queue add to its repeat count; a first press and another key stay distinct.
    HWND window = MakeQuietWindow("key-repeat");
    ASSERT_NE(window, nullptr);
    MSG msg;
    uint32_t id = lumaret::platform::SdlWindowIdOf(window);
    auto press = [id](SDL_Keycode key, bool repeat) { return PushKeyDown(id, key, repeat); };
    ASSERT_EQ(press(SDLK_a, false), 1);
    for (int i = 0; i < 300; ++i) ASSERT_EQ(press(SDLK_a, true), 1);
    ASSERT_EQ(press(SDLK_b, false), 1);
    ASSERT_EQ(press(SDLK_b, true), 1);
    ASSERT_EQ(press(SDLK_ESCAPE, false), 1);
    std::vector<std::pair<WPARAM, LPARAM>> taken;
    while (taken.size() < 20 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        if (msg.message == WM_KEYDOWN) taken.emplace_back(msg.wParam, msg.lParam & 0x4000FFFF);
    const LPARAM repeat = 1L << 30;
    EXPECT_EQ(taken, (std::vector<std::pair<WPARAM, LPARAM>>{
                         {'A', 1}, {'A', repeat | 300}, {'B', 1}, {'B', repeat | 1}, {VK_ESCAPE, 1}}));
    DestroyWindow(window);
}

TEST(Win32Messages, MouseMotionWaitsBehindKeysAsOneMoveWithTheLatestPosition) {
    // A flood of motion must not delay a key: one message per turn, as the main loop takes
    // them, reaches the key at once, and the motion comes last as a single WM_MOUSEMOVE.
    HWND window = MakeQuietWindow("mouse-flood");
    ASSERT_NE(window, nullptr);
    MSG msg;
    uint32_t id = lumaret::platform::SdlWindowIdOf(window);
    for (int i = 0; i < 10000; ++i) {
        SDL_Event motion{};
        motion.type = SDL_MOUSEMOTION;
        motion.motion.windowID = id;
        motion.motion.x = i % 640;
        motion.motion.y = i / 640;
        ASSERT_EQ(SDL_PushEvent(&motion), 1);
    }
    ASSERT_EQ(PushKeyDown(id, SDLK_ESCAPE, false), 1);
    std::vector<UINT> taken;
    LPARAM lastMove = 0;
    while (taken.size() < 20 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        taken.push_back(msg.message);
        if (msg.message == WM_MOUSEMOVE) lastMove = msg.lParam;
    }
    EXPECT_EQ(taken, (std::vector<UINT>{WM_KEYDOWN, WM_MOUSEMOVE}));
    EXPECT_EQ(lastMove, MAKELPARAM(9999 % 640, 9999 / 640));
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    DestroyWindow(window);
}

TEST(Win32Messages, FilesDroppedOnAWindowThatAcceptsThemArriveAsOneMessagePerDrop) {
    HWND window = MakeQuietWindow("file-drop");
    ASSERT_NE(window, nullptr);
    MSG msg;
    uint32_t id = lumaret::platform::SdlWindowIdOf(window);
    auto push = [id](SDL_EventType type, const char* file) {
        SDL_Event event{};
        event.type = type;
        event.drop.windowID = id;
        event.drop.file = file ? SDL_strdup(file) : nullptr;
        ASSERT_EQ(SDL_PushEvent(&event), 1);
    };
    auto drops = [&] {
        std::vector<std::vector<std::string>> seen;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message != WM_DROPFILES) continue;
            HDROP drop = reinterpret_cast<HDROP>(msg.wParam);
            std::vector<std::string>& files = seen.emplace_back();
            for (UINT i = 0; i < DragQueryFileA(drop, 0xFFFFFFFFu, nullptr, 0); ++i) {
                std::string path(DragQueryFileA(drop, i, nullptr, 0), '?');
                EXPECT_EQ(DragQueryFileA(drop, i, path.data(), static_cast<UINT>(path.size() + 1)), path.size());
                files.push_back(path);
            }
            char cut[4];
            EXPECT_EQ(DragQueryFileA(drop, 0, cut, sizeof(cut)), 3u);
            EXPECT_EQ(std::string(cut), files[0].substr(0, 3)) << "cut to the buffer, NUL-terminated";
            DragFinish(drop);
        }
        return seen;
    };
    push(SDL_DROPFILE, "/tmp/refused.obj");
    EXPECT_TRUE(drops().empty()) << "a window that has not called DragAcceptFiles gets nothing";
    DragAcceptFiles(window, TRUE);
    push(SDL_DROPBEGIN, nullptr);
    push(SDL_DROPFILE, "/tmp/a model/a.gltf");
    push(SDL_DROPFILE, "b.srx");
    push(SDL_DROPCOMPLETE, nullptr);
    push(SDL_DROPFILE, "/tmp/alone.x");
    EXPECT_EQ(drops(), (std::vector<std::vector<std::string>>{{"/tmp/a model/a.gltf", "b.srx"}, {"/tmp/alone.x"}}));
    DragAcceptFiles(window, FALSE);
    push(SDL_DROPFILE, "/tmp/late.obj");
    EXPECT_TRUE(drops().empty());
    DestroyWindow(window);
}

TEST(Win32RuntimeDeathTest, ADisplayThatCannotBeOpenedMeansHeadlessAtOnce) {
    // SDL would quietly fall back to an off-screen driver for a display that names no
    // server; the program would then run invisible and never stop by itself.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        SCOPED_TRACE(variable);
        EXPECT_EXIT(
            {
                unsetenv("DISPLAY");
                unsetenv("WAYLAND_DISPLAY");
                unsetenv("SDL_VIDEODRIVER");
                setenv("XDG_RUNTIME_DIR", "/tmp", 1);
                setenv(variable, std::string(variable) == "DISPLAY" ? ":77" : "lumaret-no-such-socket", 1);
                auto start = std::chrono::steady_clock::now();
                bool headless = lumaret::platform::IsHeadless();
                double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                std::exit(headless && seconds < 1.0 ? 0 : 1);
            },
            testing::ExitedWithCode(0), std::string(variable) + "=.* cannot be opened");
    }
}

namespace {

// An X server of the test's own (Xvfb); the display number comes back through -displayfd.
// It holds none of the test's descriptors and dies with the process that started it.
class VirtualDisplay {
public:
    VirtualDisplay() {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            dup2(fds[1], 3);
            for (int fd = 4; fd < 1024; ++fd) close(fd);
            // -noreset: the test's xdotool calls come and go while the program connects.
            execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "320x240x24", "-nolisten", "tcp", "-noreset",
                   nullptr);
            _exit(127);
        }
        close(fds[1]);
        // The number and its newline may come in separate writes; Xvfb gives up if the
        // pipe closes before it has written both.
        std::string number;
        char c;
        while (pid_ > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        close(fds[0]);
        if (!number.empty()) display_ = ":" + number;
    }
    ~VirtualDisplay() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    const std::string& name() const { return display_; }

private:
    pid_t pid_ = 0;
    std::string display_;
};

bool HaveProgram(const char* name) { return std::system((std::string("command -v ") + name + " >/dev/null").c_str()) == 0; }

// A 32 x 32 windowed device on window, or null.
IDirect3DDevice9* MakeDevice(HWND window) {
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS parameters{};
    parameters.BackBufferWidth = 32;
    parameters.BackBufferHeight = 32;
    parameters.BackBufferFormat = D3DFMT_A8R8G8B8;
    parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
    parameters.hDeviceWindow = window;
    parameters.Windowed = TRUE;
    IDirect3DDevice9* device = nullptr;
    if (d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, 0, &parameters, &device) != D3D_OK)
        device = nullptr;
    d3d->Release();  // the device holds its own reference
    return device;
}

}  // namespace

TEST(Win32RuntimeDeathTest, AWindowDestroyedFromOutsideClosesCleanly) {
    // xdotool windowclose destroys the X window under the program, as a window manager
    // killing it would: that is the window's closing, not an X error.
    if (!HaveProgram("Xvfb") || !HaveProgram("xdotool")) GTEST_SKIP() << "Xvfb or xdotool missing";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            VirtualDisplay display;
            if (display.name().empty()) std::exit(3);
            setenv("DISPLAY", display.name().c_str(), 1);
            unsetenv("WAYLAND_DISPLAY");
            gSeen.clear();
            HWND window = MakeWindow("destroyed-outside");
            if (!window || !lumaret::platform::SdlWindowOf(window)) std::exit(4);
            IDirect3DDevice9* device = MakeDevice(window);
            if (!device) std::exit(5);
            bool quit = false;
            for (int frame = 0; frame < 200 && !quit; ++frame) {
                if (frame == 5) {
                    if (std::system("xdotool search --name '^test$' windowclose") != 0) std::exit(6);
                }
                MSG msg;
                if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                    quit = msg.message == WM_QUIT;
                    if (!quit) DispatchMessageA(&msg);
                }
                device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF336699, 1.0f, 0);
                device->Present(nullptr, nullptr, nullptr, nullptr);
            }
            device->Release();
            bool closed = gSeen == (std::vector<UINT>{WM_CLOSE, WM_DESTROY});
            std::exit(quit && closed ? 0 : 7);
        },
        testing::ExitedWithCode(0), "");
}

// A window made without WS_VISIBLE takes a device and draws unseen, then ShowWindow maps it
// (the viewer keeps its window hidden until the model it reads meanwhile is ready).
TEST(Win32RuntimeDeathTest, AHiddenWindowIsMappedOnlyByShowWindow) {
    if (!HaveProgram("Xvfb") || !HaveProgram("xdotool")) GTEST_SKIP() << "Xvfb or xdotool missing";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            VirtualDisplay display;
            if (display.name().empty()) std::exit(3);
            setenv("DISPLAY", display.name().c_str(), 1);
            unsetenv("WAYLAND_DISPLAY");
            WNDCLASSA cls{};
            cls.lpfnWndProc = Recorder;
            cls.lpszClassName = "hidden";
            RegisterClassA(&cls);
            HWND window = CreateWindowExA(0, "hidden", "lumaret-hidden", 0, 0, 0, 32, 32, nullptr, nullptr, nullptr,
                                          nullptr);
            if (!window || !lumaret::platform::SdlWindowOf(window)) std::exit(4);
            IDirect3DDevice9* device = MakeDevice(window);
            if (!device) std::exit(5);
            auto mapped = [] {
                return std::system("xdotool search --onlyvisible --name '^lumaret-hidden$' >/dev/null") == 0;
            };
            auto frames = [&](int count) {
                for (int frame = 0; frame < count; ++frame) {
                    MSG msg;
                    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
                    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF336699, 1.0f, 0);
                    device->Present(nullptr, nullptr, nullptr, nullptr);
                }
            };
            frames(3);
            if (mapped()) std::exit(6);
            if (ShowWindow(window, SW_SHOW) != FALSE) std::exit(7);  // it was hidden
            bool shown = false;
            for (int i = 0; i < 50 && !shown; ++i) {
                frames(1);
                shown = mapped();
            }
            if (!shown) std::exit(8);
            if (ShowWindow(window, SW_HIDE) != TRUE) std::exit(9);  // it was visible
            device->Release();
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
}

TEST(Win32RuntimeDeathTest, MaxFramesClosesTheWindowWithOrWithoutADisplay) {
    // LUMARET_MAX_FRAMES=N posts WM_CLOSE on the Nth pump turn (the window's own start-up
    // messages are long taken by then); headless it overrides an unbounded headless limit.
    constexpr int kFrames = 20;
    for (bool windowed : {false, true}) {
        SCOPED_TRACE(windowed ? "in a window" : "headless");
        if (windowed && !HaveProgram("Xvfb")) {
            std::printf("Xvfb missing: the windowed case is left out\n");
            continue;
        }
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        EXPECT_EXIT(
            {
                VirtualDisplay* display = windowed ? new VirtualDisplay : nullptr;
                if (windowed && display->name().empty()) std::exit(100);
                if (windowed) setenv("DISPLAY", display->name().c_str(), 1);
                else unsetenv("DISPLAY");
                unsetenv("WAYLAND_DISPLAY");
                setenv("LUMARET_HEADLESS_FRAMES", "0", 1);
                setenv("LUMARET_MAX_FRAMES", std::to_string(kFrames).c_str(), 1);
                HWND window = MakeWindow(windowed ? "max-frames-window" : "max-frames-headless");
                if (!window || (lumaret::platform::SdlWindowOf(window) != nullptr) != windowed) std::exit(101);
                for (int turn = 1; turn <= 3 * kFrames; ++turn) {
                    MSG msg;
                    if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) && msg.message == WM_CLOSE) std::exit(turn);
                }
                std::exit(102);
            },
            testing::ExitedWithCode(kFrames), "");
    }
}
