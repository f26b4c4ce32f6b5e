#include "BytePieces.h"

#include <unistd.h>

#include <cerrno>

namespace srxconvert {

size_t TotalSize(const BytePieces& pieces) {
    size_t size = 0;
    for (const std::vector<uint8_t>& piece : pieces) size += piece.size();
    return size;
}

int WriteFully(int fd, const BytePieces& pieces) {
    for (const std::vector<uint8_t>& piece : pieces) {
        size_t done = 0;
        while (done < piece.size()) {
            ssize_t n = write(fd, piece.data() + done, piece.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return n < 0 ? errno : ENOSPC;
            done += static_cast<size_t>(n);
        }
    }
    return 0;
}

}  // namespace srxconvert
