// Direct3D 9 conformance on the GL layer: real pixels from llvmpipe, read back through
// GetRenderTargetData in D3D9's memory layout.
#include "d3d9/GlDebug.h"
#include "d3d9/PrivateData.h"
#include "d3d9/Buffer.h"
#include "d3d9/ShaderObject.h"
#include "d3d9/Surface.h"
#include "d3d9/Texture.h"
#include "d3d9/StreamBuffer.h"
#include "support/DeviceFixture.h"
#include "support/GlLabel.h"

#include <d3dx9.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using lumaret::test::DeviceTest;
using lumaret::test::GlLabel;

namespace {

struct ScreenVertex {
    float x, y, z, rhw;
    D3DCOLOR color;
    float u, v;
};

const D3DVERTEXELEMENT9 kScreenElements[] = {
    {0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITIONT, 0},
    {0, 16, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
    {0, 20, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    D3DDECL_END()};

}  // namespace

TEST_F(DeviceTest, ClearFillsTheViewportOfTheBackBuffer) {
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0xFF404040, 1.0f, 0),
              D3D_OK);
    D3DVIEWPORT9 inner{8, 16, 4, 2, 0.0f, 1.0f};
    device->SetViewport(&inner);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0x80FF0000, 1.0f, 0);
    std::vector<uint32_t> pixels = ReadBackBuffer();
    ASSERT_EQ(pixels.size(), static_cast<size_t>(width * height));
    EXPECT_EQ(pixels[0], 0xFF404040u);
    EXPECT_EQ(pixels[16 * width + 8], 0x80FF0000u);
    EXPECT_EQ(pixels[17 * width + 11], 0x80FF0000u);
    EXPECT_EQ(pixels[18 * width + 8], 0xFF404040u);
    EXPECT_EQ(pixels[16 * width + 12], 0xFF404040u);
    EXPECT_EQ(pixels[15 * width + 8], 0xFF404040u);
}

TEST_F(DeviceTest, PretransformedQuadWithVertexColourCoversTheTarget) {
    IDirect3DVertexDeclaration9* decl = nullptr;
    ASSERT_EQ(device->CreateVertexDeclaration(kScreenElements, &decl), D3D_OK);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    float w = static_cast<float>(width), h = static_cast<float>(height);
    ScreenVertex quad[4] = {{-0.5f, h - 0.5f, 0, 1, 0xFF00FF00, 0, 1},
                            {-0.5f, -0.5f, 0, 1, 0xFF00FF00, 0, 0},
                            {w - 0.5f, h - 0.5f, 0, 1, 0xFF00FF00, 1, 1},
                            {w - 0.5f, -0.5f, 0, 1, 0xFF00FF00, 1, 0}};
    device->SetVertexDeclaration(decl);
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(ScreenVertex)), D3D_OK);
    device->EndScene();
    std::vector<uint32_t> pixels = ReadBackBuffer();
    for (size_t i = 0; i < pixels.size(); ++i) ASSERT_EQ(pixels[i], 0xFF00FF00u) << "pixel " << i;
    decl->Release();
}

TEST_F(DeviceTest, MultisampledBackBufferResolvesForReadBackAndScreenshots) {
    CreateDevice(32, 16, D3DMULTISAMPLE_4_SAMPLES);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0xFF202020, 1.0f, 0);
    IDirect3DVertexDeclaration9* decl = nullptr;
    ASSERT_EQ(device->CreateVertexDeclaration(kScreenElements, &decl), D3D_OK);
    ScreenVertex quad[4] = {{-0.5f, 15.5f, 0, 1, 0xFFFF8000, 0, 1},
                            {-0.5f, -0.5f, 0, 1, 0xFFFF8000, 0, 0},
                            {15.5f, 15.5f, 0, 1, 0xFFFF8000, 1, 1},
                            {15.5f, -0.5f, 0, 1, 0xFFFF8000, 1, 0}};
    device->SetVertexDeclaration(decl);
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(ScreenVertex)), D3D_OK);
    std::vector<uint32_t> pixels = ReadBackBuffer();
    EXPECT_EQ(pixels[0], 0xFFFF8000u);
    EXPECT_EQ(pixels[15 * 32 + 15], 0xFFFF8000u);
    EXPECT_EQ(pixels[15 * 32 + 16], 0xFF202020u);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    decl->Release();
}

TEST_F(DeviceTest, FormatChecksTellTheTruth) {
    // Whatever CheckDeviceFormat accepts can be created, and render targets can be cleared
    // and read back; what it refuses cannot be created.
    const D3DFORMAT formats[] = {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5,      D3DFMT_A1R5G5B5,
                                 D3DFMT_A4R4G4B4, D3DFMT_A8,       D3DFMT_L8,          D3DFMT_A8L8,
                                 D3DFMT_A16B16G16R16, D3DFMT_A2R10G10B10, D3DFMT_R32F, D3DFMT_G16R16F,
                                 D3DFMT_A16B16G16R16F, D3DFMT_A32B32G32R32F, D3DFMT_DXT1, D3DFMT_DXT5,
                                 D3DFMT_V8U8, D3DFMT_P8, D3DFMT_CxV8U8, D3DFMT_UYVY};
    for (D3DFORMAT format : formats) {
        bool texture = SUCCEEDED(d3d->CheckDeviceFormat(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, 0,
                                                        D3DRTYPE_TEXTURE, format));
        IDirect3DTexture9* created = nullptr;
        HRESULT hr = device->CreateTexture(8, 8, 1, 0, format, D3DPOOL_MANAGED, &created, nullptr);
        EXPECT_EQ(SUCCEEDED(hr), texture) << "format " << format;
        if (created) created->Release();
        bool target = SUCCEEDED(d3d->CheckDeviceFormat(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8,
                                                       D3DUSAGE_RENDERTARGET, D3DRTYPE_TEXTURE, format));
        created = nullptr;
        hr = device->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, format, D3DPOOL_DEFAULT, &created, nullptr);
        EXPECT_EQ(SUCCEEDED(hr), target) << "render-target format " << format;
        if (!created) continue;
        IDirect3DSurface9* surface = nullptr;
        IDirect3DSurface9* back = nullptr;
        created->GetSurfaceLevel(0, &surface);
        device->GetRenderTarget(0, &back);
        EXPECT_EQ(device->SetRenderTarget(0, surface), D3D_OK);
        EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFF, 1.0f, 0), D3D_OK) << format;
        EXPECT_FALSE(ReadSurface(surface).empty()) << format;
        device->SetRenderTarget(0, back);
        back->Release();
        surface->Release();
        created->Release();
    }
    D3DCAPS9 caps;
    device->GetDeviceCaps(&caps);
    EXPECT_EQ(caps.VertexShaderVersion, static_cast<DWORD>(D3DVS_VERSION(3, 0)));
    EXPECT_EQ(caps.PixelShaderVersion, static_cast<DWORD>(D3DPS_VERSION(3, 0)));
    EXPECT_EQ(caps.MaxSimultaneousTextures, 8u);
    EXPECT_TRUE(caps.Caps2 & D3DCAPS2_CANAUTOGENMIPMAP);
    IDirect3DTexture9* autogen = nullptr;
    ASSERT_EQ(device->CreateTexture(8, 8, 0, D3DUSAGE_AUTOGENMIPMAP, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &autogen, nullptr),
              D3D_OK);
    EXPECT_EQ(autogen->GetLevelCount(), 1u) << "generated levels are not the application's";
    autogen->Release();
}

TEST_F(DeviceTest, StreamWritesReportAMapThatFails) {
    // The ring maps its storage for every write; a map that fails must not hand out an
    // offset the data never reached.
    lumaret::platform::StreamBuffer stream;
    stream.Create(1024);
    const char data[16] = "fifteen bytes!";
    bool wrapped = false;
    EXPECT_EQ(stream.Write(data, sizeof(data), 16, &wrapped), 0);
    void* mapped = glMapNamedBufferRange(stream.name(), 0, 64, GL_MAP_WRITE_BIT);  // a second map must fail
    ASSERT_NE(mapped, nullptr);
    EXPECT_LT(stream.Write(data, sizeof(data), 16, &wrapped), 0);
    glUnmapNamedBuffer(stream.name());
    lumaret::platform::ResetGlDebugErrors();  // the failed map was this test's own doing
    EXPECT_EQ(stream.Write(data, sizeof(data), 16, &wrapped), 16) << "the failed write took no room";
    stream.Destroy();
}

TEST_F(DeviceTest, StreamRingWrapsAndGrowsWithItsWrites) {
    // The ring starts small: it refills for writes that are small against it, doubles for
    // one that would refill it every few draws, and grows to hold one larger than itself.
    lumaret::platform::StreamBuffer stream;
    stream.Create(1024);
    std::vector<char> data(4096, 'x');
    bool wrapped = false;
    auto write = [&](GLsizeiptr size) {
        wrapped = false;
        return stream.Write(data.data(), size, 4, &wrapped);
    };
    for (GLintptr expected = 0; expected < 1000; expected += 100) EXPECT_EQ(write(100), expected);
    EXPECT_FALSE(wrapped);
    EXPECT_EQ(write(100), 0) << "a small write refills the ring";
    EXPECT_TRUE(wrapped);
    EXPECT_EQ(write(900), 100);
    EXPECT_EQ(write(200), 0) << "a write of over an eighth of the ring refills it doubled";
    EXPECT_TRUE(wrapped);
    EXPECT_EQ(write(1800), 200) << "the doubled ring holds it without refilling";
    EXPECT_FALSE(wrapped);
    EXPECT_EQ(write(4096), 0) << "larger than the ring";
    EXPECT_TRUE(wrapped);
    EXPECT_EQ(write(4096), 4096) << "grown to twice that write";
    stream.Destroy();
}

TEST_F(DeviceTest, GlErrorsDuringACallBecomeItsResult) {
    // Not only stderr: the caller hears of a GL error through the HRESULT.
    IDirect3DVertexDeclaration9* decl = nullptr;
    ASSERT_EQ(device->CreateVertexDeclaration(kScreenElements, &decl), D3D_OK);
    device->SetVertexDeclaration(decl);
    ScreenVertex point{1, 1, 0, 1, 0xFFFFFFFF, 0, 0};
    glEnable(0xFFFF);  // stands for a GL call of the layer that failed
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_POINTLIST, 1, &point, sizeof(point)), D3DERR_DRIVERINTERNALERROR);
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_POINTLIST, 1, &point, sizeof(point)), D3D_OK) << "reported once";
    glEnable(0xFFFF);
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3DERR_DRIVERINTERNALERROR);
    lumaret::platform::ResetGlDebugErrors();
    decl->Release();
}

TEST_F(DeviceTest, ResourceCreationIsNotBlamedForEarlierGlErrors) {
    // Creation asks GL whether its allocation failed; an error left by an earlier call is
    // not the new resource's.
    IDirect3DTexture9* texture = nullptr;
    IDirect3DVertexBuffer9* vertices = nullptr;
    IDirect3DIndexBuffer9* indices = nullptr;
    IDirect3DSurface9* target = nullptr;
    glEnable(0xFFFF);
    EXPECT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    glEnable(0xFFFF);
    EXPECT_EQ(device->CreateVertexBuffer(64, D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT, &vertices, nullptr), D3D_OK);
    glEnable(0xFFFF);
    EXPECT_EQ(device->CreateIndexBuffer(64, 0, D3DFMT_INDEX16, D3DPOOL_DEFAULT, &indices, nullptr), D3D_OK);
    glEnable(0xFFFF);
    EXPECT_EQ(device->CreateRenderTarget(4, 4, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, FALSE, &target, nullptr),
              D3D_OK);
    lumaret::platform::ResetGlDebugErrors();
    for (IUnknown* created : std::initializer_list<IUnknown*>{texture, vertices, indices, target})
        if (created) created->Release();
}

TEST_F(DeviceTest, PrivateDataKeepsBytesAndADebugNameLabelsTheGlObject) {
    using namespace lumaret::platform;
    IDirect3DTexture9* texture = MakeRenderTargetTexture(8, 8, D3DFMT_A8R8G8B8);
    IDirect3DVertexBuffer9* vertices = nullptr;
    IDirect3DIndexBuffer9* indices = nullptr;
    IDirect3DSurface9* depth = nullptr;
    IDirect3DSurface9* memory = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(64, 0, 0, D3DPOOL_DEFAULT, &vertices, nullptr), D3D_OK);
    ASSERT_EQ(device->CreateIndexBuffer(64, 0, D3DFMT_INDEX16, D3DPOOL_DEFAULT, &indices, nullptr), D3D_OK);
    ASSERT_EQ(device->CreateDepthStencilSurface(8, 8, D3DFMT_D24S8, D3DMULTISAMPLE_NONE, 0, TRUE, &depth, nullptr),
              D3D_OK);
    ASSERT_EQ(device->CreateOffscreenPlainSurface(8, 8, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &memory, nullptr), D3D_OK);
    GLenum target = 0;
    struct Case {
        IDirect3DResource9* resource;
        GLenum identifier;  // 0: nothing of GL to label
        GLuint name;
    } cases[] = {
        {texture, GL_TEXTURE, GlTextureOf(texture, &target)},
        {vertices, GL_BUFFER, dynamic_cast<VertexBuffer*>(vertices)->name()},
        {indices, GL_BUFFER, dynamic_cast<IndexBuffer*>(indices)->name()},
        {depth, GL_RENDERBUFFER, dynamic_cast<Surface*>(depth)->glRenderbuffer()},
        {memory, 0, 0},
    };
    const GUID other = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    for (const Case& c : cases) {
        ASSERT_NE(c.identifier != 0, c.name == 0);
        // A name stored with its NUL labels without it; a second name replaces the first.
        ASSERT_EQ(c.resource->SetPrivateData(kDebugObjectNameGuid, "first", 6, 0), D3D_OK);
        ASSERT_EQ(c.resource->SetPrivateData(kDebugObjectNameGuid, "ZN target", 9, 0), D3D_OK);
        if (c.identifier) {
            EXPECT_EQ(GlLabel(c.identifier, c.name), "ZN target");
        }
        DWORD size = 0;
        EXPECT_EQ(c.resource->GetPrivateData(kDebugObjectNameGuid, nullptr, &size), D3D_OK);
        EXPECT_EQ(size, 9u);
        char text[16] = {};
        size = 4;
        EXPECT_EQ(c.resource->GetPrivateData(kDebugObjectNameGuid, text, &size), D3DERR_MOREDATA);
        EXPECT_EQ(size, 9u);
        size = sizeof(text);
        EXPECT_EQ(c.resource->GetPrivateData(kDebugObjectNameGuid, text, &size), D3D_OK);
        EXPECT_STREQ(text, "ZN target");
        EXPECT_EQ(c.resource->GetPrivateData(other, text, &size), D3DERR_NOTFOUND);
        EXPECT_EQ(c.resource->FreePrivateData(kDebugObjectNameGuid), D3D_OK);
        EXPECT_EQ(c.resource->FreePrivateData(kDebugObjectNameGuid), D3DERR_NOTFOUND);
        if (c.identifier) {
            EXPECT_EQ(GlLabel(c.identifier, c.name), "");
        }
    }

    // An interface kept as private data is held until it is replaced, and handed out with
    // a reference of the caller's own.
    ULONG start = vertices->AddRef() - 1;
    vertices->Release();
    IUnknown* held = vertices;
    ASSERT_EQ(texture->SetPrivateData(other, &held, sizeof(held), D3DSPD_IUNKNOWN), D3D_OK);
    EXPECT_EQ(texture->SetPrivateData(other, &held, 3, D3DSPD_IUNKNOWN), D3DERR_INVALIDCALL);
    IUnknown* out = nullptr;
    DWORD size = sizeof(out);
    ASSERT_EQ(texture->GetPrivateData(other, &out, &size), D3D_OK);
    EXPECT_EQ(out, held);
    EXPECT_EQ(vertices->AddRef() - 1, start + 2);
    vertices->Release();
    out->Release();
    ASSERT_EQ(texture->SetPrivateData(other, "bytes", 5, 0), D3D_OK);
    EXPECT_EQ(vertices->AddRef() - 1, start) << "replacing the interface released it";
    vertices->Release();

    // The layer's own objects are named too.
    IDirect3DSurface9* back = nullptr;
    ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
    EXPECT_EQ(GlLabel(GL_RENDERBUFFER, dynamic_cast<Surface*>(back)->glRenderbuffer()), "back buffer");
    back->Release();

    for (IUnknown* object : {static_cast<IUnknown*>(texture), static_cast<IUnknown*>(vertices),
                             static_cast<IUnknown*>(indices), static_cast<IUnknown*>(depth),
                             static_cast<IUnknown*>(memory)})
        object->Release();
}

TEST_F(DeviceTest, ASourceNamedByLineDirectiveLabelsItsProgram) {
    const char source[] = "#line 1 \"probe.hlsl\"\nfloat4 main() : COLOR { return float4(1, 0, 0, 1); }\n";
    ID3DXBuffer* code = nullptr;
    ASSERT_EQ(D3DXCompileShader(source, sizeof(source) - 1, nullptr, nullptr, "main", "ps_3_0", 0, &code, nullptr,
                                nullptr),
              D3D_OK);
    IDirect3DPixelShader9* shader = nullptr;
    ASSERT_EQ(device->CreatePixelShader(static_cast<const DWORD*>(code->GetBufferPointer()), &shader), D3D_OK);
    EXPECT_EQ(GlLabel(GL_PROGRAM, dynamic_cast<lumaret::platform::PixelShader*>(shader)->program()),
              "probe.hlsl (pixel)");
    shader->Release();
    code->Release();
}

// What a lock writes reaches GL, whatever the buffer's usage and the lock's flags; what
// the lock did not write survives unless the program discarded it (dynamic buffers only:
// Direct3D 9 ignores D3DLOCK_DISCARD elsewhere). Only readable buffers keep a CPU copy;
// every buffer reads back what was written.
TEST_F(DeviceTest, BufferLocksReachGlAndKeepACopyOnlyWhenReadable) {
    struct Case {
        const char* name;
        DWORD usage;
        DWORD secondLock;
        bool restKept;
        bool keepsCopy;
    };
    const Case cases[] = {
        {"readable", 0, 0, true, true},
        {"readable dynamic, discard", D3DUSAGE_DYNAMIC, D3DLOCK_DISCARD, false, true},
        {"write-only", D3DUSAGE_WRITEONLY, 0, true, false},
        {"write-only, discard ignored", D3DUSAGE_WRITEONLY, D3DLOCK_DISCARD, true, false},
        {"write-only dynamic, no-overwrite", D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC, D3DLOCK_NOOVERWRITE, true, false},
        {"write-only dynamic, discard", D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC, D3DLOCK_DISCARD, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IDirect3DVertexBuffer9* buffer = nullptr;
        ASSERT_EQ(device->CreateVertexBuffer(64, c.usage, 0, D3DPOOL_DEFAULT, &buffer, nullptr), D3D_OK);
        void* data = nullptr;
        ASSERT_EQ(buffer->Lock(0, 0, &data, 0), D3D_OK);
        std::memset(data, 0xAA, 64);
        ASSERT_EQ(buffer->Unlock(), D3D_OK);
        ASSERT_EQ(buffer->Lock(16, 16, &data, c.secondLock), D3D_OK);
        std::memset(data, 0x55, 16);
        ASSERT_EQ(buffer->Unlock(), D3D_OK);
        EXPECT_EQ(buffer->Unlock(), D3DERR_INVALIDCALL) << "nothing left to unlock";

        auto* layer = dynamic_cast<lumaret::platform::VertexBuffer*>(buffer);
        EXPECT_EQ(layer->keepsCopy(), c.keepsCopy);
        unsigned char gl[64] = {};
        glGetNamedBufferSubData(layer->name(), 0, sizeof(gl), gl);
        for (int i = 0; i < 64; ++i) {
            bool written = i >= 16 && i < 32;
            if (written) {
                EXPECT_EQ(gl[i], 0x55) << "byte " << i;
            } else if (c.restKept) {
                EXPECT_EQ(gl[i], 0xAA) << "byte " << i;
            }
        }
        // Read back from the copy, or from GL for a write-only buffer.
        ASSERT_EQ(buffer->Lock(0, 0, &data, D3DLOCK_READONLY), D3D_OK);
        EXPECT_EQ(static_cast<unsigned char*>(data)[20], 0x55) << "read back";
        buffer->Unlock();
        buffer->Release();
    }
}

TEST_F(DeviceTest, NestedLocksOfAWriteOnlyBufferShareOneMapping) {
    IDirect3DIndexBuffer9* buffer = nullptr;
    ASSERT_EQ(device->CreateIndexBuffer(32, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_DEFAULT, &buffer, nullptr),
              D3D_OK);
    void* outer = nullptr;
    void* inner = nullptr;
    ASSERT_EQ(buffer->Lock(0, 16, &outer, 0), D3D_OK);
    ASSERT_EQ(buffer->Lock(16, 16, &inner, 0), D3D_OK);
    EXPECT_EQ(static_cast<char*>(inner) - static_cast<char*>(outer), 16);
    std::memset(outer, 1, 16);
    std::memset(inner, 2, 16);
    EXPECT_EQ(buffer->Unlock(), D3D_OK);
    EXPECT_EQ(buffer->Unlock(), D3D_OK);
    unsigned char gl[32] = {};
    glGetNamedBufferSubData(dynamic_cast<lumaret::platform::IndexBuffer*>(buffer)->name(), 0, sizeof(gl), gl);
    EXPECT_EQ(gl[0], 1);
    EXPECT_EQ(gl[31], 2);
    buffer->Release();
}
