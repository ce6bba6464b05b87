// The program started from a shell or a script: the usage box, and a message file named on
// the command line taken into its own temporary copy.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/stat.h>
#include <chrono>
#include <functional>
#include <map>
#include <set>

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
                                  {"KORRIN_AUDIO", "virtual"},
                                  {"TMPDIR", tmp_},
                                  {"XDG_RUNTIME_DIR", dir_.file("runtime")}},
                                 60000);
    }
    std::vector<std::string> env() const {
        return {"QT_QPA_PLATFORM=offscreen",
                "KORRIN_REGISTRY=" + dir_.file("registry.db"),
                "KORRIN_MESSAGE_ANSWERS=OK",
                "KORRIN_MESSAGE_LOG=" + dir_.file("log"),
                "KORRIN_AUDIO=virtual",
                "TMPDIR=" + tmp_,
                "XDG_RUNTIME_DIR=" + dir_.file("runtime")};
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

    int foldersIn(const std::string& folder) const {
        int n = 0;
        if (DIR* d = opendir(folder.c_str())) {
            while (dirent* e = readdir(d))
                n += e->d_name[0] != '.' && e->d_type == DT_DIR;
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

// With MAPI chosen as the transport and no profile defined, the first message window tells so
// and the program ends as closing its main window ends it, with status 0.
TEST_F(StartupTest, MapiWithoutAProfileTellsSoAndEndsTheProgram) {
    {
        ScopedEnv registry("KORRIN_REGISTRY", dir_.file("registry.db"));
        RegKeyGuard key;
        ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillion\\Korrin", key.out()),
                  ERROR_SUCCESS);
        const DWORD mapi = 3;
        ASSERT_EQ(RegSetValueEx(key.get(), "Transport", REG_DWORD,
                                reinterpret_cast<const std::uint8_t*>(&mapi), sizeof mapi),
                  ERROR_SUCCESS);
    }
    WriteFile(dir_.file("script"), "loaded\ncommand 32785\nsleep 30000\n");
    RunResult r = korrin::test::Run({BuildDir() + "/korrin"},
                                    {{"QT_QPA_PLATFORM", "offscreen"},
                                     {"KORRIN_REGISTRY", dir_.file("registry.db")},
                                     {"KORRIN_MESSAGE_ANSWERS", "OK"},
                                     {"KORRIN_MESSAGE_LOG", dir_.file("log")},
                                     {"KORRIN_AUDIO", "virtual"},
                                     {"KORRIN_SCRIPT", dir_.file("script")},
                                     {"XDG_DATA_HOME", dir_.file("data")},
                                     {"TMPDIR", tmp_},
                                     {"XDG_RUNTIME_DIR", dir_.file("runtime")}},
                                    20000);
    ASSERT_FALSE(r.timedOut) << "the program did not end";
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> boxes;  // a registry never set up also gives reports
    for (const auto& line : log())
        if (JsonField(line, "kind") == "messagebox")
            boxes.push_back(JsonField(line, "text"));
    EXPECT_EQ(boxes, std::vector<std::string>{
                         "There are no profiles defined. MAPI requires one to run. Define at "
                         "least one profile and try again."});
}

// The program running in the background, ended by a signal as the desktop ends it at log-out.
class Running {
  public:
    Running(const std::vector<std::string>& args, const std::vector<std::string>& env) {
        std::vector<char*> argv, envp;
        std::vector<std::string> a = args, e = env;
        for (auto& x : a)
            argv.push_back(x.data());
        argv.push_back(nullptr);
        for (auto& x : e)  // first: the first of two equal names counts
            envp.push_back(x.data());
        for (char** p = environ; *p; ++p)
            envp.push_back(*p);
        envp.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
    }
    ~Running() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    // The exit status once it ended within ms, else -1.
    int waitExit(int ms) {
        for (int waited = 0; pid_ > 0 && waited <= ms; waited += 20) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            usleep(20000);
        }
        return -1;
    }
    void signal(int sig) { kill(pid_, sig); }

  private:
    pid_t pid_ = -1;
};

bool waitFor(const std::function<bool()>& done, int ms = 20000) {
    for (int waited = 0; waited <= ms; waited += 20) {
        if (done())
            return true;
        usleep(20000);
    }
    return false;
}

// Each start works on its own numbered copy while the message window shows it, and SIGTERM
// ends the program the way Close does, removing the copy and its work folder.
TEST_F(StartupTest, QuotedPathWithBlanksIsCopiedUnderANewNumberEachStart) {
    const std::string original = dir_.file("Voice mail from Ann.kx0");
    WriteFile(original, std::string("RIFF\0\0\0\0WAVE", 12) + "trailer");
    const std::string before = ReadFile(original);

    std::set<std::string> copies;
    for (const std::string& arg : {"\"" + original + "\"", "\"" + original + "\"", original}) {
        Running run({BuildDir() + "/korrin", arg}, env());
        std::string copy;
        ASSERT_TRUE(waitFor([&] {
            if (DIR* d = opendir(tmp_.c_str())) {
                while (dirent* e = readdir(d))
                    if (std::string(e->d_name).find("L.kx0") != std::string::npos)
                        copy = e->d_name;
                closedir(d);
            }
            return !copy.empty() && ReadFile(tmp_ + "/" + copy) == before;
        }));
        copies.insert(copy);
        run.signal(SIGTERM);
        EXPECT_EQ(run.waitExit(20000), 0);
        EXPECT_EQ(filesIn(tmp_), 0) << "temporary copies are removed";
        EXPECT_EQ(foldersIn(dir_.file("runtime/korrin")), 0) << "work folders are removed";
    }
    EXPECT_EQ(copies.size(), 3u) << "each start has a copy of its own";
    EXPECT_EQ(ReadFile(original), before);
}

// A second start hands its file to the running program and ends at once; once the running
// one was killed, a new start runs by itself.
TEST_F(StartupTest, ASecondStartHandsItsFileOver) {
    const std::string message = dir_.file("m.kx0");
    WriteFile(message, std::string("RIFF\0\0\0\0WAVE", 12) + "trailer");
    Running first({BuildDir() + "/korrin"}, env());
    ASSERT_TRUE(waitFor([&] { return filesIn(dir_.file("runtime/korrin")) >= 2; }));
    usleep(300000);
    const auto started = std::chrono::steady_clock::now();
    RunResult second = korrin(message);
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1500));
    // The running one opened it on a copy of its own.
    ASSERT_TRUE(waitFor([&] { return foldersIn(dir_.file("runtime/korrin")) == 1; }));
    first.signal(SIGKILL);
    EXPECT_EQ(first.waitExit(5000), 128 + SIGKILL);

    Running third({BuildDir() + "/korrin"}, env());
    EXPECT_EQ(third.waitExit(3000), -1) << "a stale socket is taken over: the start runs";
    third.signal(SIGTERM);
    EXPECT_EQ(third.waitExit(20000), 0);
}

TEST_F(StartupTest, AFifoOnTheCommandLineIsRefusedNotWaitedOn) {
    FifoGuard fifo(dir_.file("voice.kx0"), 30000);
    RunResult r = korrin(dir_.file("voice.kx0"));
    ASSERT_FALSE(r.timedOut);
    EXPECT_FALSE(fifo.rescued()) << "korrin waited for a writer";
    EXPECT_EQ(r.exitCode, 0) << r.err;
    // Among the reports of the folder scan (no install folder here), in this order:
    std::vector<std::string> texts;
    for (const auto& line : log())
        if (JsonField(line, "source") != "FolderList" && JsonField(line, "source") != "Transmit" &&
            JsonField(line, "text").find("Registry") == std::string::npos &&
            JsonField(line, "text").find("RegOpenKeyEx") == std::string::npos)
            texts.push_back(JsonField(line, "text"));
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[0], "CopyFile failed");
    EXPECT_EQ(texts[1],
              "Can't Open File. Questions: support@quillion.example, "
              "http://www.quillion.example/");
    EXPECT_EQ(filesIn(tmp_), 0);
}

}  // namespace

// Set-up as a user runs it: the desktop entry it installs validates, the desktop then names it
// as the program for message files, and --remove takes it away.
TEST(DesktopEntry, SetUpRegistersTheMessageTypeAndRemoveTakesItAway) {
    for (const char* tool : {"/usr/bin/xdg-mime", "/usr/bin/desktop-file-validate"})
        ASSERT_EQ(access(tool, X_OK), 0) << tool << " is needed (scripts/install-deps.sh)";
    TempDir dir;
    const std::string data = dir.file("data");
    const std::map<std::string, std::string> env = {{"HOME", dir.path()},
                                                    {"XDG_DATA_HOME", data},
                                                    {"XDG_CONFIG_HOME", dir.file("config")},
                                                    {"KORRIN_REGISTRY", dir.file("registry.db")},
                                                    {"QT_QPA_PLATFORM", "offscreen"},
                                                    {"XDG_CURRENT_DESKTOP", "X-Generic"}};
    const std::string script = SourceDir() + "/scripts/setup-user.sh";
    RunResult setup = korrin::test::Run({"/bin/bash", script, BuildDir()}, env, 60000);
    ASSERT_EQ(setup.exitCode, 0) << setup.out << setup.err;
    const std::string entry = data + "/applications/korrin.desktop";
    RunResult valid = korrin::test::Run({"/usr/bin/desktop-file-validate", entry});
    EXPECT_EQ(valid.exitCode, 0) << valid.out << valid.err;

    RunResult query = korrin::test::Run(
        {"/usr/bin/xdg-mime", "query", "default", "application/x-korrin-message"}, env);
    EXPECT_EQ(query.out, "korrin.desktop\n") << query.err;

    RunResult remove = korrin::test::Run({"/bin/bash", script, "--remove", BuildDir()}, env, 60000);
    ASSERT_EQ(remove.exitCode, 0) << remove.out << remove.err;
    struct stat st {};
    EXPECT_NE(stat(entry.c_str(), &st), 0);
    EXPECT_NE(stat((data + "/icons/hicolor/48x48/apps/korrin.png").c_str(), &st), 0);
}
