#include "platform/ImageTestSupport.h"

#include "d3dx9/DdsBlocks.h"
#include "d3dx9/ImagePixelFormat.h"
#include "support/TempDir.h"

namespace lumaret::test {

using platform::BitField;
using platform::PixelLayout;

std::string ReadImageFixture(const std::string& name) {
    return ReadFileBytes(SourceDir() + "/tests/data/images/" + name);
}

std::vector<uint8_t> SurfaceToRgba(D3DFORMAT format, const platform::ImageSurface& surface) {
    const PixelLayout* layout = platform::FindPixelLayout(format);
    if (!layout) return {};
    if (layout->blockCompressed) return platform::DecodeDxtSurface(format, surface);
    const bool luminance = format == D3DFMT_L8 || format == D3DFMT_A8L8;
    BitField fields[platform::kChannelCount];
    for (int c = 0; c < platform::kChannelCount; ++c) platform::DescribeMask(layout->masks[c], fields[c]);
    std::vector<uint8_t> rgba;
    rgba.reserve(static_cast<size_t>(surface.width) * surface.height * 4);
    for (UINT y = 0; y < surface.height; ++y) {
        for (UINT x = 0; x < surface.width; ++x) {
            uint32_t texel = platform::LoadTexel(surface.Row(y) + x * layout->unitBytes, layout->unitBytes);
            uint8_t channel[platform::kChannelCount];
            for (int c = 0; c < platform::kChannelCount; ++c)
                channel[c] = platform::ExpandTo8Bits((texel & layout->masks[c]) >> fields[c].shift, fields[c].bits);
            if (luminance) channel[1] = channel[2] = channel[0];
            if (layout->masks[platform::kChannelAlpha] == 0) channel[3] = 255;
            rgba.insert(rgba.end(), channel, channel + 4);
        }
    }
    return rgba;
}

}  // namespace lumaret::test
