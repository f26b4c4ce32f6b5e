#include "app/MessagePump.h"

#include "app/Log.h"

#include <windows.h>

bool PumpOneMessage() {
    MSG msg;
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return true;
    if (msg.message == WM_QUIT) {
        Log::Write("WM_QUIT\n");
        return false;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    return true;
}
