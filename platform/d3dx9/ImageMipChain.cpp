#include "d3dx9/ImageMipChain.h"

#include "d3dx9/DdsBlocks.h"
#include "d3dx9/ImagePixelFormat.h"

#include <algorithm>
#include <cmath>

namespace lumaret::platform {

namespace {

// Source texels and weights that one target texel averages along one axis. Halving
// (rounded down) makes one target texel cover at most three source texels.
struct AxisTaps {
    UINT first = 0;
    UINT count = 0;
    float weights[4] = {};
};

std::vector<AxisTaps> BoxTaps(UINT source, UINT target) {
    std::vector<AxisTaps> taps(target);
    const double scale = static_cast<double>(source) / target;
    for (UINT i = 0; i < target; ++i) {
        const double low = i * scale, high = (i + 1) * scale;
        AxisTaps& tap = taps[i];
        tap.first = static_cast<UINT>(low);
        UINT last = std::min(static_cast<UINT>(std::ceil(high)) - 1, source - 1);
        tap.count = std::min<UINT>(last - tap.first + 1, 4);
        for (UINT j = 0; j < tap.count; ++j) {
            double covered = std::min(high, tap.first + j + 1.0) - std::max(low, static_cast<double>(tap.first + j));
            tap.weights[j] = static_cast<float>(covered / scale);
        }
    }
    return taps;
}

}  // namespace

ImageSurface BoxFilterLevel(D3DFORMAT format, const ImageSurface& source) {
    const PixelLayout& layout = *FindPixelLayout(format);
    const UINT width = MipExtent(source.width, 1), height = MipExtent(source.height, 1);
    ImageSurface target = MakeSurface(format, width, height);
    const UINT texelBytes = layout.unitBytes;

    BitField fields[kChannelCount];
    uint32_t usedBits = 0;
    for (int c = 0; c < kChannelCount; ++c) {
        DescribeMask(layout.masks[c], fields[c]);
        usedBits |= layout.masks[c];
    }
    // Bits no channel owns (the X of X8R8G8B8) are written as ones.
    const uint32_t texelBits = texelBytes == 4 ? 0xffffffffu : (1u << (8 * texelBytes)) - 1;
    const uint32_t fill = texelBits & ~usedBits;

    const std::vector<AxisTaps> columns = BoxTaps(source.width, width);
    const std::vector<AxisTaps> rows = BoxTaps(source.height, height);
    for (UINT y = 0; y < height; ++y) {
        const AxisTaps& rowTaps = rows[y];
        uint8_t* out = target.Row(y);
        for (UINT x = 0; x < width; ++x) {
            const AxisTaps& columnTaps = columns[x];
            float sums[kChannelCount] = {};
            for (UINT j = 0; j < rowTaps.count; ++j) {
                const uint8_t* sourceRow = source.Row(rowTaps.first + j);
                for (UINT i = 0; i < columnTaps.count; ++i) {
                    const float weight = rowTaps.weights[j] * columnTaps.weights[i];
                    const uint32_t texel = LoadTexel(sourceRow + (columnTaps.first + i) * texelBytes, texelBytes);
                    for (int c = 0; c < kChannelCount; ++c)
                        sums[c] += weight * static_cast<float>((texel & layout.masks[c]) >> fields[c].shift);
                }
            }
            uint32_t texel = fill;
            for (int c = 0; c < kChannelCount; ++c) {
                if (layout.masks[c] == 0) continue;
                const uint32_t value = static_cast<uint32_t>(sums[c] + 0.5f);
                texel |= (value << fields[c].shift) & layout.masks[c];
            }
            StoreTexel(out + x * texelBytes, texelBytes, texel);
        }
    }
    return target;
}

void GenerateMipChain(DecodedImage& image) {
    if (image.levelCount != 1 || image.surfaces.empty()) return;
    const D3DFORMAT format = image.info.Format;
    const bool compressed = FindPixelLayout(format)->blockCompressed;
    const UINT levels = FullMipLevelCount(image.surfaces[0].width, image.surfaces[0].height);

    std::vector<ImageSurface> chain;
    chain.reserve(static_cast<size_t>(image.faceCount) * levels);
    for (UINT face = 0; face < image.faceCount; ++face) {
        ImageSurface& top = image.surfaces[face];
        if (!compressed) {
            chain.push_back(std::move(top));
            for (UINT level = 1; level < levels; ++level) chain.push_back(BoxFilterLevel(format, chain.back()));
            continue;
        }
        // Filter in RGBA, whose memory layout is A8B8G8R8.
        ImageSurface rgba = MakeSurface(D3DFMT_A8B8G8R8, top.width, top.height);
        rgba.bytes = DecodeDxtSurface(format, top);
        chain.push_back(std::move(top));
        for (UINT level = 1; level < levels; ++level) {
            rgba = BoxFilterLevel(D3DFMT_A8B8G8R8, rgba);
            chain.push_back(EncodeDxtSurface(format, rgba.bytes.data(), rgba.width, rgba.height));
        }
    }
    image.surfaces = std::move(chain);
    image.levelCount = levels;
}

}  // namespace lumaret::platform
