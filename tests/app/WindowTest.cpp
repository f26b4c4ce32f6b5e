// Window input through the real message path: SDL events in, Win32 messages out, the
// window procedure updating the record.
#include "app/Window.h"

#include "app/Log.h"
#include "support/TempDir.h"
#include "win32/WindowSystem.h"

#include <SDL.h>
#include <gtest/gtest.h>

using lumaret::test::ReadFileBytes;
using lumaret::test::ScopedTempDir;

namespace {

class WindowInput : public testing::Test {
protected:
    void SetUp() override {
        Log::Open();
        window.create(50, 50, 320, 240, 1);
        ASSERT_NE(window.handle, nullptr);
        id = lumaret::platform::SdlWindowIdOf(window.handle);
    }

    void PushKey(bool down, SDL_Keycode key, bool repeat = false) {
        SDL_Event event{};
        event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        event.key.windowID = id;
        event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
        event.key.repeat = repeat;
        event.key.keysym.sym = key;
        SDL_PushEvent(&event);
    }

    void PushButton(bool down, uint8_t button, int x, int y) {
        SDL_Event event{};
        event.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
        event.button.windowID = id;
        event.button.button = button;
        event.button.x = x;
        event.button.y = y;
        SDL_PushEvent(&event);
    }

    void PushMotion(int x, int y) {
        SDL_Event event{};
        event.type = SDL_MOUSEMOTION;
        event.motion.windowID = id;
        event.motion.x = x;
        event.motion.y = y;
        SDL_PushEvent(&event);
    }

    // Handles one queued message the way the main loop does; false when none waited.
    bool DispatchOne(UINT* message = nullptr) {
        MSG msg;
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
        if (message) *message = msg.message;
        if (msg.message == WM_QUIT) return true;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        return true;
    }

    void DispatchAll() {
        while (DispatchOne()) {
        }
    }

    ScopedTempDir dir;
    Window window;
    uint32_t id = 0;
};

}  // namespace

TEST_F(WindowInput, EscapeAutoRepeatLogsEachKeyDownMessageAndHoldsTheKey) {
    PushKey(true, SDLK_ESCAPE);
    PushKey(true, SDLK_ESCAPE, true);
    PushKey(true, SDLK_ESCAPE, true);
    DispatchAll();
    EXPECT_EQ(window.KeyState[VK_ESCAPE], 1);
    // The press, then the two autorepeats that waited together as one message (repeat
    // count 2), as Win32 delivers them to a program that is behind.
    EXPECT_EQ(ReadFileBytes("log.txt"), "Lumaret Engine Log\n\nESC!\nESC!\n");
    PushKey(false, SDLK_ESCAPE);
    DispatchAll();
    EXPECT_EQ(window.KeyState[VK_ESCAPE], 0);
}

TEST_F(WindowInput, KeysArriveAsVirtualKeyCodesOneMessagePerPeek) {
    PushKey(true, SDLK_a);
    PushKey(true, SDLK_F5);
    UINT message = 0;
    ASSERT_TRUE(DispatchOne(&message));
    EXPECT_EQ(message, static_cast<UINT>(WM_KEYDOWN));
    EXPECT_EQ(window.KeyState[int{'A'}], 1);
    EXPECT_EQ(window.KeyState[VK_F5], 0) << "the second key waits for the next peek";
    ASSERT_TRUE(DispatchOne());
    EXPECT_EQ(window.KeyState[VK_F5], 1);
}

TEST_F(WindowInput, MouseButtonsFormABitSet) {
    PushButton(true, SDL_BUTTON_LEFT, 10, 20);
    PushButton(true, SDL_BUTTON_RIGHT, 11, 21);
    DispatchAll();
    EXPECT_EQ(window.MouseButtons, 3u);
    EXPECT_EQ(window.mouseX, 11);
    EXPECT_EQ(window.mouseY, 21);
    PushButton(false, SDL_BUTTON_LEFT, 12, 22);
    DispatchAll();
    EXPECT_EQ(window.MouseButtons, 2u);
    PushButton(true, SDL_BUTTON_MIDDLE, 0, 0);
    DispatchAll();
    EXPECT_EQ(window.MouseButtons, 6u);
}

TEST_F(WindowInput, MousePositionsAreUnsignedSixteenBitWords) {
    PushMotion(-1, -2);
    DispatchAll();
    EXPECT_EQ(window.mouseX, 65535);
    EXPECT_EQ(window.mouseY, 65534);
    PushMotion(300, 200);
    DispatchAll();
    EXPECT_EQ(window.mouseX, 300);
    EXPECT_EQ(window.mouseY, 200);
}

TEST_F(WindowInput, SecondCreateOnlyResizes) {
    HWND first = window.handle;
    window.create(10, 20, 100, 80, 1);
    EXPECT_EQ(window.handle, first);
    EXPECT_EQ(window.width, 100);
    EXPECT_EQ(window.height, 80);
    RECT client;
    ASSERT_TRUE(GetClientRect(window.handle, &client));
    EXPECT_EQ(client.right, 100);
    EXPECT_EQ(ReadFileBytes("log.txt"),
              "Lumaret Engine Log\n\nWindow::create: Window already created, resizing only.\n");
}

TEST_F(WindowInput, CloseRequestDestroysTheWindowAndPostsQuit) {
    SDL_Event event{};
    event.type = SDL_WINDOWEVENT;
    event.window.windowID = id;
    event.window.event = SDL_WINDOWEVENT_CLOSE;
    SDL_PushEvent(&event);
    UINT message = 0;
    ASSERT_TRUE(DispatchOne(&message));
    EXPECT_EQ(message, static_cast<UINT>(WM_CLOSE));
    EXPECT_FALSE(IsWindow(window.handle));
    ASSERT_TRUE(DispatchOne(&message));
    EXPECT_EQ(message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(ReadFileBytes("log.txt"), "Lumaret Engine Log\n\nWM_DESTROY\n");
    window.destroy();  // on a window that is gone: only clears the fields
    EXPECT_EQ(window.handle, nullptr);
}

TEST(Window, SerialNumbersNameTheClasses) {
    Window a;
    Window b;
    EXPECT_EQ(b.id, a.id + 1);
    a.create(0, 0, 64, 64, 2);
    ASSERT_NE(a.handle, nullptr);
    // The class "a.id" exists now, so registering it again fails.
    char name[16];
    itoa(a.id, name, 10);
    WNDCLASSA cls{};
    cls.lpfnWndProc = &Window::DefaultProcedure;
    cls.lpszClassName = name;
    EXPECT_EQ(RegisterClassA(&cls), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
}

TEST(Window, StyleBitsFollowTheStyleArgument) {
    EXPECT_EQ(Window::StyleBits(0), 0x96000000u);
    EXPECT_EQ(Window::StyleBits(1), 0x16040000u);
    EXPECT_EQ(Window::StyleBits(7), 0x16000000u);
}
