// The main loop's two ways out, run in a child process so that the process-wide window
// and exit handling behave as in the real program.
#include "app/Engine.h"

#include "support/TempDir.h"
#include "win32/WindowSystem.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using lumaret::test::ReadFileBytes;
using lumaret::test::ScopedTempDir;

namespace {

// Queues an SDL event before the engine starts; the first frame's pump delivers it to
// the window that has the keyboard focus, which by then is the engine's.
void QueueKey(SDL_Keycode key) {
    lumaret::platform::IsHeadless();  // brings up SDL's event queue
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.keysym.sym = key;
    SDL_PushEvent(&event);
}

std::string LogTail(const std::string& log, size_t lines) {
    size_t pos = log.size();
    for (size_t i = 0; i <= lines && pos != std::string::npos && pos > 0; ++i) pos = log.rfind('\n', pos - 1);
    return pos == std::string::npos ? log : log.substr(pos + 1);
}

}  // namespace

TEST(MainLoopDeathTest, EscapeEndsTheLoopWithoutQuitMessage) {
    ScopedTempDir dir;
    EXPECT_EXIT(
        {
            QueueKey(SDLK_ESCAPE);
            setenv("LUMARET_GL_ERRORS_FATAL", "1", 1);
            std::exit(RunEngine(ScreenConfig{640, 480, false}));
        },
        testing::ExitedWithCode(0), "");
    // The static window is destroyed during process exit, after the shutdown line.
    std::string log = ReadFileBytes("log.txt");
    EXPECT_EQ(LogTail(log, 4), "ESC!\nShutting down...\nEngine: PostFX released.\nWM_DESTROY\n") << log;
    EXPECT_EQ(log.find("WM_QUIT"), std::string::npos);
}

TEST(MainLoopDeathTest, ClosingTheWindowDestroysQuitsAndShutsDown) {
    ScopedTempDir dir;
    EXPECT_EXIT(
        {
            setenv("LUMARET_HEADLESS_FRAMES", "3", 1);
            setenv("LUMARET_GL_ERRORS_FATAL", "1", 1);
            std::exit(RunEngine(ScreenConfig{640, 480, false}));
        },
        testing::ExitedWithCode(0), "");
    std::string log = ReadFileBytes("log.txt");
    EXPECT_EQ(LogTail(log, 4), "WM_DESTROY\nWM_QUIT\nShutting down...\nEngine: PostFX released.\n") << log;
}
