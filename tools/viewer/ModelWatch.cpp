#include "ModelWatch.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <utility>

namespace viewer {

FileStamp FileStamp::Of(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return {};
    return {info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec, static_cast<int64_t>(info.st_size)};
}

ModelWatch::ModelWatch() : notify_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

ModelWatch::~ModelWatch() {
    if (notify_ >= 0) close(notify_);
}

bool ModelWatch::FolderWatched(const std::string& folder) const {
    return std::any_of(folders_.begin(), folders_.end(), [&](const auto& watched) { return watched.second == folder; });
}

void ModelWatch::WatchFolder(const std::string& folder) {
    if (notify_ < 0 || FolderWatched(folder)) return;
    // A close after writing ends a save in place; a move onto the name ends an atomic one.
    int watch = inotify_add_watch(notify_, folder.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO);
    if (watch >= 0) folders_[watch] = folder;
}

void ModelWatch::Watch(std::vector<WatchedFile> files) {
    entries_.clear();
    // Closes heard of other files are of no more use (the folders may see many).
    std::map<std::string, FileStamp> kept;
    for (const WatchedFile& file : files)
        if (auto closed = closes_.find(file.path); closed != closes_.end()) kept.insert(*closed);
    closes_ = std::move(kept);
    for (WatchedFile& file : files) {
        Entry entry;
        std::string folder = std::filesystem::path(file.path).parent_path().string();
        // A folder watched only from now on has told nothing of what happened since the read.
        entry.byLooks = !FolderWatched(folder);
        WatchFolder(folder);
        entry.byLooks = entry.byLooks || !FolderWatched(folder);
        entry.file = std::move(file);
        entries_.push_back(std::move(entry));
    }
}

void ModelWatch::Drain() {
    if (notify_ < 0) return;
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        ssize_t length = read(notify_, buffer, sizeof(buffer));
        if (length <= 0) return;
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            // Events the kernel could not queue are lost: every file is then looked at twice.
            if (event->mask & IN_Q_OVERFLOW)
                for (Entry& entry : entries_) entry.byLooks = true;
            auto folder = folders_.find(event->wd);
            if (folder == folders_.end() || event->len == 0) continue;
            std::string path = folder->second + "/" + event->name;
            closes_[path] = FileStamp::Of(path);
        }
    }
}

std::string ModelWatch::Look() {
    Drain();
    for (Entry& entry : entries_) {
        FileStamp now = FileStamp::Of(entry.file.path);
        if (now == entry.file.read) {
            entry.changing = false;
            continue;
        }
        // The kernel's word on a close counts for every file; the looks only where it cannot
        // speak for the whole change.
        auto closed = closes_.find(entry.file.path);
        bool done = closed != closes_.end() && now == closed->second;
        if (!Notified() || entry.byLooks) {
            bool steady = entry.changing && now == entry.pending;
            entry.changing = !steady;
            entry.pending = now;
            done = done || steady;
        }
        if (!done) continue;
        for (Entry& taken : entries_) {
            taken.file.read = FileStamp::Of(taken.file.path);
            taken.changing = false;
        }
        return entry.file.path;
    }
    return {};
}

}  // namespace viewer
