// The golden-image comparison itself, against references in a scratch directory: what passes,
// what fails and with which message, and the files a failure leaves for a person to look at.
#include "support/GoldenImage.h"
#include "support/TempDir.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

using lumaret::test::ExpectMatchesGolden;
using lumaret::test::GoldenDirectories;

namespace {

constexpr int W = 8, H = 4;

// A reference with every pixel different, alpha included.
std::vector<uint32_t> Gradient() {
    std::vector<uint32_t> pixels(W * H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            pixels[y * W + x] = static_cast<uint32_t>(0x80 + y * 16) << 24 | static_cast<uint32_t>(x * 30) << 16 |
                                static_cast<uint32_t>(y * 60) << 8 | 0x40u;
    return pixels;
}

class GoldenImageTest : public testing::Test {
protected:
    void SetUp() override {
        directories = {scratch.path() + "/golden", scratch.path() + "/build/golden-failures"};
        std::filesystem::create_directories(directories.references);
        reference = Gradient();
        ASSERT_TRUE(lumaret::test::WritePng(directories.references + "/frame.png", W, H, reference.data()));
    }
    bool Exists(const std::string& file) const { return std::filesystem::exists(directories.failures + "/" + file); }

    lumaret::test::ScopedTempDir scratch;
    GoldenDirectories directories;
    std::vector<uint32_t> reference;
};

}  // namespace

TEST_F(GoldenImageTest, DifferencesWithinTheToleranceOfEveryChannelPass) {
    ExpectMatchesGolden(directories, "frame", W, H, reference.data(), 0);
    std::vector<uint32_t> nudged = reference;
    nudged[0] += 0x02000000;   // alpha
    nudged[5] -= 0x00000002;   // blue
    nudged[31] += 0x00020000;  // red
    ExpectMatchesGolden(directories, "frame", W, H, nudged.data(), 2);
    EXPECT_FALSE(Exists("frame.actual.png"));
    EXPECT_FALSE(Exists("frame.diff.png"));
}

TEST_F(GoldenImageTest, ADifferenceBeyondTheToleranceFailsAndLeavesActualAndDiffImages) {
    std::vector<uint32_t> changed = reference;
    changed[3] += 0x00000300;          // green off by 3
    changed[W + 1] ^= 0x80000000;      // alpha off by 128
    changed[2 * W + 6] += 0x00000001;  // within the tolerance
    EXPECT_NONFATAL_FAILURE(ExpectMatchesGolden(directories, "frame", W, H, changed.data(), 2),
                            "2 of 32 pixels differ by more than 2 (largest difference 128)");

    int width = 0, height = 0;
    std::vector<uint32_t> actual, diff;
    ASSERT_TRUE(lumaret::test::ReadPng(directories.failures + "/frame.actual.png", &width, &height, &actual));
    EXPECT_EQ(actual, changed);
    ASSERT_TRUE(lumaret::test::ReadPng(directories.failures + "/frame.diff.png", &width, &height, &diff));
    ASSERT_EQ(width, W);
    ASSERT_EQ(height, H);
    for (int i = 0; i < W * H; ++i) EXPECT_EQ(diff[i] == 0xFFFF0000u, i == 3 || i == W + 1) << "pixel " << i;

    // Once the image matches again, the failure's leftovers go, so they cannot be approved.
    ExpectMatchesGolden(directories, "frame", W, H, reference.data(), 2);
    EXPECT_FALSE(Exists("frame.actual.png"));
    EXPECT_FALSE(Exists("frame.diff.png"));
}

TEST_F(GoldenImageTest, AMissingOrMisSizedReferenceFailsAndKeepsTheImageForApproval) {
    EXPECT_NONFATAL_FAILURE(ExpectMatchesGolden(directories, "new_frame", W, H, reference.data(), 2),
                            "scripts/approve-golden.sh");
    EXPECT_TRUE(Exists("new_frame.actual.png"));
    EXPECT_FALSE(Exists("new_frame.diff.png"));

    std::vector<uint32_t> taller(W * (H + 1), 0xFF000000u);
    EXPECT_NONFATAL_FAILURE(ExpectMatchesGolden(directories, "frame", W, H + 1, taller.data(), 255),
                            "is 8 x 4 but the rendered image is 8 x 5");
    EXPECT_TRUE(Exists("frame.actual.png"));
}
