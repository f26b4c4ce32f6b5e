#include "SealedMemoryFile.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace viewer {

namespace {

constexpr int kSeals = F_SEAL_WRITE | F_SEAL_GROW | F_SEAL_SHRINK;

std::string Reason(const char* what, int error) { return std::string(what) + ": " + std::strerror(error); }

bool Read(int descriptor, size_t maxSize, ModelBytes& bytes, std::string& why) {
    struct stat status {};
    int seals = fcntl(descriptor, F_GET_SEALS);
    if (seals < 0) {
        why = Reason("its model is not in a memory file", errno);
        return false;
    }
    if ((seals & kSeals) != kSeals) {
        why = "its model's memory file is not sealed";
        return false;
    }
    if (fstat(descriptor, &status) != 0) {
        why = Reason("cannot look at its model's memory file", errno);
        return false;
    }
    if (status.st_size <= 0 || static_cast<uint64_t>(status.st_size) > maxSize) {
        why = "its model's memory file holds " + std::to_string(status.st_size) + " bytes";
        return false;
    }
    // Private and read-only: the seals keep the child from changing or cutting the file
    // under the mapping; populated at once, in one call rather than a fault a page.
    size_t size = static_cast<size_t>(status.st_size);
    void* at = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, descriptor, 0);
    if (at == MAP_FAILED) {
        why = Reason("cannot map its model's memory file", errno);
        return false;
    }
    bytes = ModelBytes::Mapping(at, size);
    return true;
}

}  // namespace

int SealedMemoryFile(const srxconvert::BytePieces& pieces, std::string& why) {
    int descriptor = memfd_create("lumaret-model", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (descriptor < 0) {
        why = Reason("cannot make a memory file", errno);
        return -1;
    }
    if (int error = srxconvert::WriteFully(descriptor, pieces); error != 0) {
        why = Reason("cannot fill a memory file", error);
    } else if (fcntl(descriptor, F_ADD_SEALS, kSeals | F_SEAL_SEAL) != 0) {
        why = Reason("cannot seal a memory file", errno);
    } else {
        return descriptor;
    }
    close(descriptor);
    return -1;
}

bool ReadSealedMemoryFile(int descriptor, size_t maxSize, ModelBytes& bytes, std::string& why) {
    bytes.Release();
    bool read = Read(descriptor, maxSize, bytes, why);
    close(descriptor);
    return read;
}

}  // namespace viewer
