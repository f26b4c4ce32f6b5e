#include "d3dx9/DecodedImageCache.h"

#include "d3dx9/Fnv1a.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace lumaret::platform {

DecodedImageCache& DecodedImageCache::Shared() {
    // Never destroyed: worker threads may still be decoding while the program exits.
    static DecodedImageCache* cache = new DecodedImageCache;
    return *cache;
}

std::list<std::shared_ptr<DecodedImageCache::Entry>>::iterator DecodedImageCache::Find(const void* data, size_t size,
                                                                                       uint64_t hash) {
    return std::find_if(entries_.begin(), entries_.end(), [&](const std::shared_ptr<Entry>& entry) {
        return entry->hash == hash && entry->file.size() == size && std::memcmp(entry->file.data(), data, size) == 0;
    });
}

void DecodedImageCache::Remove(const std::shared_ptr<Entry>& entry) {
    auto it = std::find(entries_.begin(), entries_.end(), entry);
    if (it == entries_.end()) return;
    held_ -= entry->footprint;
    entries_.erase(it);
}

void DecodedImageCache::Prepare(const void* data, size_t size, const std::function<HRESULT(DecodedImage&)>& decode) {
    uint64_t hash = Fnv1a(data, size);
    std::shared_ptr<Entry> entry;
    try {
        std::lock_guard<std::mutex> lock(mutex_);
        // Full: this one is left to the texture's creation. Evicting would drop the
        // oldest, which are the ones wanted next.
        if (held_ + size > kHeldBytes || Find(data, size, hash) != entries_.end()) return;
        entry = std::make_shared<Entry>();
        entry->file.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
        entry->hash = hash;
        entry->footprint = size;  // the copy kept to tell the bytes apart counts too
        held_ += entry->footprint;
        entries_.push_back(entry);
    } catch (...) {
        return;  // decoding ahead is only ever a saving
    }
    HRESULT result = E_FAIL;
    try {
        result = decode(entry->image);
    } catch (...) {
        result = E_FAIL;  // whatever went wrong, a waiter gets its answer below
    }
    std::lock_guard<std::mutex> lock(mutex_);
    entry->done = true;
    size_t decoded = 0;
    for (const ImageSurface& surface : entry->image.surfaces) decoded += surface.bytes.size();
    if (FAILED(result) || held_ + decoded > kHeldBytes) {
        Remove(entry);
    } else {
        entry->footprint += decoded;
        held_ += decoded;
    }
    decoded_.notify_all();
}

bool DecodedImageCache::Take(const void* data, size_t size, DecodedImage& image) {
    uint64_t hash = Fnv1a(data, size);
    std::unique_lock<std::mutex> lock(mutex_);
    auto it = Find(data, size, hash);
    if (it == entries_.end()) return false;
    std::shared_ptr<Entry> entry = *it;
    decoded_.wait(lock, [&] { return entry->done; });
    // A failed or evicted decode has left the list.
    if (std::find(entries_.begin(), entries_.end(), entry) == entries_.end()) return false;
    image = std::move(entry->image);
    Remove(entry);
    return true;
}

size_t DecodedImageCache::HeldBytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return held_;
}

}  // namespace lumaret::platform
