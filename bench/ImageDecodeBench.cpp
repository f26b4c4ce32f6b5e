// Image decoding throughput in megapixels per second: PNG, JPG, DDS (and BMP, TGA for
// comparison), 1024 x 1024 images made in memory at start-up, decoded by the layer behind
// D3DXCreateTextureFromFileInMemory. The "WithMipChain" cases add the box-filtered chain a
// single-level file gets, which for DXT means decoding and encoding every smaller level.
#include "d3dx9/DdsBlocks.h"
#include "d3dx9/ImageDecoder.h"
#include "d3dx9/ImageMipChain.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace {

using lumaret::platform::DecodedImage;

constexpr int kSize = 1024;

// Smooth gradients with a little noise and some hard edges: neither flat nor random, as
// textures are. Bytes R, G, B, A.
std::vector<uint8_t> MakePixels() {
    std::vector<uint8_t> rgba(static_cast<size_t>(kSize) * kSize * 4);
    uint32_t noise = 12345;
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            noise = noise * 1664525u + 1013904223u;
            uint8_t* p = &rgba[(static_cast<size_t>(y) * kSize + x) * 4];
            bool stripe = ((x / 64) + (y / 64)) % 2 == 0;
            p[0] = static_cast<uint8_t>(x / 4 + (noise >> 29));
            p[1] = static_cast<uint8_t>(y / 4 + (stripe ? 40 : 0));
            p[2] = static_cast<uint8_t>((x + y) / 8 + (noise >> 30));
            p[3] = static_cast<uint8_t>(stripe ? 255 : 128 + x / 8);
        }
    }
    return rgba;
}

const std::vector<uint8_t>& Pixels() {
    static const std::vector<uint8_t> pixels = MakePixels();
    return pixels;
}

void AppendToString(void* context, void* data, int size) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<size_t>(size));
}

std::string MakePng() {
    std::string file;
    stbi_write_png_to_func(AppendToString, &file, kSize, kSize, 4, Pixels().data(), kSize * 4);
    return file;
}

std::string MakeJpeg() {
    std::string file;
    stbi_write_jpg_to_func(AppendToString, &file, kSize, kSize, 4, Pixels().data(), 90);
    return file;
}

std::string MakeTga() {
    std::string file;
    stbi_write_tga_to_func(AppendToString, &file, kSize, kSize, 4, Pixels().data());
    return file;
}

std::string MakeBmp() {
    std::string file;
    stbi_write_bmp_to_func(AppendToString, &file, kSize, kSize, 3, Pixels().data());
    return file;
}

void PutU32(std::string& file, uint32_t value) {
    for (int i = 0; i < 4; ++i) file.push_back(static_cast<char>(value >> (8 * i)));
}

// A DDS file of one level: DXT blocks encoded here, or A8R8G8B8 texels.
std::string MakeDds(D3DFORMAT format) {
    std::string file = "DDS ";
    PutU32(file, 124);
    PutU32(file, 0x1 | 0x2 | 0x4 | 0x1000);
    PutU32(file, kSize);
    PutU32(file, kSize);
    for (int i = 0; i < 3 + 11; ++i) PutU32(file, 0);  // pitch, depth, mip count, reserved
    PutU32(file, 32);
    const bool compressed = format != D3DFMT_A8R8G8B8;
    PutU32(file, compressed ? 0x4 : 0x41);
    PutU32(file, compressed ? static_cast<uint32_t>(format) : 0);
    PutU32(file, compressed ? 0 : 32);
    const uint32_t masks[4] = {0xff0000, 0xff00, 0xff, 0xff000000};
    for (uint32_t mask : masks) PutU32(file, compressed ? 0 : mask);
    PutU32(file, 0x1000);
    for (int i = 0; i < 4; ++i) PutU32(file, 0);
    if (compressed) {
        auto surface = lumaret::platform::EncodeDxtSurface(format, Pixels().data(), kSize, kSize);
        file.append(reinterpret_cast<const char*>(surface.bytes.data()), surface.bytes.size());
    } else {
        for (size_t i = 0; i < Pixels().size(); i += 4) {
            const uint8_t* p = &Pixels()[i];
            const char bgra[4] = {char(p[2]), char(p[1]), char(p[0]), char(p[3])};
            file.append(bgra, 4);
        }
    }
    return file;
}

void Decode(benchmark::State& state, const std::string& file, bool withMipChain) {
    for (auto _ : state) {
        DecodedImage image;
        if (FAILED(lumaret::platform::DecodeImage(file.data(), file.size(), image))) {
            state.SkipWithError("decoding failed");
            break;
        }
        if (withMipChain) lumaret::platform::GenerateMipChain(image);
        benchmark::DoNotOptimize(image.surfaces.data());
    }
    const double pixels = static_cast<double>(kSize) * kSize;
    state.counters["Mpixel/s"] =
        benchmark::Counter(pixels * static_cast<double>(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<int64_t>(file.size()) * state.iterations());
    state.SetLabel(std::to_string(file.size() / 1024) + " KiB file");
}

void BM_DecodePng(benchmark::State& state) {
    static const std::string file = MakePng();
    Decode(state, file, false);
}
void BM_DecodeJpeg(benchmark::State& state) {
    static const std::string file = MakeJpeg();
    Decode(state, file, false);
}
void BM_DecodeDdsDxt1(benchmark::State& state) {
    static const std::string file = MakeDds(D3DFMT_DXT1);
    Decode(state, file, false);
}
void BM_DecodeDdsDxt5(benchmark::State& state) {
    static const std::string file = MakeDds(D3DFMT_DXT5);
    Decode(state, file, false);
}
void BM_DecodeDdsA8R8G8B8(benchmark::State& state) {
    static const std::string file = MakeDds(D3DFMT_A8R8G8B8);
    Decode(state, file, false);
}
void BM_DecodeTgaRle(benchmark::State& state) {
    static const std::string file = MakeTga();
    Decode(state, file, false);
}
void BM_DecodeBmp(benchmark::State& state) {
    static const std::string file = MakeBmp();
    Decode(state, file, false);
}
void BM_DecodePngWithMipChain(benchmark::State& state) {
    static const std::string file = MakePng();
    Decode(state, file, true);
}
void BM_DecodeDdsDxt5WithMipChain(benchmark::State& state) {
    static const std::string file = MakeDds(D3DFMT_DXT5);
    Decode(state, file, true);
}

}  // namespace

BENCHMARK(BM_DecodePng)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeJpeg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeDdsDxt1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeDdsDxt5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeDdsA8R8G8B8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeTgaRle)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBmp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodePngWithMipChain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeDdsDxt5WithMipChain)->Unit(benchmark::kMillisecond);
