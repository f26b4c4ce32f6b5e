#include "ViewerData.h"

#include <filesystem>
#include <system_error>
#include <vector>

namespace viewer {

namespace fs = std::filesystem;

namespace {

// What the World's passes, PostFX, the text overlay and material fallbacks ask for: the
// build's one list (LUMARET_VIEWER_DATA), which also makes the folder and installs it.
const char* const kNeeded[] = {LUMARET_VIEWER_DATA_FILES};

}  // namespace

std::optional<std::string> FindViewerData(std::string& why) {
    std::error_code error;
    fs::path program = fs::read_symlink("/proc/self/exe", error);
    if (error) {
        why = "cannot tell where the viewer's program is (" + error.message() + ")";
        return std::nullopt;
    }
    fs::path bin = program.parent_path();
    why.clear();
    for (const fs::path& folder : {bin / "data", bin.parent_path() / "share" / "lumaret" / "data"}) {
        std::string missing;
        for (const char* name : kNeeded)
            if (!fs::is_regular_file(folder / name, error)) missing += std::string(missing.empty() ? "" : ", ") + name;
        if (missing.empty()) return folder.string();
        why += (why.empty() ? "" : "; ") + folder.string() +
               (fs::is_directory(folder, error) ? " lacks " + missing : " does not exist");
    }
    why = "cannot find its shaders and font: " + why;
    return std::nullopt;
}

}  // namespace viewer
