// A model's SRX bytes as the viewer holds them: an array of its own (an SRX file it read)
// or a read-only mapping of a sealed memory file its import child filled (ModelImport.h).
//
// A large model's bytes used to cross from the child through a socket: two copies, fresh
// pages on the viewer's side and a switch between the processes every few megabytes, a
// tenth of a second on a 20 MB model. The child now writes the conversion's pieces once
// into a memory file (in place of joining them into one array), seals it against writing,
// growing and shrinking, and passes its descriptor; the viewer maps it and the engine reads
// the bytes in place. The seals are checked before the mapping, so the bytes cannot change
// under the engine's reader, whatever the child does after it answered.
#pragma once

#include "BytePieces.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace viewer {

class ModelBytes {
public:
    ModelBytes() = default;
    explicit ModelBytes(std::vector<uint8_t> bytes) : owned_(std::move(bytes)) {}
    ModelBytes(ModelBytes&& other) noexcept { *this = std::move(other); }
    ModelBytes& operator=(ModelBytes&& other) noexcept;
    ModelBytes(const ModelBytes&) = delete;
    ModelBytes& operator=(const ModelBytes&) = delete;
    ~ModelBytes() { Release(); }

    // The pieces, end to end, in a new memory file, sealed and mapped; empty with why on
    // failure.
    static ModelBytes Sealed(const srxconvert::BytePieces& pieces, std::string& why);
    // The bytes of a memory file sealed against writing, growing and shrinking, mapped
    // read-only, at most maxSize of them. Takes the descriptor; on failure the result is
    // empty and why says what was wrong.
    static ModelBytes MapSealed(int descriptor, size_t maxSize, std::string& why);

    const uint8_t* data() const { return mapped_ ? mapped_ : owned_.data(); }
    size_t size() const { return mapped_ ? mappedSize_ : owned_.size(); }
    bool empty() const { return size() == 0; }
    // The memory file's descriptor, for another process to map; -1 for an array.
    int Descriptor() const { return descriptor_; }

private:
    void Release();

    std::vector<uint8_t> owned_;
    int descriptor_ = -1;
    const uint8_t* mapped_ = nullptr;
    size_t mappedSize_ = 0;
};

}  // namespace viewer
