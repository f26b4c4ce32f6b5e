// A model's life in the world: a releasable scene frees what its load made (device objects
// and registry entries) and nothing else, a stale handle is refused, objects that shared
// its renderables stop drawing them, and a released texture's name goes to the next image
// registered under it.
#include "scene/WorldTestSupport.h"

#include "d3d9/GlObjectCount.h"

#include <algorithm>

using lumaret::test::ReadFileBytes;
using lumaret::test::WorldTest;

namespace {

template <class T>
size_t Live(const std::vector<T*>& list) {
    return static_cast<size_t>(std::count_if(list.begin(), list.end(), [](const T* p) { return p != nullptr; }));
}

struct Counts {
    long gl;
    size_t meshes, skins, outlines, renderables, controllers, palettes;
    bool operator==(const Counts&) const = default;
};

Counts CountsNow() {
    return {lumaret::platform::LiveGlObjects(), Live(gWorld->meshes),      Live(gWorld->skins),
            Live(gWorld->outlines),           Live(gWorld->renderables), Live(gWorld->controllers),
            Live(gWorld->palettes)};
}

}  // namespace

TEST_F(WorldTest, ReleasingAReplacedModelFreesWhatItsLoadMadeAndNothingElse) {
    StartOnRealDevice(640, 480, PassShaders());
    gRenderer->LoadResources();
    std::string srx = ReadFileBytes("data/cylcube01.srx");
    auto bytes = reinterpret_cast<const uint8_t*>(srx.data());
    Zone* zone = gWorld->CreateZone("zone");
    // A scene loaded for good first, as the demo loads: its entries must keep their indices.
    SceneObject* kept = gWorld->CreateObject("kept");
    ASSERT_TRUE(gWorld->LoadScene(kept, "./data/cylcube01.srx"));
    zone->AddObject(kept);
    SceneObject* model = gWorld->CreateObject("model");
    zone->AddObject(model);
    Light light;
    gWorld->lights.push_back(&light);
    gWorld->Render(&camera);
    const Counts before = CountsNow();
    const std::vector<Renderable*> keptRenderables = kept->renderables;
    const Mesh* keptMesh = gWorld->meshes[0];

    // Replaced again and again, as a viewer reloads a saved file: the counts come back.
    SceneHandle previous;
    for (int load = 0; load < 4; ++load) {
        SceneHandle handle = gWorld->LoadReleasableScene(model, "./data/cylcube01.srx", bytes, srx.size());
        ASSERT_TRUE(handle) << load;
        // A copy drawing the model's renderables, as the demo's grid shares them.
        SceneObject* copy = gWorld->CreateObject("copy");
        copy->renderables = model->renderables;
        gWorld->Render(&camera);
        EXPECT_GT(CountsNow().gl, before.gl);
        EXPECT_FALSE(gWorld->ReleaseScene(previous)) << "a released handle is refused";
        ASSERT_TRUE(gWorld->ReleaseScene(handle));
        EXPECT_FALSE(gWorld->IsLoaded(handle));
        EXPECT_TRUE(copy->renderables.empty()) << "no pointer to a freed renderable is left";
        EXPECT_TRUE(model->renderables.empty() && !model->controller && model->nodes.empty());
        gWorld->Render(&camera);
        EXPECT_TRUE(CountsNow() == before) << "load " << load << ": device objects " << CountsNow().gl << " against "
                                           << before.gl;
        previous = handle;
    }
    EXPECT_EQ(kept->renderables, keptRenderables);
    EXPECT_EQ(gWorld->meshes[0], keptMesh);
    EXPECT_FALSE(gWorld->ReleaseScene(SceneHandle{})) << "an empty handle";
    EXPECT_FALSE(gWorld->ReleaseScene(SceneHandle{99, 1})) << "a slot never filled";
    // The emptied object takes a scene again, and the frame still draws (the kept scene).
    SceneHandle again = gWorld->LoadReleasableScene(model, "./data/cylcube01.srx", bytes, srx.size());
    EXPECT_TRUE(again);
    EXPECT_EQ(again.slot, previous.slot);
    EXPECT_NE(again.generation, previous.generation);
    gWorld->Render(&camera);
}

TEST_F(WorldTest, AReleasedTextureFreesItsImageAndItsName) {
    StartOnRealDevice(640, 480, {});
    std::string png = ReadFileBytes("data/lum_logo_256x64.png");
    auto bytes = reinterpret_cast<const uint8_t*>(png.data());
    long before = lumaret::platform::LiveGlObjects();
    int first = gRenderer->LoadTexture("./data/model.png", bytes, png.size());
    ASSERT_GE(first, 0);
    gRenderer->SetTexture(0, first);  // bound, as the last frame leaves it
    EXPECT_GT(lumaret::platform::LiveGlObjects(), before);
    gRenderer->ReleaseTexture(first);
    EXPECT_EQ(lumaret::platform::LiveGlObjects(), before);
    EXPECT_EQ(gRenderer->FindTexture("./data/model.png"), -1);
    int second = gRenderer->LoadTexture("./data/model.png", bytes, png.size());
    EXPECT_EQ(gRenderer->FindTexture("./data/model.png"), second);
    EXPECT_NE(second, first);
    gRenderer->ReleaseTexture(-1);  // nothing
    gRenderer->ReleaseTexture(first);  // already empty
}
