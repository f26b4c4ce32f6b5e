// The images the engine names (the logo and the two material defaults), decoded by the
// engine's own image loading, and the tools that make them.
#include "d3dx9/ImageDecoder.h"
#include "support/TempDir.h"
#include "ToolRun.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using lumaret::test::RunTool;

namespace {

// The file's texels as 0xAARRGGBB, as a texture created from it would hold them; opaque
// formats read alpha 255.
bool DecodeTexels(const std::string& bytes, D3DXIMAGE_INFO* info, std::vector<uint32_t>* texels) {
    lumaret::platform::DecodedImage image;
    if (FAILED(lumaret::platform::DecodeImage(bytes.data(), bytes.size(), image))) return false;
    *info = image.info;
    const lumaret::platform::ImageSurface& surface = image.Surface(0, 0);
    size_t bytesPerTexel = surface.rowPitch / surface.width;
    if (bytesPerTexel != 3 && bytesPerTexel != 4) return false;
    texels->clear();
    for (UINT y = 0; y < surface.height; ++y)
        for (UINT x = 0; x < surface.width; ++x) {
            const uint8_t* t = surface.Row(y) + x * bytesPerTexel;  // B, G, R(, A)
            uint32_t alpha = image.info.Format == D3DFMT_A8R8G8B8 ? t[3] : 0xFF;
            texels->push_back(alpha << 24 | static_cast<uint32_t>(t[2]) << 16 | static_cast<uint32_t>(t[1]) << 8 |
                              t[0]);
        }
    return true;
}

// A wordmark: white ink that is fully opaque somewhere, a transparent background (corners
// included) and anti-aliased edges in between.
void ExpectWordmark(const std::string& bytes) {
    D3DXIMAGE_INFO info;
    std::vector<uint32_t> texels;
    ASSERT_TRUE(DecodeTexels(bytes, &info, &texels));
    EXPECT_EQ(info.ImageFileFormat, D3DXIFF_PNG);
    ASSERT_EQ(info.Width, 256u);
    ASSERT_EQ(info.Height, 64u);
    ASSERT_EQ(info.Format, D3DFMT_A8R8G8B8);
    int whiteOpaque = 0, transparent = 0, partial = 0;
    for (uint32_t t : texels) {
        uint32_t alpha = t >> 24;
        if (alpha == 0)
            ++transparent;
        else if (alpha < 255)
            ++partial;
        else if ((t & 0xFFFFFF) == 0xFFFFFF)
            ++whiteOpaque;
    }
    EXPECT_GT(whiteOpaque, 200);
    EXPECT_GT(transparent, 256 * 64 / 2);
    EXPECT_GT(partial, 0);
    for (size_t corner : {size_t{0}, size_t{255}, size_t{63 * 256}, size_t{64 * 256 - 1}})
        EXPECT_EQ(texels[corner] >> 24, 0u);
}

}  // namespace

TEST(DataImages, TheLogoIsA256By64WordmarkWithAlpha) {
    ExpectWordmark(lumaret::test::ReadFileBytes(lumaret::test::SourceDir() + "/data/lum_logo_256x64.png"));
}

TEST(DataImages, TheMaterialDefaultsAreWhiteAndAFlatNormalAsTheScriptWritesThem) {
    struct Expected {
        const char* name;
        uint32_t texel;
    };
    for (Expected expected : {Expected{"default_white.bmp", 0xFFFFFFFFu}, Expected{"default_nmap.bmp", 0xFF8080FFu}}) {
        SCOPED_TRACE(expected.name);
        std::string bytes = lumaret::test::ReadFileBytes(lumaret::test::SourceDir() + "/data/" + expected.name);
        D3DXIMAGE_INFO info;
        std::vector<uint32_t> texels;
        ASSERT_TRUE(DecodeTexels(bytes, &info, &texels));
        EXPECT_EQ(info.ImageFileFormat, D3DXIFF_BMP);
        EXPECT_EQ(info.Width, 4u);
        EXPECT_EQ(info.Height, 4u);
        for (uint32_t texel : texels) EXPECT_EQ(texel, expected.texel);
    }

    // The committed files are exactly what the script makes.
    lumaret::test::ScopedTempDir dir;
    std::string command =
        "/usr/bin/python3 " + lumaret::test::SourceDir() + "/tools/make_default_textures.py --out . >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    for (const char* name : {"default_white.bmp", "default_nmap.bmp"})
        EXPECT_EQ(lumaret::test::ReadFileBytes(name),
                  lumaret::test::ReadFileBytes(lumaret::test::SourceDir() + "/data/" + name))
            << name;
}

TEST(LogoGen, DrawsTheWordmarkAndSaysWhatWentWrong) {
    lumaret::test::ScopedTempDir dir;
    lumaret::test::ToolRun run = RunTool("tools/logogen/logogen", "--text Engine -o logo.png");
    ASSERT_EQ(run.status, 0) << run.output;
    ExpectWordmark(lumaret::test::ReadFileBytes("logo.png"));

    lumaret::test::ToolRun help = RunTool("tools/logogen/logogen", "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("usage: logogen"), std::string::npos);
    EXPECT_EQ(RunTool("tools/logogen/logogen", "").status, 1);
    EXPECT_EQ(RunTool("tools/logogen/logogen", "--size 3 -o x.png").status, 1);
    lumaret::test::ToolRun missing = RunTool("tools/logogen/logogen", "-f missing.ttf -o x.png");
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.output.find("missing.ttf: No such file"), std::string::npos) << missing.output;
    EXPECT_EQ(RunTool("tools/logogen/logogen", "-t " + std::string(80, 'W') + " -o x.png").status, 3);
    EXPECT_EQ(RunTool("tools/logogen/logogen", "-o no-such-dir/x.png").status, 4);
    EXPECT_TRUE(lumaret::test::ReadFileBytes("x.png").empty()) << "a failed run wrote its output";
}

// The viewer's icon: a square of the size asked, transparent outside its rounded tile
// (corners included), opaque inside, with white letter ink and the amber accent on it;
// sizes outside 16 to 1024 are usage errors.
TEST(LogoGen, DrawsTheIconAtEverySizeAsked) {
    lumaret::test::ScopedTempDir dir;
    for (UINT size : {16u, 48u, 256u}) {
        SCOPED_TRACE(size);
        lumaret::test::ToolRun run = RunTool("tools/logogen/logogen", "--icon " + std::to_string(size) + " -o icon.png");
        ASSERT_EQ(run.status, 0) << run.output;
        D3DXIMAGE_INFO info;
        std::vector<uint32_t> texels;
        ASSERT_TRUE(DecodeTexels(lumaret::test::ReadFileBytes("icon.png"), &info, &texels));
        ASSERT_EQ(info.Width, size);
        ASSERT_EQ(info.Height, size);
        for (size_t corner : {size_t{0}, size_t{size - 1}, size_t{(size - 1) * size}, size_t{size * size - 1}})
            EXPECT_EQ(texels[corner] >> 24, 0u);
        int white = 0, amber = 0, opaque = 0;
        for (uint32_t t : texels) {
            if (t >> 24 != 255) continue;
            ++opaque;
            uint32_t r = (t >> 16) & 0xFF, g = (t >> 8) & 0xFF, b = t & 0xFF;
            white += r > 240 && g > 240 && b > 240;
            amber += r > 200 && g > 100 && g < 200 && b < 90;
        }
        EXPECT_GT(opaque, static_cast<int>(size * size) / 2);
        EXPECT_GT(white, static_cast<int>(size * size) / 40);
        EXPECT_GT(amber, 0);
    }
    for (const char* size : {"8", "2048", "big"})
        EXPECT_EQ(RunTool("tools/logogen/logogen", std::string("--icon ") + size + " -o x.png").status, 1) << size;
}
