// The images a converted model's materials name, in memory under the names the SRX stores,
// to be written next to the SRX file or handed to the viewer.
//
// The engine looks a map up as "./data/" + its lower-cased file name and reads BMP, PNG,
// DDS, TGA and JPG; so every image is written under a lower-case file name, copied byte
// for byte when the engine reads its format and decoded and written as PNG otherwise.
// Images embedded in the model (glTF binary, FBX) are written out the same way. Two
// different images that would get one name are told apart by a number.
#pragma once

#include "ModelFileAccess.h"

#include <assimp/scene.h>

#include <filesystem>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace srxconvert {

struct ModelImage {
    std::string name;  // lower case, as the SRX names it
    std::vector<uint8_t> bytes;
    std::string source;  // where it came from: the file's own path, or "embedded image N"
};

class ImageExport {
public:
    // outputStem names embedded images that carry no file name of their own; image files
    // are found and read through access.
    ImageExport(const aiScene& scene, std::filesystem::path modelDirectory, std::string outputStem,
                ModelFileAccess& access);

    // The name the SRX stores for the material's texture path, the image kept under it;
    // empty, with a warning, when the image cannot be found or read.
    std::string Export(const std::string& texturePath, std::vector<std::string>& warnings);

    std::vector<std::string> Names() const;
    std::vector<ModelImage> TakeImages() { return std::move(images_); }

private:
    std::string UniqueName(const std::string& wanted);
    std::string Keep(const std::string& name, const void* data, size_t size);
    std::string KeepPng(const std::string& name, int width, int height, const unsigned char* rgba,
                        const std::string& what, std::vector<std::string>& warnings);
    std::string ExportEmbedded(const aiTexture& texture, int index, std::vector<std::string>& warnings);
    std::string ExportFile(const std::filesystem::path& source, std::vector<std::string>& warnings);
    std::string ExportEncoded(const std::string& stem, const std::string& extension, const unsigned char* data,
                              size_t size, const std::string& what, std::vector<std::string>& warnings);

    const aiScene& scene_;
    std::filesystem::path modelDirectory_;
    std::string outputStem_;
    std::map<std::string, std::string> exported_;  // source (path or "*index") -> name
    std::set<std::string> names_;
    std::vector<ModelImage> images_;
    ModelFileAccess& access_;
};

// True for the file extensions (lower case, no dot) the engine's resource scan loads as images.
bool EngineReadsImage(const std::string& extension);

}  // namespace srxconvert
