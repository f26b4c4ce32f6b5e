// What the device sends to GL only when it changed: constant registers (uploaded as a
// dirty range, kept across shader switches and ring wraps) and the state a Clear needs.
#include "support/DeviceFixture.h"
#include "support/ShaderHelpers.h"

#include <gtest/gtest.h>

#include <vector>

using lumaret::test::Compile;
using lumaret::test::CompiledShader;
using lumaret::test::DeviceTest;

namespace {

struct Vertex {
    float x, y, z;
};
const D3DVERTEXELEMENT9 kElements[] = {{0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
                                       D3DDECL_END()};

// Vertex programs: position as given; the colour from a low and from a high register, so
// the second reads a longer block than the first.
const char* const kVertexLow =
    "float4 colour : register(c2);\nvoid main(float4 p : POSITION, out float4 o : POSITION, out float4 c : COLOR0)"
    " { o = p; c = colour; }\n";
const char* const kVertexHigh =
    "float4 colour : register(c200);\nvoid main(float4 p : POSITION, out float4 o : POSITION, out float4 c : COLOR0)"
    " { o = p; c = colour; }\n";
const char* const kPixelVertexColour = "float4 main(float4 c : COLOR0) : COLOR { return c; }\n";
const char* const kPixelTint = "float4 tint : register(c5);\nfloat4 main() : COLOR { return tint; }\n";

class DeviceUploadTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        ASSERT_EQ(device->CreateVertexDeclaration(kElements, &decl), D3D_OK);
        device->SetVertexDeclaration(decl);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        for (const char* vs : {kVertexLow, kVertexHigh}) shaders.push_back(Compile(device, vs, "vs_3_0"));
        for (const char* ps : {kPixelVertexColour, kPixelTint}) shaders.push_back(Compile(device, ps, "ps_3_0"));
        for (const CompiledShader& s : shaders) ASSERT_EQ(s.result, D3D_OK) << s.errors;
    }
    void TearDown() override {
        for (CompiledShader& s : shaders) s.Release();
        if (decl) decl->Release();
        DeviceTest::TearDown();
    }
    // A triangle over the whole target at depth z, after `padding` vertices that draw nothing.
    void FullScreen(float z, size_t padding = 0) {
        std::vector<Vertex> vertices(padding, Vertex{0, 0, 0});
        vertices.insert(vertices.end(), {{-1, -1, z}, {-1, 3, z}, {3, -1, z}});
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(vertices.size() / 3), vertices.data(),
                                          sizeof(Vertex)),
                  D3D_OK);
    }
    IDirect3DVertexDeclaration9* decl = nullptr;
    std::vector<CompiledShader> shaders;  // vertex low, vertex high, pixel vertex colour, pixel tint
};

TEST_F(DeviceUploadTest, EachDrawSeesEveryRegisterSetBeforeIt) {
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    const float red[4] = {1, 0, 0, 1}, green[4] = {0, 1, 0, 1}, blue[4] = {0, 0, 1, 1};
    const float block[3][4] = {{1, 0, 0, 0}, {1, 1, 0, 1}, {0, 0, 0, 0}};  // c4..c6, yellow in c5
    struct Step {
        const char* what;
        int vertex, pixel;  // shader indices
        UINT stage, reg;    // 0 vertex, 1 pixel
        const float* value;
        UINT count;
        size_t padding;  // vertices drawn before the visible triangle (fills the stream ring)
        uint32_t expected;
    } steps[] = {
        {"set, draw", 0, 2, 0, 2, red, 1, 0, 0xFFFF0000},
        {"set between two draws of one program", 0, 2, 0, 2, green, 1, 0, 0xFF00FF00},
        {"a high register reaches the longer program", 1, 2, 0, 200, blue, 1, 0, 0xFF0000FF},
        {"set while the longer program is bound", 1, 2, 0, 2, red, 1, 0, 0xFF0000FF},
        {"seen after switching back", 0, 2, 0, 200, green, 1, 0, 0xFFFF0000},
        {"and the other way round", 1, 2, 0, 2, blue, 1, 0, 0xFF00FF00},
        {"pixel stage", 0, 3, 1, 5, blue, 1, 0, 0xFF0000FF},
        {"a block re-sent with one register changed", 0, 3, 1, 4, &block[0][0], 3, 0, 0xFFFFFF00},
        {"the same block again", 0, 3, 1, 4, &block[0][0], 3, 0, 0xFFFFFF00},
        {"after the stream ring wrapped", 0, 3, 1, 0, red, 1, 400000, 0xFFFFFF00},
        {"and again", 0, 3, 1, 0, red, 1, 400000, 0xFFFFFF00},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        device->SetVertexShader(shaders[step.vertex].vertex);
        device->SetPixelShader(shaders[step.pixel].pixel);
        HRESULT set = step.stage == 0 ? device->SetVertexShaderConstantF(step.reg, step.value, step.count)
                                      : device->SetPixelShaderConstantF(step.reg, step.value, step.count);
        ASSERT_EQ(set, D3D_OK);
        FullScreen(0.5f, step.padding);
        EXPECT_EQ(ReadBackBuffer()[0], step.expected);
    }
}

TEST_F(DeviceUploadTest, ClearsWhateverStateTheLastDrawLeft) {
    device->SetVertexShader(shaders[1].vertex);
    device->SetPixelShader(shaders[2].pixel);
    const float cyan[4] = {0, 1, 1, 1};
    device->SetVertexShaderConstantF(200, cyan, 1);
    IDirect3DTexture9* small = MakeRenderTargetTexture(16, 16, D3DFMT_A8R8G8B8);
    IDirect3DSurface9 *back = nullptr, *smallSurface = nullptr;
    device->GetRenderTarget(0, &back);
    small->GetSurfaceLevel(0, &smallSurface);
    // Colour writes and depth writes off while the last draw ran; then a depth clear of a
    // target smaller than the depth buffer, which keeps the depth outside the viewport.
    device->SetRenderState(D3DRS_COLORWRITEENABLE, 0);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    FullScreen(0.0f);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF102030, 1.0f, 0), D3D_OK);
    device->SetRenderTarget(0, smallSurface);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 0.0f, 0), D3D_OK);
    device->SetRenderTarget(0, back);
    EXPECT_EQ(ReadBackBuffer()[40 * width + 40], 0xFF102030u) << "every channel cleared";
    FullScreen(0.5f);
    EXPECT_EQ(ReadBackBuffer()[40 * width + 40], 0xFF102030u) << "the draws' own masks are back";
    device->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    FullScreen(0.5f);
    std::vector<uint32_t> pixels = ReadBackBuffer();
    EXPECT_EQ(pixels[8 * width + 8], 0xFF102030u) << "depth 0 inside the small target's viewport";
    EXPECT_EQ(pixels[40 * width + 40], 0xFF00FFFFu) << "depth 1 outside it";
    smallSurface->Release();
    back->Release();
    small->Release();
}

}  // namespace
