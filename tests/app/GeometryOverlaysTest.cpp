// The geometry overlays over a quad facing the camera, in real pixels: the wireframe's
// edges and diagonal, the bounding box on the quad's border, the normals as short lines
// at its corners when seen from the side; nothing of them where they are off.
#include "app/GeometryOverlays.h"

#include "scene/WorldTestSupport.h"

#include <gtest/gtest.h>

using lumaret::test::WorldTest;

namespace {

class GeometryOverlaysTest : public WorldTest {
protected:
    std::vector<uint32_t> Show(bool wireframe, bool bounds, bool normals) {
        gWorld->ticksPerFrame = 0.0f;
        gWorld->Render(&camera);
        overlays.wireframe = wireframe;
        overlays.bounds = bounds;
        overlays.normals = normals;
        overlays.Draw(*gRenderer, *gWorld);
        return ReadBackBuffer();
    }
    // Whether a pixel of the colour lies within a pixel of (x, y).
    static bool Near(const std::vector<uint32_t>& frame, int x, int y, uint32_t color) {
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if ((frame[static_cast<size_t>((y + dy) * 640 + x + dx)] & 0xFFFFFF) == color) return true;
        return false;
    }
    static int Count(const std::vector<uint32_t>& frame, uint32_t color) {
        int n = 0;
        for (uint32_t p : frame) n += (p & 0xFFFFFF) == color;
        return n;
    }
    GeometryOverlays overlays;
};

constexpr uint32_t kWire = 0x60FF60, kBox = 0xFFD040, kNormal = 0x40A0FF;

}  // namespace

TEST_F(GeometryOverlaysTest, EachOverlayDrawsItsLinesOverTheQuad) {
    StartOnRealDevice(640, 480, PassShaders());
    AddObject(AddQuad(300.0f), gWorld->CreateZone("zone"));
    Light light;
    gWorld->lights = {&light};
    // The 300-unit quad 500 units away spans pixels 195 to 445 across and 115 to 365 down.
    std::vector<uint32_t> off = Show(false, false, false);
    EXPECT_EQ(Count(off, kWire) + Count(off, kBox) + Count(off, kNormal), 0);

    std::vector<uint32_t> wire = Show(true, false, false);
    EXPECT_TRUE(Near(wire, 320, 240, kWire)) << "the diagonal through the centre";
    EXPECT_TRUE(Near(wire, 196, 300, kWire)) << "the left edge";
    EXPECT_FALSE(Near(wire, 260, 320, kWire)) << "inside a triangle";
    EXPECT_EQ(Count(wire, kBox) + Count(wire, kNormal), 0);

    std::vector<uint32_t> box = Show(false, true, false);
    EXPECT_TRUE(Near(box, 196, 300, kBox)) << "the box's edge on the quad's";
    EXPECT_TRUE(Near(box, 300, 116, kBox)) << "the top";
    EXPECT_FALSE(Near(box, 320, 240, kBox)) << "no diagonal";

    // Seen from the side, each corner's normal is a short line towards the camera's side.
    camera.SetPosition(D3DXVECTOR3(400.0f, 0.0f, -300.0f));
    std::vector<uint32_t> normals = Show(false, false, true);
    int shown = Count(normals, kNormal);
    EXPECT_GT(shown, 4 * 5) << "four lines of several pixels";
    EXPECT_LT(shown, 4 * 40) << "short ones";
    EXPECT_EQ(Count(normals, kWire) + Count(normals, kBox), 0);
}
