// What the device sends to GL only when it changed: constant registers (kept across shader
// switches and stream-ring wraps) and the state a Clear needs.
#include "support/DeviceFixture.h"
#include "support/ShaderHelpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using lumaret::test::Compile;
using lumaret::test::CompiledShader;

namespace {

const D3DVERTEXELEMENT9 kElements[] = {{0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
                                       D3DDECL_END()};

class DeviceUploadTest : public lumaret::test::DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        ASSERT_EQ(device->CreateVertexDeclaration(kElements, &decl), D3D_OK);
        device->SetVertexDeclaration(decl);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        // Vertex colour from c2 and from c200 (a longer block), then two pixel programs.
        for (const char* reg : {"c2", "c200"})
            shaders.push_back(Compile(device,
                                      std::string("float4 colour : register(") + reg +
                                          ");\nvoid main(float4 p : POSITION, out float4 o : POSITION, out float4 c : "
                                          "COLOR0) { o = p; c = colour; }\n",
                                      "vs_3_0"));
        shaders.push_back(Compile(device, "float4 main(float4 c : COLOR0) : COLOR { return c; }\n", "ps_3_0"));
        shaders.push_back(
            Compile(device, "float4 tint : register(c5);\nfloat4 main() : COLOR { return tint; }\n", "ps_3_0"));
        for (const CompiledShader& s : shaders) ASSERT_EQ(s.result, D3D_OK) << s.errors;
    }
    void TearDown() override {
        for (CompiledShader& s : shaders) s.Release();
        if (decl) decl->Release();
        DeviceTest::TearDown();
    }
    // A triangle over the whole target at depth z, after `padding` vertices that draw nothing.
    void FullScreen(float z, size_t padding = 0) {
        std::vector<float> xyz(padding * 3, 0.0f);
        xyz.insert(xyz.end(), {-1, -1, z, -1, 3, z, 3, -1, z});
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(xyz.size() / 9), xyz.data(), 12),
                  D3D_OK);
    }
    uint32_t At(UINT x, UINT y) { return ReadBackBuffer()[y * width + x]; }
    IDirect3DVertexDeclaration9* decl = nullptr;
    std::vector<CompiledShader> shaders;  // vertex c2, vertex c200, pixel vertex colour, pixel tint
};

TEST_F(DeviceUploadTest, EachDrawSeesEveryRegisterSetBeforeIt) {
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    const float red[4] = {1, 0, 0, 1}, green[4] = {0, 1, 0, 1}, blue[4] = {0, 0, 1, 1};
    const float block[3][4] = {{1, 0, 0, 0}, {1, 1, 0, 1}, {0, 0, 0, 0}};  // c4..c6, yellow in c5
    struct Step {
        const char* what;
        int vertex, pixel;  // shader indices; a pixel program of 3 takes the registers
        UINT reg;
        const float* value;
        UINT count;
        size_t padding;  // vertices drawn before the visible triangle (fill the stream ring)
        uint32_t expected;
    } steps[] = {
        {"set, draw", 0, 2, 2, red, 1, 0, 0xFFFF0000},
        {"set between two draws of one program", 0, 2, 2, green, 1, 0, 0xFF00FF00},
        {"a high register reaches the longer program", 1, 2, 200, blue, 1, 0, 0xFF0000FF},
        {"set while the longer program is bound", 1, 2, 2, red, 1, 0, 0xFF0000FF},
        {"seen after switching back", 0, 2, 200, green, 1, 0, 0xFFFF0000},
        {"and the other way round", 1, 2, 2, blue, 1, 0, 0xFF00FF00},
        {"pixel stage", 0, 3, 5, blue, 1, 0, 0xFF0000FF},
        {"a block re-sent with two registers changed", 0, 3, 4, &block[0][0], 3, 0, 0xFFFFFF00},
        {"after the stream ring wrapped", 0, 3, 0, red, 1, 400000, 0xFFFFFF00},
        {"and again", 0, 3, 0, red, 1, 400000, 0xFFFFFF00},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        device->SetVertexShader(shaders[step.vertex].vertex);
        device->SetPixelShader(shaders[step.pixel].pixel);
        ASSERT_EQ(step.pixel == 3 ? device->SetPixelShaderConstantF(step.reg, step.value, step.count)
                                  : device->SetVertexShaderConstantF(step.reg, step.value, step.count),
                  D3D_OK);
        FullScreen(0.5f, step.padding);
        EXPECT_EQ(At(0, 0), step.expected);
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
    // Colour and depth writes off for the last draw; then a depth clear of a target smaller
    // than the depth buffer, which keeps the depth outside its viewport.
    device->SetRenderState(D3DRS_COLORWRITEENABLE, 0);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    FullScreen(0.0f);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF102030, 1.0f, 0), D3D_OK);
    device->SetRenderTarget(0, smallSurface);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 0.0f, 0), D3D_OK);
    device->SetRenderTarget(0, back);
    EXPECT_EQ(At(40, 40), 0xFF102030u) << "every channel cleared";
    FullScreen(0.5f);
    EXPECT_EQ(At(40, 40), 0xFF102030u) << "the draws' own masks are back";
    device->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    FullScreen(0.5f);
    EXPECT_EQ(At(8, 8), 0xFF102030u) << "depth 0 inside the small target's viewport";
    EXPECT_EQ(At(40, 40), 0xFF00FFFFu) << "depth 1 outside it";
    smallSurface->Release();
    back->Release();
    small->Release();
}

}  // namespace
