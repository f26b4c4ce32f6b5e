// PerfEvent: names a piece of a frame for frame debuggers (PIX, and through the platform
// layer apitrace and RenderDoc) for as long as it lives, with D3DPERF_BeginEvent and
// D3DPERF_EndEvent.
#pragma once

#include <d3d9.h>

class PerfEvent {
public:
    explicit PerfEvent(LPCWSTR name) { D3DPERF_BeginEvent(0xFFFFFFFF, name); }
    ~PerfEvent() { D3DPERF_EndEvent(); }
    PerfEvent(const PerfEvent&) = delete;
    PerfEvent& operator=(const PerfEvent&) = delete;
};
