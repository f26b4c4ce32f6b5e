// The include handler of the engine's shader programs: `#include "NAME"` in a shader file
// takes NAME from the shader file's own folder (./data/ for the engine's, read through
// DataFilePath like every data file). NAME is a plain file name, no folder and not hidden,
// so that a shader file reads nothing outside its folder, and at most a megabyte.
#pragma once

#include <d3dx9.h>

#include <string>
#include <vector>

class ShaderFolderInclude : public ID3DXInclude {
public:
    // folder ends in '/' ("./data/").
    explicit ShaderFolderInclude(std::string folder) : folder_(std::move(folder)) {}
    HRESULT WINAPI Open(D3DXINCLUDE_TYPE type, LPCSTR name, LPCVOID parent, LPCVOID* data, UINT* bytes) override;
    HRESULT WINAPI Close(LPCVOID data) override;

    // The folder of the shader file at path, as a ShaderFolderInclude takes it: "./data/"
    // for a name without one (a program built from text).
    static std::string FolderOf(const std::string& path);

private:
    std::string folder_;
};

// The names a shader file's text includes ("#include" lines), in order, each once.
std::vector<std::string> IncludedFileNames(const char* text, size_t size);
