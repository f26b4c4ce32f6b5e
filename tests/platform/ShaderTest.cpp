// HLSL through D3DXCompileShader on the GL device: the engine's screen quads, constant
// registers and matrices, as Direct3D 9 defines them.
#include "support/DeviceFixture.h"
#include "support/ShaderHelpers.h"

#include <d3dx9.h>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

using lumaret::test::Compile;
using lumaret::test::CompiledShader;
using lumaret::test::DeviceTest;

namespace {

// The logo shaders, as the engine builds them in.
const char* const kLogoVertex =
    "struct VsIn { float4 position: POSITION; float2 texCoord: TEXCOORD; }; VsIn main(VsIn inp){ return inp; }";
const char* const kLogoPixel =
    "sampler s0 : register(s0); float4 main(float2 vScreenPosition : TEXCOORD0) : COLOR { return tex2D(s0, "
    "vScreenPosition); }";

struct QuadVertex {
    float x, y, z;
    float u, v;
    D3DCOLOR color;
};
const D3DVERTEXELEMENT9 kQuadElements[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    {0, 20, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
    D3DDECL_END()};

struct ScreenVertex {
    float x, y, z, rhw;
    float u, v;
};
const D3DVERTEXELEMENT9 kScreenElements[] = {
    {0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITIONT, 0},
    {0, 16, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    D3DDECL_END()};

class ShaderTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        ASSERT_EQ(device->CreateVertexDeclaration(kQuadElements, &quadDecl), D3D_OK);
        ASSERT_EQ(device->CreateVertexDeclaration(kScreenElements, &screenDecl), D3D_OK);
        device->SetRenderState(D3DRS_ZENABLE, FALSE);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    }
    void TearDown() override {
        for (CompiledShader& s : shaders) s.Release();
        if (quadDecl) quadDecl->Release();
        if (screenDecl) screenDecl->Release();
        for (IDirect3DTexture9* t : textures) t->Release();
        DeviceTest::TearDown();
    }

    CompiledShader& Use(const std::string& source, const char* profile) {
        shaders.push_back(Compile(device, source, profile));
        CompiledShader& s = shaders.back();
        EXPECT_EQ(s.result, D3D_OK) << s.errors;
        if (s.vertex) device->SetVertexShader(s.vertex);
        if (s.pixel) device->SetPixelShader(s.pixel);
        return s;
    }

    // A texture whose every texel differs: 0xFF000000 | x << 16 | y << 8 | (x * 7 + y * 13).
    IDirect3DTexture9* PatternTexture(UINT w, UINT h) {
        std::vector<uint32_t> texels(static_cast<size_t>(w) * h);
        for (UINT y = 0; y < h; ++y)
            for (UINT x = 0; x < w; ++x) texels[y * w + x] = Pattern(x, y);
        textures.push_back(MakeTexture(w, h, D3DFMT_A8R8G8B8, texels.data(), 4));
        return textures.back();
    }
    static uint32_t Pattern(UINT x, UINT y) { return 0xFF000000u | (x << 16) | (y << 8) | ((x * 7 + y * 13) & 0xFF); }

    // The quad of Renderer::DrawQuads for (0, 0, 1, 1) with texture (0, 0, 1, 1).
    void DrawFullClipQuad() {
        QuadVertex quad[4] = {{-1, -1, 0, 0, 1, 0xFFFFFFFF},
                              {-1, 1, 0, 0, 0, 0xFFFFFFFF},
                              {1, -1, 0, 1, 1, 0xFFFFFFFF},
                              {1, 1, 0, 1, 0, 0xFFFFFFFF}};
        device->SetVertexDeclaration(quadDecl);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(QuadVertex)), D3D_OK);
    }

    // The quad of Renderer::DrawScreenQuad.
    void DrawScreenQuad(UINT w, UINT h) {
        float fw = static_cast<float>(w), fh = static_cast<float>(h);
        ScreenVertex quad[4] = {{-0.5f, fh - 0.5f, 0, 1, 0, 1},
                                {-0.5f, -0.5f, 0, 1, 0, 0},
                                {fw - 0.5f, fh - 0.5f, 0, 1, 1, 1},
                                {fw - 0.5f, -0.5f, 0, 1, 1, 0}};
        device->SetVertexDeclaration(screenDecl);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(ScreenVertex)), D3D_OK);
    }

    void PointSampling(DWORD stage = 0) {
        device->SetSamplerState(stage, D3DSAMP_MINFILTER, D3DTEXF_POINT);
        device->SetSamplerState(stage, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
        device->SetSamplerState(stage, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
    }

    IDirect3DVertexDeclaration9* quadDecl = nullptr;
    IDirect3DVertexDeclaration9* screenDecl = nullptr;
    std::vector<CompiledShader> shaders;
    std::vector<IDirect3DTexture9*> textures;
};

}  // namespace

TEST_F(ShaderTest, ClipSpaceQuadCopiesATextureTexelForTexel) {
    Use(kLogoVertex, "vs_3_0");
    Use(kLogoPixel, "ps_3_0");
    device->SetTexture(0, PatternTexture(width, height));
    PointSampling();
    DrawFullClipQuad();
    std::vector<uint32_t> pixels = ReadBackBuffer();
    for (UINT y = 0; y < height; ++y)
        for (UINT x = 0; x < width; ++x) ASSERT_EQ(pixels[y * width + x], Pattern(x, y)) << x << "," << y;
    device->SetTexture(0, nullptr);
}

TEST_F(ShaderTest, ClipSpaceQuadSamplesBetweenTexelsAsDirect3D9Does) {
    // Direct3D 9 maps the quad's corners to pixel centres, so pixel i samples u = i / width:
    // the edge between texels i - 1 and i. Linear filtering averages the two (the reason
    // the engine draws its screen quads pretransformed with a -0.5 shift).
    Use(kLogoVertex, "vs_3_0");
    Use(kLogoPixel, "ps_3_0");
    std::vector<uint32_t> ramp(static_cast<size_t>(width) * height);
    for (UINT y = 0; y < height; ++y)
        for (UINT x = 0; x < width; ++x) ramp[y * width + x] = 0xFF000000u | (x * 4) << 16 | (y * 4) << 8;
    textures.push_back(MakeTexture(width, height, D3DFMT_A8R8G8B8, ramp.data(), 4));
    device->SetTexture(0, textures.back());
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    DrawFullClipQuad();
    std::vector<uint32_t> pixels = ReadBackBuffer();
    for (UINT y = 1; y < height; ++y)
        for (UINT x = 1; x < width; ++x) {
            int red = static_cast<int>((pixels[y * width + x] >> 16) & 0xFF);
            int green = static_cast<int>((pixels[y * width + x] >> 8) & 0xFF);
            ASSERT_NEAR(red, static_cast<int>(x * 4) - 2, 1) << x << "," << y;
            ASSERT_NEAR(green, static_cast<int>(y * 4) - 2, 1) << x << "," << y;
        }
    // Column 0 blends with the wrapped last column (252 and 0); the layer's 1/128-pixel
    // tie-breaking margin tips the weights by under 2 %.
    EXPECT_NEAR(static_cast<int>((pixels[width] >> 16) & 0xFF), 126, 3);
    device->SetTexture(0, nullptr);
}

TEST_F(ShaderTest, ScreenQuadCopiesATextureTexelForTexelWhateverTheViewport) {
    Use(kLogoVertex, "vs_3_0");  // ignored for pretransformed vertices
    Use(kLogoPixel, "ps_3_0");
    device->SetTexture(0, PatternTexture(width, height));
    PointSampling();
    D3DVIEWPORT9 offset{10, 20, 16, 16, 0.0f, 1.0f};
    device->SetViewport(&offset);
    DrawScreenQuad(width, height);
    std::vector<uint32_t> pixels = ReadBackBuffer();
    for (UINT y = 0; y < height; ++y)
        for (UINT x = 0; x < width; ++x) ASSERT_EQ(pixels[y * width + x], Pattern(x, y)) << x << "," << y;
    device->SetTexture(0, nullptr);
}

TEST_F(ShaderTest, SyntaxErrorFailsWithTheCompilersMessage) {
    CompiledShader broken = Compile(device, "float4 main() : COLOR { return float4(1, 2, 3, 4) }", "ps_3_0");
    EXPECT_NE(broken.result, D3D_OK);
    EXPECT_EQ(broken.pixel, nullptr);
    EXPECT_NE(broken.errors.find("error"), std::string::npos) << broken.errors;
    CompiledShader unknown = Compile(device, "float4 main() : COLOR { return 0; }", "ps_9_9");
    EXPECT_NE(unknown.result, D3D_OK);
    EXPECT_NE(unknown.errors.find("ps_9_9"), std::string::npos);
    CompiledShader noEntry = Compile(device, "float4 other() : COLOR { return 0; }", "ps_3_0");
    EXPECT_NE(noEntry.result, D3D_OK);
    EXPECT_FALSE(noEntry.errors.empty());
    EXPECT_EQ(D3DXCompileShader(nullptr, 0, nullptr, nullptr, "main", "ps_3_0", 0, nullptr, nullptr, nullptr),
              D3DERR_INVALIDCALL);
    // glslang 12 crashes on a global declared twice with different types; the compile fails
    // with D3DX's message instead, naming the file and both lines.
    CompiledShader twice = Compile(device,
                                   "#line 7 \"data/twice.hlsl\"\nfloat4x4 m;\n// float4 m;\nfloat m;\n"
                                   "float4 main(float4 p : POSITION) : POSITION { return mul(m, p); }\n",
                                   "vs_3_0");
    EXPECT_NE(twice.result, D3D_OK);
    EXPECT_NE(twice.errors.find("data/twice.hlsl(9): error X3003: redefinition of 'm': declared as float4x4 on line 7, "
                                "again as float"),
              std::string::npos)
        << twice.errors;
    // A pin past the last register is refused however many digits it has (32 bits
    // overflowing to a small number, or wrapping the last register's count).
    for (const char* slot : {"c256", "c4294967296", "c4294967295", "c18446744073709551617"}) {
        CompiledShader pinned = Compile(device,
                                        "float4 far : register(" + std::string(slot) +
                                            ");\nfloat4 main() : COLOR { return far; }\n",
                                        "ps_3_0");
        EXPECT_NE(pinned.result, D3D_OK) << slot;
        EXPECT_NE(pinned.errors.find("constant 'far' lies beyond the last register"), std::string::npos)
            << slot << ": " << pinned.errors;
    }
    // A source beyond what the compiler takes is refused by its size, naming the file.
    std::string huge = "#line 1 \"data/huge.hlsl\"\n" + std::string(65u << 20, ' ');
    CompiledShader tooLarge = Compile(device, huge, "ps_3_0");
    EXPECT_NE(tooLarge.errors.find("data/huge.hlsl: error: the source is too large"), std::string::npos)
        << tooLarge.errors.substr(0, 200);
    // The compiler keeps working afterwards, macros included.
    const char* tinted = "float4 main() : COLOR { return TINT; }";
    D3DXMACRO macros[] = {{"TINT", "float4(1, 0, 0, 1)"}, {nullptr, nullptr}};
    ID3DXBuffer* code = nullptr;
    EXPECT_EQ(D3DXCompileShader(tinted, static_cast<UINT>(std::strlen(tinted)), macros, nullptr, "main", "ps_3_0", 0,
                                &code, nullptr, nullptr),
              D3D_OK);
    if (code) code->Release();
    EXPECT_NE(Compile(device, tinted, "ps_3_0").result, D3D_OK) << "TINT is undefined without the macro";
}

// #include lines come through the caller's handler, as D3DX takes them: the included text
// compiles as if written in place (nested too), a file the handler cannot give or a file
// that includes itself fails naming the line, and a message names the file and line of
// the fault, the includer's lines counted as in its own file.
TEST_F(ShaderTest, IncludesComeThroughTheHandlerAndMessagesNameTheirFile) {
    struct MemoryInclude : ID3DXInclude {
        std::map<std::string, std::string> files;
        HRESULT WINAPI Open(D3DXINCLUDE_TYPE, LPCSTR name, LPCVOID, LPCVOID* data, UINT* bytes) override {
            auto file = files.find(name);
            if (file == files.end()) return E_FAIL;
            *data = file->second.data();
            *bytes = static_cast<UINT>(file->second.size());
            return S_OK;
        }
        HRESULT WINAPI Close(LPCVOID) override { return S_OK; }
    } include;
    include.files = {{"colour.hlsli", "#include \"half.hlsli\"\nfloat4 Colour() { return float4(Half(), 0, 0, 1); }\n"},
                     {"half.hlsli", "float Half() { return 0.5; }"},
                     {"broken.hlsli", "float Half()\n{ return @; }\n"},
                     {"self.hlsli", "#include \"self.hlsli\"\n"}};
    const std::string main = "#line 1 \"main.hlsl\"\n";
    struct Case {
        std::string source;
        const char* says;  // nullptr: compiles
    };
    for (const Case& c :
         {Case{main + "#include \"colour.hlsli\"\nfloat4 main() : COLOR { return Colour(); }\n", nullptr},
          Case{main + "  # include <half.hlsli>\nfloat4 main() : COLOR { return Half(); }\n", nullptr},
          Case{main + "\n#include \"missing.hlsli\"\n", "main.hlsl(2): error X1507: failed to open source file: 'missing.hlsli'"},
          Case{main + "#include \"broken.hlsli\"\nfloat4 main() : COLOR { return Half(); }\n", "broken.hlsli:2"},
          Case{main + "#include \"half.hlsli\"\n\nfloat4 main() : COLOR { return x; }\n", "main.hlsl:3"},
          Case{main + "#include \"self.hlsli\"\n", "includes nest deeper than 16 levels at 'self.hlsli'"}}) {
        SCOPED_TRACE(c.source);
        CompiledShader compiled = Compile(device, c.source, "ps_3_0", &include);
        if (!c.says) {
            EXPECT_EQ(compiled.result, D3D_OK) << compiled.errors;
        } else {
            EXPECT_NE(compiled.result, D3D_OK);
            EXPECT_NE(compiled.errors.find(c.says), std::string::npos) << compiled.errors;
        }
        compiled.Release();
    }
    EXPECT_NE(Compile(device, include.files["colour.hlsli"], "ps_3_0").result, D3D_OK) << "no handler, no include";
}

TEST_F(ShaderTest, GarbageProgramsAreRefusedByTheDevice) {
    DWORD garbage[16] = {0xFFFF0300, 1, 2, 3};
    IDirect3DPixelShader9* pixel = nullptr;
    EXPECT_EQ(device->CreatePixelShader(garbage, &pixel), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreatePixelShader(nullptr, &pixel), D3DERR_INVALIDCALL);
    IDirect3DVertexShader9* vertex = nullptr;
    EXPECT_EQ(device->CreateVertexShader(garbage, &vertex), D3DERR_INVALIDCALL);
}

TEST_F(ShaderTest, ConstantTableDescribesRegistersAsD3DXDoes) {
    CompiledShader& s = Use(
        "float4x4 matrixWorldView;\n"
        "float4 paramsAUX;\n"
        "float lightInvRangeSq;\n"
        "float lightCosSpot;\n"
        "float4x3 bones[4];\n"
        "float4 pinned : register(c40);\n"
        "float4 main(float3 p : POSITION) : POSITION {\n"
        "  return mul(matrixWorldView, float4(p, 1)) + paramsAUX + lightInvRangeSq + lightCosSpot + pinned\n"
        "       + float4(mul(float4(p, 1), bones[2]), 0);\n"
        "}\n",
        "vs_3_0");
    ASSERT_NE(s.constants, nullptr);
    auto describe = [&](const char* name) {
        D3DXCONSTANT_DESC desc{};
        UINT count = 1;
        D3DXHANDLE handle = s.constants->GetConstantByName(nullptr, name);
        EXPECT_NE(handle, nullptr) << name;
        if (handle) s.constants->GetConstantDesc(handle, &desc, &count);
        return desc;
    };
    D3DXCONSTANT_DESC wv = describe("matrixWorldView");
    EXPECT_EQ(wv.RegisterIndex, 0u);
    EXPECT_EQ(wv.RegisterCount, 4u);
    EXPECT_EQ(wv.Class, D3DXPC_MATRIX_COLUMNS);
    EXPECT_EQ(describe("paramsAUX").RegisterIndex, 4u);
    // Scalars each take a register of their own.
    EXPECT_EQ(describe("lightInvRangeSq").RegisterIndex, 5u);
    EXPECT_EQ(describe("lightCosSpot").RegisterIndex, 6u);
    D3DXCONSTANT_DESC bones = describe("bones");
    EXPECT_EQ(bones.RegisterIndex, 7u);
    EXPECT_EQ(bones.RegisterCount, 12u);
    EXPECT_EQ(bones.Rows, 4u);
    EXPECT_EQ(bones.Columns, 3u);
    EXPECT_EQ(bones.Elements, 4u);
    EXPECT_EQ(describe("pinned").RegisterIndex, 40u);
    EXPECT_EQ(s.constants->GetConstantByName(nullptr, "undeclared"), nullptr);
    D3DXHANDLE element = s.constants->GetConstantByName(nullptr, "bones[2]");
    ASSERT_NE(element, nullptr);
    D3DXCONSTANT_DESC elementDesc{};
    UINT count = 1;
    s.constants->GetConstantDesc(element, &elementDesc, &count);
    EXPECT_EQ(elementDesc.RegisterIndex, 13u);
}

TEST_F(ShaderTest, MatrixSetTransposedMultipliesAsARowVector) {
    // mul(matrix, vector) with the matrix set by SetMatrixTranspose(M) gives p x M. The
    // fixture's declarations belong to the device being replaced.
    quadDecl->Release();
    screenDecl->Release();
    screenDecl = nullptr;
    CreateDevice(4, 4);
    ASSERT_EQ(device->CreateVertexDeclaration(kQuadElements, &quadDecl), D3D_OK);
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    IDirect3DTexture9* target = MakeRenderTargetTexture(4, 4, D3DFMT_A32B32G32R32F);
    IDirect3DSurface9* surface = nullptr;
    target->GetSurfaceLevel(0, &surface);
    device->SetRenderTarget(0, surface);
    Use(kLogoVertex, "vs_3_0");
    CompiledShader& ps = Use("float4x4 transform;\n"
                             "float4 main() : COLOR { return mul(transform, float4(1, 2, 3, 1)); }\n",
                             "ps_3_0");
    D3DXMATRIX m;
    float values[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    std::memcpy(&m, values, sizeof(values));
    ASSERT_EQ(ps.constants->SetMatrixTranspose(device, ps.constants->GetConstantByName(nullptr, "transform"), &m),
              D3D_OK);
    DrawFullClipQuad();
    UINT pitch = 0;
    std::vector<uint8_t> bytes = ReadSurface(surface, &pitch);
    float pixel[4];
    std::memcpy(pixel, bytes.data(), sizeof(pixel));
    // (1, 2, 3, 1) x M, row by row: 1*(1,2,3,4) + 2*(5,6,7,8) + 3*(9,10,11,12) + (13,14,15,16).
    EXPECT_FLOAT_EQ(pixel[0], 51.0f);
    EXPECT_FLOAT_EQ(pixel[1], 58.0f);
    EXPECT_FLOAT_EQ(pixel[2], 65.0f);
    EXPECT_FLOAT_EQ(pixel[3], 72.0f);
    IDirect3DSurface9* back = nullptr;
    device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
    device->SetRenderTarget(0, back);
    back->Release();
    surface->Release();
    target->Release();
}

TEST_F(ShaderTest, ConstantsPersistAcrossAShaderSwitch) {
    Use(kLogoVertex, "vs_3_0");
    CompiledShader& first = Use("float4 tint;\nfloat4 main() : COLOR { return tint * 0.5; }\n", "ps_3_0");
    D3DXVECTOR4 tint(1.0f, 0.0f, 0.5f, 1.0f);
    first.constants->SetVector(device, first.constants->GetConstantByName(nullptr, "tint"), &tint);
    // A second program declares the same constant at the same register and never sets it.
    Use("float4 tint;\nfloat4 main() : COLOR { return tint; }\n", "ps_3_0");
    DrawFullClipQuad();
    std::vector<uint32_t> pixels = ReadBackBuffer();
    EXPECT_EQ(pixels[0], 0xFFFF0080u);
}

TEST_F(ShaderTest, TexelsOfEachFormatSampleAsDirect3D9Defines) {
    // One 2 x 2 texture per format, all texels alike, drawn over the target.
    struct Case {
        D3DFORMAT format;
        std::vector<uint8_t> texel;  // bytes of one texel as LockRect lays it out
        uint32_t expected;           // the pixel drawn, 0xAARRGGBB
    };
    const Case cases[] = {
        {D3DFMT_A8R8G8B8, {0x10, 0x20, 0x30, 0x40}, 0x40302010},
        {D3DFMT_X8R8G8B8, {0x10, 0x20, 0x30, 0x00}, 0xFF302010},
        {D3DFMT_R5G6B5, {0x1F, 0xF8}, 0xFFFF00FF},           // red 31, green 0, blue 31
        {D3DFMT_A1R5G5B5, {0xE0, 0x03}, 0x0000FF00},         // green 31, alpha 0
        {D3DFMT_A4R4G4B4, {0x0F, 0xF0}, 0xFF0000FF},         // alpha 15, blue 15
        {D3DFMT_L8, {0x80}, 0xFF808080},
        {D3DFMT_A8, {0x80}, 0x80000000},
        {D3DFMT_A8L8, {0x40, 0xC0}, 0xC0404040},
    };
    Use(kLogoVertex, "vs_3_0");
    Use(kLogoPixel, "ps_3_0");
    PointSampling();
    for (const Case& c : cases) {
        std::vector<uint8_t> texels;
        for (int i = 0; i < 4; ++i) texels.insert(texels.end(), c.texel.begin(), c.texel.end());
        IDirect3DTexture9* texture = MakeTexture(2, 2, c.format, texels.data(), static_cast<UINT>(c.texel.size()));
        device->SetTexture(0, texture);
        DrawFullClipQuad();
        EXPECT_EQ(ReadBackBuffer()[width * 8 + 8], c.expected) << "format " << c.format;
        device->SetTexture(0, nullptr);
        texture->Release();
    }
}
