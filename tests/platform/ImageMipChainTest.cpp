// Mip chain generation and the DXT block codec behind it.
#include "d3dx9/DdsBlocks.h"
#include "d3dx9/ImageDecoder.h"
#include "d3dx9/ImageMipChain.h"
#include "platform/ImageTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

using lumaret::platform::BoxFilterLevel;
using lumaret::platform::DecodedImage;
using lumaret::platform::DecodeDxtSurface;
using lumaret::platform::EncodeDxtSurface;
using lumaret::platform::GenerateMipChain;
using lumaret::platform::ImageSurface;
using lumaret::platform::MakeSurface;
using lumaret::test::ReadImageFixture;
using lumaret::test::SurfaceToRgba;

namespace {

ImageSurface SurfaceOf(D3DFORMAT format, UINT width, UINT height, const std::vector<uint8_t>& bytes) {
    ImageSurface surface = MakeSurface(format, width, height);
    EXPECT_EQ(surface.bytes.size(), bytes.size());
    surface.bytes = bytes;
    return surface;
}

DecodedImage SingleLevel(D3DFORMAT format, ImageSurface surface) {
    DecodedImage image;
    image.info.Format = format;
    image.info.Width = surface.width;
    image.info.Height = surface.height;
    image.faceCount = 1;
    image.levelCount = 1;
    image.surfaces.push_back(std::move(surface));
    return image;
}

}  // namespace

TEST(ImageMipChain, EvenSizesAverageTwoByTwoRoundedToNearest) {
    // 4 x 2 A8R8G8B8 (B, G, R, A bytes): each 2 x 2 quad averages per channel.
    std::vector<uint8_t> texels = {
        0, 10, 255, 255, 1, 20, 255, 255, 2, 0, 0, 0, 4, 0, 0, 0,
        0, 10, 255, 255, 2, 21, 254, 0,   6, 0, 0, 0, 8, 0, 0, 1,
    };
    ImageSurface level1 = BoxFilterLevel(D3DFMT_A8R8G8B8, SurfaceOf(D3DFMT_A8R8G8B8, 4, 2, texels));
    ASSERT_EQ(level1.width, 2u);
    ASSERT_EQ(level1.height, 1u);
    // (0+1+0+2)/4 = 0.75 -> 1; (10+20+10+21)/4 = 15.25 -> 15; (255*3+254)/4 = 254.75 -> 255;
    // (255*3+0)/4 = 191.25 -> 191; second quad: 5, 0, 0, 0.25 -> 0.
    EXPECT_EQ(level1.bytes, (std::vector<uint8_t>{1, 15, 255, 191, 5, 0, 0, 0}));
}

TEST(ImageMipChain, OddSizesWeighTheSourceAreaEachTexelCovers) {
    // A 5 x 1 L8 row halves to 2 texels covering 2.5 source texels each:
    // (100 + 100 + 0.5 * 40) / 2.5 = 88 and (0.5 * 40 + 200 + 200) / 2.5 = 168.
    ImageSurface row = SurfaceOf(D3DFMT_L8, 5, 1, {100, 100, 40, 200, 200});
    ImageSurface half = BoxFilterLevel(D3DFMT_L8, row);
    EXPECT_EQ(half.bytes, (std::vector<uint8_t>{88, 168}));
    // 3 x 3 to 1 x 1: the mean of all nine.
    ImageSurface square = SurfaceOf(D3DFMT_L8, 3, 3, {9, 9, 9, 0, 0, 0, 90, 90, 90});
    EXPECT_EQ(BoxFilterLevel(D3DFMT_L8, square).bytes, (std::vector<uint8_t>{33}));
}

TEST(ImageMipChain, PackedFormatsFilterEachFieldInItsOwnBits) {
    // R5G6B5: red 31 and 0 average to 15.5 -> 16, green 63 and 0 to 31.5 -> 32.
    std::vector<uint8_t> texels = {0x00, 0xf8, 0xe0, 0x07, 0x00, 0xf8, 0xe0, 0x07};
    ImageSurface level = BoxFilterLevel(D3DFMT_R5G6B5, SurfaceOf(D3DFMT_R5G6B5, 2, 2, texels));
    ASSERT_EQ(level.bytes.size(), 2u);
    uint16_t texel = static_cast<uint16_t>(level.bytes[0] | level.bytes[1] << 8);
    EXPECT_EQ(texel >> 11, 16);
    EXPECT_EQ(texel >> 5 & 63, 32);
    EXPECT_EQ(texel & 31, 0);
    // X8R8G8B8's unused byte comes out as 0xff whatever the source held.
    ImageSurface x = BoxFilterLevel(D3DFMT_X8R8G8B8, SurfaceOf(D3DFMT_X8R8G8B8, 1, 2, {1, 2, 3, 0, 3, 4, 5, 0}));
    EXPECT_EQ(x.bytes, (std::vector<uint8_t>{2, 3, 4, 0xff}));
}

TEST(ImageMipChain, SingleLevelImagesGetTheFullChainAndStoredChainsStay) {
    DecodedImage image = SingleLevel(D3DFMT_L8, SurfaceOf(D3DFMT_L8, 13, 5, std::vector<uint8_t>(65, 77)));
    GenerateMipChain(image);
    ASSERT_EQ(image.levelCount, 4u);  // 13x5, 6x2, 3x1, 1x1
    const UINT expected[4][2] = {{13, 5}, {6, 2}, {3, 1}, {1, 1}};
    for (UINT level = 0; level < 4; ++level) {
        EXPECT_EQ(image.Surface(0, level).width, expected[level][0]);
        EXPECT_EQ(image.Surface(0, level).height, expected[level][1]);
        for (uint8_t value : image.Surface(0, level).bytes) ASSERT_EQ(value, 77);
    }

    std::string stored = ReadImageFixture("dds_a8r8g8b8_mips.dds");
    DecodedImage withMips;
    ASSERT_EQ(lumaret::platform::DecodeImage(stored.data(), stored.size(), withMips), D3D_OK);
    std::vector<uint8_t> level1 = withMips.Surface(0, 1).bytes;
    GenerateMipChain(withMips);
    EXPECT_EQ(withMips.levelCount, 5u);
    EXPECT_EQ(withMips.Surface(0, 1).bytes, level1);
}

TEST(ImageMipChain, CubeFacesEachGetTheirOwnChain) {
    std::string file = ReadImageFixture("dds_cube_dxt1.dds");
    DecodedImage cube;
    ASSERT_EQ(lumaret::platform::DecodeImage(file.data(), file.size(), cube), D3D_OK);
    std::vector<std::vector<uint8_t>> tops;
    for (UINT face = 0; face < 6; ++face) tops.push_back(cube.Surface(face, 0).bytes);
    GenerateMipChain(cube);
    ASSERT_EQ(cube.levelCount, 4u);  // 8, 4, 2, 1
    ASSERT_EQ(cube.surfaces.size(), 24u);
    for (UINT face = 0; face < 6; ++face) {
        EXPECT_EQ(cube.Surface(face, 0).bytes, tops[face]) << "face " << face;
        EXPECT_EQ(cube.Surface(face, 3).rowPitch, 8u);  // one DXT1 block, even for 1 x 1
    }
    // Faces differ, so a chain filtered from the wrong face would show.
    EXPECT_NE(SurfaceToRgba(D3DFMT_DXT1, cube.Surface(1, 1)), SurfaceToRgba(D3DFMT_DXT1, cube.Surface(0, 1)));
}

TEST(ImageMipChain, CompressedLevelsFollowTheBoxFilteredDecodedLevel) {
    // A colour ramp across and an alpha ramp down, in every DXT format: content the four
    // colours of a block can follow, so that what remains is the filtering.
    std::vector<uint8_t> rgba;
    for (UINT y = 0; y < 16; ++y)
        for (UINT x = 0; x < 16; ++x)
            rgba.insert(rgba.end(),
                        {uint8_t(x * 16), uint8_t(255 - x * 8), uint8_t(128 + x * 4), uint8_t(255 - y * 8)});
    for (D3DFORMAT format : {D3DFMT_DXT1, D3DFMT_DXT2, D3DFMT_DXT3, D3DFMT_DXT4, D3DFMT_DXT5}) {
        SCOPED_TRACE(static_cast<int>(format));
        DecodedImage image = SingleLevel(format, EncodeDxtSurface(format, rgba.data(), 16, 16));
        GenerateMipChain(image);
        ASSERT_EQ(image.levelCount, 5u);
        ImageSurface expected = MakeSurface(D3DFMT_A8B8G8R8, 16, 16);
        expected.bytes = DecodeDxtSurface(format, image.Surface(0, 0));
        for (UINT level = 1; level < 5; ++level) {
            expected = BoxFilterLevel(D3DFMT_A8B8G8R8, expected);
            std::vector<uint8_t> decoded = DecodeDxtSurface(format, image.Surface(0, level));
            ASSERT_EQ(decoded.size(), expected.bytes.size());
            for (size_t i = 0; i < decoded.size(); ++i) {
                // DXT1 keeps no alpha for these opaque-enough texels; the others keep it to
                // within their alpha precision.
                if (format == D3DFMT_DXT1 && i % 4 == 3) continue;
                ASSERT_LE(std::abs(decoded[i] - expected.bytes[i]), 10) << "level " << level << " byte " << i;
            }
        }
    }
}

TEST(ImageMipChain, Dxt1BlocksWithTransparentTexelsKeepThemTransparent) {
    // Opaque texels use two end points and their midpoint, which three-colour mode holds
    // exactly; every fourth texel is clear.
    const uint8_t colors[4][3] = {{9, 9, 9}, {255, 0, 0}, {0, 255, 255}, {128, 128, 128}};
    std::vector<uint8_t> rgba;
    for (int i = 0; i < 16; ++i) {
        const uint8_t* color = colors[i % 4];
        rgba.insert(rgba.end(), {color[0], color[1], color[2], uint8_t(i % 4 == 0 ? 0 : 255)});
    }
    ImageSurface block = EncodeDxtSurface(D3DFMT_DXT1, rgba.data(), 4, 4);
    ASSERT_EQ(block.bytes.size(), 8u);
    std::vector<uint8_t> decoded = DecodeDxtSurface(D3DFMT_DXT1, block);
    for (int i = 0; i < 16; ++i) {
        SCOPED_TRACE(i);
        if (i % 4 == 0) {
            EXPECT_EQ(decoded[4 * i + 3], 0);
            continue;
        }
        EXPECT_EQ(decoded[4 * i + 3], 255);
        for (int c = 0; c < 3; ++c) EXPECT_LE(std::abs(decoded[4 * i + c] - rgba[4 * i + c]), 1);
    }
}
