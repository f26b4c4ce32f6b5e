#include "app/DebugViews.h"

#include "app/TextPanel.h"
#include "render/PerfEvent.h"
#include "render/Renderer.h"
#include "render/ScreenQuadShaders.h"
#include "scene/World.h"

#include <algorithm>
#include <cstdlib>

namespace {

struct ViewRecipe {
    const char* name;
    const char* pixelShader;  // reads sampler 0 at the quad's texture coordinates
    bool pointSampled;
    DebugViewScaling scaling;
};

// The ZN target: normal in red and green as a sphere map, depth / 2048 in 16 bits (high
// byte in alpha, low byte in blue); alpha 255 is the clear value, "nothing here".
#define LUMARET_ZN_DECODE                                                            \
    "sampler s0 : register(s0);\n"                                                   \
    "float4 scaling : register(c0);\n"                                               \
    "float4 main(float2 uv : TEXCOORD0) : COLOR {\n"                                 \
    "    float4 g = tex2D(s0, uv);\n"                                                \
    "    float2 f = g.xy * 4.0 - 2.0;\n"                                             \
    "    float ff = dot(f, f);\n"                                                    \
    "    float3 n = float3(f * sqrt(max(1.0 - ff / 4.0, 0.0)), ff / 2.0 - 1.0);\n"   \
    "    float z = (g.a * 255.0 * 256.0 + g.b * 255.0) / 65535.0 * 2048.0;\n"        \
    "    bool nothing = g.a > 254.5 / 255.0;\n"

// Linear colour to the back buffer's sRGB-like encoding.
#define LUMARET_LINEAR_TEXTURE                            \
    "sampler s0 : register(s0);\n"                        \
    "float4 main(float2 uv : TEXCOORD0) : COLOR {\n"      \
    "    float3 c = saturate(tex2D(s0, uv).rgb);\n"       \
    "    return float4(pow(c, 1.0 / 2.2), 1.0);\n"        \
    "}\n"

const ViewRecipe kRecipes[] = {
    {"final", nullptr, false, DebugViewScaling::None},
    {"normals", LUMARET_ZN_DECODE "    return nothing ? float4(0, 0, 0, 1) : float4(n * 0.5 + 0.5, 1.0);\n}\n", true,
     DebugViewScaling::None},
    // The frame's nearest depth white, its farthest black: scaling = (nearest, 1 / range).
    {"depth", LUMARET_ZN_DECODE "    float grey = saturate(1.0 - (z - scaling.x) * scaling.y);\n"
                                "    return nothing ? float4(0, 0, 1, 1) : float4(grey, grey, grey, 1.0);\n}\n",
     true, DebugViewScaling::DepthRange},
    {"light",
     "sampler s0 : register(s0);\n"
     "float4 main(float2 uv : TEXCOORD0) : COLOR { return float4(tex2D(s0, uv).rgb, 1.0); }\n",
     true, DebugViewScaling::None},
    // Specular highlights are a few levels of alpha: the frame's brightest is shown white.
    {"specular",
     "sampler s0 : register(s0);\n"
     "float4 scaling : register(c0);\n"
     "float4 main(float2 uv : TEXCOORD0) : COLOR {\n"
     "    float a = pow(saturate(tex2D(s0, uv).a * scaling.x), 1.0 / 2.2);\n"
     "    return float4(a, a, a, 1.0);\n"
     "}\n",
     true, DebugViewScaling::SpecularPeak},
    {"scene", LUMARET_LINEAR_TEXTURE, true, DebugViewScaling::None},
    {"bloom", LUMARET_LINEAR_TEXTURE, false, DebugViewScaling::None},
    // The chain holds the down-sampled scene colour; its luminance is what exposure measures.
    {"luminance",
     "sampler s0 : register(s0);\n"
     "float4 main(float2 uv : TEXCOORD0) : COLOR {\n"
     "    float l = saturate(dot(tex2D(s0, uv).rgb, float3(0.2125, 0.7154, 0.0721)));\n"
     "    l = pow(l, 1.0 / 2.2);\n"
     "    return float4(l, l, l, 1.0);\n"
     "}\n",
     true, DebugViewScaling::None},
};
static_assert(sizeof(kRecipes) / sizeof(kRecipes[0]) == static_cast<size_t>(DebugView::Count));

int TargetOf(DebugView view, const World& world) {
    switch (view) {
    case DebugView::Normals:
    case DebugView::Depth: return world.znTarget;
    case DebugView::Light:
    case DebugView::Specular: return world.lightTarget;
    case DebugView::Scene: return world.postfx.sceneTarget;
    case DebugView::Bloom: return world.postfx.quarterTargets[2];
    case DebugView::Luminance: return world.postfx.chainTargets[1];
    default: return -1;
    }
}

}  // namespace

const char* DebugViewName(DebugView view) {
    int i = static_cast<int>(view);
    return i >= 0 && i < static_cast<int>(DebugView::Count) ? kRecipes[i].name : "";
}

DebugView DebugViewNamed(const std::string& name) {
    for (int i = 0; i < static_cast<int>(DebugView::Count); ++i)
        if (name == kRecipes[i].name) return static_cast<DebugView>(i);
    return DebugView::Count;
}

DebugViews::DebugViews() {
    const char* name = std::getenv("LUMARET_DEBUG_VIEW");
    DebugView named = name ? DebugViewNamed(name) : DebugView::Count;
    if (named != DebugView::Count) {
        current = named;
        chosen_ = true;
    }
}

void DebugViews::Next() {
    current = static_cast<DebugView>((static_cast<int>(current) + 1) % static_cast<int>(DebugView::Count));
    chosen_ = true;
}

void DebugViews::Previous() {
    int count = static_cast<int>(DebugView::Count);
    current = static_cast<DebugView>((static_cast<int>(current) + count - 1) % count);
    chosen_ = true;
}

void DebugViews::Release(Renderer& renderer) {
    for (int& copy : copies_) {
        if (copy >= 0) renderer.ReleaseRenderTarget(copy);
        copy = -1;
    }
    for (int64_t& at : copiedAt_) at = -1;
}

int DebugViews::CopyForScaling(Renderer& renderer, int target, DebugViewScaling scaling) {
    // A copy of the record: making a kept target below may move the registry's records.
    const RenderTarget source = renderer.renderTargets[static_cast<size_t>(target)];
    const size_t ring = static_cast<size_t>(kScalingLag) + 1;
    if (target != copiedTarget_ || scaling != copiedScaling_) {
        for (int64_t& at : copiedAt_) at = -1;
        copiedTarget_ = target;
        copiedScaling_ = scaling;
    }
    const int64_t frame = frame_++;
    const size_t slot = static_cast<size_t>(frame % static_cast<int64_t>(ring));
    if (copies_[slot] < 0 || renderer.renderTargets[static_cast<size_t>(copies_[slot])].width != source.width ||
        renderer.renderTargets[static_cast<size_t>(copies_[slot])].height != source.height) {
        if (copies_[slot] >= 0) renderer.ReleaseRenderTarget(copies_[slot]);
        copies_[slot] = renderer.CreateRenderTarget(PixelFormatA8R8G8B8, source.width, source.height, 0, true);
        renderer.NameRenderTarget(copies_[slot], "debug view scaling copy");
    }
    const RenderTarget& copy = renderer.renderTargets[static_cast<size_t>(copies_[slot])];
    if (FAILED(renderer.device->StretchRect(source.surface, nullptr, copy.surface, nullptr, D3DTEXF_POINT))) return -1;
    copiedAt_[slot] = frame;
    for (size_t i = 0; i < ring; ++i)
        if (copiedAt_[i] >= 0 && copiedAt_[i] == frame - kScalingLag) return copies_[i];
    return copies_[slot];
}

D3DXVECTOR4 DebugViews::MeasureScaling(Renderer& renderer, int target, DebugViewScaling scaling) {
    D3DXVECTOR4 none(0.0f, 0.0f, 0.0f, 0.0f);
    if (scaling == DebugViewScaling::None || target < 0 || target >= static_cast<int>(renderer.renderTargets.size()))
        return none;
    const RenderTarget source = renderer.renderTargets[static_cast<size_t>(target)];
    if (source.format != D3DFMT_A8R8G8B8) return none;
    int copy = CopyForScaling(renderer, target, scaling);
    if (copy < 0) return none;
    int pitch = 0;
    const auto* pixels = static_cast<const uint8_t*>(renderer.LockRenderTarget(copy, &pitch));
    // Bytes B, G, R, A per pixel.
    int nearest = 65535, farthest = -1, peak = 0;
    for (int y = 0; y < source.height; ++y) {
        const uint8_t* row = pixels + static_cast<ptrdiff_t>(y) * pitch;
        for (int x = 0; x < source.width; ++x) {
            const uint8_t* pixel = row + 4 * x;
            if (scaling == DebugViewScaling::SpecularPeak) {
                peak = std::max<int>(peak, pixel[3]);
            } else if (pixel[3] != 255) {
                int depth = pixel[3] * 256 + pixel[0];
                nearest = std::min(nearest, depth);
                farthest = std::max(farthest, depth);
            }
        }
    }
    renderer.UnlockRenderTarget(copy);
    if (scaling == DebugViewScaling::SpecularPeak) return D3DXVECTOR4(peak > 0 ? 255.0f / static_cast<float>(peak) : 1.0f, 0, 0, 0);
    if (farthest < 0) return none;
    constexpr float kUnitsPerStep = 2048.0f / 65535.0f;
    float range = static_cast<float>(farthest - nearest) * kUnitsPerStep;
    // One depth everywhere shows white; the shader's own decode rounds, hence half a step.
    return D3DXVECTOR4(static_cast<float>(nearest) * kUnitsPerStep - 0.5f * kUnitsPerStep,
                       range > 0.0f ? 1.0f / range : 0.0f, 0.0f, 0.0f);
}

void DebugViews::Draw(Renderer& renderer, const World& world, const TextOverlay& text, int width, int height) {
    // The final image is labelled only once the user has chosen views, so the demo's own
    // frames stay untouched.
    if (current == DebugView::Final) {
        if (chosen_) DrawTextPanel(renderer, text, kRecipes[0].name, PanelCorner::TopCentre, width, height, vertices_);
        return;
    }
    if (!compiled_) {
        // Compiled the first time a view is asked for, so runs without views are untouched.
        compiled_ = true;
        for (int i = 1; i < static_cast<int>(DebugView::Count); ++i)
            shaders_[i] = renderer.CreateShader(kScreenQuadVertexShader, kRecipes[i].pixelShader,
                                                (std::string("debug view ") + kRecipes[i].name).c_str());
        params_.stateFlags = kStateOpaqueNoDepth;
        Renderer::BuildStateList(params_);
    }
    int view = static_cast<int>(current);
    int target = TargetOf(current, world);
    if (target < 0 || shaders_[view] < 0) return;
    PerfEvent event(L"Debug view");
    D3DXVECTOR4 scaling = MeasureScaling(renderer, target, kRecipes[view].scaling);
    renderer.SetRenderTargetTexture(0, target);
    renderer.SetSamplerFlags(0, kRecipes[view].pointSampled ? SamplerClamp : SamplerLinear | SamplerClamp);
    renderer.SetShader(shaders_[view]);
    renderer.ApplyShaderParams(shaders_[view], params_);
    if (kRecipes[view].scaling != DebugViewScaling::None) renderer.device->SetPixelShaderConstantF(0, scaling, 1);
    renderer.DrawFullScreenQuad();
    renderer.SetRenderTargetTexture(0, -1);
    renderer.SetSamplerFlags(0, SamplerLinear | SamplerLinearMip);
    DrawTextPanel(renderer, text, kRecipes[view].name, PanelCorner::TopCentre, width, height, vertices_);
}
