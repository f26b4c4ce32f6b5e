// KeyframeController: the interval search and the three kinds of evaluation.
#include "import/KeyframeController.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

constexpr float kSentinel = -7.0f;

SampledTransformKey Key(uint32_t time, float x, float y, float z, float qx = 0, float qy = 0, float qz = 0,
                        float qw = 1) {
    return SampledTransformKey{time, {x, y, z}, {qx, qy, qz, qw}};
}

KeyframeController Sampled(const std::vector<SampledTransformKey>& keys) {
    KeyframeController controller;
    controller.Init(static_cast<int32_t>(keys.size()), 1, ControllerSampledTransform);
    for (const SampledTransformKey& key : keys) controller.AppendSampledKey(key);
    return controller;
}

std::vector<float> Evaluated(const TrackController& controller, float time, size_t floats) {
    std::vector<float> out(floats, kSentinel);
    controller.Evaluate(time, out.data());
    return out;
}

bool Untouched(const std::vector<float>& out) {
    for (float value : out)
        if (value != kSentinel) return false;
    return true;
}

}  // namespace

TEST(KeyframeController, StartsEmptyWithOneChannel) {
    KeyframeController controller;
    EXPECT_EQ(controller.Channels(), 1);
    EXPECT_EQ(controller.KeyCount(), 0);
    EXPECT_TRUE(Untouched(Evaluated(controller, 0.0f, 4)));
}

TEST(KeyframeController, SampledTransformInterpolatesInsideItsKeysOnly) {
    KeyframeController controller = Sampled({Key(0, 0, 0, 0), Key(100, 10, 0, 0)});
    std::vector<float> out = Evaluated(controller, 50.0f, 16);
    const float expected[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, 0, 0, 1};
    for (int i = 0; i < 16; ++i) EXPECT_FLOAT_EQ(out[i], expected[i]) << i;
    // At the last key and after it there is no interval: nothing is written.
    EXPECT_TRUE(Untouched(Evaluated(controller, 100.0f, 16)));
    EXPECT_TRUE(Untouched(Evaluated(controller, 600.0f, 16)));
    EXPECT_TRUE(Untouched(Evaluated(controller, -1.0f, 16)));
}

TEST(KeyframeController, SampledTransformAtTheFirstKeyIsExactlyThatKey) {
    KeyframeController controller = Sampled({Key(0, 1.5f, -2.25f, 3.125f), Key(24, 100, 100, 100)});
    std::vector<float> out = Evaluated(controller, 0.0f, 16);
    EXPECT_EQ(out[12], 1.5f);
    EXPECT_EQ(out[13], -2.25f);
    EXPECT_EQ(out[14], 3.125f);
    EXPECT_EQ(out[3], 0.0f);
    EXPECT_EQ(out[7], 0.0f);
    EXPECT_EQ(out[11], 0.0f);
    EXPECT_EQ(out[15], 1.0f);
}

TEST(KeyframeController, SampledRotationIsTheConjugateOfTheKeysQuaternion) {
    const float s = 0.70710678f;
    KeyframeController controller = Sampled({Key(48, 0, 0, 0, 0, 0, s, s), Key(96, 0, 0, 0, 0, 0, s, s)});
    std::vector<float> out = Evaluated(controller, 48.0f, 16);
    // The row vector (1, 0, 0) goes to (0, -1, 0).
    EXPECT_NEAR(out[0], 0.0f, 1e-6f);
    EXPECT_NEAR(out[1], -1.0f, 1e-6f);
    EXPECT_NEAR(out[4], 1.0f, 1e-6f);
    EXPECT_NEAR(out[5], 0.0f, 1e-6f);
    EXPECT_NEAR(out[10], 1.0f, 1e-6f);
}

TEST(KeyframeController, SampledRotationSlerpsBetweenKeys) {
    const float s = 0.70710678f;
    KeyframeController controller = Sampled({Key(0, 0, 0, 0), Key(100, 0, 0, 0, 0, 0, s, s)});
    std::vector<float> out = Evaluated(controller, 50.0f, 16);
    // Half of a quarter turn about z, conjugated: _11 = cos 45, _12 = -sin 45.
    EXPECT_NEAR(out[0], s, 1e-6f);
    EXPECT_NEAR(out[1], -s, 1e-6f);
    EXPECT_NEAR(out[4], s, 1e-6f);
}

TEST(KeyframeController, SingleSampledKeyNeverWrites) {
    KeyframeController controller = Sampled({Key(0, 1, 2, 3)});
    EXPECT_TRUE(Untouched(Evaluated(controller, 0.0f, 16)));
}

TEST(KeyframeController, FirstIntervalHoldingTheTimeWinsAndTimesCompareExactly) {
    // Times that do not increase: [0, 10) holds 5 and wins over the later [5, 20).
    KeyframeController controller = Sampled({Key(0, 0, 0, 0), Key(10, 10, 0, 0), Key(5, 0, 0, 0), Key(20, 0, 0, 0)});
    EXPECT_FLOAT_EQ(Evaluated(controller, 5.0f, 16)[12], 5.0f);
    EXPECT_FLOAT_EQ(Evaluated(controller, 15.0f, 16)[12], 0.0f);
    // 16777217 has no float; as float it would round into the first key and fall inside.
    KeyframeController large = Sampled({Key(16777217, 0, 0, 0), Key(16777300, 1, 0, 0)});
    EXPECT_TRUE(Untouched(Evaluated(large, 16777216.0f, 16)));
}

TEST(KeyframeController, QuaternionCurveHoldsTheLastKeyOutsideItsRange) {
    KeyframeController controller;
    controller.Init(2, 4, ControllerQuaternionCurve);
    const float s = 0.70710678f;
    const float first[] = {0, 0, 0, 1};
    const float last[] = {0, 0, s, s};
    ASSERT_TRUE(controller.SetCurveKey(0, 0, first, {}, {}));
    ASSERT_TRUE(controller.SetCurveKey(1, 100, last, {}, {}));
    EXPECT_FALSE(controller.SetCurveKey(2, 0, last, {}, {}));
    for (float time : {-5.0f, 100.0f, 700.0f}) {
        std::vector<float> out = Evaluated(controller, time, 5);
        EXPECT_EQ(out, (std::vector<float>{0, 0, s, s, kSentinel})) << time;
    }
    std::vector<float> middle = Evaluated(controller, 50.0f, 4);
    EXPECT_NEAR(middle[2], 0.38268343f, 1e-6f);
    EXPECT_NEAR(middle[3], 0.92387953f, 1e-6f);

    KeyframeController single;
    single.Init(1, 4, ControllerQuaternionCurve);
    single.SetCurveKey(0, 0, last, {}, {});
    EXPECT_TRUE(Untouched(Evaluated(single, 10.0f, 4)));
}

TEST(KeyframeController, GeneralCurveIsCubicHermitePerChannel) {
    KeyframeController controller;
    controller.Init(2, 3, 0);
    const float v0[] = {1, 2, 3}, out0[] = {4, 0, -4}, v1[] = {5, 6, 7}, in1[] = {8, 0, 2};
    controller.SetCurveKey(0, 0, v0, {}, out0);
    controller.SetCurveKey(1, 10, v1, in1, {});
    // f = 0 gives the first key's values exactly.
    EXPECT_EQ(Evaluated(controller, 0.0f, 4), (std::vector<float>{1, 2, 3, kSentinel}));
    // f = 0.5: a = 0.5, b = 0.5, c = 0.125, d = -0.125 (by hand).
    std::vector<float> half = Evaluated(controller, 5.0f, 3);
    EXPECT_FLOAT_EQ(half[0], 0.5f * 1 + 0.125f * 4 + 0.5f * 5 - 0.125f * 8);
    EXPECT_FLOAT_EQ(half[1], 0.5f * 2 + 0.5f * 6);
    EXPECT_FLOAT_EQ(half[2], 0.5f * 3 - 0.125f * 4 + 0.5f * 7 - 0.125f * 2);
    // Approaching f = 1 approaches the second key.
    std::vector<float> nearEnd = Evaluated(controller, 9.999f, 3);
    EXPECT_NEAR(nearEnd[0], 5.0f, 1e-3f);
    EXPECT_NEAR(nearEnd[2], 7.0f, 1e-3f);
    // After the last key: the last key's values.
    EXPECT_EQ(Evaluated(controller, 10.0f, 4), (std::vector<float>{5, 6, 7, kSentinel}));
}

TEST(KeyframeController, GeneralCurveWithoutChannelsWritesNothing) {
    KeyframeController controller;
    controller.Init(2, 0, 5);
    EXPECT_TRUE(Untouched(Evaluated(controller, 0.0f, 4)));
}

TEST(KeyframeController, OwnersDeleteItThroughTheBase) {
    std::unique_ptr<TrackController> owned = std::make_unique<KeyframeController>(Sampled({Key(0, 0, 0, 0)}));
    EXPECT_TRUE(Untouched(Evaluated(*owned, 0.0f, 16)));
}
