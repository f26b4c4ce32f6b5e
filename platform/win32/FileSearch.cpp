// _findfirst / _findnext / _findclose over POSIX directories.
#include <io.h>

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

struct Search {
    std::vector<_finddata_t> entries;
    size_t next = 0;
};

std::map<intptr_t, Search>& Searches() {
    static std::map<intptr_t, Search> searches;
    return searches;
}

intptr_t gNextHandle = 1;

}  // namespace

intptr_t _findfirst(const char* filespec, struct _finddata_t* fileinfo) {
    if (!filespec || !fileinfo) return -1;
    std::string requested = filespec;
    size_t slash = requested.find_last_of("/\\");
    std::string directory = slash == std::string::npos ? "." : requested.substr(0, slash + 1);
    std::string pattern = slash == std::string::npos ? requested : requested.substr(slash + 1);
    if (pattern.empty()) return -1;
    DIR* dir = opendir(directory.c_str());
    if (!dir) return -1;
    Search search;
    while (dirent* entry = readdir(dir)) {
        if (fnmatch(pattern.c_str(), entry->d_name, 0) != 0) continue;
        if (std::strlen(entry->d_name) >= sizeof(fileinfo->name)) continue;
        struct stat info;
        std::string full = directory + "/" + entry->d_name;
        if (stat(full.c_str(), &info) != 0) continue;
        _finddata_t data{};
        data.attrib = S_ISDIR(info.st_mode) ? _A_SUBDIR : _A_NORMAL;
        if (entry->d_name[0] == '.' && std::strcmp(entry->d_name, ".") && std::strcmp(entry->d_name, ".."))
            data.attrib |= _A_HIDDEN;
        data.time_create = data.time_access = info.st_atime;
        data.time_write = info.st_mtime;
        data.size = static_cast<_fsize_t>(info.st_size);
        std::strcpy(data.name, entry->d_name);
        search.entries.push_back(data);
    }
    closedir(dir);
    if (search.entries.empty()) return -1;
    // Name order stands in for NTFS's (which is also sorted by name).
    std::sort(search.entries.begin(), search.entries.end(),
              [](const _finddata_t& a, const _finddata_t& b) { return std::strcmp(a.name, b.name) < 0; });
    *fileinfo = search.entries[0];
    search.next = 1;
    intptr_t handle = gNextHandle++;
    Searches().emplace(handle, std::move(search));
    return handle;
}

int _findnext(intptr_t handle, struct _finddata_t* fileinfo) {
    auto it = Searches().find(handle);
    if (it == Searches().end() || !fileinfo || it->second.next >= it->second.entries.size()) return -1;
    *fileinfo = it->second.entries[it->second.next++];
    return 0;
}

int _findclose(intptr_t handle) { return Searches().erase(handle) ? 0 : -1; }
