#include "d3dx9/ImageStbReader.h"

#include "d3dx9/ImageBytes.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

// Only the two formats read through stb: BMP and TGA have readers of their own, and
// leaving stb's other loaders out keeps it from claiming files that are neither.
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_MAX_DIMENSIONS 16384
// stb_image 2.27 leaves its JPEG decoder state uninitialised (zeroed upstream since 2.28):
// a scan naming a Huffman table no DHT segment defined would decode with garbage tables.
// Zeroed, such a table decodes every code as symbol 0 and consumes no bits, which ends the
// scan harmlessly.
#define STBI_MALLOC(size) calloc(1, size)
#define STBI_REALLOC(pointer, size) realloc(pointer, size)
#define STBI_FREE(pointer) free(pointer)
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
// On corrupt JPEGs stb 2.27 shifts by more than 31 bits and overflows signed sums inside
// its bit reader and coefficient arithmetic (upstream added the checks in 2.28). The
// results are garbage pixels, not memory errors; the sanitizer builds stop flagging those
// two kinds inside stb only, and keep every other check, ASan's included.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((no_sanitize("shift", "signed-integer-overflow"))), apply_to = function)
#endif
#include <stb/stb_image.h>
#if defined(__clang__)
#pragma clang attribute pop
#endif

namespace lumaret::platform {

namespace {

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0d, 0x0a, 0x1a, 0x0a};

constexpr uint32_t ChunkType(const char (&name)[5]) {
    return static_cast<uint32_t>(name[0]) << 24 | static_cast<uint32_t>(name[1]) << 16 |
           static_cast<uint32_t>(name[2]) << 8 | static_cast<uint32_t>(name[3]);
}

// Deflate cannot expand one byte into more than 1032; a PNG claiming more pixels than
// that allows is corrupt, however valid its header looks.
constexpr uint64_t kDeflateMaxRatio = 1032;
// Every MCU of a JPEG costs at least one bit of entropy-coded data, and an MCU covers at
// most 32 x 32 pixels (sampling factors go up to 4).
constexpr uint64_t kJpegMaxPixelsPerByte = 8 * 32 * 32;

int ChannelsOf(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_L8: return 1;
        case D3DFMT_A8L8: return 2;
        case D3DFMT_X8R8G8B8: return 3;
        default: return 4;
    }
}

struct StbFree {
    void operator()(stbi_uc* pixels) const { stbi_image_free(pixels); }
};

// Decodes with stb into the texture format's layout: stb gives R, G, B[, A] bytes,
// D3D's 32-bit formats want B, G, R, A; grey and grey-alpha already match L8 and A8L8.
HRESULT DecodeWithStb(const uint8_t* data, size_t size, const D3DXIMAGE_INFO& info, DecodedImage& image) {
    if (size > INT_MAX) return D3DXERR_INVALIDDATA;
    const int channels = ChannelsOf(info.Format);
    int width = 0, height = 0, fileChannels = 0;
    std::unique_ptr<stbi_uc, StbFree> pixels(
        stbi_load_from_memory(data, static_cast<int>(size), &width, &height, &fileChannels, channels));
    if (!pixels || static_cast<UINT>(width) != info.Width || static_cast<UINT>(height) != info.Height)
        return D3DXERR_INVALIDDATA;

    ImageSurface surface = MakeSurface(info.Format, info.Width, info.Height);
    const stbi_uc* source = pixels.get();
    for (UINT y = 0; y < info.Height; ++y) {
        uint8_t* row = surface.Row(y);
        if (channels <= 2) {
            std::memcpy(row, source, surface.rowPitch);
            source += surface.rowPitch;
            continue;
        }
        for (UINT x = 0; x < info.Width; ++x, source += channels) {
            row[4 * x + 0] = source[2];
            row[4 * x + 1] = source[1];
            row[4 * x + 2] = source[0];
            row[4 * x + 3] = channels == 4 ? source[3] : 0xff;
        }
    }
    image.info = info;
    image.faceCount = 1;
    image.levelCount = 1;
    image.surfaces.clear();
    image.surfaces.push_back(std::move(surface));
    return S_OK;
}

// stb decodes a JPEG cut short as if the missing data were zeros. A complete file ends
// with an EOI marker, and entropy-coded data cannot contain one (0xff is stuffed there).
bool HasEndOfImage(const uint8_t* data, size_t size) {
    for (size_t i = size; i >= 4; --i)
        if (data[i - 2] == 0xff && data[i - 1] == 0xd9) return true;
    return false;
}

// stb_image 2.27 builds a Huffman table from a DHT segment without checking that its 16
// code counts add up to at most 256, and writes past the table when they do (fixed
// upstream in 2.28). The segments are checked here first, walking the markers the way stb
// reads them: segment by segment, entropy-coded data up to the first byte pair 0xff xx that
// is neither a stuffed 0xff nor a restart marker, and DHT tables read on while stb's
// remaining-length count stays positive.
bool HuffmanTablesFitStb(const uint8_t* data, size_t size) {
    auto byteAt = [&](size_t i) -> uint32_t { return i < size ? data[i] : 0; };  // stb reads zeros past the end
    size_t i = 2;                                                                // after SOI
    for (;;) {
        while (i < size && data[i] != 0xff) ++i;
        while (i < size && data[i] == 0xff) ++i;
        if (i >= size) return true;
        const uint32_t marker = data[i++];
        if (marker == 0xd9) return true;  // EOI
        // Markers without a length: stb stops at them as errors, or at SOI never meets one.
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xd0 && marker <= 0xd8)) continue;
        const uint32_t length = byteAt(i) << 8 | byteAt(i + 1);
        if (length < 2) return true;  // stb stops here: nothing further is read
        if (marker == 0xc4) {
            size_t table = i + 2;
            int64_t remaining = static_cast<int64_t>(length) - 2;
            while (remaining > 0) {
                uint32_t codes = 0;
                for (size_t k = 1; k <= 16; ++k) codes += byteAt(table + k);
                if (codes > 256) return false;
                table += 17 + codes;
                remaining -= 17 + static_cast<int64_t>(codes);
            }
        }
        i += length;
        if (marker != 0xda) continue;  // SOS: entropy-coded data follows its header
        while (i < size) {
            if (data[i] != 0xff) {
                ++i;
                continue;
            }
            size_t next = i + 1;
            while (next < size && data[next] == 0xff) ++next;
            if (next >= size) return true;
            if (data[next] != 0x00 && (data[next] < 0xd0 || data[next] > 0xd7)) break;  // a marker ends the data
            i = next + 1;
        }
    }
}

bool IsValidPngDepth(uint8_t colorType, uint8_t depth) {
    switch (colorType) {
        case 0: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
        case 3: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
        case 2:
        case 4:
        case 6: return depth == 8 || depth == 16;
        default: return false;
    }
}

}  // namespace

bool IsPngSignature(const uint8_t* data, size_t size) {
    return size >= sizeof kPngSignature && std::memcmp(data, kPngSignature, sizeof kPngSignature) == 0;
}

bool IsJpegSignature(const uint8_t* data, size_t size) {
    return size >= 3 && data[0] == 0xff && data[1] == 0xd8 && data[2] == 0xff;
}

HRESULT ReadPngInfo(const uint8_t* data, size_t size, UINT maxDimension, D3DXIMAGE_INFO& info) {
    if (!IsPngSignature(data, size)) return D3DXERR_INVALIDDATA;
    ByteCursor in(data, size);
    in.Skip(sizeof kPngSignature);
    uint32_t headerLength = in.U32BigEndian();
    uint32_t headerType = in.U32BigEndian();
    uint32_t width = in.U32BigEndian();
    uint32_t height = in.U32BigEndian();
    uint8_t depth = in.U8();
    uint8_t colorType = in.U8();
    in.Skip(3);  // compression, filter and interlace methods: stb checks them
    in.Skip(4);  // CRC
    if (in.Failed() || headerLength != 13 || headerType != ChunkType("IHDR")) return D3DXERR_INVALIDDATA;
    if (width == 0 || height == 0 || width > maxDimension || height > maxDimension) return D3DXERR_INVALIDDATA;
    if (!IsValidPngDepth(colorType, depth)) return D3DXERR_INVALIDDATA;

    // Every chunk up to IEND must lie within the file: stb allocates for a chunk's stated
    // length before it finds the data missing. Transparency is announced by a tRNS chunk,
    // which counts only before the image data.
    bool transparency = false;
    bool imageData = false;
    for (;;) {
        uint32_t length = in.U32BigEndian();
        uint32_t type = in.U32BigEndian();
        if (in.Failed() || !in.Skip(static_cast<size_t>(length) + 4)) return D3DXERR_INVALIDDATA;
        if (type == ChunkType("IEND")) break;
        if (type == ChunkType("IDAT")) imageData = true;
        if (type == ChunkType("tRNS") && !imageData) transparency = true;
    }
    if (!imageData) return D3DXERR_INVALIDDATA;

    const uint64_t samples = colorType == 2 ? 3 : colorType == 4 ? 2 : colorType == 6 ? 4 : 1;
    const uint64_t rawBytes = height * (1 + (width * samples * depth + 7) / 8);
    if (rawBytes > kDeflateMaxRatio * size) return D3DXERR_INVALIDDATA;

    D3DFORMAT format;
    switch (colorType) {
        case 0: format = transparency ? D3DFMT_A8L8 : D3DFMT_L8; break;
        case 4: format = D3DFMT_A8L8; break;
        case 6: format = D3DFMT_A8R8G8B8; break;
        default: format = transparency ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8; break;
    }
    info = SingleImageInfo(width, height, format, D3DXIFF_PNG);
    return S_OK;
}

HRESULT DecodePng(const uint8_t* data, size_t size, UINT maxDimension, DecodedImage& image) {
    D3DXIMAGE_INFO info;
    HRESULT result = ReadPngInfo(data, size, maxDimension, info);
    if (FAILED(result)) return result;
    return DecodeWithStb(data, size, info, image);
}

HRESULT ReadJpegInfo(const uint8_t* data, size_t size, UINT maxDimension, D3DXIMAGE_INFO& info) {
    if (!IsJpegSignature(data, size) || size > INT_MAX) return D3DXERR_INVALIDDATA;
    if (!HuffmanTablesFitStb(data, size)) return D3DXERR_INVALIDDATA;
    int width = 0, height = 0, channels = 0;
    if (!stbi_info_from_memory(data, static_cast<int>(size), &width, &height, &channels)) return D3DXERR_INVALIDDATA;
    if (width <= 0 || height <= 0 || static_cast<UINT>(width) > maxDimension ||
        static_cast<UINT>(height) > maxDimension)
        return D3DXERR_INVALIDDATA;
    if (static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > kJpegMaxPixelsPerByte * size)
        return D3DXERR_INVALIDDATA;
    info = SingleImageInfo(static_cast<UINT>(width), static_cast<UINT>(height), channels == 1 ? D3DFMT_L8 : D3DFMT_X8R8G8B8,
                    D3DXIFF_JPG);
    return S_OK;
}

HRESULT DecodeJpeg(const uint8_t* data, size_t size, UINT maxDimension, DecodedImage& image) {
    D3DXIMAGE_INFO info;
    HRESULT result = ReadJpegInfo(data, size, maxDimension, info);
    if (FAILED(result)) return result;
    if (!HasEndOfImage(data, size)) return D3DXERR_INVALIDDATA;
    return DecodeWithStb(data, size, info, image);
}

}  // namespace lumaret::platform
