// FrameTimer: seconds since the main loop started, refreshed once per frame from the
// performance counter. No fixed step and no frame-rate limit.
#pragma once

#include <cstdint>

class FrameTimer {
public:
    FrameTimer();
    bool Start();
    void Update();

    float time = 0.0f;
    float previousTime = 0.0f;
    float delta = 0.0f;
    uint64_t frequency = 0;
    uint64_t elapsed = 0;
    uint64_t start = 0;
};
