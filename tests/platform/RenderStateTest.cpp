// Render states, sampler states, targets and read-back layouts of the GL device, checked
// in pixels. Every case draws with real shaders through D3DXCompileShader.
#include "d3d9/GlDebug.h"
#include "support/DeviceFixture.h"
#include "support/ShaderHelpers.h"

#include <d3dx9.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

using lumaret::test::Compile;
using lumaret::test::CompiledShader;
using lumaret::test::DeviceTest;

namespace {

struct Vertex {
    float x, y, z;
    float u, v;
    D3DCOLOR color;
};
const D3DVERTEXELEMENT9 kElements[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                       {0, 12, D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_TEXCOORD, 0},
                                       {0, 20, D3DDECLTYPE_D3DCOLOR, 0, D3DDECLUSAGE_COLOR, 0},
                                       D3DDECL_END()};

const char* const kVertex =
    "struct V { float4 p : POSITION; float2 uv : TEXCOORD0; float4 c : COLOR0; };\n"
    "V main(V v) { return v; }\n";
const char* const kColourPixel = "float4 main(float4 c : COLOR0) : COLOR { return c; }\n";
const char* const kTexturePixel =
    "sampler s0 : register(s0);\n"
    "float4 main(float2 uv : TEXCOORD0) : COLOR { return tex2D(s0, uv); }\n";
const char* const kTwoTargetPixel =
    "struct O { float4 a : COLOR0; float4 b : COLOR1; };\n"
    "O main(float4 c : COLOR0) { O o; o.a = c; o.b = c.bgra; return o; }\n";

class RenderStateTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        ASSERT_EQ(device->CreateVertexDeclaration(kElements, &decl), D3D_OK);
        vertex = Compile(device, kVertex, "vs_3_0");
        colour = Compile(device, kColourPixel, "ps_3_0");
        texture = Compile(device, kTexturePixel, "ps_3_0");
        ASSERT_EQ(vertex.result, D3D_OK) << vertex.errors;
        ASSERT_EQ(colour.result, D3D_OK) << colour.errors;
        ASSERT_EQ(texture.result, D3D_OK) << texture.errors;
        device->SetVertexDeclaration(decl);
        device->SetVertexShader(vertex.vertex);
        device->SetPixelShader(colour.pixel);
        device->SetRenderState(D3DRS_ZENABLE, FALSE);
    }
    void TearDown() override {
        vertex.Release();
        colour.Release();
        texture.Release();
        decl->Release();
        DeviceTest::TearDown();
    }

    // A rectangle in clip space at depth z; wound clockwise on screen unless reversed.
    void DrawRect(float x0, float y0, float x1, float y1, float z, D3DCOLOR color, bool counterClockwise = false,
                  float u0 = 0, float v0 = 0, float u1 = 1, float v1 = 1) {
        Vertex tl{x0, y0, z, u0, v0, color}, tr{x1, y0, z, u1, v0, color}, bl{x0, y1, z, u0, v1, color},
            br{x1, y1, z, u1, v1, color};
        Vertex clockwise[6] = {tl, tr, bl, bl, tr, br};
        Vertex reversed[6] = {tl, bl, tr, bl, br, tr};
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, counterClockwise ? reversed : clockwise,
                                          sizeof(Vertex)),
                  D3D_OK);
    }
    void FullScreen(D3DCOLOR color, float z = 0.5f) { DrawRect(-1, 1, 1, -1, z, color); }
    uint32_t Centre() { return ReadBackBuffer()[(height / 2) * width + width / 2]; }

    IDirect3DVertexDeclaration9* decl = nullptr;
    CompiledShader vertex, colour, texture;
};

uint32_t Channel(uint32_t color, int shift) { return (color >> shift) & 0xFF; }

}  // namespace

TEST_F(RenderStateTest, BlendModesCombineSourceAndDestinationAsDirect3D9) {
    struct Case {
        DWORD op, source, destination;
        uint32_t expected;
    };
    // Destination 0xFF806040, source 0x80402010 (alpha 0.502).
    const Case cases[] = {
        {D3DBLENDOP_ADD, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 0xC0604028},
        {D3DBLENDOP_ADD, D3DBLEND_SRCALPHA, D3DBLEND_ONE, 0xFFA07048},
        {D3DBLENDOP_ADD, D3DBLEND_ONE, D3DBLEND_ONE, 0xFFC08050},
        {D3DBLENDOP_ADD, D3DBLEND_DESTCOLOR, D3DBLEND_ZERO, 0x80200C04},
        {D3DBLENDOP_ADD, D3DBLEND_ZERO, D3DBLEND_INVSRCCOLOR, 0x7F60543C},
        {D3DBLENDOP_REVSUBTRACT, D3DBLEND_ONE, D3DBLEND_ONE, 0x7F404030},
        {D3DBLENDOP_MAX, D3DBLEND_ONE, D3DBLEND_ONE, 0xFF806040},
        {D3DBLENDOP_MIN, D3DBLEND_ONE, D3DBLEND_ONE, 0x80402010},
        {D3DBLENDOP_ADD, D3DBLEND_INVDESTCOLOR, D3DBLEND_ONE, 0xFFA0744C},
    };
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    for (const Case& c : cases) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF806040, 1.0f, 0);
        device->SetRenderState(D3DRS_BLENDOP, c.op);
        device->SetRenderState(D3DRS_SRCBLEND, c.source);
        device->SetRenderState(D3DRS_DESTBLEND, c.destination);
        FullScreen(0x80402010);
        uint32_t got = Centre();
        for (int shift : {0, 8, 16, 24})
            EXPECT_NEAR(static_cast<int>(Channel(got, shift)), static_cast<int>(Channel(c.expected, shift)), 1)
                << "op " << c.op << " source " << c.source << " destination " << c.destination << " got " << std::hex
                << got;
    }
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF806040, 1.0f, 0);
    FullScreen(0x80402010);
    EXPECT_EQ(Centre(), 0x80402010u) << "blending off writes the source";
}

TEST_F(RenderStateTest, DepthModesTestAndWriteAsConfigured) {
    struct Case {
        DWORD enable, write, function;
        float secondZ;
        uint32_t expectedAfterSecond, expectedAfterThird;
    };
    // First draw: red at z 0.5. Second: green at secondZ. Third: blue at 0.6 with LESSEQUAL,
    // which shows whether the second draw wrote depth.
    const Case cases[] = {
        {TRUE, TRUE, D3DCMP_LESS, 0.4f, 0xFF00FF00, 0xFF00FF00},      // passes, writes 0.4: blue hidden
        {TRUE, TRUE, D3DCMP_LESS, 0.5f, 0xFFFF0000, 0xFFFF0000},      // equal fails LESS
        {TRUE, FALSE, D3DCMP_LESSEQUAL, 0.5f, 0xFF00FF00, 0xFF00FF00},  // equal passes, depth stays 0.5
        {TRUE, FALSE, D3DCMP_LESSEQUAL, 0.2f, 0xFF00FF00, 0xFF00FF00},  // no write: depth stays 0.5
        {FALSE, TRUE, D3DCMP_LESS, 0.9f, 0xFF00FF00, 0xFF00FF00},     // no test, no write
    };
    for (const Case& c : cases) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        device->SetRenderState(D3DRS_ZENABLE, TRUE);
        device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
        device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
        FullScreen(0xFFFF0000, 0.5f);
        device->SetRenderState(D3DRS_ZENABLE, c.enable);
        device->SetRenderState(D3DRS_ZWRITEENABLE, c.write);
        device->SetRenderState(D3DRS_ZFUNC, c.function);
        FullScreen(0xFF00FF00, c.secondZ);
        EXPECT_EQ(Centre(), c.expectedAfterSecond) << "case z " << c.secondZ << " function " << c.function;
        device->SetRenderState(D3DRS_ZENABLE, TRUE);
        device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
        FullScreen(0xFF0000FF, 0.6f);
        EXPECT_EQ(Centre(), c.expectedAfterThird) << "case z " << c.secondZ << " function " << c.function;
    }
}

TEST_F(RenderStateTest, CullModesRemoveTheFacesDirect3D9Names) {
    struct Case {
        DWORD mode;
        bool clockwiseVisible, counterClockwiseVisible;
    };
    const Case cases[] = {{D3DCULL_CCW, true, false}, {D3DCULL_CW, false, true}, {D3DCULL_NONE, true, true}};
    for (const Case& c : cases) {
        device->SetRenderState(D3DRS_CULLMODE, c.mode);
        for (bool counterClockwise : {false, true}) {
            device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
            DrawRect(-1, 1, 1, -1, 0.5f, 0xFFFFFFFF, counterClockwise);
            bool visible = Centre() == 0xFFFFFFFFu;
            EXPECT_EQ(visible, counterClockwise ? c.counterClockwiseVisible : c.clockwiseVisible)
                << "cull mode " << c.mode << (counterClockwise ? " counter-clockwise" : " clockwise");
        }
    }
}

TEST_F(RenderStateTest, ColourWriteMasksKeepUnwrittenChannels) {
    const DWORD masks[] = {0xF, 0x7, 0x6, 0x1, 0x8, 0x0};
    for (DWORD mask : masks) {
        device->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0x11223344, 1.0f, 0);
        device->SetRenderState(D3DRS_COLORWRITEENABLE, mask);
        FullScreen(0xAABBCCDD);
        uint32_t got = Centre();
        uint32_t expected = 0;
        expected |= (mask & D3DCOLORWRITEENABLE_RED) ? 0x00BB0000u : 0x00220000u;
        expected |= (mask & D3DCOLORWRITEENABLE_GREEN) ? 0x0000CC00u : 0x00003300u;
        expected |= (mask & D3DCOLORWRITEENABLE_BLUE) ? 0x000000DDu : 0x00000044u;
        expected |= (mask & D3DCOLORWRITEENABLE_ALPHA) ? 0xAA000000u : 0x11000000u;
        EXPECT_EQ(got, expected) << "mask " << mask;
    }
    device->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
}

TEST_F(RenderStateTest, SrgbDecodingFollowsTheSamplerState) {
    uint32_t texel = 0xFF808080;  // sRGB 128 decodes to linear 0.2158 (55)
    IDirect3DTexture9* tex = MakeTexture(1, 1, D3DFMT_A8R8G8B8, &texel, 4);
    device->SetPixelShader(texture.pixel);
    device->SetTexture(0, tex);
    device->SetSamplerState(0, D3DSAMP_SRGBTEXTURE, 0);
    FullScreen(0xFFFFFFFF);
    EXPECT_EQ(Centre(), 0xFF808080u);
    device->SetSamplerState(0, D3DSAMP_SRGBTEXTURE, 1);
    FullScreen(0xFFFFFFFF);
    uint32_t decoded = Centre();
    EXPECT_NEAR(static_cast<int>(Channel(decoded, 16)), 55, 1);
    EXPECT_EQ(Channel(decoded, 24), 0xFFu) << "alpha is never decoded";
    device->SetTexture(0, nullptr);
    tex->Release();
}

TEST_F(RenderStateTest, BorderAddressingUsesTheBorderColour) {
    uint32_t texels[4] = {0xFF00FF00, 0xFF00FF00, 0xFF00FF00, 0xFF00FF00};
    IDirect3DTexture9* tex = MakeTexture(2, 2, D3DFMT_A8R8G8B8, texels, 4);
    device->SetPixelShader(texture.pixel);
    device->SetTexture(0, tex);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    device->SetSamplerState(0, D3DSAMP_BORDERCOLOR, 0xFFFF0000);
    // Texture coordinates run from -1 to 2: the middle third lies inside the texture.
    for (DWORD address : {D3DTADDRESS_BORDER, D3DTADDRESS_CLAMP, D3DTADDRESS_WRAP}) {
        device->SetSamplerState(0, D3DSAMP_ADDRESSU, address);
        device->SetSamplerState(0, D3DSAMP_ADDRESSV, address);
        DrawRect(-1, 1, 1, -1, 0.5f, 0xFFFFFFFF, false, -1, -1, 2, 2);
        std::vector<uint32_t> pixels = ReadBackBuffer();
        EXPECT_EQ(pixels[(height / 2) * width + width / 2], 0xFF00FF00u);
        EXPECT_EQ(pixels[2 * width + 2], address == D3DTADDRESS_BORDER ? 0xFFFF0000u : 0xFF00FF00u)
            << "address mode " << address;
    }
    device->SetTexture(0, nullptr);
    tex->Release();
}

TEST_F(RenderStateTest, ReadBackLayoutsMatchDirect3D9Memory) {
    // A8R8G8B8: bytes B, G, R, A, rows from the top.
    IDirect3DTexture9* target = MakeRenderTargetTexture(8, 4, D3DFMT_A8R8G8B8);
    IDirect3DSurface9* surface = nullptr;
    target->GetSurfaceLevel(0, &surface);
    IDirect3DSurface9* back = nullptr;
    device->GetRenderTarget(0, &back);
    device->SetRenderTarget(0, surface);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0x10203040, 1.0f, 0);
    DrawRect(-1, 1, 1, 0, 0.5f, 0xFFC08040);  // top half
    UINT pitch = 0;
    std::vector<uint8_t> bytes = ReadSurface(surface, &pitch);
    ASSERT_GE(pitch, 32u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4), (std::vector<uint8_t>{0x40, 0x80, 0xC0, 0xFF}));
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 3 * pitch, bytes.begin() + 3 * pitch + 4),
              (std::vector<uint8_t>{0x40, 0x30, 0x20, 0x10}));
    surface->Release();
    target->Release();

    // A16B16G16R16: R, G, B, A as 16-bit values.
    IDirect3DTexture9* wide = MakeRenderTargetTexture(4, 4, D3DFMT_A16B16G16R16);
    wide->GetSurfaceLevel(0, &surface);
    device->SetRenderTarget(0, surface);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF80, 1.0f, 0);
    bytes = ReadSurface(surface, &pitch);
    uint16_t first[4];
    std::memcpy(first, bytes.data(), sizeof(first));
    EXPECT_EQ(first[0], 0x0000);
    EXPECT_EQ(first[1], 0xFFFF);
    EXPECT_EQ(first[2], 0x8080);
    EXPECT_EQ(first[3], 0xFFFF);
    device->SetRenderTarget(0, back);
    surface->Release();
    wide->Release();
    back->Release();
}

TEST_F(RenderStateTest, RenderTargetsSaveAndRestoreLikeTheRenderer) {
    IDirect3DTexture9* target = MakeRenderTargetTexture(16, 16, D3DFMT_A8R8G8B8);
    IDirect3DSurface9* surface = nullptr;
    target->GetSurfaceLevel(0, &surface);
    IDirect3DSurface9* ownDepth = nullptr;
    ASSERT_EQ(device->CreateDepthStencilSurface(16, 16, D3DFMT_D24S8, D3DMULTISAMPLE_NONE, 0, TRUE, &ownDepth, nullptr),
              D3D_OK);

    IDirect3DSurface9* savedTarget = nullptr;
    IDirect3DSurface9* savedDepth = nullptr;
    D3DVIEWPORT9 savedViewport, targetViewport{0, 0, 16, 16, 0.0f, 1.0f};
    device->GetRenderTarget(0, &savedTarget);
    device->GetDepthStencilSurface(&savedDepth);
    device->GetViewport(&savedViewport);
    device->SetViewport(&targetViewport);
    device->SetRenderTarget(0, surface);
    device->SetDepthStencilSurface(ownDepth);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF0000FF, 1.0f, 0);
    device->SetDepthStencilSurface(savedDepth);
    device->SetRenderTarget(0, savedTarget);
    device->SetViewport(&savedViewport);

    IDirect3DSurface9* current = nullptr;
    device->GetRenderTarget(0, &current);
    EXPECT_EQ(current, savedTarget);
    current->Release();
    device->GetDepthStencilSurface(&current);
    EXPECT_EQ(current, savedDepth);
    current->Release();
    D3DVIEWPORT9 viewport;
    device->GetViewport(&viewport);
    EXPECT_EQ(viewport.Width, width);
    EXPECT_EQ(ReadColors(surface)[0], 0xFF0000FFu) << "the target kept what was drawn into it";

    // A second slot is unbound again by setting it to null; slot 0 may not be.
    device->SetRenderTarget(1, surface);
    device->SetRenderTarget(1, nullptr);
    EXPECT_EQ(device->GetRenderTarget(1, &current), D3DERR_NOTFOUND);
    EXPECT_EQ(device->SetRenderTarget(0, nullptr), D3DERR_INVALIDCALL);
    savedTarget->Release();
    savedDepth->Release();
    ownDepth->Release();
    surface->Release();
    target->Release();
}

TEST_F(RenderStateTest, TwoRenderTargetsReceiveTheirOwnOutputs) {
    CompiledShader two = Compile(device, kTwoTargetPixel, "ps_3_0");
    ASSERT_EQ(two.result, D3D_OK) << two.errors;
    IDirect3DTexture9* second = MakeRenderTargetTexture(width, height, D3DFMT_A8R8G8B8);
    IDirect3DSurface9* surface = nullptr;
    second->GetSurfaceLevel(0, &surface);
    device->SetRenderTarget(1, surface);
    device->SetPixelShader(two.pixel);
    FullScreen(0xFF112233);
    device->SetRenderTarget(1, nullptr);
    EXPECT_EQ(Centre(), 0xFF112233u);
    EXPECT_EQ(ReadColors(surface)[0], 0xFF332211u);
    surface->Release();
    second->Release();
    two.Release();
}

TEST_F(RenderStateTest, IndexedDrawsReadSixteenAndThirtyTwoBitIndices) {
    Vertex vertices[4] = {{-1, 1, 0.5f, 0, 0, 0xFF00FFFF},
                          {1, 1, 0.5f, 1, 0, 0xFF00FFFF},
                          {-1, -1, 0.5f, 0, 1, 0xFF00FFFF},
                          {1, -1, 0.5f, 1, 1, 0xFF00FFFF}};
    IDirect3DVertexBuffer9* vb = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(sizeof(vertices), D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT, &vb, nullptr), D3D_OK);
    void* data = nullptr;
    vb->Lock(0, 0, &data, 0);
    std::memcpy(data, vertices, sizeof(vertices));
    vb->Unlock();
    device->SetStreamSource(0, vb, 0, sizeof(Vertex));
    for (D3DFORMAT format : {D3DFMT_INDEX16, D3DFMT_INDEX32}) {
        UINT size = format == D3DFMT_INDEX16 ? 2 : 4;
        IDirect3DIndexBuffer9* ib = nullptr;
        ASSERT_EQ(device->CreateIndexBuffer(12 * size, 0, format, D3DPOOL_DEFAULT, &ib, nullptr), D3D_OK);
        ib->Lock(0, 0, &data, 0);
        const uint32_t indices[12] = {0, 0, 0, 0, 0, 0, 0, 1, 2, 2, 1, 3};  // a degenerate triangle pair first
        for (int i = 0; i < 12; ++i) {
            if (size == 2)
                static_cast<uint16_t*>(data)[i] = static_cast<uint16_t>(indices[i]);
            else
                static_cast<uint32_t*>(data)[i] = indices[i];
        }
        ib->Unlock();
        device->SetIndices(ib);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 6, 2), D3D_OK);
        std::vector<uint32_t> pixels = ReadBackBuffer();
        EXPECT_EQ(pixels[0], 0xFF00FFFFu);
        EXPECT_EQ(pixels[pixels.size() - 1], 0xFF00FFFFu);
        // Reading past the index buffer is refused, not performed.
        EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 6, 3), D3DERR_INVALIDCALL);
        device->SetIndices(nullptr);
        ib->Release();
    }
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), D3DERR_INVALIDCALL) << "6 vertices from a buffer of 4";
    device->SetStreamSource(0, nullptr, 0, 0);
    vb->Release();
}

TEST_F(RenderStateTest, OcclusionQueriesCountSamples) {
    IDirect3DQuery9* query = nullptr;
    ASSERT_EQ(device->CreateQuery(D3DQUERYTYPE_OCCLUSION, &query), D3D_OK);
    EXPECT_EQ(device->CreateQuery(D3DQUERYTYPE_VCACHE, nullptr), D3DERR_NOTAVAILABLE);
    query->Issue(D3DISSUE_BEGIN);
    DrawRect(-1, 1, 0, 0, 0.5f, 0xFFFFFFFF);  // a quarter of the target
    query->Issue(D3DISSUE_END);
    DWORD samples = 0;
    HRESULT hr;
    while ((hr = query->GetData(&samples, sizeof(samples), D3DGETDATA_FLUSH)) == S_FALSE) {
    }
    EXPECT_EQ(hr, D3D_OK);
    EXPECT_EQ(samples, width * height / 4);
    query->Release();
}

TEST_F(RenderStateTest, InvalidCallsAreRefused) {
    IDirect3DTexture9* tex = nullptr;
    EXPECT_EQ(device->CreateTexture(0, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateTexture(20000, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateTexture(4, 4, 9, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_P8, D3DPOOL_MANAGED, &tex, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateTexture(4, 4, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, nullptr),
              D3DERR_INVALIDCALL);
    ASSERT_EQ(device->CreateTexture(4, 4, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, nullptr), D3D_OK);
    EXPECT_EQ(tex->GetLevelCount(), 3u);
    D3DLOCKED_RECT locked;
    EXPECT_EQ(tex->LockRect(3, &locked, nullptr, 0), D3DERR_INVALIDCALL);
    RECT outside{0, 0, 5, 4};
    EXPECT_EQ(tex->LockRect(0, &locked, &outside, 0), D3DERR_INVALIDCALL);
    ASSERT_EQ(tex->LockRect(0, &locked, nullptr, 0), D3D_OK);
    EXPECT_EQ(tex->LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL) << "already locked";
    tex->UnlockRect(0);
    EXPECT_EQ(tex->UnlockRect(0), D3DERR_INVALIDCALL);
    tex->Release();

    IDirect3DVertexBuffer9* vb = nullptr;
    EXPECT_EQ(device->CreateVertexBuffer(0, 0, 0, D3DPOOL_DEFAULT, &vb, nullptr), D3DERR_INVALIDCALL);
    ASSERT_EQ(device->CreateVertexBuffer(16, 0, 0, D3DPOOL_DEFAULT, &vb, nullptr), D3D_OK);
    void* data = nullptr;
    EXPECT_EQ(vb->Lock(8, 16, &data, 0), D3DERR_INVALIDCALL);
    vb->Release();

    D3DVERTEXELEMENT9 bad[] = {{0, 0, D3DDECLTYPE_UNUSED, 0, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
    IDirect3DVertexDeclaration9* declaration = nullptr;
    EXPECT_EQ(device->CreateVertexDeclaration(bad, &declaration), D3DERR_INVALIDCALL);
    float constants[8] = {};
    EXPECT_EQ(device->SetVertexShaderConstantF(255, constants, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetPixelShaderConstantF(224, constants, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetRenderState(static_cast<D3DRENDERSTATETYPE>(4000), 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->EndScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->BeginScene(), D3D_OK);
    EXPECT_EQ(device->BeginScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->EndScene(), D3D_OK);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
}

// ---------------------------------------------------------------------------------------
// Depth-stencil, scissor, bias, separate alpha, user-memory indices, mip clamping, VPOS:
// each against what Direct3D 9 defines for the state.

namespace {

class LayerPathTest : public RenderStateTest {
protected:
    void SetUp() override {
        RenderStateTest::SetUp();
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    }

    // The stencil value under a pixel, read through the stencil test itself: the smallest
    // reference that passes GREATEREQUAL (ref >= stored) is the stored value.
    int StencilAt(UINT x, UINT y) {
        const std::pair<D3DRENDERSTATETYPE, DWORD> probe[] = {
            {D3DRS_STENCILENABLE, TRUE},          {D3DRS_TWOSIDEDSTENCILMODE, FALSE},
            {D3DRS_STENCILFUNC, D3DCMP_GREATEREQUAL}, {D3DRS_STENCILMASK, 0xFF},
            {D3DRS_STENCILWRITEMASK, 0},          {D3DRS_STENCILFAIL, D3DSTENCILOP_KEEP},
            {D3DRS_STENCILZFAIL, D3DSTENCILOP_KEEP}, {D3DRS_STENCILPASS, D3DSTENCILOP_KEEP},
            {D3DRS_ZENABLE, FALSE},               {D3DRS_SCISSORTESTENABLE, FALSE},
            {D3DRS_DEPTHBIAS, 0},                 {D3DRS_SLOPESCALEDEPTHBIAS, 0}};
        for (const auto& [state, value] : probe) device->SetRenderState(state, value);
        int low = 0, high = 255;
        while (low < high) {
            int middle = (low + high) / 2;
            device->SetRenderState(D3DRS_STENCILREF, static_cast<DWORD>(middle));
            device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
            FullScreen(0xFFFFFFFF);
            if (ReadBackBuffer()[y * width + x] == 0xFFFFFFFFu)
                high = middle;
            else
                low = middle + 1;
        }
        return low;
    }

    void SetStates(std::initializer_list<std::pair<D3DRENDERSTATETYPE, DWORD>> states) {
        for (const auto& [state, value] : states) device->SetRenderState(state, value);
    }

    // Whether a draw at depth z over the whole target passes LESS against what is stored.
    bool PassesDepthLess(float z) {
        SetStates({{D3DRS_ZENABLE, TRUE}, {D3DRS_ZWRITEENABLE, FALSE}, {D3DRS_ZFUNC, D3DCMP_LESS},
                   {D3DRS_DEPTHBIAS, 0}, {D3DRS_SLOPESCALEDEPTHBIAS, 0}, {D3DRS_STENCILENABLE, FALSE}});
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        FullScreen(0xFFFFFFFF, z);
        return Centre() == 0xFFFFFFFFu;
    }
};

DWORD FloatState(float value) {
    DWORD bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

}  // namespace

TEST_F(LayerPathTest, StencilOperationsOnEachOutcome) {
    struct Case {
        DWORD op;
        int start, expected;
    };
    const int ref = 0x5A;
    const Case cases[] = {
        {D3DSTENCILOP_KEEP, 7, 7},       {D3DSTENCILOP_ZERO, 7, 0},        {D3DSTENCILOP_REPLACE, 7, ref},
        {D3DSTENCILOP_INCRSAT, 254, 255}, {D3DSTENCILOP_INCRSAT, 255, 255}, {D3DSTENCILOP_DECRSAT, 1, 0},
        {D3DSTENCILOP_DECRSAT, 0, 0},    {D3DSTENCILOP_INVERT, 0x0F, 0xF0}, {D3DSTENCILOP_INCR, 255, 0},
        {D3DSTENCILOP_DECR, 0, 255},     {D3DSTENCILOP_INCR, 9, 10},       {D3DSTENCILOP_DECR, 9, 8},
    };
    enum Outcome { Pass, StencilFail, DepthFail };
    for (const Case& c : cases) {
        for (Outcome outcome : {Pass, StencilFail, DepthFail}) {
            SCOPED_TRACE("operation " + std::to_string(c.op) + " from " + std::to_string(c.start) + ", outcome " +
                         std::to_string(outcome));
            device->Clear(0, nullptr, D3DCLEAR_STENCIL | D3DCLEAR_ZBUFFER, 0, 1.0f, static_cast<DWORD>(c.start));
            SetStates({{D3DRS_STENCILENABLE, TRUE}, {D3DRS_STENCILREF, ref}, {D3DRS_STENCILMASK, 0xFF},
                       {D3DRS_STENCILWRITEMASK, 0xFF}, {D3DRS_STENCILFAIL, D3DSTENCILOP_KEEP},
                       {D3DRS_STENCILZFAIL, D3DSTENCILOP_KEEP}, {D3DRS_STENCILPASS, D3DSTENCILOP_KEEP},
                       {D3DRS_STENCILFUNC, outcome == StencilFail ? D3DCMP_NEVER : D3DCMP_ALWAYS},
                       {D3DRS_ZENABLE, outcome == DepthFail}, {D3DRS_ZFUNC, D3DCMP_NEVER}});
            device->SetRenderState(outcome == Pass ? D3DRS_STENCILPASS
                                   : outcome == StencilFail ? D3DRS_STENCILFAIL
                                                            : D3DRS_STENCILZFAIL,
                                   c.op);
            FullScreen(0xFFFFFFFF);
            EXPECT_EQ(StencilAt(width / 2, height / 2), c.expected);
        }
    }
}

TEST_F(LayerPathTest, TwoSidedStencilGivesCounterClockwiseFacesTheirOwnStates) {
    struct Case {
        BOOL twoSided;
        DWORD ccwFunction;
        int clockwise, counterClockwise;
    };
    // Stencil 5 everywhere; clockwise faces increment, counter-clockwise ones decrement or,
    // failing their own test, take the reference 0x40.
    const Case cases[] = {{TRUE, D3DCMP_ALWAYS, 6, 4}, {TRUE, D3DCMP_NEVER, 6, 0x40}, {FALSE, D3DCMP_NEVER, 6, 6}};
    for (const Case& c : cases) {
        SCOPED_TRACE("two-sided " + std::to_string(c.twoSided) + ", ccw function " + std::to_string(c.ccwFunction));
        device->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1.0f, 5);
        SetStates({{D3DRS_STENCILENABLE, TRUE}, {D3DRS_TWOSIDEDSTENCILMODE, c.twoSided}, {D3DRS_STENCILREF, 0x40},
                   {D3DRS_STENCILMASK, 0xFF}, {D3DRS_STENCILWRITEMASK, 0xFF}, {D3DRS_STENCILFUNC, D3DCMP_ALWAYS},
                   {D3DRS_STENCILPASS, D3DSTENCILOP_INCRSAT}, {D3DRS_STENCILFAIL, D3DSTENCILOP_KEEP},
                   {D3DRS_CCW_STENCILFUNC, c.ccwFunction}, {D3DRS_CCW_STENCILPASS, D3DSTENCILOP_DECRSAT},
                   {D3DRS_CCW_STENCILFAIL, D3DSTENCILOP_REPLACE}, {D3DRS_ZENABLE, FALSE}});
        DrawRect(-1, 1, 0, -1, 0.5f, 0xFFFFFFFF, false);  // left half, clockwise
        DrawRect(0, 1, 1, -1, 0.5f, 0xFFFFFFFF, true);    // right half, counter-clockwise
        EXPECT_EQ(StencilAt(width / 4, height / 2), c.clockwise);
        EXPECT_EQ(StencilAt(3 * width / 4, height / 2), c.counterClockwise);
    }
}

TEST_F(LayerPathTest, StencilReferenceComparesThroughTheMaskAndWritesThroughTheWriteMask) {
    struct Case {
        int stored;
        DWORD function, ref, mask, writeMask, pass;
        int expected;
    };
    const Case cases[] = {
        {0x23, D3DCMP_EQUAL, 0x13, 0x0F, 0xFF, D3DSTENCILOP_INCRSAT, 0x24},  // equal in the low bits
        {0x23, D3DCMP_EQUAL, 0x13, 0xFF, 0xFF, D3DSTENCILOP_INCRSAT, 0x23},  // not equal in all of them
        {0x10, D3DCMP_LESS, 0x0F, 0xFF, 0xFF, D3DSTENCILOP_ZERO, 0},         // ref < stored passes
        {0x10, D3DCMP_GREATER, 0x0F, 0xFF, 0xFF, D3DSTENCILOP_ZERO, 0x10},   // ref > stored fails
        {0x0F, D3DCMP_ALWAYS, 0xAB, 0xFF, 0xF0, D3DSTENCILOP_REPLACE, 0xAF},
        {0x00, D3DCMP_ALWAYS, 0x3C, 0xFF, 0xFF, D3DSTENCILOP_REPLACE, 0x3C},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("stored " + std::to_string(c.stored) + " ref " + std::to_string(c.ref));
        device->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1.0f, static_cast<DWORD>(c.stored));
        SetStates({{D3DRS_STENCILENABLE, TRUE}, {D3DRS_STENCILFUNC, c.function}, {D3DRS_STENCILREF, c.ref},
                   {D3DRS_STENCILMASK, c.mask}, {D3DRS_STENCILWRITEMASK, c.writeMask},
                   {D3DRS_STENCILPASS, c.pass}, {D3DRS_STENCILFAIL, D3DSTENCILOP_KEEP}, {D3DRS_ZENABLE, FALSE}});
        FullScreen(0xFFFFFFFF);
        EXPECT_EQ(StencilAt(width / 2, height / 2), c.expected);
    }
}

TEST_F(LayerPathTest, ScissorRectangleLimitsDrawsAndClears) {
    RECT scissor{8, 16, 24, 40};
    device->SetScissorRect(&scissor);
    struct Probe {
        UINT x, y;
        bool inside;
    };
    const Probe probes[] = {{8, 16, true},   {23, 39, true},  {7, 16, false}, {8, 15, false},
                            {24, 39, false}, {23, 40, false}, {0, 0, false},  {63, 63, false}};
    for (bool clear : {false, true}) {
        SCOPED_TRACE(clear ? "Clear" : "draw");
        device->SetRenderState(D3DRS_SCISSORTESTENABLE, FALSE);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        device->SetRenderState(D3DRS_SCISSORTESTENABLE, TRUE);
        if (clear)
            device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFF, 1.0f, 0);
        else
            FullScreen(0xFFFFFFFF);
        std::vector<uint32_t> pixels = ReadBackBuffer();
        for (const Probe& p : probes)
            EXPECT_EQ(pixels[p.y * width + p.x], p.inside ? 0xFFFFFFFFu : 0xFF000000u) << p.x << ", " << p.y;
    }
    device->SetRenderState(D3DRS_SCISSORTESTENABLE, FALSE);
    FullScreen(0xFF00FF00);
    EXPECT_EQ(ReadBackBuffer()[0], 0xFF00FF00u) << "the test off, the rectangle no longer limits";
}

TEST_F(LayerPathTest, DepthBiasMovesStoredDepthByItsValueInDepthUnits) {
    // D3DRS_DEPTHBIAS is added to the depth in the buffer's [0, 1] range, whatever unit
    // the driver's polygon offset uses; the slope-scaled bias multiplies the depth slope.
    struct Case {
        float bias, slopeScale, expected;
    };
    // Flat quads at z 0.5; the sloped one runs from 0.25 (left edge) to 0.75 (right edge),
    // a slope of 1/128 per pixel on a 64-pixel target, so a slope scale of 4 adds 1/32.
    const Case cases[] = {{1.0f / 64, 0, 0.5f + 1.0f / 64},
                          {-1.0f / 64, 0, 0.5f - 1.0f / 64},
                          {1.0f / 4096, 0, 0.5f + 1.0f / 4096},
                          {0, 4, 0.5f + 1.0f / 32}};
    for (const Case& c : cases) {
        SCOPED_TRACE("bias " + std::to_string(c.bias) + " slope scale " + std::to_string(c.slopeScale));
        device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        SetStates({{D3DRS_ZENABLE, TRUE}, {D3DRS_ZWRITEENABLE, TRUE}, {D3DRS_ZFUNC, D3DCMP_ALWAYS},
                   {D3DRS_DEPTHBIAS, FloatState(c.bias)}, {D3DRS_SLOPESCALEDEPTHBIAS, FloatState(c.slopeScale)}});
        if (c.slopeScale != 0) {
            Vertex sloped[4] = {{-1, 1, 0.25f, 0, 0, 0xFFFFFFFF},
                                {1, 1, 0.75f, 1, 0, 0xFFFFFFFF},
                                {-1, -1, 0.25f, 0, 1, 0xFFFFFFFF},
                                {1, -1, 0.75f, 1, 1, 0xFFFFFFFF}};
            ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, sloped, sizeof(Vertex)), D3D_OK);
        } else {
            FullScreen(0xFFFFFFFF, 0.5f);
        }
        float margin = std::max(std::fabs(c.expected - 0.5f) / 4, 1.0f / 16384);
        EXPECT_TRUE(PassesDepthLess(c.expected - margin)) << "stored depth below " << c.expected - margin;
        EXPECT_FALSE(PassesDepthLess(c.expected + margin)) << "stored depth above " << c.expected + margin;
    }
}

TEST_F(LayerPathTest, SeparateAlphaBlendingHasItsOwnFactorsAndOperation) {
    struct Case {
        BOOL separate;
        DWORD source, destination, op, sourceAlpha, destinationAlpha, opAlpha;
        uint32_t expected;
    };
    // Destination 0x80806040, source 0x40402010 (alpha 0.251).
    const Case cases[] = {
        {TRUE, D3DBLEND_ONE, D3DBLEND_ZERO, D3DBLENDOP_ADD, D3DBLEND_ZERO, D3DBLEND_ONE, D3DBLENDOP_ADD, 0x80402010},
        {TRUE, D3DBLEND_ZERO, D3DBLEND_ONE, D3DBLENDOP_ADD, D3DBLEND_ONE, D3DBLEND_ONE, D3DBLENDOP_ADD, 0xC0806040},
        {TRUE, D3DBLEND_ONE, D3DBLEND_ONE, D3DBLENDOP_ADD, D3DBLEND_ONE, D3DBLEND_ONE, D3DBLENDOP_REVSUBTRACT,
         0x40C08050},
        {TRUE, D3DBLEND_ONE, D3DBLEND_ZERO, D3DBLENDOP_ADD, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, D3DBLENDOP_ADD,
         0x70402010},
        // Off: alpha follows the colour factors whatever the alpha states say.
        {FALSE, D3DBLEND_ONE, D3DBLEND_ZERO, D3DBLENDOP_ADD, D3DBLEND_ZERO, D3DBLEND_ONE, D3DBLENDOP_ADD, 0x40402010},
    };
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    for (const Case& c : cases) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0x80806040, 1.0f, 0);
        SetStates({{D3DRS_SEPARATEALPHABLENDENABLE, c.separate}, {D3DRS_SRCBLEND, c.source},
                   {D3DRS_DESTBLEND, c.destination}, {D3DRS_BLENDOP, c.op}, {D3DRS_SRCBLENDALPHA, c.sourceAlpha},
                   {D3DRS_DESTBLENDALPHA, c.destinationAlpha}, {D3DRS_BLENDOPALPHA, c.opAlpha}});
        FullScreen(0x40402010);
        uint32_t got = Centre();
        for (int shift : {0, 8, 16, 24})
            EXPECT_NEAR(static_cast<int>(Channel(got, shift)), static_cast<int>(Channel(c.expected, shift)), 1)
                << "expected " << std::hex << c.expected << " got " << got;
    }
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
}

TEST_F(LayerPathTest, IndexedDrawsFromUserMemoryIndexFromTheStartOfTheVertices) {
    // Vertices 0-3 would cover the left half in red, 4-7 the right half in green; the
    // indices name 4-7, the range MinVertexIndex 4 and NumVertices 4 announce.
    Vertex vertices[8] = {{-1, 1, 0.5f, 0, 0, 0xFFFF0000}, {0, 1, 0.5f, 0, 0, 0xFFFF0000},
                          {-1, -1, 0.5f, 0, 0, 0xFFFF0000}, {0, -1, 0.5f, 0, 0, 0xFFFF0000},
                          {0, 1, 0.5f, 0, 0, 0xFF00FF00},  {1, 1, 0.5f, 0, 0, 0xFF00FF00},
                          {0, -1, 0.5f, 0, 0, 0xFF00FF00}, {1, -1, 0.5f, 0, 0, 0xFF00FF00}};
    const uint16_t indices16[6] = {4, 5, 6, 6, 5, 7};
    const uint32_t indices32[6] = {4, 5, 6, 6, 5, 7};
    for (D3DFORMAT format : {D3DFMT_INDEX16, D3DFMT_INDEX32}) {
        const void* indices = format == D3DFMT_INDEX16 ? static_cast<const void*>(indices16) : indices32;
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        ASSERT_EQ(
            device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 4, 4, 2, indices, format, vertices, sizeof(Vertex)),
            D3D_OK);
        std::vector<uint32_t> pixels = ReadBackBuffer();
        EXPECT_EQ(pixels[(height / 2) * width + 3 * width / 4], 0xFF00FF00u) << "format " << format;
        EXPECT_EQ(pixels[(height / 2) * width + width / 4], 0xFF000000u) << "format " << format;
    }
    // Indices outside the announced range would read vertices the call did not hand over.
    const uint16_t below[6] = {3, 5, 6, 6, 5, 7};
    const uint16_t above[6] = {4, 5, 6, 6, 5, 8};
    EXPECT_EQ(device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 4, 4, 2, below, D3DFMT_INDEX16, vertices,
                                             sizeof(Vertex)),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 4, 4, 2, above, D3DFMT_INDEX16, vertices,
                                             sizeof(Vertex)),
              D3DERR_INVALIDCALL);
}

TEST_F(LayerPathTest, UserMemorySizesAreCheckedInSixtyFourBits) {
    // Byte counts that wrap in 32 bits would hand the device a few bytes for a draw of a
    // billion vertices.
    Vertex vertices[8] = {};
    const uint16_t indices[3] = {0, 1, 2};
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 0x15555556, vertices, 4), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_POINTLIST, 0x40000001, vertices, 0x10), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0x80000000u, 0x80000000u, 1, indices,
                                             D3DFMT_INDEX16, vertices, sizeof(Vertex)),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 0x10000001, 1, indices, D3DFMT_INDEX16, vertices,
                                             0x100),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, vertices, sizeof(Vertex)), D3D_OK);
}

TEST_F(LayerPathTest, MaxMipLevelNamesTheMostDetailedLevelSampled) {
    // Levels red, green, blue; a magnified draw samples the most detailed level allowed.
    IDirect3DTexture9* tex = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 4, 3, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, nullptr), D3D_OK);
    const uint32_t colours[3] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF};
    for (UINT level = 0; level < 3; ++level) {
        D3DLOCKED_RECT locked;
        ASSERT_EQ(tex->LockRect(level, &locked, nullptr, 0), D3D_OK);
        UINT size = 4 >> level;
        for (UINT y = 0; y < size; ++y)
            for (UINT x = 0; x < size; ++x)
                reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch)[x] = colours[level];
        tex->UnlockRect(level);
    }
    device->SetPixelShader(texture.pixel);
    device->SetTexture(0, tex);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
    const std::pair<DWORD, uint32_t> cases[] = {
        {0, colours[0]}, {1, colours[1]}, {2, colours[2]}, {7, colours[2]}};
    for (const auto& [maxLevel, expected] : cases) {
        device->SetSamplerState(0, D3DSAMP_MAXMIPLEVEL, maxLevel);
        FullScreen(0xFFFFFFFF);
        EXPECT_EQ(Centre(), expected) << "D3DSAMP_MAXMIPLEVEL " << maxLevel;
    }
    device->SetTexture(0, nullptr);
    tex->Release();
}

TEST_F(LayerPathTest, VposGivesIntegerPixelCoordinates) {
    // Direct3D 9's pixel centres lie on integers, so VPOS of pixel (x, y) is (x, y).
    CompiledShader vpos =
        Compile(device, "float4 main(float2 p : VPOS) : COLOR { return float4(p.x / 255, p.y / 255, 0, 1); }\n",
                "ps_3_0");
    ASSERT_EQ(vpos.result, D3D_OK) << vpos.errors;
    device->SetPixelShader(vpos.pixel);
    FullScreen(0xFFFFFFFF);
    std::vector<uint32_t> pixels = ReadBackBuffer();
    int wrong = 0;
    for (UINT y = 0; y < height; ++y)
        for (UINT x = 0; x < width; ++x)
            if (pixels[y * width + x] != (0xFF000000u | (x << 16) | (y << 8)) && wrong++ < 4)
                ADD_FAILURE() << "pixel " << x << ", " << y << " got " << std::hex << pixels[y * width + x];
    EXPECT_EQ(wrong, 0);
    vpos.Release();
}

TEST_F(LayerPathTest, CapsReportTheRasterAndStencilFeaturesTheLayerHas) {
    D3DCAPS9 caps;
    ASSERT_EQ(device->GetDeviceCaps(&caps), D3D_OK);
    for (DWORD bit : {D3DPRASTERCAPS_SCISSORTEST, D3DPRASTERCAPS_DEPTHBIAS, D3DPRASTERCAPS_SLOPESCALEDEPTHBIAS,
                      D3DPRASTERCAPS_MIPMAPLODBIAS})
        EXPECT_TRUE(caps.RasterCaps & bit) << "RasterCaps bit " << std::hex << bit;
    for (DWORD bit : {D3DSTENCILCAPS_KEEP, D3DSTENCILCAPS_ZERO, D3DSTENCILCAPS_REPLACE, D3DSTENCILCAPS_INCRSAT,
                      D3DSTENCILCAPS_DECRSAT, D3DSTENCILCAPS_INVERT, D3DSTENCILCAPS_INCR, D3DSTENCILCAPS_DECR,
                      D3DSTENCILCAPS_TWOSIDED})
        EXPECT_TRUE(caps.StencilCaps & bit) << "StencilCaps bit " << std::hex << bit;
}

TEST_F(LayerPathTest, ADrawWhoseVertexStageCannotBeBuiltFails) {
    // Two TEXCOORD0 elements: the layer's generated vertex stage for draws without a vertex
    // shader cannot be linked, and the draw must say so instead of reporting success.
    const D3DVERTEXELEMENT9 twice[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                       {0, 12, D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_TEXCOORD, 0},
                                       {0, 12, D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_TEXCOORD, 0},
                                       D3DDECL_END()};
    IDirect3DVertexDeclaration9* broken = nullptr;
    ASSERT_EQ(device->CreateVertexDeclaration(twice, &broken), D3D_OK);
    device->SetVertexDeclaration(broken);
    device->SetVertexShader(nullptr);
    Vertex triangle[3] = {};
    EXPECT_TRUE(FAILED(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, triangle, sizeof(Vertex))));
    EXPECT_TRUE(FAILED(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, triangle, sizeof(Vertex)))) << "and again";
    device->SetVertexDeclaration(decl);
    broken->Release();
    lumaret::platform::ResetGlDebugErrors();  // the GL compiler's own report of the failed stage
}

TEST_F(LayerPathTest, WhatIsBoundStaysAliveWhenTheApplicationReleasesIt) {
    // Direct3D 9 holds what is bound: releasing a bound target must not send drawing
    // elsewhere, nor a bound texture or buffer stop feeding draws.
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    IDirect3DSurface9* back = nullptr;
    device->GetRenderTarget(0, &back);
    IDirect3DTexture9* target = MakeRenderTargetTexture(16, 16, D3DFMT_A8R8G8B8);
    IDirect3DSurface9* surface = nullptr;
    target->GetSurfaceLevel(0, &surface);
    device->SetRenderTarget(0, surface);
    surface->Release();
    EXPECT_EQ(target->Release(), 0u) << "the application holds nothing now";

    uint32_t texel = 0xFF20A040;
    IDirect3DTexture9* tex = MakeTexture(1, 1, D3DFMT_A8R8G8B8, &texel, 4);
    device->SetPixelShader(texture.pixel);
    device->SetTexture(0, tex);
    tex->Release();
    Vertex quad[4] = {{-1, 1, 0.5f, 0, 0, 0xFFFFFFFF},
                      {1, 1, 0.5f, 1, 0, 0xFFFFFFFF},
                      {-1, -1, 0.5f, 0, 1, 0xFFFFFFFF},
                      {1, -1, 0.5f, 1, 1, 0xFFFFFFFF}};
    IDirect3DVertexBuffer9* vb = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(sizeof(quad), D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT, &vb, nullptr), D3D_OK);
    void* data = nullptr;
    vb->Lock(0, 0, &data, 0);
    std::memcpy(data, quad, sizeof(quad));
    vb->Unlock();
    device->SetStreamSource(0, vb, 0, sizeof(Vertex));
    vb->Release();

    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFF0000, 1.0f, 0), D3D_OK);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
    IDirect3DSurface9* current = nullptr;
    ASSERT_EQ(device->GetRenderTarget(0, &current), D3D_OK);
    std::vector<uint32_t> drawn = ReadColors(current);
    EXPECT_EQ(drawn[8 * 16 + 8], 0xFF20A040u) << "the released target received the draw";
    current->Release();
    IDirect3DBaseTexture9* bound = nullptr;
    ASSERT_EQ(device->GetTexture(0, &bound), D3D_OK);
    EXPECT_NE(bound, nullptr);
    if (bound) bound->Release();

    device->SetRenderTarget(0, back);
    device->SetTexture(0, nullptr);
    device->SetStreamSource(0, nullptr, 0, 0);
    back->Release();
    EXPECT_EQ(ReadBackBuffer()[0], 0xFF000000u) << "the back buffer was not drawn into";
}

// Lines and points land on the pixels Direct3D 9 puts them on: a vertex at a pixel's centre
// lights that pixel, a line list and a strip cover the pixels between their ends, and a
// point covers D3DRS_POINTSIZE pixels a side, clamped to POINTSIZE_MAX and to the caps.
TEST_F(LayerPathTest, LinesAndPointsCoverThePixelsTheyName) {
    D3DCAPS9 caps{};
    ASSERT_EQ(device->GetDeviceCaps(&caps), D3D_OK);
    ASSERT_GT(caps.MaxPointSize, 8.0f) << "points of a few pixels are what point clouds need";
    const float w = static_cast<float>(width), h = static_cast<float>(height);
    // The clip-space place of pixel (x, y)'s centre, which Direct3D 9 puts on whole numbers.
    auto at = [&](float x, float y, D3DCOLOR c) {
        return Vertex{x * 2.0f / w - 1.0f, 1.0f - y * 2.0f / h, 0.5f, 0, 0, c};
    };
    struct Case {
        const char* name;
        D3DPRIMITIVETYPE type;
        std::vector<Vertex> vertices;
        float pointSize, pointSizeMax;
        std::vector<std::pair<int, int>> lit, dark;
    };
    const D3DCOLOR red = 0xFFFF0000;
    const float huge = 1e6f;
    const int big = std::min<int>(static_cast<int>(caps.MaxPointSize), 40) / 2 * 2;
    const Case cases[] = {
        {"line list", D3DPT_LINELIST, {at(4, 10, red), at(20, 10, red), at(30, 2, red), at(30, 12, red)}, 1, 64,
         {{4, 10}, {12, 10}, {19, 10}, {30, 2}, {30, 7}, {30, 11}}, {{12, 9}, {12, 11}, {21, 10}, {31, 7}, {30, 13}}},
        {"line strip", D3DPT_LINESTRIP, {at(4, 40, red), at(20, 40, red), at(20, 50, red)}, 1, 64,
         {{5, 40}, {19, 40}, {20, 45}, {20, 49}}, {{12, 39}, {12, 41}, {21, 45}, {20, 51}}},
        {"one-pixel points", D3DPT_POINTLIST, {at(5, 5, red), at(50, 30, red)}, 1, 64, {{5, 5}, {50, 30}},
         {{4, 5}, {6, 5}, {5, 4}, {5, 6}, {49, 30}, {51, 30}}},
        {"five-pixel point", D3DPT_POINTLIST, {at(32, 32, red)}, 5, 64, {{30, 30}, {34, 34}, {32, 32}},
         {{29, 32}, {35, 32}, {32, 29}, {32, 35}}},
        {"clamped to POINTSIZE_MAX", D3DPT_POINTLIST, {at(32, 32, red)}, 9, 3, {{31, 31}, {33, 33}},
         {{30, 32}, {34, 32}}},
        {"clamped to the caps", D3DPT_POINTLIST, {at(32, 32, red)}, huge, huge, {{32 - big / 2, 32}, {31 + big / 2, 32}},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        device->SetRenderState(D3DRS_POINTSIZE, std::bit_cast<DWORD>(c.pointSize));
        device->SetRenderState(D3DRS_POINTSIZE_MAX, std::bit_cast<DWORD>(c.pointSizeMax));
        UINT count = c.type == D3DPT_LINELIST    ? static_cast<UINT>(c.vertices.size() / 2)
                     : c.type == D3DPT_LINESTRIP ? static_cast<UINT>(c.vertices.size() - 1)
                                                 : static_cast<UINT>(c.vertices.size());
        ASSERT_EQ(device->DrawPrimitiveUP(c.type, count, c.vertices.data(), sizeof(Vertex)), D3D_OK);
        std::vector<uint32_t> pixels = ReadBackBuffer();
        for (auto [x, y] : c.lit) EXPECT_EQ(pixels[y * width + x], red) << "lit " << x << "," << y;
        for (auto [x, y] : c.dark) EXPECT_EQ(pixels[y * width + x], 0xFF000000u) << "dark " << x << "," << y;
    }
    // A NaN size draws the smallest point instead of raising a GL error.
    device->SetRenderState(D3DRS_POINTSIZE, 0x7FC00000);
    Vertex one = at(8, 8, red);
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_POINTLIST, 1, &one, sizeof(Vertex)), D3D_OK);
}
