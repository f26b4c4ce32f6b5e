#include "d3dx9/DdsBlocks.h"

#include <cstring>
#include <utility>

#define STB_DXT_STATIC
#define STB_DXT_IMPLEMENTATION
#include <stb/stb_dxt.h>

namespace lumaret::platform {

namespace {

struct Rgb {
    int r, g, b;
};

Rgb Expand565(uint16_t color) {
    int r = color >> 11 & 31, g = color >> 5 & 63, b = color & 31;
    return {r << 3 | r >> 2, g << 2 | g >> 4, b << 3 | b >> 2};
}

uint16_t Pack565(int r, int g, int b) {
    return static_cast<uint16_t>(((r * 31 + 127) / 255) << 11 | ((g * 63 + 127) / 255) << 5 | ((b * 31 + 127) / 255));
}

// The four colours of a colour block. Only DXT1 switches to three colours plus
// transparent black when color0 <= color1; DXT2 to DXT5 always interpolate four.
void ColorPalette(const uint8_t* block, bool allowThreeColor, uint8_t palette[4][4]) {
    uint16_t c0 = static_cast<uint16_t>(block[0] | block[1] << 8);
    uint16_t c1 = static_cast<uint16_t>(block[2] | block[3] << 8);
    Rgb p0 = Expand565(c0), p1 = Expand565(c1);
    Rgb p2, p3;
    bool threeColor = allowThreeColor && c0 <= c1;
    if (threeColor) {
        p2 = {(p0.r + p1.r + 1) / 2, (p0.g + p1.g + 1) / 2, (p0.b + p1.b + 1) / 2};
        p3 = {0, 0, 0};
    } else {
        p2 = {(2 * p0.r + p1.r + 1) / 3, (2 * p0.g + p1.g + 1) / 3, (2 * p0.b + p1.b + 1) / 3};
        p3 = {(p0.r + 2 * p1.r + 1) / 3, (p0.g + 2 * p1.g + 1) / 3, (p0.b + 2 * p1.b + 1) / 3};
    }
    const Rgb colors[4] = {p0, p1, p2, p3};
    for (int i = 0; i < 4; ++i) {
        palette[i][0] = static_cast<uint8_t>(colors[i].r);
        palette[i][1] = static_cast<uint8_t>(colors[i].g);
        palette[i][2] = static_cast<uint8_t>(colors[i].b);
        palette[i][3] = threeColor && i == 3 ? 0 : 255;
    }
}

void DecodeColorBlock(const uint8_t* block, bool allowThreeColor, uint8_t* rgba) {
    uint8_t palette[4][4];
    ColorPalette(block, allowThreeColor, palette);
    uint32_t indices = static_cast<uint32_t>(block[4]) | static_cast<uint32_t>(block[5]) << 8 |
                       static_cast<uint32_t>(block[6]) << 16 | static_cast<uint32_t>(block[7]) << 24;
    for (UINT i = 0; i < kDxtBlockTexels; ++i) std::memcpy(rgba + 4 * i, palette[indices >> (2 * i) & 3], 4);
}

uint64_t Load64(const uint8_t* bytes) {
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value |= static_cast<uint64_t>(bytes[i]) << (8 * i);
    return value;
}

void DecodeInterpolatedAlpha(const uint8_t* block, uint8_t* rgba) {
    int a0 = block[0], a1 = block[1];
    int alphas[8] = {a0, a1};
    if (a0 > a1) {
        for (int i = 1; i < 7; ++i) alphas[i + 1] = ((7 - i) * a0 + i * a1 + 3) / 7;
    } else {
        for (int i = 1; i < 5; ++i) alphas[i + 1] = ((5 - i) * a0 + i * a1 + 2) / 5;
        alphas[6] = 0;
        alphas[7] = 255;
    }
    uint64_t indices = Load64(block) >> 16;
    for (UINT i = 0; i < kDxtBlockTexels; ++i) rgba[4 * i + 3] = static_cast<uint8_t>(alphas[indices >> (3 * i) & 7]);
}

bool IsDxt1(D3DFORMAT format) { return format == D3DFMT_DXT1; }
bool HasExplicitAlpha(D3DFORMAT format) { return format == D3DFMT_DXT2 || format == D3DFMT_DXT3; }

// stb_dxt has no three-colour mode, so transparent DXT1 blocks are encoded here. The end
// points are the two opaque texels farthest apart, which follows the block's colour line
// whichever way its channels correlate; they are ordered color0 <= color1.
void EncodePunchThroughBlock(const uint8_t* rgba, uint8_t* block) {
    int low[3] = {0, 0, 0}, high[3] = {0, 0, 0};
    bool anyOpaque = false;
    int widest = -1;
    for (UINT i = 0; i < kDxtBlockTexels; ++i) {
        if (rgba[4 * i + 3] < 128) continue;
        anyOpaque = true;
        for (UINT j = i; j < kDxtBlockTexels; ++j) {
            if (rgba[4 * j + 3] < 128) continue;
            int distance = 0;
            for (int c = 0; c < 3; ++c)
                distance += (rgba[4 * i + c] - rgba[4 * j + c]) * (rgba[4 * i + c] - rgba[4 * j + c]);
            if (distance > widest) {
                widest = distance;
                for (int c = 0; c < 3; ++c) low[c] = rgba[4 * i + c], high[c] = rgba[4 * j + c];
            }
        }
    }
    uint16_t first = Pack565(low[0], low[1], low[2]), second = Pack565(high[0], high[1], high[2]);
    if (first > second) std::swap(first, second);
    uint16_t c0 = anyOpaque ? first : 0;
    uint16_t c1 = anyOpaque ? second : 0;
    block[0] = static_cast<uint8_t>(c0);
    block[1] = static_cast<uint8_t>(c0 >> 8);
    block[2] = static_cast<uint8_t>(c1);
    block[3] = static_cast<uint8_t>(c1 >> 8);
    uint8_t palette[4][4];
    ColorPalette(block, true, palette);
    uint32_t indices = 0;
    for (UINT i = 0; i < kDxtBlockTexels; ++i) {
        const uint8_t* texel = rgba + 4 * i;
        uint32_t best = 3;
        if (texel[3] >= 128) {
            int bestDistance = 1 << 30;
            for (uint32_t p = 0; p < 3; ++p) {
                int distance = 0;
                for (int c = 0; c < 3; ++c) {
                    int d = texel[c] - palette[p][c];
                    distance += d * d;
                }
                if (distance < bestDistance) {
                    bestDistance = distance;
                    best = p;
                }
            }
        }
        indices |= best << (2 * i);
    }
    for (int i = 0; i < 4; ++i) block[4 + i] = static_cast<uint8_t>(indices >> (8 * i));
}

}  // namespace

void DecodeDxtBlock(D3DFORMAT format, const uint8_t* block, uint8_t rgba[kDxtBlockTexels * 4]) {
    if (IsDxt1(format)) {
        DecodeColorBlock(block, true, rgba);
        return;
    }
    DecodeColorBlock(block + 8, false, rgba);
    if (HasExplicitAlpha(format)) {
        uint64_t alphas = Load64(block);
        for (UINT i = 0; i < kDxtBlockTexels; ++i)
            rgba[4 * i + 3] = static_cast<uint8_t>((alphas >> (4 * i) & 15) * 17);
    } else {
        DecodeInterpolatedAlpha(block, rgba);
    }
}

void EncodeDxtBlock(D3DFORMAT format, const uint8_t rgba[kDxtBlockTexels * 4], uint8_t* block) {
    // stb_dxt reads texels as 32-bit words, and with alpha off it wants alpha constant.
    alignas(4) uint8_t texels[kDxtBlockTexels * 4];
    std::memcpy(texels, rgba, sizeof texels);
    if (IsDxt1(format)) {
        for (UINT i = 0; i < kDxtBlockTexels; ++i) {
            if (texels[4 * i + 3] < 128) {
                EncodePunchThroughBlock(texels, block);
                return;
            }
        }
        for (UINT i = 0; i < kDxtBlockTexels; ++i) texels[4 * i + 3] = 255;
        stb_compress_dxt_block(block, texels, 0, STB_DXT_HIGHQUAL);
        return;
    }
    if (HasExplicitAlpha(format)) {
        uint64_t alphas = 0;
        for (UINT i = 0; i < kDxtBlockTexels; ++i) {
            uint64_t alpha = (static_cast<uint64_t>(texels[4 * i + 3]) * 15 + 127) / 255;
            alphas |= alpha << (4 * i);
            texels[4 * i + 3] = 255;
        }
        for (int i = 0; i < 8; ++i) block[i] = static_cast<uint8_t>(alphas >> (8 * i));
        stb_compress_dxt_block(block + 8, texels, 0, STB_DXT_HIGHQUAL);
        return;
    }
    stb_compress_dxt_block(block, texels, 1, STB_DXT_HIGHQUAL);
}

std::vector<uint8_t> DecodeDxtSurface(D3DFORMAT format, const ImageSurface& surface) {
    std::vector<uint8_t> rgba(static_cast<size_t>(surface.width) * surface.height * 4);
    const size_t blockBytes = IsDxt1(format) ? 8 : 16;
    uint8_t texels[kDxtBlockTexels * 4];
    for (UINT by = 0; by < surface.rowCount; ++by) {
        const uint8_t* row = surface.Row(by);
        for (UINT bx = 0; bx * 4 < surface.width; ++bx) {
            DecodeDxtBlock(format, row + bx * blockBytes, texels);
            for (UINT y = 0; y < 4 && by * 4 + y < surface.height; ++y)
                for (UINT x = 0; x < 4 && bx * 4 + x < surface.width; ++x)
                    std::memcpy(&rgba[((static_cast<size_t>(by) * 4 + y) * surface.width + bx * 4 + x) * 4],
                                texels + (y * 4 + x) * 4, 4);
        }
    }
    return rgba;
}

ImageSurface EncodeDxtSurface(D3DFORMAT format, const uint8_t* rgba, UINT width, UINT height) {
    ImageSurface surface = MakeSurface(format, width, height);
    const size_t blockBytes = IsDxt1(format) ? 8 : 16;
    uint8_t texels[kDxtBlockTexels * 4];
    for (UINT by = 0; by < surface.rowCount; ++by) {
        uint8_t* row = surface.Row(by);
        for (UINT bx = 0; bx * 4 < width; ++bx) {
            for (UINT y = 0; y < 4; ++y) {
                UINT sy = by * 4 + y < height ? by * 4 + y : height - 1;
                for (UINT x = 0; x < 4; ++x) {
                    UINT sx = bx * 4 + x < width ? bx * 4 + x : width - 1;
                    std::memcpy(texels + (y * 4 + x) * 4, rgba + (static_cast<size_t>(sy) * width + sx) * 4, 4);
                }
            }
            EncodeDxtBlock(format, texels, row + bx * blockBytes);
        }
    }
    return surface;
}

}  // namespace lumaret::platform
