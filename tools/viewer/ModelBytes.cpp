#include "ModelBytes.h"

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

}  // namespace

ModelBytes& ModelBytes::operator=(ModelBytes&& other) noexcept {
    if (this != &other) {
        Release();
        owned_ = std::move(other.owned_);
        other.owned_.clear();
        descriptor_ = other.descriptor_;
        mapped_ = other.mapped_;
        mappedSize_ = other.mappedSize_;
        other.descriptor_ = -1;
        other.mapped_ = nullptr;
        other.mappedSize_ = 0;
    }
    return *this;
}

void ModelBytes::Release() {
    if (mapped_) munmap(const_cast<uint8_t*>(mapped_), mappedSize_);
    if (descriptor_ >= 0) close(descriptor_);
    descriptor_ = -1;
    mapped_ = nullptr;
    mappedSize_ = 0;
}

ModelBytes ModelBytes::MapSealed(int descriptor, size_t maxSize, std::string& why) {
    ModelBytes bytes;
    struct stat status {};
    int seals = fcntl(descriptor, F_GET_SEALS);
    if (seals < 0) {
        why = Reason("its model is not in a memory file", errno);
    } else if ((seals & kSeals) != kSeals) {
        why = "its model's memory file is not sealed";
    } else if (fstat(descriptor, &status) != 0) {
        why = Reason("cannot look at its model's memory file", errno);
    } else if (status.st_size <= 0 || static_cast<uint64_t>(status.st_size) > maxSize) {
        why = "its model's memory file holds " + std::to_string(status.st_size) + " bytes";
    } else {
        size_t size = static_cast<size_t>(status.st_size);
        // Populated at once: the engine's reader goes through every byte right after.
        void* at = mmap(nullptr, size, PROT_READ, MAP_SHARED | MAP_POPULATE, descriptor, 0);
        if (at == MAP_FAILED) {
            why = Reason("cannot map its model's memory file", errno);
        } else {
            bytes.descriptor_ = descriptor;
            bytes.mapped_ = static_cast<const uint8_t*>(at);
            bytes.mappedSize_ = size;
            return bytes;
        }
    }
    close(descriptor);
    return bytes;
}

ModelBytes ModelBytes::Sealed(const srxconvert::BytePieces& pieces, std::string& why) {
    int descriptor = memfd_create("lumaret-model", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (descriptor < 0) {
        why = Reason("cannot make a memory file", errno);
        return {};
    }
    if (int error = srxconvert::WriteFully(descriptor, pieces); error != 0) {
        why = Reason("cannot fill a memory file", error);
    } else if (fcntl(descriptor, F_ADD_SEALS, kSeals | F_SEAL_SEAL) != 0) {
        why = Reason("cannot seal a memory file", errno);
    } else {
        // The writer's own mapping is not populated: it only hands the file on.
        size_t size = srxconvert::TotalSize(pieces);
        void* at = size ? mmap(nullptr, size, PROT_READ, MAP_SHARED, descriptor, 0) : MAP_FAILED;
        if (at == MAP_FAILED) {
            why = size ? Reason("cannot map a memory file", errno) : "nothing to hold";
        } else {
            ModelBytes bytes;
            bytes.descriptor_ = descriptor;
            bytes.mapped_ = static_cast<const uint8_t*>(at);
            bytes.mappedSize_ = size;
            return bytes;
        }
    }
    close(descriptor);
    return {};
}

}  // namespace viewer
