#include "resources/FileUtil.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <filesystem>
#include <system_error>

namespace {
char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

void LowercaseInPlace(std::string& text) {
    for (char& c : text) c = LowerAscii(c);
}

void LowercaseInPlace(char* text) {
    if (!text) return;
    for (; *text; ++text) *text = LowerAscii(*text);
}

bool IsImageExtension(const std::string& extension) {
    return extension == "jpg" || extension == "tga" || extension == "dds" || extension == "png" || extension == "bmp";
}

std::string FileExtension(const std::string& path) {
    size_t dot = path.rfind('.');
    if (dot == std::string::npos) return std::string();
    std::string extension = path.substr(dot + 1);
    LowercaseInPlace(extension);
    return extension;
}

std::string NormalizePath(const std::string& path) {
    std::string normal = path;
    LowercaseInPlace(normal);
    for (char& c : normal)
        if (c == '\\') c = '/';
    return normal;
}

std::string FileNameOfPath(const std::string& path) {
    std::string normal = NormalizePath(path);
    size_t slash = normal.rfind('/');
    return slash == std::string::npos ? normal : normal.substr(slash + 1);
}

std::string StripExtension(const std::string& path) {
    std::string normal = NormalizePath(path);
    size_t dot = normal.rfind('.');
    return dot == std::string::npos ? normal : normal.substr(0, dot);
}

namespace {
constexpr char kDataPrefix[] = "./data/";
std::string gDataFolder;  // with its trailing '/'; empty: the working directory's ./data/
}  // namespace

void SetDataFolder(const std::string& folder) {
    gDataFolder = folder.empty() || folder.back() == '/' ? folder : folder + "/";
}

std::string DataFilePath(const std::string& path) {
    if (gDataFolder.empty() || path.compare(0, sizeof(kDataPrefix) - 1, kDataPrefix) != 0) return path;
    return gDataFolder + path.substr(sizeof(kDataPrefix) - 1);
}

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& name, std::string* why) {
    const std::string path = DataFilePath(name);
    std::string ignored;
    std::string& reason = why ? *why : ignored;
    // A directory opens for reading on POSIX systems and reports a meaningless size, so
    // only regular files are read.
    std::error_code error;
    std::filesystem::file_status status = std::filesystem::status(path, error);
    if (status.type() == std::filesystem::file_type::not_found) {
        reason = "does not exist";
        return std::nullopt;
    }
    if (status.type() == std::filesystem::file_type::directory) {
        reason = "is a directory, not a file";
        return std::nullopt;
    }
    if (status.type() != std::filesystem::file_type::regular) {
        reason = error ? "cannot be looked at (" + error.message() + ")" : "is not a regular file";
        return std::nullopt;
    }
    errno = 0;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        reason = std::string("cannot be opened (") + std::strerror(errno) + ")";
        return std::nullopt;
    }
    std::optional<std::vector<uint8_t>> result;
    reason = "cannot be read";
    if (std::fseek(file, 0, SEEK_END) == 0) {
        long size = std::ftell(file);
        if (size >= 0 && static_cast<uint64_t>(size) > kLargestDataFile) {
            reason = "is " + std::to_string(size) + " bytes, more than the " + std::to_string(kLargestDataFile >> 20) +
                     " MiB any resource can use";
        } else if (size >= 0 && std::fseek(file, 0, SEEK_SET) == 0) {
            try {
                std::vector<uint8_t> bytes(static_cast<size_t>(size));
                if (std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size()) result = std::move(bytes);
            } catch (const std::bad_alloc&) {
                reason = "does not fit in memory (" + std::to_string(size) + " bytes)";
            }
        }
    }
    std::fclose(file);
    if (result) reason.clear();
    return result;
}
