// register(...) pins as D3DX reads them: from the preprocessed program, for the stage they
// name. Each case is checked twice: in the constant table, and by pixels, writing a value
// at the expected register with SetVertexShaderConstantF / SetPixelShaderConstantF.
#include "support/DeviceFixture.h"
#include "support/ShaderHelpers.h"

#include <d3dx9.h>
#include <gtest/gtest.h>

#include <cstring>
#include <deque>

using lumaret::test::CompiledShader;
using lumaret::test::DeviceTest;

namespace {

struct PinCase {
    const char* label;
    const char* profile;
    // Declarations before a main that returns `value` (for a vertex program: as its colour).
    const char* declarations;
    const char* value;
    const char* constant;  // the constant (or sampler) whose register is checked
    UINT expected;
    const char* macroName = nullptr;
    const char* macroValue = nullptr;
    UINT readOffset = 0;  // registers past the constant's first that the program reads
};

const PinCase kConstantCases[] = {
    {"a pin in a comment", "ps_3_0", "float4 a;\n// float4 b : register(c10);\nfloat4 b;\n", "b + a * 0", "b", 1},
    {"the branch compiled in", "ps_3_0", "#if 1\nfloat4 b : register(c5);\n#else\nfloat4 b : register(c9);\n#endif\n",
     "b", "b", 5},
    {"a pin on a function parameter", "ps_3_0",
     "float4 a;\nfloat4 b;\nfloat4 f(float4 b : register(c12)) { return b; }\n", "f(b) + a * 0", "b", 1},
    {"a pin for the pixel stage, in a pixel program", "ps_3_0", "float4 a;\nfloat4 b : register(ps, c6);\n",
     "b + a * 0", "b", 6},
    {"a pin for the pixel stage, in a vertex program", "vs_3_0", "float4 a;\nfloat4 b : register(ps, c6);\n",
     "b + a * 0", "b", 1},
    {"a pin for one profile", "ps_3_0", "float4 b : register(ps_3_0, c7) : register(vs, c2);\n", "b", "b", 7},
    {"a pin for another profile", "ps_3_0", "float4 a;\nfloat4 b : register(ps_2_0, c7);\n", "b + a * 0", "b", 1},
    {"a vertex pin", "vs_3_0", "float4 b : register(vs, c9);\n", "b", "b", 9},
    // Column-major: register 8 holds the first column, which the product with x picks.
    {"a pinned matrix", "ps_3_0", "float4x4 m : register(c8);\n", "mul(m, float4(1, 0, 0, 0))", "m", 8},
    {"a pinned array, partly used", "ps_3_0", "float4 list[8] : register(c10);\n", "list[2]", "list", 10, nullptr, nullptr, 2},
    {"a pin chosen by a macro", "ps_3_0", "float4 a;\nfloat4 b : register(SLOT);\n", "b + a * 0", "b", 7, "SLOT",
     "c7"},
};

const char* const kPassThroughPixel = "float4 main(float4 c : COLOR0) : COLOR { return c; }\n";
const D3DVERTEXELEMENT9 kPositionOnly[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};

class RegisterPinTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        ASSERT_EQ(device->CreateVertexDeclaration(kPositionOnly, &declaration), D3D_OK);
        device->SetRenderState(D3DRS_ZENABLE, FALSE);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    }
    void TearDown() override {
        for (CompiledShader& s : shaders) s.Release();
        if (declaration) declaration->Release();
        DeviceTest::TearDown();
    }

    CompiledShader& Compile(const std::string& source, const char* profile, const D3DXMACRO* macros = nullptr) {
        shaders.emplace_back();
        CompiledShader& s = shaders.back();
        ID3DXBuffer* code = nullptr;
        ID3DXBuffer* errors = nullptr;
        s.result = D3DXCompileShader(source.c_str(), static_cast<UINT>(source.size()), macros, nullptr, "main",
                                     profile, 0, &code, &errors, &s.constants);
        if (errors) s.errors = static_cast<const char*>(errors->GetBufferPointer()), errors->Release();
        if (code && profile[0] == 'v')
            device->CreateVertexShader(static_cast<const DWORD*>(code->GetBufferPointer()), &s.vertex);
        if (code && profile[0] == 'p')
            device->CreatePixelShader(static_cast<const DWORD*>(code->GetBufferPointer()), &s.pixel);
        if (code) code->Release();
        EXPECT_EQ(s.result, D3D_OK) << s.errors;
        return s;
    }

    // The back buffer's first pixel after a full-screen quad.
    uint32_t Draw() {
        const float quad[4][3] = {{-1, -1, 0}, {-1, 1, 0}, {1, -1, 0}, {1, 1, 0}};
        device->SetVertexDeclaration(declaration);
        EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(quad[0])), D3D_OK);
        return ReadBackBuffer()[0];
    }

    IDirect3DVertexDeclaration9* declaration = nullptr;
    std::deque<CompiledShader> shaders;  // references stay valid as it grows
};

}  // namespace

TEST_F(RegisterPinTest, ConstantsLandWhereTheCompiledProgramPinsThem) {
    for (const PinCase& c : kConstantCases) {
        SCOPED_TRACE(c.label);
        bool vertex = c.profile[0] == 'v';
        std::string source = std::string(c.declarations) +
                             (vertex ? "struct Out { float4 p : POSITION; float4 c : COLOR0; };\n"
                                       "Out main(float4 p : POSITION) { Out o; o.p = p; o.c = " +
                                           std::string(c.value) + "; return o; }\n"
                                     : "float4 main() : COLOR { return " + std::string(c.value) + "; }\n");
        D3DXMACRO macros[] = {{c.macroName, c.macroValue}, {nullptr, nullptr}};
        CompiledShader& program = Compile(source, c.profile, c.macroName ? macros : nullptr);
        ASSERT_NE(program.constants, nullptr);
        D3DXHANDLE handle = program.constants->GetConstantByName(nullptr, c.constant);
        ASSERT_NE(handle, nullptr);
        D3DXCONSTANT_DESC desc{};
        UINT count = 1;
        program.constants->GetConstantDesc(handle, &desc, &count);
        EXPECT_EQ(desc.RegisterIndex, c.expected);

        // Every register zero but the expected one: the value shows only if it is read there.
        const float zeros[64 * 4] = {};
        const float value[4] = {0.25f, 0.5f, 0.75f, 1.0f};
        device->SetVertexShaderConstantF(0, zeros, 64);
        device->SetPixelShaderConstantF(0, zeros, 64);
        if (vertex) {
            device->SetVertexShaderConstantF(c.expected + c.readOffset, value, 1);
            device->SetVertexShader(program.vertex);
            device->SetPixelShader(Compile(kPassThroughPixel, "ps_3_0").pixel);
        } else {
            device->SetPixelShaderConstantF(c.expected + c.readOffset, value, 1);
            device->SetVertexShader(Compile("float4 main(float4 p : POSITION) : POSITION { return p; }\n", "vs_3_0")
                                        .vertex);
            device->SetPixelShader(program.pixel);
        }
        uint32_t pixel = Draw();
        EXPECT_NEAR(static_cast<int>((pixel >> 16) & 0xFF), 64, 1) << std::hex << pixel;
        EXPECT_NEAR(static_cast<int>((pixel >> 8) & 0xFF), 128, 1) << std::hex << pixel;
        EXPECT_NEAR(static_cast<int>(pixel & 0xFF), 191, 1) << std::hex << pixel;
    }
}

TEST_F(RegisterPinTest, SamplersLandWhereTheCompiledProgramPinsThem) {
    // One colour per stage: the colour drawn tells which stage the sampler reads.
    const uint32_t colours[4] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFF00u};
    std::vector<IDirect3DTexture9*> textures;
    for (DWORD stage = 0; stage < 4; ++stage) {
        textures.push_back(MakeTexture(1, 1, D3DFMT_A8R8G8B8, &colours[stage], 4));
        device->SetTexture(stage, textures.back());
    }
    struct SamplerCase {
        const char* label;
        const char* declarations;
        UINT expected;
    } cases[] = {
        {"a pin in a comment", "sampler u;\n/* sampler t : register(s3); */\nsampler t;\n", 1},
        {"a pin", "sampler u;\nsampler t : register(s2);\n", 2},
        {"a pin for the vertex stage only", "sampler u : register(s0);\nsampler t : register(vs, s3);\n", 1},
    };
    device->SetVertexShader(Compile("float4 main(float4 p : POSITION) : POSITION { return p; }\n", "vs_3_0").vertex);
    for (const SamplerCase& c : cases) {
        SCOPED_TRACE(c.label);
        CompiledShader& program = Compile(std::string(c.declarations) +
                                              "float4 main() : COLOR { return tex2D(t, float2(0.5, 0.5)) + "
                                              "tex2D(u, float2(0.5, 0.5)) * 0; }\n",
                                          "ps_3_0");
        ASSERT_NE(program.constants, nullptr);
        EXPECT_EQ(program.constants->GetSamplerIndex(program.constants->GetConstantByName(nullptr, "t")), c.expected);
        device->SetPixelShader(program.pixel);
        EXPECT_EQ(Draw(), colours[c.expected]);
    }
    for (IDirect3DTexture9* texture : textures) texture->Release();
}
