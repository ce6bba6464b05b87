// Finding a tool's output in its work folder and clearing the folder afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "helpers/TestSupport.h"
#include "platform/files/ToolOutput.h"

using namespace korrin::platform;
using korrin::test::ReadFile;
using korrin::test::TempDir;
using korrin::test::WriteFile;

TEST(ToolOutput, OnlyPlainFilesMatchAndNothingBlocks) {
    TempDir dir;
    TempDir outside;
    WriteFile(outside.file("secret.wav"), "elsewhere");
    ASSERT_EQ(::symlink(outside.file("secret.wav").c_str(), dir.file("a.wav").c_str()), 0);
    ASSERT_EQ(::mkfifo(dir.file("b.wav").c_str(), 0600), 0);
    std::filesystem::create_directory(dir.file("c.wav"));
    WriteFile(dir.file(".hidden.wav"), "");
    EXPECT_EQ(FindFirstFileMatching(dir.path(), "*.wav"), "");

    WriteFile(dir.file("Z.WAV"), "z");
    WriteFile(dir.file("m.Wav"), "m");
    EXPECT_EQ(FindFirstFileMatching(dir.path(), "*.wav"), dir.file("Z.WAV"));
    EXPECT_EQ(FindFirstFileMatching(dir.path() + "/none", "*.wav"), "");

    EXPECT_TRUE(CanOpenForReadWrite(dir.file("m.Wav")));
    EXPECT_FALSE(CanOpenForReadWrite(dir.file("b.wav")));  // returns: a FIFO, not a hang
    EXPECT_FALSE(CanOpenForReadWrite(dir.file("c.wav")));
    EXPECT_FALSE(CanOpenForReadWrite(dir.file("absent.wav")));

    std::filesystem::create_directories(dir.file("deep/er"));
    WriteFile(dir.file("deep/er/x"), "x");
    ASSERT_EQ(::symlink(outside.path().c_str(), dir.file("deep/link").c_str()), 0);
    EXPECT_TRUE(RemoveFolderContents(dir.path()));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    EXPECT_EQ(ReadFile(outside.file("secret.wav")), "elsewhere");
    EXPECT_FALSE(RemoveFolderContents(dir.file("absent")));
}
