#include "ModelFileAccess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace srxconvert {

namespace fs = std::filesystem;

namespace {

std::string StatProblem(const struct stat& info) {
    if (S_ISDIR(info.st_mode)) return "is a directory";
    if (!S_ISREG(info.st_mode)) return "is not a regular file";
    if (static_cast<uint64_t>(info.st_size) > kMaxFileBytes)
        return "is " + std::to_string(info.st_size) + " bytes, over the limit of " +
               std::to_string(kMaxFileBytes >> 20) + " MiB for a model's file";
    return {};
}

fs::path Resolved(const fs::path& path) {
    char buffer[PATH_MAX];
    return realpath(path.c_str(), buffer) ? fs::path(buffer) : fs::path();
}

bool Inside(const fs::path& file, const fs::path& folder) {
    std::string prefix = folder.string();
    if (prefix.empty() || prefix.back() != '/') prefix += '/';
    return file.string().rfind(prefix, 0) == 0;
}

// Where an open descriptor's file lies now, as the kernel resolved it at open; empty when
// that cannot be told.
fs::path DescriptorPath(int fd) {
    std::error_code error;
    fs::path path = fs::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
    return error ? fs::path() : path;
}

}  // namespace

std::string RegularFileProblem(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return errno == ENOENT ? "no such file" : std::strerror(errno);
    return StatProblem(info);
}

void ModelFileAccess::Allow(const fs::path& modelFile, const fs::path& root) {
    modelFile_ = Resolved(modelFile);
    fs::path folder = modelFile.parent_path();
    roots_ = {Resolved(folder.empty() ? fs::path(".") : folder)};
    if (!root.empty()) roots_.push_back(Resolved(root));
    roots_.erase(std::remove(roots_.begin(), roots_.end(), fs::path()), roots_.end());
}

std::string ModelFileAccess::Problem(const std::string& path, bool* missing) const {
    fs::path real = Resolved(path);
    int error = errno;
    if (missing) *missing = real.empty() && (error == ENOENT || error == ENOTDIR);
    if (real.empty()) return path + ": " + (error == ENOENT ? "no such file" : std::strerror(error));
    if (!Allows(real)) return OutsideLine(path, real);
    if (std::string problem = RegularFileProblem(real); !problem.empty()) return path + " " + problem;
    return {};
}

bool ModelFileAccess::Allows(const fs::path& real) const {
    // The folder itself (a URI of ".") is no file outside it: it is refused as what it is.
    return real == modelFile_ ||
           std::any_of(roots_.begin(), roots_.end(), [&](const fs::path& root) { return real == root || Inside(real, root); });
}

std::string ModelFileAccess::OutsideLine(const std::string& path, const fs::path& real) {
    return "refused '" + path + "': it lies outside the model's folder (" + real.string() +
           "; --root DIR allows a wider folder)";
}

FILE* ModelFileAccess::Open(const std::string& path, std::string& why, uint64_t* bytes) {
    why = Problem(path);
    if (!why.empty()) return nullptr;
    // Non-blocking, so that a FIFO swapped in after the check cannot hold the open.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0 || !(why = StatProblem(info)).empty()) {
        if (why.empty()) why = path + ": " + std::strerror(errno);
        if (fd >= 0) close(fd);
        return nullptr;
    }
    // The name was checked, but a link swapped in since could have led the open elsewhere:
    // what counts is the file the descriptor holds.
    fs::path real = DescriptorPath(fd);
    if (real.empty() || !Allows(real)) {
        why = OutsideLine(path, real);
        Refuse(path, why);
        close(fd);
        return nullptr;
    }
    if (bytes) *bytes = static_cast<uint64_t>(info.st_size);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FILE* file = fdopen(fd, "rb");
    if (!file) {
        why = path + ": " + std::strerror(errno);
        close(fd);
        return nullptr;
    }
    if (!WasRead(path)) {
        read_.push_back({info.st_dev, info.st_ino});
        opened_.push_back({real.string(), info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec,
                           static_cast<int64_t>(info.st_size)});
    }
    return file;
}

bool ModelFileAccess::Read(const std::string& path, std::vector<uint8_t>& bytes, std::string& why) {
    uint64_t size = 0;
    FILE* file = Open(path, why, &size);
    if (!file) return false;
    bytes.clear();
    // No further than the size checked at the open: a file that grows meanwhile is cut there.
    uint8_t buffer[1 << 16];
    size_t count;
    while (bytes.size() < size &&
           (count = std::fread(buffer, 1, std::min<uint64_t>(sizeof(buffer), size - bytes.size()), file)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + count);
    bool ok = !std::ferror(file);
    std::fclose(file);
    if (!ok) why = path + ": read error";
    return ok;
}

bool ModelFileAccess::WasRead(const fs::path& path) const {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return false;
    return std::any_of(read_.begin(), read_.end(),
                       [&](const Identity& id) { return id.device == info.st_dev && id.inode == info.st_ino; });
}

void ModelFileAccess::Refuse(const std::string& path, const std::string& line) {
    fs::path real = Resolved(path);
    if (real.empty()) real = path;
    if (std::find(refused_.begin(), refused_.end(), real) != refused_.end()) return;
    refused_.push_back(real);
    refusals_.push_back(line);
}

}  // namespace srxconvert
