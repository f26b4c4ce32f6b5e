// The SRX bytes an import child hands back (ModelImport.h), in a memory file sealed
// against writing, growing and shrinking.
//
// Through the socket, a large model's bytes crossed in pieces of a few megabytes, a switch
// between the two processes each, after the child had joined the conversion's pieces into
// one array. The child now writes the pieces once into a memory file and passes its
// descriptor; the viewer reads the file whole in one call. Its size is checked against the
// seals first, so the child can neither change it nor make it larger than it said while
// the viewer reads.
#pragma once

#include "BytePieces.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace viewer {

// A new memory file holding the pieces end to end, sealed; -1 with why on failure.
int SealedMemoryFile(const srxconvert::BytePieces& pieces, std::string& why);

// The whole of a sealed memory file of at most maxSize bytes. Takes the descriptor (closed
// before returning); false with why when it is not a sealed memory file, too large or
// cannot be read.
bool ReadSealedMemoryFile(int descriptor, size_t maxSize, std::vector<uint8_t>& bytes, std::string& why);

}  // namespace viewer
