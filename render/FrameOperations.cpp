// The Renderer's per-frame operations: scene brackets, clears, presents, bindings, and
// the two immediate-mode quad drawers.
#include "app/Log.h"
#include "render/DrawCount.h"
#include "render/Renderer.h"

void Renderer::BeginScene() { device->BeginScene(); }

void Renderer::EndScene() { device->EndScene(); }

void Renderer::Clear(uint32_t clearFlags, D3DCOLOR color, uint32_t stencil) {
    DWORD flags = 0;
    if (clearFlags & ClearColor) flags |= D3DCLEAR_TARGET;
    if (clearFlags & ClearDepth) flags |= D3DCLEAR_ZBUFFER;
    if (clearFlags & ClearStencil) flags |= D3DCLEAR_STENCIL;
    if (FAILED(device->Clear(0, nullptr, flags, color, 1.0f, stencil))) Log::Write("Renderer::Clear failed!");
}

void Renderer::Present() {
    if (device->Present(nullptr, nullptr, nullptr, nullptr) == D3DERR_DEVICELOST)
        Log::Write("Renderer::Present failed: Device lost!");
}

void Renderer::SetSamplerFlags(int stage, uint32_t flags) {
    DWORD s = static_cast<DWORD>(stage);
    DWORD filter = (flags & SamplerLinear) ? D3DTEXF_LINEAR : D3DTEXF_POINT;
    DWORD address = (flags & SamplerBorder)  ? D3DTADDRESS_BORDER
                    : (flags & SamplerClamp) ? D3DTADDRESS_CLAMP
                                             : D3DTADDRESS_WRAP;
    device->SetSamplerState(s, D3DSAMP_MINFILTER, filter);
    device->SetSamplerState(s, D3DSAMP_MAGFILTER, filter);
    device->SetSamplerState(s, D3DSAMP_MIPFILTER, (flags & SamplerLinearMip) ? D3DTEXF_LINEAR : D3DTEXF_NONE);
    device->SetSamplerState(s, D3DSAMP_ADDRESSU, address);
    device->SetSamplerState(s, D3DSAMP_ADDRESSV, address);
    device->SetSamplerState(s, D3DSAMP_BORDERCOLOR, 0xFFFF0000);
    device->SetSamplerState(s, D3DSAMP_SRGBTEXTURE, (flags & SamplerSrgb) ? 1 : 0);
}

void Renderer::SetTexture(int stage, int index) {
    bool valid = index >= 0 && index < static_cast<int>(textures.size());
    device->SetTexture(static_cast<DWORD>(stage), valid ? textures[index].texture : nullptr);
}

void Renderer::SetShader(int index) {
    if (index < 0 || index >= static_cast<int>(shaders.size())) return;
    device->SetVertexShader(shaders[index].vertexShader);
    device->SetPixelShader(shaders[index].pixelShader);
}

IDirect3DVertexDeclaration9* Renderer::CreateVertexDecl(const D3DVERTEXELEMENT9* elements) {
    IDirect3DVertexDeclaration9* declaration = nullptr;
    if (FAILED(device->CreateVertexDeclaration(elements, &declaration))) Log::Fatal("Renderer::CreateVertexDecl failed!");
    return declaration;
}

void Renderer::ReleaseVertexDecl(IDirect3DVertexDeclaration9* declaration) {
    if (declaration) declaration->Release();
}

IDirect3DVertexBuffer9* Renderer::CreateVertexBuffer(uint32_t length, DWORD fvf, bool dynamic) {
    IDirect3DVertexBuffer9* buffer = nullptr;
    DWORD usage = D3DUSAGE_WRITEONLY | (dynamic ? D3DUSAGE_DYNAMIC : 0);
    if (FAILED(device->CreateVertexBuffer(length, usage, fvf, D3DPOOL_DEFAULT, &buffer, nullptr)))
        Log::Fatal("Renderer::CreateVertexBuffer failed!");
    return buffer;
}

void* Renderer::LockVertexBuffer(IDirect3DVertexBuffer9* buffer, uint32_t offset, uint32_t size, DWORD flags) {
    void* data = nullptr;
    if (!buffer || FAILED(buffer->Lock(offset, size, &data, flags))) Log::Fatal("Renderer::LockVertexBuffer: Locking failed!");
    return data;
}

void Renderer::UnlockVertexBuffer(IDirect3DVertexBuffer9* buffer) {
    if (!buffer || FAILED(buffer->Unlock())) Log::Fatal("Renderer::UnlockVertexBuffer: Unlocking failed!");
}

IDirect3DQuery9* Renderer::CreateOcclusionQuery() {
    IDirect3DQuery9* query = nullptr;
    device->CreateQuery(D3DQUERYTYPE_OCCLUSION, &query);
    return query;
}

void Renderer::DrawQuads(const QuadDesc* quads, int count) {
    if (FAILED(device->SetVertexDeclaration(quadDeclaration)))
        Log::Fatal("Renderer::DrawQuads: SetVertexDeclaration failed!");
    HRESULT result = D3D_OK;
    for (int i = 0; i < count; ++i) {
        const QuadDesc& q = quads[i];
        // Normalised target units to clip space (y up); no half-pixel offset.
        float x0 = 2.0f * q.x - 1.0f, y0 = 1.0f - 2.0f * q.y;
        float x1 = x0 + 2.0f * q.width, y1 = y0 - 2.0f * q.height;
        QuadVertex strip[4] = {{x0, y1, 0.0f, q.uMin, q.vMax, q.color},
                               {x0, y0, 0.0f, q.uMin, q.vMin, q.color},
                               {x1, y1, 0.0f, q.uMax, q.vMax, q.color},
                               {x1, y0, 0.0f, q.uMax, q.vMin, q.color}};
        result = device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, strip, sizeof(QuadVertex));
        ++gDrawCalls;
    }
    if (count > 0 && FAILED(result)) Log::Fatal("Renderer::DrawQuads: DrawPrimitiveUP failed!");
}

HRESULT Renderer::DrawScreenQuad(int targetWidth, int targetHeight) {
    if (FAILED(device->SetVertexDeclaration(screenQuadDeclaration)))
        Log::Fatal("Renderer::DrawScreenQuad: SetVertexDeclaration failed!");
    // The -0.5 shift puts each texel centre of the source on a pixel centre of the target.
    float w = static_cast<float>(targetWidth), h = static_cast<float>(targetHeight);
    ScreenQuadVertex strip[4] = {{-0.5f, h - 0.5f, 0.0f, 1.0f, 0.0f, 1.0f},
                                 {-0.5f, -0.5f, 0.0f, 1.0f, 0.0f, 0.0f},
                                 {w - 0.5f, h - 0.5f, 0.0f, 1.0f, 1.0f, 1.0f},
                                 {w - 0.5f, -0.5f, 0.0f, 1.0f, 1.0f, 0.0f}};
    ++gDrawCalls;
    return device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, strip, sizeof(ScreenQuadVertex));
}

void Renderer::DrawQuadVertices(D3DPRIMITIVETYPE type, int primitives, const QuadVertex* vertices, const char* caller) {
    if (primitives < 1) return;
    if (FAILED(device->SetVertexDeclaration(quadDeclaration)))
        Log::Fatal("Renderer::%s: SetVertexDeclaration failed!", caller);
    if (FAILED(device->DrawPrimitiveUP(type, static_cast<UINT>(primitives), vertices, sizeof(QuadVertex))))
        Log::Fatal("Renderer::%s: DrawPrimitiveUP failed!", caller);
    ++gDrawCalls;
}

void Renderer::DrawTriangles(const QuadVertex* vertices, int vertexCount) {
    DrawQuadVertices(D3DPT_TRIANGLELIST, vertexCount / 3, vertices, "DrawTriangles");
}

void Renderer::DrawLines(const QuadVertex* vertices, int vertexCount) {
    DrawQuadVertices(D3DPT_LINELIST, vertexCount / 2, vertices, "DrawLines");
}

void Renderer::DrawUserTriangles(IDirect3DVertexDeclaration9* declaration, const void* vertices, int triangleCount,
                                 uint32_t stride) {
    if (triangleCount < 1) return;
    if (FAILED(device->SetVertexDeclaration(declaration)))
        Log::Fatal("Renderer::DrawUserTriangles: SetVertexDeclaration failed!");
    if (FAILED(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(triangleCount), vertices, stride)))
        Log::Fatal("Renderer::DrawUserTriangles: DrawPrimitiveUP failed!");
    ++gDrawCalls;
}

HRESULT Renderer::DrawFullScreenQuad() { return DrawScreenQuad(width, height); }

Mesh* Renderer::CreateMesh() { return new (std::nothrow) Mesh(device, &drawThrottle); }
