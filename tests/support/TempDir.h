// Test helpers: a scratch working directory per test, and whole-file reads.
#pragma once

#include <string>

namespace lumaret::test {

// Creates a fresh directory, makes it the working directory, and restores the previous
// working directory (removing the scratch one) when destroyed.
class ScopedTempDir {
public:
    ScopedTempDir();
    ~ScopedTempDir();
    ScopedTempDir(const ScopedTempDir&) = delete;
    ScopedTempDir& operator=(const ScopedTempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::string previous_;
};

// The bytes of a file, or an empty string when it cannot be read.
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

// The directory of the source tree and of the build tree (for data files and programs).
std::string SourceDir();
std::string BuildDir();

}  // namespace lumaret::test
