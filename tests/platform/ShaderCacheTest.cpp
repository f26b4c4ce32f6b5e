// The translation cache: a warm compile gives the very program a cold one gives, entries
// are really used, a damaged or foreign entry is translated again and rewritten, and a
// cache that cannot be written or is switched off changes nothing but speed.
#include "d3dx9/ShaderCache.h"

#include "resources/FileUtil.h"
#include "resources/ShaderFile.h"
#include "resources/ShaderInclude.h"
#include "support/TempDir.h"

#include <d3dx9.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

using lumaret::platform::LoadCachedProgram;
using lumaret::platform::ShaderCacheEntryPath;
using lumaret::platform::ShaderCacheKey;
using lumaret::platform::StoreCachedProgram;
using lumaret::platform::TranslatedProgram;

namespace {

struct Result {
    HRESULT status = E_FAIL;
    std::string code;       // the blob's bytes
    std::string constants;  // every constant's name and registers, one per line
    std::string errors;
    bool operator==(const Result&) const = default;
};

Result Compile(const std::string& source, const char* profile) {
    ID3DXBuffer* code = nullptr;
    ID3DXBuffer* errors = nullptr;
    ID3DXConstantTable* table = nullptr;
    Result result;
    ShaderFolderInclude include(lumaret::test::SourceDir() + "/data/");
    result.status = D3DXCompileShader(source.c_str(), static_cast<UINT>(source.size()), nullptr, &include, "main",
                                      profile, 0, &code, &errors, &table);
    if (code) {
        result.code.assign(static_cast<const char*>(code->GetBufferPointer()), code->GetBufferSize());
        code->Release();
    }
    if (errors) {
        result.errors = static_cast<const char*>(errors->GetBufferPointer());
        errors->Release();
    }
    if (table) {
        D3DXCONSTANTTABLE_DESC desc{};
        table->GetDesc(&desc);
        for (UINT i = 0; i < desc.Constants; ++i) {
            D3DXCONSTANT_DESC c{};
            UINT count = 1;
            table->GetConstantDesc(table->GetConstant(nullptr, i), &c, &count);
            result.constants += std::string(c.Name) + " " + std::to_string(c.RegisterSet) + " " +
                                std::to_string(c.RegisterIndex) + " " + std::to_string(c.RegisterCount) + " " +
                                std::to_string(c.Class) + " " + std::to_string(c.Type) + " " +
                                std::to_string(c.Rows) + "x" + std::to_string(c.Columns) + "x" +
                                std::to_string(c.Elements) + "\n";
        }
        table->Release();
    }
    return result;
}

struct Program {
    std::string source;
    const char* profile;
};

// Both sections of every shader file the engine ships.
std::vector<Program> ShippedPrograms() {
    std::vector<Program> programs;
    for (const char* file : {"PassZN.hlsl", "PassLight.hlsl", "PassForward.hlsl", "PostProcess.hlsl", "bonetest.hlsl",
                             "diffuseTex.hlsl", "screen.hlsl", "screenTex.hlsl"}) {
        std::string text = lumaret::test::ReadFileBytes(lumaret::test::SourceDir() + "/data/" + file);
        ShaderFileSections sections = SplitShaderFile(text.data(), text.size());
        std::string name = std::string("#line 1 \"") + file + "\"\n";
        if (sections.hasVertex) programs.push_back({name + sections.vertex, "vs_3_0"});
        programs.push_back({name + sections.pixel, "ps_3_0"});
    }
    return programs;
}

class ShaderCache : public testing::Test {
protected:
    void SetUp() override {
        const char* before = std::getenv("XDG_CACHE_HOME");
        cacheBefore = before ? before : "";
        setenv("XDG_CACHE_HOME", (std::filesystem::current_path() / "cache").c_str(), 1);
        setenv("LUMARET_SHADER_CACHE", "1", 1);
    }
    void TearDown() override {
        setenv("XDG_CACHE_HOME", cacheBefore.c_str(), 1);
        unsetenv("LUMARET_SHADER_CACHE");
    }
    static size_t Entries() {
        std::error_code error;
        size_t count = 0;
        for (std::filesystem::directory_iterator it("cache/lumaret", error), end; !error && it != end; ++it) ++count;
        return count;
    }
    lumaret::test::ScopedTempDir dir;
    std::string cacheBefore;
};

}  // namespace

TEST_F(ShaderCache, AWarmCompileGivesTheProgramACompileWithoutTheCacheGives) {
    std::vector<Program> programs = ShippedPrograms();
    std::vector<Result> uncached;
    setenv("LUMARET_SHADER_CACHE", "0", 1);
    for (const Program& p : programs) uncached.push_back(Compile(p.source, p.profile));
    EXPECT_EQ(Entries(), 0u) << "switched off, nothing is written";
    setenv("LUMARET_SHADER_CACHE", "1", 1);
    for (int pass : {0, 1}) {
        for (size_t i = 0; i < programs.size(); ++i) {
            SCOPED_TRACE(testing::Message() << (pass ? "warm " : "cold ") << programs[i].source.substr(0, 40));
            Result result = Compile(programs[i].source, programs[i].profile);
            ASSERT_EQ(result.status, D3D_OK) << result.errors;
            EXPECT_TRUE(result == uncached[i]);
        }
        EXPECT_EQ(Entries(), programs.size());
    }
}

TEST_F(ShaderCache, EntriesAreUsedAndDamagedOnesAreTranslatedAgain) {
    // Programs without includes, whose key is their own text.
    const Program p = ShippedPrograms()[1];
    Result fresh = Compile(p.source, p.profile);
    ASSERT_EQ(fresh.status, D3D_OK) << fresh.errors;
    std::string key = ShaderCacheKey(p.profile, "main", "", p.source);
    std::string path = ShaderCacheEntryPath(key);
    ASSERT_TRUE(std::filesystem::exists(path));
    std::string good = lumaret::test::ReadFileBytes(path);

    // A hit hands out what the entry holds: the cache is really read.
    std::optional<TranslatedProgram> entry = LoadCachedProgram(key);
    ASSERT_TRUE(entry);
    entry->blob.push_back(0);
    StoreCachedProgram(key, *entry);
    EXPECT_EQ(Compile(p.source, p.profile).code.size(), fresh.code.size() + 1);

    // Whatever is wrong with the file, the program is translated again and the entry
    // rewritten whole.
    const Program other = ShippedPrograms()[2];
    ASSERT_EQ(Compile(other.source, other.profile).status, D3D_OK);
    std::string foreign = lumaret::test::ReadFileBytes(ShaderCacheEntryPath(ShaderCacheKey(other.profile, "main", "", other.source)));
    std::string flipped = good;
    flipped[flipped.size() / 2] ^= 0x40;
    const std::pair<const char*, std::string> damages[] = {
        {"empty", ""},
        {"truncated", good.substr(0, good.size() / 2)},
        {"one byte flipped", flipped},
        {"another source's entry", foreign},
        {"longer", good + "tail"},
        {"garbage", std::string(4096, '\x5a')},
    };
    for (const auto& [what, bytes] : damages) {
        SCOPED_TRACE(what);
        lumaret::test::WriteFileBytes(path, bytes);
        EXPECT_TRUE(Compile(p.source, p.profile) == fresh);
        EXPECT_EQ(lumaret::test::ReadFileBytes(path), good);
    }
    // Errors are never cached: the same source fails the same way every time.
    std::string broken = "#line 1 \"broken.hlsl\"\nfloat4 main() : COLOR { return x; }\n";
    Result first = Compile(broken, "ps_3_0");
    EXPECT_NE(first.status, D3D_OK);
    EXPECT_TRUE(Compile(broken, "ps_3_0") == first);
    EXPECT_NE(first.errors.find("broken.hlsl:1"), std::string::npos) << first.errors;
}

TEST_F(ShaderCache, ACacheFolderThatCannotBeWrittenCostsOnlyTheCache) {
    lumaret::test::WriteFileBytes("not-a-folder", "x");
    setenv("XDG_CACHE_HOME", (std::filesystem::current_path() / "not-a-folder").c_str(), 1);
    // Programs without includes, whose key is their own text.
    const Program p = ShippedPrograms()[1];
    Result result = Compile(p.source, p.profile);
    EXPECT_EQ(result.status, D3D_OK) << result.errors;
    EXPECT_TRUE(Compile(p.source, p.profile) == result);
}

// Entries are named after what they hold; past the size limit the least recently used go,
// and a FIFO in an entry's place is passed over, never waited on.
TEST_F(ShaderCache, TheFolderStaysBoundedAndNamesWhatItHolds) {
    const Program p = ShippedPrograms()[1];  // PassZN.hlsl's pixel program
    std::string key = ShaderCacheKey(p.profile, "main", "", p.source);
    std::string path = ShaderCacheEntryPath(key);
    EXPECT_NE(path.find("/PassZN.hlsl.ps_3_0."), std::string::npos) << path;
    EXPECT_EQ(path.substr(path.size() - 6), ".entry");

    // A FIFO where the entry goes: the compile neither blocks nor fails, and replaces it.
    std::filesystem::create_directories("cache/lumaret");
    ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
    Result first = Compile(p.source, p.profile);
    EXPECT_EQ(first.status, D3D_OK) << first.errors;
    EXPECT_TRUE(std::filesystem::is_regular_file(path));

    // 70 entries of a MiB each from earlier builds, the oldest first; one of them just used.
    auto past = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24);
    for (int k = 0; k < 70; ++k) {
        std::string old = "cache/lumaret/old" + std::to_string(k) + ".ps_3_0.0000000000000000.entry";
        lumaret::test::WriteFileBytes(old, std::string(1 << 20, 'x'));
        std::filesystem::last_write_time(old, past + std::chrono::minutes(k));
    }
    std::filesystem::last_write_time("cache/lumaret/old0.ps_3_0.0000000000000000.entry",
                                     std::filesystem::file_time_type::clock::now());
    lumaret::platform::PruneShaderCache(lumaret::platform::kShaderCacheBytes);
    uint64_t total = 0;
    for (const auto& entry : std::filesystem::directory_iterator("cache/lumaret")) total += entry.file_size();
    EXPECT_LE(total, lumaret::platform::kShaderCacheBytes);
    EXPECT_TRUE(std::filesystem::exists("cache/lumaret/old0.ps_3_0.0000000000000000.entry")) << "used just now";
    EXPECT_FALSE(std::filesystem::exists("cache/lumaret/old1.ps_3_0.0000000000000000.entry")) << "the oldest";
    EXPECT_TRUE(std::filesystem::exists("cache/lumaret/old69.ps_3_0.0000000000000000.entry")) << "the newest";
    EXPECT_TRUE(std::filesystem::exists(path)) << "the one written last";
}
