#include "postfx/PostFX.h"

#include "app/Log.h"
#include "render/PerfEvent.h"
#include "render/Renderer.h"
#include "render/ScreenQuadShaders.h"

#include <cmath>
#include <cstdint>
#include <string>

namespace {

const char* const kDownSamplePixelShader =
    "float2 floatArray[16];\nsampler s0 : register(s0);\n\nfloat4 main(float2 vScreenPosition : TEXCOORD0) : COLOR "
    "{\n\tfloat4 sample = 0.0f;\n\tfor( int i=0; i < 16; i++ ) {\n\tsample += tex2D( s0, vScreenPosition + "
    "floatArray[i] );\n\t}\n\treturn sample / 16;\n}\n\n";
const char* const kGaussPixelShader =
    "float2 floatArray[9];\nfloat4 floatArray2[9];\nsampler s0 : register(s0);\n\nfloat4 main(float2 vScreenPosition "
    ": TEXCOORD0) : COLOR {\n\tfloat4 sample = 0.0f;\n\tfor( int i=0; i < 9; i++ ) {\n\t\tsample += (floatArray2[i] "
    "* tex2D( s0, vScreenPosition + floatArray[i] ));\n\t}\n\treturn sample;\n}\n\n";
const char* const kBlurPixelShader =
    "float2 floatArray[16];\nfloat4 floatArray2[16];\nsampler s0 : register(s0);\n\nfloat4 main(float2 "
    "vScreenPosition : TEXCOORD0) : COLOR {\n\tfloat4 sample = 0.0f;\n\tfor( int i=0; i < 15; i++ ) {\n\t\tsample += "
    "(floatArray2[i] * tex2D( s0, vScreenPosition + floatArray[i] ));\n\t}\n\treturn sample;\n}\n\n";

constexpr uint32_t kClearAll = ClearColor | ClearDepth | ClearStencil;
constexpr float kPi = 3.14159265358979f;

const float* Floats(const D3DXVECTOR2* v) { return &v->x; }
const float* Floats(const D3DXVECTOR4* v) { return &v->x; }

}  // namespace

void BoxOffsets4x4(int sourceWidth, int sourceHeight, D3DXVECTOR2 offsets[16]) {
    float sw = static_cast<float>(sourceWidth), sh = static_cast<float>(sourceHeight);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            offsets[r * 4 + c] = D3DXVECTOR2((static_cast<float>(c) - 1.5f) / sw, (static_cast<float>(r) - 1.5f) / sh);
}

void Gaussian3x3(int width, int height, float factor, D3DXVECTOR2 offsets[9], D3DXVECTOR4 weights[9]) {
    float w = static_cast<float>(width), h = static_cast<float>(height);
    float sum = 0.0f;
    for (int i = -1; i <= 1; ++i)
        for (int j = -1; j <= 1; ++j) {
            int k = (i + 1) * 3 + (j + 1);
            offsets[k] = D3DXVECTOR2(static_cast<float>(i) / w, static_cast<float>(j) / h);
            float g = std::exp(-static_cast<float>(i * i + j * j) / 2.0f) / std::sqrt(2.0f * kPi);
            weights[k] = D3DXVECTOR4(g, g, g, g);
            sum += g;
        }
    for (int k = 0; k < 9; ++k) weights[k] = weights[k] / sum * factor;
}

void Gaussian1D(int size, float sigma, float factor, float positions[16], D3DXVECTOR4 weights[16]) {
    auto g = [&](int i) {
        float x = static_cast<float>(i);
        return factor * std::exp(-(x * x) / (2.0f * sigma * sigma)) / std::sqrt(2.0f * kPi * sigma * sigma);
    };
    positions[0] = 0.0f;
    weights[0] = D3DXVECTOR4(g(0), g(0), g(0), 1.0f);
    for (int i = 1; i < 8; ++i) {
        float gi = g(i);
        positions[i] = static_cast<float>(i) / static_cast<float>(size);
        weights[i] = D3DXVECTOR4(gi, gi, gi, 1.0f);
        positions[i + 7] = -positions[i];
        weights[i + 7] = weights[i];
    }
}

void PostFX::Init() {
    int width = gRenderer->width, height = gRenderer->height;
    quarterWidth = width / 4;
    quarterHeight = height / 4;
    sceneTarget = gRenderer->CreateRenderTarget(PixelFormatA16B16G16R16, width, height, PixelFormatD24S8, false);
    gRenderer->NameRenderTarget(sceneTarget, "scene target");
    Log::Write("\nEngine: Creating downsampled rendertargets (%dx%d)...\n", quarterWidth, quarterHeight);
    for (int i = 0; i < 3; ++i) {
        quarterTargets[i] = gRenderer->CreateRenderTarget(PixelFormatA16B16G16R16, quarterWidth, quarterHeight,
                                                          PixelFormatD24S8, false);
        gRenderer->NameRenderTarget(quarterTargets[i], std::string("quarter target ") + "ABC"[i]);
    }
    BoxOffsets4x4(width, height, boxOffsets);
    Gaussian3x3(quarterWidth, quarterHeight, 1.0f, gaussOffsets, gaussWeights);
    Log::Write("Engine: Creating chain of downsampled rendertargets:\n");
    for (int i = 0; i < 2; ++i) {
        float divisor = i == 0 ? 4.0f : 16.0f;
        int cw = static_cast<int>(static_cast<float>(quarterWidth) / divisor);
        int ch = static_cast<int>(static_cast<float>(quarterHeight) / divisor);
        Log::Write("Buffer %d: %dx%d (prev: %dx%d)\n", i, cw, ch, 4 * cw, 4 * ch);
        chainTargets[i] = gRenderer->CreateRenderTarget(PixelFormatA16B16G16R16, cw, ch, PixelFormatD24S8, i == 1);
        gRenderer->NameRenderTarget(chainTargets[i], "chain target " + std::to_string(i));
        BoxOffsets4x4(4 * cw, 4 * ch, chainOffsets[i]);
    }
    Gaussian1D(quarterWidth, 3.0f, 1.0f, scratch, horizontalWeights);
    for (int k = 0; k < 16; ++k) horizontalOffsets[k] = D3DXVECTOR2(scratch[k], 0.0f);
    Gaussian1D(quarterHeight, 3.0f, 1.0f, scratch, verticalWeights);
    for (int k = 0; k < 16; ++k) verticalOffsets[k] = D3DXVECTOR2(0.0f, scratch[k]);
    downSampleShader = gRenderer->CreateShader(kScreenQuadVertexShader, kDownSamplePixelShader, "PostFX down-sample");
    gaussShader = gRenderer->CreateShader(kScreenQuadVertexShader, kGaussPixelShader, "PostFX 3x3 Gaussian");
    blurShader = gRenderer->CreateShader(kScreenQuadVertexShader, kBlurPixelShader, "PostFX 15-tap blur");
    compositeShader = gRenderer->FindShader("./data/PostProcess.hlsl");
    if (compositeShader < 0)
        Log::Write("Engine: ./data/PostProcess.hlsl is not loaded; the scene is copied to the screen unchanged.\n");
    params.stateFlags = kStateOpaqueNoDepth;
    Renderer::BuildStateList(params);
    Log::Write("Engine: PostFX initialized.\n\n");
}

void PostFX::FilterPass(int source, int destination, int shader, const float* taps, uint32_t tapFloats,
                        const float* weights, uint32_t weightFloats, int width, int height) {
    gRenderer->BeginRenderTarget(destination, 0);
    gRenderer->Clear(kClearAll, 0xFF000000, 0);
    gRenderer->SetRenderTargetTexture(0, source);
    gRenderer->SetSamplerFlags(0, SamplerClamp);
    params.floatArray = taps;
    params.floatArrayCount = tapFloats;
    params.floatArray2 = weights;
    params.floatArray2Count = weightFloats;
    gRenderer->SetShader(shader);
    gRenderer->ApplyShaderParams(shader, params);
    gRenderer->DrawScreenQuad(width, height);
    gRenderer->EndRenderTarget(destination, 0);
}

void PostFX::DownSample(int source, int destination, const D3DXVECTOR2* offsets) {
    int width = 0, height = 0;
    gRenderer->GetRenderTargetSize(destination, &width, &height);
    FilterPass(source, destination, downSampleShader, Floats(offsets), 32, nullptr, 0, width, height);
}

void PostFX::Blur(int source, int destination, bool vertical) {
    FilterPass(source, destination, blurShader, Floats(vertical ? verticalOffsets : horizontalOffsets), 32,
               Floats(vertical ? verticalWeights : horizontalWeights), 64, quarterWidth, quarterHeight);
}

float PostFX::MeasureLuminance() {
    int cw = 0, ch = 0, pitch = 0;
    gRenderer->GetRenderTargetSize(chainTargets[1], &cw, &ch);
    const uint8_t* rows = static_cast<const uint8_t*>(gRenderer->LockRenderTarget(chainTargets[1], &pitch));
    float sum = 0.0f;
    for (int y = 0; y < ch; ++y) {
        const uint16_t* pixel = reinterpret_cast<const uint16_t*>(rows + static_cast<ptrdiff_t>(y) * pitch);
        for (int x = 0; x < cw; ++x, pixel += 4) {
            float luminance = 0.2125f * pixel[0] + 0.7154f * pixel[1] + 0.0721f * pixel[2];
            sum += std::log(0.0001f + luminance * 1.5259022e-05f);
        }
    }
    gRenderer->UnlockRenderTarget(chainTargets[1]);
    int n = cw * ch;
    return n > 0 ? std::exp(sum / static_cast<float>(n)) : 0.0001f;
}

void PostFX::Apply(float postFactor) {
    PerfEvent event(L"PostFX");
    auto [a, b, c] = quarterTargets;
    {
        PerfEvent step(L"Down-sample to quarter size");
        DownSample(sceneTarget, a, boxOffsets);
    }
    {
        PerfEvent step(L"Down-sample chain");
        DownSample(a, chainTargets[0], chainOffsets[0]);
        DownSample(chainTargets[0], chainTargets[1], chainOffsets[1]);
    }
    {
        PerfEvent step(L"Luminance read-back");
        luminance = MeasureLuminance();
    }
    {
        PerfEvent step(L"Blur 3x3");
        FilterPass(a, b, gaussShader, Floats(gaussOffsets), 18, Floats(gaussWeights), 36, quarterWidth, quarterHeight);
    }
    {
        PerfEvent step(L"Blur horizontal");
        Blur(b, a, false);
    }
    {
        PerfEvent step(L"Blur vertical");
        Blur(a, c, true);
    }

    // Composite into the caller's target; without PostProcess.hlsl the scene is copied.
    PerfEvent step(L"Composite");
    params.floatArray = nullptr;
    params.floatArray2 = nullptr;
    params.floatArrayCount = 0;
    params.floatArray2Count = 0;
    gRenderer->SetRenderTargetTexture(0, sceneTarget);
    gRenderer->SetRenderTargetTexture(1, b);
    gRenderer->SetRenderTargetTexture(2, c);
    for (int stage = 0; stage < 3; ++stage) gRenderer->SetSamplerFlags(stage, SamplerLinear);
    int composite = compositeShader >= 0 ? compositeShader : passThroughShader;
    gRenderer->SetShader(composite);
    params.values[ParamParamsAUX].vector = D3DXVECTOR4(luminance, postFactor, 0.0f, 0.0f);
    params.values[ParamParamsDOF].vector =
        D3DXVECTOR4(1.0f / static_cast<float>(gRenderer->width), 1.0f / static_cast<float>(gRenderer->height),
                    1.0f / static_cast<float>(quarterWidth), 1.0f / static_cast<float>(quarterHeight));
    gRenderer->ApplyShaderParams(composite, params);
    gRenderer->DrawFullScreenQuad();
    for (int stage = 0; stage < 3; ++stage) {
        gRenderer->SetRenderTargetTexture(stage, -1);
        gRenderer->SetSamplerFlags(stage, SamplerLinear | SamplerLinearMip);
    }
}

void PostFX::Release() {
    for (int target :
         {sceneTarget, quarterTargets[0], quarterTargets[1], quarterTargets[2], chainTargets[0], chainTargets[1]})
        if (target >= 0) gRenderer->ReleaseRenderTarget(target);
    for (int shader : {passThroughShader, downSampleShader, gaussShader, blurShader, compositeShader})
        gRenderer->ReleaseShader(shader);
    Log::Write("Engine: PostFX released.\n");
}
