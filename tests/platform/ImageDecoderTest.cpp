// Image decoding against fixtures written by tools/make_image_fixtures.py: every BMP, PNG,
// TGA, JPG and DDS variant the loaders claim, compared texel by texel with references the
// script worked out (or had Pillow decode) without this code. Then what bad files get.
#include "d3dx9/ImageDecoder.h"
#include "platform/ImageTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using lumaret::platform::DecodedImage;
using lumaret::platform::DecodeImage;
using lumaret::platform::ReadImageInfo;
using lumaret::test::ReadImageFixture;
using lumaret::test::SurfaceToRgba;

namespace {

// JPEG decoders may differ in IDCT rounding and chroma upsampling. stb and libjpeg-turbo
// (Pillow) differ by at most 2 and 0.1 on average on these files.
constexpr int kJpegMaxError = 3;
constexpr double kJpegMeanError = 0.5;
// DXT colours are interpolated between end points; decoders may round the thirds either way.
constexpr int kDxtMaxError = 1;

struct Fixture {
    const char* file;
    D3DXIMAGE_FILEFORMAT fileFormat;
    D3DFORMAT format;
    UINT width, height, levels;
    int maxError;
};

constexpr D3DFORMAT A = D3DFMT_A8R8G8B8, X = D3DFMT_X8R8G8B8, L = D3DFMT_L8, AL = D3DFMT_A8L8;

const Fixture kFixtures[] = {
    {"bmp_1bit.bmp", D3DXIFF_BMP, X, 13, 7, 1, 0},
    {"bmp_4bit.bmp", D3DXIFF_BMP, X, 13, 7, 1, 0},
    {"bmp_8bit.bmp", D3DXIFF_BMP, X, 13, 7, 1, 0},
    {"bmp_8bit_core.bmp", D3DXIFF_BMP, X, 13, 7, 1, 0},
    {"bmp_8bit_topdown.bmp", D3DXIFF_BMP, X, 13, 7, 1, 0},
    {"bmp_16bit_555.bmp", D3DXIFF_BMP, X, 13, 7, 1, 0},
    {"bmp_16bit_565.bmp", D3DXIFF_BMP, X, 13, 7, 1, 0},
    {"bmp_24bit.bmp", D3DXIFF_BMP, X, 13, 7, 1, 0},
    {"bmp_24bit_topdown.bmp", D3DXIFF_BMP, X, 13, 7, 1, 0},
    {"bmp_32bit.bmp", D3DXIFF_BMP, X, 13, 7, 1, 0},
    {"bmp_32bit_alpha.bmp", D3DXIFF_BMP, A, 13, 7, 1, 0},
    {"bmp_32bit_alpha_imagemagick.bmp", D3DXIFF_BMP, A, 13, 7, 1, 0},
    {"bmp_rle8.bmp", D3DXIFF_BMP, X, 16, 9, 1, 0},
    {"bmp_rle4.bmp", D3DXIFF_BMP, X, 16, 9, 1, 0},

    {"png_grey1.png", D3DXIFF_PNG, L, 13, 9, 1, 0},
    {"png_grey2.png", D3DXIFF_PNG, L, 13, 9, 1, 0},
    {"png_grey2_interlaced.png", D3DXIFF_PNG, L, 13, 9, 1, 0},
    {"png_grey4.png", D3DXIFF_PNG, L, 13, 9, 1, 0},
    {"png_grey8.png", D3DXIFF_PNG, L, 13, 9, 1, 0},
    {"png_grey16.png", D3DXIFF_PNG, L, 13, 9, 1, 0},
    {"png_grey16_interlaced.png", D3DXIFF_PNG, L, 13, 9, 1, 0},
    {"png_grey8_trns.png", D3DXIFF_PNG, AL, 13, 9, 1, 0},
    {"png_greyalpha8.png", D3DXIFF_PNG, AL, 13, 9, 1, 0},
    {"png_greyalpha16.png", D3DXIFF_PNG, AL, 13, 9, 1, 0},
    {"png_rgb8.png", D3DXIFF_PNG, X, 13, 9, 1, 0},
    {"png_rgb8_interlaced.png", D3DXIFF_PNG, X, 13, 9, 1, 0},
    {"png_rgb16.png", D3DXIFF_PNG, X, 13, 9, 1, 0},
    {"png_rgb16_interlaced.png", D3DXIFF_PNG, X, 13, 9, 1, 0},
    {"png_rgb8_trns.png", D3DXIFF_PNG, A, 13, 9, 1, 0},
    {"png_rgba8.png", D3DXIFF_PNG, A, 13, 9, 1, 0},
    {"png_rgba8_interlaced.png", D3DXIFF_PNG, A, 13, 9, 1, 0},
    {"png_rgba16.png", D3DXIFF_PNG, A, 13, 9, 1, 0},
    {"png_rgba16_interlaced.png", D3DXIFF_PNG, A, 13, 9, 1, 0},
    {"png_rgba8_pillow.png", D3DXIFF_PNG, A, 13, 9, 1, 0},
    {"png_palette1.png", D3DXIFF_PNG, X, 13, 9, 1, 0},
    {"png_palette2.png", D3DXIFF_PNG, X, 13, 9, 1, 0},
    {"png_palette4.png", D3DXIFF_PNG, X, 13, 9, 1, 0},
    {"png_palette8.png", D3DXIFF_PNG, X, 13, 9, 1, 0},
    {"png_palette4_trns.png", D3DXIFF_PNG, A, 13, 9, 1, 0},
    {"png_palette4_trns_interlaced.png", D3DXIFF_PNG, A, 13, 9, 1, 0},

    {"tga_grey8.tga", D3DXIFF_TGA, L, 13, 7, 1, 0},
    {"tga_grey8_rle.tga", D3DXIFF_TGA, L, 13, 7, 1, 0},
    {"tga_greyalpha16.tga", D3DXIFF_TGA, AL, 13, 7, 1, 0},
    {"tga_colormap24.tga", D3DXIFF_TGA, X, 13, 7, 1, 0},
    {"tga_colormap32_rle.tga", D3DXIFF_TGA, A, 13, 7, 1, 0},
    {"tga_colormap16_alpha.tga", D3DXIFF_TGA, A, 13, 7, 1, 0},
    {"tga_15bit.tga", D3DXIFF_TGA, X, 13, 7, 1, 0},
    {"tga_16bit_alpha.tga", D3DXIFF_TGA, A, 13, 7, 1, 0},
    {"tga_16bit_rle.tga", D3DXIFF_TGA, X, 13, 7, 1, 0},
    {"tga_24bit.tga", D3DXIFF_TGA, X, 13, 7, 1, 0},
    {"tga_24bit_rle_topleft.tga", D3DXIFF_TGA, X, 13, 7, 1, 0},
    {"tga_24bit_bottomright.tga", D3DXIFF_TGA, X, 13, 7, 1, 0},
    {"tga_32bit.tga", D3DXIFF_TGA, A, 13, 7, 1, 0},
    {"tga_32bit_rle_topright.tga", D3DXIFF_TGA, A, 13, 7, 1, 0},

    {"jpg_baseline_420.jpg", D3DXIFF_JPG, X, 30, 22, 1, kJpegMaxError},
    {"jpg_baseline_444.jpg", D3DXIFF_JPG, X, 30, 22, 1, kJpegMaxError},
    {"jpg_progressive.jpg", D3DXIFF_JPG, X, 30, 22, 1, kJpegMaxError},
    {"jpg_baseline_grey.jpg", D3DXIFF_JPG, L, 30, 22, 1, kJpegMaxError},
    {"jpg_progressive_grey.jpg", D3DXIFF_JPG, L, 30, 22, 1, kJpegMaxError},

    {"dds_a8r8g8b8.dds", D3DXIFF_DDS, A, 16, 12, 1, 0},
    {"dds_a8r8g8b8_fourcc.dds", D3DXIFF_DDS, A, 16, 12, 1, 0},
    {"dds_a8r8g8b8_mips.dds", D3DXIFF_DDS, A, 16, 12, 5, 0},
    {"dds_x8r8g8b8.dds", D3DXIFF_DDS, X, 16, 12, 1, 0},
    {"dds_a8b8g8r8.dds", D3DXIFF_DDS, D3DFMT_A8B8G8R8, 16, 12, 1, 0},
    {"dds_r8g8b8.dds", D3DXIFF_DDS, X, 16, 12, 1, 0},
    {"dds_r5g6b5.dds", D3DXIFF_DDS, D3DFMT_R5G6B5, 16, 12, 1, 0},
    {"dds_a1r5g5b5.dds", D3DXIFF_DDS, D3DFMT_A1R5G5B5, 16, 12, 1, 0},
    {"dds_a4r4g4b4.dds", D3DXIFF_DDS, D3DFMT_A4R4G4B4, 16, 12, 1, 0},
    {"dds_l8.dds", D3DXIFF_DDS, L, 16, 12, 1, 0},
    {"dds_a8.dds", D3DXIFF_DDS, D3DFMT_A8, 16, 12, 1, 0},
    {"dds_a8l8.dds", D3DXIFF_DDS, AL, 16, 12, 1, 0},
    {"dds_dxt1.dds", D3DXIFF_DDS, D3DFMT_DXT1, 16, 12, 1, kDxtMaxError},
    {"dds_dxt1_mips.dds", D3DXIFF_DDS, D3DFMT_DXT1, 16, 12, 5, kDxtMaxError},
    {"dds_dxt1_alpha.dds", D3DXIFF_DDS, D3DFMT_DXT1, 16, 12, 1, kDxtMaxError},
    {"dds_dxt2.dds", D3DXIFF_DDS, D3DFMT_DXT2, 16, 12, 1, kDxtMaxError},
    {"dds_dxt3.dds", D3DXIFF_DDS, D3DFMT_DXT3, 16, 12, 5, kDxtMaxError},
    {"dds_dxt4.dds", D3DXIFF_DDS, D3DFMT_DXT4, 16, 12, 1, kDxtMaxError},
    {"dds_dxt5.dds", D3DXIFF_DDS, D3DFMT_DXT5, 16, 12, 1, kDxtMaxError},
    {"dds_dxt5_mips.dds", D3DXIFF_DDS, D3DFMT_DXT5, 16, 12, 5, kDxtMaxError},
    {"dds_dxt5_10x6.dds", D3DXIFF_DDS, D3DFMT_DXT5, 10, 6, 1, kDxtMaxError},
    {"dds_cube_a8r8g8b8.dds", D3DXIFF_DDS, A, 8, 8, 3, 0},
    {"dds_cube_dxt1.dds", D3DXIFF_DDS, D3DFMT_DXT1, 8, 8, 1, kDxtMaxError},
};

bool IsCube(const Fixture& fixture) { return std::strstr(fixture.file, "cube") != nullptr; }

std::string ReferenceName(const char* file) {
    std::string name = file;
    return name.substr(0, name.rfind('.')) + ".rgba";
}

DecodedImage Decode(const std::string& bytes) {
    DecodedImage image;
    EXPECT_EQ(DecodeImage(bytes.data(), bytes.size(), image), D3D_OK);
    return image;
}

HRESULT DecodeResult(const std::string& bytes) {
    DecodedImage image;
    return DecodeImage(bytes.data(), bytes.size(), image);
}

HRESULT InfoResult(const std::string& bytes) {
    D3DXIMAGE_INFO info;
    return ReadImageInfo(bytes.data(), bytes.size(), info);
}

void PutLE32(std::string& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>(value >> (8 * i));
}
void PutLE16(std::string& bytes, size_t offset, uint16_t value) {
    bytes[offset] = static_cast<char>(value);
    bytes[offset + 1] = static_cast<char>(value >> 8);
}
void PutBE32(std::string& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>(value >> (24 - 8 * i));
}

}  // namespace

TEST(ImageDecoder, EveryFixtureDecodesToItsReferenceTexels) {
    for (const Fixture& fixture : kFixtures) {
        SCOPED_TRACE(fixture.file);
        const std::string bytes = ReadImageFixture(fixture.file);
        const std::string reference = ReadImageFixture(ReferenceName(fixture.file));
        ASSERT_FALSE(bytes.empty());
        DecodedImage image = Decode(bytes);
        const UINT faces = IsCube(fixture) ? 6 : 1;
        EXPECT_EQ(image.info.ImageFileFormat, fixture.fileFormat);
        EXPECT_EQ(image.info.Format, fixture.format);
        EXPECT_EQ(image.info.Width, fixture.width);
        EXPECT_EQ(image.info.Height, fixture.height);
        EXPECT_EQ(image.info.Depth, 1u);
        EXPECT_EQ(image.info.MipLevels, fixture.levels);
        EXPECT_EQ(image.info.ResourceType, faces == 6 ? D3DRTYPE_CUBETEXTURE : D3DRTYPE_TEXTURE);
        ASSERT_EQ(image.faceCount, faces);
        ASSERT_EQ(image.levelCount, fixture.levels);
        ASSERT_EQ(image.surfaces.size(), static_cast<size_t>(faces) * fixture.levels);

        const size_t faceBytes = static_cast<size_t>(fixture.width) * fixture.height * 4;
        ASSERT_EQ(reference.size(), faceBytes * faces);
        int maxError = 0;
        double totalError = 0;
        for (UINT face = 0; face < faces; ++face) {
            const auto& top = image.Surface(face, 0);
            ASSERT_EQ(top.width, fixture.width);
            ASSERT_EQ(top.height, fixture.height);
            ASSERT_EQ(top.bytes.size(), top.rowPitch * top.rowCount);
            std::vector<uint8_t> rgba = SurfaceToRgba(fixture.format, top);
            ASSERT_EQ(rgba.size(), faceBytes);
            for (size_t i = 0; i < faceBytes; ++i) {
                int error = std::abs(rgba[i] - static_cast<uint8_t>(reference[face * faceBytes + i]));
                totalError += error;
                if (error > maxError) maxError = error;
                if (error > fixture.maxError) {
                    size_t texel = i / 4;
                    ADD_FAILURE() << "face " << face << " texel (" << texel % fixture.width << ", "
                                  << texel / fixture.width << ") channel " << i % 4 << ": " << int(rgba[i])
                                  << " instead of " << int(uint8_t(reference[face * faceBytes + i]));
                    break;
                }
            }
        }
        if (fixture.fileFormat == D3DXIFF_JPG) {
            EXPECT_LE(totalError / static_cast<double>(faceBytes), kJpegMeanError) << "max error " << maxError;
        }
    }
}

TEST(ImageDecoder, HeaderInfoAgreesWithTheDecodedImage) {
    for (const Fixture& fixture : kFixtures) {
        SCOPED_TRACE(fixture.file);
        const std::string bytes = ReadImageFixture(fixture.file);
        D3DXIMAGE_INFO info{};
        ASSERT_EQ(ReadImageInfo(bytes.data(), bytes.size(), info), D3D_OK);
        DecodedImage image = Decode(bytes);
        EXPECT_EQ(std::memcmp(&info, &image.info, sizeof info), 0);
        D3DXIMAGE_INFO viaD3dx{};
        ASSERT_EQ(D3DXGetImageInfoFromFileInMemory(bytes.data(), static_cast<UINT>(bytes.size()), &viaD3dx), D3D_OK);
        EXPECT_EQ(std::memcmp(&info, &viaD3dx, sizeof info), 0);
    }
}

TEST(ImageDecoder, DdsMipLevelsAndCubeFacesComeAsStored) {
    // The writer filled each stored mip level with a solid colour of its own.
    const uint8_t levelColors[5][4] = {{}, {0, 255, 0, 128}, {0, 0, 255, 64}, {255, 255, 0, 32}, {0, 255, 255, 0}};
    DecodedImage mips = Decode(ReadImageFixture("dds_a8r8g8b8_mips.dds"));
    ASSERT_EQ(mips.levelCount, 5u);
    const UINT sizes[5][2] = {{16, 12}, {8, 6}, {4, 3}, {2, 1}, {1, 1}};
    for (UINT level = 1; level < 5; ++level) {
        SCOPED_TRACE(level);
        const auto& surface = mips.Surface(0, level);
        EXPECT_EQ(surface.width, sizes[level][0]);
        EXPECT_EQ(surface.height, sizes[level][1]);
        std::vector<uint8_t> rgba = SurfaceToRgba(D3DFMT_A8R8G8B8, surface);
        for (size_t i = 0; i < rgba.size(); ++i) ASSERT_EQ(rgba[i], levelColors[level][i % 4]) << "byte " << i;
    }

    // Cube faces in D3DCUBEMAP_FACES order, each with its own chain: level 0 is checked
    // against the reference above, the smaller levels here.
    DecodedImage cube = Decode(ReadImageFixture("dds_cube_a8r8g8b8.dds"));
    ASSERT_EQ(cube.faceCount, 6u);
    for (UINT face = 0; face < 6; ++face) {
        for (UINT level = 1; level < 3; ++level) {
            std::vector<uint8_t> rgba = SurfaceToRgba(D3DFMT_A8R8G8B8, cube.Surface(face, level));
            ASSERT_EQ(rgba.size(), level == 1 ? 64u : 16u);
            for (size_t i = 0; i < rgba.size(); ++i) ASSERT_EQ(rgba[i], levelColors[level][i % 4]);
        }
    }
    std::string reference = ReadImageFixture("dds_cube_a8r8g8b8.rgba");
    std::vector<uint8_t> negativeZ = SurfaceToRgba(D3DFMT_A8R8G8B8, cube.Surface(D3DCUBEMAP_FACE_NEGATIVE_Z, 0));
    EXPECT_EQ(std::memcmp(negativeZ.data(), reference.data() + 5 * 256, 256), 0);
}

TEST(ImageDecoder, TruncatedFilesAreInvalidData) {
    for (const Fixture& fixture : kFixtures) {
        SCOPED_TRACE(fixture.file);
        const std::string bytes = ReadImageFixture(fixture.file);
        for (size_t length : {size_t{0}, size_t{1}, size_t{7}, size_t{20}, bytes.size() / 2}) {
            SCOPED_TRACE(length);
            EXPECT_EQ(DecodeResult(bytes.substr(0, length)), D3DXERR_INVALIDDATA);
        }
    }
}

TEST(ImageDecoder, FilesOfNoKnownFormatAreInvalidData) {
    EXPECT_EQ(DecodeResult("GIF89a\x01\x00\x01\x00\x00\x00\x00;"), D3DXERR_INVALIDDATA);
    EXPECT_EQ(DecodeResult("just some text that is not an image at all"), D3DXERR_INVALIDDATA);
    EXPECT_EQ(DecodeResult(std::string(64, '\0')), D3DXERR_INVALIDDATA);
    EXPECT_EQ(InfoResult(std::string(64, '\xff')), D3DXERR_INVALIDDATA);
    DecodedImage image;
    EXPECT_EQ(DecodeImage(nullptr, 10, image), D3DXERR_INVALIDDATA);
    D3DXIMAGE_INFO info;
    EXPECT_EQ(D3DXGetImageInfoFromFileInMemory(nullptr, 10, &info), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXGetImageInfoFromFileInMemory("BM", 2, nullptr), D3DERR_INVALIDCALL);
}

TEST(ImageDecoder, AbsurdBmpHeadersAreInvalidData) {
    const std::string good = ReadImageFixture("bmp_8bit.bmp");
    ASSERT_EQ(DecodeResult(good), D3D_OK);
    auto patched = [&](size_t offset, uint32_t value) {
        std::string bytes = good;
        PutLE32(bytes, offset, value);
        return DecodeResult(bytes);
    };
    EXPECT_EQ(patched(18, 16385), D3DXERR_INVALIDDATA);        // width beyond 16384
    EXPECT_EQ(patched(22, 0x80000000u), D3DXERR_INVALIDDATA);  // height INT_MIN: top-down 2^31
    EXPECT_EQ(patched(18, 0), D3DXERR_INVALIDDATA);
    EXPECT_EQ(patched(22, 0xffffc000u), D3DXERR_INVALIDDATA);  // 16384 top-down rows the data lacks
    EXPECT_EQ(patched(46, 257), D3DXERR_INVALIDDATA);          // palette larger than 8 bits index
    EXPECT_EQ(patched(10, 0xfffffff0u), D3DXERR_INVALIDDATA);  // pixels beyond the file
    EXPECT_EQ(patched(14, 41), D3DXERR_INVALIDDATA);           // unknown header size
    EXPECT_EQ(patched(30, 4), D3DXERR_INVALIDDATA);            // JPEG-in-BMP compression
    std::string bytes = good;
    PutLE16(bytes, 28, 7);  // bits per pixel
    EXPECT_EQ(DecodeResult(bytes), D3DXERR_INVALIDDATA);

    // Bit fields must be contiguous and fit the pixel.
    std::string fields = ReadImageFixture("bmp_16bit_565.bmp");
    ASSERT_EQ(DecodeResult(fields), D3D_OK);
    PutLE32(fields, 54, 0xf00f);
    EXPECT_EQ(DecodeResult(fields), D3DXERR_INVALIDDATA);
    PutLE32(fields, 54, 0x1f0000);
    EXPECT_EQ(DecodeResult(fields), D3DXERR_INVALIDDATA);

    // A run-length stream without its end-of-bitmap marker is a truncated file.
    std::string rle = ReadImageFixture("bmp_rle8.bmp");
    ASSERT_EQ(rle.substr(rle.size() - 2), std::string("\0\1", 2));
    EXPECT_EQ(DecodeResult(rle.substr(0, rle.size() - 2)), D3DXERR_INVALIDDATA);
    // Run-length data is defined bottom-up only.
    PutLE32(rle, 22, static_cast<uint32_t>(-9));
    EXPECT_EQ(DecodeResult(rle), D3DXERR_INVALIDDATA);
}

TEST(ImageDecoder, AbsurdDdsHeadersAreInvalidData) {
    const std::string good = ReadImageFixture("dds_dxt1_mips.dds");
    ASSERT_EQ(DecodeResult(good), D3D_OK);
    auto patched = [&](size_t offset, uint32_t value) {
        std::string bytes = good;
        PutLE32(bytes, offset, value);
        return DecodeResult(bytes);
    };
    EXPECT_EQ(patched(16, 1u << 30), D3DXERR_INVALIDDATA);     // width
    EXPECT_EQ(patched(12, 0xffffffffu), D3DXERR_INVALIDDATA);  // height
    EXPECT_EQ(patched(16, 16384), D3DXERR_INVALIDDATA);        // plausible size, data missing
    EXPECT_EQ(patched(28, 6), D3DXERR_INVALIDDATA);            // more levels than 16 x 12 has
    EXPECT_EQ(patched(28, 0xffffffffu), D3DXERR_INVALIDDATA);
    EXPECT_EQ(patched(4, 123), D3DXERR_INVALIDDATA);              // header size
    EXPECT_EQ(patched(84, 0x30315844), D3DXERR_INVALIDDATA);      // "DX10": not a D3D9 file
    EXPECT_EQ(patched(84, 0x31495441), D3DXERR_INVALIDDATA);      // "ATI1"
    EXPECT_EQ(patched(112, 0x200 | 0x400), D3DXERR_INVALIDDATA);  // cube map with one face
    EXPECT_EQ(patched(112, 0x200000), D3DXERR_INVALIDDATA);       // volume texture
    std::string cube = ReadImageFixture("dds_cube_a8r8g8b8.dds");
    PutLE32(cube, 16, 4);  // faces must be square
    EXPECT_EQ(DecodeResult(cube), D3DXERR_INVALIDDATA);
    // One byte short of the last face's last level.
    std::string full = ReadImageFixture("dds_cube_a8r8g8b8.dds");
    EXPECT_EQ(DecodeResult(full.substr(0, full.size() - 1)), D3DXERR_INVALIDDATA);
    std::string masks = ReadImageFixture("dds_r5g6b5.dds");
    PutLE32(masks, 92, 0xf000);  // a red mask no D3D9 format has
    EXPECT_EQ(DecodeResult(masks), D3DXERR_INVALIDDATA);
}

TEST(ImageDecoder, AbsurdPngTgaAndJpegHeadersAreInvalidData) {
    std::string png = ReadImageFixture("png_rgb8.png");
    PutBE32(png, 16, 100000);  // IHDR width; stb checks no CRC of a changed header here
    EXPECT_EQ(InfoResult(png), D3DXERR_INVALIDDATA);
    png = ReadImageFixture("png_rgb8.png");
    PutBE32(png, 16, 16384);
    PutBE32(png, 20, 16384);  // a gigabyte of pixels from a few hundred bytes of deflate data
    EXPECT_EQ(InfoResult(png), D3DXERR_INVALIDDATA);
    png = ReadImageFixture("png_rgb8.png");
    png[24] = 5;  // bit depth 5
    EXPECT_EQ(InfoResult(png), D3DXERR_INVALIDDATA);
    png = ReadImageFixture("png_rgb8.png");
    size_t idat = png.find("IDAT");
    ASSERT_NE(idat, std::string::npos);
    PutBE32(png, idat - 4, 0x7fffffff);  // a chunk far longer than the file: stb would allocate for it
    EXPECT_EQ(InfoResult(png), D3DXERR_INVALIDDATA);
    EXPECT_EQ(DecodeResult(png), D3DXERR_INVALIDDATA);

    std::string tga = ReadImageFixture("tga_24bit_bottomright.tga");
    PutLE16(tga, 12, 16385);
    EXPECT_EQ(DecodeResult(tga), D3DXERR_INVALIDDATA);
    tga = ReadImageFixture("tga_24bit_bottomright.tga");
    PutLE16(tga, 12, 200);  // wider than the pixels present
    EXPECT_EQ(DecodeResult(tga), D3DXERR_INVALIDDATA);
    tga = ReadImageFixture("tga_colormap24.tga");
    PutLE16(tga, 5, 60000);  // colour map longer than the file
    EXPECT_EQ(DecodeResult(tga), D3DXERR_INVALIDDATA);
    tga = ReadImageFixture("tga_grey8_rle.tga");
    tga[16] = 12;  // bits per pixel
    EXPECT_EQ(DecodeResult(tga), D3DXERR_INVALIDDATA);

    // SOF0 dimensions of 16384 x 16384 from a file of a few hundred bytes.
    std::string jpeg = ReadImageFixture("jpg_baseline_grey.jpg");
    size_t sof = jpeg.find("\xff\xc0", 2);
    ASSERT_NE(sof, std::string::npos);
    jpeg[sof + 5] = '\x40', jpeg[sof + 6] = '\x00', jpeg[sof + 7] = '\x40', jpeg[sof + 8] = '\x00';
    EXPECT_EQ(InfoResult(jpeg), D3DXERR_INVALIDDATA);

    // Huffman code counts adding up to more than 256 codes: stb 2.27 would write past its
    // tables (under ASan this test fails loudly if the check before stb goes).
    jpeg = ReadImageFixture("jpg_progressive.jpg");
    size_t dht = jpeg.find("\xff\xc4", 2);
    ASSERT_NE(dht, std::string::npos);
    for (int k = 0; k < 16; ++k) jpeg[dht + 5 + k] = '\x20';
    EXPECT_EQ(InfoResult(jpeg), D3DXERR_INVALIDDATA);
    EXPECT_EQ(DecodeResult(jpeg), D3DXERR_INVALIDDATA);
}

TEST(ImageDecoder, ImagesBeyondThePixelLimitAreRefusedBeforeTheirCostIsPaid) {
    // A 300 KB grey PNG may claim 16384 x 16384: deflate could in principle hold that many
    // pixels, but decoding it costs gigabytes and seconds. Past the documented limit the
    // header alone refuses the file, and at the limit an image is still fine.
    auto png = [](uint32_t width, uint32_t height, size_t dataBytes) {
        std::string bytes("\x89PNG\r\n\x1a\n", 8);
        auto chunk = [&](const char* type, const std::string& data) {
            std::string length(4, '\0');
            PutBE32(length, 0, static_cast<uint32_t>(data.size()));
            bytes += length + type + data + std::string(4, '\0');  // CRCs are not checked
        };
        std::string header(13, '\0');
        PutBE32(header, 0, width);
        PutBE32(header, 4, height);
        header[8] = 8;  // grey, 8 bits
        chunk("IHDR", header);
        chunk("IDAT", std::string(dataBytes, '\x55'));
        chunk("IEND", "");
        return bytes;
    };
    const UINT limit = lumaret::platform::kMaxImagePixels;
    struct Case {
        uint32_t width, height;
        bool accepted;
    };
    const Case cases[] = {{16384, 16384, false}, {16384, limit / 16384 + 1, false}, {4096, 4097, false},
                          {4096, 4096, true},    {16384, limit / 16384, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        auto start = std::chrono::steady_clock::now();
        std::string file = png(c.width, c.height, 300000);
        D3DXIMAGE_INFO info;
        EXPECT_EQ(D3DXGetImageInfoFromFileInMemory(file.data(), static_cast<UINT>(file.size()), &info),
                  c.accepted ? D3D_OK : D3DXERR_INVALIDDATA);
        if (!c.accepted) {
            EXPECT_EQ(DecodeResult(file), D3DXERR_INVALIDDATA);
        }
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0);
    }
}
