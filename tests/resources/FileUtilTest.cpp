#include "resources/FileUtil.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using lumaret::test::ScopedTempDir;
using lumaret::test::WriteFileBytes;

TEST(FileUtil, PathHelpersLowerCaseAndUseForwardSlashes) {
    EXPECT_EQ(NormalizePath("Data\\Sub\\File.SRX"), "data/sub/file.srx");
    EXPECT_EQ(FileNameOfPath("Data\\Sub\\File.SRX"), "file.srx");
    EXPECT_EQ(StripExtension("Data\\Sub\\File.SRX"), "data/sub/file");
    EXPECT_EQ(FileNameOfPath("C:\\Maps/Brick.TGA"), "brick.tga");
    EXPECT_EQ(FileNameOfPath("Brick.TGA"), "brick.tga");
    EXPECT_EQ(FileNameOfPath("maps/"), "");
    EXPECT_EQ(StripExtension("./data/readme"), "");
    EXPECT_EQ(StripExtension("noextension"), "noextension");
}

TEST(FileUtil, ExtensionIsWhateverFollowsTheLastDotOfTheWholePath) {
    EXPECT_EQ(FileExtension("./data/Shaders/PassZN.HLSL"), "hlsl");
    EXPECT_EQ(FileExtension("./data/archive.tar.png"), "png");
    // The dot of the "./data/" prefix, or of a directory, is the last one.
    EXPECT_EQ(FileExtension("./data/README"), "/data/readme");
    EXPECT_EQ(FileExtension("./data/v1.2/notes"), "2/notes");
    EXPECT_EQ(FileExtension("plain"), "");
}

TEST(FileUtil, LowercaseTouchesOnlyAsciiLetters) {
    std::string text = "AZaz09_\\/\xC4\xD6";
    LowercaseInPlace(text);
    EXPECT_EQ(text, "azaz09_\\/\xC4\xD6");
    char buffer[] = "Brick.TGA";
    LowercaseInPlace(buffer);
    EXPECT_STREQ(buffer, "brick.tga");
}

TEST(FileUtil, ReadWholeFileGivesTheExactBytes) {
    ScopedTempDir dir;
    std::string bytes("SC2_\0\x01\xFFrest", 11);
    WriteFileBytes("scene.srx", bytes);
    auto data = ReadWholeFile("scene.srx");
    ASSERT_TRUE(data.has_value());
    EXPECT_EQ(std::string(data->begin(), data->end()), bytes);

    WriteFileBytes("empty.srx", "");
    auto empty = ReadWholeFile("empty.srx");
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->empty());
}

TEST(FileUtil, ReadWholeFileGivesNothingForMissingFilesAndDirectories) {
    ScopedTempDir dir;
    EXPECT_FALSE(ReadWholeFile("missing.srx").has_value());
    std::filesystem::create_directory("folder.srx");
    EXPECT_FALSE(ReadWholeFile("folder.srx").has_value());
}
