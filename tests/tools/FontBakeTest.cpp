// The bitmap font the engine loads (data/Tahoma8.mofo) and fontbake, which makes it: the
// engine's parser accepts the files, and the cells are what a text renderer needs.
#include "resources/Font.h"
#include "ToolRun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

using lumaret::test::RunTool;

namespace {

struct Cell {
    int left, top, right, bottom;
};

int U16(const std::string& bytes, size_t at) {
    return static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8;
}

// Checks what text drawing relies on: every cell inside the stored rows, one line tall, apart
// from every other cell, and all ink inside some cell. The parsed font points into bytes.
void ExpectUsableFont(const std::string& bytes, size_t glyphCount, MofoFont* parsed) {
    MofoFont& font = *parsed;
    std::string error;
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    ASSERT_TRUE(ParseMofo(data, bytes.size(), &font, &error)) << error;
    ASSERT_EQ(font.glyphs.size(), glyphCount);

    const int n = static_cast<int>(font.textureSize);
    const int lineHeight = static_cast<uint8_t>(bytes[6]);
    std::vector<Cell> cells;
    for (const GlyphRect& r : font.glyphs)
        cells.push_back({static_cast<int>(std::lround(r.a * n)), static_cast<int>(std::lround(r.b * n)),
                         static_cast<int>(std::lround(r.c * n)), static_cast<int>(std::lround(r.d * n))});
    std::vector<int> owner(static_cast<size_t>(n) * font.rowCount, -1);
    for (size_t k = 0; k < cells.size(); ++k) {
        const Cell& c = cells[k];
        SCOPED_TRACE("glyph for code " + std::to_string(32 + k));
        ASSERT_TRUE(c.left >= 0 && c.left <= c.right && c.right <= n) << c.left << ".." << c.right;
        ASSERT_TRUE(c.top >= 0 && c.bottom <= static_cast<int>(font.rowCount)) << c.top << ".." << c.bottom;
        EXPECT_EQ(c.bottom - c.top, lineHeight);
        for (int y = c.top; y < c.bottom; ++y)
            for (int x = c.left; x < c.right; ++x) {
                int& slot = owner[static_cast<size_t>(y) * n + x];
                ASSERT_EQ(slot, -1) << "overlaps the glyph for code " << 32 + slot << " at " << x << "," << y;
                slot = static_cast<int>(k);
            }
    }
    int inkTexels = 0;
    for (size_t i = 0; i < owner.size(); ++i) {
        if (font.coverage[i] == 0) continue;
        ++inkTexels;
        ASSERT_NE(owner[i], -1) << "ink outside every cell at " << i % n << "," << i / n;
    }
    EXPECT_GT(inkTexels, 0);
}

// The advance width table the engine skips, for layout.
int Advance(const std::string& bytes, int code) { return U16(bytes, 12 + 2 * static_cast<size_t>(code - 32)); }

}  // namespace

TEST(BitmapFont, TheCommittedFontCoversPrintableAsciiAtASmallSize) {
    std::string bytes = lumaret::test::ReadFileBytes(lumaret::test::SourceDir() + "/data/Tahoma8.mofo");
    MofoFont font;
    ASSERT_NO_FATAL_FAILURE(ExpectUsableFont(bytes, 95, &font));
    EXPECT_EQ(font.endChar, 127);
    EXPECT_EQ(font.textureSize, 128u);
    int lineHeight = static_cast<uint8_t>(bytes[6]);
    EXPECT_GE(lineHeight, 10);
    EXPECT_LE(lineHeight, 14);

    const GlyphRect& a = font.glyphs['A' - 32];
    EXPECT_GT(a.c - a.a, 0.0f);
    EXPECT_GT(a.d - a.b, 0.0f);
    EXPECT_GT(Advance(bytes, 'A'), 3);
    // 'W' is wider than 'i'; the space moves the pen but has no ink.
    EXPECT_GT(Advance(bytes, 'W'), Advance(bytes, 'i'));
    EXPECT_GT(Advance(bytes, ' '), 0);
    const GlyphRect& space = font.glyphs[0];
    int n = static_cast<int>(font.textureSize);
    for (int y = static_cast<int>(space.b * n); y < static_cast<int>(space.d * n); ++y)
        for (int x = static_cast<int>(space.a * n); x < static_cast<int>(space.c * n); ++x)
            EXPECT_EQ(font.coverage[y * n + x], 0) << x << "," << y;
}

TEST(FontBake, BakesTheCharactersAndSizesAskedFor) {
    lumaret::test::ScopedTempDir dir;
    lumaret::test::ToolRun run = RunTool("tools/fontbake/fontbake", "--pixel-size 20 --end-char 91 -t 256 -o big.mofo");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("59 glyphs, 256 x 256 texture"), std::string::npos) << run.output;
    std::string bytes = lumaret::test::ReadFileBytes("big.mofo");
    MofoFont font;
    ASSERT_NO_FATAL_FAILURE(ExpectUsableFont(bytes, 59, &font));
    EXPECT_EQ(font.textureSize, 256u);
    EXPECT_EQ(bytes.substr(0, 4), "MOFO");
    EXPECT_GT(static_cast<uint8_t>(bytes[6]), 15);  // twice the em of the 10-pixel default

    // Without a size the smallest texture that holds the glyphs is chosen.
    ASSERT_EQ(RunTool("tools/fontbake/fontbake", "-s 6 -o small.mofo").status, 0);
    std::string smallBytes = lumaret::test::ReadFileBytes("small.mofo");
    MofoFont small;
    ExpectUsableFont(smallBytes, 95, &small);
    EXPECT_EQ(small.textureSize, 64u);
}

TEST(FontBake, ExitStatusTellsWhatWentWrong) {
    lumaret::test::ScopedTempDir dir;
    lumaret::test::ToolRun help = RunTool("tools/fontbake/fontbake", "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("usage: fontbake"), std::string::npos);

    EXPECT_EQ(RunTool("tools/fontbake/fontbake", "").status, 1);
    EXPECT_EQ(RunTool("tools/fontbake/fontbake", "-o x.mofo --pixel-size ten").status, 1);
    EXPECT_EQ(RunTool("tools/fontbake/fontbake", "-o x.mofo --texture-size 100").status, 1);
    EXPECT_EQ(RunTool("tools/fontbake/fontbake", "-o x.mofo --end-char 256").status, 1);
    EXPECT_EQ(RunTool("tools/fontbake/fontbake", "-o x.mofo stray").status, 1);

    lumaret::test::ToolRun missing = RunTool("tools/fontbake/fontbake", "-f missing.ttf -o x.mofo");
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.output.find("missing.ttf: No such file"), std::string::npos) << missing.output;
    lumaret::test::WriteFileBytes("not-a-font.ttf", "plain text");
    EXPECT_EQ(RunTool("tools/fontbake/fontbake", "-f not-a-font.ttf -o x.mofo").status, 2);

    lumaret::test::ToolRun tooSmall = RunTool("tools/fontbake/fontbake", "-t 32 -o x.mofo");
    EXPECT_EQ(tooSmall.status, 3);
    EXPECT_NE(tooSmall.output.find("do not fit a 32 x 32 texture"), std::string::npos) << tooSmall.output;
    EXPECT_EQ(RunTool("tools/fontbake/fontbake", "-o no-such-dir/x.mofo").status, 4);
    EXPECT_TRUE(lumaret::test::ReadFileBytes("x.mofo").empty()) << "a failed run wrote its output";
}
