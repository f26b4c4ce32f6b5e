// The stats overlay: its numbers under a fixed frame clock, the glyph quads of a known
// string on the real font's cells, and its draws on a recording device.
#include "app/StatsOverlay.h"
#include "app/TextPanel.h"

#include "render/RendererTestSupport.h"
#include "scene/WorldTestSupport.h"
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

class StatsOverlayDraws : public lumaret::test::RecordedRendererTest {
protected:
    // The real font and screen shaders on the recording device.
    TextOverlay SetUpText() {
        std::filesystem::create_directory_symlink(std::filesystem::path(lumaret::test::SourceDir()) / "data", "data");
        Init();
        renderer->LoadFont("./data/Tahoma8.mofo");
        renderer->LoadShader("./data/screen.hlsl");
        renderer->LoadShader("./data/screenTex.hlsl");
        TextOverlay text;
        text.Setup(*renderer);
        return text;
    }
};

TEST_F(StatsOverlayDraws, TheOverlayIsTwoDrawsWhateverItsText) {
    TextOverlay text = SetUpText();
    StatsOverlay overlay;
    overlay.mode = HudMode::Compact;
    overlay.stats.Add(1.0f, 0.02f, 123, 0.5f);
    device->Forget();
    overlay.Draw(*renderer, text, 640, 480);
    EXPECT_EQ(device->Count("DrawPrimitiveUP"), 2u) << "the backing and one batch of glyphs";
    EXPECT_EQ(device->Count("DrawPrimitiveUP(4, "), 1u) << "the glyphs as one triangle list";
}

TEST_F(StatsOverlayDraws, TheFullPanelShowsWhatFitsOnTheScreen) {
    TextOverlay text = SetUpText();
    StatsOverlay overlay;
    overlay.stats.Add(1.0f, 0.02f, 123, 0.5f);
    struct Case {
        HudMode mode;
        int width, height;
        size_t draws;
        const char* what;
    };
    const Case cases[] = {
        {HudMode::Off, 640, 480, 0, "nothing"},
        {HudMode::Compact, 640, 480, 2, "the lines"},
        {HudMode::Full, 640, 480, 5, "the lines, the graph in one draw, the pass lines"},
        {HudMode::Full, 300, 480, 4, "too narrow for the graph"},
        {HudMode::Full, 640, 60, 2, "too low for anything but the lines"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        overlay.mode = c.mode;
        device->Forget();
        overlay.Draw(*renderer, text, c.width, c.height);
        EXPECT_EQ(device->Count("DrawPrimitiveUP"), c.draws);
    }
    overlay.mode = HudMode::Off;
    for (HudMode next : {HudMode::Compact, HudMode::Full, HudMode::Off}) {
        overlay.Step();
        EXPECT_EQ(overlay.mode, next) << "F1 steps off, compact, full, off";
    }
}

using StatsOverlayPixels = lumaret::test::WorldTest;

// The graph in real pixels: one column per frame, the newest at the right, green within
// 16.7 ms, yellow within 33.3, red beyond, white lines at both budgets.
TEST_F(StatsOverlayPixels, TheGraphDrawsEachFrameAsAColumnUnderTheBudgetLines) {
    StartOnRealDevice(640, 480, {"screen.hlsl", "screenTex.hlsl"});
    gRenderer->LoadFont("./data/Tahoma8.mofo");
    TextOverlay text;
    text.Setup(*gRenderer);
    StatsOverlay overlay;
    overlay.mode = HudMode::Full;
    float time = 0.0f;
    const float kMs[] = {10.0f, 25.0f, 45.0f, 80.0f};  // the last is clipped at the graph's top
    for (int i = 0; i < 400; ++i) {
        float seconds = kMs[i % 4] / 1000.0f;
        overlay.stats.Add(time += seconds, seconds, 0, 0.0f);
    }
    gRenderer->BeginScene();
    gRenderer->Clear(ClearColor, 0xFF000080, 0);
    overlay.Draw(*gRenderer, text, 640, 480);
    gRenderer->EndScene();
    std::vector<uint32_t> frame = ReadBackBuffer();
    std::vector<QuadVertex> scratch;
    PanelRect lines = TextPanelRect(*gRenderer, text, overlay.Text(640, 480), PanelCorner::TopLeft, 640, 480, scratch);
    const int left = lines.left + 3, bottom = lines.top + lines.height + 2 + 3 + StatsOverlay::kGraphHeight;
    auto at = [&](int x, int y) { return frame[static_cast<size_t>(y) * 640 + static_cast<size_t>(x)] & 0xFFFFFF; };
    auto rowOf = [&](float ms) { return bottom - static_cast<int>(std::lround(ms / 50.0f * 60.0f)); };
    struct Column {
        int x;
        float ms;
        uint32_t color;
    };
    // The newest frame (80 ms) is the rightmost column; the ones before it to its left.
    const int newest = left + StatsOverlay::kGraphFrames - 1;
    const Column columns[] = {
        {newest - 3, 10.0f, 0x40D040}, {newest - 2, 25.0f, 0xE0C020}, {newest - 1, 45.0f, 0xE04030},
        {newest, 50.0f, 0xE04030}};
    for (const Column& c : columns) {
        SCOPED_TRACE(c.ms);
        EXPECT_EQ(at(c.x, bottom - 1), c.color) << std::hex << at(c.x, bottom - 1);
        EXPECT_EQ(at(c.x, rowOf(c.ms)), c.color) << "the column's top";
        EXPECT_NE(at(c.x, rowOf(c.ms) - 1), c.color) << "nothing above it";
    }
    for (float budget : StatsOverlay::kBudgetMs) {
        uint32_t line = at(left + 1, rowOf(budget));
        EXPECT_GT(line & 0xFF, 0xB0u) << "a light line at " << budget << " ms: " << std::hex << line;
        EXPECT_GT((line >> 8) & 0xFF, 0xB0u);
    }
    EXPECT_EQ(at(left + StatsOverlay::kGraphFrames + 20, bottom - 1), 0x000080u) << "the screen beside the graph";
}

using GpuPassTimerTest = lumaret::test::WorldTest;

// Timestamps around the frame and its passes on the real device: nothing is read until the
// frame's queries come round again, then each second's averages hold every pass in frame
// order, within the frame's own time.
TEST_F(GpuPassTimerTest, PassTimesArriveFramesLateInFrameOrder) {
    StartOnRealDevice(640, 480, PassShaders());
    AddObject(AddQuad(300.0f), gWorld->CreateZone("zone"));
    Light light;
    gWorld->lights = {&light};
    GpuPassTimer timer(gRenderer->device);
    ASSERT_TRUE(timer.Available());
    GpuPassTimer::active = &timer;
    float time = 0.0f;
    for (int frame = 0; frame < 75; ++frame) {
        gRenderer->BeginScene();
        timer.BeginFrame(time += 1.0f / 60.0f);
        gWorld->Render(&camera);
        timer.EndFrame();
        gRenderer->EndScene();
        gRenderer->Present();
        if (frame < GpuPassTimer::kFramesInFlight) {
            EXPECT_EQ(timer.measuredFrames + timer.skippedFrames, 0) << "frame " << frame << " read too soon";
        }
    }
    GpuPassTimer::active = nullptr;
    EXPECT_GT(timer.measuredFrames, 30);
    const std::vector<GpuPassTimer::PassTime>& times = timer.Times();
    std::vector<std::string> names;
    for (const GpuPassTimer::PassTime& pass : times) names.push_back(std::to_string(pass.depth) + " " + pass.name);
    const std::vector<std::string> expected = {"0 frame",
                                               "1 ZN pass",
                                               "1 Light pass",
                                               "1 Forward pass",
                                               "1 PostFX",
                                               "2 Down-sample to quarter size",
                                               "2 Down-sample chain",
                                               "2 Luminance read-back",
                                               "2 Blur 3x3",
                                               "2 Blur horizontal",
                                               "2 Blur vertical",
                                               "2 Composite"};
    EXPECT_EQ(names, expected);
    float passes = 0.0f;
    for (const GpuPassTimer::PassTime& pass : times) {
        EXPECT_GE(pass.ms, 0.0f) << pass.name;
        if (pass.depth == 1) passes += pass.ms;
    }
    ASSERT_FALSE(times.empty());
    EXPECT_GT(times[0].ms, 0.0f);
    EXPECT_LE(passes, times[0].ms * 1.001f) << "the passes lie inside the frame";
    EXPECT_NE(StatsOverlay::PassText(&timer).find("\n  ZN pass  "), std::string::npos) << StatsOverlay::PassText(&timer);
}
