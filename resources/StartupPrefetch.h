// The start-up scan's work that needs no device, done on a worker thread while the window
// and the device are being created.
//
// The worker walks the folder as the scan does and, file by file in the scan's order,
// reads every shader file and compiles both its programs (D3DXCompileShader needs no
// device), and reads every image and asks for its information (which lets D3DX decode it
// there). The loaders on the main thread take each file's results when they reach it,
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

// One program of a shader file as D3DXCompileShader left it.
struct CompiledProgram {
    std::string profile;
    std::string source;  // the exact text compiled
    HRESULT result = E_FAIL;
    ID3DXBuffer* code = nullptr;
    ID3DXBuffer* errors = nullptr;
    ID3DXConstantTable* constants = nullptr;

    void Release();
};

// Compiles a program's text (as NamedShaderSource gives it) the one way the engine does:
// entry point "main", matrices packed by column. Loaders and the worker both use it, so a
// program compiled ahead is the program the loader would have compiled.
CompiledProgram CompileShaderText(const std::string& source, const char* profile);

class StartupPrefetch {
public:
    // The profiles programs are compiled for ahead; those of every device this engine runs on.
    static constexpr const char* kVertexProfile = "vs_3_0";
    static constexpr const char* kPixelProfile = "ps_3_0";

    // Starts the worker on the folder's files (with its trailing '/', as the scan names it).
    explicit StartupPrefetch(const std::string& folder);
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

private:
    struct FileWork {
        bool done = false;
        std::optional<std::vector<uint8_t>> bytes;
    };
    void Run(std::vector<std::string> paths);
    void Prepare(const std::string& path, FileWork* work, std::vector<CompiledProgram>* programs);
    bool Stopping();

    std::mutex mutex_;
    std::condition_variable fileDone_;
    std::map<std::string, FileWork> files_;  // every file the worker handles, by path
    std::vector<CompiledProgram> programs_;  // compiled ahead, not yet taken
    bool stopping_ = false;
    std::thread worker_;
};
