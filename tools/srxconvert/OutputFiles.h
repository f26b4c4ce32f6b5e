// Writing a converted model's files all together or not at all.
//
// Every final path is checked before anything is written: an existing output must be a
// regular file (a device or a FIFO would be silently replaced by one, a directory cannot
// be), and no two outputs may be the same file under any spelling. Each file is then
// written under a temporary name beside its final one, created exclusively and never
// through a link planted there, every write and the close checked; only when all of them
// are complete are they renamed into place, the SRX file last. A failure (a full disk, a
// file-size limit, a directory that cannot be written, a rename refused half way) removes
// the temporary files and puts back whatever was there before.
#pragma once

#include "BytePieces.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace srxconvert {

struct OutputFile {
    std::filesystem::path path;
    BytePieces pieces;  // written end to end
};

// Empty when every file is in place, else what failed ("cannot write PATH: reason").
std::string WriteAllOrNothing(const std::vector<OutputFile>& files);

}  // namespace srxconvert
