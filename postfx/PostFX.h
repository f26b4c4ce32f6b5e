// PostFX: the chain that turns the frame the scene passes drew into the full-size scene
// target into the image on the bound target (the back buffer).
//
// Each frame it reduces the scene to a quarter-size copy and, through two further 4 x 4
// reductions, to a tiny image read back to measure the frame's log-average luminance; it
// blurs the quarter-size copy (3 x 3 Gaussian, then a separable 15-tap Gaussian); and it
// composites scene, blurred copies, luminance and the bloom factor with
// ./data/PostProcess.hlsl. Sizes are fixed when the chain is set up. The state lives in
// the World; the World's pipeline set-up creates the pass-through shader.
#pragma once

#include "resources/ShaderParams.h"

#include <d3dx9.h>

#include <cstdint>

// Taps of a 4 x 4 box filter over a source of sw x sh texels: entry r * 4 + c is
// ((c - 1.5) / sw, (r - 1.5) / sh).
void BoxOffsets4x4(int sourceWidth, int sourceHeight, D3DXVECTOR2 offsets[16]);
// A 3 x 3 Gaussian (sigma 1) on a w x h image, normalised, then scaled by factor.
void Gaussian3x3(int width, int height, float factor, D3DXVECTOR2 offsets[9], D3DXVECTOR4 weights[9]);
// A 15-tap Gaussian: entry 0 at 0, entries 1-7 at +i/size, 8-14 at -i/size, weights
// factor * exp(-i^2 / (2 sigma^2)) / sqrt(2 pi sigma^2), not normalised. Entry 15 is not
// written.
void Gaussian1D(int size, float sigma, float factor, float positions[16], D3DXVECTOR4 weights[16]);

struct PostFX {
    int quarterWidth = 0, quarterHeight = 0;
    D3DXVECTOR2 boxOffsets[16];
    D3DXVECTOR2 gaussOffsets[9];
    D3DXVECTOR4 gaussWeights[9];
    float scratch[16] = {};
    D3DXVECTOR2 horizontalOffsets[16];
    D3DXVECTOR4 horizontalWeights[16];
    D3DXVECTOR2 verticalOffsets[16];
    D3DXVECTOR4 verticalWeights[16];
    int sceneTarget = -1;
    int quarterTargets[3] = {-1, -1, -1};  // A, B, C
    int chainTargets[2] = {-1, -1};        // chain 1 is readable
    D3DXVECTOR2 chainOffsets[2][16];
    int downSampleShader = -1, gaussShader = -1, blurShader = -1, compositeShader = -1;
    ShaderParams params;
    int passThroughShader = -1;
    float luminance = 0.0f;  // the last frame's log-average luminance

    void Init();
    // The scene target holds the frame and the receiving target is bound.
    void Apply(float postFactor);
    void Release();
    void DownSample(int source, int destination, const D3DXVECTOR2* offsets);
    void Blur(int source, int destination, bool vertical);
    // One filter pass: source on stage 0 (point sampling, clamped), the taps and weights
    // as floatArray and floatArray2, a width x height screen quad into destination.
    void FilterPass(int source, int destination, int shader, const float* taps, uint32_t tapFloats,
                    const float* weights, uint32_t weightFloats, int width, int height);
    // Reads chain 1 back: exp of the mean of ln(0.0001 + luminance) over its pixels.
    float MeasureLuminance();
};
