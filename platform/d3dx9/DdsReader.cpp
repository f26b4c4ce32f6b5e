#include "d3dx9/DdsReader.h"

#include "d3dx9/ImageBytes.h"
#include "d3dx9/ImagePixelFormat.h"

#include <cstring>

namespace lumaret::platform {

namespace {

constexpr uint32_t kHeaderSize = 124;
constexpr uint32_t kPixelFormatSize = 32;

constexpr uint32_t kFlagDepth = 0x800000;  // DDSD_DEPTH

constexpr uint32_t kPixelAlphaPixels = 0x1;    // DDPF_ALPHAPIXELS
constexpr uint32_t kPixelAlpha = 0x2;          // DDPF_ALPHA
constexpr uint32_t kPixelFourCC = 0x4;         // DDPF_FOURCC
constexpr uint32_t kPixelRgb = 0x40;           // DDPF_RGB
constexpr uint32_t kPixelLuminance = 0x20000;  // DDPF_LUMINANCE

constexpr uint32_t kCaps2Cubemap = 0x200;
constexpr uint32_t kCaps2AllFaces = 0xfc00;  // +X, -X, +Y, -Y, +Z, -Z
constexpr uint32_t kCaps2Volume = 0x200000;

struct DdsLayout {
    D3DFORMAT storedFormat = D3DFMT_UNKNOWN;  // as in the file
    D3DFORMAT format = D3DFMT_UNKNOWN;        // as the texture gets it
    UINT width = 0, height = 0, levels = 0, faces = 0;
    size_t dataOffset = 0;
};

// The format a FourCC names: DXT1 to DXT5, or the D3DFORMAT number Direct3D writes there
// for formats without a mask description. The number is compared, never cast: most 32-bit
// values are no D3DFORMAT at all.
D3DFORMAT FormatFromFourCC(uint32_t fourCC) {
    static constexpr D3DFORMAT kFormats[] = {D3DFMT_DXT1,     D3DFMT_DXT2,     D3DFMT_DXT3,     D3DFMT_DXT4,
                                             D3DFMT_DXT5,     D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_A8B8G8R8,
                                             D3DFMT_X8B8G8R8, D3DFMT_R5G6B5,   D3DFMT_X1R5G5B5, D3DFMT_A1R5G5B5,
                                             D3DFMT_A4R4G4B4, D3DFMT_L8,       D3DFMT_A8,       D3DFMT_A8L8};
    for (D3DFORMAT format : kFormats)
        if (static_cast<uint32_t>(format) == fourCC) return format;
    return D3DFMT_UNKNOWN;
}

enum class MaskKind { kRgb, kLuminance, kAlpha };

MaskKind KindOf(D3DFORMAT format) {
    if (format == D3DFMT_L8 || format == D3DFMT_A8L8) return MaskKind::kLuminance;
    if (format == D3DFMT_A8) return MaskKind::kAlpha;
    return MaskKind::kRgb;
}

// The D3DFORMAT a bit-mask pixel format describes, or D3DFMT_UNKNOWN.
D3DFORMAT FormatFromMasks(MaskKind kind, uint32_t bitCount, const uint32_t masks[kChannelCount]) {
    if (kind == MaskKind::kRgb && bitCount == 24 && masks[0] == 0xff0000 && masks[1] == 0xff00 && masks[2] == 0xff &&
        masks[3] == 0)
        return D3DFMT_R8G8B8;
    static constexpr D3DFORMAT kCandidates[] = {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_A8B8G8R8, D3DFMT_X8B8G8R8,
                                                D3DFMT_R5G6B5,   D3DFMT_X1R5G5B5, D3DFMT_A1R5G5B5, D3DFMT_A4R4G4B4,
                                                D3DFMT_L8,       D3DFMT_A8,       D3DFMT_A8L8};
    for (D3DFORMAT candidate : kCandidates) {
        const PixelLayout* layout = FindPixelLayout(candidate);
        if (KindOf(candidate) != kind || layout->unitBytes * 8 != bitCount) continue;
        if (std::memcmp(layout->masks, masks, sizeof layout->masks) == 0) return candidate;
    }
    return D3DFMT_UNKNOWN;
}

D3DFORMAT ReadPixelFormat(ByteCursor& in) {
    uint32_t size = in.U32();
    uint32_t flags = in.U32();
    uint32_t fourCC = in.U32();
    uint32_t bitCount = in.U32();
    uint32_t masks[kChannelCount];
    for (uint32_t& mask : masks) mask = in.U32();
    if (in.Failed() || size != kPixelFormatSize) return D3DFMT_UNKNOWN;

    if (flags & kPixelFourCC) return FormatFromFourCC(fourCC);
    // The alpha mask counts only when a flag says the file has alpha.
    if (!(flags & (kPixelAlphaPixels | kPixelAlpha))) masks[kChannelAlpha] = 0;
    if (flags & kPixelRgb) return FormatFromMasks(MaskKind::kRgb, bitCount, masks);
    if (flags & kPixelLuminance) return FormatFromMasks(MaskKind::kLuminance, bitCount, masks);
    if (flags & kPixelAlpha) return FormatFromMasks(MaskKind::kAlpha, bitCount, masks);
    return D3DFMT_UNKNOWN;
}

size_t StoredLevelBytes(D3DFORMAT storedFormat, UINT width, UINT height) {
    if (storedFormat == D3DFMT_R8G8B8) return static_cast<size_t>(width) * 3 * height;
    const PixelLayout& layout = *FindPixelLayout(storedFormat);
    return RowPitchOf(layout, width) * RowCountOf(layout, height);
}

HRESULT ParseDds(const uint8_t* data, size_t size, UINT maxDimension, DdsLayout& dds) {
    ByteCursor in(data, size);
    if (in.U32() != kDdsMagic) return D3DXERR_INVALIDDATA;
    uint32_t headerSize = in.U32();
    uint32_t flags = in.U32();
    dds.height = in.U32();
    dds.width = in.U32();
    in.U32();  // pitch or linear size: rows are packed, so it is implied by width and format
    uint32_t depth = in.U32();
    uint32_t mipMapCount = in.U32();
    in.Skip(11 * 4);
    dds.storedFormat = ReadPixelFormat(in);
    in.U32();  // caps: the mip map and complex flags repeat what the counts say
    uint32_t caps2 = in.U32();
    in.Skip(3 * 4);
    if (in.Failed() || headerSize != kHeaderSize) return D3DXERR_INVALIDDATA;
    dds.dataOffset = in.Position();

    if (dds.storedFormat == D3DFMT_UNKNOWN) return D3DXERR_INVALIDDATA;
    dds.format = dds.storedFormat == D3DFMT_R8G8B8 ? D3DFMT_X8R8G8B8 : dds.storedFormat;
    if (dds.width == 0 || dds.height == 0 || dds.width > maxDimension || dds.height > maxDimension)
        return D3DXERR_INVALIDDATA;
    if ((caps2 & kCaps2Volume) || ((flags & kFlagDepth) && depth > 1)) return D3DXERR_INVALIDDATA;

    dds.faces = 1;
    if (caps2 & kCaps2Cubemap) {
        // A D3D9 cube texture has six square faces; a file with fewer cannot fill one.
        if ((caps2 & kCaps2AllFaces) != kCaps2AllFaces || dds.width != dds.height) return D3DXERR_INVALIDDATA;
        dds.faces = 6;
    }
    // Writers disagree on whether the mip count needs its flag; a count present is used.
    dds.levels = mipMapCount == 0 ? 1 : mipMapCount;
    if (dds.levels > FullMipLevelCount(dds.width, dds.height)) return D3DXERR_INVALIDDATA;

    size_t needed = 0;
    for (UINT level = 0; level < dds.levels; ++level)
        needed += StoredLevelBytes(dds.storedFormat, MipExtent(dds.width, level), MipExtent(dds.height, level));
    needed *= dds.faces;
    if (needed > size - dds.dataOffset) return D3DXERR_INVALIDDATA;
    return S_OK;
}

void WidenR8G8B8(const uint8_t* source, ImageSurface& surface) {
    for (UINT y = 0; y < surface.height; ++y) {
        uint8_t* row = surface.Row(y);
        for (UINT x = 0; x < surface.width; ++x, source += 3) {
            row[4 * x + 0] = source[0];
            row[4 * x + 1] = source[1];
            row[4 * x + 2] = source[2];
            row[4 * x + 3] = 0xff;
        }
    }
}

D3DXIMAGE_INFO InfoOf(const DdsLayout& dds) {
    D3DXIMAGE_INFO info{};
    info.Width = dds.width;
    info.Height = dds.height;
    info.Depth = 1;
    info.MipLevels = dds.levels;
    info.Format = dds.format;
    info.ResourceType = dds.faces == 6 ? D3DRTYPE_CUBETEXTURE : D3DRTYPE_TEXTURE;
    info.ImageFileFormat = D3DXIFF_DDS;
    return info;
}

}  // namespace

HRESULT ReadDdsInfo(const uint8_t* data, size_t size, UINT maxDimension, D3DXIMAGE_INFO& info) {
    DdsLayout dds;
    HRESULT result = ParseDds(data, size, maxDimension, dds);
    if (FAILED(result)) return result;
    info = InfoOf(dds);
    return S_OK;
}

HRESULT DecodeDds(const uint8_t* data, size_t size, UINT maxDimension, DecodedImage& image) {
    DdsLayout dds;
    HRESULT result = ParseDds(data, size, maxDimension, dds);
    if (FAILED(result)) return result;
    image.info = InfoOf(dds);
    image.faceCount = dds.faces;
    image.levelCount = dds.levels;
    image.surfaces.clear();
    image.surfaces.reserve(dds.faces * dds.levels);
    // ParseDds has checked that every face and level lies within the data.
    const uint8_t* source = data + dds.dataOffset;
    for (UINT face = 0; face < dds.faces; ++face) {
        for (UINT level = 0; level < dds.levels; ++level) {
            UINT width = MipExtent(dds.width, level), height = MipExtent(dds.height, level);
            ImageSurface surface = MakeSurface(dds.format, width, height);
            size_t stored = StoredLevelBytes(dds.storedFormat, width, height);
            if (dds.storedFormat == D3DFMT_R8G8B8)
                WidenR8G8B8(source, surface);
            else
                std::memcpy(surface.bytes.data(), source, stored);
            source += stored;
            image.surfaces.push_back(std::move(surface));
        }
    }
    return S_OK;
}

}  // namespace lumaret::platform
