#include "support/Processes.h"

#include "support/TempDir.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace lumaret::test {

pid_t ChildNamed(pid_t parent, const std::string& name) {
    std::error_code error;
    for (std::filesystem::directory_iterator it("/proc", error), end; !error && it != end; it.increment(error)) {
        std::string pid = it->path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string stat = ReadFileBytes(it->path().string() + "/stat");
        size_t open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        int parentOfIt = 0;
        char state = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &parentOfIt) != 2) continue;
        if (parentOfIt == parent && stat.substr(open + 1, close - open - 1) == name && state != 'Z')
            return static_cast<pid_t>(std::atol(pid.c_str()));
    }
    return -1;
}

bool Alive(pid_t pid) {
    std::string stat = ReadFileBytes("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

}  // namespace lumaret::test
