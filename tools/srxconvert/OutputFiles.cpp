#include "OutputFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace srxconvert {

namespace {

std::string Failure(const std::filesystem::path& path, int error) {
    return "cannot write " + path.string() + ": " + std::strerror(error);
}

// The whole buffer, through short writes and interruptions; then the close, which is where
// some file systems first report that the data did not fit.
std::string WriteFile(const std::filesystem::path& path, const std::filesystem::path& shownAs,
                      const std::vector<uint8_t>& bytes) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return Failure(shownAs, errno);
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int error = n < 0 ? errno : ENOSPC;
            close(fd);
            return Failure(shownAs, error);
        }
        done += static_cast<size_t>(n);
    }
    if (close(fd) != 0) return Failure(shownAs, errno);
    return {};
}

}  // namespace

std::string WriteAllOrNothing(const std::vector<OutputFile>& files) {
    std::vector<std::filesystem::path> written;
    auto removeWritten = [&] {
        for (const std::filesystem::path& path : written) unlink(path.c_str());
    };
    std::string suffix = ".partial" + std::to_string(getpid());
    for (const OutputFile& file : files) {
        std::filesystem::path temporary = file.path;
        temporary += suffix;
        written.push_back(temporary);
        if (std::string failure = WriteFile(temporary, file.path, file.bytes); !failure.empty()) {
            removeWritten();
            return failure;
        }
    }
    for (size_t i = 0; i < files.size(); ++i)
        if (std::rename(written[i].c_str(), files[i].path.c_str()) != 0) {
            std::string failure = Failure(files[i].path, errno);
            removeWritten();
            return failure;
        }
    return {};
}

}  // namespace srxconvert
