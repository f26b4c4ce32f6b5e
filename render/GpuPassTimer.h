// GpuPassTimer: the device's time for each named piece of a frame (the passes, each
// post-processing step) and for the whole frame, from Direct3D 9 timestamp queries.
//
// While a timer is active, every PerfEvent also issues a timestamp at its start and end,
// and the frame loop brackets the frame (BeginFrame/EndFrame) with a disjoint query and two
// timestamps of its own. The queries of a frame are read kFramesInFlight frames later, by
// which time the device has long passed them, and without D3DGETDATA_FLUSH: when they are
// not ready, that frame goes unmeasured rather than waiting, so measuring never stalls the
// frame. Times are averaged over one second and published once a second. Nothing is
// created until a timer exists (the full HUD creates one), so frames without it are as
// before. Recording a frame allocates nothing.
#pragma once

#include <d3d9.h>

#include <string>
#include <vector>

class GpuPassTimer {
public:
    static constexpr int kFramesInFlight = 4;
    static constexpr int kMarksPerFrame = 48;  // events timed per frame; more are left out

    // The timer PerfEvent reports to, or null.
    static GpuPassTimer* active;

    explicit GpuPassTimer(IDirect3DDevice9* device);
    ~GpuPassTimer();
    GpuPassTimer(const GpuPassTimer&) = delete;
    GpuPassTimer& operator=(const GpuPassTimer&) = delete;

    // False when the device has no timestamp queries; the timer then records nothing.
    bool Available() const { return available_; }

    // `time` in seconds on the frame clock: it decides when a second of samples is complete.
    void BeginFrame(float time);
    void EndFrame();
    // A PerfEvent's edges; the name must outlive the frame (the engine's are literals).
    void Begin(LPCWSTR name);
    void End();

    struct PassTime {
        std::string name;  // "frame" for the whole frame
        int depth = 0;     // 0 for the frame, 1 for a pass, 2 for a step inside one
        float ms = 0.0f;
    };
    // The averages of the last complete second, the frame first, then the events in the
    // order the frame runs them; empty until a second has been measured.
    const std::vector<PassTime>& Times() const { return published_; }
    // Frames whose queries were read, and frames left unmeasured because the device had
    // not finished the frame kFramesInFlight earlier.
    long measuredFrames = 0, skippedFrames = 0;

private:
    struct Mark {
        LPCWSTR name;
        int depth;
        int begin, end;  // indices into the frame's timestamps
    };
    struct FrameQueries {
        IDirect3DQuery9* disjoint = nullptr;
        IDirect3DQuery9* frequency = nullptr;
        IDirect3DQuery9* stamps[2 * kMarksPerFrame + 2] = {};
        Mark marks[kMarksPerFrame] = {};
        int markCount = 0, stampCount = 0;
        bool pending = false;  // issued and not yet read
    };
    struct Sum {
        std::string name;
        int depth;
        double ms = 0.0;
        long count = 0;
    };

    int Stamp();
    bool Collect(FrameQueries& frame);
    void Accumulate(LPCWSTR name, int depth, double ms);

    IDirect3DDevice9* device_;
    bool available_ = false;
    FrameQueries frames_[kFramesInFlight];
    int current_ = 0;
    bool recording_ = false;  // this frame's queries are being issued
    int openMarks_[kMarksPerFrame] = {};
    int openCount_ = 0;
    std::vector<Sum> sums_;
    float windowStart_ = -1.0f;
    long windowFrames_ = 0;
    std::vector<PassTime> published_;
};
