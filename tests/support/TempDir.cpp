#include "support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace lumaret::test {

ScopedTempDir::ScopedTempDir() {
    previous_ = std::filesystem::current_path().string();
    std::string pattern = (std::filesystem::temp_directory_path() / "lumaret-test-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    path_ = made ? made : previous_;
    std::filesystem::current_path(path_);
}

ScopedTempDir::~ScopedTempDir() {
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    if (path_ != previous_) std::filesystem::remove_all(path_, ignored);
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string SourceDir() { return LUMARET_SOURCE_DIR; }
std::string BuildDir() { return LUMARET_BUILD_DIR; }

}  // namespace lumaret::test
