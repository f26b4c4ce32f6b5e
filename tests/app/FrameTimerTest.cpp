#include "app/FrameTimer.h"

#include <gtest/gtest.h>

#include <thread>

TEST(FrameTimer, StartsAtZeroAndAdvancesMonotonically) {
    FrameTimer timer;
    EXPECT_GT(timer.frequency, 0u);
    EXPECT_EQ(timer.time, 0.0f);
    EXPECT_EQ(timer.delta, 0.0f);
    ASSERT_TRUE(timer.Start());
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    timer.Update();
    // The first update reports the time since the start as both time and delta.
    EXPECT_GE(timer.time, 0.005f);
    EXPECT_EQ(timer.delta, timer.time);
    float first = timer.time;
    timer.Update();
    EXPECT_GE(timer.time, first);
    EXPECT_GE(timer.delta, 0.0f);
    EXPECT_FLOAT_EQ(timer.delta, timer.time - first);
}
