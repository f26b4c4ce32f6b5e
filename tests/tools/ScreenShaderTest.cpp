// data/screen.hlsl and data/screenTex.hlsl as the engine reads them: split into their two
// sections by the engine, compiled for vs_3_0 and ps_3_0, drawing the engine's clip-space quad
// vertex with its colour (and, for screenTex, its texture) on a real device.
#include "resources/ShaderFile.h"
#include "support/DeviceFixture.h"
#include "support/GoldenImage.h"
#include "support/ShaderHelpers.h"
#include "support/TempDir.h"

#include <d3dx9.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using lumaret::test::CompiledShader;

namespace {

struct QuadVertex {
    float x, y, z;
    float u, v;
    D3DCOLOR color;
};
// clang-format off
const D3DVERTEXELEMENT9 kQuadElements[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    {0, 20, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
    D3DDECL_END()};
// clang-format on

bool Near(uint32_t actual, uint32_t expected, int tolerance) {
    for (int shift = 0; shift < 32; shift += 8)
        if (std::abs(static_cast<int>((actual >> shift) & 0xFF) - static_cast<int>((expected >> shift) & 0xFF)) >
            tolerance)
            return false;
    return true;
}

class ScreenShaderTest : public lumaret::test::DeviceTest {
protected:
    void TearDown() override {
        for (CompiledShader& shader : shaders) shader.Release();
        if (declaration) declaration->Release();
        if (texture) texture->Release();
        DeviceTest::TearDown();
    }

    // Loads, splits and compiles one data file; the pair is left bound.
    void UseShaderFile(const char* name) {
        std::string text = lumaret::test::ReadFileBytes(lumaret::test::SourceDir() + "/data/" + name);
        ASSERT_FALSE(text.empty()) << name;
        ShaderFileSections sections = SplitShaderFile(text.data(), text.size());
        ASSERT_TRUE(sections.hasVertex) << name << " has no vertex section";
        ASSERT_FALSE(sections.pixel.empty()) << name << " does not split into its two sections";
        CompiledShader& vertex = shaders.emplace_back(lumaret::test::Compile(device, sections.vertex, "vs_3_0"));
        ASSERT_EQ(vertex.result, D3D_OK) << name << " vs_3_0: " << vertex.errors;
        device->SetVertexShader(vertex.vertex);
        CompiledShader& pixel = shaders.emplace_back(lumaret::test::Compile(device, sections.pixel, "ps_3_0"));
        ASSERT_EQ(pixel.result, D3D_OK) << name << " ps_3_0: " << pixel.errors;
        device->SetPixelShader(pixel.pixel);
    }

    // A clip-space rectangle with one colour per corner: top-left, top-right, bottom-left, bottom-right.
    void DrawQuad(float left, float top, float right, float bottom, const D3DCOLOR (&colors)[4]) {
        QuadVertex quad[4] = {{left, top, 0, 0, 0, colors[0]},
                              {right, top, 0, 1, 0, colors[1]},
                              {left, bottom, 0, 0, 1, colors[2]},
                              {right, bottom, 0, 1, 1, colors[3]}};
        device->SetVertexDeclaration(declaration);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(QuadVertex)), D3D_OK);
    }

    std::vector<CompiledShader> shaders;
    IDirect3DVertexDeclaration9* declaration = nullptr;
    IDirect3DTexture9* texture = nullptr;
};

}  // namespace

TEST_F(ScreenShaderTest, PlainAndTexturedQuadsCarryTheVertexColourAndAlpha) {
    ASSERT_EQ(device->CreateVertexDeclaration(kQuadElements, &declaration), D3D_OK);
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0x00000000, 1.0f, 0);

    // Left half, screen.hlsl: a flat quad above a gradient one.
    ASSERT_NO_FATAL_FAILURE(UseShaderFile("screen.hlsl"));
    const D3DCOLOR flat = 0x80FF8040;
    DrawQuad(-1, 1, 0, 0, {flat, flat, flat, flat});
    DrawQuad(-1, 0, 0, -1, {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0x40FFFFFF});

    // Right half, screenTex.hlsl: a 2 x 2 texture with alpha, filtered, times a tint.
    ASSERT_NO_FATAL_FAILURE(UseShaderFile("screenTex.hlsl"));
    const uint32_t texels[4] = {0xFFFF0000, 0x8000FF00, 0xFF0000FF, 0xFFFFFFFF};
    texture = MakeTexture(2, 2, D3DFMT_A8R8G8B8, texels, 4);
    device->SetTexture(0, texture);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    const D3DCOLOR tint = 0xC080FF40;
    DrawQuad(0, 1, 1, -1, {tint, tint, tint, tint});
    device->SetTexture(0, nullptr);

    std::vector<uint32_t> pixels = ReadBackBuffer();
    auto at = [&](int x, int y) { return pixels[static_cast<size_t>(y) * width + static_cast<size_t>(x)]; };
    EXPECT_TRUE(Near(at(8, 8), flat, 1)) << std::hex << at(8, 8);
    // The quad's first pixel samples the top-left texel alone (clamped), its last the bottom-right.
    EXPECT_TRUE(Near(at(32, 0), 0xC0800000, 2)) << std::hex << at(32, 0);
    EXPECT_TRUE(Near(at(63, 63), tint, 2)) << std::hex << at(63, 63);
    lumaret::test::ExpectMatchesGolden("screen_shaders", static_cast<int>(width), static_cast<int>(height),
                                       pixels.data(), 3);
}
