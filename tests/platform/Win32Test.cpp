// The Win32 subset: message queue order and filtering, WM_QUIT, itoa, file search.
#include <io.h>
#include <windows.h>

#include "support/TempDir.h"

#include <gtest/gtest.h>

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

HWND MakeWindow(const char* className) {
    WNDCLASSA cls{};
    cls.lpfnWndProc = Recorder;
    cls.lpszClassName = className;
    RegisterClassA(&cls);
    return CreateWindowExA(0, className, "test", WS_VISIBLE, 0, 0, 32, 32, nullptr, nullptr, nullptr, nullptr);
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
    SetWindowLongA(window, GWL_USERDATA, reinterpret_cast<LONG_PTR>(&marker));
    EXPECT_EQ(reinterpret_cast<int*>(GetWindowLongA(window, GWL_USERDATA)), &marker);
    DestroyWindow(window);
    EXPECT_EQ(GetWindowLongA(window, GWL_USERDATA), 0);
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
