#include "app/ShaderReload.h"

#include "app/Log.h"
#include "render/Renderer.h"
#include "resources/FileUtil.h"
#include "resources/ShaderInclude.h"

#include <optional>
#include <vector>

namespace {

constexpr float kLookInterval = 0.25f;   // seconds between looks at the files

}  // namespace

ShaderReload::ShaderReload(Renderer& renderer, bool watch) : renderer_(renderer), watch_(watch) {
    if (!watch_) return;
    for (int i = 0; i < renderer.ShaderCount(); ++i) {
        const std::string& path = renderer.shaders[static_cast<size_t>(i)].path;
        // The file itself may lie in the viewer's data folder rather than ./data/.
        if (path.empty()) continue;
        files_.push_back(Watched{i, FileWatch(DataFilePath(path)), {}, -1.0f});
        // And the files it includes: an edit there compiles it again too.
        std::optional<std::vector<uint8_t>> text = ReadWholeFile(DataFilePath(path));
        if (!text) continue;
        for (const std::string& name : IncludedFileNames(reinterpret_cast<const char*>(text->data()), text->size()))
            files_.push_back(
                Watched{i, FileWatch(DataFilePath(ShaderFolderInclude::FolderOf(path) + name)), {}, -1.0f});
    }
}

void ShaderReload::Poll(float seconds) {
    if (!watch_ || seconds < nextLook_) return;
    nextLook_ = seconds + kLookInterval;
    for (Watched& watched : files_) {
        if (!watched.file.Look()) continue;
        const std::string& path = renderer_.shaders[static_cast<size_t>(watched.shader)].path;
        std::string error;
        if (renderer_.ReloadShader(watched.shader, &error)) {
            Log::Write("Shader reloaded: %s\n", path.c_str());
            watched.failure.clear();  // this file's own failure only: another file may still be broken
        } else {
            Log::Write("Shader reload failed: %s\n%s", path.c_str(), error.c_str());
            watched.failure = "Shader reload failed: " + path + "\n" + error;
            watched.failureUntil = seconds + kMessageSeconds;
        }
    }
}

std::string ShaderReload::Message(float seconds) const {
    std::string message;
    for (const Watched& file : files_)
        if (!file.failure.empty() && seconds < file.failureUntil) message += file.failure;
    return message;
}
