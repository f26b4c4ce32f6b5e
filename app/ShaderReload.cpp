#include "app/ShaderReload.h"

#include "app/Log.h"
#include "render/Renderer.h"
#include "resources/FileUtil.h"

namespace {

constexpr float kLookInterval = 0.25f;   // seconds between looks at the files
constexpr float kMessageSeconds = 5.0f;  // how long a failure stays on screen
const std::string kNoMessage;

}  // namespace

ShaderReload::ShaderReload(Renderer& renderer, bool watch) : renderer_(renderer), watch_(watch) {
    if (!watch_) return;
    for (int i = 0; i < renderer.ShaderCount(); ++i) {
        const std::string& path = renderer.shaders[static_cast<size_t>(i)].path;
        if (!path.empty()) files_.push_back(Watched{i, path, StampOf(path), {}, false});
    }
}

ShaderReload::Stamp ShaderReload::StampOf(const std::string& path) {
    std::error_code error;
    Stamp stamp;
    std::string file = DataFilePath(path);
    stamp.time = std::filesystem::last_write_time(file, error);
    stamp.size = error ? 0 : std::filesystem::file_size(file, error);
    return stamp;
}

void ShaderReload::Poll(float seconds) {
    if (!watch_ || seconds < nextLook_) return;
    nextLook_ = seconds + kLookInterval;
    for (Watched& file : files_) {
        Stamp now = StampOf(file.path);
        if (now == file.loaded) {
            file.changing = false;
            continue;
        }
        // Changed since the last compile: wait until two looks agree.
        if (!file.changing || !(now == file.pending)) {
            file.changing = true;
            file.pending = now;
            continue;
        }
        file.changing = false;
        file.loaded = now;
        std::string error;
        if (renderer_.ReloadShader(file.shader, &error)) {
            Log::Write("Shader reloaded: %s\n", file.path.c_str());
            if (seconds < messageUntil_) messageUntil_ = -1.0f;
        } else {
            Log::Write("Shader reload failed: %s\n%s", file.path.c_str(), error.c_str());
            message_ = "Shader reload failed: " + file.path + "\n" + error;
            messageUntil_ = seconds + kMessageSeconds;
        }
    }
}

const std::string& ShaderReload::Message(float seconds) const {
    return seconds < messageUntil_ ? message_ : kNoMessage;
}
