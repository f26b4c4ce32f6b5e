// Benchmarks run in a scratch directory under the system's temporary folder, with ./data
// linked to the repository's data when they load it, as the engine expects. Entering the
// same directory again does nothing.
#pragma once

#include <filesystem>
#include <string>

inline void EnterScratchDirectory(const std::string& name, bool linkData = true) {
    std::filesystem::path scratch = std::filesystem::temp_directory_path() / name;
    if (std::filesystem::current_path() == scratch) return;
    std::filesystem::create_directories(scratch);
    if (linkData) {
        std::filesystem::remove(scratch / "data");
        std::filesystem::create_directory_symlink(std::filesystem::path(LUMARET_SOURCE_DIR) / "data",
                                                  scratch / "data");
    }
    std::filesystem::current_path(scratch);
}
