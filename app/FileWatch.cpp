#include "app/FileWatch.h"

#include <utility>

FileWatch::FileWatch(std::string path) : path_(std::move(path)), taken_(StampOf(path_)) {}

FileWatch::Stamp FileWatch::StampOf(const std::string& path) {
    std::error_code error;
    Stamp stamp;
    stamp.time = std::filesystem::last_write_time(path, error);
    stamp.size = error ? 0 : std::filesystem::file_size(path, error);
    return stamp;
}

bool FileWatch::Look() {
    Stamp now = StampOf(path_);
    if (now == taken_) {
        changing_ = false;
        return false;
    }
    // Changed since it was taken: wait until two looks agree.
    if (!changing_ || !(now == pending_)) {
        changing_ = true;
        pending_ = now;
        return false;
    }
    changing_ = false;
    taken_ = now;
    return true;
}
