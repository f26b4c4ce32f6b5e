// IDirect3DDevice9 on OpenGL 4.5 core.
//
// State calls only record Direct3D 9 state (D3D9State) and mark what changed; a draw brings
// GL up to date (GlStateCache: framebuffer, viewport, render states, samplers, programs,
// vertex arrays, constant registers) and then draws. Direct3D 9's conventions hold
// throughout: pixel centres on integer coordinates, [0, 1] depth, row 0 at the top, shader
// constants in registers that outlive shader switches. The back buffer is a framebuffer
// object; Present resolves it and shows it in the window, flipped to GL's bottom-up window
// origin, or hands it to the headless harness.
//
// The device's work is spread by concept: Device.cpp (creation, resources), DeviceStateCalls.cpp
// (the Set/Get state calls), DeviceTargets.cpp (targets, framebuffer, Clear), DeviceDraw.cpp
// (bringing GL up to date, draws), Presentation.cpp (Present and read-back); the state records
// (D3D9State, GlStateCache) are in StateRecords.h; the GL translations, the fixed-function
// stages and the internal uniforms have headers of their own.
#pragma once

#include "d3d9/DepthBiasUnit.h"
#include "d3d9/DeviceLimits.h"
#include "d3d9/StateRecords.h"
#include "d3d9/GlContext.h"
#include "d3d9/RefCounted.h"
#include "d3d9/Buffer.h"
#include "d3d9/Query.h"
#include "d3d9/ShaderObject.h"
#include "d3d9/Surface.h"
#include "d3d9/Texture.h"
#include "d3d9/VertexDeclaration.h"
#include "d3d9/StreamBuffer.h"

#include <d3d9.h>
#include <epoxy/gl.h>

#include <map>
#include <memory>
#include <string>
#include <tuple>

struct SDL_Window;

namespace lumaret::platform {

class Direct3D9;

class Device final : public RefCounted<IDirect3DDevice9> {
public:
    // Creates the GL context and the implicit back buffer; null with a reason on failure.
    static Device* Create(Direct3D9* parent, HWND window, DWORD behaviorFlags,
                          const D3DPRESENT_PARAMETERS& parameters, std::string* error);
    ~Device() override;

    // IDirect3DDevice9
    HRESULT TestCooperativeLevel() override { return D3D_OK; }
    HRESULT GetDirect3D(IDirect3D9** d3d) override;
    HRESULT GetDeviceCaps(D3DCAPS9* caps) override;
    HRESULT GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) override;
    HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* parameters) override;
    HRESULT Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                    const void* dirtyRegion) override;
    HRESULT GetBackBuffer(UINT swapChain, UINT backBuffer, D3DBACKBUFFER_TYPE type,
                          IDirect3DSurface9** surface) override;
    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                          IDirect3DTexture9** texture, HANDLE* sharedHandle) override;
    HRESULT CreateCubeTexture(UINT edgeLength, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DCubeTexture9** cubeTexture, HANDLE* sharedHandle) override;
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                               IDirect3DVertexBuffer9** vertexBuffer, HANDLE* sharedHandle) override;
    HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DIndexBuffer9** indexBuffer, HANDLE* sharedHandle) override;
    HRESULT CreateRenderTarget(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                               DWORD multisampleQuality, BOOL lockable, IDirect3DSurface9** surface,
                               HANDLE* sharedHandle) override;
    HRESULT CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                      DWORD multisampleQuality, BOOL discard, IDirect3DSurface9** surface,
                                      HANDLE* sharedHandle) override;
    HRESULT GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* destSurface) override;
    HRESULT StretchRect(IDirect3DSurface9* sourceSurface, const RECT* sourceRect, IDirect3DSurface9* destSurface,
                        const RECT* destRect, D3DTEXTUREFILTERTYPE filter) override;
    HRESULT CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                        IDirect3DSurface9** surface, HANDLE* sharedHandle) override;
    HRESULT SetRenderTarget(DWORD renderTargetIndex, IDirect3DSurface9* renderTarget) override;
    HRESULT GetRenderTarget(DWORD renderTargetIndex, IDirect3DSurface9** renderTarget) override;
    HRESULT SetDepthStencilSurface(IDirect3DSurface9* newZStencil) override;
    HRESULT GetDepthStencilSurface(IDirect3DSurface9** zStencilSurface) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) override;
    HRESULT SetViewport(const D3DVIEWPORT9* viewport) override;
    HRESULT GetViewport(D3DVIEWPORT9* viewport) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
    HRESULT GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) override;
    HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override;
    HRESULT GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) override;
    HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
    HRESULT SetScissorRect(const RECT* rect) override;
    HRESULT GetScissorRect(RECT* rect) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE primitiveType, UINT startVertex, UINT primitiveCount) override;
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE primitiveType, INT baseVertexIndex, UINT minVertexIndex,
                                 UINT numVertices, UINT startIndex, UINT primitiveCount) override;
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE primitiveType, UINT primitiveCount, const void* vertexStreamZeroData,
                            UINT vertexStreamZeroStride) override;
    HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE primitiveType, UINT minVertexIndex, UINT numVertices,
                                   UINT primitiveCount, const void* indexData, D3DFORMAT indexDataFormat,
                                   const void* vertexStreamZeroData, UINT vertexStreamZeroStride) override;
    HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9* vertexElements,
                                    IDirect3DVertexDeclaration9** decl) override;
    HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9* decl) override;
    HRESULT GetVertexDeclaration(IDirect3DVertexDeclaration9** decl) override;
    HRESULT CreateVertexShader(const DWORD* function, IDirect3DVertexShader9** shader) override;
    HRESULT SetVertexShader(IDirect3DVertexShader9* shader) override;
    HRESULT GetVertexShader(IDirect3DVertexShader9** shader) override;
    HRESULT SetVertexShaderConstantF(UINT startRegister, const float* constantData, UINT vector4fCount) override;
    HRESULT GetVertexShaderConstantF(UINT startRegister, float* constantData, UINT vector4fCount) override;
    HRESULT SetStreamSource(UINT streamNumber, IDirect3DVertexBuffer9* streamData, UINT offsetInBytes,
                            UINT stride) override;
    HRESULT GetStreamSource(UINT streamNumber, IDirect3DVertexBuffer9** streamData, UINT* offsetInBytes,
                            UINT* stride) override;
    HRESULT SetIndices(IDirect3DIndexBuffer9* indexData) override;
    HRESULT GetIndices(IDirect3DIndexBuffer9** indexData) override;
    HRESULT CreatePixelShader(const DWORD* function, IDirect3DPixelShader9** shader) override;
    HRESULT SetPixelShader(IDirect3DPixelShader9* shader) override;
    HRESULT GetPixelShader(IDirect3DPixelShader9** shader) override;
    HRESULT SetPixelShaderConstantF(UINT startRegister, const float* constantData, UINT vector4fCount) override;
    HRESULT GetPixelShaderConstantF(UINT startRegister, float* constantData, UINT vector4fCount) override;
    HRESULT CreateQuery(D3DQUERYTYPE type, IDirect3DQuery9** query) override;

    // Layer-internal.
    void MakeCurrent() { context_->MakeCurrent(); }
    // The swap chain's surfaces count on the device, which holds them bound or not.
    void HoldBinding() override {}
    void DropBinding() override {}
    // Reads a colour surface's pixels (resolving multisampling) into D3D9's memory layout.
    bool ReadPixels(Surface* source, uint8_t* destination, UINT pitch);
    Surface* backBuffer() const { return backBuffer_; }
    const D3DPRESENT_PARAMETERS& presentParameters() const { return parameters_; }

private:
    Device(Direct3D9* parent, HWND window, DWORD behaviorFlags, const D3DPRESENT_PARAMETERS& parameters,
           std::unique_ptr<GlContext> context);
    bool InitialiseGl(std::string* error);

    HRESULT PrepareDraw(bool pretransformed);
    void ApplyFramebuffer();
    void ApplyViewport(bool pretransformed);
    void ApplyRenderStates();
    void ApplySamplers();
    HRESULT ApplyPrograms(bool pretransformed);
    void ApplyVertexInput();
    HRESULT ApplyConstants();
    GLuint SamplerObject(UINT stage);
    GLuint FixedFunctionVertexProgram(VertexDeclaration* declaration);
    GLuint FixedFunctionPixelProgram();
    // A render or depth buffer in GL renderbuffer storage; null for what the layer cannot make.
    Surface* CreateRenderbufferSurface(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                       DWORD usage, SharedObject* owner);
    HRESULT ClearImpl(DWORD flags, D3DCOLOR color, float z, DWORD stencil, const RECT& area);
    void ReadFromBackBuffer();
    void ResolveBackBuffer();

    Direct3D9* parent_;
    HWND window_;
    SDL_Window* sdlWindow_ = nullptr;  // kept alive while the context draws to it
    DWORD behaviorFlags_;
    D3DPRESENT_PARAMETERS parameters_;
    std::unique_ptr<GlContext> context_;
    D3DCAPS9 caps_{};

    // Implicit swap chain.
    Surface* backBuffer_ = nullptr;
    Surface* autoDepthStencil_ = nullptr;
    GLuint resolveFramebuffer_ = 0;
    GLuint resolveRenderbuffer_ = 0;
    GLuint readFramebuffer_ = 0;

    D3D9State state_;
    GlStateCache gl_;

    // The device's own GL objects.
    GLuint framebuffer_ = 0;
    GLuint pipeline_ = 0;
    StreamBuffer stream_;
    GLint uniformAlignment_ = 256;
    GLuint internalBuffer_ = 0;
    GLuint emptyVertexArray_ = 0;
    // Linked at its first draw: a program with shaders of its own never pays for it.
    GLuint fixedFunctionPixelProgram_ = 0;
    bool fixedFunctionPixelFailed_ = false;
    std::map<std::tuple<DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD>, GLuint> samplerCache_;
    GLint maxSamples_ = 0;
    DepthBiasUnits depthBiasUnits_;

    // Draws from user memory: where in the stream buffer this draw's data went.
    GLintptr upVertexOffset_ = 0;
    GLintptr upIndexOffset_ = 0;
    bool upStream_ = false;   // stream 0 comes from a DrawPrimitiveUP call
    bool upIndices_ = false;  // indices come from a DrawIndexedPrimitiveUP call
};

}  // namespace lumaret::platform
