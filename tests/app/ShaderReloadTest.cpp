// Editing a pass shader while the program runs: a good edit is compiled under the same
// index and changes the picture, a broken one keeps the old picture and logs the file and
// line, and a file caught half-written loses to the next good save.
#include "app/ShaderReload.h"

#include "resources/ShaderInclude.h"
#include "scene/WorldTestSupport.h"

#include <filesystem>

using lumaret::test::ReadFileBytes;
using lumaret::test::WorldTest;
using lumaret::test::WriteFileBytes;

namespace {

constexpr const char* kForward = "./data/PassForward.hlsl";

// The text with a syntax error at the start of line `line`.
std::string BrokenAtLine(std::string text, int line) {
    size_t at = 0;
    for (int l = 1; l < line; ++l) at = text.find('\n', at) + 1;
    text.insert(at, "@@@ ");
    return text;
}

class ShaderReloadTest : public WorldTest {
protected:
    void SetUp() override {
        StartOnRealDevice(640, 480, PassShaders());
        // Edits go to a copy of the data, never to the repository's files.
        std::filesystem::remove("data");
        std::filesystem::copy(lumaret::test::SourceDir() + "/data", "data", std::filesystem::copy_options::recursive);
        AddObject(AddQuad(300.0f), gWorld->CreateZone("zone"));
        gWorld->lights = {&light};
        original = ReadFileBytes(kForward);
    }
    uint32_t CentrePixel() {
        gWorld->Render(&camera);
        return ReadBackBuffer()[240 * 640 + 320] & 0xffffff;
    }
    // Two looks at the files, far enough apart for the watcher to look at both.
    void LookTwice(ShaderReload& reload) {
        reload.Poll(clock += 1.0f);
        reload.Poll(clock += 1.0f);
    }
    Light light;
    std::string original;
    float clock = 0.0f;
};

}  // namespace

TEST_F(ShaderReloadTest, AGoodEditIsUsedABrokenOneKeepsTheOldProgram) {
    ShaderReload reload(*gRenderer, true);
    int index = gRenderer->FindShader(kForward);
    uint32_t before = CentrePixel();

    std::string red = original;
    size_t at = red.find("return float4(diffuse + specular, 1.0);");
    ASSERT_NE(at, std::string::npos);
    red.replace(at, 39, "return float4(1.0, 0.0, 0.0, 1.0);");
    WriteFileBytes(kForward, red);
    LookTwice(reload);
    EXPECT_EQ(gRenderer->FindShader(kForward), index);
    EXPECT_NE(ReadFileBytes("log.txt").find("Shader reloaded: ./data/PassForward.hlsl\n"), std::string::npos);
    uint32_t edited = CentrePixel();
    EXPECT_NE(edited, before);
    EXPECT_EQ(edited & 0x00ffff, 0u) << "the scene is red before post-processing";

    // A syntax error on line 30 of the file: the red program stays, the log names the line.
    WriteFileBytes(kForward, BrokenAtLine(red, 30));
    LookTwice(reload);
    EXPECT_EQ(CentrePixel(), edited);
    EXPECT_NE(ReadFileBytes("log.txt").find("./data/PassForward.hlsl:30:"), std::string::npos) << ReadFileBytes("log.txt");
    EXPECT_NE(reload.Message(clock).find("PassForward.hlsl:30:"), std::string::npos);
    EXPECT_EQ(reload.Message(clock + 6.0f), "") << "the message goes after five seconds";

    // Saved in two steps, half a file first: the watcher waits for the file to settle, and
    // the complete save is the one compiled.
    WriteFileBytes(kForward, original.substr(0, original.size() / 2));
    reload.Poll(clock += 1.0f);
    WriteFileBytes(kForward, original);
    LookTwice(reload);
    EXPECT_EQ(CentrePixel(), before);
    EXPECT_EQ(reload.Message(clock), "");
}

TEST_F(ShaderReloadTest, WithoutWatchingNothingIsReloaded) {
    ShaderReload reload(*gRenderer, false);
    uint32_t before = CentrePixel();
    WriteFileBytes(kForward, "#pixelshader\nfloat4 main() : COLOR { return float4(0, 1, 0, 1); }\n");
    LookTwice(reload);
    EXPECT_EQ(CentrePixel(), before);
    EXPECT_EQ(ReadFileBytes("log.txt").find("Shader reload"), std::string::npos);
}

// Two files broken and mended in turn: each failure stays on screen until its own file is
// mended, and a file emptied by a save says it holds no program.
TEST_F(ShaderReloadTest, EachFileKeepsItsOwnFailureOnScreen) {
    constexpr const char* kLight = "./data/PassLight.hlsl";
    std::string light = ReadFileBytes(kLight);
    ShaderReload reload(*gRenderer, true);
    WriteFileBytes(kLight, "");
    LookTwice(reload);
    EXPECT_NE(reload.Message(clock).find("PassLight.hlsl holds no shader program"), std::string::npos)
        << reload.Message(clock);
    WriteFileBytes(kForward, original + "\n");
    LookTwice(reload);
    EXPECT_NE(ReadFileBytes("log.txt").find("Shader reloaded: ./data/PassForward.hlsl\n"), std::string::npos);
    EXPECT_NE(reload.Message(clock).find("PassLight.hlsl"), std::string::npos) << "another file's success";
    WriteFileBytes(kLight, light);
    LookTwice(reload);
    EXPECT_EQ(reload.Message(clock), "");
}

// The skinning rule lives in a file the passes include: an edit there compiles each pass
// that includes it again, and a mistake there is named by that file and its line while the
// passes keep their programs.
TEST_F(ShaderReloadTest, AnEditToAnIncludedFileCompilesItsIncludersAgain) {
    constexpr const char* kSkinning = "./data/Skinning.hlsli";
    std::string skinning = ReadFileBytes(kSkinning);
    ShaderReload reload(*gRenderer, true);
    uint32_t before = CentrePixel();
    WriteFileBytes(kSkinning, skinning + "// edited\n");
    LookTwice(reload);
    std::string log = ReadFileBytes("log.txt");
    for (const char* pass : {"PassZN.hlsl", "PassForward.hlsl"})
        EXPECT_NE(log.find(std::string("Shader reloaded: ./data/") + pass + "\n"), std::string::npos) << pass;
    WriteFileBytes(kSkinning, BrokenAtLine(skinning, 12));
    LookTwice(reload);
    EXPECT_NE(reload.Message(clock).find("Skinning.hlsli:12:"), std::string::npos) << reload.Message(clock);
    EXPECT_EQ(CentrePixel(), before);
    // A shader file takes files of its own folder only, by plain name.
    ShaderFolderInclude include("./data/");
    for (const char* name : {"../log.txt", "/etc/passwd", ".hidden", "sub/Skinning.hlsli", "", "Skinning.hlsli"}) {
        LPCVOID text = nullptr;
        UINT bytes = 0;
        HRESULT opened = include.Open(D3DXINC_LOCAL, name, nullptr, &text, &bytes);
        EXPECT_EQ(SUCCEEDED(opened), std::string(name) == "Skinning.hlsli") << name;
        if (SUCCEEDED(opened)) include.Close(text);
    }
}
