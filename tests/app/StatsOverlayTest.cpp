// The stats overlay: its numbers under a fixed frame clock, the glyph quads of a known
// string on the real font's cells, and its draws on a recording device.
#include "app/StatsOverlay.h"

#include "render/RendererTestSupport.h"
#include "resources/TextOverlay.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

namespace {

// The real Tahoma8.mofo as the engine registers it.
FontRecord RealFont() {
    std::string bytes = lumaret::test::ReadFileBytes(lumaret::test::SourceDir() + "/data/Tahoma8.mofo");
    MofoFont parsed;
    std::string error;
    EXPECT_TRUE(ParseMofo(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &parsed, &error)) << error;
    FontRecord font;
    font.glyphs = parsed.glyphs;
    font.textureSize = parsed.textureSize;
    return font;
}

}  // namespace

TEST(StatsOverlay, NumbersOfTheLastSecond) {
    StatsOverlay overlay;
    float time = 0.0f;
    auto frame = [&](float seconds) {
        time += seconds;
        overlay.stats.Add(time, seconds, 758, 0.0131f);
    };
    for (int i = 0; i < 120; ++i) frame(1.0f / 60.0f);
    EXPECT_EQ(overlay.Text(640, 480), "60.0 fps  16.67 ms (worst 16.67)\n758 draws  L 0.0131\n640 x 480");
    // One slow frame shows as the worst and pulls the mean, until it is a second old.
    frame(0.1f);
    EXPECT_NEAR(overlay.stats.WorstMs(), 100.0f, 1e-3f);
    EXPECT_GT(overlay.stats.MeanMs(), 16.67f);
    for (int i = 0; i < 61; ++i) frame(1.0f / 60.0f);
    EXPECT_NEAR(overlay.stats.WorstMs(), 16.667f, 1e-2f);
    EXPECT_NEAR(overlay.stats.FramesPerSecond(), 60.0f, 0.01f);
    // The first frame of a run counts alone, however long it took.
    StatsOverlay first;
    first.stats.Add(2.5f, 2.5f, 0, 0.0f);
    EXPECT_NEAR(first.stats.FramesPerSecond(), 0.4f, 1e-6f);
}

TEST(StatsOverlay, GlyphQuadsLandOnTheFontCells) {
    FontRecord font = RealFont();
    std::vector<QuadVertex> vertices;
    int width = 0, height = 0;
    LayoutText(font, "Hi\nA\x7f", 10, 20, 640, 480, 0xFFFFFFFF, vertices, &width, &height);
    ASSERT_EQ(vertices.size(), 3u * 6u) << "three glyphs; the code past the font is skipped";
    float n = static_cast<float>(font.textureSize);
    auto cell = [&](char c) { return font.glyphs[static_cast<size_t>(c - 32)]; };
    // Back from clip space to Direct3D 9 pixel edges (centres on integers).
    auto pixelX = [](float x) { return (x + 1.0f) * 320.0f + 0.5f; };
    auto pixelY = [](float y) { return (1.0f - y) * 240.0f + 0.5f; };
    struct Expected {
        char c;
        float penX, penY;
    };
    float lineHeight = std::round((cell('H').d - cell('H').b) * n);
    Expected expected[] = {
        {'H', 10, 20}, {'i', 10 + std::round((cell('H').c - cell('H').a) * n), 20}, {'A', 10, 20 + lineHeight}};
    for (size_t k = 0; k < 3; ++k) {
        const GlyphRect g = cell(expected[k].c);
        const QuadVertex* quad = &vertices[k * 6];
        SCOPED_TRACE(expected[k].c);
        EXPECT_NEAR(pixelX(quad[0].x), expected[k].penX, 1e-3f);
        EXPECT_NEAR(pixelY(quad[0].y), expected[k].penY, 1e-3f);
        EXPECT_NEAR(pixelX(quad[2].x) - pixelX(quad[0].x), (g.c - g.a) * n, 1e-3f);
        EXPECT_NEAR(pixelY(quad[2].y) - pixelY(quad[0].y), (g.d - g.b) * n, 1e-3f);
        EXPECT_EQ(quad[0].u, g.a);
        EXPECT_EQ(quad[0].v, g.b);
        EXPECT_EQ(quad[2].u, g.c);
        EXPECT_EQ(quad[2].v, g.d);
    }
    EXPECT_EQ(height, 2 * static_cast<int>(lineHeight));
    EXPECT_GT(width, 0);
}

using StatsOverlayDraws = lumaret::test::RecordedRendererTest;

TEST_F(StatsOverlayDraws, TheOverlayIsTwoDrawsWhateverItsText) {
    std::filesystem::create_directory_symlink(std::filesystem::path(lumaret::test::SourceDir()) / "data", "data");
    Init();
    renderer->LoadFont("./data/Tahoma8.mofo");
    renderer->LoadShader("./data/screen.hlsl");
    renderer->LoadShader("./data/screenTex.hlsl");
    TextOverlay text;
    text.Setup(*renderer);
    StatsOverlay overlay;
    overlay.stats.Add(1.0f, 0.02f, 123, 0.5f);
    device->Forget();
    overlay.Draw(*renderer, text, 640, 480);
    EXPECT_EQ(device->Count("DrawPrimitiveUP"), 2u) << "the backing and one batch of glyphs";
    EXPECT_EQ(device->Count("DrawPrimitiveUP(4, "), 1u) << "the glyphs as one triangle list";
}
