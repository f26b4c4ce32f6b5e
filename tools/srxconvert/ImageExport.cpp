#include "ImageExport.h"

#include "d3dx9/ImageDecoder.h"

#include <algorithm>
#include <cctype>
#include <system_error>

// Decoding and PNG writing for images the engine cannot read. Static, so that these copies
// do not meet the engine's own stb_image in the link.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_FAILURE_USERMSG
#include <stb/stb_image.h>
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace srxconvert {

namespace fs = std::filesystem;

namespace {

// An SRX string field holds 255 characters; keep room for a number and the extension.
constexpr size_t kMaxStemLength = 200;

std::string Lowercase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Letters, digits and a few marks; anything else (spaces included) becomes '_', so that
// the name survives the engine's look-up and every shell.
std::string SafeStem(const std::string& stem) {
    std::string out;
    for (char c : Lowercase(stem)) {
        bool keep = std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
        out += keep ? c : '_';
    }
    if (out.empty()) out = "image";
    if (out.size() > kMaxStemLength) out.resize(kMaxStemLength);
    return out;
}

std::string ExtensionOf(const std::string& fileName) {
    size_t dot = fileName.rfind('.');
    return dot == std::string::npos ? std::string() : Lowercase(fileName.substr(dot + 1));
}

std::string StemOf(const std::string& fileName) {
    size_t dot = fileName.rfind('.');
    return dot == std::string::npos ? fileName : fileName.substr(0, dot);
}

// Models made on Windows name their images with backslashes and in any letter case, often
// by a path on the machine they were made on: the first candidate the model may read wins,
// and the reason the others were refused is kept for when none is left.
fs::path FindImage(const fs::path& modelDirectory, std::string texturePath, const ModelFileAccess& access,
                   std::string& refusal) {
    std::replace(texturePath.begin(), texturePath.end(), '\\', '/');
    fs::path given(texturePath);
    std::error_code error;
    std::vector<fs::path> candidates;
    if (given.is_absolute()) candidates.push_back(given);
    candidates.push_back(modelDirectory / given);
    candidates.push_back(modelDirectory / given.filename());
    std::string wanted = Lowercase(given.filename().string());
    for (const fs::directory_entry& entry : fs::directory_iterator(modelDirectory, error))
        if (Lowercase(entry.path().filename().string()) == wanted) candidates.push_back(entry.path());
    for (const fs::path& candidate : candidates) {
        bool missing = false;
        std::string why = access.Problem(candidate.string(), &missing);
        if (why.empty()) return candidate;
        if (!missing && refusal.empty()) refusal = why;
    }
    return {};
}

}  // namespace

bool EngineReadsImage(const std::string& extension) {
    return extension == "bmp" || extension == "png" || extension == "dds" || extension == "tga" || extension == "jpg";
}

ImageExport::ImageExport(const aiScene& scene, fs::path modelDirectory, std::string outputStem,
                         ModelFileAccess& access)
    : scene_(scene), modelDirectory_(std::move(modelDirectory)), outputStem_(SafeStem(outputStem)), access_(access) {}

std::vector<std::string> ImageExport::Names() const {
    std::vector<std::string> names;
    for (const ModelImage& image : images_) names.push_back(image.name);
    return names;
}

std::string ImageExport::UniqueName(const std::string& wanted) {
    std::string stem = StemOf(wanted), extension = ExtensionOf(wanted);
    std::string name = wanted;
    for (int n = 2; names_.count(name); ++n) name = stem + "_" + std::to_string(n) + "." + extension;
    names_.insert(name);
    return name;
}

std::string ImageExport::Keep(const std::string& name, const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    images_.push_back({name, std::vector<uint8_t>(bytes, bytes + size), {}});
    return name;
}

std::string ImageExport::KeepPng(const std::string& name, int width, int height, const unsigned char* rgba,
                                 const std::string& what, std::vector<std::string>& warnings) {
    std::vector<uint8_t> png;
    auto append = [](void* context, void* data, int size) {
        auto* out = static_cast<std::vector<uint8_t>*>(context);
        out->insert(out->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
    };
    if (!stbi_write_png_to_func(append, &png, width, height, 4, rgba, width * 4)) {
        warnings.push_back(what + ": cannot encode it as PNG; the material goes without it");
        return {};
    }
    return Keep(name, png.data(), png.size());
}

// Encoded bytes: kept when the engine reads the format and its decoder takes these bytes
// (a file it refuses would stop the engine at start-up), else decoded and written as PNG.
std::string ImageExport::ExportEncoded(const std::string& stem, const std::string& extension, const unsigned char* data,
                                       size_t size, const std::string& what, std::vector<std::string>& warnings) {
    std::string kept = extension == "jpeg" ? "jpg" : extension;
    if (EngineReadsImage(kept)) {
        lumaret::platform::DecodedImage image;
        if (FAILED(lumaret::platform::DecodeImage(data, size, image))) {
            warnings.push_back(what + ": the engine cannot decode it (corrupt, truncated or too large); the material "
                                      "goes without it");
            return {};
        }
        return Keep(UniqueName(SafeStem(stem) + "." + kept), data, size);
    }
    int width = 0, height = 0, channels = 0;
    stbi_uc* pixels = stbi_load_from_memory(data, static_cast<int>(size), &width, &height, &channels, 4);
    if (!pixels) {
        warnings.push_back(what + ": cannot decode it (" + stbi_failure_reason() + "); the material goes without it");
        return {};
    }
    std::string name = KeepPng(UniqueName(SafeStem(stem) + ".png"), width, height, pixels, what, warnings);
    stbi_image_free(pixels);
    return name;
}

std::string ImageExport::ExportEmbedded(const aiTexture& texture, int index, std::vector<std::string>& warnings) {
    std::string stem = outputStem_ + "_texture" + std::to_string(index);
    if (texture.mFilename.length > 0) stem = StemOf(fs::path(texture.mFilename.C_Str()).filename().string());
    std::string what = "embedded image " + std::to_string(index);
    if (texture.mHeight == 0) {
        // Compressed: mWidth bytes of a file whose format the hint names.
        std::string hint = Lowercase(texture.achFormatHint);
        return ExportEncoded(stem, hint, reinterpret_cast<const unsigned char*>(texture.pcData), texture.mWidth, what,
                             warnings);
    }
    // Raw BGRA texels, rows top first.
    size_t count = static_cast<size_t>(texture.mWidth) * texture.mHeight;
    std::vector<unsigned char> rgba(count * 4);
    for (size_t i = 0; i < count; ++i) {
        const aiTexel& t = texture.pcData[i];
        rgba[4 * i] = t.r;
        rgba[4 * i + 1] = t.g;
        rgba[4 * i + 2] = t.b;
        rgba[4 * i + 3] = t.a;
    }
    int width = static_cast<int>(texture.mWidth), height = static_cast<int>(texture.mHeight);
    return KeepPng(UniqueName(SafeStem(stem) + ".png"), width, height, rgba.data(), what, warnings);
}

std::string ImageExport::ExportFile(const fs::path& source, std::vector<std::string>& warnings) {
    std::vector<uint8_t> bytes;
    std::string why;
    if (!access_.Read(source.string(), bytes, why) || bytes.empty()) {
        warnings.push_back("cannot read image " + source.string() + (why.empty() ? "" : " (" + why + ")") +
                           "; the material goes without it");
        return {};
    }
    std::string fileName = source.filename().string();
    return ExportEncoded(StemOf(fileName), ExtensionOf(fileName), bytes.data(), bytes.size(),
                         "image " + source.string(), warnings);
}

std::string ImageExport::Export(const std::string& texturePath, std::vector<std::string>& warnings) {
    auto [texture, index] = scene_.GetEmbeddedTextureAndIndex(texturePath.c_str());
    std::string key;
    fs::path source;
    if (texture) {
        key = "*" + std::to_string(index);
    } else {
        std::string refusal;
        source = FindImage(modelDirectory_, texturePath, access_, refusal);
        if (source.empty()) {
            warnings.push_back(refusal.empty()
                                   ? "image '" + texturePath + "' not found next to the model; the material goes without it"
                                   : "image " + refusal + "; the material goes without it");
            return {};
        }
        std::error_code error;
        key = fs::weakly_canonical(source, error).string();
    }
    auto done = exported_.find(key);
    if (done != exported_.end()) return done->second;
    size_t before = images_.size();
    std::string name = texture ? ExportEmbedded(*texture, index, warnings) : ExportFile(source, warnings);
    if (images_.size() > before)
        images_.back().source = texture ? "embedded image " + std::to_string(index) : fs::absolute(source).string();
    exported_[key] = name;
    return name;
}

}  // namespace srxconvert
