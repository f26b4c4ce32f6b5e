#include "resources/DirectoryWalk.h"

#include "resources/FileUtil.h"

#include <io.h>
#include <windows.h>

#include <set>
#include <tuple>

namespace {

// A directory as the file system knows it: volume and file index. Every path that leads
// to it (through symbolic links or junctions) gives the same identity.
using DirectoryIdentity = std::tuple<DWORD, DWORD, DWORD>;

bool IdentityOf(const std::string& directory, DirectoryIdentity* identity) {
    HANDLE handle = CreateFileA(directory.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION information;
    BOOL known = GetFileInformationByHandle(handle, &information);
    CloseHandle(handle);
    if (!known) return false;
    *identity = DirectoryIdentity{information.dwVolumeSerialNumber, information.nFileIndexHigh,
                                  information.nFileIndexLow};
    return true;
}

// Links may lead back up the tree or to a directory met elsewhere; remembering every
// directory entered keeps the walk finite and lists each file once. A directory whose
// identity cannot be read is not entered.
void Walk(const std::string& directory, bool recurse, const std::string& pattern, std::set<DirectoryIdentity>* visited,
          std::vector<std::string>* result) {
    std::string base = directory;
    if (!base.empty() && base.back() != '\\' && base.back() != '/') base += '/';
    DirectoryIdentity identity;
    if (!IdentityOf(base, &identity) || !visited->insert(identity).second) return;
    _finddata_t entry;
    intptr_t search = _findfirst((base + pattern).c_str(), &entry);
    if (search == -1) return;
    do {
        if (!(entry.attrib & _A_SUBDIR)) {
            result->push_back(base + entry.name);
            continue;
        }
        if (!recurse) continue;
        std::string name = entry.name;
        LowercaseInPlace(name);
        if (name == "." || name == ".." || name == "svn") continue;
        // Entered under its own spelling: on a case-sensitive file system the lower-cased
        // name would not open. Registry keys are lower-cased anyway.
        Walk(base + entry.name, true, "*", visited, result);
    } while (_findnext(search, &entry) == 0);
    _findclose(search);
}

}  // namespace

std::vector<std::string> ListFiles(const std::string& directory, bool recurse, const std::string& pattern) {
    std::vector<std::string> result;
    std::set<DirectoryIdentity> visited;
    // Walked where the files are, named as asked: a data folder elsewhere still lists as ./data/.
    std::string real = DataFilePath(directory);
    Walk(real, recurse, pattern, &visited, &result);
    if (real != directory)
        for (std::string& path : result)
            if (path.compare(0, real.size(), real) == 0) path = directory + path.substr(real.size());
    return result;
}
