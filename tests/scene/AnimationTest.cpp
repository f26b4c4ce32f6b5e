// Node animation and skin palettes at the times the world's clock gives them: 24 ticks
// per frame, back to 0 after exceeding 600. Also that a frame's evaluation and palette
// recomputation allocate nothing (this binary counts every operator new).
#include "scene/Animation.h"
#include "scene/Renderable.h"
#include "scene/SceneTestSupport.h"

#include <atomic>
#include <cmath>
#include <sstream>
#include <cstdlib>
#include <new>

// Every unaligned form, so that allocation and release always pair up (a sanitizer
// replaces the forms a program leaves alone).
namespace {
std::atomic<size_t> gAllocations{0};

void* CountedAllocation(size_t size) {
    ++gAllocations;
    return std::malloc(size ? size : 1);
}
}  // namespace
void* operator new(size_t size) {
    if (void* p = CountedAllocation(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return CountedAllocation(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return CountedAllocation(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

void PrintTo(const D3DXMATRIX& m, std::ostream* out) {
    for (int i = 0; i < 16; ++i) *out << (i ? (i % 4 ? " " : " | ") : "") << (&m._11)[i];
}

namespace {

D3DXMATRIX Identity() {
    D3DXMATRIX m;
    D3DXMatrixIdentity(&m);
    return m;
}

// The identity with x in _41, up to float rounding of the interpolation.
testing::AssertionResult IsTranslation(const D3DXMATRIX& m, float x) {
    D3DXMATRIX expected = Identity();
    expected._41 = x;
    for (int i = 0; i < 16; ++i)
        if (std::fabs((&m._11)[i] - (&expected._11)[i]) > 1e-5f) {
            std::ostringstream text;
            PrintTo(m, &text);
            return testing::AssertionFailure() << text.str() << " is not a translation by " << x;
        }
    return testing::AssertionSuccess();
}

// Nodes: 0 without tracks; 1 moving from x = 0 at tick 0 to x = 10 at tick 100; 2 with
// only the keyed-position bit; 3 holding its matrix; 4 whose keys start at tick 200.
SrxScene Scene() {
    SrxScene scene(nullptr, 0);
    scene.nodes = {srxtest::Node("still", 0, 0), srxtest::Node("mover", 1, 0), srxtest::Node("keyed", 2, 0),
                   srxtest::Node("held", 3, 0), srxtest::Node("late", 4, 0)};
    scenetest::MoveAlongX(scene.nodes[1], 0.0f, 10.0f, 100);
    scene.nodes[2].trackFlags = srx::TrackKeyedPosition;
    scene.nodes[3].trackFlags = srx::TrackKeyedStoredB;
    scene.nodes[4].trackFlags = srx::TrackSampledTransform;
    scene.nodes[4].tracks[srx::SlotSampledTransform].kind = srx::TrackKindSampledTransform;
    scene.nodes[4].tracks[srx::SlotSampledTransform].keys = {srxtest::SampledKey(200, 5, 5, 5, 0, 0, 0, 1),
                                                             srxtest::SampledKey(300, 6, 6, 6, 0, 0, 0, 1)};
    return scene;
}

// The clock's time after `frame` rendered frames.
float ClockTime(int frame) {
    float t = 0.0f;
    for (int f = 0; f < frame; ++f) {
        t += 24.0f;
        if (t > 600.0f) t = 0.0f;
    }
    return t;
}

TEST(Animation, NodesEvaluateAtTheClocksTimes) {
    std::vector<AnimatedNode> nodes = BuildNodes(Scene());
    ASSERT_EQ(nodes.size(), 5u);
    EXPECT_EQ(nodes[1].flags, static_cast<uint32_t>(NodeWholeTransform));
    EXPECT_EQ(nodes[2].flags, static_cast<uint32_t>(NodeTranslation));
    AnimationController controller(&nodes);
    float lastMoverX = 0.0f;
    for (int frame = 1; frame <= 30; ++frame) {
        float t = ClockTime(frame);
        controller.Evaluate(t);
        // Keys 0..100: interpolated below tick 100; from frame 5 (tick 120) the matrix of
        // tick 96 stays until the clock wraps back to 0 on frame 26.
        if (t < 100.0f) lastMoverX = t / 10.0f;
        EXPECT_EQ(controller.nodeMatrices[0], Identity()) << "frame " << frame;
        EXPECT_TRUE(IsTranslation(controller.nodeMatrices[1], lastMoverX)) << "frame " << frame << ", tick " << t;
        EXPECT_EQ(controller.nodeMatrices[2], Identity()) << "frame " << frame;
        EXPECT_EQ(controller.nodeMatrices[3], Identity()) << "frame " << frame;
        // Before its first key a node keeps the identity it started with.
        if (frame < 200 / 24) {
            EXPECT_EQ(controller.nodeMatrices[4], Identity()) << "frame " << frame;
        }
    }
    controller.Evaluate(ClockTime(5));
    EXPECT_FLOAT_EQ(controller.nodeMatrices[1]._41, 9.6f);
}

TEST(Animation, PalettesMultiplyOffsetByNodeMatrix) {
    std::vector<AnimatedNode> nodes = BuildNodes(Scene());
    AnimationController controller(&nodes);
    controller.Evaluate(50.0f);
    D3DXMATRIX offset;
    D3DXMatrixScaling(&offset, 2.0f, 0.5f, 1.0f);
    offset._42 = 3.0f;
    std::vector<BoneBinding> bindings = {{1, Identity()}, {1, offset}, {7, offset}, {-1, offset}};
    SkinPalette palette(&bindings, &controller);
    ASSERT_EQ(palette.matrices.size(), 4u);
    for (const D3DXMATRIX& m : palette.matrices) EXPECT_EQ(m, Identity());
    palette.Recompute();
    EXPECT_EQ(palette.matrices[0], controller.nodeMatrices[1]);
    D3DXMATRIX product;
    D3DXMatrixMultiply(&product, &offset, &controller.nodeMatrices[1]);
    EXPECT_EQ(palette.matrices[1], product);
    EXPECT_NE(palette.matrices[1], controller.nodeMatrices[1]);
    // Nodes outside the controller's matrices read the identity.
    EXPECT_EQ(palette.matrices[2], offset);
    EXPECT_EQ(palette.matrices[3], offset);
}

TEST(Animation, FramesAllocateNothing) {
    std::vector<AnimatedNode> nodes = BuildNodes(Scene());
    AnimationController controller(&nodes);
    std::vector<BoneBinding> bindings = {{1, Identity()}, {4, Identity()}, {0, Identity()}};
    SkinPalette first(&bindings, &controller), second(&bindings, &controller);
    size_t before = gAllocations.load();
    for (int frame = 1; frame <= 60; ++frame) {
        controller.Evaluate(ClockTime(frame));
        first.Recompute();
        second.Recompute();
    }
    EXPECT_EQ(gAllocations.load() - before, 0u);
    EXPECT_NE(first.matrices[0], Identity());  // the frames did run
}

}  // namespace
