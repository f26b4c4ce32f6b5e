// The start-up scan of ./data/ and the texture and font registries.
#include "app/Log.h"
#include "render/DebugName.h"
#include "render/Renderer.h"
#include "resources/DirectoryWalk.h"
#include "resources/FileUtil.h"
#include "resources/StartupPrefetch.h"

#include <cstring>
#include <filesystem>
#include <map>
#include <new>

namespace {

template <class Record>
int FindByName(const std::vector<Record>& registry, const std::string& name) {
    std::string key = name;
    LowercaseInPlace(key);
    for (size_t i = 0; i < registry.size(); ++i)
        if (registry[i].name == key) return static_cast<int>(i);
    return -1;
}

uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

bool Renderer::LoadResources(StartupPrefetch* ahead) {
    startupPrefetch = ahead;
    std::error_code error;
    if (!std::filesystem::is_directory(DataFilePath("./data/"), error))
        Log::Warn(
            "Renderer::LoadResources: There is no ./data folder in the working directory (%s); the engine "
            "loads its shaders, images, fonts and scene from there.\n",
            std::filesystem::current_path(error).string().c_str());
    // Look-ups compare lower-cased keys, so of two files whose names differ only in case
    // the first one found is the one every look-up finds.
    std::map<std::string, std::string> firstByKey;
    for (const std::string& path : ListFiles("./data/", true, "*")) {
        std::string key = path;
        LowercaseInPlace(key);
        auto [first, isNew] = firstByKey.emplace(key, path);
        if (!isNew)
            Log::Write("Renderer::LoadResources: %s and %s differ only in case; %s is the one used.\n",
                       first->second.c_str(), path.c_str(), first->second.c_str());
        std::string extension = FileExtension(path);
        try {
            if (extension == "hlsl") {
                Log::Write("Shader: %s\n", path.c_str());
                LoadShader(path);
            } else if (IsImageExtension(extension)) {
                LoadTexture(path);
            } else if (extension == "mofo") {
                LoadFont(path);
            }
        } catch (const std::bad_alloc&) {
            Log::Fatal("Renderer::LoadResources: Out of memory while loading %s\n", path.c_str());
        }
    }
    startupPrefetch = nullptr;
    return true;
}

int Renderer::LoadTexture(const std::string& path) {
    std::string why;
    std::optional<std::vector<uint8_t>> file = startupPrefetch ? startupPrefetch->TakeFile(path) : std::nullopt;
    if (!file) file = ReadWholeFile(path, &why);
    if (!file) Log::Fatal("Renderer::LoadTexture: Couldn't read %s: it %s.\n", path.c_str(), why.c_str());
    return LoadTexture(path, file->data(), file->size());
}

int Renderer::LoadTexture(const std::string& path, const uint8_t* data, size_t bytes) {
    UINT size = static_cast<UINT>(bytes);
    D3DXIMAGE_INFO info{};
    // The messages name the file, so that a user can find the one that stops the engine.
    if (FAILED(D3DXGetImageInfoFromFileInMemory(data, size, &info)))
        Log::Fatal("Renderer::LoadTexture: Failed to obtain image information. (%s)", path.c_str());
    TextureRecord record;
    record.name = path;
    LowercaseInPlace(record.name);
    record.width = info.Width;
    record.height = info.Height;
    D3DSURFACE_DESC level{};
    if (info.ResourceType == D3DRTYPE_CUBETEXTURE) {
        IDirect3DCubeTexture9* cube = nullptr;
        if (FAILED(D3DXCreateCubeTextureFromFileInMemory(device, data, size, &cube)))
            Log::Fatal("Renderer::LoadTexture: Failed to create cube texture. (%s)", path.c_str());
        cube->GetLevelDesc(0, &level);
        record.texture = cube;
    } else {
        IDirect3DTexture9* texture = nullptr;
        if (FAILED(D3DXCreateTextureFromFileInMemory(device, data, size, &texture)))
            Log::Fatal("Renderer::LoadTexture: Failed to create texture. (%s)", path.c_str());
        texture->GetLevelDesc(0, &level);
        record.texture = texture;
    }
    record.format = level.Format;
    SetDebugName(record.texture, record.name);
    textures.push_back(record);
    return static_cast<int>(textures.size()) - 1;
}

int Renderer::FindTexture(const std::string& name) const { return FindByName(textures, name); }

void Renderer::ReleaseTexture(int index) {
    if (index < 0 || index >= static_cast<int>(textures.size())) return;
    TextureRecord& record = textures[static_cast<size_t>(index)];
    if (record.texture) {
        for (DWORD stage = 0; stage < kShaderTextureStages; ++stage) {
            IDirect3DBaseTexture9* bound = nullptr;
            if (SUCCEEDED(device->GetTexture(stage, &bound)) && bound) {
                if (bound == record.texture) device->SetTexture(stage, nullptr);
                bound->Release();
            }
        }
        record.texture->Release();
    }
    record = TextureRecord{};
}

int Renderer::FindFont(const std::string& name) const { return FindByName(fonts, name); }

bool ParseMofo(const uint8_t* data, size_t size, MofoFont* font, std::string* error) {
    if (size < 12) {
        *error = "shorter than its 12-byte header";
        return false;
    }
    if (std::memcmp(data, "MOFO", 4) != 0) {
        *error = "no MOFO signature";
        return false;
    }
    font->endChar = data[5];
    font->textureSize = ReadU16(data + 8);
    font->rowCount = ReadU16(data + 10);
    if (font->endChar < 32) {
        *error = "endChar below 32";
        return false;
    }
    if (font->textureSize == 0 || font->textureSize > kMaxFontTextureSize) {
        *error = "texture size out of range";
        return false;
    }
    if (font->rowCount > font->textureSize) {
        *error = "more coverage rows than the texture has";
        return false;
    }
    size_t glyphCount = static_cast<size_t>(font->endChar - 32);
    size_t rectangles = 12 + 2 * glyphCount;
    size_t coverage = 12 + 10 * glyphCount;
    size_t end = coverage + static_cast<size_t>(font->rowCount) * font->textureSize;
    if (end > size) {
        *error = "ends before its glyph table and coverage rows";
        return false;
    }
    // The header must account for every byte: what a font costs is then bounded by its file.
    if (end < size) {
        *error = "longer than its header announces";
        return false;
    }
    float n = static_cast<float>(font->textureSize);
    font->glyphs.clear();
    for (size_t k = 0; k < glyphCount; ++k) {
        const uint8_t* r = data + rectangles + 8 * k;
        font->glyphs.push_back(GlyphRect{ReadU16(r) / n, ReadU16(r + 2) / n, ReadU16(r + 4) / n, ReadU16(r + 6) / n});
    }
    font->coverage = data + coverage;
    return true;
}

void Renderer::LoadFont(const std::string& path) {
    // A font the engine cannot use is skipped: text is optional, and its users carry on
    // with -1 from the look-up.
    std::string why;
    std::optional<std::vector<uint8_t>> file = ReadWholeFile(path, &why);
    if (!file) {
        Log::Write("Renderer::LoadFont: Couldn't read %s: it %s.\n", path.c_str(), why.c_str());
        return;
    }
    MofoFont font;
    std::string error;
    if (!ParseMofo(file->data(), file->size(), &font, &error)) {
        Log::Write("Renderer::LoadFont: %s is not a valid font (%s), skipped.\n", path.c_str(), error.c_str());
        return;
    }
    UINT n = font.textureSize;
    IDirect3DTexture9* texture = nullptr;
    if (FAILED(device->CreateTexture(n, n, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr)))
        Log::Fatal("Renderer::LoadFont: Failed to create texture.");
    D3DLOCKED_RECT locked;
    if (FAILED(texture->LockRect(0, &locked, nullptr, 0))) Log::Fatal("Renderer::LoadFont: Failed to create texture.");
    auto* bits = static_cast<uint8_t*>(locked.pBits);
    std::memset(bits, 0, static_cast<size_t>(n) * static_cast<size_t>(locked.Pitch));
    // White texels carrying the coverage in alpha: B, G, R = 255, A = coverage.
    for (UINT row = 0; row < font.rowCount; ++row) {
        uint8_t* out = bits + static_cast<size_t>(row) * static_cast<size_t>(locked.Pitch);
        const uint8_t* in = font.coverage + static_cast<size_t>(row) * n;
        for (UINT column = 0; column < n; ++column) {
            out[4 * column + 0] = 255;
            out[4 * column + 1] = 255;
            out[4 * column + 2] = 255;
            out[4 * column + 3] = in[column];
        }
    }
    texture->UnlockRect(0);
    std::string key = path;
    LowercaseInPlace(key);
    SetDebugName(texture, key);
    textures.push_back(TextureRecord{key, texture, n, n, D3DFMT_A8R8G8B8});
    fonts.push_back(FontRecord{key, std::move(font.glyphs), static_cast<int32_t>(textures.size()) - 1, n});
}
