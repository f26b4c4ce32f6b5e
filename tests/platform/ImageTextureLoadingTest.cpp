// D3DX texture creation: what reaches the device (a fake that keeps levels in padded
// memory, so the copy must honour the locked pitch), and the same files through the real
// GL device, drawn texel for texel and read back.
#include <d3dx9tex.h>

#include "d3dx9/DecodedImageCache.h"
#include "d3dx9/ImageDecoder.h"
#include "d3dx9/ImageMipChain.h"
#include "d3dx9/ImagePixelFormat.h"
#include "platform/ImageTestSupport.h"
#include "support/DeviceFixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <stdexcept>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

using lumaret::platform::DecodedImage;
using lumaret::test::ReadImageFixture;

namespace {

// Every locked row is this much wider than the texels need; the fill must survive.
constexpr INT kPitchPadding = 16;
constexpr uint8_t kPaddingFill = 0xcd;

// The levels of a fake texture (all faces), and what happened to them.
struct FakeStorage {
    UINT width = 0, height = 0, levels = 0, faces = 1;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    std::vector<std::vector<uint8_t>> memory;  // face-major
    std::vector<INT> pitches;
    std::vector<int> locks, unlocks;
    int failLockNumber = -1;  // the n-th LockRect (0-based) fails
    int lockCalls = 0;
    ULONG references = 1;

    void Allocate() {
        const auto* layout = lumaret::platform::FindPixelLayout(format);
        for (UINT face = 0; face < faces; ++face) {
            for (UINT level = 0; level < levels; ++level) {
                UINT w = lumaret::platform::MipExtent(width, level), h = lumaret::platform::MipExtent(height, level);
                INT pitch = static_cast<INT>(lumaret::platform::RowPitchOf(*layout, w)) + kPitchPadding;
                pitches.push_back(pitch);
                memory.emplace_back(static_cast<size_t>(pitch) * lumaret::platform::RowCountOf(*layout, h),
                                    kPaddingFill);
            }
        }
        locks.assign(memory.size(), 0);
        unlocks.assign(memory.size(), 0);
    }
    HRESULT Lock(UINT index, D3DLOCKED_RECT* locked) {
        if (lockCalls++ == failLockNumber) return D3DERR_INVALIDCALL;
        if (index >= memory.size()) return D3DERR_INVALIDCALL;
        ++locks[index];
        locked->pBits = memory[index].data();
        locked->Pitch = pitches[index];
        return D3D_OK;
    }
    HRESULT Unlock(UINT index) {
        if (index >= memory.size()) return D3DERR_INVALIDCALL;
        ++unlocks[index];
        return D3D_OK;
    }
};

class FakeTexture : public IDirect3DTexture9 {
public:
    explicit FakeTexture(FakeStorage* storage) : storage_(storage) {}
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return ++storage_->references; }
    ULONG Release() override { return --storage_->references; }  // the device keeps the memory for inspection
    HRESULT GetDevice(IDirect3DDevice9**) override { return E_NOTIMPL; }
    HRESULT SetPrivateData(REFGUID, const void*, DWORD, DWORD) override { return E_NOTIMPL; }
    HRESULT GetPrivateData(REFGUID, void*, DWORD*) override { return E_NOTIMPL; }
    HRESULT FreePrivateData(REFGUID) override { return E_NOTIMPL; }
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_TEXTURE; }
    DWORD GetLevelCount() override { return storage_->levels; }
    void GenerateMipSubLevels() override {}
    HRESULT GetLevelDesc(UINT, D3DSURFACE_DESC*) override { return E_NOTIMPL; }
    HRESULT GetSurfaceLevel(UINT, IDirect3DSurface9**) override { return E_NOTIMPL; }
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD) override {
        return rect ? D3DERR_INVALIDCALL : storage_->Lock(level, locked);
    }
    HRESULT UnlockRect(UINT level) override { return storage_->Unlock(level); }

private:
    FakeStorage* storage_;
};

class FakeCubeTexture : public IDirect3DCubeTexture9 {
public:
    explicit FakeCubeTexture(FakeStorage* storage) : storage_(storage) {}
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return ++storage_->references; }
    ULONG Release() override { return --storage_->references; }
    HRESULT GetDevice(IDirect3DDevice9**) override { return E_NOTIMPL; }
    HRESULT SetPrivateData(REFGUID, const void*, DWORD, DWORD) override { return E_NOTIMPL; }
    HRESULT GetPrivateData(REFGUID, void*, DWORD*) override { return E_NOTIMPL; }
    HRESULT FreePrivateData(REFGUID) override { return E_NOTIMPL; }
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_CUBETEXTURE; }
    DWORD GetLevelCount() override { return storage_->levels; }
    void GenerateMipSubLevels() override {}
    HRESULT GetLevelDesc(UINT, D3DSURFACE_DESC*) override { return E_NOTIMPL; }
    HRESULT GetCubeMapSurface(D3DCUBEMAP_FACES, UINT, IDirect3DSurface9**) override { return E_NOTIMPL; }
    HRESULT LockRect(D3DCUBEMAP_FACES face, UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD) override {
        if (rect || face > D3DCUBEMAP_FACE_NEGATIVE_Z || level >= storage_->levels) return D3DERR_INVALIDCALL;
        return storage_->Lock(face * storage_->levels + level, locked);
    }
    HRESULT UnlockRect(D3DCUBEMAP_FACES face, UINT level) override {
        if (face > D3DCUBEMAP_FACE_NEGATIVE_Z || level >= storage_->levels) return D3DERR_INVALIDCALL;
        return storage_->Unlock(face * storage_->levels + level);
    }

private:
    FakeStorage* storage_;
};

// Creates textures and records the requests; every other call is refused.
class FakeDevice : public IDirect3DDevice9 {
public:
    struct Request {
        UINT width, height, levels;
        DWORD usage;
        D3DFORMAT format;
        D3DPOOL pool;
        bool cube;
    };
    std::vector<Request> requests;
    HRESULT createResult = D3D_OK;
    int failLockNumber = -1;
    std::vector<std::unique_ptr<FakeStorage>> storages;
    std::vector<std::unique_ptr<FakeTexture>> textures;
    std::vector<std::unique_ptr<FakeCubeTexture>> cubes;

    FakeStorage* NewStorage(UINT width, UINT height, UINT levels, UINT faces, D3DFORMAT format) {
        auto storage = std::make_unique<FakeStorage>();
        storage->width = width, storage->height = height, storage->levels = levels, storage->faces = faces;
        storage->format = format;
        storage->failLockNumber = failLockNumber;
        storage->Allocate();
        storages.push_back(std::move(storage));
        return storages.back().get();
    }

    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                          IDirect3DTexture9** texture, HANDLE*) override {
        requests.push_back({width, height, levels, usage, format, pool, false});
        if (FAILED(createResult)) return createResult;
        textures.push_back(std::make_unique<FakeTexture>(NewStorage(width, height, levels, 1, format)));
        *texture = textures.back().get();
        return D3D_OK;
    }
    HRESULT CreateCubeTexture(UINT edge, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DCubeTexture9** cube, HANDLE*) override {
        requests.push_back({edge, edge, levels, usage, format, pool, true});
        if (FAILED(createResult)) return createResult;
        cubes.push_back(std::make_unique<FakeCubeTexture>(NewStorage(edge, edge, levels, 6, format)));
        *cube = cubes.back().get();
        return D3D_OK;
    }
    HRESULT TestCooperativeLevel() override { return E_NOTIMPL; }
    HRESULT GetDirect3D(IDirect3D9**) override { return E_NOTIMPL; }
    HRESULT GetDeviceCaps(D3DCAPS9*) override { return E_NOTIMPL; }
    HRESULT GetDisplayMode(UINT, D3DDISPLAYMODE*) override { return E_NOTIMPL; }
    HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS*) override { return E_NOTIMPL; }
    HRESULT Present(const RECT*, const RECT*, HWND, const void*) override { return E_NOTIMPL; }
    HRESULT GetBackBuffer(UINT, UINT, D3DBACKBUFFER_TYPE, IDirect3DSurface9**) override { return E_NOTIMPL; }
    HRESULT CreateVertexBuffer(UINT, DWORD, DWORD, D3DPOOL, IDirect3DVertexBuffer9**, HANDLE*) override {
        return E_NOTIMPL;
    }
    HRESULT CreateIndexBuffer(UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DIndexBuffer9**, HANDLE*) override {
        return E_NOTIMPL;
    }
    HRESULT CreateRenderTarget(UINT, UINT, D3DFORMAT, D3DMULTISAMPLE_TYPE, DWORD, BOOL, IDirect3DSurface9**,
                               HANDLE*) override {
        return E_NOTIMPL;
    }
    HRESULT CreateDepthStencilSurface(UINT, UINT, D3DFORMAT, D3DMULTISAMPLE_TYPE, DWORD, BOOL, IDirect3DSurface9**,
                                      HANDLE*) override {
        return E_NOTIMPL;
    }
    HRESULT GetRenderTargetData(IDirect3DSurface9*, IDirect3DSurface9*) override { return E_NOTIMPL; }
    HRESULT StretchRect(IDirect3DSurface9*, const RECT*, IDirect3DSurface9*, const RECT*,
                        D3DTEXTUREFILTERTYPE) override {
        return E_NOTIMPL;
    }
    HRESULT CreateOffscreenPlainSurface(UINT, UINT, D3DFORMAT, D3DPOOL, IDirect3DSurface9**, HANDLE*) override {
        return E_NOTIMPL;
    }
    HRESULT SetRenderTarget(DWORD, IDirect3DSurface9*) override { return E_NOTIMPL; }
    HRESULT GetRenderTarget(DWORD, IDirect3DSurface9**) override { return E_NOTIMPL; }
    HRESULT SetDepthStencilSurface(IDirect3DSurface9*) override { return E_NOTIMPL; }
    HRESULT GetDepthStencilSurface(IDirect3DSurface9**) override { return E_NOTIMPL; }
    HRESULT BeginScene() override { return E_NOTIMPL; }
    HRESULT EndScene() override { return E_NOTIMPL; }
    HRESULT Clear(DWORD, const D3DRECT*, DWORD, D3DCOLOR, float, DWORD) override { return E_NOTIMPL; }
    HRESULT SetViewport(const D3DVIEWPORT9*) override { return E_NOTIMPL; }
    HRESULT GetViewport(D3DVIEWPORT9*) override { return E_NOTIMPL; }
    HRESULT SetRenderState(D3DRENDERSTATETYPE, DWORD) override { return E_NOTIMPL; }
    HRESULT GetRenderState(D3DRENDERSTATETYPE, DWORD*) override { return E_NOTIMPL; }
    HRESULT GetTexture(DWORD, IDirect3DBaseTexture9**) override { return E_NOTIMPL; }
    HRESULT SetTexture(DWORD, IDirect3DBaseTexture9*) override { return E_NOTIMPL; }
    HRESULT GetSamplerState(DWORD, D3DSAMPLERSTATETYPE, DWORD*) override { return E_NOTIMPL; }
    HRESULT SetSamplerState(DWORD, D3DSAMPLERSTATETYPE, DWORD) override { return E_NOTIMPL; }
    HRESULT SetScissorRect(const RECT*) override { return E_NOTIMPL; }
    HRESULT GetScissorRect(RECT*) override { return E_NOTIMPL; }
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE, UINT, UINT) override { return E_NOTIMPL; }
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE, INT, UINT, UINT, UINT, UINT) override { return E_NOTIMPL; }
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE, UINT, const void*, UINT) override { return E_NOTIMPL; }
    HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE, UINT, UINT, UINT, const void*, D3DFORMAT, const void*,
                                   UINT) override {
        return E_NOTIMPL;
    }
    HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9*, IDirect3DVertexDeclaration9**) override {
        return E_NOTIMPL;
    }
    HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9*) override { return E_NOTIMPL; }
    HRESULT GetVertexDeclaration(IDirect3DVertexDeclaration9**) override { return E_NOTIMPL; }
    HRESULT CreateVertexShader(const DWORD*, IDirect3DVertexShader9**) override { return E_NOTIMPL; }
    HRESULT SetVertexShader(IDirect3DVertexShader9*) override { return E_NOTIMPL; }
    HRESULT GetVertexShader(IDirect3DVertexShader9**) override { return E_NOTIMPL; }
    HRESULT SetVertexShaderConstantF(UINT, const float*, UINT) override { return E_NOTIMPL; }
    HRESULT GetVertexShaderConstantF(UINT, float*, UINT) override { return E_NOTIMPL; }
    HRESULT SetStreamSource(UINT, IDirect3DVertexBuffer9*, UINT, UINT) override { return E_NOTIMPL; }
    HRESULT GetStreamSource(UINT, IDirect3DVertexBuffer9**, UINT*, UINT*) override { return E_NOTIMPL; }
    HRESULT SetIndices(IDirect3DIndexBuffer9*) override { return E_NOTIMPL; }
    HRESULT GetIndices(IDirect3DIndexBuffer9**) override { return E_NOTIMPL; }
    HRESULT CreatePixelShader(const DWORD*, IDirect3DPixelShader9**) override { return E_NOTIMPL; }
    HRESULT SetPixelShader(IDirect3DPixelShader9*) override { return E_NOTIMPL; }
    HRESULT GetPixelShader(IDirect3DPixelShader9**) override { return E_NOTIMPL; }
    HRESULT SetPixelShaderConstantF(UINT, const float*, UINT) override { return E_NOTIMPL; }
    HRESULT GetPixelShaderConstantF(UINT, float*, UINT) override { return E_NOTIMPL; }
    HRESULT CreateQuery(D3DQUERYTYPE, IDirect3DQuery9**) override { return E_NOTIMPL; }
};

// What the texture should hold: the file decoded, its chain completed.
DecodedImage Expected(const std::string& file) {
    DecodedImage image;
    EXPECT_EQ(lumaret::platform::DecodeImage(file.data(), file.size(), image), D3D_OK);
    lumaret::platform::GenerateMipChain(image);
    return image;
}

// Each level's rows equal the decoded ones, and the padding past them is untouched.
void ExpectLevelsMatch(const FakeStorage& storage, const DecodedImage& image, UINT face) {
    for (UINT level = 0; level < storage.levels; ++level) {
        SCOPED_TRACE(testing::Message() << "face " << face << " level " << level);
        const auto& surface = image.Surface(face, level);
        const UINT index = face * storage.levels + level;
        const std::vector<uint8_t>& memory = storage.memory[index];
        const INT pitch = storage.pitches[index];
        EXPECT_EQ(storage.locks[index], 1);
        EXPECT_EQ(storage.unlocks[index], 1);
        for (UINT row = 0; row < surface.rowCount; ++row) {
            const uint8_t* destination = memory.data() + static_cast<size_t>(row) * pitch;
            ASSERT_EQ(std::memcmp(destination, surface.Row(row), surface.rowPitch), 0) << "row " << row;
            for (INT i = static_cast<INT>(surface.rowPitch); i < pitch; ++i) ASSERT_EQ(destination[i], kPaddingFill);
        }
    }
}

UINT Size(const std::string& bytes) { return static_cast<UINT>(bytes.size()); }

}  // namespace

TEST(ImageTextureLoading, TextureGetsTheFileSizeFormatAndFullChainInTheManagedPool) {
    FakeDevice device;
    const std::string file = ReadImageFixture("png_rgba8.png");
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(D3DXCreateTextureFromFileInMemory(&device, file.data(), Size(file), &texture), D3D_OK);
    ASSERT_EQ(device.requests.size(), 1u);
    const FakeDevice::Request& request = device.requests[0];
    // 13 x 9 is not rounded to a power of two; its chain is 13x9, 6x4, 3x2, 1x1.
    EXPECT_EQ(request.width, 13u);
    EXPECT_EQ(request.height, 9u);
    EXPECT_EQ(request.levels, 4u);
    EXPECT_EQ(request.usage, 0u);
    EXPECT_EQ(request.format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(request.pool, D3DPOOL_MANAGED);
    EXPECT_FALSE(request.cube);
    EXPECT_EQ(texture, device.textures[0].get());
    ExpectLevelsMatch(*device.storages[0], Expected(file), 0);

    // A DDS file keeps the levels it stores, compressed.
    const std::string dds = ReadImageFixture("dds_dxt5_mips.dds");
    ASSERT_EQ(D3DXCreateTextureFromFileInMemory(&device, dds.data(), Size(dds), &texture), D3D_OK);
    EXPECT_EQ(device.requests[1].levels, 5u);
    EXPECT_EQ(device.requests[1].format, D3DFMT_DXT5);
    ExpectLevelsMatch(*device.storages[1], Expected(dds), 0);
}

// Asking for an image's information on another thread decodes it there; the texture made
// later from the same bytes (in another buffer) takes that result, and only exactly the
// same bytes do: a file one texel apart decodes on its own.
TEST(ImageTextureLoading, InformationAskedAheadServesOnlyTheSameBytes) {
    auto& cache = lumaret::platform::DecodedImageCache::Shared();
    const size_t heldBefore = cache.HeldBytes();
    const std::string file = ReadImageFixture("bmp_24bit.bmp");
    std::string altered = file;
    altered[altered.size() - 2] = static_cast<char>(altered[altered.size() - 2] ^ 0x5a);  // a texel's byte
    std::thread([&] {
        D3DXIMAGE_INFO info{};
        EXPECT_EQ(D3DXGetImageInfoFromFileInMemory(file.data(), Size(file), &info), D3D_OK);
    }).join();
    EXPECT_GT(cache.HeldBytes(), heldBefore);

    FakeDevice device;
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(D3DXCreateTextureFromFileInMemory(&device, altered.data(), Size(altered), &texture), D3D_OK);
    ExpectLevelsMatch(*device.storages[0], Expected(altered), 0);
    EXPECT_GT(cache.HeldBytes(), heldBefore);

    const std::string copy(file.begin(), file.end());
    ASSERT_EQ(D3DXCreateTextureFromFileInMemory(&device, copy.data(), Size(copy), &texture), D3D_OK);
    ExpectLevelsMatch(*device.storages[1], Expected(file), 0);
    EXPECT_EQ(cache.HeldBytes(), heldBefore);
}

// A decode ahead that throws, whatever it throws, still answers the take that waits on it.
TEST(ImageTextureLoading, ADecodeAheadThatThrowsLeavesNoTakeWaiting) {
    auto& cache = lumaret::platform::DecodedImageCache::Shared();
    const std::string file = ReadImageFixture("bmp_24bit.bmp") + "thrown";
    cache.Prepare(file.data(), file.size(), [](DecodedImage&) -> HRESULT { throw std::runtime_error("decoder"); });
    auto take = std::async(std::launch::async, [&] {
        DecodedImage image;
        return cache.Take(file.data(), file.size(), image);
    });
    ASSERT_EQ(take.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "the take waits for ever";
    EXPECT_FALSE(take.get());
}

TEST(ImageTextureLoading, CubeTextureFillsSixFacesInD3DOrder) {
    FakeDevice device;
    const std::string file = ReadImageFixture("dds_cube_a8r8g8b8.dds");
    IDirect3DCubeTexture9* cube = nullptr;
    ASSERT_EQ(D3DXCreateCubeTextureFromFileInMemory(&device, file.data(), Size(file), &cube), D3D_OK);
    ASSERT_EQ(device.requests.size(), 1u);
    EXPECT_TRUE(device.requests[0].cube);
    EXPECT_EQ(device.requests[0].width, 8u);
    EXPECT_EQ(device.requests[0].levels, 3u);
    EXPECT_EQ(device.requests[0].format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(device.requests[0].pool, D3DPOOL_MANAGED);
    const DecodedImage expected = Expected(file);
    for (UINT face = 0; face < 6; ++face) ExpectLevelsMatch(*device.storages[0], expected, face);

    // Without stored mip maps every face gets its own generated chain.
    const std::string dxt = ReadImageFixture("dds_cube_dxt1.dds");
    ASSERT_EQ(D3DXCreateCubeTextureFromFileInMemory(&device, dxt.data(), Size(dxt), &cube), D3D_OK);
    EXPECT_EQ(device.requests[1].levels, 4u);
    const DecodedImage expectedDxt = Expected(dxt);
    for (UINT face = 0; face < 6; ++face) ExpectLevelsMatch(*device.storages[1], expectedDxt, face);
}

TEST(ImageTextureLoading, TwoDimensionalTextureFromACubeMapTakesThePositiveXFace) {
    FakeDevice device;
    const std::string file = ReadImageFixture("dds_cube_dxt1.dds");
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(D3DXCreateTextureFromFileInMemory(&device, file.data(), Size(file), &texture), D3D_OK);
    EXPECT_FALSE(device.requests[0].cube);
    ExpectLevelsMatch(*device.storages[0], Expected(file), D3DCUBEMAP_FACE_POSITIVE_X);
}

TEST(ImageTextureLoading, BadFilesNeverReachTheDevice) {
    FakeDevice device;
    IDirect3DTexture9* texture = reinterpret_cast<IDirect3DTexture9*>(&device);
    IDirect3DCubeTexture9* cube = reinterpret_cast<IDirect3DCubeTexture9*>(&device);
    const std::string png = ReadImageFixture("png_rgb8.png");
    const std::string truncated = png.substr(0, png.size() / 2);
    EXPECT_EQ(D3DXCreateTextureFromFileInMemory(&device, truncated.data(), Size(truncated), &texture),
              D3DXERR_INVALIDDATA);
    EXPECT_EQ(texture, nullptr);
    // A cube texture needs a cube map.
    EXPECT_EQ(D3DXCreateCubeTextureFromFileInMemory(&device, png.data(), Size(png), &cube), D3DXERR_INVALIDDATA);
    EXPECT_EQ(cube, nullptr);
    EXPECT_TRUE(device.requests.empty());

    EXPECT_EQ(D3DXCreateTextureFromFileInMemory(nullptr, png.data(), Size(png), &texture), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateTextureFromFileInMemory(&device, nullptr, Size(png), &texture), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateTextureFromFileInMemory(&device, png.data(), 0, &texture), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateTextureFromFileInMemory(&device, png.data(), Size(png), nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateCubeTextureFromFileInMemory(&device, png.data(), Size(png), nullptr), D3DERR_INVALIDCALL);
    EXPECT_TRUE(device.requests.empty());
}

TEST(ImageTextureLoading, DeviceFailuresPassThroughAndReleaseTheTexture) {
    const std::string file = ReadImageFixture("bmp_24bit.bmp");
    {
        FakeDevice device;
        device.createResult = D3DERR_OUTOFVIDEOMEMORY;
        IDirect3DTexture9* texture = nullptr;
        EXPECT_EQ(D3DXCreateTextureFromFileInMemory(&device, file.data(), Size(file), &texture),
                  D3DERR_OUTOFVIDEOMEMORY);
        EXPECT_EQ(texture, nullptr);
    }
    {
        FakeDevice device;
        device.failLockNumber = 2;  // the third level
        IDirect3DTexture9* texture = nullptr;
        EXPECT_EQ(D3DXCreateTextureFromFileInMemory(&device, file.data(), Size(file), &texture), D3DERR_INVALIDCALL);
        EXPECT_EQ(texture, nullptr);
        ASSERT_EQ(device.storages.size(), 1u);
        EXPECT_EQ(device.storages[0]->references, 0u);
        // Every level that was locked was unlocked again.
        EXPECT_EQ(device.storages[0]->locks, device.storages[0]->unlocks);
    }
}

// The real device: a loaded texture drawn on a pretransformed quad over a back buffer of
// its own size, point sampled, comes back texel for texel.
class ImageTextureOnDevice : public lumaret::test::DeviceTest {
protected:
    struct Vertex {
        float x, y, z, rhw;
        D3DCOLOR color;
        float u, v;
    };

    std::vector<uint32_t> Draw(IDirect3DTexture9* texture) {
        static const D3DVERTEXELEMENT9 elements[] = {
            {0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITIONT, 0},
            {0, 16, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
            {0, 20, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
            D3DDECL_END()};
        IDirect3DVertexDeclaration9* declaration = nullptr;
        EXPECT_EQ(device->CreateVertexDeclaration(elements, &declaration), D3D_OK);
        const float w = static_cast<float>(width), h = static_cast<float>(height);
        const Vertex quad[4] = {{-0.5f, h - 0.5f, 0, 1, 0xffffffff, 0, 1},
                                {-0.5f, -0.5f, 0, 1, 0xffffffff, 0, 0},
                                {w - 0.5f, h - 0.5f, 0, 1, 0xffffffff, 1, 1},
                                {w - 0.5f, -0.5f, 0, 1, 0xffffffff, 1, 0}};
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff00ff00, 1.0f, 0);
        device->SetVertexDeclaration(declaration);
        device->SetRenderState(D3DRS_ZENABLE, FALSE);
        device->SetTexture(0, texture);
        device->BeginScene();
        EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(Vertex)), D3D_OK);
        device->EndScene();
        device->SetTexture(0, nullptr);
        device->SetVertexDeclaration(nullptr);
        declaration->Release();
        return ReadBackBuffer();
    }

    // Loads a fixture, draws it, and compares with its reference as 0xAARRGGBB.
    void ExpectDrawnLikeReference(const char* file, const char* referenceFile, int tolerance) {
        SCOPED_TRACE(file);
        const std::string bytes = ReadImageFixture(file);
        D3DXIMAGE_INFO info{};
        ASSERT_EQ(D3DXGetImageInfoFromFileInMemory(bytes.data(), Size(bytes), &info), D3D_OK);
        CreateDevice(info.Width, info.Height);
        IDirect3DTexture9* texture = nullptr;
        ASSERT_EQ(D3DXCreateTextureFromFileInMemory(device, bytes.data(), Size(bytes), &texture), D3D_OK);
        D3DSURFACE_DESC desc{};
        ASSERT_EQ(texture->GetLevelDesc(0, &desc), D3D_OK);
        EXPECT_EQ(desc.Format, info.Format);
        EXPECT_EQ(texture->GetLevelCount(), lumaret::platform::FullMipLevelCount(info.Width, info.Height));
        const std::vector<uint32_t> pixels = Draw(texture);
        texture->Release();
        const std::string reference = ReadImageFixture(referenceFile);
        ASSERT_EQ(reference.size(), pixels.size() * 4);
        for (size_t i = 0; i < pixels.size(); ++i) {
            const uint8_t* rgba = reinterpret_cast<const uint8_t*>(reference.data()) + 4 * i;
            const int got[4] = {int(pixels[i] >> 16 & 255), int(pixels[i] >> 8 & 255), int(pixels[i] & 255),
                                int(pixels[i] >> 24)};
            for (int c = 0; c < 4; ++c)
                ASSERT_LE(std::abs(got[c] - rgba[c]), tolerance) << "pixel " << i << " channel " << c;
        }
    }
};

TEST_F(ImageTextureOnDevice, LoadedTexturesDrawTexelForTexel) {
    ExpectDrawnLikeReference("png_rgba8.png", "png_rgba8.rgba", 0);
    ExpectDrawnLikeReference("tga_24bit_bottomright.tga", "tga_24bit_bottomright.rgba", 0);
    ExpectDrawnLikeReference("png_greyalpha8.png", "png_greyalpha8.rgba", 0);
    ExpectDrawnLikeReference("dds_r5g6b5.dds", "dds_r5g6b5.rgba", 0);
    // The GPU decodes DXT itself: llvmpipe rounds interpolated alpha up to 2 away from Pillow.
    ExpectDrawnLikeReference("dds_dxt5.dds", "dds_dxt5.rgba", 2);
}

TEST_F(ImageTextureOnDevice, CubeMapReachesTheDeviceAsACubeTexture) {
    const std::string bytes = ReadImageFixture("dds_cube_a8r8g8b8.dds");
    IDirect3DCubeTexture9* cube = nullptr;
    ASSERT_EQ(D3DXCreateCubeTextureFromFileInMemory(device, bytes.data(), Size(bytes), &cube), D3D_OK);
    EXPECT_EQ(cube->GetType(), D3DRTYPE_CUBETEXTURE);
    EXPECT_EQ(cube->GetLevelCount(), 3u);
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(cube->GetLevelDesc(2, &desc), D3D_OK);
    EXPECT_EQ(desc.Width, 2u);
    EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
    // Read each face's top level back through a lock: the faces arrive in file order.
    const std::string reference = ReadImageFixture("dds_cube_a8r8g8b8.rgba");
    for (UINT face = 0; face < 6; ++face) {
        D3DLOCKED_RECT locked{};
        ASSERT_EQ(cube->LockRect(static_cast<D3DCUBEMAP_FACES>(face), 0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
        for (UINT y = 0; y < 8; ++y) {
            const uint8_t* row = static_cast<const uint8_t*>(locked.pBits) + y * locked.Pitch;
            for (UINT x = 0; x < 8; ++x) {
                const uint8_t* rgba = reinterpret_cast<const uint8_t*>(reference.data()) + face * 256 + (y * 8 + x) * 4;
                ASSERT_EQ(row[4 * x + 2], rgba[0]) << "face " << face;
                ASSERT_EQ(row[4 * x + 1], rgba[1]);
                ASSERT_EQ(row[4 * x + 0], rgba[2]);
                ASSERT_EQ(row[4 * x + 3], rgba[3]);
            }
        }
        cube->UnlockRect(static_cast<D3DCUBEMAP_FACES>(face), 0);
    }
    cube->Release();
}
