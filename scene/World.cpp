#include "scene/World.h"

#include "app/Log.h"
#include "render/PerfEvent.h"
#include "render/Renderer.h"
#include "render/ScreenQuadShaders.h"
#include "resources/FileUtil.h"
#include "scene/Camera.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

World* gWorld = nullptr;

namespace {

float gAnimationTime = 0.0f;

constexpr float kAnimationEnd = 600.0f;

// clang-format off
const D3DVERTEXELEMENT9 kDeclarationA[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0},
    {0, 24, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    D3DDECL_END()};
const D3DVERTEXELEMENT9 kDeclarationB[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_UBYTE4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0},
    {0, 16, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    {0, 24, D3DDECLTYPE_SHORT2N, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 1},
    {0, 28, D3DDECLTYPE_UBYTE4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 2},
    D3DDECL_END()};
const D3DVERTEXELEMENT9 kDeclarationC[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0},
    {0, 24, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    {0, 32, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_BLENDWEIGHT, 0},
    {0, 48, D3DDECLTYPE_UBYTE4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_BLENDINDICES, 0},
    D3DDECL_END()};
const D3DVERTEXELEMENT9 kDeclarationLines[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
    D3DDECL_END()};
// clang-format on

constexpr uint32_t kClearAll = ClearColor | ClearDepth | ClearStencil;
constexpr D3DCOLOR kZNClearColor = 0xff800000;  // decodes as "no surface"

// A pass shader from the data folder; a missing file leaves its pass drawing nothing.
int FindPassShader(const char* path, const char* pass) {
    int shader = gRenderer->FindShader(path);
    if (shader < 0) Log::Write("World::InitPipeline: %s is not loaded; the %s pass draws nothing.\n", path, pass);
    return shader;
}

void SetUpPassBlock(ShaderParams& block, uint32_t stateFlags) {
    block.stateFlags = stateFlags;
    Renderer::BuildStateList(block);
}

D3DXMATRIX Multiply(const D3DXMATRIX& a, const D3DXMATRIX& b) {
    D3DXMATRIX product;
    D3DXMatrixMultiply(&product, &a, &b);
    return product;
}

// transpose(inverse(m)); a singular matrix leaves the identity's transpose.
D3DXMATRIX InverseTranspose(const D3DXMATRIX& m) {
    D3DXMATRIX inverse, result;
    D3DXMatrixIdentity(&inverse);
    D3DXMatrixInverse(&inverse, nullptr, &m);
    D3DXMatrixTranspose(&result, &inverse);
    return result;
}

// The terms of a light that PassLight.hlsl and PassBlendMaterial.hlslv read besides its
// place and colour: 1 / range^2 (0: the fixed reach, below 0: directional), the view-space
// direction it shines, and the cone (ConeTerms).
struct LightTerms {
    float invRangeSq = 0.0f;
    D3DXVECTOR3 direction{0.0f, 0.0f, 1.0f};
    D3DXVECTOR2 cone;
};

LightTerms TermsOf(const Light& light, const D3DXMATRIX& view) {
    LightTerms terms;
    if (HasRange(light)) terms.invRangeSq = 1.0f / (light.range * light.range);
    if (light.kind == LightKind::Directional) terms.invRangeSq = -1.0f;
    if (light.kind == LightKind::Spot || light.kind == LightKind::Directional) {
        D3DXVECTOR3 shines;
        D3DXVec3TransformNormal(&shines, &light.direction, &view);
        D3DXVec3Normalize(&terms.direction, &shines);
    }
    terms.cone = ConeTerms(light);
    return terms;
}

}  // namespace

float AnimationTime() { return gAnimationTime; }
void ResetAnimationClock() { gAnimationTime = 0.0f; }
float AnimationCycleTicks() { return kAnimationEnd; }
void SetAnimationTime(float ticks) {
    float wrapped = std::fmod(ticks, kAnimationEnd);
    gAnimationTime = wrapped < 0.0f ? wrapped + kAnimationEnd : wrapped;
}

World::World() {
    D3DXMatrixIdentity(&view);
    D3DXMatrixIdentity(&projection);
    D3DXMatrixIdentity(&viewProjection);
}

World::~World() {
    for (Mesh* mesh : meshes) {
        if (!mesh) continue;  // released with its scene
        mesh->Release();
        delete mesh;
    }
    for (Skin* skin : skins) delete skin;
    for (MeshOutline* outline : outlines) delete outline;
    for (Renderable* renderable : renderables) delete renderable;
    for (AnimationController* controller : controllers) delete controller;
    for (SkinPalette* palette : palettes) delete palette;
    for (Zone* zone : zones) delete zone;
    for (SceneObject* object : objects) delete object;
    if (!gRenderer) return;
    // The device holds what is bound, as Direct3D 9 does; let go of the last frame's
    // geometry, textures and shaders so that releasing them below really frees them.
    IDirect3DDevice9* device = gRenderer->device;
    for (DWORD stage = 0; stage < kShaderTextureStages; ++stage) device->SetTexture(stage, nullptr);
    device->SetStreamSource(0, nullptr, 0, 0);
    device->SetIndices(nullptr);
    device->SetVertexDeclaration(nullptr);
    device->SetVertexShader(nullptr);
    device->SetPixelShader(nullptr);
    for (IDirect3DVertexDeclaration9*& declaration : declarations) {
        if (declaration) gRenderer->ReleaseVertexDecl(declaration);
        declaration = nullptr;
    }
    if (znTarget >= 0) gRenderer->ReleaseRenderTarget(znTarget);
    if (lightTarget >= 0) gRenderer->ReleaseRenderTarget(lightTarget);
    gRenderer->ReleaseShader(znShader);
    gRenderer->ReleaseShader(lightShader);
    gRenderer->ReleaseShader(forwardShader);
    gRenderer->ReleaseShader(boundedLightShader);
    for (int shader : materialShaders) gRenderer->ReleaseShader(shader);
    gRenderer->ReleaseShader(linesPointsShader);
    if (lightQuadDeclaration) gRenderer->ReleaseVertexDecl(lightQuadDeclaration);
    lightQuadDeclaration = nullptr;
    postfx.Release();
}

void World::InitPipeline() {
    declarations[DeclarationA] = gRenderer->CreateVertexDecl(kDeclarationA);
    declarations[DeclarationB] = gRenderer->CreateVertexDecl(kDeclarationB);
    declarations[DeclarationC] = gRenderer->CreateVertexDecl(kDeclarationC);
    znTarget = gRenderer->CreateRenderTarget(PixelFormatA8R8G8B8, gRenderer->width, gRenderer->height, PixelFormatD24S8,
                                             false);
    lightTarget = gRenderer->CreateRenderTarget(PixelFormatA8R8G8B8, gRenderer->width, gRenderer->height,
                                                PixelFormatD24S8, false);
    gRenderer->NameRenderTarget(znTarget, "ZN target");
    gRenderer->NameRenderTarget(lightTarget, "light target");
    postfx.passThroughShader =
        gRenderer->CreateShader(kScreenQuadVertexShader, kPassThroughPixelShader, "pass-through");
    znShader = FindPassShader("./data/PassZN.hlsl", "ZN");
    SetUpPassBlock(znParams, kStateOpaque);
    lightShader = FindPassShader("./data/PassLight.hlsl", "light");
    SetUpPassBlock(lightParams, kStateAdditiveNoDepth);
    // Optional: without it, lights with a range are drawn as full-screen quads.
    boundedLightShader = gRenderer->FindShader("./data/PassLightBounded.hlsl");
    if (boundedLightShader >= 0) lightQuadDeclaration = gRenderer->CreateVertexDecl(kLightQuadElements);
    SetUpPassBlock(boundedLightParams, kStateAdditiveDepthTest);
    forwardShader = FindPassShader("./data/PassForward.hlsl", "forward");
    SetUpPassBlock(forwardParams, kStateOpaque);
    postfx.Init();
}

IDirect3DVertexDeclaration9* World::MeshDeclaration(bool skinned, bool colored) {
    if (!colored) return declarations[skinned ? DeclarationC : DeclarationB];
    VertexDeclarationSlot slot = skinned ? DeclarationCColor : DeclarationBColor;
    if (!declarations[slot]) {
        // The mesh's own layout, and D3DCOLOR vertex colours from stream 1.
        std::vector<D3DVERTEXELEMENT9> elements;
        for (const D3DVERTEXELEMENT9* e = skinned ? kDeclarationC : kDeclarationB; e->Stream != 0xFF; ++e)
            elements.push_back(*e);
        elements.push_back({1, 0, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0});
        elements.push_back(D3DDECL_END());
        declarations[slot] = gRenderer->CreateVertexDecl(elements.data());
    }
    return declarations[slot];
}

bool World::MaterialPassShaders(int (&shaders)[MaterialPassCount]) {
    const char* const paths[MaterialPassCount] = {"./data/PassZNMaterial.hlslv", "./data/PassForwardMaterial.hlslv",
                                                  "./data/PassBlendMaterial.hlslv"};
    if (!materialShadersTried) {
        materialShadersTried = true;
        std::error_code missing;
        for (int pass = 0; pass < MaterialPassCount; ++pass) {
            materialShaders[pass] = gRenderer->FindShader(paths[pass]);
            if (materialShaders[pass] < 0 && std::filesystem::is_regular_file(DataFilePath(paths[pass]), missing))
                materialShaders[pass] = gRenderer->LoadShader(paths[pass]);
        }
        if (std::count(std::begin(materialShaders), std::end(materialShaders), -1) > 0)
            Log::Write(
                "World: %s, %s and %s are not all there; materials are drawn with diffuse and normal maps "
                "only.\n",
                paths[0], paths[1], paths[2]);
    }
    std::copy(std::begin(materialShaders), std::end(materialShaders), shaders);
    return std::count(shaders, shaders + MaterialPassCount, -1) == 0;
}

int World::LinesPointsShader() {
    const char* const path = "./data/PassUnlit.hlslv";
    if (!linesPointsShaderTried) {
        linesPointsShaderTried = true;
        linesPointsShader = gRenderer->FindShader(path);
        std::error_code missing;
        if (linesPointsShader < 0 && std::filesystem::is_regular_file(DataFilePath(path), missing))
            linesPointsShader = gRenderer->LoadShader(path);
        if (linesPointsShader < 0) Log::Write("World: %s is not there; lines and points are not drawn.\n", path);
    }
    return linesPointsShader;
}

IDirect3DVertexDeclaration9* World::LinesPointsDeclaration() {
    if (!declarations[DeclarationLines]) declarations[DeclarationLines] = gRenderer->CreateVertexDecl(kDeclarationLines);
    return declarations[DeclarationLines];
}

Zone* World::CreateZone(const std::string& name) {
    zones.push_back(new Zone(name));
    return zones.back();
}

SceneObject* World::CreateObject(const std::string& name) {
    objects.push_back(new SceneObject(name));
    return objects.back();
}

void World::Render(Camera* frameCamera) {
    gAnimationTime += ticksPerFrame;
    if (gAnimationTime > kAnimationEnd) gAnimationTime = 0.0f;

    camera = frameCamera;
    view = camera->GetView();
    projection = camera->GetProjection();
    viewProjection = Multiply(view, projection);

    QueueObjects();
    DrawZNPass();
    DrawLightPass();
    DrawForwardPass();
    postfx.Apply(postFactor);
}

void World::QueueObjects() {
    // A zone of n objects stands for the first n objects of the world's own list; the
    // walk never reads past that list, whatever the zone holds.
    for (Zone* zone : zones) {
        size_t n = std::min(zone->objects.size(), objects.size());
        for (size_t i = 0; i < n; ++i) Queue(*objects[i]);
    }
}

void World::Queue(SceneObject& object) {
    if (object.controller) object.controller->Evaluate(gAnimationTime);
    // The palettes depend only on the node matrices just evaluated: once per object gives
    // what recomputing before every renderable would, and an object without renderables
    // recomputes nothing.
    if (!object.renderables.empty())
        for (SkinPalette* palette : object.palettes) palette->Recompute();
    for (Renderable* renderable : object.renderables) {
        if (renderable->placement) renderable->local = *renderable->placement;
        renderable->params.values[ParamParamsDOF].vector = dofParams;
        std::vector<DrawItem>& list = renderable->unlit ? unlitList : renderable->blended ? blendList : drawList;
        list.push_back(DrawItem{renderable, object.world});
    }
}

void World::DrawZNPass() {
    PerfEvent event(L"ZN pass");
    gRenderer->BeginRenderTarget(znTarget, 0);
    gRenderer->Clear(kClearAll, kZNClearColor, 0);
    DrawPass pass{nullptr, znShader, MaterialPassZN};
    DrawList(&pass);
    gRenderer->EndRenderTarget(znTarget, 0);
}

void World::DrawLightPass() {
    PerfEvent event(L"Light pass");
    gRenderer->BeginRenderTarget(lightTarget, 0);
    gRenderer->Clear(kClearAll, 0, 0);
    gRenderer->SetRenderTargetTexture(0, znTarget);
    gRenderer->SetSamplerFlags(0, SamplerBorder);
    lightStats = LightPassStats{};
    lightQuads.clear();
    bool bounded = boundLights && boundedLightShader >= 0 && lightQuadDeclaration;
    if (lightShader >= 0) {
        gRenderer->SetShader(lightShader);
        for (const Light* light : lights) {
            if (!IsDrawable(*light)) continue;
            ++lightStats.lights;
            if (bounded && HasRange(*light)) {
                AppendLightQuad(*light, view, projection, gRenderer->width, gRenderer->height, &lightQuads);
                continue;
            }
            DrawFullScreenLight(*light);
        }
    }
    if (!lightQuads.empty()) {
        // Six corners a light; the block brings the additive state and nothing else.
        int count = static_cast<int>(lightQuads.size() / 6);
        lightStats.boundedLights = count;
        for (size_t i = 0; i < lightQuads.size(); i += 6)
            lightStats.boundedPixels += static_cast<int64_t>(lightQuads[i + 5].x - lightQuads[i].x) *
                                        static_cast<int64_t>(lightQuads[i + 5].y - lightQuads[i].y);
        // The ZN pass's depth: its surfaces decide which pixels a light's rectangle reaches.
        // The light target's own depth comes back with EndRenderTarget.
        gRenderer->UseTargetDepth(znTarget);
        gRenderer->SetShader(boundedLightShader);
        gRenderer->ApplyShaderParams(boundedLightShader, boundedLightParams);
        gRenderer->DrawUserTriangles(lightQuadDeclaration, lightQuads.data(), 2 * count, sizeof(LightQuadVertex));
    }
    gRenderer->EndRenderTarget(lightTarget, 0);
}

void World::DrawFullScreenLight(const Light& light) {
    D3DXVECTOR4 position;
    D3DXVec3Transform(&position, &light.position, &viewProjection);
    ShaderParamValue* values = lightParams.values;
    values[ParamLightPosition].vector = position;
    values[ParamLightColor].vector = D3DXVECTOR4(light.color.x, light.color.y, light.color.z, 1.0f);
    LightTerms terms = TermsOf(light, view);
    values[ParamLightDirection].vector =
        D3DXVECTOR4(terms.direction.x, terms.direction.y, terms.direction.z, terms.cone.y);
    values[ParamLightInvRangeSq].scalar = terms.invRangeSq;
    values[ParamLightCosSpot].scalar = terms.cone.x;
    gRenderer->ApplyShaderParams(lightShader, lightParams);
    gRenderer->DrawFullScreenQuad();
}

void World::DrawForwardPass() {
    PerfEvent event(L"Forward pass");
    gRenderer->BeginRenderTarget(postfx.sceneTarget, 0);
    gRenderer->Clear(kClearAll, clearColor, 0);
    gRenderer->SetRenderTargetTexture(3, lightTarget);
    gRenderer->SetSamplerFlags(3, SamplerBorder | SamplerLinear);
    DrawPass pass{nullptr, forwardShader, MaterialPassForward};
    DrawList(&pass);
    if (!unlitList.empty()) {
        PerfEvent lines(L"Lines and points");
        DrawItems(nullptr, unlitList);
        unlitList.clear();
    }
    DrawBlendPass();
    // The queue's storage goes with the frame; the next one grows it again.
    drawList.clear();
    drawList.shrink_to_fit();
    gRenderer->EndRenderTarget(postfx.sceneTarget, 0);
}

void World::DrawBlendPass() {
    if (blendList.empty()) return;
    PerfEvent event(L"Blend pass");
    blendLights_.clear();
    int count = 0, left = 0;
    for (const Light* light : lights) {
        if (!IsDrawable(*light)) continue;
        if (count == kBlendLights) {
            ++left;
            continue;
        }
        D3DXVECTOR3 place;
        D3DXVec3TransformCoord(&place, &light->position, &view);
        LightTerms terms = TermsOf(*light, view);
        const float registers[12] = {place.x,           place.y,           place.z,           terms.invRangeSq,
                                     light->color.x,    light->color.y,    light->color.z,    terms.cone.x,
                                     terms.direction.x, terms.direction.y, terms.direction.z, terms.cone.y};
        blendLights_.insert(blendLights_.end(), std::begin(registers), std::end(registers));
        ++count;
    }
    if (left && !blendLightsCut_) {
        blendLightsCut_ = true;
        Log::Write("World: %d lights beyond the first %d do not light blended surfaces.\n", left, kBlendLights);
    }
    // Farthest first, by the view depth of each renderable's centre.
    std::vector<std::pair<float, size_t>> order;
    order.reserve(blendList.size());
    for (size_t i = 0; i < blendList.size(); ++i) {
        const Renderable& r = *blendList[i].renderable;
        D3DXVECTOR3 center;
        D3DXVec3TransformCoord(&center, &r.center, &r.local);
        D3DXVec3TransformCoord(&center, &center, &blendList[i].world);
        D3DXVec3TransformCoord(&center, &center, &view);
        order.emplace_back(center.z, i);
    }
    std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<DrawItem> sorted;
    sorted.reserve(blendList.size());
    for (const auto& entry : order) {
        Renderable& r = *blendList[entry.second].renderable;
        r.params.floatArray2 = blendLights_.data();
        r.params.floatArray2Count = static_cast<uint32_t>(blendLights_.size());
        r.params.values[ParamParamsAUX].vector.z = static_cast<float>(count);
        sorted.push_back(blendList[entry.second]);
    }
    DrawPass pass{nullptr, materialShaders[MaterialPassBlend], MaterialPassNone};
    DrawItems(&pass, sorted);
    blendList.clear();
}

void World::DrawList(const DrawPass* pass) { DrawItems(pass, drawList); }

void World::DrawItems(const DrawPass* pass, const std::vector<DrawItem>& items) {
    if (!camera) return;
    // A pass whose shader file is missing draws nothing: there is nothing to upload to.
    if (pass && pass->shader < 0) return;
    view = camera->GetView();
    projection = camera->GetProjection();
    viewProjection = Multiply(view, projection);
    if (pass) gRenderer->SetShader(pass->shader);
    int bound = pass ? pass->shader : -1;
    for (const DrawItem& item : items) {
        Renderable& r = *item.renderable;
        D3DXMATRIX world = Multiply(r.local, item.world);
        D3DXMATRIX worldView = Multiply(world, view);
        ShaderParamValue* values = r.params.values;
        values[ParamMatrixWorld].matrix = world;
        values[ParamMatrixWorldIT].matrix = InverseTranspose(world);
        values[ParamMatrixWorldView].matrix = worldView;
        values[ParamMatrixWorldViewIT].matrix = InverseTranspose(worldView);
        values[ParamMatrixView].matrix = view;
        values[ParamMatrixProjection].matrix = projection;
        values[ParamMatrixViewProjection].matrix = viewProjection;
        values[ParamMatrixTotal].matrix = Multiply(world, viewProjection);
        if (pass && pass->overrideParams) {
            ShaderParamValue* target = pass->overrideParams->values;
            for (ShaderParamSlot slot :
                 {ParamMatrixWorld, ParamMatrixWorldIT, ParamMatrixWorldView, ParamMatrixWorldViewIT, ParamMatrixTotal})
                target[slot].matrix = values[slot].matrix;
            gRenderer->ApplyShaderParams(pass->shader, *pass->overrideParams);
        } else if (pass) {
            int shader = pass->shader;
            if (pass->materialPass != MaterialPassNone && r.passShaders[pass->materialPass] >= 0)
                shader = r.passShaders[pass->materialPass];
            if (shader != bound) {
                gRenderer->SetShader(shader);
                bound = shader;
            }
            gRenderer->ApplyShaderParams(shader, r.params);
        } else if (r.shader >= 0) {
            gRenderer->SetShader(r.shader);
            gRenderer->ApplyShaderParams(r.shader, r.params);
        }
        r.Render();
    }
}
