// What the Renderer asks of the device: state lists and their cache, sampler flags, quad
// vertices, render-target save and restore, meshes.
#include "render/RendererTestSupport.h"

#include <cstring>

using lumaret::test::RecordedRendererTest;

namespace {

std::vector<uint8_t> StateList(uint32_t flags) {
    ShaderParams block;
    block.stateFlags = flags;
    Renderer::BuildStateList(block);
    return std::vector<uint8_t>(block.stateList, block.stateList + block.stateListSize);
}

}  // namespace

TEST(StateList, FlagWordsCompileToTheirStatePairs) {
    EXPECT_EQ(StateList(0), (std::vector<uint8_t>{168, 15}));
    EXPECT_EQ(StateList(111), (std::vector<uint8_t>{7, 1, 14, 1, 23, 2, 22, 3, 8, 3, 168, 15, 27, 0}));
    EXPECT_EQ(StateList(109), (std::vector<uint8_t>{7, 0, 22, 3, 8, 3, 168, 15, 27, 0}));
    EXPECT_EQ(StateList(365), (std::vector<uint8_t>{7, 0, 22, 3, 8, 3, 168, 15, 27, 1, 171, 1, 19, 2, 20, 2}));
    EXPECT_EQ(StateList(237), (std::vector<uint8_t>{7, 0, 22, 3, 8, 3, 168, 15, 27, 1, 171, 1, 19, 5, 20, 6}));
    // Depth mode 2, cull none, wireframe.
    EXPECT_EQ(StateList(2 | 1 << 2 | 1 << 4), (std::vector<uint8_t>{7, 1, 14, 0, 23, 4, 22, 1, 8, 2, 168, 15}));
    // Blend modes 2 and 12 to 15 and fill mode 3 emit nothing.
    for (uint32_t blend : {2u, 12u, 15u}) EXPECT_EQ(StateList(blend << 6 | 3 << 4), (std::vector<uint8_t>{168, 15}));
    // Bits 10 and 11: green and blue only.
    EXPECT_EQ(StateList(1u << 10 | 1u << 11), (std::vector<uint8_t>{168, 6}));
    EXPECT_EQ(StateList(0xF << 10), (std::vector<uint8_t>{168, 0}));
    EXPECT_EQ(StateList(11u << 6), (std::vector<uint8_t>{168, 15, 27, 1, 171, 1, 19, 10, 20, 2}));
    EXPECT_EQ(StateList(8u << 6)[5], D3DBLENDOP_REVSUBTRACT);
}

TEST_F(RecordedRendererTest, ApplyingABlockTwiceSetsNoStateTheSecondTime) {
    Init();
    ShaderParams block;
    Renderer::BuildStateList(block);
    renderer->ApplyShaderParams(0, block);
    EXPECT_EQ(device->Count("SetRenderState"), 7u);
    device->Forget();
    renderer->ApplyShaderParams(0, block);
    EXPECT_EQ(device->Count("SetRenderState"), 0u);
    // A block that differs in one state sets only that one.
    ShaderParams additive;
    additive.stateFlags = 111 | 5 << 6;
    Renderer::BuildStateList(additive);
    renderer->ApplyShaderParams(0, additive);
    EXPECT_EQ(device->calls.size(), device->Count("SetRenderState") + device->Count("SetVertexShaderConstantF") +
                                        device->Count("SetPixelShaderConstantF"));
    EXPECT_EQ(device->Count("SetRenderState"), 4u);
    // A missing shader receives nothing.
    device->Forget();
    renderer->ApplyShaderParams(-1, additive);
    EXPECT_TRUE(device->calls.empty());
}

TEST_F(RecordedRendererTest, ApplyingUploadsDeclaredParametersAndBindsOnlyChosenStages) {
    Init();
    // The billboard declares matrixWorldView, matrixProjection, paramsAUX (vertex) and
    // materialDiffuse (pixel).
    ShaderParams block = renderer->billboard.params;
    D3DXMatrixIdentity(&block.values[ParamMatrixWorldView].matrix);
    block.values[ParamMatrixWorldView].matrix._41 = 7.0f;
    block.values[ParamMaterialDiffuse].vector = D3DXVECTOR4(0.25f, 0.5f, 0.75f, 1.0f);
    block.textures[2] = 0;
    block.samplerFlags[2] = 5;
    renderer->textures.push_back(TextureRecord{"./data/t.png", nullptr, 1, 1, D3DFMT_A8R8G8B8});
    device->Forget();
    renderer->ApplyShaderParams(renderer->billboard.shader, block);
    // matrixWorldView transposed: the registers hold the rows of the row-vector matrix.
    EXPECT_EQ(device->Count("SetVertexShaderConstantF(0, 4, 1 0 0 0 0 1 0 0 0 0 1 0 7 0 0 1)"), 1u);
    EXPECT_EQ(device->Count("SetPixelShaderConstantF(0, 1, 0.25 0.5 0.75 1)"), 1u);
    EXPECT_EQ(device->Count("SetVertexShaderConstantF"), 3u);
    EXPECT_EQ(device->Count("SetSamplerState(2,"), 7u);
    EXPECT_EQ(device->Count("SetTexture(2, null)"), 1u);
    EXPECT_EQ(device->Count("SetTexture"), 1u) << "stages with -1 are left alone";
    EXPECT_EQ(device->Count("SetSamplerState(0,"), 0u);
    renderer->textures.clear();
}

TEST_F(RecordedRendererTest, SamplerFlagsMakeSevenCallsInOrder) {
    Init();
    struct Case {
        uint32_t flags;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {5, {"SetSamplerState(1, 6, 2)", "SetSamplerState(1, 5, 2)", "SetSamplerState(1, 7, 0)",
             "SetSamplerState(1, 1, 3)", "SetSamplerState(1, 2, 3)", "SetSamplerState(1, 4, 4294901760)",
             "SetSamplerState(1, 11, 0)"}},
        {0x41, {"SetSamplerState(1, 6, 2)", "SetSamplerState(1, 5, 2)", "SetSamplerState(1, 7, 0)",
                "SetSamplerState(1, 1, 4)", "SetSamplerState(1, 2, 4)", "SetSamplerState(1, 4, 4294901760)",
                "SetSamplerState(1, 11, 0)"}},
        {0x44, {"SetSamplerState(1, 6, 1)", "SetSamplerState(1, 5, 1)", "SetSamplerState(1, 7, 0)",
                "SetSamplerState(1, 1, 4)", "SetSamplerState(1, 2, 4)", "SetSamplerState(1, 4, 4294901760)",
                "SetSamplerState(1, 11, 0)"}},
        {0x0A, {"SetSamplerState(1, 6, 1)", "SetSamplerState(1, 5, 1)", "SetSamplerState(1, 7, 2)",
                "SetSamplerState(1, 1, 1)", "SetSamplerState(1, 2, 1)", "SetSamplerState(1, 4, 4294901760)",
                "SetSamplerState(1, 11, 1)"}},
    };
    for (const Case& c : cases) {
        device->Forget();
        renderer->SetSamplerFlags(1, c.flags);
        EXPECT_EQ(device->calls, c.calls) << "flags " << c.flags;
    }
}

TEST_F(RecordedRendererTest, QuadsAreStripsInClipSpaceAndScreenQuadsArePretransformed) {
    Init();
    QuadDesc whole{0, 0, 1, 1, 0, 0, 1, 1, 0xFF102030};
    renderer->DrawQuads(&whole, 1);
    ASSERT_EQ(device->Count("DrawPrimitiveUP(5, 2, 24)"), 1u);
    QuadVertex v[4];
    std::memcpy(v, device->lastUserVertices.data(), sizeof(v));
    const float expected[4][5] = {{-1, -1, 0, 0, 1}, {-1, 1, 0, 0, 0}, {1, -1, 0, 1, 1}, {1, 1, 0, 1, 0}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(v[i].x, expected[i][0]);
        EXPECT_FLOAT_EQ(v[i].y, expected[i][1]);
        EXPECT_FLOAT_EQ(v[i].z, expected[i][2]);
        EXPECT_FLOAT_EQ(v[i].u, expected[i][3]);
        EXPECT_FLOAT_EQ(v[i].v, expected[i][4]);
        EXPECT_EQ(v[i].color, 0xFF102030u);
    }
    // The logo rectangle of the 640 x 480 build.
    QuadDesc logo{-1.0f / 640, 448.0f / 480, 128.0f / 640, 32.0f / 480, 0, 0, 1, 1, 0xFFFFFFFF};
    renderer->DrawQuads(&logo, 1);
    std::memcpy(v, device->lastUserVertices.data(), sizeof(v));
    EXPECT_FLOAT_EQ(v[1].x, -1.003125f);
    EXPECT_FLOAT_EQ(v[1].y, 1.0f - 2.0f * (448.0f / 480.0f));
    EXPECT_FLOAT_EQ(v[0].y, -1.0f);
    EXPECT_FLOAT_EQ(v[2].x, -1.003125f + 0.4f);

    device->Forget();
    renderer->DrawQuads(&whole, 0);
    EXPECT_EQ(device->Count("DrawPrimitiveUP"), 0u);

    renderer->DrawScreenQuad(320, 240);
    ScreenQuadVertex s[4];
    std::memcpy(s, device->lastUserVertices.data(), sizeof(s));
    const float screen[4][6] = {{-0.5f, 239.5f, 0, 1, 0, 1},
                                {-0.5f, -0.5f, 0, 1, 0, 0},
                                {319.5f, 239.5f, 0, 1, 1, 1},
                                {319.5f, -0.5f, 0, 1, 1, 0}};
    for (int i = 0; i < 4; ++i) {
        const float got[6] = {s[i].x, s[i].y, s[i].z, s[i].rhw, s[i].u, s[i].v};
        for (int k = 0; k < 6; ++k) EXPECT_FLOAT_EQ(got[k], screen[i][k]) << i << "," << k;
    }
    ASSERT_EQ(device->calls.size(), 3u);
    EXPECT_EQ(device->calls[0], "SetVertexDeclaration(" + device->Name(renderer->quadDeclaration) + ")");
    EXPECT_EQ(device->calls[1], "SetVertexDeclaration(" + device->Name(renderer->screenQuadDeclaration) + ")");
}

TEST_F(RecordedRendererTest, RenderTargetsRestoreTargetDepthAndViewport) {
    Init();
    int target = renderer->CreateRenderTarget(PixelFormatA8R8G8B8, 640, 480, PixelFormatD24S8, false);
    const RenderTarget& rt = renderer->renderTargets[static_cast<size_t>(target)];
    EXPECT_EQ(rt.format, D3DFMT_A8R8G8B8);
    EXPECT_NE(rt.depthSurface, nullptr);
    EXPECT_EQ(rt.readBackSurface, nullptr);
    EXPECT_EQ(rt.viewport.Width, 640u);
    EXPECT_EQ(rt.viewport.MaxZ, 1.0f);
    D3DVIEWPORT9 before{5, 6, 70, 80, 0.0f, 1.0f};
    device->SetViewport(&before);
    device->Forget();
    renderer->BeginRenderTarget(target, 0);
    renderer->EndRenderTarget(target, 0);
    std::vector<std::string> expected = {"GetRenderTarget(0)",
                                         "GetDepthStencilSurface()",
                                         "GetViewport()",
                                         "SetViewport(0, 0, 640, 480, 0, 1)",
                                         "SetRenderTarget(0, " + device->Name(rt.surface) + ")",
                                         "SetDepthStencilSurface(" + device->Name(rt.depthSurface) + ")",
                                         "SetDepthStencilSurface(depthbuffer)",
                                         "SetRenderTarget(0, backbuffer)",
                                         "SetViewport(5, 6, 70, 80, 0, 1)"};
    EXPECT_EQ(device->calls, expected);
    EXPECT_EQ(rt.savedTarget, nullptr);
    EXPECT_EQ(rt.savedDepthSurface, nullptr);

    // Slot 1 without a depth surface: slot 0 and the viewport are untouched, slot 1 ends unbound.
    int second = renderer->CreateRenderTarget(PixelFormatA16B16G16R16, 16, 16, 0, true);
    device->Forget();
    renderer->BeginRenderTarget(second, 1);
    renderer->EndRenderTarget(second, 1);
    expected = {"SetRenderTarget(1, " + device->Name(renderer->renderTargets[1].surface) + ")",
                "SetRenderTarget(1, null)"};
    EXPECT_EQ(device->calls, expected);

    // Released targets keep their slot; the next target gets a new index.
    renderer->ReleaseRenderTarget(target);
    EXPECT_EQ(renderer->renderTargets[0].texture, nullptr);
    EXPECT_EQ(renderer->CreateRenderTarget(PixelFormatA8R8G8B8, 4, 4, 0, false), 2);
    renderer->ReleaseRenderTarget(-1);
    int pitch = 0;
    EXPECT_NE(renderer->LockRenderTarget(second, &pitch), nullptr);
    EXPECT_GE(pitch, 16 * 8);
    renderer->UnlockRenderTarget(second);
    renderer->ReleaseRenderTarget(second);
    renderer->ReleaseRenderTarget(2);
}

TEST_F(RecordedRendererTest, PixelFormatsMapToDirect3DFormats) {
    EXPECT_EQ(MapPixelFormat(1), D3DFMT_A8R8G8B8);
    EXPECT_EQ(MapPixelFormat(3), D3DFMT_A16B16G16R16);
    EXPECT_EQ(MapPixelFormat(11), D3DFMT_DXT1);
    EXPECT_EQ(MapPixelFormat(15), static_cast<D3DFORMAT>(MAKEFOURCC('D', 'X', 'T', '5')));
    EXPECT_EQ(MapPixelFormat(24), D3DFMT_D24S8);
    EXPECT_EQ(MapPixelFormat(0), D3DFMT_UNKNOWN);
    EXPECT_EQ(MapPixelFormat(10), D3DFMT_UNKNOWN);
    EXPECT_EQ(MapPixelFormat(26), D3DFMT_UNKNOWN);
}

TEST_F(RecordedRendererTest, MeshesBindStreamsAndDrawRanges) {
    Init();
    Mesh* mesh = renderer->CreateMesh();
    mesh->CreateStream(0, 100, 32, false);
    mesh->CreateStream(1, 40, 52, false);
    EXPECT_EQ(mesh->vertexCount, 100u);
    mesh->CreateIndexBuffer(90, nullptr, false, false);
    device->Forget();
    mesh->Draw(IndexRange{30, 61});
    std::vector<std::string> expected = {"SetVertexDeclaration(null)",
                                         "SetStreamSource(0, " + device->Name(mesh->streams[0].buffer) + ", 0, 32)",
                                         "SetStreamSource(1, " + device->Name(mesh->streams[1].buffer) + ", 0, 52)",
                                         "SetIndices(" + device->Name(mesh->indexBuffer) + ")",
                                         "DrawIndexedPrimitive(4, 0, 0, 100, 30, 20)"};
    EXPECT_EQ(device->calls, expected);
    // Re-creating a stream replaces that slot only; a gap stops the binding.
    mesh->CreateStream(0, 10, 32, true);
    EXPECT_TRUE(mesh->streams[0].dynamic);
    EXPECT_EQ(mesh->vertexCount, 100u);
    // A range larger than a batch goes out in batches, end to end in order, with an event
    // query at each batch's end (the 20 triangles above, a draw of their own, count for
    // none). Two queries, made once and then reused.
    const uint32_t batch = DrawThrottle::kBatchTriangles;
    mesh->CreateIndexBuffer(3 * (3 * batch + 7), nullptr, false, false);
    device->Forget();
    for (int frame = 0; frame < 2; ++frame) mesh->Draw(IndexRange{3, 3 * (3 * batch + 5)});
    std::vector<std::string> draws;
    for (const std::string& call : device->calls)
        if (call.starts_with("DrawIndexedPrimitive") || call.starts_with("CreateQuery")) draws.push_back(call);
    auto draw = [](uint32_t start, uint32_t count) {
        return "DrawIndexedPrimitive(4, 0, 0, 100, " + std::to_string(start) + ", " + std::to_string(count) + ")";
    };
    std::vector<std::string> batches;
    for (int frame = 0; frame < 2; ++frame)
        for (uint32_t k = 0; k < 4; ++k) {
            if (frame == 0 && (k == 1 || k == 2)) batches.push_back("CreateQuery(8)");
            batches.push_back(draw(3 + 3 * k * batch, k < 3 ? batch : 5));
        }
    EXPECT_EQ(draws, batches);
    mesh->Release();
    delete mesh;
    Mesh unindexed(device);
    unindexed.CreateStream(1, 9, 12, false);
    device->Forget();
    unindexed.Draw(IndexRange{0, 0});
    EXPECT_EQ(device->Count("SetStreamSource"), 0u) << "slot 0 empty: nothing is bound";
    EXPECT_EQ(device->Count("DrawPrimitive(4, 0, 3)"), 1u);
    unindexed.Release();
}

TEST_F(RecordedRendererTest, FrameOperationsReportWhatTheyMust) {
    Init();
    renderer->Clear(7, 0xFF404040, 0);
    EXPECT_EQ(device->calls.back(), "Clear(0, 7, ff404040, 1, 0)");
    renderer->Clear(8 | 2, 0, 3);
    EXPECT_EQ(device->calls.back(), "Clear(0, 2, 0, 1, 3)");
    device->clearResult = D3DERR_INVALIDCALL;
    renderer->Clear(1, 0, 0);
    device->presentResult = D3DERR_DEVICELOST;
    renderer->Present();
    device->presentResult = D3DERR_INVALIDCALL;
    renderer->Present();
    EXPECT_NE(LogBody().find("Renderer::Clear failed!Renderer::Present failed: Device lost!"), std::string::npos);
    device->Forget();
    renderer->SetTexture(0, -1);
    renderer->SetShader(-1);
    EXPECT_EQ(device->calls, (std::vector<std::string>{"SetTexture(0, null)"}));
}
