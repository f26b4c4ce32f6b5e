#include "resources/StartupPrefetch.h"

#include "app/Log.h"
#include "resources/DirectoryWalk.h"
#include "resources/FileUtil.h"
#include "resources/ShaderFile.h"
#include "resources/ShaderInclude.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <new>
#include <system_error>
#include <utility>

namespace {

// The one whose worker a fatal error stops before the process exits.
StartupPrefetch* gRunning = nullptr;

}  // namespace

CompiledProgram CompileShaderText(const std::string& source, const char* profile, const std::string& includeFolder) {
    CompiledProgram program;
    program.profile = profile ? profile : "";
    program.source = source;
    ShaderFolderInclude include(includeFolder);
    program.result =
        D3DXCompileShader(source.c_str(), static_cast<UINT>(source.size()), nullptr, &include, "main", profile,
                          D3DXSHADER_PACKMATRIX_COLUMNMAJOR, &program.code, &program.errors, &program.constants);
    return program;
}

CompiledProgram& CompiledProgram::operator=(CompiledProgram&& other) noexcept {
    if (this == &other) return *this;
    Release();
    profile = std::move(other.profile);
    source = std::move(other.source);
    result = other.result;
    code = std::exchange(other.code, nullptr);
    errors = std::exchange(other.errors, nullptr);
    constants = std::exchange(other.constants, nullptr);
    return *this;
}

void CompiledProgram::Release() {
    for (IUnknown* object :
         {static_cast<IUnknown*>(code), static_cast<IUnknown*>(errors), static_cast<IUnknown*>(constants)})
        if (object) object->Release();
    code = nullptr;
    errors = nullptr;
    constants = nullptr;
}

StartupPrefetch::StartupPrefetch(const std::string& folder, size_t budget) : budget_(budget) {
    std::vector<std::string> paths;
    try {
        for (const std::string& path : ListFiles(folder, true, "*")) {
            std::string extension = FileExtension(path);
            if (extension == "hlsl" || IsImageExtension(extension)) {
                files_[path].order = paths.size();
                paths.push_back(path);
            }
        }
        worker_ = std::thread(&StartupPrefetch::Run, this, std::move(paths));
        gRunning = this;
        Log::beforeFatalExit = [] {
            if (gRunning) gRunning->Stop();
        };
    } catch (const std::exception&) {
        // No worker (no thread, no memory): the loaders do everything themselves.
        files_.clear();
    }
}

StartupPrefetch::~StartupPrefetch() {
    Stop();
    if (gRunning == this) {
        gRunning = nullptr;
        Log::beforeFatalExit = nullptr;
    }
}

void StartupPrefetch::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    taken_.notify_all();
    if (worker_.joinable()) worker_.join();
}

void StartupPrefetch::Run(std::vector<std::string> paths) {
    for (const std::string& path : paths) {
        FileWork work;
        std::vector<CompiledProgram> programs;
        {
            // Within the budget, unless nothing is held (a file larger than the budget
            // still goes ahead alone) or a loader waits for this very file.
            std::error_code error;
            uintmax_t size = std::filesystem::file_size(path, error);
            size_t needs = error ? 0 : static_cast<size_t>(std::min<uintmax_t>(size, budget_));
            std::unique_lock<std::mutex> lock(mutex_);
            taken_.wait(lock, [&] { return stopping_ || loaderWaiting_ || held_ == 0 || held_ + needs <= budget_; });
            if (stopping_) break;
        }
        size_t held = 0;
        try {
            held = Prepare(path, &work, &programs);
        } catch (const std::exception&) {
            // Out of memory, most likely: the loader tries again, and says so if it fails too.
            programs.clear();
            work.bytes.reset();
            held = 0;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        FileWork& entry = files_[path];  // the entry exists: nothing to allocate
        entry.done = true;
        entry.bytes = std::move(work.bytes);
        entry.held = held;
        held_ += held;
        for (CompiledProgram& program : programs) {
            try {
                programs_.push_back(std::move(program));
            } catch (const std::exception&) {
                // The loader compiles it itself; the program is released with the list.
            }
        }
        fileDone_.notify_all();
    }
    // Whatever was not reached is left to the loaders.
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [path, work] : files_) work.done = true;
    fileDone_.notify_all();
}

size_t StartupPrefetch::Prepare(const std::string& path, FileWork* work, std::vector<CompiledProgram>* programs) {
    std::string why;
    work->bytes = ReadWholeFile(path, &why);
    if (!work->bytes) return 0;
    const std::vector<uint8_t>& bytes = *work->bytes;
    if (FileExtension(path) == "hlsl") {
        // The texts exactly as the loader will compile them. A program that does not compile
        // ends the start-up when the loader reaches it, so the worker does nothing more: it
        // would only keep the end waiting (on a helper that does not answer, say).
        ShaderFileSections sections = SplitShaderFile(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        auto compile = [&](const std::string& section, int line, const char* profile) {
            if (Stopping()) return;
            programs->push_back(CompileShaderText(NamedShaderSource(section.c_str(), path.c_str(), line), profile,
                                                 ShaderFolderInclude::FolderOf(path)));
            if (FAILED(programs->back().result)) {
                std::lock_guard<std::mutex> lock(mutex_);
                stopping_ = true;
            }
        };
        if (sections.hasVertex) compile(sections.vertex, sections.vertexLine, kVertexProfile);
        compile(sections.pixel, sections.pixelLine, kPixelProfile);
        return bytes.size();
    }
    if (bytes.empty()) return 0;
    D3DXIMAGE_INFO info{};
    if (FAILED(D3DXGetImageInfoFromFileInMemory(bytes.data(), static_cast<UINT>(bytes.size()), &info)))
        return bytes.size();
    // D3DX keeps a copy of the file and the decoded levels (a full chain: a third more
    // than the top level), four bytes a texel at most, six faces for a cube.
    uint64_t texels = uint64_t{info.Width} * info.Height * std::max<UINT>(info.Depth, 1) *
                      (info.ResourceType == D3DRTYPE_CUBETEXTURE ? 6 : 1);
    uint64_t decoded = texels * 4 / 3 * 4;
    return bytes.size() * 2 + static_cast<size_t>(std::min<uint64_t>(decoded, SIZE_MAX / 4));
}

bool StartupPrefetch::Stopping() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopping_;
}

void StartupPrefetch::LetGo(FileWork& work) {
    held_ -= work.held;
    work.held = 0;
    work.bytes.reset();
}

std::optional<std::vector<uint8_t>> StartupPrefetch::TakeFile(const std::string& path) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto it = files_.find(path);
    if (it == files_.end()) return std::nullopt;
    loaderWaiting_ = !it->second.done;
    if (loaderWaiting_) taken_.notify_all();
    fileDone_.wait(lock, [&] { return it->second.done; });
    loaderWaiting_ = false;
    std::optional<std::vector<uint8_t>> taken;
    if (it->second.bytes) taken.emplace(std::move(*it->second.bytes));
    // The loaders go in the scan's order: what they passed by, they will not come back for.
    size_t order = it->second.order;
    for (auto& [other, work] : files_)
        if (work.order < order && work.done) LetGo(work);
    LetGo(it->second);
    files_.erase(it);
    taken_.notify_all();
    return taken;
}

size_t StartupPrefetch::HeldBytes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return held_;
}

bool StartupPrefetch::TakeProgram(const std::string& source, const char* profile, CompiledProgram* program) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = programs_.begin(); it != programs_.end(); ++it) {
        if (it->profile == profile && it->source == source) {
            *program = std::move(*it);
            programs_.erase(it);
            return true;
        }
    }
    return false;
}
