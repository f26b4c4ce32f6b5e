// ModelWatch: the files a model was read from (the model, its material library, glTF
// buffers, images), watched for saves so that the viewer can load the model again.
//
// Each file is watched from the state it was read in, not from whenever the watch begins:
// a save made while the model was being read or loaded is a change like any later one.
// A change is taken once its writer is done with it. Where the kernel says so (inotify:
// the file closed after writing, or another file moved onto its name, as editors that
// save atomically do) the change counts when the file still looks as it did at that close,
// so a writer that pauses half-way through a save is never caught. Without it, or for a
// change made before its folder was watched, the file must look the same at two looks in a
// row, as FileWatch does for the shaders. It does not follow a link that is itself
// replaced; the file watched is the one the link led to when the model was read.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace viewer {

// A file's last write (nanoseconds) and size; modified -1: no such file.
struct FileStamp {
    int64_t modified = -1;
    int64_t size = -1;
    bool operator==(const FileStamp&) const = default;
    static FileStamp Of(const std::string& path);
};

struct WatchedFile {
    std::string path;  // resolved
    FileStamp read;    // as it was when read
};

class ModelWatch {
public:
    ModelWatch();
    ~ModelWatch();
    ModelWatch(const ModelWatch&) = delete;
    ModelWatch& operator=(const ModelWatch&) = delete;

    // Starts hearing of saves in a folder before anything in it is read (the model's own, at
    // start), so that a save during the read is told as it closes.
    void WatchFolder(const std::string& folder);
    // From now on these files, in place of the ones watched so far.
    void Watch(std::vector<WatchedFile> files);
    // One look: the path of a file whose save is complete and differs from what was read
    // (the files are then taken as they are, so that one save is told once), or empty.
    std::string Look();
    // False when the kernel does not tell of closes: only the two looks hold.
    bool Notified() const { return notify_ >= 0; }

private:
    struct Entry {
        WatchedFile file;
        bool byLooks = false;   // changed before its folder was watched
        FileStamp pending;      // a change seen at the last look
        bool changing = false;
    };
    void Drain();
    bool FolderWatched(const std::string& folder) const;

    int notify_ = -1;
    std::map<int, std::string> folders_;  // inotify watch -> folder
    // Each file closed after writing or moved into place in those folders, as it looked
    // then; kept across Watch, since a save heard while a model loads belongs to the next.
    std::map<std::string, FileStamp> closes_;
    std::vector<Entry> entries_;
};

}  // namespace viewer
