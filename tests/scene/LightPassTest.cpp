// Lights with a range, in real pixels: where their reach ends, spots' cones, lights that
// cannot reach a surface, many lights at once, and the bounded pass against the full-screen
// one; and the screen rectangles the bounded pass draws.
#include "scene/LightBounds.h"
#include "scene/WorldTestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using lumaret::test::WorldTest;

namespace {

constexpr int kWidth = 640, kHeight = 480;
// The test camera: at z = -500 looking down +z, 60 degrees vertically, aspect 4/3; the
// quads lie in z = 0, so a pixel's surface point is its ray at view depth 500.
constexpr float kXs = 1.2990381f, kYs = 1.7320508f, kDepth = 500.0f;

D3DXVECTOR3 SurfacePoint(int x, int y) {
    float ndcX = (x + 0.5f) / (kWidth / 2.0f) - 1.0f, ndcY = 1.0f - (y + 0.5f) / (kHeight / 2.0f);
    return D3DXVECTOR3(ndcX * kDepth / kXs, ndcY * kDepth / kYs, 0.0f);
}

// The pixel whose surface point is nearest (x, y, 0).
std::pair<int, int> PixelAt(float x, float y) {
    int px = static_cast<int>(std::floor((x * kXs / kDepth + 1.0f) * kWidth / 2.0f));
    int py = static_cast<int>(std::floor((1.0f - y * kYs / kDepth) * kHeight / 2.0f));
    return {px, py};
}

uint32_t Texel(const std::vector<uint8_t>& bytes, int x, int y) {
    uint32_t value;
    std::memcpy(&value, &bytes[(static_cast<size_t>(y) * kWidth + x) * 4], 4);
    return value;
}

int Channel(uint32_t argb, int shift) { return static_cast<int>((argb >> shift) & 0xff); }

Light PointLight(D3DXVECTOR3 position, float range, D3DXVECTOR3 color) {
    Light light;
    light.kind = LightKind::Point;
    light.position = position;
    light.range = range;
    light.color = color;
    return light;
}

Light SpotLight(D3DXVECTOR3 position, D3DXVECTOR3 direction, float range, float innerDegrees, float outerDegrees) {
    Light light = PointLight(position, range, D3DXVECTOR3(1.0f, 1.0f, 1.0f));
    light.kind = LightKind::Spot;
    light.direction = direction;
    light.innerConeCos = std::cos(innerDegrees * 0.017453293f);
    light.outerConeCos = std::cos(outerDegrees * 0.017453293f);
    return light;
}

class LightPassTest : public WorldTest {
protected:
    void SetUp() override {
        std::vector<std::string> shaders = PassShaders();
        shaders.push_back("PassLightBounded.hlsl");
        StartOnRealDevice(kWidth, kHeight, shaders);
        ASSERT_GE(gWorld->boundedLightShader, 0);
        AddObject(AddQuad(1200.0f), gWorld->CreateZone("zone"));
    }

    std::vector<uint8_t> LightTarget(std::vector<Light>& lights, bool bounded) {
        gWorld->lights.clear();
        for (Light& light : lights) gWorld->lights.push_back(&light);
        gWorld->boundLights = bounded;
        gWorld->Render(&camera);
        return ReadTarget(gWorld->lightTarget);
    }
};

}  // namespace

TEST_F(LightPassTest, BoundedLightsMatchTheFullScreenPath) {
    struct Case {
        const char* name;
        std::vector<Light> lights;
    };
    std::vector<Case> cases = {
        {"one point light", {PointLight({40, -30, -120}, 260, {1.0f, 0.6f, 0.3f})}},
        {"a spot at an angle", {SpotLight({-100, 80, -250}, {0.3f, -0.2f, 1.0f}, 500, 12, 25)}},
        {"lights crossing the screen's edges and the near plane",
         {PointLight({-560, 0, -60}, 200, {0.2f, 0.9f, 0.4f}), PointLight({0, 420, -80}, 250, {0.5f, 0.5f, 1.0f}),
          PointLight({0, 0, -499.5f}, 520, {0.3f, 0.3f, 0.3f})}},
        {"overlapping lights add up",
         {PointLight({0, 0, -50}, 150, {0.4f, 0.1f, 0.1f}), PointLight({30, 0, -50}, 150, {0.1f, 0.4f, 0.1f}),
          PointLight({15, 20, -40}, 150, {0.1f, 0.1f, 0.4f})}},
    };
    for (Case& c : cases) {
        std::vector<uint8_t> full = LightTarget(c.lights, false);
        EXPECT_EQ(gWorld->lightStats.boundedLights, 0) << c.name;
        std::vector<uint8_t> bounded = LightTarget(c.lights, true);
        EXPECT_EQ(gWorld->lightStats.boundedLights, static_cast<int>(c.lights.size())) << c.name;
        int worst = 0, lit = 0;
        for (size_t i = 0; i < full.size(); ++i) worst = std::max(worst, std::abs(full[i] - bounded[i]));
        for (size_t i = 0; i < full.size(); i += 4) lit += full[i] + full[i + 1] + full[i + 2] > 0;
        EXPECT_LE(worst, 1) << c.name << ": within 1/255 per channel";
        EXPECT_GT(lit, 500) << c.name << ": the lights reach the quad";
    }
}

TEST_F(LightPassTest, ReachEndsAtTheRangeAndConesAndDepthBoundWhatIsLit) {
    // Where the surface point p = (x, y, 0) must be lit, and where it must stay black. Near
    // the edges the falloff leaves less than a step of the 8-bit target, so lit is asked
    // for well inside them only.
    using Where = bool (*)(const D3DXVECTOR3& p);
    auto nowhere = [](const D3DXVECTOR3&) { return false; };
    auto everywhere = [](const D3DXVECTOR3&) { return true; };
    struct Case {
        const char* name;
        Light light;
        Where lit, dark;
    };
    const Case cases[] = {
        {"point light: lit within its range, black beyond", PointLight({0, 0, -100}, 200, {1, 1, 1}),
         [](const D3DXVECTOR3& p) { return std::hypot(p.x, p.y, 100.0f) < 160.0f; },
         [](const D3DXVECTOR3& p) { return std::hypot(p.x, p.y, 100.0f) > 200.0f; }},
        {"spot down +z: lit within its cone only", SpotLight({0, 0, -200}, {0, 0, 1}, 600, 15, 20),
         [](const D3DXVECTOR3& p) { return std::atan2(std::hypot(p.x, p.y), 200.0f) < 0.244f; },
         [](const D3DXVECTOR3& p) { return std::atan2(std::hypot(p.x, p.y), 200.0f) > 0.358f; }},
        {"light behind the surface", PointLight({0, 0, 60}, 200, {1, 1, 1}), nowhere, everywhere},
        {"light far in front of the surface", PointLight({0, 0, -300}, 250, {1, 1, 1}), nowhere, everywhere},
    };
    for (const Case& c : cases) {
        std::vector<Light> lights{c.light};
        std::vector<uint8_t> target = LightTarget(lights, true);
        int unlit = 0, stray = 0, litPixels = 0;
        for (int y = 0; y < kHeight; y += 3)
            for (int x = 0; x < kWidth; x += 3) {
                D3DXVECTOR3 p = SurfacePoint(x, y);
                int red = Channel(Texel(target, x, y), 16);
                litPixels += red > 0;
                unlit += c.lit(p) && red == 0;
                stray += c.dark(p) && red > 0;
            }
        EXPECT_EQ(unlit, 0) << c.name;
        EXPECT_EQ(stray, 0) << c.name;
        if (c.lit(D3DXVECTOR3(0, 0, 0))) EXPECT_GT(litPixels, 1000) << c.name;
    }
}

TEST_F(LightPassTest, ManyLightsOfKnownColoursLandAtTheirPlaces) {
    // A 16 x 12 grid of small lights just above the quad, each of its own colour.
    std::vector<Light> lights;
    const D3DXVECTOR3 palette[] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 0}, {0, 1, 1}, {1, 0, 1}};
    for (int row = 0; row < 12; ++row)
        for (int column = 0; column < 16; ++column)
            lights.push_back(PointLight({-300.0f + 40.0f * column, -220.0f + 40.0f * row, -8.0f}, 18.0f,
                                        palette[(row * 16 + column) % 6]));
    std::vector<uint8_t> target = LightTarget(lights, true);
    EXPECT_EQ(gWorld->lightStats.boundedLights, 192);
    // Together less than one screen, where the full-screen way shades 192 screens.
    EXPECT_LT(gWorld->lightStats.boundedPixels, kWidth * kHeight) << "small lights, small rectangles";
    for (size_t i = 0; i < lights.size(); ++i) {
        auto [x, y] = PixelAt(lights[i].position.x, lights[i].position.y);
        uint32_t under = Texel(target, x, y);
        const D3DXVECTOR3& colour = lights[i].color;
        int channels[3] = {Channel(under, 16), Channel(under, 8), Channel(under, 0)};
        float wanted[3] = {colour.x, colour.y, colour.z};
        for (int k = 0; k < 3; ++k) {
            if (wanted[k] > 0.0f) EXPECT_GT(channels[k], 150) << "light " << i << " channel " << k;
            else EXPECT_EQ(channels[k], 0) << "light " << i << " channel " << k;
        }
        // Halfway to the next light, beyond both ranges: dark.
        auto [gx, gy] = PixelAt(lights[i].position.x + 20.0f, lights[i].position.y + 20.0f);
        EXPECT_EQ(Texel(target, gx, gy) & 0xffffff, 0u) << "between lights " << i;
    }
}

TEST(LightScreenRectTest, HoldsTheSphereAndLittleElse) {
    D3DXMATRIX projection;
    D3DXMatrixPerspectiveFovLH(&projection, 60.0f * 0.017453293f, 4.0f / 3.0f, 1.0f, 2000.0f);
    struct Case {
        const char* name;
        D3DXVECTOR3 centre;
        float radius;
        bool visible;
        bool wholeScreen;
    };
    const Case cases[] = {
        {"ahead", {0, 0, 400}, 50, true, false},
        {"off to the upper left", {-180, 120, 300}, 40, true, false},
        {"partly off screen", {330, 0, 400}, 60, true, false},
        {"around the eye", {0, 0, 0.5f}, 10, true, true},
        {"behind the eye", {0, 0, -100}, 50, false, false},
        {"beside the view", {900, 0, 300}, 50, false, false},
        {"zero range", {0, 0, 400}, 0, false, false},
        {"NaN range", {0, 0, 400}, std::nanf(""), false, false},
    };
    for (const Case& c : cases) {
        LightRect rect;
        bool visible = LightScreenRect(c.centre, c.radius, projection, kWidth, kHeight, &rect);
        ASSERT_EQ(visible, c.visible) << c.name;
        if (!visible) continue;
        EXPECT_EQ(rect.Area() == kWidth * kHeight, c.wholeScreen) << c.name;
        if (c.wholeScreen) continue;
        // Every point of the sphere that projects onto the screen lies inside the rectangle,
        // and the rectangle is no more than a few pixels wider than those points.
        int minX = kWidth, maxX = -1, minY = kHeight, maxY = -1;
        for (int i = 0; i < 64; ++i)
            for (int j = 0; j <= 32; ++j) {
                float theta = 3.14159265f * j / 32, phi = 6.2831853f * i / 64;
                D3DXVECTOR3 p = c.centre + c.radius * D3DXVECTOR3(std::sin(theta) * std::cos(phi), std::cos(theta),
                                                                  std::sin(theta) * std::sin(phi));
                D3DXVECTOR3 ndc;
                D3DXVec3TransformCoord(&ndc, &p, &projection);
                float px = (ndc.x + 1) * kWidth / 2, py = (1 - ndc.y) * kHeight / 2;
                if (px < 0 || px >= kWidth || py < 0 || py >= kHeight) continue;
                minX = std::min(minX, static_cast<int>(px));
                maxX = std::max(maxX, static_cast<int>(px));
                minY = std::min(minY, static_cast<int>(py));
                maxY = std::max(maxY, static_cast<int>(py));
            }
        EXPECT_LE(rect.x0, minX) << c.name;
        EXPECT_GT(rect.x1, maxX) << c.name;
        EXPECT_LE(rect.y0, minY) << c.name;
        EXPECT_GT(rect.y1, maxY) << c.name;
        // Tight where the screen's edge does not cut the sphere's outline.
        if (rect.x0 > 0 && rect.y0 > 0 && rect.x1 < kWidth && rect.y1 < kHeight) {
            EXPECT_LE((rect.x1 - rect.x0) - (maxX - minX + 1), 4) << c.name;
            EXPECT_LE((rect.y1 - rect.y0) - (maxY - minY + 1), 4) << c.name;
        }
    }
}

TEST(LightScreenRectTest, BadLightValuesDrawNothingAndConesStayOrdered) {
    Light nanRange = PointLight({0, 0, 0}, std::nanf(""), {1, 1, 1});
    Light negativeRange = PointLight({0, 0, 0}, -5.0f, {1, 1, 1});
    Light infiniteColour = PointLight({0, 0, 0}, 10.0f, {INFINITY, 1, 1});
    Light zeroDirection = SpotLight({0, 0, 0}, {0, 0, 0}, 10.0f, 10, 20);
    for (const Light* light : {&nanRange, &negativeRange, &infiniteColour, &zeroDirection})
        EXPECT_FALSE(IsDrawable(*light));
    Light demo;  // the demo's light has no range to check
    demo.range = std::nanf("");
    EXPECT_TRUE(IsDrawable(demo));

    Light swapped = SpotLight({0, 0, 0}, {0, 0, 1}, 10.0f, 40, 20);  // inner wider than outer
    Light nanCone = SpotLight({0, 0, 0}, {0, 0, 1}, 10.0f, 10, 20);
    nanCone.outerConeCos = std::nanf("");
    for (const Light* light : {&swapped, &nanCone}) {
        D3DXVECTOR2 cone = ConeTerms(*light);
        EXPECT_TRUE(std::isfinite(cone.x) && std::isfinite(cone.y) && cone.y > 0.0f);
        EXPECT_GE(cone.x, -1.0f);
    }
    EXPECT_EQ(ConeTerms(PointLight({0, 0, 0}, 10.0f, {1, 1, 1})), D3DXVECTOR2(-2.0f, 1.0f));
}
