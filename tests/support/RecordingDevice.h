// A Direct3D 9 device that records calls instead of drawing, for tests that need to see
// what the engine asks of the device (state caching, call order, exact vertices).
// Resources it hands out are plain memory; every call appends a line such as
// "SetRenderState(7, 1)" to calls.
#pragma once

#include <d3d9.h>

#include <cstdint>
#include <string>
#include <vector>

namespace lumaret::test {

class RecordingDevice;

// IDirect3D9 whose devices are recording devices. Format checks pass unless listed in
// refusedFormats; CreateDevice can be made to fail.
class RecordingDirect3D : public IDirect3D9 {
public:
    RecordingDirect3D();
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override;
    UINT GetAdapterCount() override { return 1; }
    UINT GetAdapterModeCount(UINT, D3DFORMAT) override { return 1; }
    HRESULT GetAdapterDisplayMode(UINT, D3DDISPLAYMODE* mode) override;
    HRESULT CheckDeviceType(UINT, D3DDEVTYPE, D3DFORMAT, D3DFORMAT backBufferFormat, BOOL) override;
    HRESULT CheckDeviceFormat(UINT, D3DDEVTYPE, D3DFORMAT, DWORD usage, D3DRESOURCETYPE, D3DFORMAT format) override;
    HRESULT CheckDeviceMultiSampleType(UINT, D3DDEVTYPE, D3DFORMAT, BOOL, D3DMULTISAMPLE_TYPE, DWORD*) override {
        return D3D_OK;
    }
    HRESULT CheckDepthStencilMatch(UINT, D3DDEVTYPE, D3DFORMAT, D3DFORMAT, D3DFORMAT) override { return D3D_OK; }
    HRESULT GetDeviceCaps(UINT, D3DDEVTYPE, D3DCAPS9* caps) override;
    HRESULT CreateDevice(UINT, D3DDEVTYPE, HWND, DWORD behaviorFlags, D3DPRESENT_PARAMETERS* parameters,
                         IDirect3DDevice9** device) override;

    ULONG references = 1;
    D3DDISPLAYMODE mode{1024, 768, 60, D3DFMT_X8R8G8B8};
    D3DCAPS9 caps{};
    std::vector<std::pair<DWORD, D3DFORMAT>> refusedFormats;  // (usage, format) pairs that fail
    bool refuseA8R8G8B8BackBuffer = false;
    bool failCreateDevice = false;
    HRESULT queryResult = D3D_OK;  // what CreateQuery(OCCLUSION, null) answers
    std::vector<std::string> checks;
    D3DPRESENT_PARAMETERS lastParameters{};
    DWORD lastBehaviorFlags = 0;
    RecordingDevice* lastDevice = nullptr;
};

class RecordingDevice : public IDirect3DDevice9 {
public:
    explicit RecordingDevice(RecordingDirect3D* parent);
    // What CreateVertexShader and CreatePixelShader answer (a refusal makes no shader).
    HRESULT shaderCreation = D3D_OK;
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override;

    HRESULT TestCooperativeLevel() override { return D3D_OK; }
    HRESULT GetDirect3D(IDirect3D9** d3d) override;
    HRESULT GetDeviceCaps(D3DCAPS9* caps) override;
    HRESULT GetDisplayMode(UINT, D3DDISPLAYMODE* mode) override;
    HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS*) override { return D3D_OK; }
    HRESULT Present(const RECT*, const RECT*, HWND, const void*) override;
    HRESULT GetBackBuffer(UINT, UINT, D3DBACKBUFFER_TYPE, IDirect3DSurface9** surface) override;
    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                          IDirect3DTexture9** texture, HANDLE*) override;
    HRESULT CreateCubeTexture(UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DCubeTexture9**, HANDLE*) override;
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** buffer,
                               HANDLE*) override;
    HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool, IDirect3DIndexBuffer9** buffer,
                              HANDLE*) override;
    HRESULT CreateRenderTarget(UINT, UINT, D3DFORMAT, D3DMULTISAMPLE_TYPE, DWORD, BOOL, IDirect3DSurface9**,
                               HANDLE*) override;
    HRESULT CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE, DWORD, BOOL,
                                      IDirect3DSurface9** surface, HANDLE*) override;
    HRESULT GetRenderTargetData(IDirect3DSurface9* source, IDirect3DSurface9* destination) override;
    HRESULT StretchRect(IDirect3DSurface9*, const RECT*, IDirect3DSurface9*, const RECT*,
                        D3DTEXTUREFILTERTYPE) override {
        return D3D_OK;
    }
    HRESULT CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                        IDirect3DSurface9** surface, HANDLE*) override;
    HRESULT SetRenderTarget(DWORD index, IDirect3DSurface9* surface) override;
    HRESULT GetRenderTarget(DWORD index, IDirect3DSurface9** surface) override;
    HRESULT SetDepthStencilSurface(IDirect3DSurface9* surface) override;
    HRESULT GetDepthStencilSurface(IDirect3DSurface9** surface) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Clear(DWORD count, const D3DRECT*, DWORD flags, D3DCOLOR color, float z, DWORD stencil) override;
    HRESULT SetViewport(const D3DVIEWPORT9* viewport) override;
    HRESULT GetViewport(D3DVIEWPORT9* viewport) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT GetRenderState(D3DRENDERSTATETYPE, DWORD*) override { return D3D_OK; }
    HRESULT GetTexture(DWORD, IDirect3DBaseTexture9**) override { return D3D_OK; }
    HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override;
    HRESULT GetSamplerState(DWORD, D3DSAMPLERSTATETYPE, DWORD*) override { return D3D_OK; }
    HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
    HRESULT SetScissorRect(const RECT*) override { return D3D_OK; }
    HRESULT GetScissorRect(RECT*) override { return D3D_OK; }
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT start, UINT count) override;
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT base, UINT minIndex, UINT vertices, UINT start,
                                 UINT count) override;
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT count, const void* data, UINT stride) override;
    HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE, UINT, UINT, UINT, const void*, D3DFORMAT, const void*,
                                   UINT) override {
        return D3D_OK;
    }
    HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements, IDirect3DVertexDeclaration9** decl) override;
    HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9* decl) override;
    HRESULT GetVertexDeclaration(IDirect3DVertexDeclaration9**) override { return D3D_OK; }
    HRESULT CreateVertexShader(const DWORD*, IDirect3DVertexShader9** shader) override;
    HRESULT SetVertexShader(IDirect3DVertexShader9* shader) override;
    HRESULT GetVertexShader(IDirect3DVertexShader9**) override { return D3D_OK; }
    HRESULT SetVertexShaderConstantF(UINT start, const float* data, UINT count) override;
    HRESULT GetVertexShaderConstantF(UINT, float*, UINT) override { return D3D_OK; }
    HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) override;
    HRESULT GetStreamSource(UINT, IDirect3DVertexBuffer9**, UINT*, UINT*) override { return D3D_OK; }
    HRESULT SetIndices(IDirect3DIndexBuffer9* buffer) override;
    HRESULT GetIndices(IDirect3DIndexBuffer9**) override { return D3D_OK; }
    HRESULT CreatePixelShader(const DWORD*, IDirect3DPixelShader9** shader) override;
    HRESULT SetPixelShader(IDirect3DPixelShader9* shader) override;
    HRESULT GetPixelShader(IDirect3DPixelShader9**) override { return D3D_OK; }
    HRESULT SetPixelShaderConstantF(UINT start, const float* data, UINT count) override;
    HRESULT GetPixelShaderConstantF(UINT, float*, UINT) override { return D3D_OK; }
    HRESULT CreateQuery(D3DQUERYTYPE type, IDirect3DQuery9** query) override;

    // Calls since the last Forget(), and the vertices of the last DrawPrimitiveUP.
    std::vector<std::string> calls;
    std::vector<uint8_t> lastUserVertices;
    void Forget() { calls.clear(); }
    size_t Count(const std::string& prefix) const;
    // Names an object in the call log ("surface#3"); null prints as "null".
    std::string Name(const void* object) const;

    RecordingDirect3D* parent;
    ULONG references = 1;
    IDirect3DSurface9* backBuffer = nullptr;
    IDirect3DSurface9* depthBuffer = nullptr;
    IDirect3DSurface9* targets[4] = {};
    IDirect3DSurface9* depth = nullptr;
    D3DVIEWPORT9 viewport{};
    HRESULT presentResult = D3D_OK;
    HRESULT clearResult = D3D_OK;
    std::vector<const void*> objects;  // creation order gives the names
};

}  // namespace lumaret::test
