#include "render/GpuPassTimer.h"

GpuPassTimer* GpuPassTimer::active = nullptr;

namespace {

// Event names are plain ASCII in the engine; anything else shows as '?'.
bool SameName(LPCWSTR wide, const std::string& narrow) {
    size_t i = 0;
    for (; wide[i]; ++i)
        if (i >= narrow.size() || (wide[i] < 128 ? static_cast<char>(wide[i]) : '?') != narrow[i]) return false;
    return i == narrow.size();
}

std::string Narrow(LPCWSTR wide) {
    std::string text;
    for (; *wide; ++wide) text += *wide > 0 && *wide < 128 ? static_cast<char>(*wide) : '?';
    return text;
}

void Release(IDirect3DQuery9*& query) {
    if (query) query->Release();
    query = nullptr;
}

}  // namespace

GpuPassTimer::GpuPassTimer(IDirect3DDevice9* device) : device_(device) {
    available_ = device_ && device_->CreateQuery(D3DQUERYTYPE_TIMESTAMP, nullptr) == D3D_OK &&
                 device_->CreateQuery(D3DQUERYTYPE_TIMESTAMPDISJOINT, nullptr) == D3D_OK &&
                 device_->CreateQuery(D3DQUERYTYPE_TIMESTAMPFREQ, nullptr) == D3D_OK;
    for (FrameQueries& frame : frames_) {
        if (!available_) break;
        available_ = device_->CreateQuery(D3DQUERYTYPE_TIMESTAMPDISJOINT, &frame.disjoint) == D3D_OK &&
                     device_->CreateQuery(D3DQUERYTYPE_TIMESTAMPFREQ, &frame.frequency) == D3D_OK;
    }
    sums_.push_back(Sum{"frame", 0});
}

GpuPassTimer::~GpuPassTimer() {
    if (active == this) active = nullptr;
    for (FrameQueries& frame : frames_) {
        Release(frame.disjoint);
        Release(frame.frequency);
        for (IDirect3DQuery9*& stamp : frame.stamps) Release(stamp);
    }
}

int GpuPassTimer::Stamp() {
    FrameQueries& frame = frames_[current_];
    constexpr int kStamps = static_cast<int>(sizeof(frame.stamps) / sizeof(frame.stamps[0]));
    if (frame.stampCount >= kStamps) return -1;
    IDirect3DQuery9*& query = frame.stamps[frame.stampCount];
    // Made the first time a frame needs this many; kept for the timer's life.
    if (!query && device_->CreateQuery(D3DQUERYTYPE_TIMESTAMP, &query) != D3D_OK) return -1;
    query->Issue(D3DISSUE_END);
    return frame.stampCount++;
}

void GpuPassTimer::BeginFrame(float time) {
    recording_ = false;
    if (!available_) return;
    if (windowStart_ < 0.0f) windowStart_ = time;
    if (time - windowStart_ >= 1.0f && windowFrames_ > 0) {
        published_.clear();
        for (Sum& sum : sums_) {
            if (sum.count > 0) published_.push_back({sum.name, sum.depth, static_cast<float>(sum.ms / windowFrames_)});
            sum.ms = 0.0;
            sum.count = 0;
        }
        windowFrames_ = 0;
        windowStart_ = time;
    }
    FrameQueries& frame = frames_[current_];
    if (frame.pending && !Collect(frame)) {
        ++skippedFrames;
        return;
    }
    frame.markCount = frame.stampCount = 0;
    openCount_ = 0;
    recording_ = true;
    frame.disjoint->Issue(D3DISSUE_BEGIN);
    Stamp();
}

void GpuPassTimer::EndFrame() {
    if (!recording_) return;
    FrameQueries& frame = frames_[current_];
    // The frame's own end goes last, so it is the last stamp whatever the events did.
    while (openCount_ > 0) End();
    if (Stamp() < 0) frame.stampCount = 0;  // no room left for the frame's end: nothing to read
    frame.disjoint->Issue(D3DISSUE_END);
    frame.frequency->Issue(D3DISSUE_END);
    frame.pending = frame.stampCount >= 2;
    recording_ = false;
    current_ = (current_ + 1) % kFramesInFlight;
}

void GpuPassTimer::Begin(LPCWSTR name) {
    if (!recording_ || openCount_ >= kMarksPerFrame) return;
    FrameQueries& frame = frames_[current_];
    int index = -1;
    if (frame.markCount < kMarksPerFrame) {
        int stamp = Stamp();
        if (stamp >= 0) {
            index = frame.markCount++;
            frame.marks[index] = Mark{name, openCount_ + 1, stamp, -1};
        }
    }
    openMarks_[openCount_++] = index;
}

void GpuPassTimer::End() {
    if (!recording_ || openCount_ == 0) return;
    int index = openMarks_[--openCount_];
    if (index >= 0) frames_[current_].marks[index].end = Stamp();
}

bool GpuPassTimer::Collect(FrameQueries& frame) {
    BOOL disjoint = FALSE;
    UINT64 frequency = 0;
    if (frame.disjoint->GetData(&disjoint, sizeof(disjoint), 0) != D3D_OK) return false;
    if (frame.frequency->GetData(&frequency, sizeof(frequency), 0) != D3D_OK) return false;
    UINT64 stamps[sizeof(frame.stamps) / sizeof(frame.stamps[0])];
    for (int i = 0; i < frame.stampCount; ++i)
        if (frame.stamps[i]->GetData(&stamps[i], sizeof(UINT64), 0) != D3D_OK) return false;
    frame.pending = false;
    // A changed clock (a power state, another adapter) makes the frame's numbers meaningless.
    if (disjoint || frequency == 0) return true;
    auto ms = [&](int begin, int end) {
        return begin < 0 || end < 0 || stamps[end] < stamps[begin]
                   ? 0.0
                   : static_cast<double>(stamps[end] - stamps[begin]) * 1000.0 / static_cast<double>(frequency);
    };
    sums_[0].ms += ms(0, frame.stampCount - 1);
    ++sums_[0].count;
    for (int i = 0; i < frame.markCount; ++i) {
        const Mark& mark = frame.marks[i];
        if (mark.end >= 0) Accumulate(mark.name, mark.depth, ms(mark.begin, mark.end));
    }
    ++measuredFrames;
    ++windowFrames_;
    return true;
}

void GpuPassTimer::Accumulate(LPCWSTR name, int depth, double ms) {
    for (size_t i = 1; i < sums_.size(); ++i) {
        if (sums_[i].depth == depth && SameName(name, sums_[i].name)) {
            sums_[i].ms += ms;
            ++sums_[i].count;
            return;
        }
    }
    sums_.push_back(Sum{Narrow(name), depth, ms, 1});
}
