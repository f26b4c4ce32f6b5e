// A file's bytes as pieces laid end to end.
//
// A converted model's SRX is its headers and then each mesh's streams as they were made.
// Joining them into one array would copy the whole file once more, and touch as many fresh
// pages, only to write it out: to a file (srxconvert) or to the memory file the viewer's
// import child hands back. So the pieces go to the descriptor as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace srxconvert {

using BytePieces = std::vector<std::vector<uint8_t>>;

size_t TotalSize(const BytePieces& pieces);

// Every byte of every piece, in order, through short writes and interruptions: 0, or the
// errno of the failure (ENOSPC for a write that took nothing).
int WriteFully(int fd, const BytePieces& pieces);

}  // namespace srxconvert
