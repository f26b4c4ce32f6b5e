// Renderer: the engine's one Direct3D 9 device object.
//
// Owns the Direct3D object and device, the shader, texture and font registries, the
// render-target list, the two fixed vertex declarations and the built-in billboard
// resources. Everything else refers to its resources by registry index (-1 = none);
// registries only grow, so indices stay valid until shutdown. Init writes the capability
// report to the log; every failure it cannot continue from ends the program through
// Log::Fatal. The scene, its passes and post-processing live in scene/ and postfx/.
#pragma once

#include "render/Mesh.h"
#include "render/RenderTarget.h"
#include "render/RendererTypes.h"
#include "resources/Font.h"
#include "resources/ShaderParams.h"
#include "resources/ShaderRecord.h"
#include "resources/TextureRecord.h"

#include <d3dx9.h>

#include <cstdint>
#include <string>
#include <vector>

// The built-in camera-facing billboard: a unit-square vertex buffer, its shader pair, an
// additive parameter block and two occlusion queries. Kept for the renderer's interface
// (Init creates them, shutdown releases them); nothing draws them.
struct BillboardResources {
    IDirect3DVertexBuffer9* vertexBuffer = nullptr;
    int shader = -1;
    ShaderParams params;
    IDirect3DQuery9* queries[2] = {};
};

class Renderer;
class StartupPrefetch;
extern Renderer* gRenderer;

class Renderer {
public:
    // One entry per render-state number. The size is the renderer's interface; a state list
    // names its states in one byte, so only the first 256 entries are ever read or written.
    static constexpr int kStateCacheSize = 768;

    Renderer();
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    bool Init(HWND window, DisplayModeDesc mode, RendererSettings settings, int deviceFlags);

    // Frame operations and quads.
    void BeginScene();
    void EndScene();
    void Clear(uint32_t clearFlags, D3DCOLOR color, uint32_t stencil);
    void Present();
    void SetSamplerFlags(int stage, uint32_t samplerFlags);
    void SetTexture(int stage, int textureIndex);
    void SetShader(int shaderIndex);
    IDirect3DVertexDeclaration9* CreateVertexDecl(const D3DVERTEXELEMENT9* elements);
    void ReleaseVertexDecl(IDirect3DVertexDeclaration9* declaration);
    IDirect3DVertexBuffer9* CreateVertexBuffer(uint32_t length, DWORD fvf, bool dynamic);
    void* LockVertexBuffer(IDirect3DVertexBuffer9* buffer, uint32_t offset, uint32_t size, DWORD flags);
    void UnlockVertexBuffer(IDirect3DVertexBuffer9* buffer);
    IDirect3DQuery9* CreateOcclusionQuery();
    void DrawQuads(const QuadDesc* quads, int count);
    HRESULT DrawScreenQuad(int width, int height);
    HRESULT DrawFullScreenQuad();
    // A batch of clip-space triangles in the quad vertex layout, in one draw call.
    void DrawTriangles(const QuadVertex* vertices, int vertexCount);
    // A line list (two vertices a line) in the quad vertex layout, in one draw call; the
    // bound shader decides what space the positions are in.
    void DrawLines(const QuadVertex* vertices, int vertexCount);
    // A triangle list from memory in a vertex layout of the caller's, in one draw call.
    void DrawUserTriangles(IDirect3DVertexDeclaration9* declaration, const void* vertices, int triangleCount,
                           uint32_t stride);
    int TextureCount() const { return static_cast<int>(textures.size()); }
    int ShaderCount() const { return static_cast<int>(shaders.size()); }
    int FontCount() const { return static_cast<int>(fonts.size()); }

    // Meshes; their indexed draws share the renderer's throttle.
    Mesh* CreateMesh();

    // Render targets.
    int CreateRenderTarget(int colorFormat, int width, int height, int depthFormat, bool readable);
    void ReleaseRenderTarget(int index);
    // Names a target's texture and surfaces for frame debuggers ("ZN target", "ZN target depth").
    void NameRenderTarget(int index, const std::string& role);
    void BeginRenderTarget(int index, int slot);
    void EndRenderTarget(int index, int slot);
    // While drawing into a target begun with BeginRenderTarget, tests against the depth of
    // another target of the same size instead of its own (EndRenderTarget restores it).
    void UseTargetDepth(int index);
    void GetRenderTargetSize(int index, int* width, int* height) const;
    void SetRenderTargetTexture(int stage, int index);
    void* LockRenderTarget(int index, int* pitch);
    void UnlockRenderTarget(int index);

    // Shaders.
    // name, when given, is what the compiler's messages and frame debuggers call the programs.
    int CreateShader(const char* vertexSource, const char* pixelSource, const char* name = nullptr);
    // CreateShader for the sections of a shader file: name is the file's path, and the
    // compiler counts lines from where each section begins in it.
    int CreateShaderFromFileText(const char* vertexSource, const char* pixelSource, const char* name, int vertexLine,
                                 int pixelLine);
    // Both programs, their constant tables and handles; false with the compiler's text.
    bool BuildShaderRecord(const char* vertexSource, const char* pixelSource, const char* name, int vertexLine,
                           int pixelLine, ShaderRecord* record, std::string* error);
    int LoadShader(const std::string& path);
    // Compiles the shader's file again under the same index. On failure the shader keeps
    // its programs and error says why (the compiler's text names the file and line).
    bool ReloadShader(int index, std::string* error);
    int FindShader(const std::string& name) const;
    void ReleaseShader(int index);

    // Shader parameters.
    static void BuildStateList(ShaderParams& block);
    void ApplyShaderParams(int shaderIndex, const ShaderParams& block);

    // Resources.
    // The start-up scan of ./data/. ahead, when given, holds work done on its files
    // while the device was being created (StartupPrefetch.h).
    bool LoadResources(StartupPrefetch* ahead = nullptr);
    int LoadTexture(const std::string& path);
    // The same for an image already in memory, registered under path.
    int LoadTexture(const std::string& path, const uint8_t* data, size_t size);
    int FindTexture(const std::string& name) const;
    // Frees a texture a client registered and no longer draws with (a replaced model's);
    // its slot stays, empty and nameless, so no other index moves and look-ups by its name
    // find what is registered under it next. Stages that hold it let it go.
    void ReleaseTexture(int index);
    void LoadFont(const std::string& path);
    int FindFont(const std::string& name) const;

    int width = 0;
    int height = 0;
    bool fullscreen = false;
    RendererSettings settings;
    uint32_t stateCache[kStateCacheSize];
    int pixelShaderMajor = 0, pixelShaderMinor = 0;
    int vertexShaderMajor = 0, vertexShaderMinor = 0;
    int textureStages = 0;
    int maxAnisotropy = 0;
    bool canAutoGenMipMap = false;
    bool hwShadowMaps = false;
    bool r32fTarget = false;
    bool fp16Target = false;
    bool fp32Target = false;
    bool fpBlending = false;
    bool fpFiltering = false;
    bool occlusionQuery = false;
    IDirect3D9* d3d = nullptr;
    IDirect3DDevice9* device = nullptr;
    D3DDISPLAYMODE displayMode{};
    D3DCAPS9 caps{};
    D3DPRESENT_PARAMETERS presentParameters{};
    std::vector<TextureRecord> textures;
    std::vector<RenderTarget> renderTargets;
    std::vector<ShaderRecord> shaders;
    std::vector<FontRecord> fonts;
    IDirect3DVertexDeclaration9* quadDeclaration = nullptr;
    IDirect3DVertexDeclaration9* screenQuadDeclaration = nullptr;
    BillboardResources billboard;
    DrawThrottle drawThrottle;

private:
    // Set only while LoadResources runs: handed in where the scan starts.
    StartupPrefetch* startupPrefetch = nullptr;
    void ProbeCapabilities();
    // A batch in the quad vertex layout, in one draw call.
    void DrawQuadVertices(D3DPRIMITIVETYPE type, int primitives, const QuadVertex* vertices, const char* caller);
    void CreateBillboardResources();
    void ReleaseBillboardResources();
    bool CheckTextureFormat(DWORD usage, D3DFORMAT format);
};

// The two shader texts of the billboard, as the engine builds them in.
extern const char* const kBillboardVertexShader;
extern const char* const kBillboardPixelShader;
