#include "render/DrawThrottle.h"

#include <chrono>
#include <thread>

void DrawThrottle::BeforeDraw(IDirect3DDevice9* device, uint32_t triangles) {
    if (unavailable_ || !device) return;
    if (device != device_) {
        Release();
        device_ = device;
    }
    if (pending_ + triangles <= kBatchTriangles) {
        pending_ += triangles;
        return;
    }
    // The batch so far ends here: mark it and send it, then make room for the next.
    IDirect3DQuery9*& mark = marks_[next_];
    if (!mark && FAILED(device_->CreateQuery(D3DQUERYTYPE_EVENT, &mark))) {
        unavailable_ = true;
        return;
    }
    mark->Issue(D3DISSUE_END);
    issued_[next_] = true;
    mark->GetData(nullptr, 0, D3DGETDATA_FLUSH);
    next_ ^= 1;
    Wait(next_);
    pending_ = triangles;
}

void DrawThrottle::Wait(int slot) {
    if (!issued_[slot]) return;
    // Direct3D 9 has no blocking wait on a query; a short sleep leaves the cores to the
    // device's threads, which are what is waited for. The mark went out when it was made:
    // no flush here, which would cut the batch being binned short.
    while (marks_[slot]->GetData(nullptr, 0, 0) == S_FALSE)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    issued_[slot] = false;
}

void DrawThrottle::Release() {
    for (IDirect3DQuery9*& mark : marks_) {
        if (mark) mark->Release();
        mark = nullptr;
    }
    issued_[0] = issued_[1] = false;
    next_ = 0;
    pending_ = 0;
    device_ = nullptr;
}
