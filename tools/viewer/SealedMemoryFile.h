// The SRX bytes an import child hands back (ModelImport.h), in a memory file sealed
// against writing, growing and shrinking.
//
// Through the socket, a large model's bytes crossed in pieces of a few megabytes, a switch
// between the two processes each, after the child had joined the conversion's pieces into
// one array. The child now writes the pieces once into a memory file and passes its
// descriptor; the viewer maps the file and reads the model where it lies (ModelBytes.h).
// The seals are checked first, so the child can neither change the file under the mapping
// nor cut it short (which would fault the viewer's reads).
#pragma once

#include "BytePieces.h"
#include "ModelBytes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace viewer {

// A new memory file holding the pieces end to end, sealed; -1 with why on failure.
int SealedMemoryFile(const srxconvert::BytePieces& pieces, std::string& why);

// The whole of a sealed memory file of at most maxSize bytes, mapped. Takes the descriptor
// (closed before returning); false with why when it is not a sealed memory file, too
// large or cannot be mapped.
bool ReadSealedMemoryFile(int descriptor, size_t maxSize, ModelBytes& bytes, std::string& why);

}  // namespace viewer
