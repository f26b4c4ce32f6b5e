#include "app/Log.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using lumaret::test::ReadFileBytes;
using lumaret::test::ScopedTempDir;

TEST(Log, OpenWritesBannerAndTruncatesEarlierRuns) {
    ScopedTempDir dir;
    Log::Open();
    Log::Write("first run\n");
    Log::Open();
    EXPECT_EQ(ReadFileBytes("log.txt"), "Lumaret Engine Log\n\n");
}

TEST(Log, MessagesWithoutNewlineContinueTheLine) {
    ScopedTempDir dir;
    Log::Open();
    Log::Write("Resolution: %dx%d %d Hz ", 640, 480, 0);
    Log::Write("Format: A8R8G8B8\n");
    Log::Write("OcclusionQuery:\t");
    Log::Write("SUPPORTED\n");
    EXPECT_EQ(ReadFileBytes("log.txt"),
              "Lumaret Engine Log\n\nResolution: 640x480 0 Hz Format: A8R8G8B8\nOcclusionQuery:\tSUPPORTED\n");
}

TEST(Log, WriteWithoutOpenCreatesTheFileWithoutBanner) {
    ScopedTempDir dir;
    Log::Write("%s %d%%\n", "done", 100);
    EXPECT_EQ(ReadFileBytes("log.txt"), "done 100%\n");
}

TEST(Log, LongMessagesAreCutAtTheBufferSize) {
    ScopedTempDir dir;
    std::string longText(5000, 'x');
    Log::Write("%s", longText.c_str());
    EXPECT_EQ(ReadFileBytes("log.txt"), std::string(Log::BufferSize - 1, 'x'));
}

TEST(Log, UnwritableLogFileIsIgnored) {
    ScopedTempDir dir;
    // A directory in the file's place cannot be opened for writing, even by root.
    std::filesystem::create_directory("log.txt");
    Log::Open();
    Log::Write("nothing to see\n");
    EXPECT_TRUE(std::filesystem::is_directory("log.txt"));
    EXPECT_TRUE(std::filesystem::is_empty("log.txt"));
}

TEST(LogDeathTest, FatalShowsTheMessageBoxPathAndExitsWithMinusOne) {
    ScopedTempDir dir;
    Log::Open();
    Log::Write("before\n");
    EXPECT_EXIT(Log::Fatal("Renderer::Init: %s\n", "Invalid window handle!"), testing::ExitedWithCode(255),
                "error: Renderer::Init: Invalid window handle!");
    EXPECT_EQ(ReadFileBytes("log.txt"), "Lumaret Engine Log\n\nbefore\n");
}
