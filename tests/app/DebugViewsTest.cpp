// The debug views over a lit quad facing the camera, in real pixels: what each view shows
// where the quad is and where nothing is, the depth's range read back two frames late; and
// F12's screenshots: the file holds the frame's pixels, the numbers count up, a file that
// cannot be written leaves nothing behind.
#include "app/DebugViews.h"
#include "app/FrameLoop.h"
#include "app/Screenshot.h"

#include "resources/TextOverlay.h"
#include "scene/WorldTestSupport.h"
#include "support/GoldenImage.h"

#include <d3dx9.h>

#include <filesystem>

using lumaret::test::WorldTest;

namespace {

struct Rgb {
    int r, g, b;
};

Rgb At(const std::vector<uint32_t>& frame, int x, int y) {
    uint32_t p = frame[static_cast<size_t>(y) * 640 + x];
    return {static_cast<int>((p >> 16) & 0xff), static_cast<int>((p >> 8) & 0xff), static_cast<int>(p & 0xff)};
}

class DebugViewsTest : public WorldTest {
protected:
    std::vector<uint32_t> Show(DebugView view) {
        gWorld->Render(&camera);
        views.current = view;
        views.Draw(*gRenderer, *gWorld, noText, 640, 480);
        return ReadBackBuffer();
    }
    void TearDown() override {
        if (gRenderer) views.Release(*gRenderer);
        WorldTest::TearDown();
    }
    DebugViews views;
    TextOverlay noText;  // no font: the views' names are not drawn
};

}  // namespace

TEST_F(DebugViewsTest, EachViewShowsItsTargetOverALitQuad) {
    StartOnRealDevice(640, 480, PassShaders());
    AddObject(AddQuad(400.0f), gWorld->CreateZone("zone"));
    Light light;
    light.position = D3DXVECTOR3(150.0f, 0.0f, -60.0f);  // right of the centre, close to the quad
    light.color = D3DXVECTOR3(1.0f, 1.0f, 1.0f);
    gWorld->lights = {&light};
    const int cx = 320, cy = 240, left = 200, right = 440, emptyX = 10, emptyY = 10;

    // The quad faces the camera: view-space normal (0, 0, -1), shown as (128, 128, 0).
    std::vector<uint32_t> normals = Show(DebugView::Normals);
    Rgb n = At(normals, cx, cy);
    EXPECT_NEAR(n.r, 128, 3);
    EXPECT_NEAR(n.g, 128, 3);
    EXPECT_LE(n.b, 3);
    EXPECT_EQ(At(normals, emptyX, emptyY).r + At(normals, emptyX, emptyY).b, 0) << "nothing there is black";

    // Depth: grey, the frame's nearest white and its farthest black; nothing there is blue.
    std::vector<uint32_t> depth = Show(DebugView::Depth);
    Rgb flat = At(depth, cx, cy);
    EXPECT_EQ(flat.r, flat.g);
    EXPECT_EQ(flat.r, 255) << "one depth everywhere is the nearest";
    EXPECT_EQ(At(depth, emptyX, emptyY).b, 255);
    EXPECT_EQ(At(depth, emptyX, emptyY).r, 0);
    SceneObject* nearer = AddObject(AddQuad(100.0f), gWorld->zones[0]);
    D3DXMatrixTranslation(&nearer->world, 0.0f, 0.0f, -250.0f);  // 250 units from the camera, the other 500
    depth = Show(DebugView::Depth);
    EXPECT_EQ(At(depth, cx, cy).r, 255) << "the nearer quad";
    EXPECT_LE(At(depth, 170, cy).r, 1) << "the farther one, beside it";
    Show(DebugView::Depth);
    nearer->world = D3DXMATRIX(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1000, 1);  // behind the other, out of sight
    // The range is read back two frames late: the nearer quad gone, the far one is still
    // the farthest (black) of the range it made, and two frames on the nearest (white).
    EXPECT_LE(At(Show(DebugView::Depth), cx, cy).r, 1) << "scaled by the frame before last";
    Show(DebugView::Depth);
    EXPECT_EQ(At(Show(DebugView::Depth), cx, cy).r, 255) << "scaled by its own frame";

    // Light: brightest under the light (to the right), none where nothing is.
    std::vector<uint32_t> diffuse = Show(DebugView::Light);
    EXPECT_GT(At(diffuse, right, cy).r, At(diffuse, left, cy).r + 20);
    EXPECT_EQ(At(diffuse, emptyX, emptyY).r, 0);
    std::vector<uint32_t> specular = Show(DebugView::Specular);
    Rgb s = At(specular, right, cy);
    EXPECT_TRUE(s.r == s.g && s.g == s.b) << "alpha as grey";
    int brightest = 0;
    for (uint32_t pixel : specular) brightest = std::max(brightest, static_cast<int>(pixel & 0xFF));
    EXPECT_EQ(brightest, 255) << "the frame's brightest highlight is white";
    std::vector<uint32_t> luminance = Show(DebugView::Luminance);
    Rgb l = At(luminance, right, cy);
    EXPECT_TRUE(l.r == l.g && l.g == l.b && l.r > 10) << "luminance as grey";

    // The scene before post-processing, the bloom source and the luminance chain show the
    // lit quad too, and are not the final image.
    std::vector<uint32_t> final = Show(DebugView::Final);
    for (DebugView view : {DebugView::Scene, DebugView::Bloom, DebugView::Luminance}) {
        SCOPED_TRACE(DebugViewName(view));
        std::vector<uint32_t> shown = Show(view);
        EXPECT_GT(At(shown, right, cy).r, 10);
        EXPECT_NE(shown, final);
    }
}

TEST(DebugViewNames, EveryViewHasANameThatFindsIt) {
    for (int i = 0; i < static_cast<int>(DebugView::Count); ++i) {
        auto view = static_cast<DebugView>(i);
        EXPECT_EQ(DebugViewNamed(DebugViewName(view)), view);
    }
    EXPECT_EQ(DebugViewNamed("Normals"), DebugView::Count);
    DebugViews views;
    views.Previous();
    EXPECT_EQ(views.current, DebugView::Luminance) << "Shift+F2 from the final image wraps to the last view";
    views.Next();
    EXPECT_EQ(views.current, DebugView::Final);
}

TEST(FrameLoopSettingsDeathTest, TheLoopsOwnVariablesOutsideTheirFormStopTheProgram) {
    struct Case {
        const char* variable;
        const char* value;
        const char* form;
    };
    const Case cases[] = {
        {"LUMARET_DEBUG_VIEW", "Normals", "one of final, normals, depth, light, specular, scene, bloom, luminance"},
        {"LUMARET_HUD", "on", "0 \\(off\\), 1 \\(compact\\) or 2 \\(full\\)"},
    };
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.variable);
        EXPECT_EXIT(
            {
                setenv(c.variable, c.value, 1);
                FrameLoop::CheckSettings();
                std::exit(0);
            },
            testing::ExitedWithCode(2), std::string("^lumaret: ") + c.variable + " is \"" + c.value + "\"; it must be " + c.form);
    }
}

TEST_F(DebugViewsTest, AScreenshotHoldsTheFramesPixelsUnderTheNextFreeNumber) {
    StartOnRealDevice(640, 480, PassShaders());
    AddObject(AddQuad(300.0f), gWorld->CreateZone("zone"));
    Light light;
    gWorld->lights = {&light};
    std::vector<uint32_t> frame = Show(DebugView::Normals);
    lumaret::test::WriteFileBytes("screenshot_001.png", "taken");
    EXPECT_EQ(NextScreenshotName(), "screenshot_002.png");
    ASSERT_TRUE(SaveNumberedScreenshot(*gRenderer));
    int width = 0, height = 0;
    std::vector<uint32_t> saved;
    ASSERT_TRUE(lumaret::test::ReadPng("screenshot_002.png", &width, &height, &saved));
    ASSERT_EQ(saved.size(), frame.size());
    for (size_t i = 0; i < frame.size(); i += 7) ASSERT_EQ(saved[i] & 0xffffff, frame[i] & 0xffffff) << i;
    EXPECT_NE(lumaret::test::ReadFileBytes("log.txt").find("Screenshot: screenshot_002.png\n"), std::string::npos);
    EXPECT_EQ(NextScreenshotName(), "screenshot_003.png");

    // A file that cannot be written is an error and leaves nothing at the path.
    IDirect3DSurface9* surface = nullptr;
    ASSERT_EQ(gRenderer->device->CreateOffscreenPlainSurface(4, 4, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &surface, nullptr),
              D3D_OK);
    EXPECT_NE(D3DXSaveSurfaceToFileA("no/such/dir/shot.png", D3DXIFF_PNG, surface, nullptr, nullptr), D3D_OK);
    EXPECT_EQ(D3DXSaveSurfaceToFileA("shot.bmp", D3DXIFF_BMP, surface, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_FALSE(std::filesystem::exists("shot.bmp"));
    surface->Release();
}

// A screenshot that cannot be written says why, as the system puts it, in the log and in
// the text the frame loop shows (a working directory gone from under the program here:
// permissions do not stop root).
TEST_F(DebugViewsTest, AScreenshotThatCannotBeWrittenSaysWhy) {
    StartOnRealDevice(640, 480, PassShaders());
    std::filesystem::path home = std::filesystem::current_path();
    std::filesystem::create_directory("gone");
    std::filesystem::current_path("gone");
    std::filesystem::remove(home / "gone");
    std::string failure;
    bool saved = SaveNumberedScreenshot(*gRenderer, &failure);
    std::filesystem::current_path(home);
    EXPECT_FALSE(saved);
    EXPECT_NE(failure.find("Screenshot: screenshot_001.png could not be written (No such file or directory)"),
              std::string::npos)
        << failure;
}

TEST_F(DebugViewsTest, TheFinalImageIsLabelledOnlyOnceViewsAreChosen) {
    std::vector<std::string> shaders = PassShaders();
    shaders.insert(shaders.end(), {"screen.hlsl", "screenTex.hlsl"});
    StartOnRealDevice(640, 480, shaders);
    gRenderer->LoadFont("./data/Tahoma8.mofo");
    TextOverlay text;
    text.Setup(*gRenderer);
    AddObject(AddQuad(300.0f), gWorld->CreateZone("zone"));
    Light light;
    gWorld->lights = {&light};
    auto topCentre = [&] {
        gWorld->Render(&camera);
        views.Draw(*gRenderer, *gWorld, text, 640, 480);
        std::vector<uint32_t> frame = ReadBackBuffer();
        return std::vector<uint32_t>(frame.begin() + 4 * 640, frame.begin() + 20 * 640);
    };
    std::vector<uint32_t> untouched = topCentre();
    views.Next();
    views.Previous();
    ASSERT_EQ(views.current, DebugView::Final);
    EXPECT_NE(topCentre(), untouched) << "\"final\" at the top once F2 has been used";
}
