// CPU cost of the Direct3D 9 layer per draw call, and of reading back a tiny target.
// Draws cover a single pixel so that llvmpipe's rasterisation stays out of the figures.
// "allocs_per_iter" counts heap allocations in the measured loop: the steady state makes
// none.
#include <benchmark/benchmark.h>
#include <d3dx9.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

std::atomic<long> gAllocations{0};

}  // namespace

void* operator new(size_t size) {
    ++gAllocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

LRESULT CALLBACK Procedure(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcA(w, m, wp, lp); }

struct Vertex {
    float x, y, z;
    float u, v;
};

class DeviceFixture {
public:
    DeviceFixture() {
        WNDCLASSA cls{};
        cls.lpfnWndProc = Procedure;
        cls.lpszClassName = "bench";
        RegisterClassA(&cls);
        window = CreateWindowExA(0, "bench", "bench", WS_VISIBLE, 0, 0, 64, 64, nullptr, nullptr, nullptr, nullptr);
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        D3DPRESENT_PARAMETERS p{};
        p.BackBufferWidth = p.BackBufferHeight = 64;
        p.BackBufferFormat = D3DFMT_A8R8G8B8;
        p.Windowed = TRUE;
        p.EnableAutoDepthStencil = TRUE;
        p.AutoDepthStencilFormat = D3DFMT_D24S8;
        p.hDeviceWindow = window;
        d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &device);
        const char* vs =
            "float4x4 matrixTotal; float4 paramsAUX;\n"
            "struct V { float4 p : POSITION; float2 uv : TEXCOORD0; };\n"
            "V main(V v) { v.p = mul(matrixTotal, v.p) + paramsAUX * 0.0; return v; }\n";
        const char* ps =
            "sampler s0 : register(s0); float4 materialDiffuse;\n"
            "float4 main(float2 uv : TEXCOORD0) : COLOR { return tex2D(s0, uv) * materialDiffuse; }\n";
        ID3DXBuffer* code = nullptr;
        D3DXCompileShader(vs, static_cast<UINT>(std::strlen(vs)), nullptr, nullptr, "main", "vs_3_0", 16, &code, nullptr,
                          &vsConstants);
        device->CreateVertexShader(static_cast<const DWORD*>(code->GetBufferPointer()), &vertexShader);
        code->Release();
        D3DXCompileShader(ps, static_cast<UINT>(std::strlen(ps)), nullptr, nullptr, "main", "ps_3_0", 16, &code, nullptr,
                          &psConstants);
        device->CreatePixelShader(static_cast<const DWORD*>(code->GetBufferPointer()), &pixelShader);
        code->Release();
        D3DVERTEXELEMENT9 elements[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                        {0, 12, D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_TEXCOORD, 0},
                                        D3DDECL_END()};
        device->CreateVertexDeclaration(elements, &decl);
        Vertex tri[3] = {{0, 0, 0.5f, 0, 0}, {0.01f, 0, 0.5f, 1, 0}, {0, -0.01f, 0.5f, 0, 1}};
        device->CreateVertexBuffer(sizeof(tri), D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT, &vb, nullptr);
        void* data;
        vb->Lock(0, 0, &data, 0);
        std::memcpy(data, tri, sizeof(tri));
        vb->Unlock();
        device->CreateIndexBuffer(6, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_DEFAULT, &ib, nullptr);
        ib->Lock(0, 0, &data, 0);
        const uint16_t indices[3] = {0, 1, 2};
        std::memcpy(data, indices, sizeof(indices));
        ib->Unlock();
        uint32_t texels[4] = {~0u, ~0u, ~0u, ~0u};
        for (auto*& texture : textures) {
            device->CreateTexture(2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr);
            D3DLOCKED_RECT locked;
            texture->LockRect(0, &locked, nullptr, 0);
            for (int row = 0; row < 2; ++row)
                std::memcpy(static_cast<char*>(locked.pBits) + row * locked.Pitch, texels, 8);
            texture->UnlockRect(0);
        }
    }
    ~DeviceFixture() {
        for (auto* texture : textures) texture->Release();
        ib->Release();
        vb->Release();
        decl->Release();
        vertexShader->Release();
        pixelShader->Release();
        vsConstants->Release();
        psConstants->Release();
        device->Release();
        d3d->Release();
        DestroyWindow(window);
    }

    HWND window = nullptr;
    IDirect3D9* d3d = nullptr;
    IDirect3DDevice9* device = nullptr;
    IDirect3DVertexShader9* vertexShader = nullptr;
    IDirect3DPixelShader9* pixelShader = nullptr;
    ID3DXConstantTable* vsConstants = nullptr;
    ID3DXConstantTable* psConstants = nullptr;
    IDirect3DVertexDeclaration9* decl = nullptr;
    IDirect3DVertexBuffer9* vb = nullptr;
    IDirect3DIndexBuffer9* ib = nullptr;
    IDirect3DTexture9* textures[2] = {};
};

DeviceFixture& Fixture() {
    static DeviceFixture* fixture = new DeviceFixture();
    return *fixture;
}

// One draw as the engine issues it: a changed render state and texture, the matrices and
// material through the constant tables, the geometry bound again, an indexed draw.
void BM_DrawCallWithStateAndConstants(benchmark::State& state) {
    DeviceFixture& f = Fixture();
    IDirect3DDevice9* device = f.device;
    device->SetVertexShader(f.vertexShader);
    device->SetPixelShader(f.pixelShader);
    D3DXHANDLE total = f.vsConstants->GetConstantByName(nullptr, "matrixTotal");
    D3DXHANDLE diffuse = f.psConstants->GetConstantByName(nullptr, "materialDiffuse");
    D3DXMATRIX matrix;
    D3DXMatrixIdentity(&matrix);
    D3DXVECTOR4 colour(1, 1, 1, 1);
    device->BeginScene();
    long before = gAllocations.load();
    long iterations = 0;
    for (auto _ : state) {
        int odd = static_cast<int>(iterations++ & 1);
        device->SetRenderState(D3DRS_CULLMODE, odd ? D3DCULL_CCW : D3DCULL_NONE);
        device->SetTexture(0, f.textures[odd]);
        f.vsConstants->SetMatrixTranspose(device, total, &matrix);
        f.psConstants->SetVector(device, diffuse, &colour);
        device->SetVertexDeclaration(f.decl);
        device->SetStreamSource(0, f.vb, 0, sizeof(Vertex));
        device->SetIndices(f.ib);
        device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 3, 0, 1);
        if ((iterations & 1023) == 0) {
            device->EndScene();
            device->Present(nullptr, nullptr, nullptr, nullptr);
            device->BeginScene();
        }
    }
    state.counters["allocs_per_iter"] =
        static_cast<double>(gAllocations.load() - before) / static_cast<double>(std::max(iterations, 1L));
    device->EndScene();
    device->Present(nullptr, nullptr, nullptr, nullptr);
}
BENCHMARK(BM_DrawCallWithStateAndConstants);

// The luminance read-back of the post-processing chain: a tiny float target to memory.
void BM_GetRenderTargetDataTiny(benchmark::State& state) {
    DeviceFixture& f = Fixture();
    IDirect3DDevice9* device = f.device;
    IDirect3DTexture9* target = nullptr;
    device->CreateTexture(4, 4, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A16B16G16R16, D3DPOOL_DEFAULT, &target, nullptr);
    IDirect3DSurface9* surface = nullptr;
    target->GetSurfaceLevel(0, &surface);
    IDirect3DSurface9* copy = nullptr;
    device->CreateOffscreenPlainSurface(4, 4, D3DFMT_A16B16G16R16, D3DPOOL_SYSTEMMEM, &copy, nullptr);
    long before = gAllocations.load();
    long iterations = 0;
    for (auto _ : state) {
        device->GetRenderTargetData(surface, copy);
        D3DLOCKED_RECT locked;
        copy->LockRect(&locked, nullptr, D3DLOCK_READONLY);
        benchmark::DoNotOptimize(*static_cast<volatile uint16_t*>(locked.pBits));
        copy->UnlockRect();
        ++iterations;
    }
    state.counters["allocs_per_iter"] =
        static_cast<double>(gAllocations.load() - before) / static_cast<double>(std::max(iterations, 1L));
    copy->Release();
    surface->Release();
    target->Release();
}
BENCHMARK(BM_GetRenderTargetDataTiny);

}  // namespace
