#include "app/DebugViews.h"

#include "app/StatsOverlay.h"
#include "render/PerfEvent.h"
#include "render/Renderer.h"
#include "render/ScreenQuadShaders.h"
#include "scene/World.h"

#include <cstdlib>

namespace {

struct ViewRecipe {
    const char* name;
    const char* pixelShader;  // reads sampler 0 at the quad's texture coordinates
    bool pointSampled;
};

// The ZN target: normal in red and green as a sphere map, depth / 2048 in 16 bits (high
// byte in alpha, low byte in blue); alpha 255 is the clear value, "nothing here".
#define LUMARET_ZN_DECODE                                                            \
    "sampler s0 : register(s0);\n"                                                   \
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
    {"final", nullptr, false},
    {"normals", LUMARET_ZN_DECODE "    return nothing ? float4(0, 0, 0, 1) : float4(n * 0.5 + 0.5, 1.0);\n}\n", true},
    // The demo camera's far plane is 2000 units away.
    {"depth", LUMARET_ZN_DECODE "    float grey = saturate(1.0 - z / 2000.0);\n"
                                "    return nothing ? float4(0, 0, 1, 1) : float4(grey, grey, grey, 1.0);\n}\n",
     true},
    {"light",
     "sampler s0 : register(s0);\n"
     "float4 main(float2 uv : TEXCOORD0) : COLOR { return float4(tex2D(s0, uv).rgb, 1.0); }\n",
     true},
    {"specular",
     "sampler s0 : register(s0);\n"
     "float4 main(float2 uv : TEXCOORD0) : COLOR { float a = tex2D(s0, uv).a; return float4(a, a, a, 1.0); }\n",
     true},
    {"scene", LUMARET_LINEAR_TEXTURE, true},
    {"bloom", LUMARET_LINEAR_TEXTURE, false},
    {"luminance", LUMARET_LINEAR_TEXTURE, true},
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
    if (named != DebugView::Count) current = named;
}

void DebugViews::Next() {
    current = static_cast<DebugView>((static_cast<int>(current) + 1) % static_cast<int>(DebugView::Count));
}

void DebugViews::Previous() {
    int count = static_cast<int>(DebugView::Count);
    current = static_cast<DebugView>((static_cast<int>(current) + count - 1) % count);
}

void DebugViews::Draw(Renderer& renderer, const World& world, const TextOverlay& text, int width, int height) {
    if (current == DebugView::Final) return;
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
    renderer.SetRenderTargetTexture(0, target);
    renderer.SetSamplerFlags(0, kRecipes[view].pointSampled ? SamplerClamp : SamplerLinear | SamplerClamp);
    renderer.SetShader(shaders_[view]);
    renderer.ApplyShaderParams(shaders_[view], params_);
    renderer.DrawFullScreenQuad();
    renderer.SetRenderTargetTexture(0, -1);
    renderer.SetSamplerFlags(0, SamplerLinear | SamplerLinearMip);
    DrawTextPanel(renderer, text, kRecipes[view].name, PanelCorner::TopCentre, width, height, vertices_);
}
