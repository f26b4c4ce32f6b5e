// Writing a converted model's files all together or not at all.
//
// Each file is written under a temporary name beside its final one, every write and the
// close checked; only when all of them are complete are they renamed into place, the SRX
// file last. A failure (a full disk, a file-size limit, a directory that cannot be
// written) removes the temporary files and leaves whatever was there before untouched.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace srxconvert {

struct OutputFile {
    std::filesystem::path path;
    std::vector<uint8_t> bytes;
};

// Empty when every file is in place, else what failed ("cannot write PATH: reason").
std::string WriteAllOrNothing(const std::vector<OutputFile>& files);

}  // namespace srxconvert
