// The start-up scan's work that needs no device, done on a worker thread while the window
// and the device are being created.
//
// The worker walks the folder as the scan does and, file by file in the scan's order,
// reads every shader file and compiles both its programs (D3DXCompileShader needs no
// device), and reads every image and asks for its information (which lets D3DX decode it
// there). What it holds for the loaders (files' bytes, and what D3DX keeps of each image)
// stays within one budget: past it the worker waits for the loaders to take something,
// unless a loader is waiting for a file it has not done, and a file the loaders passed by
// is let go. The loaders on the main thread take each file's results when they reach it,
// waiting for one the worker has not finished. What the worker could not do, or compiled
// for a profile the device turns out not to have, the loaders do themselves as before, so
// the log, the registries and every id are what they would be without it. The worker
// writes no log and makes no device call, and a fatal error stops it (after the program in
// hand) before the process exits, so it never runs while the program's statics go. A
// program that fails to compile stops it too: the loader will end the start-up there.
#pragma once

#include <d3dx9.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// One program of a shader file as D3DXCompileShader left it. It owns its three references
// (released with it), so it moves and is never copied.
struct CompiledProgram {
    std::string profile;
    std::string source;  // the exact text compiled
    HRESULT result = E_FAIL;
    ID3DXBuffer* code = nullptr;
    ID3DXBuffer* errors = nullptr;
    ID3DXConstantTable* constants = nullptr;

    CompiledProgram() = default;
    CompiledProgram(CompiledProgram&& other) noexcept { *this = std::move(other); }
    CompiledProgram& operator=(CompiledProgram&& other) noexcept;
    CompiledProgram(const CompiledProgram&) = delete;
    CompiledProgram& operator=(const CompiledProgram&) = delete;
    ~CompiledProgram() { Release(); }
    void Release();
};

// Compiles a program's text (as NamedShaderSource gives it) the one way the engine does:
// entry point "main", matrices packed by column. Loaders and the worker both use it, so a
// program compiled ahead is the program the loader would have compiled.
// Includes come from includeFolder (ShaderInclude.h).
CompiledProgram CompileShaderText(const std::string& source, const char* profile,
                                  const std::string& includeFolder = "./data/");

class StartupPrefetch {
public:
    // The profiles programs are compiled for ahead; those of every device this engine runs on.
    static constexpr const char* kVertexProfile = "vs_3_0";
    static constexpr const char* kPixelProfile = "ps_3_0";

    static constexpr size_t kDefaultBudget = 192u << 20;

    // Starts the worker on the folder's files (with its trailing '/', as the scan names it).
    explicit StartupPrefetch(const std::string& folder, size_t budget = kDefaultBudget);
    // Stops the worker after the file in hand and releases whatever nobody took.
    ~StartupPrefetch();
    void Stop();
    StartupPrefetch(const StartupPrefetch&) = delete;
    StartupPrefetch& operator=(const StartupPrefetch&) = delete;

    // The file's bytes as the worker read them, once it is done with the file; nothing for
    // a file it does not handle or could not read (the loader reads it and says why).
    std::optional<std::vector<uint8_t>> TakeFile(const std::string& path);
    // The program compiled ahead from exactly this text for this profile; the caller then
    // owns its references. False when there is none.
    bool TakeProgram(const std::string& source, const char* profile, CompiledProgram* program);

    // Bytes the worker holds for the loaders now (by its own reckoning of what D3DX keeps).
    size_t HeldBytes();

private:
    struct FileWork {
        size_t order = 0;  // place in the scan
        bool done = false;
        std::optional<std::vector<uint8_t>> bytes;
        size_t held = 0;  // what it counts against the budget
    };
    void Run(std::vector<std::string> paths);
    size_t Prepare(const std::string& path, FileWork* work, std::vector<CompiledProgram>* programs);
    bool Stopping();
    void LetGo(FileWork& work);

    std::mutex mutex_;
    std::condition_variable fileDone_;
    std::condition_variable taken_;
    std::map<std::string, FileWork> files_;  // every file the worker handles, by path
    std::vector<CompiledProgram> programs_;  // compiled ahead, not yet taken
    size_t budget_;
    size_t held_ = 0;
    bool loaderWaiting_ = false;
    bool stopping_ = false;
    std::thread worker_;
};
