// Test entry: headless unless a test asks otherwise, and no blocking message boxes.
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    setenv("LUMARET_NO_MESSAGE_BOX", "1", 0);
    // Tests drive PeekMessageA themselves; the headless frame limit would close windows.
    setenv("LUMARET_HEADLESS_FRAMES", "0", 0);
    // The shader translation cache of the tests stays in the build tree, away from the user's.
    setenv("XDG_CACHE_HOME", LUMARET_BUILD_DIR "/test-cache", 0);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
