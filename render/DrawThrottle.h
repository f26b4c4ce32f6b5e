// DrawThrottle: a bound on the triangles handed to the device and not yet drawn.
//
// Mesa's llvmpipe, which this engine draws on in its tests and in software, bins every
// triangle of a draw into its tiles (some 300 bytes a triangle with the geometry passes'
// inputs) before its threads raster them, and while they are behind it takes another bin
// store of up to 36 MB instead of waiting, keeping each until it is used again. A model of
// a million triangles, drawn in the ZN and forward passes, so raised the viewer's peak by
// some 130 MB, and by 180 MB without culling (two-sided faces bin their back faces too);
// the first touch of that memory was also a tenth of the run's time. So a draw of more
// than kBatchTriangles goes out in batches of that many, each followed by an event query
// that is flushed at once; before a batch is handed over, the query of the batch before
// last must be done. At most two batches are in flight: the device rasters one while the
// next is binned. Smaller draws (all of the demo's) go out as they are: cut into batches
// too, the demo's frame cost its device a fifth more time at 1024 x 768, each flush a
// scene of its own for the device to set up.
//
// Nothing drawn changes: the same triangles in the same order, only in more calls. A device
// that makes no event queries is not throttled.
#pragma once

#include <d3d9.h>

#include <cstdint>

class DrawThrottle {
public:
    // Small enough that two batches' bins stay a few megabytes, large enough that a
    // model of a million triangles is 62 draws a pass, not thousands.
    static constexpr uint32_t kBatchTriangles = 16384;

    DrawThrottle() = default;
    DrawThrottle(const DrawThrottle&) = delete;
    DrawThrottle& operator=(const DrawThrottle&) = delete;
    ~DrawThrottle() { Release(); }

    // Before a draw of at most kBatchTriangles triangles on device.
    void BeforeDraw(IDirect3DDevice9* device, uint32_t triangles);
    // The queries go before their device does.
    void Release();

private:
    void Wait(int slot);

    IDirect3DDevice9* device_ = nullptr;  // borrowed: the queries' device
    IDirect3DQuery9* marks_[2] = {};
    bool issued_[2] = {};
    int next_ = 0;
    uint32_t pending_ = 0;  // triangles handed over since the last mark
    bool unavailable_ = false;
};
