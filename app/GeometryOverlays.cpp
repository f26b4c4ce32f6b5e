#include "app/GeometryOverlays.h"

#include "app/Log.h"
#include "render/Mesh.h"
#include "render/PerfEvent.h"
#include "render/Renderer.h"
#include "resources/FileUtil.h"
#include "resources/ShaderFile.h"
#include "scene/Renderable.h"
#include "scene/Skinning.h"
#include "scene/Vertices.h"
#include "scene/World.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string>

namespace {

constexpr D3DCOLOR kBoxColor = 0xFFFFD040;
constexpr D3DCOLOR kNormalColor = 0xFF40A0FF;
constexpr float kNormalLength = 0.04f;  // of the object's box diagonal

// World-space lines in the quad vertex layout: the colour rides in the vertex.
const char* const kLineVertexShader =
    "float4x4 viewProjection : register(c0);\n"
    "struct VertexIn { float4 position : POSITION; float2 uv : TEXCOORD0; float4 color : COLOR0; };\n"
    "struct VertexOut { float4 position : POSITION; float4 color : COLOR0; };\n"
    "VertexOut main(VertexIn input) {\n"
    "    VertexOut output;\n"
    "    output.position = mul(viewProjection, float4(input.position.xyz, 1.0));\n"
    "    output.color = input.color;\n"
    "    return output;\n"
    "}\n";
const char* const kLinePixelShader = "float4 main(float4 color : COLOR0) : COLOR { return color; }\n";
// The colour is in the text: skinned draws upload their material to the low pixel registers.
const char* const kWirePixelShader = "float4 main() : COLOR { return float4(0.376, 1.0, 0.376, 1.0); }\n";

int BuildShader(Renderer& renderer, const char* vertex, const char* pixel, const char* name, int vertexLine = 1) {
    ShaderRecord record;
    std::string error;
    if (!renderer.BuildShaderRecord(vertex, pixel, name, vertexLine, 1, &record, &error)) {
        Log::Write("Overlay: %s cannot be compiled; it is not drawn.\n%s", name, error.c_str());
        return -1;
    }
    renderer.shaders.push_back(record);
    return static_cast<int>(renderer.shaders.size()) - 1;
}

D3DXVECTOR3 Transform(const D3DXVECTOR3& p, const D3DXMATRIX& m) {
    return D3DXVECTOR3(p.x * m._11 + p.y * m._21 + p.z * m._31 + m._41, p.x * m._12 + p.y * m._22 + p.z * m._32 + m._42,
                       p.x * m._13 + p.y * m._23 + p.z * m._33 + m._43);
}

D3DXVECTOR3 TransformDirection(const D3DXVECTOR3& d, const D3DXMATRIX& m) {
    return D3DXVECTOR3(d.x * m._11 + d.y * m._21 + d.z * m._31, d.x * m._12 + d.y * m._22 + d.z * m._32,
                       d.x * m._13 + d.y * m._23 + d.z * m._33);
}

void AddLine(std::vector<QuadVertex>& out, const D3DXVECTOR3& a, const D3DXVECTOR3& b, D3DCOLOR color) {
    out.push_back(QuadVertex{a.x, a.y, a.z, 0.0f, 0.0f, color});
    out.push_back(QuadVertex{b.x, b.y, b.z, 0.0f, 0.0f, color});
}

// The mesh a renderable draws and, for a skinned one, its palette.
struct Geometry {
    const Mesh* mesh = nullptr;
    const D3DXMATRIX* bones = nullptr;
    int boneCount = 0;
};

Geometry GeometryOf(const Renderable* r) {
    if (auto* part = dynamic_cast<const MeshPartRenderable*>(r)) return {part->mesh, nullptr, 0};
    if (auto* skinned = dynamic_cast<const SkinnedRenderable*>(r))
        return {skinned->skin ? skinned->skin->mesh : nullptr, skinned->bones, skinned->boneCount};
    return {};
}

// Appends the mesh's vertices in world space (skinned by the palette as the vertex program
// does); false when the stream cannot be read.
bool AppendVertices(const Geometry& g, const D3DXMATRIX& world, std::vector<D3DXVECTOR3>& positions,
                    std::vector<D3DXVECTOR3>& directions) {
    const Mesh::Stream& stream = g.mesh->streams[0];
    void* data = nullptr;
    if (!stream.buffer || FAILED(stream.buffer->Lock(0, 0, &data, D3DLOCK_READONLY))) return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (uint32_t i = 0; i < stream.count; ++i) {
        const uint8_t* vertex = bytes + static_cast<size_t>(i) * stream.stride;
        D3DXVECTOR3 p, n;
        if (stream.stride == sizeof(SkinnedVertex) && g.bones && g.boneCount > 0) {
            SkinnedVertex v;
            std::memcpy(&v, vertex, sizeof(v));
            BoneInfluences influences;
            std::copy(std::begin(v.weights), std::end(v.weights), influences.weights);
            std::copy(std::begin(v.bones), std::end(v.bones), influences.bones);
            SkinnedPoint skinned = SkinPoint(D3DXVECTOR3(v.position), D3DXVECTOR3(v.normal), influences, g.bones,
                                             static_cast<size_t>(g.boneCount));
            p = skinned.position;
            n = skinned.normal;
        } else if (stream.stride == sizeof(StaticVertex)) {
            StaticVertex v;
            std::memcpy(&v, vertex, sizeof(v));
            p = D3DXVECTOR3(v.position[0], v.position[1], v.position[2]);
            n = D3DXVECTOR3(UnpackUnitByte(v.normal[0]), UnpackUnitByte(v.normal[1]), UnpackUnitByte(v.normal[2]));
        } else {
            continue;
        }
        positions.push_back(Transform(p, world));
        D3DXVECTOR3 d = TransformDirection(n, world);
        float length = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
        directions.push_back(length > 0.0f ? d / length : d);
    }
    stream.buffer->Unlock();
    return true;
}

// The eight corners of a static mesh's box in its own space, placed by `world`: a box of
// the placed corners holds every placed vertex without transforming each one (looser than
// theirs where `world` turns the mesh). False for a skinned mesh, whose vertices only the
// pose places, or a stream that cannot be read.
bool AppendPlacedBox(const Geometry& g, const D3DXMATRIX& world, std::vector<D3DXVECTOR3>& positions) {
    const Mesh::Stream& stream = g.mesh->streams[0];
    void* data = nullptr;
    if (stream.stride != sizeof(StaticVertex) || stream.count == 0 || !stream.buffer ||
        FAILED(stream.buffer->Lock(0, 0, &data, D3DLOCK_READONLY)))
        return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    float lo[3] = {}, hi[3] = {};
    for (uint32_t i = 0; i < stream.count; ++i) {
        float p[3];
        std::memcpy(p, bytes + static_cast<size_t>(i) * stream.stride + offsetof(StaticVertex, position), sizeof(p));
        for (int axis = 0; axis < 3; ++axis) {
            lo[axis] = i ? std::min(lo[axis], p[axis]) : p[axis];
            hi[axis] = i ? std::max(hi[axis], p[axis]) : p[axis];
        }
    }
    stream.buffer->Unlock();
    for (int corner = 0; corner < 8; ++corner)
        positions.push_back(Transform(D3DXVECTOR3(corner & 1 ? hi[0] : lo[0], corner & 2 ? hi[1] : lo[1],
                                                  corner & 4 ? hi[2] : lo[2]),
                                      world));
    return true;
}

}  // namespace

bool GeometryOverlays::Toggle(bool wireframeKey, bool boundsKey, bool normalsKey) {
    wireframe ^= wireframeKey;
    bounds ^= boundsKey;
    normals ^= normalsKey;
    return wireframeKey || boundsKey || normalsKey;
}

void GeometryOverlays::Compile(Renderer& renderer) {
    compiled_ = true;
    std::optional<std::vector<uint8_t>> file = ReadWholeFile("./data/PassZN.hlsl");
    // The depth-and-normal pass's own vertex program, split as the shader loader splits it,
    // so that the wireframe lies exactly on the surfaces it outlines.
    ShaderFileSections sections =
        file ? SplitShaderFile(reinterpret_cast<const char*>(file->data()), file->size()) : ShaderFileSections();
    if (!sections.vertex.empty())
        wireShader_ = BuildShader(renderer, sections.vertex.c_str(), kWirePixelShader, "wireframe overlay",
                                  sections.vertexLine);
    lineShader_ = BuildShader(renderer, kLineVertexShader, kLinePixelShader, "line overlay");
    for (ShaderParams* params : {&wireParams_, &lineParams_}) {
        params->stateFlags = kStateOpaqueNoDepth;
        Renderer::BuildStateList(*params);
    }
}

void GeometryOverlays::Draw(Renderer& renderer, World& world) {
    if (!(wireframe || bounds || normals) || !world.camera) return;
    if (!compiled_) Compile(renderer);
    PerfEvent event(L"Geometry overlays");
    world.QueueObjects();
    if (wireframe && wireShader_ >= 0) {
        renderer.device->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
        DrawPass pass{&wireParams_, wireShader_};
        world.DrawList(&pass);
        renderer.device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    }
    if ((bounds || normals) && lineShader_ >= 0) {
        lines_.clear();
        BuildLines(world);
        renderer.SetShader(lineShader_);
        renderer.ApplyShaderParams(lineShader_, lineParams_);
        // Column-major registers: each holds a column of the HLSL matrix, a row of D3DX's.
        renderer.device->SetVertexShaderConstantF(0, world.viewProjection, 4);
        renderer.DrawLines(lines_.data(), static_cast<int>(lines_.size()));
    }
    world.drawList.clear();
}

void GeometryOverlays::BuildLines(World& world) {
    const std::vector<DrawItem>& items = world.drawList;
    // An object's renderables are queued together and share its matrix: one box for each run.
    for (size_t first = 0; first < items.size();) {
        size_t last = first;
        while (last + 1 < items.size() && items[last + 1].world == items[first].world) ++last;
        positions_.clear();
        directions_.clear();
        const Mesh* previous = nullptr;
        for (size_t i = first; i <= last; ++i) {
            const Renderable* r = items[i].renderable;
            Geometry g = GeometryOf(r);
            // Each primitive of a mesh is a renderable of its own over the same vertices.
            if (!g.mesh || g.mesh == previous) continue;
            previous = g.mesh;
            D3DXMATRIX placed = r->local * items[i].world;
            if (normals || !AppendPlacedBox(g, placed, positions_)) AppendVertices(g, placed, positions_, directions_);
        }
        first = last + 1;
        if (positions_.empty()) continue;
        D3DXVECTOR3 lo = positions_[0], hi = positions_[0];
        for (const D3DXVECTOR3& p : positions_) {
            lo = D3DXVECTOR3(std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z));
            hi = D3DXVECTOR3(std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z));
        }
        if (bounds) {
            auto corner = [&](int i) { return D3DXVECTOR3(i & 1 ? hi.x : lo.x, i & 2 ? hi.y : lo.y, i & 4 ? hi.z : lo.z); };
            // The twelve edges: corners that differ in one coordinate.
            for (int a = 0; a < 8; ++a)
                for (int bit : {1, 2, 4})
                    if (!(a & bit)) AddLine(lines_, corner(a), corner(a | bit), kBoxColor);
        }
        if (normals) {
            D3DXVECTOR3 diagonal = hi - lo;
            float length = kNormalLength * std::sqrt(D3DXVec3Dot(&diagonal, &diagonal));
            for (size_t i = 0; i < positions_.size(); ++i)
                AddLine(lines_, positions_[i], positions_[i] + directions_[i] * length, kNormalColor);
        }
    }
}
