// Where the viewer finds its own data: the pass shaders, the font and the default images.
//
// The viewer is run from any folder, on models anywhere, so it never reads the working
// directory's ./data/: it looks beside its program (data/, as the build tree has it) and
// then in the installed data folder (PREFIX/share/lumaret/data for PREFIX/bin/viewer), and
// takes the first folder that holds every file it needs.
#pragma once

#include <optional>
#include <string>

namespace viewer {

// The data folder, or nothing with why (the folders looked in and what they lack).
std::optional<std::string> FindViewerData(std::string& why);

}  // namespace viewer
