// A model's own lights, from the file to the picture: the ranges a glTF states where
// Assimp drops them, attenuation turned into a range, srxconvert and srxdump carrying the
// lights through SRX, and the viewer lighting the model by them, the same whether it opens
// the glTF or srxconvert's SRX file, and standing up to lights with bad values or too many.
#include "GltfLights.h"
#include "LightConversion.h"
#include "ToolRun.h"
#include "support/GoldenImage.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using lumaret::test::ReadFileBytes;
using lumaret::test::RunTool;
using lumaret::test::WriteFileBytes;

namespace {

namespace fs = std::filesystem;

// A 2 x 2 square in the plane y = 0, facing up, as glTF with its buffer beside it, under
// the lights given as KHR_lights_punctual entries, each on a node of its own at the place
// given (lights shine down their node's -z; a node turned by `rotation` points them down).
struct LightNode {
    std::string light;  // the light's JSON object
    float x, y, z;
    bool down = false;
};

void WriteSquare(const std::string& name, const std::vector<LightNode>& lights) {
    const float positions[] = {-1, 0, -1, 1, 0, -1, 1, 0, 1, -1, 0, 1};
    const float normals[] = {0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0};
    const uint16_t indices[] = {0, 2, 1, 0, 3, 2};
    std::string bin(reinterpret_cast<const char*>(positions), sizeof(positions));
    bin.append(reinterpret_cast<const char*>(normals), sizeof(normals));
    bin.append(reinterpret_cast<const char*>(indices), sizeof(indices));
    WriteFileBytes(name + ".bin", bin);
    std::string nodes = R"({"mesh":0})", children = "0", definitions;
    for (size_t i = 0; i < lights.size(); ++i) {
        const LightNode& l = lights[i];
        char node[256];
        std::snprintf(node, sizeof(node),
                      R"(,{"translation":[%g,%g,%g],%s"extensions":{"KHR_lights_punctual":{"light":%zu}}})", l.x, l.y,
                      l.z, l.down ? R"("rotation":[-0.7071068,0,0,0.7071068],)" : "", i);
        nodes += node;
        children += "," + std::to_string(i + 1);
        definitions += (i ? "," : "") + l.light;
    }
    std::string json = R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[)" + children + R"(]}],)" +
                       R"("nodes":[)" + nodes + R"(],)" +
                       R"("meshes":[{"primitives":[{"attributes":{"POSITION":0,"NORMAL":1},"indices":2}]}],)" +
                       R"("buffers":[{"uri":")" + name + R"(.bin","byteLength":108}],)" +
                       R"("bufferViews":[{"buffer":0,"byteOffset":0,"byteLength":48},)" +
                       R"({"buffer":0,"byteOffset":48,"byteLength":48},{"buffer":0,"byteOffset":96,"byteLength":12}],)" +
                       R"("accessors":[{"bufferView":0,"componentType":5126,"count":4,"type":"VEC3",)" +
                       R"("min":[-1,0,-1],"max":[1,0,1]},{"bufferView":1,"componentType":5126,"count":4,"type":"VEC3"},)" +
                       R"({"bufferView":2,"componentType":5123,"count":6,"type":"SCALAR"}])";
    if (!lights.empty())
        json += R"(,"extensionsUsed":["KHR_lights_punctual"],"extensions":{"KHR_lights_punctual":{"lights":[)" +
                definitions + "]}}";
    WriteFileBytes(name + ".gltf", json + "}");
}

struct Picture {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    // Pixels whose red stands well above their green and blue.
    size_t RedPixels() const {
        size_t count = 0;
        for (uint32_t p : pixels) {
            int r = (p >> 16) & 0xff, g = (p >> 8) & 0xff, b = p & 0xff;
            count += r > g + 24 && r > b + 24;
        }
        return count;
    }
    // Pixels unlike the background in the top-left corner.
    size_t ModelPixels() const {
        size_t count = 0;
        for (uint32_t p : pixels) count += (p & 0xffffff) != (pixels[0] & 0xffffff);
        return count;
    }
};

class ModelLights : public testing::Test {
protected:
    void SetUp() override { lumaret::test::HeadlessViewerSettings(); }

    // The viewer's picture of a file after a few frames, the camera still.
    Picture View(const std::string& file, const std::string& options = "") {
        std::string png = fs::path(file).stem().string() + "_" + std::to_string(views_++) + ".png";
        lumaret::test::ToolRun run =
            RunTool("tools/viewer/viewer", options + " --still --frames 3 --screenshot " + png + " " + file);
        EXPECT_EQ(run.status, 0) << run.output;
        Picture picture;
        EXPECT_TRUE(lumaret::test::ReadPng(png, &picture.width, &picture.height, &picture.pixels)) << png;
        return picture;
    }

    lumaret::test::ScopedTempDir dir_;
    int views_ = 0;
};

}  // namespace

TEST(GltfLightRanges, TakesEachLightsRangeByItsIndexAndNothingElse) {
    struct Case {
        const char* json;
        std::vector<float> ranges;  // NaN: the light states none
    };
    const float none = std::nanf("");
    const Case cases[] = {
        {R"({"extensions":{"KHR_lights_punctual":{"lights":[{"range":5.5},{"type":"spot"},{"range":2}]}}})",
         {5.5f, none, 2.0f}},
        // Keys are compared decoded; a range inside a light's extras or elsewhere is not its own.
        {R"({"extensions":{"KHR_lights_punctual":{"lights":[{"r\u0061nge":3,"extras":{"range":9}}]}},)"
         R"("nodes":[{"range":7,"extensions":{"KHR_lights_punctual":{"light":0}}}]})",
         {3.0f}},
        {R"({"nodes":[],"KHR_lights_punctual":{"lights":[{"range":1}]}})", {}},
        {R"({"extensions":{"KHR_lights_punctual":{"lights":[{"range":1},)", {}},  // cut short
        {R"({"asset":{}})", {}},
        {"", {}},
    };
    for (const Case& c : cases) {
        std::vector<float> ranges = srxconvert::GltfLightRanges(c.json, std::strlen(c.json));
        ASSERT_EQ(ranges.size(), c.ranges.size()) << c.json;
        for (size_t i = 0; i < ranges.size(); ++i) {
            if (std::isnan(c.ranges[i]))
                EXPECT_TRUE(std::isnan(ranges[i])) << c.json;
            else
                EXPECT_EQ(ranges[i], c.ranges[i]) << c.json;
        }
    }
}

TEST(LightConversion, AttenuationEndsWhereLessThanOne255thIsLeft) {
    struct Case {
        float constant, linear, quadratic, intensity, range;
    };
    const Case cases[] = {
        {0, 0, 1, 1, std::sqrt(255.0f)},  // what Assimp reports for every glTF light
        {1, 0, 0, 1, 0},                  // no falloff: no range
        {0, 1, 0, 2, 510},
        {1, 2, 1, 1, 14.9687f},           // 1 + 2d + d^2 = 255
        {300, 0, 1, 1, -1},               // fainter than 1/255 everywhere
    };
    for (const Case& c : cases)
        EXPECT_NEAR(srxconvert::AttenuationRange(c.constant, c.linear, c.quadratic, c.intensity), c.range, 1e-3f)
            << c.constant << " " << c.linear << " " << c.quadratic;
}

TEST_F(ModelLights, TheFilesLightsLightTheModelAlikeFromTheSourceAndFromSrx) {
    WriteSquare("plain", {});
    WriteSquare("red", {{R"({"type":"point","color":[1,0,0],"intensity":1,"range":1.25})", 0, 0.5f, 0}});
    lumaret::test::ToolRun convert = RunTool("tools/srxconvert/srxconvert", "red.gltf red.srx");
    ASSERT_EQ(convert.status, 0) << convert.output;
    // The range is the file's, not the one Assimp's attenuation would give (sqrt(255)).
    lumaret::test::ToolRun dump = RunTool("tools/srxdump/srxdump", "--summary red.srx");
    EXPECT_NE(dump.output.find("lights: 1\n"), std::string::npos) << dump.output;
    EXPECT_NE(dump.output.find("light 0: point, node 2, at (0, 0.5, -0), colour (1, 0, 0), range 1.25\n"),
              std::string::npos)
        << dump.output;

    // The viewer's white lights leave the grey square grey; the file's red light reddens its
    // middle.
    EXPECT_EQ(View("plain.gltf").RedPixels(), 0u);
    Picture source = View("red.gltf");
    EXPECT_GT(source.RedPixels(), 2000u);
    Picture converted = View("red.srx");
    EXPECT_TRUE(converted.pixels == source.pixels) << "the SRX file's lights differ from the source's";
    EXPECT_NE(ReadFileBytes("log.txt").find("Model: lights 1: 1 point\n"), std::string::npos);
}

TEST_F(ModelLights, BadValuesAndTooManyLightsAreTamed) {
    // Ranges and intensities out of bounds, cones wider than a half turn or empty, and a
    // directional light among them: the model shows lit, and quickly.
    WriteSquare("odd", {{R"({"type":"point","color":[0,1,0],"range":-1})", 0, 0.5f, 0},
                        {R"({"type":"point","color":[1,1,1],"intensity":0,"range":1})", 0.5f, 0.5f, 0},
                        {R"({"type":"point","color":[1,0,1],"intensity":1e30,"range":1e38})", 0, 3, 0},
                        {R"({"type":"spot","spot":{"innerConeAngle":2,"outerConeAngle":0}})", 0, 1, 0, true},
                        {R"({"type":"directional","intensity":1e-30})", 0, 1, 0, true}});
    Picture odd = View("odd.gltf");
    EXPECT_GT(odd.ModelPixels(), 20000u) << "the square shows";

    // Past the limit the rest are left out, in one line.
    std::vector<LightNode> many;
    for (int i = 0; i < 4200; ++i)
        many.push_back({R"({"type":"point","color":[0.001,0.001,0.001],"range":0.1})", -1.0f + (i % 60) / 30.0f, 0.05f,
                        -1.0f + (i / 60) / 35.0f});
    WriteSquare("many", many);
    View("many.gltf");
    std::string log = ReadFileBytes("log.txt");
    EXPECT_NE(log.find("104 lights beyond the first 4096 are not drawn"), std::string::npos) << log.substr(0, 2000);

    // Each light that reaches the whole model costs a screen of shading a frame: the
    // brightest few are drawn.
    std::vector<LightNode> wide;
    for (int i = 0; i < 40; ++i)
        wide.push_back({R"({"type":"directional","color":[0.02,0.02,0.02]})", 0, 1, 0, true});
    wide.push_back({R"({"type":"directional","color":[1,0,0],"intensity":2})", 0, 1, 0, true});
    WriteSquare("wide", wide);
    Picture picture = View("wide.gltf");
    EXPECT_GT(picture.RedPixels(), 2000u) << "the brightest is among those kept";
    EXPECT_NE(ReadFileBytes("log.txt").find("33 lights that light the whole model, beyond the 8 brightest, are not drawn"),
              std::string::npos);
}
