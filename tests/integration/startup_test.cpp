// The program started from a shell or a script: the usage box, and a message file named on
// the command line taken into its own temporary copy.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include "helpers/TestSupport.h"
#include "platform/registry/Registry.h"

using namespace korrin::platform;
using namespace korrin::test;

namespace {

class StartupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(mkdir(tmp_.c_str(), 0700), 0);
        ASSERT_EQ(mkdir(dir_.file("runtime").c_str(), 0700), 0);
    }

    RunResult korrin(const std::string& arg) {
        return korrin::test::Run({BuildDir() + "/korrin", arg},
                                 {{"QT_QPA_PLATFORM", "offscreen"},
                                  {"KORRIN_REGISTRY", dir_.file("registry.db")},
                                  {"KORRIN_MESSAGE_ANSWERS", "OK"},
                                  {"KORRIN_MESSAGE_LOG", dir_.file("log")},
                                  {"TMPDIR", tmp_},
                                  {"XDG_RUNTIME_DIR", dir_.file("runtime")}},
                                 60000);
    }
    std::vector<std::string> log() const { return ReadLines(dir_.file("log")); }
    int filesIn(const std::string& folder) const {
        int n = 0;
        if (DIR* d = opendir(folder.c_str())) {
            while (dirent* e = readdir(d))
                n += e->d_name[0] != '.';
            closedir(d);
        }
        return n;
    }

    TempDir dir_;
    std::string tmp_ = dir_.file("tmp");
};

// Help and version are answered on stdout without any window system; a file whose name looks
// like an option is still a file when written as a path.
TEST_F(StartupTest, HelpAndVersionPrintAndEnd) {
    RunResult help =
        korrin::test::Run({BuildDir() + "/korrin", "--help"}, {{"QT_QPA_PLATFORM", "none"}});
    EXPECT_EQ(help.exitCode, 0) << help.err;
    EXPECT_EQ(help.out.rfind("Usage: korrin [FILE]", 0), 0u) << help.out;
    RunResult version =
        korrin::test::Run({BuildDir() + "/korrin", "--version"}, {{"QT_QPA_PLATFORM", "none"}});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "korrin 6.0\n");

    WriteFile(dir_.file("--help"), "RIFF");
    RunResult file = korrin::test::Run({BuildDir() + "/korrin", "./--help"},
                                       {{"QT_QPA_PLATFORM", "offscreen"},
                                        {"KORRIN_REGISTRY", dir_.file("registry.db")},
                                        {"KORRIN_MESSAGE_ANSWERS", "OK"},
                                        {"KORRIN_MESSAGE_LOG", dir_.file("log")},
                                        {"TMPDIR", tmp_},
                                        {"XDG_RUNTIME_DIR", dir_.file("runtime")}},
                                       60000);
    EXPECT_EQ(file.out.find("Usage:"), std::string::npos);
    EXPECT_FALSE(log().empty()) << "the file was taken for a message to open";
}

// The command-line companion runs where no window system is installed: it must not even load
// the widget library.
TEST(Layering, KorrinctlLinksNoWidgets) {
    RunResult r = korrin::test::Run({"/usr/bin/ldd", BuildDir() + "/korrinctl"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.find("libQt6Widgets"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("libQt6Gui"), std::string::npos) << r.out;
}

// The desktop entry that setup installs is valid for the desktop's tools.
TEST(DesktopEntry, Validates) {
    TempDir dir;
    std::string text = ReadFile(SourceDir() + "/resources/korrin.desktop.in");
    const std::string mark = "@KORRIN@";
    text.replace(text.find(mark), mark.size(), BuildDir() + "/korrin");
    WriteFile(dir.file("korrin.desktop"), text);
    RunResult r = korrin::test::Run({"/usr/bin/desktop-file-validate", dir.file("korrin.desktop")});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.out + r.err, "");
}

TEST_F(StartupTest, QuestionMarkShowsTheUsageAndEnds) {
    for (const std::string arg : {"?", "?help"}) {
        RunResult r = korrin(arg);
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 0) << r.err;
    }
    auto lines = log();
    ASSERT_EQ(lines.size(), 2u);
    for (const auto& line : lines) {
        EXPECT_EQ(JsonField(line, "kind"), "messagebox");
        EXPECT_EQ(JsonField(line, "icon"), "stop");
        EXPECT_EQ(JsonField(line, "caption"), "Quillion Email for Windows(tm)");
        EXPECT_EQ(JsonField(line, "text"),
                  "Korrin <file name>. Questions: support@quillion.example, "
                  "http://www.quillion.example/");
    }
}

TEST_F(StartupTest, QuotedPathWithBlanksIsCopiedUnderANewNumberEachStart) {
    const std::string original = dir_.file("Voice mail from Ann.kx0");
    WriteFile(original, std::string("RIFF\0\0\0\0WAVE", 12) + "trailer");
    const std::string before = ReadFile(original);

    ASSERT_EQ(korrin("\"" + original + "\"").exitCode, 0);
    ASSERT_EQ(korrin("\"" + original + "\"").exitCode, 0);
    ASSERT_EQ(korrin(original).exitCode, 0);  // as a desktop file passes it

    std::vector<std::string> opened;
    for (const auto& line : log()) {
        EXPECT_NE(JsonField(line, "kind"), "report") << line;
        std::string text = JsonField(line, "text");
        auto at = text.find(" V");
        if (text.rfind("Can't play ", 0) == 0 && at != std::string::npos)
            opened.push_back(text.substr(at + 1, text.find(':') - at - 1));
    }
    EXPECT_EQ(opened, (std::vector<std::string>{"V1L.kx0", "V2L.kx0", "V3L.kx0"}));
    EXPECT_EQ(ReadFile(original), before);
    EXPECT_EQ(filesIn(tmp_), 0) << "temporary copies are removed";

    korrin::test::ScopedEnv registry("KORRIN_REGISTRY", dir_.file("registry.db"));
    RegKeyGuard key;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "software\\quillion\\korrin", key.out()),
              ERROR_SUCCESS);
    std::uint8_t bytes[4] = {};
    DWORD size = 4;
    ASSERT_EQ(RegQueryValueEx(key.get(), "File ID", nullptr, bytes, &size), ERROR_SUCCESS);
    EXPECT_EQ(bytes[0], 3);
}

TEST_F(StartupTest, AFifoOnTheCommandLineIsRefusedNotWaitedOn) {
    FifoGuard fifo(dir_.file("voice.kx0"), 30000);
    RunResult r = korrin(dir_.file("voice.kx0"));
    ASSERT_FALSE(r.timedOut);
    EXPECT_FALSE(fifo.rescued()) << "korrin waited for a writer";
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> texts;
    for (const auto& line : log())
        texts.push_back(JsonField(line, "text"));
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[0], "CopyFile failed");
    EXPECT_EQ(texts[1],
              "Can't Open File. Questions: support@quillion.example, "
              "http://www.quillion.example/");
    EXPECT_EQ(filesIn(tmp_), 0);
}

}  // namespace
