#include "resources/ShaderInclude.h"

#include "resources/FileUtil.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

constexpr size_t kLargestInclude = size_t{1} << 20;

bool PlainFileName(const char* name) {
    size_t length = name ? std::strlen(name) : 0;
    return length > 0 && length < 256 && name[0] != '.' && !std::strpbrk(name, "/\\:");
}

}  // namespace

HRESULT WINAPI ShaderFolderInclude::Open(D3DXINCLUDE_TYPE, LPCSTR name, LPCVOID, LPCVOID* data, UINT* bytes) {
    if (!data || !bytes) return E_FAIL;
    *data = nullptr;
    *bytes = 0;
    if (!PlainFileName(name)) return E_FAIL;
    std::optional<std::vector<uint8_t>> file = ReadWholeFile(DataFilePath(folder_ + name));
    if (!file || file->size() > kLargestInclude) return E_FAIL;
    char* text = new char[file->size() + 1];
    std::copy(file->begin(), file->end(), text);
    text[file->size()] = '\0';
    *data = text;
    *bytes = static_cast<UINT>(file->size());
    return S_OK;
}

HRESULT WINAPI ShaderFolderInclude::Close(LPCVOID data) {
    delete[] static_cast<const char*>(data);
    return S_OK;
}

std::string ShaderFolderInclude::FolderOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string("./data/") : path.substr(0, slash + 1);
}

std::vector<std::string> IncludedFileNames(const char* text, size_t size) {
    std::vector<std::string> names;
    for (size_t at = 0; at < size;) {
        const char* start = text + at;
        const char* end = static_cast<const char*>(std::memchr(start, '\n', size - at));
        size_t length = end ? static_cast<size_t>(end - start) : size - at;
        at += length + 1;
        size_t i = 0;
        while (i < length && (start[i] == ' ' || start[i] == '\t')) ++i;
        if (i >= length || start[i] != '#') continue;
        ++i;
        while (i < length && (start[i] == ' ' || start[i] == '\t')) ++i;
        if (length - i < 7 || std::memcmp(start + i, "include", 7) != 0) continue;
        i += 7;
        while (i < length && (start[i] == ' ' || start[i] == '\t')) ++i;
        if (i >= length || (start[i] != '"' && start[i] != '<')) continue;
        char close = start[i] == '"' ? '"' : '>';
        const char* nameStart = start + i + 1;
        const char* nameEnd = static_cast<const char*>(std::memchr(nameStart, close, length - i - 1));
        if (!nameEnd || nameEnd == nameStart) continue;
        std::string name(nameStart, nameEnd);
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(std::move(name));
    }
    return names;
}
