// PerfEvent: names a piece of a frame for frame debuggers (PIX, and through the platform
// layer apitrace and RenderDoc) for as long as it lives, with D3DPERF_BeginEvent and
// D3DPERF_EndEvent; while a GpuPassTimer is active it also times the piece on the device.
#pragma once

#include "render/GpuPassTimer.h"

#include <d3d9.h>

class PerfEvent {
public:
    explicit PerfEvent(LPCWSTR name) {
        D3DPERF_BeginEvent(0xFFFFFFFF, name);
        if (GpuPassTimer::active) GpuPassTimer::active->Begin(name);
    }
    ~PerfEvent() {
        if (GpuPassTimer::active) GpuPassTimer::active->End();
        D3DPERF_EndEvent();
    }
    PerfEvent(const PerfEvent&) = delete;
    PerfEvent& operator=(const PerfEvent&) = delete;
};
