// The demo's set-up (on a recording device, with the committed scene file) and its
// animation: the light's path and the per-cube pulse that rewrites only the diagonal.
#include "app/Demo.h"

#include "scene/WorldTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

namespace {

constexpr float kHalfPi = std::numbers::pi_v<float> / 2.0f;

}  // namespace

TEST(DemoAnimation, LightCirclesAtRadius400AndKeepsItsColour) {
    struct Case {
        float s, x, z;
    };
    std::vector<SceneObject*> noCubes;
    for (Case c : {Case{0.0f, 0.0f, 400.0f}, Case{kHalfPi, 400.0f, 0.0f}, Case{2.0f * kHalfPi, 0.0f, -400.0f}}) {
        Light light;
        light.color = D3DXVECTOR3(1.0f, 0.994f, 0.991f);
        AnimateDemo(c.s, light, noCubes);
        EXPECT_NEAR(light.position.x, c.x, 1e-3f) << "s " << c.s;
        EXPECT_NEAR(light.position.z, c.z, 1e-3f) << "s " << c.s;
        EXPECT_TRUE(light.position.y >= 200.0f && light.position.y <= 800.0f) << "s " << c.s;
        EXPECT_EQ(light.color, D3DXVECTOR3(1.0f, 0.994f, 0.991f));
        // At s = 0 the height is 300 sin(1.345) + 500.
        if (c.s == 0.0f) {
            EXPECT_NEAR(light.position.y, 792.3848f, 1e-3f);
        }
    }
}

TEST(DemoAnimation, EachCubePulsesWithItsOwnPhaseOnTheDiagonalOnly) {
    std::vector<std::unique_ptr<SceneObject>> objects;
    std::vector<SceneObject*> cubes;
    for (int c = 0; c < 125; ++c) {
        objects.push_back(std::make_unique<SceneObject>("cube"));
        float* m = &objects.back()->world._11;
        for (int e = 0; e < 16; ++e) m[e] = 100.0f * static_cast<float>(c) + static_cast<float>(e);
        cubes.push_back(objects.back().get());
    }
    struct Case {
        float s;
        int cube;
        float scale;
    };
    // Cube c is full size where s + 2.5 c / 125 is an odd multiple of pi / 2; neighbours in
    // the list are 0.02 apart in phase.
    const Case cases[] = {
        {0.0f, 0, 0.5f},           {kHalfPi, 0, 1.0f},        {kHalfPi - 0.02f * 10, 10, 1.0f},
        {3.0f * kHalfPi, 0, 1.0f}, {2.0f * kHalfPi, 0, 0.5f}, {0.0f, 124, (std::sin(2.48f) + 1.0f) / 2}};
    for (const Case& c : cases) {
        Light light;
        AnimateDemo(c.s, light, cubes);
        const D3DXMATRIX& world = cubes[static_cast<size_t>(c.cube)]->world;
        SCOPED_TRACE(testing::Message() << "s " << c.s << " cube " << c.cube);
        EXPECT_NEAR(world._11, c.scale, 1e-5f);
        EXPECT_EQ(world._22, world._11);
        EXPECT_EQ(world._33, world._11);
    }
    for (int c = 0; c < 125; ++c) {
        const float* m = &cubes[static_cast<size_t>(c)]->world._11;
        EXPECT_GE(m[0], 0.5f);
        EXPECT_LE(m[0], 1.0f);
        for (int e : {1, 2, 3, 4, 6, 7, 8, 9, 11, 12, 13, 14, 15})
            ASSERT_EQ(m[e], 100.0f * static_cast<float>(c) + static_cast<float>(e)) << "cube " << c << " entry " << e;
    }
}

class DemoSetupTest : public lumaret::test::WorldTest {};

TEST_F(DemoSetupTest, BuildsTheSceneObjectAndAGridOfCubesSharingItsRenderables) {
    StartOnRecordingDevice(640, 480, PassShaders());
    std::vector<SceneObject*> cubes;
    SetupDemoScene(*gWorld, cubes);

    EXPECT_EQ(gWorld->clearColor, 0xFF000000u);
    EXPECT_EQ(gWorld->postFactor, 0.025f);
    ASSERT_EQ(gWorld->zones.size(), 1u);
    Zone* zone = gWorld->zones[0];
    EXPECT_EQ(zone->name, "zone");
    ASSERT_EQ(gWorld->objects.size(), 126u);
    // The model's object comes first, is in no zone and holds the cube's two parts and the
    // cylinder, with the animation controller.
    SceneObject* scene = gWorld->objects[0];
    EXPECT_EQ(scene->name, "scene");
    EXPECT_EQ(scene->zone, nullptr);
    EXPECT_EQ(scene->RenderableCount(), 3);
    EXPECT_NE(scene->controller, nullptr);

    ASSERT_EQ(cubes.size(), 125u);
    EXPECT_EQ(zone->objects, cubes);
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j)
            for (int k = 0; k < 5; ++k) {
                SceneObject* cube = cubes[static_cast<size_t>(25 * i + 5 * j + k)];
                SCOPED_TRACE(testing::Message() << "cube " << i << " " << j << " " << k);
                EXPECT_EQ(cube, gWorld->objects[static_cast<size_t>(1 + 25 * i + 5 * j + k)]);
                EXPECT_EQ(cube->zone, zone);
                EXPECT_EQ(cube->renderables, scene->renderables);
                D3DXMATRIX expected;
                D3DXMatrixTranslation(&expected, 233.0f * i, 233.0f * j, 233.0f * k);
                EXPECT_EQ(cube->world, expected);
            }

    // A frame queues 125 objects, the scene object and the first 124 cubes, with three
    // renderables each, drawn by the two geometry passes; the last cube is never drawn.
    Camera camera;
    camera.SetPerspective(60.0f, 4.0f / 3.0f, 1.0f, 2000.0f);
    recording->Forget();
    gWorld->Render(&camera);
    EXPECT_EQ(recording->Count("DrawIndexedPrimitive"), 125u * 3u * 2u);
}
