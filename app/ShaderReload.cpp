#include "app/ShaderReload.h"

#include "app/Log.h"
#include "render/Renderer.h"

namespace {

constexpr float kLookInterval = 0.25f;   // seconds between looks at the files
constexpr float kMessageSeconds = 5.0f;  // how long a failure stays on screen
const std::string kNoMessage;

}  // namespace

ShaderReload::ShaderReload(Renderer& renderer, bool watch) : renderer_(renderer), watch_(watch) {
    if (!watch_) return;
    for (int i = 0; i < renderer.ShaderCount(); ++i) {
        const std::string& path = renderer.shaders[static_cast<size_t>(i)].path;
        if (!path.empty()) files_.push_back(Watched{i, FileWatch(path)});
    }
}

void ShaderReload::Poll(float seconds) {
    if (!watch_ || seconds < nextLook_) return;
    nextLook_ = seconds + kLookInterval;
    for (Watched& watched : files_) {
        if (!watched.file.Look()) continue;
        const std::string& path = watched.file.Path();
        std::string error;
        if (renderer_.ReloadShader(watched.shader, &error)) {
            Log::Write("Shader reloaded: %s\n", path.c_str());
            if (seconds < messageUntil_) messageUntil_ = -1.0f;
        } else {
            Log::Write("Shader reload failed: %s\n%s", path.c_str(), error.c_str());
            message_ = "Shader reload failed: " + path + "\n" + error;
            messageUntil_ = seconds + kMessageSeconds;
        }
    }
}

const std::string& ShaderReload::Message(float seconds) const {
    return seconds < messageUntil_ ? message_ : kNoMessage;
}
