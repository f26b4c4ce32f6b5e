// FileWatch: one file's modification time and size, for reloading what was read from it.
// A change counts once the file has looked the same at two looks in a row, so an editor
// that saves in two steps is never caught half-way. The owner decides how often to look
// (the shader and model reloads: four times a second).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

class FileWatch {
public:
    FileWatch() = default;
    // Takes the file as it is now.
    explicit FileWatch(std::string path);

    // One look: true when the file has changed since it was taken and looked the same at
    // the previous look; it is then taken as it is.
    bool Look();
    const std::string& Path() const { return path_; }

private:
    struct Stamp {
        std::filesystem::file_time_type time{};
        uintmax_t size = 0;
        bool operator==(const Stamp&) const = default;
    };
    static Stamp StampOf(const std::string& path);

    std::string path_;
    Stamp taken_;    // what was read last
    Stamp pending_;  // a change seen at the last look
    bool changing_ = false;
};
