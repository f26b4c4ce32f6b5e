#include "resources/StartupPrefetch.h"

#include "app/Log.h"
#include "resources/DirectoryWalk.h"
#include "resources/FileUtil.h"
#include "resources/ShaderFile.h"

#include <new>

namespace {

// The one whose worker a fatal error stops before the process exits.
StartupPrefetch* gRunning = nullptr;

}  // namespace

CompiledProgram CompileShaderText(const std::string& source, const char* profile) {
    CompiledProgram program;
    program.profile = profile ? profile : "";
    program.source = source;
    program.result =
        D3DXCompileShader(source.c_str(), static_cast<UINT>(source.size()), nullptr, nullptr, "main", profile,
                          D3DXSHADER_PACKMATRIX_COLUMNMAJOR, &program.code, &program.errors, &program.constants);
    return program;
}

void CompiledProgram::Release() {
    for (IUnknown* object :
         {static_cast<IUnknown*>(code), static_cast<IUnknown*>(errors), static_cast<IUnknown*>(constants)})
        if (object) object->Release();
    code = nullptr;
    errors = nullptr;
    constants = nullptr;
}

StartupPrefetch::StartupPrefetch(const std::string& folder) {
    std::vector<std::string> paths;
    try {
        for (const std::string& path : ListFiles(folder, true, "*")) {
            std::string extension = FileExtension(path);
            if (extension == "hlsl" || IsImageExtension(extension)) {
                paths.push_back(path);
                files_[path];
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
    for (CompiledProgram& program : programs_) program.Release();
}

void StartupPrefetch::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    if (worker_.joinable()) worker_.join();
}

bool StartupPrefetch::Stopping() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopping_;
}

void StartupPrefetch::Run(std::vector<std::string> paths) {
    for (const std::string& path : paths) {
        FileWork work;
        std::vector<CompiledProgram> programs;
        if (Stopping()) break;
        try {
            Prepare(path, &work, &programs);
        } catch (const std::exception&) {
            // Out of memory, most likely: the loader tries again, and says so if it fails too.
            for (CompiledProgram& program : programs) program.Release();
            programs.clear();
            work.bytes.reset();
        }
        std::lock_guard<std::mutex> lock(mutex_);
        work.done = true;
        files_[path] = std::move(work);  // the entry exists: nothing to allocate
        for (CompiledProgram& program : programs) {
            try {
                programs_.push_back(program);
            } catch (const std::exception&) {
                program.Release();  // the loader compiles it itself
            }
        }
        fileDone_.notify_all();
    }
    // Whatever was not reached is left to the loaders.
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [path, work] : files_) work.done = true;
    fileDone_.notify_all();
}

void StartupPrefetch::Prepare(const std::string& path, FileWork* work, std::vector<CompiledProgram>* programs) {
    std::string why;
    work->bytes = ReadWholeFile(path, &why);
    if (!work->bytes) return;
    const std::vector<uint8_t>& bytes = *work->bytes;
    if (FileExtension(path) == "hlsl") {
        // The texts exactly as the loader will compile them. A program that does not compile
        // ends the start-up when the loader reaches it, so the worker does nothing more: it
        // would only keep the end waiting (on a helper that does not answer, say).
        ShaderFileSections sections = SplitShaderFile(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        auto compile = [&](const std::string& section, int line, const char* profile) {
            if (Stopping()) return;
            programs->push_back(CompileShaderText(NamedShaderSource(section.c_str(), path.c_str(), line), profile));
            if (FAILED(programs->back().result)) {
                std::lock_guard<std::mutex> lock(mutex_);
                stopping_ = true;
            }
        };
        if (sections.hasVertex) compile(sections.vertex, sections.vertexLine, kVertexProfile);
        compile(sections.pixel, sections.pixelLine, kPixelProfile);
    } else if (!bytes.empty()) {
        D3DXIMAGE_INFO info{};
        D3DXGetImageInfoFromFileInMemory(bytes.data(), static_cast<UINT>(bytes.size()), &info);
    }
}

std::optional<std::vector<uint8_t>> StartupPrefetch::TakeFile(const std::string& path) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto it = files_.find(path);
    if (it == files_.end()) return std::nullopt;
    fileDone_.wait(lock, [&] { return it->second.done; });
    std::optional<std::vector<uint8_t>> taken;
    if (it->second.bytes) taken.emplace(std::move(*it->second.bytes));
    files_.erase(it);
    return taken;
}

bool StartupPrefetch::TakeProgram(const std::string& source, const char* profile, CompiledProgram* program) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = programs_.begin(); it != programs_.end(); ++it) {
        if (it->profile == profile && it->source == source) {
            *program = *it;
            programs_.erase(it);
            return true;
        }
    }
    return false;
}
