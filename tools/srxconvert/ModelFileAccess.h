// Which files a model may make the tools read, and which it did.
//
// A model names other files: OBJ material libraries, glTF buffers, images. A hostile one
// names /etc/passwd, ../../secret or a link leading out of its folder, and its bytes would
// end up in the SRX file as vertex positions or be copied out as an "image". So every file
// a model names is read through here: it must resolve (links followed) inside the model's
// folder or the wider root the user allows, be a regular file (a FIFO or a device would
// block the read or never end it) and be no larger than kMaxFileBytes (a gigabyte of zeros
// would be read whole before any reader could refuse it). A refused reference gets one
// line naming it. The model file itself is the one the user named, wherever it lies.
//
// Every file read is remembered by device and inode, so that an output that would replace
// one of them (the model's own .mtl, say) is refused whatever name it is given under, and
// by its resolved path with its time and size as opened, so that a viewer can watch the
// files for saves from the state it read rather than from whenever its watch begins.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace srxconvert {

// 512 MiB: an 85 MB OBJ of a million triangles is well inside, a file that would take
// gigabytes to import is not.
constexpr uint64_t kMaxFileBytes = 512ull << 20;

// Empty when path names a regular file of at most kMaxFileBytes, else why not ("is a
// directory", "is not a regular file", "no such file", "is N bytes, over ...").
std::string RegularFileProblem(const std::string& path);

// A file as it was when opened: its last write in nanoseconds since the epoch, its size.
struct OpenedFile {
    std::string path;  // resolved
    int64_t modified = 0;
    int64_t size = 0;
};

class ModelFileAccess {
public:
    // root: a folder whose files the model may also name (empty: its own folder only).
    void Allow(const std::filesystem::path& modelFile, const std::filesystem::path& root);

    // Empty when the model may read path, else one line naming it and why not; missing
    // set when the reason is only that there is no such file.
    std::string Problem(const std::string& path, bool* missing = nullptr) const;
    // Opens path for reading when Problem() is empty (never blocking on a FIFO that takes
    // its place meanwhile), checks again where the opened descriptor leads (a link swapped
    // in after the check is refused) and remembers it; null with the reason otherwise.
    // bytes: the file's size at the open, past which nothing should be read.
    FILE* Open(const std::string& path, std::string& why, uint64_t* bytes = nullptr);
    // A whole file read through Open, no further than its size at the open.
    bool Read(const std::string& path, std::vector<uint8_t>& bytes, std::string& why);

    // True when path is one of the files read (same device and inode).
    bool WasRead(const std::filesystem::path& path) const;
    // Every file read, once each, in the order first opened.
    const std::vector<OpenedFile>& Opened() const { return opened_; }
    // The refused references, each file once (under whichever name came first), in order.
    const std::vector<std::string>& Refusals() const { return refusals_; }
    void Refuse(const std::string& path, const std::string& line);

private:
    bool Allows(const std::filesystem::path& real) const;
    static std::string OutsideLine(const std::string& path, const std::filesystem::path& real);

    struct Identity {
        dev_t device;
        ino_t inode;
    };
    std::filesystem::path modelFile_;
    std::vector<std::filesystem::path> roots_;  // resolved
    std::vector<Identity> read_;
    std::vector<OpenedFile> opened_;
    std::vector<std::string> refusals_;
    std::vector<std::filesystem::path> refused_;
};

}  // namespace srxconvert
