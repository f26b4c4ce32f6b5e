// One frame of the World on a recording device: the three passes and the PostFX chain in
// their order, the walk and the clock, the chain's kernels and its set-up at both screen
// sizes.
#include "scene/WorldTestSupport.h"

#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>

using lumaret::test::WorldTest;

namespace {

// The device calls of a frame that show what a pass does, with objects named by role:
// render targets by the target they belong to, shaders by their file, sampler states of one
// SetSamplerFlags call folded into one line, constant uploads as register ranges.
class FrameTrace {
public:
    explicit FrameTrace(lumaret::test::RecordingDevice& device) : device_(device) {}

    void Name(const void* object, const std::string& role) {
        if (object) roles_[device_.Name(object)] = role;
    }
    void NameTarget(int index, const std::string& role) {
        const RenderTarget& target = gRenderer->renderTargets[static_cast<size_t>(index)];
        Name(target.surface, role);
        Name(target.texture, role);
        Name(target.depthSurface, role + ".depth");
        Name(target.readBackSurface, role + ".copy");
    }
    void NameShader(int index, const std::string& role) {
        if (index < 0) return;
        Name(gRenderer->shaders[static_cast<size_t>(index)].vertexShader, role + ".vs");
        Name(gRenderer->shaders[static_cast<size_t>(index)].pixelShader, role + ".ps");
    }

    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (const std::string& call : device_.calls) {
            std::string line = Rename(call);
            if (line.rfind("SetSamplerState(", 0) == 0) {
                // Stage, then filter, mip, address and sRGB of the seven states in a row.
                std::istringstream in(line.substr(16));
                int stage = 0, state = 0;
                unsigned value = 0;
                char comma;
                in >> stage >> comma >> state >> comma >> value;
                if (state == D3DSAMP_MINFILTER) lines.push_back("Sampler(" + std::to_string(stage) + ",");
                const char* names[] = {"", "addrU=", "", "", "border", "mag", "min=", "mip="};
                if (state == D3DSAMP_MINFILTER || state == D3DSAMP_MIPFILTER || state == D3DSAMP_ADDRESSU)
                    lines.back() += std::string(" ") + names[state] + std::to_string(value);
                if (state == D3DSAMP_SRGBTEXTURE) lines.back() += " srgb=" + std::to_string(value) + ")";
                continue;
            }
            for (const char* keep : {"SetRenderTarget", "Clear", "SetTexture", "SetVertexShader(", "SetPixelShader(",
                                     "DrawIndexedPrimitive", "DrawPrimitiveUP", "GetRenderTargetData"})
                if (line.rfind(keep, 0) == 0) lines.push_back(line);
            for (const char* upload : {"SetVertexShaderConstantF", "SetPixelShaderConstantF"})
                if (line.rfind(upload, 0) == 0) {
                    size_t second = line.find(',', line.find(',') + 1);
                    lines.push_back(line.substr(0, second) + ")");
                }
        }
        return lines;
    }

private:
    std::string Rename(std::string line) const {
        for (const auto& [name, role] : roles_)
            for (size_t at = line.find(name); at != std::string::npos; at = line.find(name, at + role.size())) {
                size_t end = at + name.size();
                if (end < line.size() && std::isdigit(static_cast<unsigned char>(line[end]))) continue;
                line.replace(at, name.size(), role);
            }
        return line;
    }

    lumaret::test::RecordingDevice& device_;
    std::map<std::string, std::string> roles_;
};

std::string Join(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

}  // namespace

TEST_F(WorldTest, OneFrameRunsThePassesAndTheChainInOrder) {
    StartOnRecordingDevice(640, 480, PassShaders());
    Zone* zone = gWorld->CreateZone("zone");
    MeshPartRenderable* shared = AddQuad(200.0f);
    SceneObject* first = AddObject(shared, zone);
    SceneObject* second = AddObject(shared, zone);
    D3DXMatrixTranslation(&second->world, 50.0f, 0.0f, 0.0f);
    Light light;
    light.position = D3DXVECTOR3(0.0f, 0.0f, -100.0f);
    gWorld->lights.push_back(&light);

    FrameTrace trace(*recording);
    World& w = *gWorld;
    trace.NameTarget(w.znTarget, "zn");
    trace.NameTarget(w.lightTarget, "light");
    trace.NameTarget(w.postfx.sceneTarget, "scene");
    for (int i = 0; i < 3; ++i)
        trace.NameTarget(w.postfx.quarterTargets[i], std::string(1, static_cast<char>('A' + i)));
    trace.NameTarget(w.postfx.chainTargets[0], "chain0");
    trace.NameTarget(w.postfx.chainTargets[1], "chain1");
    trace.NameShader(w.znShader, "passZN");
    trace.NameShader(w.lightShader, "passLight");
    trace.NameShader(w.forwardShader, "passForward");
    trace.NameShader(w.postfx.downSampleShader, "down");
    trace.NameShader(w.postfx.gaussShader, "gauss");
    trace.NameShader(w.postfx.blurShader, "blur");
    trace.NameShader(w.postfx.compositeShader, "composite");
    trace.Name(gRenderer->textures[0].texture, "white");
    trace.Name(gRenderer->textures[1].texture, "nmap");
    recording->Forget();

    w.Render(&camera);
    std::string expected = R"(SetRenderTarget(0, zn)
Clear(0, 7, ff800000, 1, 0)
SetVertexShader(passZN.vs)
SetPixelShader(passZN.ps)
SetVertexShaderConstantF(0, 4)
SetVertexShaderConstantF(4, 4)
Sampler(0, min=2 mip=2 addrU=1 srgb=1)
SetTexture(0, white)
Sampler(1, min=2 mip=2 addrU=1 srgb=1)
SetTexture(1, white)
Sampler(2, min=1 mip=2 addrU=1 srgb=0)
SetTexture(2, nmap)
DrawIndexedPrimitive(4, 0, 0, 4, 0, 2)
SetVertexShaderConstantF(0, 4)
SetVertexShaderConstantF(4, 4)
Sampler(0, min=2 mip=2 addrU=1 srgb=1)
SetTexture(0, white)
Sampler(1, min=2 mip=2 addrU=1 srgb=1)
SetTexture(1, white)
Sampler(2, min=1 mip=2 addrU=1 srgb=0)
SetTexture(2, nmap)
DrawIndexedPrimitive(4, 0, 0, 4, 0, 2)
SetRenderTarget(0, backbuffer)
SetRenderTarget(0, light)
Clear(0, 7, 0, 1, 0)
SetTexture(0, zn)
Sampler(0, min=1 mip=0 addrU=4 srgb=0)
SetVertexShader(passLight.vs)
SetPixelShader(passLight.ps)
SetPixelShaderConstantF(0, 1)
SetPixelShaderConstantF(1, 1)
SetPixelShaderConstantF(2, 1)
SetPixelShaderConstantF(3, 1)
SetPixelShaderConstantF(4, 1)
DrawPrimitiveUP(5, 2, 24)
SetRenderTarget(0, backbuffer)
SetRenderTarget(0, scene)
Clear(0, 7, ff000000, 1, 0)
SetTexture(3, light)
Sampler(3, min=2 mip=0 addrU=4 srgb=0)
SetVertexShader(passForward.vs)
SetPixelShader(passForward.ps)
SetVertexShaderConstantF(0, 4)
SetVertexShaderConstantF(4, 4)
SetPixelShaderConstantF(0, 1)
SetPixelShaderConstantF(1, 1)
SetPixelShaderConstantF(2, 1)
Sampler(0, min=2 mip=2 addrU=1 srgb=1)
SetTexture(0, white)
Sampler(1, min=2 mip=2 addrU=1 srgb=1)
SetTexture(1, white)
Sampler(2, min=1 mip=2 addrU=1 srgb=0)
SetTexture(2, nmap)
DrawIndexedPrimitive(4, 0, 0, 4, 0, 2)
SetVertexShaderConstantF(0, 4)
SetVertexShaderConstantF(4, 4)
SetPixelShaderConstantF(0, 1)
SetPixelShaderConstantF(1, 1)
SetPixelShaderConstantF(2, 1)
Sampler(0, min=2 mip=2 addrU=1 srgb=1)
SetTexture(0, white)
Sampler(1, min=2 mip=2 addrU=1 srgb=1)
SetTexture(1, white)
Sampler(2, min=1 mip=2 addrU=1 srgb=0)
SetTexture(2, nmap)
DrawIndexedPrimitive(4, 0, 0, 4, 0, 2)
SetRenderTarget(0, backbuffer)
SetRenderTarget(0, A)
Clear(0, 7, ff000000, 1, 0)
SetTexture(0, scene)
Sampler(0, min=1 mip=0 addrU=3 srgb=0)
SetVertexShader(down.vs)
SetPixelShader(down.ps)
SetPixelShaderConstantF(0, 16)
DrawPrimitiveUP(5, 2, 24)
SetRenderTarget(0, backbuffer)
SetRenderTarget(0, chain0)
Clear(0, 7, ff000000, 1, 0)
SetTexture(0, A)
Sampler(0, min=1 mip=0 addrU=3 srgb=0)
SetVertexShader(down.vs)
SetPixelShader(down.ps)
SetPixelShaderConstantF(0, 16)
DrawPrimitiveUP(5, 2, 24)
SetRenderTarget(0, backbuffer)
SetRenderTarget(0, chain1)
Clear(0, 7, ff000000, 1, 0)
SetTexture(0, chain0)
Sampler(0, min=1 mip=0 addrU=3 srgb=0)
SetVertexShader(down.vs)
SetPixelShader(down.ps)
SetPixelShaderConstantF(0, 16)
DrawPrimitiveUP(5, 2, 24)
SetRenderTarget(0, backbuffer)
GetRenderTargetData(chain1, chain1.copy)
SetRenderTarget(0, B)
Clear(0, 7, ff000000, 1, 0)
SetTexture(0, A)
Sampler(0, min=1 mip=0 addrU=3 srgb=0)
SetVertexShader(gauss.vs)
SetPixelShader(gauss.ps)
SetPixelShaderConstantF(0, 9)
SetPixelShaderConstantF(9, 9)
DrawPrimitiveUP(5, 2, 24)
SetRenderTarget(0, backbuffer)
SetRenderTarget(0, A)
Clear(0, 7, ff000000, 1, 0)
SetTexture(0, B)
Sampler(0, min=1 mip=0 addrU=3 srgb=0)
SetVertexShader(blur.vs)
SetPixelShader(blur.ps)
SetPixelShaderConstantF(0, 16)
SetPixelShaderConstantF(16, 16)
DrawPrimitiveUP(5, 2, 24)
SetRenderTarget(0, backbuffer)
SetRenderTarget(0, C)
Clear(0, 7, ff000000, 1, 0)
SetTexture(0, A)
Sampler(0, min=1 mip=0 addrU=3 srgb=0)
SetVertexShader(blur.vs)
SetPixelShader(blur.ps)
SetPixelShaderConstantF(0, 16)
SetPixelShaderConstantF(16, 16)
DrawPrimitiveUP(5, 2, 24)
SetRenderTarget(0, backbuffer)
SetTexture(0, scene)
SetTexture(1, B)
SetTexture(2, C)
Sampler(0, min=2 mip=0 addrU=1 srgb=0)
Sampler(1, min=2 mip=0 addrU=1 srgb=0)
Sampler(2, min=2 mip=0 addrU=1 srgb=0)
SetVertexShader(composite.vs)
SetPixelShader(composite.ps)
SetPixelShaderConstantF(0, 1)
DrawPrimitiveUP(5, 2, 24)
SetTexture(0, null)
Sampler(0, min=2 mip=2 addrU=1 srgb=0)
SetTexture(1, null)
Sampler(1, min=2 mip=2 addrU=1 srgb=0)
SetTexture(2, null)
Sampler(2, min=2 mip=2 addrU=1 srgb=0)
)";
    EXPECT_EQ(Join(trace.Lines()), expected);
    // The shared renderable carries the matrices of its last draw: the second object's.
    EXPECT_FLOAT_EQ(shared->params.values[ParamMatrixWorld].matrix._41, 50.0f);
    EXPECT_EQ(first->world._41, 0.0f);
    EXPECT_EQ(shared->params.values[ParamParamsDOF].vector, w.dofParams);
    EXPECT_TRUE(w.drawList.empty());
    EXPECT_EQ(w.drawList.capacity(), 0u) << "the draw list's storage is released every frame";
}

TEST(PostFXKernels, WeightsAndOffsetsHaveTheirValues) {
    D3DXVECTOR2 offsets[9];
    D3DXVECTOR4 weights[9];
    Gaussian3x3(160, 120, 1.0f, offsets, weights);
    const float corner = 0.0751136f, edge = 0.1238414f, centre = 0.2041800f;
    const float expected[9] = {corner, edge, corner, edge, centre, edge, corner, edge, corner};
    for (int k = 0; k < 9; ++k) {
        for (float component : {weights[k].x, weights[k].y, weights[k].z, weights[k].w})
            EXPECT_NEAR(component, expected[k], 2e-7f) << k;
        EXPECT_FLOAT_EQ(offsets[k].x, static_cast<float>(k / 3 - 1) / 160.0f);
        EXPECT_FLOAT_EQ(offsets[k].y, static_cast<float>(k % 3 - 1) / 120.0f);
    }

    float positions[16];
    D3DXVECTOR4 taps[16];
    taps[15] = D3DXVECTOR4(-7, -7, -7, -7);
    Gaussian1D(160, 3.0f, 1.0f, positions, taps);
    const float g[8] = {0.1329808f, 0.1257944f, 0.1064827f, 0.0806569f, 0.0546700f, 0.0331590f, 0.0179970f, 0.0087406f};
    float sum = 0.0f;
    for (int k = 0; k < 15; ++k) {
        int i = k < 8 ? k : k - 7;
        EXPECT_NEAR(taps[k].x, g[i], 1e-7f) << k;
        EXPECT_EQ(taps[k].w, 1.0f);
        EXPECT_FLOAT_EQ(positions[k], (k < 8 ? 1.0f : -1.0f) * static_cast<float>(i) / 160.0f);
        sum += taps[k].x;
    }
    EXPECT_NEAR(sum, 0.98798f, 1e-5f);
    EXPECT_EQ(taps[15].x, -7.0f) << "entry 15 is never written";

    D3DXVECTOR2 box[16];
    BoxOffsets4x4(640, 480, box);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            EXPECT_FLOAT_EQ(box[r * 4 + c].x, (c - 1.5f) / 640.0f);
            EXPECT_FLOAT_EQ(box[r * 4 + c].y, (r - 1.5f) / 480.0f);
        }
}

TEST_F(WorldTest, ChainSizesAndLogLinesAtBothScreenSizes) {
    struct Case {
        int width, height;
        const char* log;
        int chain[2][2];
        int prev1[2];
    };
    const Case cases[] = {
        {640,
         480,
         "\nEngine: Creating downsampled rendertargets (160x120)...\nEngine: Creating chain of downsampled "
         "rendertargets:\nBuffer 0: 40x30 (prev: 160x120)\nBuffer 1: 10x7 (prev: 40x28)\nEngine: PostFX "
         "initialized.\n\n",
         {{40, 30}, {10, 7}},
         {40, 28}},
        {1024,
         768,
         "\nEngine: Creating downsampled rendertargets (256x192)...\nEngine: Creating chain of downsampled "
         "rendertargets:\nBuffer 0: 64x48 (prev: 256x192)\nBuffer 1: 16x12 (prev: 64x48)\nEngine: PostFX "
         "initialized.\n\n",
         {{64, 48}, {16, 12}},
         {64, 48}},
    };
    for (const Case& c : cases) {
        StartOnRecordingDevice(c.width, c.height, PassShaders());
        std::string log = lumaret::test::ReadFileBytes("log.txt");
        EXPECT_NE(log.find(c.log), std::string::npos) << log;
        const PostFX& fx = gWorld->postfx;
        for (int i = 0; i < 2; ++i) {
            int w = 0, h = 0;
            gRenderer->GetRenderTargetSize(fx.chainTargets[i], &w, &h);
            EXPECT_EQ(w, c.chain[i][0]);
            EXPECT_EQ(h, c.chain[i][1]);
        }
        EXPECT_NE(gRenderer->renderTargets[static_cast<size_t>(fx.chainTargets[1])].readBackSurface, nullptr);
        EXPECT_EQ(gRenderer->renderTargets[static_cast<size_t>(fx.chainTargets[0])].readBackSurface, nullptr);
        // Chain 1's taps are laid out for the "prev" size, not chain 0's real size.
        EXPECT_FLOAT_EQ(fx.chainOffsets[1][0].y, -1.5f / static_cast<float>(c.prev1[1]));
        TearDown();
        std::filesystem::remove("data");
    }
}

TEST_F(WorldTest, MissingShaderFilesLeaveTheirPassesEmpty) {
    StartOnRecordingDevice(640, 480, {"PassZN.hlsl"});
    std::string log = lumaret::test::ReadFileBytes("log.txt");
    for (const char* line :
         {"World::InitPipeline: ./data/PassLight.hlsl is not loaded; the light pass draws nothing.\n",
          "World::InitPipeline: ./data/PassForward.hlsl is not loaded; the forward pass draws "
          "nothing.\n",
          "Engine: ./data/PostProcess.hlsl is not loaded; the scene is copied to the screen "
          "unchanged.\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
    EXPECT_EQ(log.find("PassZN.hlsl is not loaded"), std::string::npos);
    Zone* zone = gWorld->CreateZone("zone");
    AddObject(AddQuad(100.0f), zone);
    Light light;
    gWorld->lights.push_back(&light);
    recording->Forget();
    gWorld->Render(&camera);
    // The ZN pass draws the quad once; the light and forward passes draw nothing; the
    // composite is the pass-through shader (no constants), so the only pixel-constant
    // uploads are the chain's taps: three down-samples, the 3 x 3 blur and two 15-tap blurs.
    EXPECT_EQ(recording->Count("DrawIndexedPrimitive"), 1u);
    EXPECT_EQ(recording->Count("DrawPrimitiveUP"), 7u) << "six chain passes and the composite";
    EXPECT_EQ(recording->Count("SetPixelShaderConstantF"), 3u + 2u + 2u * 2u);
}

TEST_F(WorldTest, ClockAndWalk) {
    StartOnRecordingDevice(640, 480, PassShaders());
    // The demo's shape: the first object is in no zone, the zone holds all the others,
    // so the walk takes the first n objects of the world's list.
    std::vector<MeshPartRenderable*> quads;
    for (int i = 0; i < 4; ++i) quads.push_back(AddQuad(10.0f));
    AddObject(quads[0], nullptr);
    Zone* zone = gWorld->CreateZone("zone");
    for (int i = 1; i < 4; ++i) AddObject(quads[static_cast<size_t>(i)], zone);
    for (int frame = 1; frame <= 26; ++frame) {
        gWorld->Render(&camera);
        float expected = frame == 26 ? 0.0f : 24.0f * static_cast<float>(frame);
        EXPECT_EQ(AnimationTime(), expected) << "frame " << frame;
    }
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(quads[static_cast<size_t>(i)]->params.values[ParamMatrixWorld].matrix._44, i < 3 ? 1.0f : 0.0f)
            << "object " << i << (i < 3 ? " is drawn" : " is never drawn");

    // A zone listing more objects than the world holds stops at the world's count.
    zone->AddObject(gWorld->objects[1]);
    zone->AddObject(gWorld->objects[1]);
    recording->Forget();
    gWorld->Render(&camera);
    EXPECT_EQ(recording->Count("DrawIndexedPrimitive"), 2u * 4u) << "four objects, two geometry passes";
}
