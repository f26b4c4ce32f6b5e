// What a model's materials ask for beyond a diffuse colour and maps, from the file to the
// picture: glTF files made here with known colours (one buffer and any image inside the file
// as base64), shown by the viewer headless with the camera still, and the same files carried
// through srxconvert's SRX. Each case fails when its feature is left out: a face seen from
// behind that is culled or lit as its back, an emissive square on a black base that stays
// black, corners that do not take their vertex colours, a cut-out that is drawn, or drawn
// into the depth-and-normal pass.
#include "ToolRun.h"
#include "support/GoldenImage.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <stb/stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

using lumaret::test::ReadFileBytes;
using lumaret::test::RunTool;
using lumaret::test::WriteFileBytes;

namespace {

namespace fs = std::filesystem;

std::string Base64(const std::string& bytes) {
    static const char* const kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t n = static_cast<uint8_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) n |= static_cast<uint8_t>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) n |= static_cast<uint8_t>(bytes[i + 2]);
        out += kDigits[(n >> 18) & 63];
        out += kDigits[(n >> 12) & 63];
        out += i + 1 < bytes.size() ? kDigits[(n >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kDigits[n & 63] : '=';
    }
    return out;
}

// A 2 x 2 square in the source's xy plane, which the viewer's camera faces from +z. Facing
// away: its front (winding and normal) looks down -z, so the camera sees its back.
struct Square {
    bool facingAway = false;
    int material = 0;
    std::vector<float> colors;              // r, g, b, a for each corner (-1,-1), (1,-1), (1,1), (-1,1)
    float x = 0.0f, z = 0.0f, half = 1.0f;  // its middle's x and z, and half its side
    bool secondSet = false;                 // TEXCOORD_1: the first set mirrored left to right
};

// One mesh of the squares, one node, the materials' JSON as given, and images as PNG data.
std::string Gltf(const std::vector<Square>& squares, const std::string& materials,
                 const std::vector<std::string>& pngs = {}) {
    std::string bin, views, accessors, primitives;
    int count = 0;
    auto add = [&](const void* data, size_t bytes, const std::string& accessor) {
        views += std::string(count ? "," : "") + R"({"buffer":0,"byteOffset":)" + std::to_string(bin.size()) +
                 R"(,"byteLength":)" + std::to_string(bytes) + "}";
        accessors += std::string(count ? "," : "") + R"({"bufferView":)" + std::to_string(count) + "," + accessor + "}";
        bin.append(static_cast<const char*>(data), bytes);
        return count++;
    };
    for (const Square& s : squares) {
        const float l = s.x - s.half, r = s.x + s.half, h = s.half;
        const float positions[] = {l, -h, s.z, r, -h, s.z, r, h, s.z, l, h, s.z};
        float z = s.facingAway ? -1.0f : 1.0f;
        const float normals[] = {0, 0, z, 0, 0, z, 0, 0, z, 0, 0, z};
        const float uvs[] = {0, 1, 1, 1, 1, 0, 0, 0};
        const uint16_t front[] = {0, 1, 2, 0, 2, 3}, away[] = {0, 2, 1, 0, 3, 2};
        char bounds[160];
        std::snprintf(bounds, sizeof(bounds),
                      R"("componentType":5126,"count":4,"type":"VEC3","min":[%g,%g,%g],"max":[%g,%g,%g])", l, -h, s.z,
                      r, h, s.z);
        int p = add(positions, sizeof(positions), bounds);
        int n = add(normals, sizeof(normals), R"("componentType":5126,"count":4,"type":"VEC3")");
        int t = add(uvs, sizeof(uvs), R"("componentType":5126,"count":4,"type":"VEC2")");
        int i = add(s.facingAway ? away : front, sizeof(front), R"("componentType":5123,"count":6,"type":"SCALAR")");
        std::string attributes = R"("POSITION":)" + std::to_string(p) + R"(,"NORMAL":)" + std::to_string(n) +
                                 R"(,"TEXCOORD_0":)" + std::to_string(t);
        const float mirrored[] = {1, 1, 0, 1, 0, 0, 1, 0};
        if (s.secondSet)
            attributes += R"(,"TEXCOORD_1":)" + std::to_string(add(mirrored, sizeof(mirrored),
                                                                   R"("componentType":5126,"count":4,"type":"VEC2")"));
        if (!s.colors.empty())
            attributes += R"(,"COLOR_0":)" + std::to_string(add(s.colors.data(), s.colors.size() * sizeof(float),
                                                                R"("componentType":5126,"count":4,"type":"VEC4")"));
        primitives += std::string(primitives.empty() ? "" : ",") + R"({"attributes":{)" + attributes +
                      R"(},"indices":)" + std::to_string(i) + R"(,"material":)" + std::to_string(s.material) + "}";
    }
    std::string json =
        std::string(R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],)") +
        R"("meshes":[{"primitives":[)" + primitives + "]}],\"materials\":[" + materials + "]," +
        R"("buffers":[{"byteLength":)" + std::to_string(bin.size()) +
        R"(,"uri":"data:application/octet-stream;base64,)" + Base64(bin) + R"("}],)" + R"("bufferViews":[)" + views +
        R"(],"accessors":[)" + accessors + "]";
    if (materials.find("KHR_texture_transform") != std::string::npos)
        json += R"(,"extensionsUsed":["KHR_texture_transform"])";
    if (!pngs.empty()) {
        std::string images, textures;
        for (size_t k = 0; k < pngs.size(); ++k) {
            images += std::string(k ? "," : "") + R"({"uri":"data:image/png;base64,)" + Base64(pngs[k]) + R"("})";
            textures += std::string(k ? "," : "") + R"({"source":)" + std::to_string(k) + "}";
        }
        json += R"(,"images":[)" + images + R"(],"textures":[)" + textures + "]";
    }
    return json + "}";
}

// A glTF whose one node holds mesh 0 and whose buffer holds the pieces in order, a buffer
// view each; body gives the meshes, materials, accessors and the rest.
std::string GltfOfPieces(const std::vector<std::pair<const void*, size_t>>& pieces, const std::string& body) {
    std::string bin, views;
    for (auto [data, bytes] : pieces) {
        views += std::string(views.empty() ? "" : ",") + R"({"buffer":0,"byteOffset":)" + std::to_string(bin.size()) +
                 R"(,"byteLength":)" + std::to_string(bytes) + "}";
        bin.append(static_cast<const char*>(data), bytes);
    }
    return std::string(R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],)") +
           body + R"(,"buffers":[{"byteLength":)" + std::to_string(bin.size()) +
           R"(,"uri":"data:application/octet-stream;base64,)" + Base64(bin) + R"("}],"bufferViews":[)" + views + "]}";
}

// An 8 x 8 white image whose left half is transparent.
std::string HalfTransparentPng() {
    std::vector<uint32_t> pixels(64);
    for (int i = 0; i < 64; ++i) pixels[static_cast<size_t>(i)] = (i % 8 < 4 ? 0x00ffffffu : 0xffffffffu);
    EXPECT_TRUE(lumaret::test::WritePng("half.png", 8, 8, pixels.data()));
    return ReadFileBytes("half.png");
}

// An 8 x 8 metal/roughness map: a smooth metal (blue 1, green 0.2) on its left half and a
// rough dielectric (blue 0, green 1) on its right.
std::string MetalLeftPng() {
    std::vector<uint32_t> pixels(64);
    for (int i = 0; i < 64; ++i) pixels[static_cast<size_t>(i)] = (i % 8 < 4 ? 0xff0033ffu : 0xff00ff00u);
    EXPECT_TRUE(lumaret::test::WritePng("metalleft.png", 8, 8, pixels.data()));
    return ReadFileBytes("metalleft.png");
}

// An 8 x 8 one-channel image, grey level `left` on its left half and `right` on its right.
std::string GreyHalvesPng(const std::string& name, uint8_t left, uint8_t right) {
    std::vector<uint8_t> pixels(64);
    for (size_t i = 0; i < 64; ++i) pixels[i] = i % 8 < 4 ? left : right;
    EXPECT_NE(stbi_write_png(name.c_str(), 8, 8, 1, pixels.data(), 8), 0);
    return name;
}

// The square of Gltf({{}}) as OBJ, whose one material is given as MTL lines.
std::string ObjSquare(const std::string& name, const std::string& material) {
    WriteFileBytes(name + ".mtl", material);
    WriteFileBytes(name + ".obj", "mtllib " + name +
                                      ".mtl\nv -1 -1 0\nv 1 -1 0\nv 1 1 0\nv -1 1 0\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
                                      "vn 0 0 1\nusemtl red\nf 1/1/1 2/2/1 3/3/1\nf 1/1/1 3/3/1 4/4/1\n");
    return name + ".obj";
}

// An 8 x 8 image, red on its left half and blue on its right.
std::string RedBluePng() {
    std::vector<uint32_t> pixels(64);
    for (int i = 0; i < 64; ++i) pixels[static_cast<size_t>(i)] = (i % 8 < 4 ? 0xffff0000u : 0xff0000ffu);
    EXPECT_TRUE(lumaret::test::WritePng("redblue.png", 8, 8, pixels.data()));
    return ReadFileBytes("redblue.png");
}

struct Picture {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    int Channel(uint32_t p, int c) const { return static_cast<int>((p >> (16 - 8 * c)) & 0xff); }
    bool IsModel(uint32_t p) const { return (p & 0xffffff) != (pixels.back() & 0xffffff); }
    size_t ModelPixels() const {
        size_t count = 0;
        for (uint32_t p : pixels) count += IsModel(p);
        return count;
    }
    // Pixels whose channel c stands well above the other two.
    size_t Dominated(int c) const {
        size_t count = 0;
        for (uint32_t p : pixels)
            count += Channel(p, c) > Channel(p, (c + 1) % 3) + 40 && Channel(p, c) > Channel(p, (c + 2) % 3) + 40;
        return count;
    }
    // Pixels of which a channel differs from the other picture's by more than tolerance.
    size_t Differing(const Picture& other, int tolerance) const {
        size_t count = 0;
        for (size_t i = 0; i < pixels.size() && i < other.pixels.size(); ++i)
            for (int c = 0; c < 3; ++c)
                if (std::abs(Channel(pixels[i], c) - other.Channel(other.pixels[i], c)) > tolerance) {
                    ++count;
                    break;
                }
        return count;
    }
    // The model's bounding box on screen: left, top, right, bottom.
    std::vector<int> Box() const {
        std::vector<int> box{width, height, -1, -1};
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (IsModel(pixels[static_cast<size_t>(y * width + x)])) {
                    box[0] = std::min(box[0], x), box[1] = std::min(box[1], y);
                    box[2] = std::max(box[2], x), box[3] = std::max(box[3], y);
                }
        return box;
    }
    // The pixel at fractions fx, fy of the model's box.
    uint32_t At(float fx, float fy) const {
        std::vector<int> b = Box();
        int x = b[0] + static_cast<int>(fx * static_cast<float>(b[2] - b[0]));
        int y = b[1] + static_cast<int>(fy * static_cast<float>(b[3] - b[1]));
        return pixels[static_cast<size_t>(y * width + x)];
    }
};

class MaterialFeatures : public testing::Test {
protected:
    void SetUp() override {
        lumaret::test::HeadlessViewerSettings();
        unsetenv("LUMARET_DEBUG_VIEW");
    }
    void TearDown() override { unsetenv("LUMARET_DEBUG_VIEW"); }

    Picture View(const std::string& file) {
        std::string png = fs::path(file).stem().string() + "_" + std::to_string(views_++) + ".png";
        lumaret::test::ToolRun run =
            RunTool("tools/viewer/viewer", "--still --frames 3 --screenshot " + png + " " + file);
        EXPECT_EQ(run.status, 0) << run.output;
        Picture picture;
        EXPECT_TRUE(lumaret::test::ReadPng(png, &picture.width, &picture.height, &picture.pixels)) << png;
        return picture;
    }

    // The model file, and the same after srxconvert: both pictures, which must agree.
    Picture ViewBoth(const std::string& file) {
        std::string name = fs::path(file).stem().string();
        Picture source = View(file);
        sourceLog_ = ReadFileBytes("log.txt");
        lumaret::test::ToolRun convert = RunTool("tools/srxconvert/srxconvert", file + " " + name + ".srx");
        EXPECT_EQ(convert.status, 0) << convert.output;
        Picture converted = View(name + ".srx");
        EXPECT_TRUE(converted.pixels == source.pixels) << name << ": the SRX file draws otherwise than its source";
        return source;
    }
    Picture ViewBoth(const std::string& name, const std::string& gltf) {
        WriteFileBytes(name + ".gltf", gltf);
        return ViewBoth(name + ".gltf");
    }

    // Frames 1 and 60 of the still view as the clock plays.
    std::vector<Picture> FirstAndSixtieth(const std::string& file) {
        setenv("LUMARET_SCREENSHOT_FRAMES", "1,60", 1);
        lumaret::test::ToolRun run = RunTool("tools/viewer/viewer", "--still --frames 60 --screenshot frame.png " + file);
        unsetenv("LUMARET_SCREENSHOT_FRAMES");
        EXPECT_EQ(run.status, 0) << run.output;
        std::vector<Picture> frames(2);
        for (int i = 0; i < 2; ++i)
            EXPECT_TRUE(lumaret::test::ReadPng(i ? "frame_60.png" : "frame_1.png", &frames[i].width, &frames[i].height,
                                               &frames[i].pixels));
        return frames;
    }

    lumaret::test::ScopedTempDir dir_;
    int views_ = 0;
    std::string sourceLog_;  // the viewer's log of ViewBoth's source file
};

const char* const kGrey = R"({"pbrMetallicRoughness":{"baseColorFactor":[0.8,0.8,0.8,1]}})";

}  // namespace

TEST_F(MaterialFeatures, ADoubleSidedFaceSeenFromBehindIsDrawnAndLitAsItsFront) {
    Picture front = ViewBoth("front", Gltf({{false, 0, {}}}, kGrey));
    Picture behind = ViewBoth(
        "behind",
        Gltf({{true, 0, {}}}, R"({"doubleSided":true,"pbrMetallicRoughness":{"baseColorFactor":[0.8,0.8,0.8,1]}})"));
    Picture culled = View((WriteFileBytes("culled.gltf", Gltf({{true, 0, {}}}, kGrey)), "culled.gltf"));
    EXPECT_GT(front.ModelPixels(), 40000u);
    EXPECT_EQ(culled.ModelPixels(), 0u) << "a one-sided face seen from behind is culled";
    ASSERT_EQ(behind.pixels.size(), front.pixels.size());
    EXPECT_LT(behind.Differing(front, 3), front.ModelPixels() / 100)
        << "seen from behind, the face is lit as its front";
    EXPECT_NE(sourceLog_.find("Model: drawn: two-sided faces: 'material0'\n"), std::string::npos);
}

TEST_F(MaterialFeatures, EmissionShowsOnABlackBaseAndVertexColoursTintTheCorners) {
    const char* black = R"({"pbrMetallicRoughness":{"baseColorFactor":[0,0,0,1]})";
    Picture dark = View((WriteFileBytes("dark.gltf", Gltf({{}}, std::string(black) + "}")), "dark.gltf"));
    EXPECT_EQ(dark.Dominated(1), 0u);
    Picture glowing = ViewBoth("glowing", Gltf({{}}, std::string(black) + R"(,"emissiveFactor":[0,1,0]})"));
    EXPECT_GT(glowing.Dominated(1), 40000u) << "the emissive square shows green";

    const std::vector<float> corners = {1, 0, 0, 1, 0, 1, 0, 1, 0, 0, 1, 1, 1, 1, 1, 1};
    Picture tinted = ViewBoth("tinted", Gltf({{false, 0, corners}}, R"({"pbrMetallicRoughness":{}})"));
    // Bottom-left red, bottom-right green, top-right blue, top-left white (the camera looks
    // down on the square, whose bottom edge is the narrower).
    EXPECT_GT(tinted.Channel(tinted.At(0.2f, 0.95f), 0), tinted.Channel(tinted.At(0.2f, 0.95f), 1) + 60);
    EXPECT_GT(tinted.Channel(tinted.At(0.8f, 0.95f), 1), tinted.Channel(tinted.At(0.8f, 0.95f), 0) + 60);
    EXPECT_GT(tinted.Channel(tinted.At(0.9f, 0.05f), 2), tinted.Channel(tinted.At(0.9f, 0.05f), 0) + 60);
    uint32_t white = tinted.At(0.1f, 0.05f);
    EXPECT_LT(std::abs(tinted.Channel(white, 0) - tinted.Channel(white, 2)), 40);
    lumaret::test::ToolRun dump = RunTool("tools/srxdump/srxdump", "tinted.srx");
    EXPECT_NE(dump.output.find("features: vertex colours"), std::string::npos) << dump.output;
    EXPECT_NE(dump.output.find("Reading vertex colours of primitive 0"), std::string::npos) << dump.output;
}

TEST_F(MaterialFeatures, ACutOutIsAbsentFromTheFrameAndFromTheDepthAndNormalPass) {
    std::string texture = R"("pbrMetallicRoughness":{"baseColorTexture":{"index":0}})";
    std::string png = HalfTransparentPng();
    WriteFileBytes("whole.gltf", Gltf({{}}, "{" + texture + "}", {png}));
    Picture whole = View("whole.gltf");
    Picture cut = ViewBoth("cut", Gltf({{}}, R"({"alphaMode":"MASK","alphaCutoff":0.5,)" + texture + "}", {png}));
    double share = static_cast<double>(cut.ModelPixels()) / static_cast<double>(whole.ModelPixels());
    EXPECT_NEAR(share, 0.5, 0.08) << "the transparent half is cut away";
    EXPECT_FALSE(cut.IsModel(cut.pixels[static_cast<size_t>(cut.height / 2 * cut.width + cut.width / 3)]));
    setenv("LUMARET_DEBUG_VIEW", "normals", 1);
    Picture normals = View("cut.gltf");
    share = static_cast<double>(normals.ModelPixels()) / static_cast<double>(whole.ModelPixels());
    EXPECT_NEAR(share, 0.5, 0.08) << "the depth-and-normal pass leaves the cut-away half empty";
    EXPECT_NE(sourceLog_.find("Model: drawn: alpha mask (cut-out): 'material0'\n"), std::string::npos);
}

TEST_F(MaterialFeatures, ValuesThatCannotBeDrawnTakeDefaultsWithOneLine) {
    // A cutoff past 1 would cut everything away; the default keeps the opaque half.
    std::string png = HalfTransparentPng();
    Picture cut = ViewBoth("badcutoff", Gltf({{}},
                                             R"({"alphaMode":"MASK","alphaCutoff":7,)"
                                             R"("pbrMetallicRoughness":{"baseColorTexture":{"index":0}}})",
                                             {png}));
    EXPECT_GT(cut.ModelPixels(), 20000u);
    EXPECT_NE(sourceLog_.find("'material0' has values that cannot be drawn: alpha cutoff 7 (0.5)"), std::string::npos)
        << sourceLog_;
    // Colours that are not numbers draw as a mesh without colours does.
    const float nan = std::nanf("");
    Square odd;
    odd.colors = {nan, 1, 1, 1, 1, nan, 1, 1, 1, 1, nan, 1, 1, 1, 1, nan};
    WriteFileBytes("nancolors.gltf", Gltf({odd}, kGrey));
    Picture plain = View((WriteFileBytes("plaingrey.gltf", Gltf({{}}, kGrey)), "plaingrey.gltf"));
    EXPECT_LT(View("nancolors.gltf").Differing(plain, 2), plain.ModelPixels() / 100);
    EXPECT_NE(ReadFileBytes("log.txt").find("4 vertex colour values are not numbers"), std::string::npos);
}

TEST_F(MaterialFeatures, BlendedSurfacesShowWhatIsBehindFarthestFirstAndLeaveTheOpaqueFrameAlone) {
    // A red square behind two half-transparent ones: a far blue one and, in front of it, a
    // green one over the right half of the view's middle. The near square comes first in the
    // file, so drawing in file order would be wrong.
    const std::string red = R"({"pbrMetallicRoughness":{"baseColorFactor":[1,0,0,1]}})";
    const std::string blue =
        R"({"name":"blue","alphaMode":"BLEND","pbrMetallicRoughness":{"baseColorFactor":[0,0,1,0.5]}})";
    const std::string green =
        R"({"name":"green","alphaMode":"BLEND","pbrMetallicRoughness":{"baseColorFactor":[0,1,0,0.5]}})";
    const Square back{false, 0, {}, 0.0f, 0.0f, 1.0f}, middle{false, 1, {}, 0.0f, 0.5f, 0.5f};
    const Square near{false, 2, {}, 0.25f, 1.0f, 0.25f};
    Picture blended = ViewBoth("blended", Gltf({near, middle, back}, red + "," + blue + "," + green));
    // Seen from above, the nearer squares sit lower in the picture.
    uint32_t throughBlue = blended.At(0.35f, 0.5f), throughBoth = blended.At(0.62f, 0.78f);
    EXPECT_GT(blended.Channel(throughBlue, 0), 40) << "the red square shows through the blue one";
    EXPECT_GT(blended.Channel(throughBlue, 2), 40) << "the blue square is drawn over it";
    EXPECT_GT(blended.Channel(throughBoth, 1), blended.Channel(throughBoth, 2) + 20)
        << "the near green square is drawn last";
    EXPECT_NE(sourceLog_.find("Model: drawn: alpha blending: 'green', 'blue'\n"), std::string::npos) << sourceLog_;

    // Wholly transparent, a blended square leaves the frame as when it is cut away.
    const std::string clear = R"({"alphaMode":"BLEND","pbrMetallicRoughness":{"baseColorFactor":[0,1,0,0]}})";
    const std::string cut =
        R"({"alphaMode":"MASK","alphaCutoff":1,"pbrMetallicRoughness":{"baseColorFactor":[0,1,0,0]}})";
    WriteFileBytes("clear.gltf", Gltf({back, middle}, red + "," + clear));
    WriteFileBytes("gone.gltf", Gltf({back, middle}, red + "," + cut));
    EXPECT_TRUE(View("clear.gltf").pixels == View("gone.gltf").pixels) << "the opaque frame is unchanged by it";
}

// A real model: TextureTransformTest shows a check mark where the transform of its panel is
// drawn as the file says, and a red cross on a red plate where it is not (a small red marker
// stays whatever is drawn).
TEST_F(MaterialFeatures, TheTextureTransformTestShowsItsCheckMarks) {
    Picture picture = View("/usr/share/assimp/models/glTF2/textureTransform/TextureTransformTest.gltf");
    EXPECT_LT(picture.Dominated(0), 1500u);
    EXPECT_GT(picture.Dominated(1), 8000u) << "the green 'U' panel";
}

// A real model: the labels of ClearCoatTest are black plates whose text comes from an
// emissive map, and its partial coating is blended.
TEST_F(MaterialFeatures, TheClearCoatTestsEmissiveLabelsShow) {
    Picture picture = View("/usr/share/assimp/models/glTF2/ClearCoat-glTF/ClearCoatTest.gltf");
    size_t bright = 0;
    for (uint32_t p : picture.pixels)
        bright += picture.Channel(p, 0) > 150 && picture.Channel(p, 1) > 150 && picture.Channel(p, 2) > 150;
    EXPECT_GT(bright, 3000u) << "the labels' light plates";
    std::string log = ReadFileBytes("log.txt");
    EXPECT_NE(log.find("Model: drawn: emission: 'LabelMaterial'\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Model: drawn: alpha blending: 'Partial_Coating'\n"), std::string::npos) << log;
}

// A map's texture transform and coordinate set: each case turns the red-and-blue image so
// that blue lands on the square's left, where the plain map shows red.
TEST_F(MaterialFeatures, TextureTransformsAndTheSecondCoordinateSetMoveTheMap) {
    struct Case {
        const char* name;
        const char* textureInfo;
        bool blueLeft;
    };
    const Case cases[] = {
        {"plain", R"({"index":0})", false},
        {"offset", R"({"index":0,"extensions":{"KHR_texture_transform":{"offset":[0.5,0]}}})", true},
        {"turned", R"({"index":0,"extensions":{"KHR_texture_transform":{"rotation":3.14159265}}})", true},
        {"second", R"({"index":0,"texCoord":1})", true},
    };
    std::string png = RedBluePng();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Square square;
        square.secondSet = true;
        Picture picture = ViewBoth(
            c.name, Gltf({square},
                         std::string(R"({"pbrMetallicRoughness":{"baseColorTexture":)") + c.textureInfo + "}}", {png}));
        uint32_t left = picture.At(0.3f, 0.5f);
        int red = picture.Channel(left, 0), blue = picture.Channel(left, 2);
        EXPECT_GT(c.blueLeft ? blue : red, (c.blueLeft ? red : blue) + 60);
    }
}

// Lines and points are drawn unlit in their material's colour where the file puts them: a
// red line across the middle, and above it a green point.
TEST_F(MaterialFeatures, ALineAndAPointShowInTheirColourWhereTheFilePutsThem) {
    const float positions[] = {-1, 0, 0, 1, 0, 0, 0, 0.5f, 0};
    std::string json = GltfOfPieces(
        {{positions, 24}, {positions + 6, 12}},
        std::string(R"("meshes":[{"primitives":[{"attributes":{"POSITION":0},"mode":1,"material":0},)") +
            R"({"attributes":{"POSITION":1},"mode":0,"material":1}]}],)" +
            R"("materials":[{"pbrMetallicRoughness":{"baseColorFactor":[1,0,0,1]}},)" +
            R"({"pbrMetallicRoughness":{"baseColorFactor":[0,1,0,1]}}],)" +
            R"("accessors":[{"bufferView":0,"componentType":5126,"count":2,"type":"VEC3","min":[-1,0,0],"max":[1,0,0]},)" +
            R"({"bufferView":1,"componentType":5126,"count":1,"type":"VEC3","min":[0,0.5,0],"max":[0,0.5,0]}])");
    Picture picture = ViewBoth("linepoint", json);
    std::vector<int> box = picture.Box();
    EXPECT_GT(box[2] - box[0], picture.width / 2) << "the line is framed across the view";
    int redRow = -1, greenRow = -1;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            uint32_t p = picture.pixels[static_cast<size_t>(y * picture.width + x)];
            if (picture.Channel(p, 0) > 150 && picture.Channel(p, 1) < 60 && x == picture.width / 2) redRow = y;
            if (picture.Channel(p, 1) > 150 && picture.Channel(p, 0) < 60) greenRow = y;
        }
    EXPECT_NEAR(redRow, picture.height / 2, picture.height / 8) << "the red line crosses the middle";
    EXPECT_GE(greenRow, 0) << "the green point is drawn";
    EXPECT_LT(greenRow, redRow) << "above the line";
    EXPECT_NE(sourceLog_.find("Model: drawn: lines, unlit: 'meshes[0]-0'\n"), std::string::npos) << sourceLog_;
    lumaret::test::ToolRun dump = RunTool("tools/srxdump/srxdump", "linepoint.srx");
    EXPECT_NE(dump.output.find("lines 0: node 0, material 0, 1 segments"), std::string::npos) << dump.output;
    EXPECT_NE(dump.output.find("points 1: node 0, material 1, 1 points, size 3"), std::string::npos) << dump.output;

    // A point size that is not a number draws the point one pixel wide, said once.
    std::string srx = ReadFileBytes("linepoint.srx");
    size_t points = srx.rfind("LNPT");
    ASSERT_NE(points, std::string::npos);
    for (float size : {1.0f, std::nanf("")}) {
        std::memcpy(&srx[points + 16], &size, sizeof(size));
        WriteFileBytes(std::isnan(size) ? "nansize.srx" : "onepixel.srx", srx);
    }
    Picture onePixel = View("onepixel.srx");
    EXPECT_FALSE(onePixel.pixels == picture.pixels) << "the point is 3 pixels wide";
    EXPECT_TRUE(View("nansize.srx").pixels == onePixel.pixels);
    EXPECT_NE(ReadFileBytes("log.txt").find("points 1 ('nodes[0]') are nan pixels wide; the device draws 1 to "),
              std::string::npos)
        << ReadFileBytes("log.txt");
}

// A line on a node that the animation lifts moves with the node's triangles: in frames 1 and
// 60 the red line crosses the blue square of the same node at its middle, and the two
// frames put it on different rows, from the glTF and from its SRX.
TEST_F(MaterialFeatures, ALineFollowsItsAnimatedNodeAsItsTrianglesDo) {
    const float square[] = {-1, -0.2f, 0, -0.6f, -0.2f, 0, -0.6f, 0.2f, 0, -1, 0.2f, 0};
    const uint16_t indices[] = {0, 1, 2, 0, 2, 3};
    const float line[] = {-0.5f, 0, 0, 1, 0, 0};
    const float times[] = {0, 2};
    const float lift[] = {0, 0, 0, 0, 0.5f, 0};
    std::string json = GltfOfPieces(
        {{square, sizeof(square)}, {indices, sizeof(indices)}, {line, sizeof(line)}, {times, sizeof(times)},
         {lift, sizeof(lift)}},
        std::string(R"("meshes":[{"primitives":[{"attributes":{"POSITION":0},"indices":1,"material":0},)") +
            R"({"attributes":{"POSITION":2},"mode":1,"material":1}]}],)" +
            R"("animations":[{"samplers":[{"input":3,"output":4}],"channels":[{"sampler":0,)" +
            R"("target":{"node":0,"path":"translation"}}]}],)" +
            R"("materials":[{"pbrMetallicRoughness":{"baseColorFactor":[0,0,1,1]}},)" +
            R"({"pbrMetallicRoughness":{"baseColorFactor":[1,0,0,1]}}],)" +
            R"("accessors":[{"bufferView":0,"componentType":5126,"count":4,"type":"VEC3","min":[-1,-0.2,0],)" +
            R"("max":[-0.6,0.2,0]},{"bufferView":1,"componentType":5123,"count":6,"type":"SCALAR"},)" +
            R"({"bufferView":2,"componentType":5126,"count":2,"type":"VEC3","min":[-0.5,0,0],"max":[1,0,0]},)" +
            R"({"bufferView":3,"componentType":5126,"count":2,"type":"SCALAR","min":[0],"max":[2]},)" +
            R"({"bufferView":4,"componentType":5126,"count":2,"type":"VEC3"}])");
    WriteFileBytes("lifted.gltf", json);
    ASSERT_EQ(RunTool("tools/srxconvert/srxconvert", "lifted.gltf lifted.srx").status, 0);
    EXPECT_NE(RunTool("tools/srxdump/srxdump", "lifted.srx").output.find("1 segments, follow the node's animation"),
              std::string::npos);
    for (const char* file : {"lifted.gltf", "lifted.srx"}) {
        SCOPED_TRACE(file);
        std::vector<int> lineRows;
        for (const Picture& frame : FirstAndSixtieth(file)) {
            // The square's middle row (blue at the picture's left), and the red line's row.
            int squareTop = -1, squareBottom = -1, lineRow = -1;
            for (int y = 0; y < frame.height; ++y)
                for (int x = 0; x < frame.width; ++x) {
                    uint32_t p = frame.pixels[static_cast<size_t>(y * frame.width + x)];
                    if (frame.Channel(p, 2) > frame.Channel(p, 0) + 40 && x < frame.width / 3) {
                        squareBottom = y;
                        if (squareTop < 0) squareTop = y;
                    }
                    if (frame.Channel(p, 0) > 150 && frame.Channel(p, 1) < 60 && x == frame.width * 3 / 4) lineRow = y;
                }
            ASSERT_GE(squareTop, 0);
            EXPECT_NEAR(lineRow, (squareTop + squareBottom) / 2, 2) << "the line crosses the square's middle";
            lineRows.push_back(lineRow);
        }
        EXPECT_GT(lineRows[0] - lineRows[1], 20) << "the line rises between frames 1 and 60";
    }
}

// The glTF asset generator's primitive modes: every one draws the outline of the same
// square (points close enough to read as one), framed as the triangles are, and the lines
// and points leave the square's middle empty.
TEST_F(MaterialFeatures, EveryPrimitiveModeOfTheAssetGeneratorDrawsItsSquare) {
    const std::string folder = "/usr/share/assimp/models/glTF2/glTF-Asset-Generator/Mesh_PrimitiveMode/";
    // Modes by model number: points 00 and 07; lines, loops and strips 01-03 and 08-10.
    const std::vector<int> outlines = {0, 1, 2, 3, 7, 8, 9, 10};
    Picture filled = View(folder + "Mesh_PrimitiveMode_06.gltf");
    std::vector<int> square = filled.Box();
    for (int model = 0; model < 16; ++model) {
        char name[32];
        std::snprintf(name, sizeof(name), "Mesh_PrimitiveMode_%02d", model);
        SCOPED_TRACE(name);
        Picture picture = View(folder + name + ".gltf");
        std::vector<int> box = picture.Box();
        for (int i = 0; i < 4; ++i) EXPECT_NEAR(box[i], square[i], 8) << "framed as the filled square";
        bool outline = std::find(outlines.begin(), outlines.end(), model) != outlines.end();
        EXPECT_EQ(picture.IsModel(picture.At(0.5f, 0.5f)), !outline);
        if (outline) {
            EXPECT_GT(picture.ModelPixels(), 500u) << "all four sides";
            EXPECT_LT(picture.ModelPixels(), filled.ModelPixels() / 10);
        } else {
            EXPECT_GT(picture.ModelPixels(), filled.ModelPixels() * 9 / 10);
        }
    }
}

// A real model: AnimatedMorphCube's weights move its top face as its clip plays, so the
// still view changes between two frames, from the file and from its SRX (which plays on the
// clock's own rate, having no clip length in seconds).
TEST_F(MaterialFeatures, TheAnimatedMorphCubeChangesShapeAsItsClipPlays) {
    const std::string model =
        "/usr/share/assimp/models/glTF2/glTF-Sample-Models/AnimatedMorphCube-glTF/AnimatedMorphCube.gltf";
    ASSERT_EQ(RunTool("tools/srxconvert/srxconvert", model + " cube.srx").status, 0);
    std::vector<Picture> frames = FirstAndSixtieth(model), converted = FirstAndSixtieth("cube.srx");
    frames.insert(frames.end(), converted.begin(), converted.end());
    EXPECT_GT(frames[0].Differing(frames[1], 8), frames[0].ModelPixels() / 5) << "the cube changes shape";
    EXPECT_GT(frames[2].Differing(frames[3], 8), frames[2].ModelPixels() / 5) << "and so does its SRX";
    EXPECT_NE(ReadFileBytes("log.txt").find("Reading 2 morph targets of primitive 0"), std::string::npos);
}

// Metal/roughness on the engine's terms: a smooth red metal loses its diffuse red to a dim
// red reflection and highlight, while a material that states no metalness draws as the
// dielectric it is taken for (glTF's default of 1 would blacken every such model).
TEST_F(MaterialFeatures, AMetalLosesItsDiffuseColourAndAMaterialWithoutFactorsStaysAsItWas) {
    auto red = [](const std::string& factors) {
        return R"({"name":"red","pbrMetallicRoughness":{"baseColorFactor":[1,0,0,1])" + factors + "}}";
    };
    Picture metal = ViewBoth("metal", Gltf({{}}, red(R"(,"metallicFactor":1,"roughnessFactor":0.2)")));
    std::string metalLog = sourceLog_;
    Picture rough = ViewBoth("rough", Gltf({{}}, red(R"(,"metallicFactor":0,"roughnessFactor":1)")));
    Picture plain = View((WriteFileBytes("plainred.gltf", Gltf({{}}, red(""))), "plainred.gltf"));
    EXPECT_TRUE(plain.pixels == rough.pixels) << "no factors: a rough dielectric";
    EXPECT_GT(plain.Dominated(0), plain.ModelPixels() * 99 / 100);
    long metalRed = 0, roughRed = 0;
    for (size_t i = 0; i < metal.pixels.size(); ++i) {
        metalRed += metal.IsModel(metal.pixels[i]) ? metal.Channel(metal.pixels[i], 0) : 0;
        roughRed += rough.IsModel(rough.pixels[i]) ? rough.Channel(rough.pixels[i], 0) : 0;
    }
    EXPECT_LT(metalRed * 2, roughRed) << "the metal has no diffuse colour";
    EXPECT_GT(metal.Dominated(0), metal.ModelPixels() / 2) << "what it reflects is red";
    EXPECT_NE(metalLog.find("Model: approximated: metal/roughness: 'red'\n"), std::string::npos) << metalLog;

    // The mean red of a picture's left or right half, and how much of it red dominates.
    auto halfRed = [](const Picture& picture, int half, double* dominated) {
        std::vector<int> box = picture.Box();
        long red = 0, pixels = 0, reddish = 0;
        for (int y = box[1]; y <= box[3]; ++y)
            for (int x = box[0]; x <= box[2]; ++x) {
                float across = static_cast<float>(x - box[0]) / static_cast<float>(box[2] - box[0]);
                uint32_t p = picture.pixels[static_cast<size_t>(y * picture.width + x)];
                if ((half == 0 ? across < 0.15f || across > 0.35f : across < 0.65f || across > 0.85f) ||
                    !picture.IsModel(p))
                    continue;
                red += picture.Channel(p, 0);
                ++pixels;
                reddish += picture.Channel(p, 0) > picture.Channel(p, 1) + 20 &&
                           picture.Channel(p, 0) > picture.Channel(p, 2) + 20;
            }
        if (dominated) *dominated = pixels ? static_cast<double>(reddish) / pixels : 0.0;
        return pixels ? static_cast<double>(red) / pixels : 0.0;
    };
    double factorRatio = halfRed(metal, 0, nullptr) / halfRed(rough, 1, nullptr);

    // Maps that make the left half that metal and the right half that dielectric: the halves
    // differ as those two materials do (measured away from the middle and the edges, where
    // the map's texels are filtered together). glTF's one map under factors of 1, and other
    // formats' maps apart, each standing in for its factor: one-channel images, one packed
    // image named as both, a metalness map alone over the roughness factor.
    const std::string kRedMtl = "newmtl red\nKa 1 0 0\nKd 1 0 0\n";
    const std::string packedPng = MetalLeftPng();
    const std::string metalPng = GreyHalvesPng("metal.png", 255, 0), roughPng = GreyHalvesPng("rough.png", 51, 255);
    WriteFileBytes("mapped.gltf", Gltf({{}}, red(R"(,"metallicRoughnessTexture":{"index":0})"), {packedPng}));
    const std::pair<std::string, std::string> mappedModels[] = {
        {"glTF", "mapped.gltf"},
        {"apart", ObjSquare("apart", kRedMtl + "map_Pm " + metalPng + "\nmap_Pr " + roughPng + "\n")},
        {"packed", ObjSquare("packed", kRedMtl + "map_Pm metalleft.png\nmap_Pr metalleft.png\n")},
        {"metalness alone", ObjSquare("metalonly", kRedMtl + "Pr 0.2\nmap_Pm " + metalPng + "\n")},
    };
    for (const auto& [what, file] : mappedModels) {
        SCOPED_TRACE(what);
        Picture mapped = ViewBoth(file);
        EXPECT_NE(sourceLog_.find("Model: approximated: metal/roughness: 'red'\n"), std::string::npos) << sourceLog_;
        EXPECT_EQ(sourceLog_.find("not drawn"), std::string::npos) << sourceLog_;
        double dominated = 0.0;
        double mappedRatio = halfRed(mapped, 0, &dominated) / halfRed(mapped, 1, nullptr);
        EXPECT_LT(mappedRatio, 0.5) << "the metal half has no diffuse colour";
        // Each of the factor pictures has an exposure of its own, which moves their ratio a little.
        EXPECT_NEAR(mappedRatio, factorRatio, 0.15) << "as the metal factor against the dielectric";
        EXPECT_GT(dominated, 0.9) << "what the metal half reflects is red";
    }
}
