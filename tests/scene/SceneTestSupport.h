// Scene-building tests: scene files made with SrxWriter, a World over a recording device
// (calls and buffer bytes, no GPU), and a World over the real device headless on llvmpipe
// (pixels), whose data folder holds the two scene shaders and the default images.
#pragma once

#include "app/Log.h"
#include "app/Window.h"
#include "import/SrxTestSupport.h"
#include "render/Renderer.h"
#include "render/RendererTestSupport.h"
#include "scene/Vertices.h"
#include "scene/World.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace scenetest {

struct SceneFile {
    std::vector<SrxMaterial> materials;
    std::vector<SrxNode> nodes;
    std::vector<SrxMesh> meshes;
};

std::vector<uint8_t> Bytes(const SceneFile& file);
void Write(const std::string& path, const SceneFile& file);

// One primitive: the given positions (x, y, z each), normal (0, 0, 1), uv0 from x and y,
// and the triangles; positions, normals and uv0 are streamed.
SrxPrimitive Triangles(const std::vector<float>& positions, std::vector<uint16_t> indices, uint8_t material = 0);
// A primitive of vertexCount vertices on a line, with one triangle per three vertices
// (the last one closed on vertex 0 when vertexCount is not a multiple of 3).
SrxPrimitive Strip(uint16_t vertexCount);
SrxMesh MeshOf(uint16_t node, std::vector<SrxPrimitive> primitives);
std::array<float, 16> Identity16();

// A sampled-transform track moving a node from (x0, 0, 0) at tick 0 to (x1, 0, 0) at
// tick `end`.
void MoveAlongX(SrxNode& node, float x0, float x1, uint32_t end);

// The bytes a locked buffer holds.
std::vector<uint8_t> ReadVertexBuffer(IDirect3DVertexBuffer9* buffer);
std::vector<uint8_t> ReadIndexBuffer(IDirect3DIndexBuffer9* buffer);

// A World on the recording device; its declarations B and C are distinct recorded objects.
class RecordedWorldTest : public lumaret::test::RecordedRendererTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Registers a texture under a key, as the resource scan would.
    int AddTexture(const std::string& key);
    // Loads the two scene shaders from the source tree's data folder.
    void LoadSceneShaders();
    // The log written since the last call (or since SetUp).
    std::string NewLog();

    std::unique_ptr<World> world;
    size_t logSeen = 0;
};

// One real device, renderer and world for the whole suite, in a scratch directory whose
// ./data holds the two scene shaders and the default images.
class DeviceWorldTest : public testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    static std::string NewLog();

    static constexpr int kWidth = 64;
    static constexpr int kHeight = 64;
    static lumaret::test::ScopedTempDir* dir;
    static Window* window;
    static Renderer* renderer;
    static World* world;
    static size_t logSeen;
};

}  // namespace scenetest
