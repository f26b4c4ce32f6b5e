#include "app/ShaderReload.h"

#include "app/Log.h"
#include "render/Renderer.h"

namespace {

constexpr float kLookInterval = 0.25f;   // seconds between looks at the files

}  // namespace

ShaderReload::ShaderReload(Renderer& renderer, bool watch) : renderer_(renderer), watch_(watch) {
    if (!watch_) return;
    for (int i = 0; i < renderer.ShaderCount(); ++i) {
        const std::string& path = renderer.shaders[static_cast<size_t>(i)].path;
        if (!path.empty()) files_.push_back(Watched{i, path, StampOf(path), {}, false, {}, -1.0f});
    }
}

ShaderReload::Stamp ShaderReload::StampOf(const std::string& path) {
    std::error_code error;
    Stamp stamp;
    stamp.time = std::filesystem::last_write_time(path, error);
    stamp.size = error ? 0 : std::filesystem::file_size(path, error);
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
            file.failure.clear();  // this file's own failure only: another file may still be broken
        } else {
            Log::Write("Shader reload failed: %s\n%s", file.path.c_str(), error.c_str());
            file.failure = "Shader reload failed: " + file.path + "\n" + error;
            file.failureUntil = seconds + kMessageSeconds;
        }
    }
}

std::string ShaderReload::Message(float seconds) const {
    std::string message;
    for (const Watched& file : files_)
        if (!file.failure.empty() && seconds < file.failureUntil) message += file.failure;
    return message;
}
