// demogen: writes the demo's data files, the scene cylcube01.srx and the images it names,
// into a directory. The committed copies in data/ are its output:
//   demogen -o data
// Running it again reproduces every file byte for byte: no time stamps, no unseeded
// randomness, and PNG and JPEG encoders that depend on nothing but the pixels.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBIW_WINDOWS_UTF8 0
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wunused-function"
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

#include "DemoImages.h"
#include "DemoLayout.h"
#include "DemoModel.h"
#include "common/ToolExitStatus.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int JpegQuality = 95;  // above 90 stb keeps full-resolution chroma

void PrintUsage(FILE* out) {
    std::fprintf(out,
                 "usage: demogen -o DIRECTORY\n"
                 "\n"
                 "Writes the demo's scene and images into DIRECTORY (an existing directory):\n"
                 "  %s  a cube of two materials with a skinned cylinder bending on it\n"
                 "  %s, %s  brick diffuse and normal map (cube sides)\n"
                 "  %s, %s  tread-plate diffuse and normal map (cube caps)\n"
                 "  %s  glazed tiles (cylinder)\n"
                 "  %s  the cube's baked lightmap\n"
                 "The same files come out on every run.\n"
                 "\n"
                 "  -o, --output DIRECTORY   where to write (required)\n"
                 "  -h, --help               show this text\n"
                 "\n"
                 "Exit status: 0 written, 1 bad arguments, 4 a file cannot be written.\n",
                 demo::SceneFile, demo::BricksFile, demo::BricksNormalFile, demo::PlateFile, demo::PlateNormalFile,
                 demo::TilesFile, demo::LightmapFile);
}

void Append(void* context, void* data, int size) {
    auto* bytes = static_cast<std::vector<uint8_t>*>(context);
    const auto* begin = static_cast<const uint8_t*>(data);
    bytes->insert(bytes->end(), begin, begin + size);
}

std::vector<uint8_t> EncodePng(const demo::Image& image) {
    std::vector<uint8_t> bytes;
    stbi_write_png_to_func(Append, &bytes, image.width, image.height, 3, image.rgb.data(), image.width * 3);
    return bytes;
}

std::vector<uint8_t> EncodeJpeg(const demo::Image& image) {
    std::vector<uint8_t> bytes;
    stbi_write_jpg_to_func(Append, &bytes, image.width, image.height, 3, image.rgb.data(), JpegQuality);
    return bytes;
}

// Writes through a temporary name and renames, so a failed run leaves no half file behind.
bool Save(const fs::path& path, const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) {
        std::fprintf(stderr, "demogen: could not encode %s\n", path.c_str());
        return false;
    }
    fs::path temporary = path;
    temporary += ".part";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (file.close(), !file) {
            int error = errno;
            std::error_code ignored;
            fs::remove(temporary, ignored);
            std::fprintf(stderr, "demogen: cannot write %s: %s\n", path.c_str(), std::strerror(error));
            return false;
        }
    }
    std::error_code error;
    fs::rename(temporary, path, error);
    if (error) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        std::fprintf(stderr, "demogen: cannot write %s: %s\n", path.c_str(), error.message().c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string output;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            PrintUsage(stdout);
            return ExitOk;
        }
        if (arg != "-o" && arg != "--output") {
            std::fprintf(stderr, "demogen: unknown %s %s (see --help)\n",
                         arg.rfind('-', 0) == 0 ? "option" : "argument", arg.c_str());
            return ExitUsage;
        }
        if (i + 1 >= argc || !*argv[i + 1]) {
            std::fprintf(stderr, "demogen: %s needs a directory (see --help)\n", arg.c_str());
            return ExitUsage;
        }
        output = argv[++i];
    }
    if (output.empty()) {
        std::fprintf(stderr, "demogen: no output directory given (-o DIRECTORY; see --help)\n");
        return ExitUsage;
    }
    std::error_code error;
    if (!fs::is_directory(output, error)) {
        std::fprintf(stderr, "demogen: cannot write into %s: not a directory\n", output.c_str());
        return ExitUnwritable;
    }

    struct Output {
        const char* name;
        std::function<std::vector<uint8_t>()> make;
    };
    const Output outputs[] = {
        {demo::SceneFile, demo::BuildSceneFile},
        {demo::BricksFile, [] { return EncodePng(demo::DrawBricks()); }},
        {demo::BricksNormalFile, [] { return EncodePng(demo::DrawBricksNormals()); }},
        {demo::PlateFile, [] { return EncodePng(demo::DrawPlate()); }},
        {demo::PlateNormalFile, [] { return EncodePng(demo::DrawPlateNormals()); }},
        {demo::TilesFile, [] { return EncodePng(demo::DrawTiles()); }},
        {demo::LightmapFile, [] { return EncodeJpeg(demo::BakeLightmap()); }},
    };
    for (const Output& file : outputs)
        if (!Save(fs::path(output) / file.name, file.make())) return ExitUnwritable;
    return ExitOk;
}
