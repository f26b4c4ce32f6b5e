#include "OutputFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace srxconvert {

namespace fs = std::filesystem;

namespace {

std::string Failure(const fs::path& path, int error) {
    return "cannot write " + path.string() + ": " + std::strerror(error);
}

// What stands at an output's final path, if it cannot be replaced by a regular file:
// followed through links, since a link to a directory or a device is just as wrong.
std::string Refusal(const fs::path& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        // Nothing there (or a dangling link, which the rename replaces): fine. Any other
        // error (a parent that is a file, no permission) shows up when writing.
        return {};
    }
    if (S_ISDIR(info.st_mode)) return "cannot write " + path.string() + ": is a directory";
    if (!S_ISREG(info.st_mode)) return "cannot write " + path.string() + ": is not a regular file";
    return {};
}

// The same file whatever the spelling: the lexical absolute form, and for files that
// already exist their device and inode (hard links, links, ./ and ../ all meet there).
bool SameFile(const fs::path& a, const fs::path& b) {
    std::error_code code;
    if (fs::absolute(a, code).lexically_normal() == fs::absolute(b, code).lexically_normal()) return true;
    struct stat x {}, y {};
    return stat(a.c_str(), &x) == 0 && stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

// A new file beside path that nobody else made: O_EXCL fails on anything already there,
// a planted link included, so the name is simply moved on. Returns the descriptor or -1.
int CreateTemporary(const fs::path& path, fs::path& temporary, int& error) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = path;
        temporary += ".partial" + std::to_string(getpid()) + (attempt ? "-" + std::to_string(attempt) : "");
        int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) return fd;
        error = errno;
        if (error != EEXIST) return -1;
    }
    return -1;
}

// Every piece, then the close, which is where some file systems first report that the
// data did not fit.
std::string WriteAll(int fd, const fs::path& shownAs, const BytePieces& pieces) {
    if (int error = WriteFully(fd, pieces); error != 0) {
        close(fd);
        return Failure(shownAs, error);
    }
    if (close(fd) != 0) return Failure(shownAs, errno);
    return {};
}

// A second name for an existing output, so a rename that fails after it was replaced can
// put it back. Empty when there is nothing there to keep.
fs::path KeepOld(const fs::path& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) return {};
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path kept = path;
        kept += ".old" + std::to_string(getpid()) + (attempt ? "-" + std::to_string(attempt) : "");
        if (link(path.c_str(), kept.c_str()) == 0) return kept;
        if (errno != EEXIST) break;
    }
    return {};
}

}  // namespace

std::string WriteAllOrNothing(const std::vector<OutputFile>& files) {
    for (size_t i = 0; i < files.size(); ++i) {
        if (std::string refusal = Refusal(files[i].path); !refusal.empty()) return refusal;
        for (size_t j = 0; j < i; ++j)
            if (SameFile(files[i].path, files[j].path))
                return "cannot write " + files[i].path.string() +
                       (files[i].path == files[j].path ? ": the model's image of that name is written there too"
                                                       : ": it is the same file as " + files[j].path.string()) +
                       "; name another output";
    }

    std::vector<fs::path> temporaries;
    auto removeTemporaries = [&] {
        for (const fs::path& path : temporaries) unlink(path.c_str());
    };
    for (const OutputFile& file : files) {
        fs::path temporary;
        int error = 0;
        int fd = CreateTemporary(file.path, temporary, error);
        if (fd < 0) {
            removeTemporaries();
            return Failure(file.path, error);
        }
        temporaries.push_back(temporary);
        if (std::string failure = WriteAll(fd, file.path, file.pieces); !failure.empty()) {
            removeTemporaries();
            return failure;
        }
    }

    // The old files stay reachable under a second name until every rename has succeeded.
    std::vector<fs::path> kept;
    for (const OutputFile& file : files) kept.push_back(KeepOld(file.path));
    auto dropKept = [&] {
        for (const fs::path& path : kept)
            if (!path.empty()) unlink(path.c_str());
    };
    for (size_t i = 0; i < files.size(); ++i)
        if (std::rename(temporaries[i].c_str(), files[i].path.c_str()) != 0) {
            std::string failure = Failure(files[i].path, errno);
            for (size_t j = 0; j < i; ++j) {
                if (!kept[j].empty())
                    std::rename(kept[j].c_str(), files[j].path.c_str());
                else
                    unlink(files[j].path.c_str());
            }
            for (size_t j = i; j < files.size(); ++j) unlink(temporaries[j].c_str());
            dropKept();
            return failure;
        }
    dropKept();
    return {};
}

}  // namespace srxconvert
