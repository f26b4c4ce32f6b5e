// Images decoded ahead of the texture that needs them.
//
// D3DXGetImageInfoFromFileInMemory decodes the whole file here (levels completed to a full
// chain) and keeps the result, keyed by the file's exact bytes; the
// D3DXCreateTextureFromFileInMemory that follows with the same bytes takes it instead of
// decoding again. A program that asks for its images' information on a worker thread, as
// the engine does while its device is being created, so gets the decoding off its main
// thread. Past kHeldBytes (the files' bytes, kept to tell them apart, and the decoded
// levels) nothing more is decoded ahead: the oldest results are the ones wanted next, so
// none is dropped for a newer one. Every decode, however it ends (an exception included),
// answers whoever waits on it.
#pragma once

#include "d3dx9/ImageSurface.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

namespace lumaret::platform {

class DecodedImageCache {
public:
    static constexpr size_t kHeldBytes = 256u << 20;

    // The one cache D3DX's image functions share.
    static DecodedImageCache& Shared();

    // Runs decode for these bytes and keeps a successful result, unless the same bytes are
    // held or being decoded already. A failure is not kept: the texture's creation decodes
    // again and reports it.
    void Prepare(const void* data, size_t size, const std::function<HRESULT(DecodedImage&)>& decode);

    // Moves out the result for exactly these bytes, waiting while they are being decoded;
    // false when there is none.
    bool Take(const void* data, size_t size, DecodedImage& image);

    size_t HeldBytes() const;

private:
    struct Entry {
        std::vector<uint8_t> file;
        uint64_t hash = 0;
        bool done = false;  // decoding finished (successfully: the entry is kept only then)
        size_t footprint = 0;
        DecodedImage image;
    };
    std::list<std::shared_ptr<Entry>>::iterator Find(const void* data, size_t size, uint64_t hash);
    void Remove(const std::shared_ptr<Entry>& entry);

    mutable std::mutex mutex_;
    std::condition_variable decoded_;
    std::list<std::shared_ptr<Entry>> entries_;  // oldest first
    size_t held_ = 0;
};

}  // namespace lumaret::platform
