#include "resources/DirectoryWalk.h"

#include "resources/FileUtil.h"

#include <io.h>

std::vector<std::string> ListFiles(const std::string& directory, bool recurse, const std::string& pattern) {
    std::vector<std::string> result;
    std::string base = directory;
    if (!base.empty() && base.back() != '\\' && base.back() != '/') base += '/';
    _finddata_t entry;
    intptr_t search = _findfirst((base + pattern).c_str(), &entry);
    if (search == -1) return result;
    do {
        if (!(entry.attrib & _A_SUBDIR)) {
            result.push_back(base + entry.name);
            continue;
        }
        if (!recurse) continue;
        std::string name = entry.name;
        LowercaseInPlace(name);
        if (name == "." || name == ".." || name == "svn") continue;
        // Entered under its own spelling: on a case-sensitive file system the lower-cased
        // name would not open. Registry keys are lower-cased anyway.
        std::vector<std::string> below = ListFiles(base + entry.name, true, "*");
        result.insert(result.end(), below.begin(), below.end());
    } while (_findnext(search, &entry) == 0);
    _findclose(search);
    return result;
}
