// The passes and the chain in real pixels, headless on llvmpipe: what the targets hold
// after a frame, light accumulation, the measured luminance, the composite without its
// shader file, the device objects a world leaves behind, and the names frame debuggers see.
#include "scene/WorldTestSupport.h"

#include "d3d9/GlObjectCount.h"
#include "d3d9/Buffer.h"
#include "d3d9/ShaderObject.h"
#include "d3d9/Surface.h"
#include "d3d9/Texture.h"
#include "support/GlLabel.h"

#include <cmath>
#include <cstring>

using lumaret::test::GlLabel;
using lumaret::test::WorldTest;

namespace {

uint32_t Argb(const std::vector<uint8_t>& bytes, size_t pixel) {
    uint32_t value;
    std::memcpy(&value, &bytes[pixel * 4], 4);
    return value;
}

// Red, green, blue and alpha of an A16B16G16R16 pixel.
std::array<uint16_t, 4> Rgba16(const std::vector<uint8_t>& bytes, size_t pixel) {
    std::array<uint16_t, 4> value;
    std::memcpy(value.data(), &bytes[pixel * 8], 8);
    return value;
}

float CpuLuminance(const std::vector<uint8_t>& chain, size_t pixels) {
    float sum = 0.0f;
    for (size_t i = 0; i < pixels; ++i) {
        auto [r, g, b, a] = Rgba16(chain, i);
        sum += std::log(0.0001f + (0.2125f * r + 0.7154f * g + 0.0721f * b) * 1.5259022e-05f);
    }
    return std::exp(sum / static_cast<float>(pixels));
}

}  // namespace

TEST_F(WorldTest, AnEmptyFrameClearsEveryTarget) {
    StartOnRealDevice(640, 480, PassShaders());
    struct Case {
        D3DCOLOR clear;
        float luminance;
    };
    for (Case c : {Case{0xff000000, 0.0001f}, Case{0xffffffff, 1.0001f}, Case{0xff102030, 0.0f}}) {
        gWorld->clearColor = c.clear;
        gWorld->Render(&camera);
        int width = 0, height = 0;
        std::vector<uint8_t> zn = ReadTarget(gWorld->znTarget, &width, &height);
        std::vector<uint8_t> light = ReadTarget(gWorld->lightTarget);
        std::vector<uint8_t> scene = ReadTarget(gWorld->postfx.sceneTarget);
        size_t pixels = static_cast<size_t>(width) * height;
        uint16_t red = static_cast<uint16_t>(((c.clear >> 16) & 0xff) * 257);
        for (size_t i = 0; i < pixels; i += 97) {
            ASSERT_EQ(Argb(zn, i), 0xff800000u) << i;
            ASSERT_EQ(Argb(light, i), 0u) << "no lights: transparent black";
            ASSERT_EQ(Rgba16(scene, i)[0], red) << i;
        }
        if (c.luminance > 0.0f) {
            EXPECT_NEAR(gWorld->postfx.luminance, c.luminance, 1e-5f);
        }
    }
}

TEST_F(WorldTest, LightsAddUpAndOnlyWhereThereIsASurface) {
    StartOnRealDevice(640, 480, PassShaders());
    Zone* zone = gWorld->CreateZone("zone");
    AddObject(AddQuad(400.0f), zone);
    Light first, second;
    first.position = second.position = D3DXVECTOR3(0.0f, 0.0f, -300.0f);
    first.color = second.color = D3DXVECTOR3(0.3f, 0.2f, 0.1f);
    size_t centre = 240 * 640 + 320, corner = 5 * 640 + 5;

    gWorld->lights = {&first};
    gWorld->Render(&camera);
    std::vector<uint8_t> one = ReadTarget(gWorld->lightTarget);
    gWorld->lights = {&first, &second};
    gWorld->Render(&camera);
    std::vector<uint8_t> two = ReadTarget(gWorld->lightTarget);

    uint32_t single = Argb(one, centre), doubled = Argb(two, centre);
    for (int shift : {16, 8, 0}) {
        int a = static_cast<int>((single >> shift) & 0xff), b = static_cast<int>((doubled >> shift) & 0xff);
        EXPECT_GT(a, 10) << "the light reaches the quad";
        EXPECT_NEAR(b, 2 * a, 1) << "channel at bit " << shift;
    }
    EXPECT_EQ(Argb(two, corner), 0u) << "no surface, no light";
    // Red 0.3 against blue 0.1: the light's colour comes through.
    EXPECT_NEAR(static_cast<double>((single >> 16) & 0xff) / (single & 0xff), 3.0, 0.2);

    // The quad is lit in the frame, the empty corner shows the black clear colour.
    std::vector<uint32_t> frame = ReadBackBuffer();
    EXPECT_GT((frame[centre] >> 8) & 0xff, 0x40u);
    EXPECT_EQ(frame[corner] & 0xffffff, 0u);

    // The luminance is the log-average of chain 1's pixels as they read back.
    int width = 0, height = 0;
    std::vector<uint8_t> chain = ReadTarget(gWorld->postfx.chainTargets[1], &width, &height);
    EXPECT_EQ(width * height, 10 * 7);
    EXPECT_NEAR(gWorld->postfx.luminance, CpuLuminance(chain, 70), 1e-6f);
    EXPECT_GT(gWorld->postfx.luminance, 0.001f);
}

TEST_F(WorldTest, WithoutPostProcessTheSceneIsCopiedToTheBackBuffer) {
    StartOnRealDevice(640, 480, {"PassZN.hlsl", "PassLight.hlsl", "PassForward.hlsl"});
    gWorld->clearColor = 0xff336699;
    gWorld->Render(&camera);
    std::vector<uint32_t> frame = ReadBackBuffer();
    for (size_t i = 0; i < frame.size(); i += 101) ASSERT_EQ(frame[i], 0xff336699u) << i;
}

TEST_F(WorldTest, DestroyingTheWorldReleasesItsDeviceObjects) {
    StartOnRealDevice(640, 480, {});
    delete gWorld;
    long before = lumaret::platform::LiveGlObjects();
    // The world releases the pass shaders and the composite it found in the registry too.
    for (const std::string& name : PassShaders()) gRenderer->LoadShader("./data/" + name);
    gWorld = new World();
    gWorld->InitPipeline();
    Zone* zone = gWorld->CreateZone("zone");
    AddObject(AddQuad(100.0f), zone);
    gWorld->Render(&camera);
    EXPECT_GT(lumaret::platform::LiveGlObjects(), before + 20);
    delete gWorld;
    gWorld = nullptr;
    EXPECT_EQ(lumaret::platform::LiveGlObjects(), before);
}

TEST_F(WorldTest, NothingOfTheDeviceOutlivesTheWorldAndTheRenderer) {
    // Everything the engine creates, the demo's scene and a frame included.
    StartOnRealDevice(640, 480, PassShaders());
    gRenderer->LoadResources();
    SceneObject* scene = gWorld->CreateObject("scene");
    ASSERT_TRUE(gWorld->LoadScene(scene, "./data/cylcube01.srx"));
    gWorld->CreateZone("zone")->AddObject(scene);
    Light light;
    gWorld->lights.push_back(&light);
    gWorld->Render(&camera);
    EXPECT_GT(lumaret::platform::LiveGlObjects(), 0);
    delete gWorld;
    gWorld = nullptr;
    delete gRenderer;
    gRenderer = nullptr;
    EXPECT_EQ(lumaret::platform::LiveGlObjects(), 0);
}

TEST_F(WorldTest, FrameDebuggersSeeTheEngineNamesOfTargetsProgramsAndMeshes) {
    using namespace lumaret::platform;
    StartOnRealDevice(640, 480, PassShaders());
    SceneObject* scene = gWorld->CreateObject("scene");
    ASSERT_TRUE(gWorld->LoadScene(scene, "./data/cylcube01.srx"));
    const std::pair<int, std::string> targets[] = {{gWorld->znTarget, "ZN target"},
                                                   {gWorld->lightTarget, "light target"},
                                                   {gWorld->postfx.sceneTarget, "scene target"},
                                                   {gWorld->postfx.quarterTargets[2], "quarter target C"},
                                                   {gWorld->postfx.chainTargets[1], "chain target 1"}};
    for (const auto& [index, role] : targets) {
        const RenderTarget& target = gRenderer->renderTargets[static_cast<size_t>(index)];
        GLenum kind = 0;
        EXPECT_EQ(GlLabel(GL_TEXTURE, GlTextureOf(target.texture, &kind)), role);
        EXPECT_EQ(GlLabel(GL_RENDERBUFFER, dynamic_cast<Surface*>(target.depthSurface)->glRenderbuffer()),
                  role + " depth");
    }
    const ShaderRecord& zn = gRenderer->shaders[static_cast<size_t>(gWorld->znShader)];
    EXPECT_EQ(GlLabel(GL_PROGRAM, dynamic_cast<VertexShader*>(zn.vertexShader)->program()),
              "./data/PassZN.hlsl (vertex)");
    EXPECT_EQ(GlLabel(GL_PROGRAM, dynamic_cast<PixelShader*>(zn.pixelShader)->program()), "./data/PassZN.hlsl (pixel)");
    std::vector<std::string> buffers;
    for (const Mesh* mesh : gWorld->meshes) {
        buffers.push_back(GlLabel(GL_BUFFER, dynamic_cast<VertexBuffer*>(mesh->streams[0].buffer)->name()));
        buffers.push_back(GlLabel(GL_BUFFER, dynamic_cast<IndexBuffer*>(mesh->indexBuffer)->name()));
    }
    EXPECT_EQ(buffers, (std::vector<std::string>{"./data/cylcube01.srx Cube stream 0", "./data/cylcube01.srx Cube indices",
                                                 "./data/cylcube01.srx Cylinder stream 0",
                                                 "./data/cylcube01.srx Cylinder indices"}));
}
