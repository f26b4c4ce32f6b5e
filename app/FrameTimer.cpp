#include "app/FrameTimer.h"

#include <windows.h>

FrameTimer::FrameTimer() {
    LARGE_INTEGER value;
    QueryPerformanceFrequency(&value);
    frequency = static_cast<uint64_t>(value.QuadPart);
}

bool FrameTimer::Start() {
    LARGE_INTEGER value;
    QueryPerformanceCounter(&value);
    start = static_cast<uint64_t>(value.QuadPart);
    return true;
}

void FrameTimer::Update() {
    LARGE_INTEGER value;
    QueryPerformanceCounter(&value);
    elapsed = static_cast<uint64_t>(value.QuadPart) - start;
    previousTime = time;
    // Counts are converted exactly enough in double; the result is delivered as a float.
    time = static_cast<float>(static_cast<double>(elapsed) / static_cast<double>(frequency));
    delta = time - previousTime;
}
