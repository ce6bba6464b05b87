#include <sys/stat.h>

#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "helpers/TestSupport.h"
#include "platform/files/Files.h"
#include "platform/process/CommandLine.h"
#include "platform/shell/DialUp.h"
#include "platform/shell/Shell.h"

using namespace korrin::platform;
using korrin::test::ReadFile;
using korrin::test::ScopedEnv;
using korrin::test::TempDir;
using korrin::test::WriteFile;
using namespace std::chrono_literals;

namespace {

// The opener is not waited for, so its record appears some time after ShellExecute returns.
std::string AwaitRecord(const std::string& path) {
    auto end = std::chrono::steady_clock::now() + 5s;
    while (!FileExists(path) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(10ms);
    return ReadFile(path);
}

}  // namespace

class ShellOpen : public ::testing::Test {
  protected:
    TempDir dir_;
    std::string recorder_ = dir_.file("opener dir/record");
    std::string record_ = dir_.file("args");
    std::optional<ScopedEnv> opener_;

    void SetUp() override {
        ASSERT_EQ(mkdir(dir_.file("opener dir").c_str(), 0700), 0);
        // Written under another name and renamed, so a half-written record is never read.
        WriteFile(recorder_,
                  "#!/bin/sh\nout=$1; shift\nprintf '%s\\n' \"$@\" > \"$out.tmp\" && "
                  "mv \"$out.tmp\" \"$out\"\n");
        ASSERT_EQ(chmod(recorder_.c_str(), 0755), 0);
        opener_.emplace("KORRIN_OPENER", QuoteArgument(recorder_) + " " + QuoteArgument(record_));
    }

    std::string Opened(const std::string& target) {
        EXPECT_NE(ShellExecute("open", target), 0);
        std::string args = AwaitRecord(record_);
        unlink(record_.c_str());
        return args;
    }
};

TEST_F(ShellOpen, PassesTargetAsLastArgumentWithSchemeLowered) {
    EXPECT_EQ(Opened("mailTo:Someone@Example.example"), "mailto:Someone@Example.example\n");
    EXPECT_EQ(Opened("HTTP://Www.Example.example/A B"), "http://Www.Example.example/A B\n");
    EXPECT_EQ(Opened("x-Korrin+v1.2:Q"), "x-korrin+v1.2:Q\n");
}

TEST_F(ShellOpen, LeavesNonSchemesAlone) {
    EXPECT_EQ(Opened("/home/U/Msg:One.KX1"), "/home/U/Msg:One.KX1\n");
    EXPECT_EQ(Opened("C:\\Windows"), "C:\\Windows\n");
    EXPECT_EQ(Opened("Two Words:x"), "Two Words:x\n");
    EXPECT_EQ(Opened("1abc:x"), "1abc:x\n");
    EXPECT_EQ(Opened("NoColon"), "NoColon\n");
}

TEST_F(ShellOpen, DefaultVerbOpensOtherVerbsDoNot) {
    EXPECT_NE(ShellExecute("", "http://a.example"), 0);
    EXPECT_EQ(AwaitRecord(record_), "http://a.example\n");
    unlink(record_.c_str());

    EXPECT_EQ(ShellExecute("print", "http://a.example"), 0);
    EXPECT_EQ(ShellExecute("open", ""), 0);
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(FileExists(record_));
}

TEST_F(ShellOpen, MissingOpenerFails) {
    opener_.emplace("KORRIN_OPENER", dir_.file("no-such-opener") + " --flag");
    EXPECT_EQ(ShellExecute("open", "http://a.example"), 0);

    // Without an override the default opener is looked up in PATH.
    opener_.emplace("KORRIN_OPENER", std::nullopt);
    ScopedEnv path("PATH", dir_.path());
    EXPECT_EQ(ShellExecute("open", "http://a.example"), 0);
}

// The connection list runs nmcli on the window's thread: however nmcli behaves, the list comes
// back within its bound.
class DialUpList : public ::testing::Test {
  protected:
    TempDir dir_;
    std::string script_ = dir_.file("nmcli");
    std::optional<ScopedEnv> nmcli_;

    void Use(const std::string& body) {
        WriteFile(script_, "#!/bin/sh\n" + body);
        ASSERT_EQ(chmod(script_.c_str(), 0755), 0);
        nmcli_.emplace("KORRIN_NMCLI", QuoteArgument(script_));
    }
    // The list, or nullopt when it did not come back within `limit`.
    std::optional<std::vector<std::string>> ListWithin(std::chrono::seconds limit) {
        auto result = std::async(std::launch::async, ListDialUpConnections);
        if (result.wait_for(limit) != std::future_status::ready) {
            stuck_ = std::move(result);  // waited for at the end of the test
            return std::nullopt;
        }
        return result.get();
    }

  private:
    std::future<std::vector<std::string>> stuck_;
};

TEST_F(DialUpList, ReadsTheNamesOfAProgramThatAnswers) {
    Use("printf 'Home DSL\\nOffice\\\\: VPN\\n'\n");
    auto names = ListWithin(10s);
    ASSERT_TRUE(names);
    EXPECT_EQ(*names, (std::vector<std::string>{"Home DSL", "Office: VPN"}));
}

TEST_F(DialUpList, AProgramThatClosesItsOutputButKeepsRunningIsNotWaitedForWithoutBound) {
    // Output closed at once, then stuck: the end of its output is not its end.
    Use("exec >&-\nsleep 20\n");
    const auto start = std::chrono::steady_clock::now();
    auto names = ListWithin(10s);
    ASSERT_TRUE(names) << "the list waits for nmcli to end, however long it takes";
    EXPECT_TRUE(names->empty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 8s);
}
