// Shader files, the ./data/ scan, registries and fonts, on a recording device with the
// real HLSL compiler.
#include "render/RendererTestSupport.h"
#include "resources/DirectoryWalk.h"
#include "resources/StartupPrefetch.h"
#include "resources/TextOverlay.h"

#include <algorithm>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <thread>

using lumaret::test::ReadFileBytes;
using lumaret::test::RecordedRendererTest;
using lumaret::test::RecordingDevice;
using lumaret::test::RecordingDirect3D;
using lumaret::test::WriteFileBytes;

namespace {

const char* const kVertex =
    "struct V { float4 p : POSITION; float2 uv : TEXCOORD0; };\n"
    "float4x4 matrixTotal;\n"
    "V main(V v) { v.p = mul(matrixTotal, v.p); return v; }\n";
const char* const kPixel = "float4 materialDiffuse;\nfloat4 main() : COLOR { return materialDiffuse; }\n";

std::string Mofo(int endChar, uint16_t size, uint16_t rows, const std::vector<uint16_t>& rects,
                 const std::vector<uint8_t>& coverage) {
    std::string bytes = std::string("MOFO") + std::string(8, '\0');
    bytes[5] = static_cast<char>(endChar);
    std::memcpy(&bytes[8], &size, 2);
    std::memcpy(&bytes[10], &rows, 2);
    int glyphs = std::max(endChar - 32, 0);
    bytes.append(static_cast<size_t>(2 * glyphs), '\x01');
    for (uint16_t r : rects) bytes.append(reinterpret_cast<const char*>(&r), 2);
    bytes.append(coverage.begin(), coverage.end());
    return bytes;
}

// A 2 x 2 24-bit bottom-up BMP.
std::string Bmp() {
    std::string b = "BM";
    auto u32 = [&](uint32_t v) { b.append(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { b.append(reinterpret_cast<const char*>(&v), 2); };
    u32(70);
    u32(0);
    u32(54);
    u32(40);
    u32(2);
    u32(2);
    u16(1);
    u16(24);
    u32(0);
    u32(16);
    u32(0);
    u32(0);
    u32(0);
    u32(0);
    b.append("\xff\xff\xff\xff\xff\xff\0\0\xff\xff\xff\xff\xff\xff\0\0", 16);
    return b;
}

// For death tests, which end the process: the log opened and Init run on a recording device.
void InitOnRecordingDevice(Renderer& renderer) {
    Log::Open();
    renderer.d3d = new lumaret::test::RecordingDirect3D();
    renderer.Init(reinterpret_cast<HWND>(1), DisplayModeDesc{64, 64, 0}, RendererSettings{}, 7);
}

}  // namespace

TEST_F(RecordedRendererTest, ShaderFilesSplitAtTheirMarkers) {
    Init();
    std::filesystem::create_directory("data");
    WriteFileBytes("data/PixelOnly.hlsl", std::string("#pixelshader\n") + kPixel);
    // Directives and a '#' in a comment stay in the vertex section as in the pixel one.
    WriteFileBytes("data/Both.hlsl", std::string("a comment line without hash marks\n#vertexshader\n#define UNUSED 1\n") +
                                         "// #1 of 2\n#if 1\n" + kVertex + "#endif\n#pixelshader\n#define SCALE 2\n" + kPixel);
    int pixelOnly = renderer->LoadShader("./data/PixelOnly.hlsl");
    ASSERT_GE(pixelOnly, 0);
    const ShaderRecord& p = renderer->shaders[static_cast<size_t>(pixelOnly)];
    EXPECT_EQ(p.name, "./data/pixelonly.hlsl");
    EXPECT_EQ(p.vertexShader, nullptr);
    EXPECT_TRUE(std::all_of(std::begin(p.vertexHandles), std::end(p.vertexHandles), [](D3DXHANDLE h) { return !h; }));
    EXPECT_NE(p.pixelHandles[ParamMaterialDiffuse], nullptr);
    int both = renderer->LoadShader("./data/Both.hlsl");
    ASSERT_GE(both, 0);
    const ShaderRecord& b = renderer->shaders[static_cast<size_t>(both)];
    EXPECT_NE(b.vertexShader, nullptr);
    EXPECT_NE(b.vertexHandles[ParamMatrixTotal], nullptr);
    EXPECT_EQ(b.pixelHandles[ParamMatrixTotal], nullptr);
    EXPECT_NE(b.pixelHandles[ParamMaterialDiffuse], nullptr);
    // Look-ups ignore letter case and compare whole keys.
    EXPECT_EQ(renderer->FindShader("./DATA/both.HLSL"), both);
    EXPECT_EQ(renderer->FindShader("data/both.hlsl"), -1);
    EXPECT_EQ(renderer->FindShader(""), 0) << "the first shader built from source texts";
}

// A reload the device refuses says why, and the shader keeps its programs.
TEST_F(RecordedRendererTest, AReloadTheDeviceRefusesSaysWhy) {
    Init();
    std::filesystem::create_directory("data");
    WriteFileBytes("data/Refused.hlsl", std::string("#pixelshader\n") + kPixel);
    int index = renderer->LoadShader("./data/Refused.hlsl");
    ASSERT_GE(index, 0);
    IDirect3DPixelShader9* before = renderer->shaders[static_cast<size_t>(index)].pixelShader;
    device->shaderCreation = D3DERR_OUTOFVIDEOMEMORY;
    std::string error;
    EXPECT_FALSE(renderer->ReloadShader(index, &error));
    EXPECT_EQ(error, "Renderer::CreateShader: CreatePixelShader failed for ./data/Refused.hlsl: out of video memory "
                     "(D3DERR_OUTOFVIDEOMEMORY).\n");
    EXPECT_EQ(renderer->shaders[static_cast<size_t>(index)].pixelShader, before);
}

TEST_F(RecordedRendererTest, ArrayParametersAreLookedUpOnTheirOwnSideOnly) {
    Init();
    const char* vertex =
        "float4x4 matrixArray[4];\nfloat floatArray[4];\n"
        "float4 main(float4 p : POSITION) : POSITION { return mul(matrixArray[1], p) + floatArray[2]; }\n";
    const char* pixel =
        "float4x4 matrixArray[2];\nfloat floatArray[4];\nfloat floatArray2[4];\n"
        "float4 main() : COLOR { return matrixArray[1][0] + floatArray[1] + floatArray2[3]; }\n";
    int index = renderer->CreateShader(vertex, pixel);
    ASSERT_GE(index, 0);
    const ShaderRecord& record = renderer->shaders[static_cast<size_t>(index)];
    EXPECT_NE(record.matrixArrayHandle, nullptr);
    EXPECT_NE(record.floatArrayHandle, nullptr);
    EXPECT_NE(record.floatArray2Handle, nullptr);
    // The pixel side's matrixArray and the vertex side's floatArray receive nothing.
    D3DXMATRIX palette[4];
    for (D3DXMATRIX& m : palette) D3DXMatrixIdentity(&m);
    float taps[4] = {1, 2, 3, 4};
    ShaderParams block;
    block.matrixArray = palette;
    block.matrixArrayCount = 4;
    block.floatArray = taps;
    block.floatArrayCount = 4;
    block.floatArray2 = taps;
    block.floatArray2Count = 4;
    Renderer::BuildStateList(block);
    device->Forget();
    renderer->ApplyShaderParams(index, block);
    EXPECT_EQ(device->Count("SetVertexShaderConstantF(0, 16,"), 1u) << "four matrices of four registers";
    EXPECT_EQ(device->Count("SetVertexShaderConstantF"), 1u);
    EXPECT_EQ(device->Count("SetPixelShaderConstantF"), 2u);
    EXPECT_EQ(renderer->CreateShader(nullptr, nullptr), -1);
}

TEST(ShaderFileDeathTest, BrokenLayoutsEndTheProgramWithTheCompilersMessage) {
    auto loadFile = [](const std::string& text) {
        lumaret::test::ScopedTempDir dir;
        Renderer renderer;
        InitOnRecordingDevice(renderer);
        std::filesystem::create_directory("data");
        WriteFileBytes("data/broken.hlsl", text);
        renderer.LoadShader("./data/broken.hlsl");
        std::exit(0);
    };
    // A vertex section that no "#pixelshader" follows: both sources are empty.
    EXPECT_EXIT(loadFile(std::string("#vertexshader\n#define X 1\n") + kVertex), testing::ExitedWithCode(255), "error");
    EXPECT_EXIT(loadFile("no markers at all"), testing::ExitedWithCode(255), "error");
    EXPECT_EXIT(loadFile(""), testing::ExitedWithCode(255), "error");
    EXPECT_EXIT(loadFile("#pixelshader\nfloat4 main() : COLOR { return 1 }"), testing::ExitedWithCode(255), "error");
    EXPECT_EXIT(loadFile("#pixel"), testing::ExitedWithCode(255), "error");
}

TEST(TextureLoadDeathTest, AnImageThatCannotBeReadNamesItsFile) {
    auto load = [](const std::string& bytes) {
        lumaret::test::ScopedTempDir dir;
        Renderer renderer;
        InitOnRecordingDevice(renderer);
        std::filesystem::create_directories("data/Maps");
        WriteFileBytes("data/Maps/Wall.png", bytes);
        renderer.LoadTexture("./data/Maps/Wall.png");
        std::exit(0);
    };
    const char* expected = R"(Renderer::LoadTexture: Failed to obtain image information\. \(\./data/Maps/Wall\.png\))";
    EXPECT_EXIT(load("not an image"), testing::ExitedWithCode(255), expected);
    EXPECT_EXIT(load(""), testing::ExitedWithCode(255), expected);
}

TEST(DirectoryWalk, SkipsSvnInAnyCaseButEntersDotSvn) {
    lumaret::test::ScopedTempDir dir;
    for (const char* sub : {"d/svn", "d/SVN", "d/.svn", "d/Maps", "d/Maps/Deeper"})
        std::filesystem::create_directories(sub);
    for (const char* file :
         {"d/svn/a.png", "d/SVN/b.png", "d/.svn/c.png", "d/Maps/Wall.dds", "d/Maps/Deeper/x.bmp", "d/Top.HLSL"})
        WriteFileBytes(file, "");
    std::vector<std::string> files = ListFiles("d", true, "*");
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files,
              (std::vector<std::string>{"d/.svn/c.png", "d/Maps/Deeper/x.bmp", "d/Maps/Wall.dds", "d/Top.HLSL"}));
    EXPECT_EQ(ListFiles("d/", false, "*"), (std::vector<std::string>{"d/Top.HLSL"}));
    EXPECT_TRUE(ListFiles("missing", true, "*").empty());
}

TEST(DirectoryWalk, EntersEveryRealDirectoryOnceWhateverLinksLeadThere) {
    lumaret::test::ScopedTempDir dir;
    std::filesystem::create_directories("d/sub");
    WriteFileBytes("d/a.png", "");
    WriteFileBytes("d/sub/b.png", "");
    auto names = [] {
        std::vector<std::string> found;
        for (const std::string& path : ListFiles("d", true, "*"))
            found.push_back(std::filesystem::path(path).filename());
        std::sort(found.begin(), found.end());
        return found;
    };
    const std::vector<std::string> once{"a.png", "b.png"};
    // One link back up the tree used to list every file dozens of times; two made the
    // walk grow without bound.
    std::filesystem::create_directory_symlink("..", "d/sub/up1");
    ASSERT_EQ(names(), once);
    std::filesystem::create_directory_symlink("..", "d/sub/up2");
    std::filesystem::create_directory_symlink("sub", "d/also-sub");
    std::filesystem::create_directory_symlink(std::filesystem::absolute("d"), "d/sub/root");
    EXPECT_EQ(names(), once);
}

TEST_F(RecordedRendererTest, TheScanLoadsByExtensionAndLogsShaders) {
    Init();
    std::filesystem::create_directories("data/Maps");
    WriteFileBytes("data/First.hlsl", std::string("#pixelshader\n") + kPixel);
    WriteFileBytes("data/first.hlsl", std::string("#pixelshader\n") + kPixel);
    WriteFileBytes("data/Logo.BMP", Bmp());
    WriteFileBytes("data/Maps/archive.tar.bmp", Bmp());
    WriteFileBytes("data/README", "ignored");
    WriteFileBytes("data/notes.txt", "ignored");
    WriteFileBytes("data/Tahoma8.mofo", Mofo(33, 4, 4, {0, 0, 4, 4}, std::vector<uint8_t>(16, 200)));
    Log::Open();
    EXPECT_TRUE(renderer->LoadResources());
    EXPECT_EQ(LogBody(),
              "Shader: ./data/First.hlsl\nRenderer::LoadResources: ./data/First.hlsl and ./data/first.hlsl differ only "
              "in case; ./data/First.hlsl is the one used.\nShader: ./data/first.hlsl\n");
    // Two shaders whose paths differ only in case both register; look-ups find the earlier.
    EXPECT_EQ(renderer->ShaderCount(), 3);
    EXPECT_EQ(renderer->FindShader("./data/FIRST.hlsl"), 1);
    EXPECT_EQ(renderer->FindTexture("./data/logo.bmp"), 0);
    EXPECT_EQ(renderer->FindTexture("./data/maps/archive.tar.bmp"), 1);
    EXPECT_EQ(renderer->textures[0].width, 2u);
    // A font is reachable as a font and as a texture under the same key.
    EXPECT_EQ(renderer->FindFont("./DATA/tahoma8.MOFO"), 0);
    EXPECT_EQ(renderer->FindTexture("./data/Tahoma8.mofo"), renderer->fonts[0].textureIndex);
    TextOverlay overlay;
    overlay.Setup(*renderer);
    EXPECT_EQ(overlay.font, 0);
    EXPECT_EQ(overlay.texturedShader, -1);
    EXPECT_EQ(overlay.textured.textures[0], renderer->fonts[0].textureIndex);
    EXPECT_EQ(overlay.plain.textures[0], -1);
    EXPECT_EQ(overlay.plain.stateFlags, 237u);
    EXPECT_EQ(overlay.plain.stateListSize, 16);
}

// The demo's data scanned with its shaders and images prepared ahead, on the worker that
// runs while the device is created, and without: the same log, device calls, registries,
// texels and constant tables.
TEST_F(RecordedRendererTest, WorkDoneAheadChangesNothingTheScanProduces) {
    std::filesystem::copy(lumaret::test::SourceDir() + "/data", "data", std::filesystem::copy_options::recursive);
    auto describe = [&](Renderer& scanned, RecordingDevice& recorded) {
        std::string text = LogBody();
        for (const std::string& call : recorded.calls) text += call + "\n";
        for (const TextureRecord& record : scanned.textures) {
            text += record.name + " " + std::to_string(record.width) + "x" + std::to_string(record.height) + " " +
                    std::to_string(record.format) + "\n";
            D3DLOCKED_RECT level{};
            auto* texture = static_cast<IDirect3DTexture9*>(record.texture);
            if (texture->LockRect(0, &level, nullptr, D3DLOCK_READONLY) == D3D_OK) {
                text.append(static_cast<const char*>(level.pBits), static_cast<size_t>(level.Pitch) * record.height);
                texture->UnlockRect(0);
            }
        }
        for (const ShaderRecord& record : scanned.shaders) {
            text += record.name + "\n";
            for (ID3DXConstantTable* table : {record.vertexConstants, record.pixelConstants}) {
                D3DXCONSTANTTABLE_DESC desc{};
                if (!table || table->GetDesc(&desc) != D3D_OK) continue;
                for (UINT i = 0; i < desc.Constants; ++i) {
                    D3DXCONSTANT_DESC constant{};
                    UINT count = 1;
                    table->GetConstantDesc(table->GetConstant(nullptr, i), &constant, &count);
                    text += std::string(constant.Name) + "@" + std::to_string(constant.RegisterIndex) + "+" +
                            std::to_string(constant.RegisterCount) + "\n";
                }
            }
        }
        return text;
    };
    Init();
    ASSERT_TRUE(renderer->LoadResources());
    const std::string alone = describe(*renderer, *device);

    Log::Open();
    StartupPrefetch prefetch("./data/");
    Renderer ahead;
    auto* aheadD3d = new RecordingDirect3D();
    ahead.d3d = aheadD3d;
    ahead.Init(reinterpret_cast<HWND>(1), DisplayModeDesc{640, 480, 0}, RendererSettings{true, true, 4, 1}, 7);
    aheadD3d->lastDevice->Forget();
    ASSERT_TRUE(ahead.LoadResources(&prefetch));
    EXPECT_GT(ahead.textures.size(), 5u);
    EXPECT_EQ(describe(ahead, *aheadD3d->lastDevice), alone);
}

// The worker holds no more than its budget for the loader (one file at a time under a
// budget of a byte), waits for the loader instead of dropping anything, and lets go of
// what the loader passes by.
TEST(StartupPrefetchTest, HoldsWithinItsBudgetAndDropsNothing) {
    lumaret::test::ScopedTempDir dir;
    std::filesystem::create_directory("data");
    std::vector<std::string> images;
    for (const char* name : {"cylcube01_bricks.png", "cylcube01_plate.png", "cylcube01_tiles.png",
                             "lum_logo_256x64.png"}) {
        std::filesystem::copy(lumaret::test::SourceDir() + "/data/" + name, std::string("data/") + name);
        images.push_back(std::string("./data/") + name);
    }
    std::sort(images.begin(), images.end());
    size_t largest = 0;
    for (const std::string& image : images) largest = std::max<size_t>(largest, std::filesystem::file_size(image));
    StartupPrefetch prefetch("./data/", 1);
    for (int i = 0; i < 200 && prefetch.HeldBytes() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // time for a second file, were it allowed one
    size_t held = prefetch.HeldBytes();
    EXPECT_GT(held, 0u);
    // Passing the first file by lets it go; every other file is still handed over whole.
    for (size_t k = 1; k < images.size(); ++k) {
        std::optional<std::vector<uint8_t>> bytes = prefetch.TakeFile(images[k]);
        ASSERT_TRUE(bytes) << images[k];
        EXPECT_EQ(bytes->size(), std::filesystem::file_size(images[k]));
    }
    EXPECT_LE(held, 2 * largest + 256 * 256 * 4 / 3 * 4 + 1) << "more than one file at a time";
    EXPECT_EQ(prefetch.HeldBytes(), 0u);
}

TEST_F(RecordedRendererTest, FontsBecomeWhiteTexturesWithCoverageInAlpha) {
    Init();
    // endChar 32: no glyphs, coverage right after the header.
    std::string empty = Mofo(32, 2, 2, {}, {10, 20, 30, 40});
    MofoFont font;
    std::string error;
    ASSERT_TRUE(ParseMofo(reinterpret_cast<const uint8_t*>(empty.data()), empty.size(), &font, &error));
    EXPECT_TRUE(font.glyphs.empty());
    EXPECT_EQ(font.coverage, reinterpret_cast<const uint8_t*>(empty.data()) + 12);

    // Two glyphs, one row of coverage out of four, a rectangle value equal to n.
    WriteFileBytes("font.mofo", Mofo(34, 4, 1, {0, 0, 4, 2, 1, 2, 3, 4}, {0, 64, 128, 255}));
    renderer->LoadFont("./font.mofo");
    ASSERT_EQ(renderer->FontCount(), 1);
    const FontRecord& record = renderer->fonts[0];
    ASSERT_EQ(record.glyphs.size(), 2u);
    EXPECT_FLOAT_EQ(record.glyphs[0].c, 1.0f);
    EXPECT_FLOAT_EQ(record.glyphs[1].b, 0.5f);
    EXPECT_EQ(record.textureSize, 4u);
    auto* texture =
        static_cast<IDirect3DTexture9*>(renderer->textures[static_cast<size_t>(record.textureIndex)].texture);
    D3DLOCKED_RECT locked;
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    auto* texels = static_cast<const uint32_t*>(locked.pBits);
    EXPECT_EQ(texels[0], 0x00FFFFFFu);
    EXPECT_EQ(texels[1], 0x40FFFFFFu);
    EXPECT_EQ(texels[3], 0xFFFFFFFFu);
    EXPECT_EQ(texels[4], 0u) << "rows below rowCount stay transparent black";
    texture->UnlockRect(0);
}

TEST_F(RecordedRendererTest, BrokenFontsAreSkippedWithALogLine) {
    Init();
    WriteFileBytes("broken.mofo", Mofo(34, 4, 4, {0, 0, 4, 2, 1, 2, 3, 4}, {1, 2, 3}));
    Log::Open();
    renderer->LoadFont("./broken.mofo");
    EXPECT_EQ(renderer->FontCount(), 0);
    EXPECT_EQ(renderer->FindTexture("./broken.mofo"), -1);
    EXPECT_EQ(LogBody(),
              "Renderer::LoadFont: ./broken.mofo is not a valid font (ends before its glyph table and coverage rows), "
              "skipped.\n");
}

TEST(MofoParse, RefusesFilesThatWouldBeReadPastTheirEnd) {
    MofoFont font;
    std::string error;
    auto parse = [&](const std::string& bytes) {
        return ParseMofo(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &font, &error);
    };
    EXPECT_FALSE(parse(std::string(11, '\0')));
    EXPECT_FALSE(parse(Mofo(31, 4, 1, {}, std::vector<uint8_t>(4)))) << "endChar below 32";
    EXPECT_FALSE(parse(Mofo(32, 4, 5, {}, std::vector<uint8_t>(20)))) << "rowCount above the size";
    EXPECT_FALSE(parse(Mofo(32, 0, 0, {}, {}))) << "no texture";
    std::string good = Mofo(40, 8, 8, std::vector<uint16_t>(32, 1), std::vector<uint8_t>(64, 7));
    EXPECT_TRUE(parse(good));
    for (size_t cut = 0; cut < good.size(); ++cut) EXPECT_FALSE(parse(good.substr(0, cut))) << "cut at " << cut;
}

TEST(MofoParse, RefusesHeadersThatDisagreeWithTheFile) {
    // A header alone must not decide what a font costs: a 16384-texel texture without a
    // single coverage row used to take gigabytes.
    std::string good = Mofo(34, 4, 2, {0, 0, 4, 2, 1, 2, 3, 4}, std::vector<uint8_t>(8, 9));
    std::string unsigned_ = good;
    unsigned_[0] = 'X';
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"no MOFO signature", unsigned_},
        {"bytes after the coverage rows", good + "extra"},
        {"a texture larger than any font needs", Mofo(32, 16384, 0, {}, {})},
        {"a texture one texel over the bound", Mofo(32, kMaxFontTextureSize + 1, 0, {}, {})},
    };
    MofoFont font;
    std::string error;
    ASSERT_TRUE(ParseMofo(reinterpret_cast<const uint8_t*>(good.data()), good.size(), &font, &error)) << error;
    std::string largest = Mofo(32, kMaxFontTextureSize, 1, {}, std::vector<uint8_t>(kMaxFontTextureSize, 1));
    EXPECT_TRUE(ParseMofo(reinterpret_cast<const uint8_t*>(largest.data()), largest.size(), &font, &error)) << error;
    for (const Case& c : cases) {
        EXPECT_FALSE(ParseMofo(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size(), &font, &error))
            << c.what;
    }
}
