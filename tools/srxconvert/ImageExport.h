// The images a converted model's materials name, put next to the SRX file under the names
// the SRX stores.
//
// The engine looks a map up as "./data/" + its lower-cased file name and reads BMP, PNG,
// DDS, TGA and JPG; so every image is written under a lower-case file name, copied byte
// for byte when the engine reads its format and decoded and written as PNG otherwise.
// Images embedded in the model (glTF binary, FBX) are written out the same way. Two
// different images that would get one name are told apart by a number.
#pragma once

#include <assimp/scene.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace srxconvert {

class ImageExport {
public:
    ImageExport(const aiScene& scene, std::filesystem::path modelDirectory, std::filesystem::path outputDirectory,
                std::string outputStem);

    // The name the SRX stores for the material's texture path, the image written under it;
    // empty, with a warning, when the image cannot be found or read.
    std::string Export(const std::string& texturePath, std::vector<std::string>& warnings);

    const std::vector<std::string>& Written() const { return written_; }

private:
    std::string UniqueName(const std::string& wanted);
    bool WriteBytes(const std::string& name, const void* data, size_t size, std::vector<std::string>& warnings);
    std::string ExportEmbedded(const aiTexture& texture, int index, std::vector<std::string>& warnings);
    std::string ExportFile(const std::filesystem::path& source, std::vector<std::string>& warnings);
    std::string ExportEncoded(const std::string& stem, const std::string& extension, const unsigned char* data,
                              size_t size, const std::string& what, std::vector<std::string>& warnings);

    const aiScene& scene_;
    std::filesystem::path modelDirectory_, outputDirectory_;
    std::string outputStem_;
    std::map<std::string, std::string> exported_;  // source (path or "*index") -> name
    std::set<std::string> names_;
    std::vector<std::string> written_;
};

// True for the file extensions (lower case, no dot) the engine's resource scan loads as images.
bool EngineReadsImage(const std::string& extension);

}  // namespace srxconvert
