// Packing and unpacking a message's wave file with the real launchers over Info-ZIP.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>

#include "helpers/TestSupport.h"
#include "korrin/app/EventReport.h"
#include "korrin/app/Utils.h"
#include "korrin/app/Zip.h"
#include "platform/registry/Registry.h"

using namespace korrin;
using namespace korrin::platform;
using korrin::test::JsonField;
using korrin::test::ReadFile;
using korrin::test::ReadLines;
using korrin::test::ScopedEnv;
using korrin::test::TempDir;
using korrin::test::WriteFile;
using Clock = std::chrono::steady_clock;

namespace {

// A short wave file: header, a stretch of near-silence that deflates well, then noise.
std::string SampleWave(std::size_t bytes = 40000) {
    std::string data("RIFF\x24\x9c\0\0WAVEfmt ", 16);
    std::mt19937 random(7);
    while (data.size() < bytes)
        data += data.size() < bytes / 2 ? char(0x80 + random() % 3) : char(random());
    return data;
}

std::uint32_t Le(const std::string& b, std::size_t at, int size) {
    std::uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(b.at(at + i));
    return v;
}

class ZipTest : public korrin::test::RegistryTest {
  protected:
    void SetUp() override {
        RegKeyGuard key;
        ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, key.out()), ERROR_SUCCESS);
        std::filesystem::create_directory(tmp_);
        std::filesystem::create_directory(tools_);
        for (const char* tool : {"pkzip", "pkunzip"})
            installTool(tool, ReadFile(test::SourceDir() + "/resources/tools/" + tool));
    }
    void installTool(const std::string& name, const std::string& script) {
        WriteFile(tools_ + "/" + name, script);
        ::chmod((tools_ + "/" + name).c_str(), 0755);
    }
    DWORD directoryCounter() {
        DWORD value = 0;
        CUtils().GetRegistryDword(kKorrinKey, "Directory", value);
        return value;
    }
    // Nothing left in the shared temporary folder but our private one, and that empty.
    bool workFoldersGone() const {
        for (const auto& e : std::filesystem::directory_iterator(tmp_))
            if (e.path() != work_ || !std::filesystem::is_empty(work_))
                return false;
        return true;
    }
    std::vector<std::string> log() const { return ReadLines(dir_.file("messages.log")); }

    TempDir files_;
    std::string tmp_ = dir_.file("tmp");
    std::string tools_ = dir_.file("tools");
    ScopedEnv tmpdir_{"TMPDIR", tmp_};
    ScopedEnv runtime_{"XDG_RUNTIME_DIR", std::nullopt};
    std::string work_ = tmp_ + "/korrin-" + std::to_string(::geteuid());
    ScopedEnv windir_{"KORRIN_WINDIR", tools_};
    ScopedEnv log_{"KORRIN_MESSAGE_LOG", dir_.file("messages.log")};
    ScopedEnv answers_{"KORRIN_MESSAGE_ANSWERS", ""};
    const zipdetail::ZipWaits quick_{20, 25, 5, 20};
};

TEST_F(ZipTest, PackingThenUnpackingGivesTheOriginalBytes) {
    ASSERT_TRUE(std::filesystem::create_directory(files_.file("my messages")));
    const std::string wave = files_.file("my messages/V12P.wav");
    WriteFile(wave, SampleWave());

    ASSERT_EQ(ZipFileInPlace(wave), 0);
    const std::string archive = ReadFile(wave);
    EXPECT_EQ(archive.substr(0, 4), std::string("PK\3\4"));
    EXPECT_LT(archive.size(), SampleWave().size());
    ASSERT_EQ(UnzipFileInPlace(wave), 0);
    EXPECT_TRUE(ReadFile(wave) == SampleWave()) << "wave changed";

    EXPECT_TRUE(workFoldersGone());
    EXPECT_TRUE(log().empty()) << log().front();
}

// What a 2.04g-era unpacker knows: stored or deflated entries, no data descriptors, no
// extra fields, no 64-bit records, bare names.
TEST_F(ZipTest, ArchivesKeepToTheOldFormat) {
    const std::string wave = files_.file("V3P.wav");
    WriteFile(wave, SampleWave());
    ASSERT_EQ(ZipFileInPlace(wave), 0);
    const std::string zip = ReadFile(wave);

    ASSERT_GE(zip.size(), 22u);
    const std::size_t end = zip.size() - 22;
    ASSERT_EQ(Le(zip, end, 4), 0x06054b50u) << "no archive comment, end record last";
    EXPECT_EQ(zip.find("PK\6\6"), std::string::npos);
    EXPECT_EQ(zip.find("PK\6\7"), std::string::npos);
    ASSERT_EQ(Le(zip, end + 10, 2), 1u);
    const std::size_t central = Le(zip, end + 16, 4);
    EXPECT_EQ(central + Le(zip, end + 12, 4), end);

    EXPECT_EQ(Le(zip, central, 4), 0x02014b50u);
    EXPECT_LE(Le(zip, central + 6, 2), 20u);
    EXPECT_EQ(Le(zip, central + 30, 2), 0u) << "central extra field";
    EXPECT_EQ(Le(zip, central + 32, 2), 0u);
    const std::size_t local = Le(zip, central + 42, 4);
    ASSERT_EQ(Le(zip, local, 4), 0x04034b50u);
    EXPECT_LE(Le(zip, local + 4, 2), 20u);
    EXPECT_EQ(Le(zip, local + 6, 2) & 0x0009u, 0u) << "encrypted or data descriptor";
    EXPECT_EQ(Le(zip, local + 8, 2), 8u) << "this sample deflates";
    EXPECT_EQ(Le(zip, local + 22, 4), SampleWave().size());
    EXPECT_EQ(zip.substr(local + 30, Le(zip, local + 26, 2)), "V3P.wav");
    EXPECT_EQ(Le(zip, local + 28, 2), 0u) << "local extra field";
}

TEST_F(ZipTest, EachOperationHasItsOwnWorkFolderAndTheFixedCommandLines) {
    // A spy in front of each launcher records where it ran and what it was given.
    for (const char* tool : {"pkzip", "pkunzip"}) {
        std::filesystem::rename(tools_ + "/" + tool, tools_ + "/real-" + tool);
        installTool(tool, "#!/bin/sh\necho \"$PWD|$*\" >> '" + dir_.file("calls") + "'\nexec '" +
                              tools_ + "/real-" + tool + "' \"$@\"\n");
    }
    const std::string wave = files_.file("V5P.wav");
    WriteFile(wave, SampleWave());
    const DWORD before = directoryCounter();
    ASSERT_EQ(ZipFileInPlace(wave), 0);
    EXPECT_EQ(directoryCounter(), before + 1);
    ASSERT_EQ(UnzipFileInPlace(wave), 0);
    EXPECT_EQ(directoryCounter(), before + 2);

    const auto calls = ReadLines(dir_.file("calls"));
    ASSERT_EQ(calls.size(), 2u);
    const std::string first = work_ + "/" + std::to_string(before + 1);
    const std::string second = work_ + "/" + std::to_string(before + 2);
    EXPECT_EQ(calls[0],
              std::filesystem::current_path().string() + "|" + first + "/file.tmp " + wave);
    EXPECT_EQ(calls[1], second + "|-o " + second + "/file.zip");
    EXPECT_TRUE(workFoldersGone());
}

// Work folders live in a folder of this user's that nobody else can enter or plant: the
// runtime folder when there is one, else korrin-<uid> in the temporary folder. A link in its
// place is never followed.
TEST_F(ZipTest, WorkFoldersAreMadeInAPrivateFolderOfThisUser) {
    installTool("pkzip", "#!/bin/sh\necho \"$1\" > '" + dir_.file("where") + "'\nexec '" +
                             test::SourceDir() + "/resources/tools/pkzip' \"$@\"\n");
    const std::string runtime = dir_.file("run");
    const std::string elsewhere = dir_.file("elsewhere");
    std::filesystem::create_directory(runtime);
    std::filesystem::create_directory(elsewhere);
    struct Case {
        const char* what;
        std::optional<std::string> xdgRuntime;
        std::string privateFolder;  // "" when packing must fail
    } cases[] = {
        {"runtime folder", runtime, runtime + "/korrin"},
        {"temporary folder", std::nullopt, work_},
        {"open to others", std::nullopt, work_},
        {"a link", std::nullopt, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(work_);
        std::filesystem::remove(dir_.file("where"));
        if (std::string(c.what) == "open to others") {
            std::filesystem::create_directory(work_);
            ::chmod(work_.c_str(), 0777);
        } else if (std::string(c.what) == "a link") {
            std::filesystem::create_directory_symlink(elsewhere, work_);
        }
        ScopedEnv env("XDG_RUNTIME_DIR", c.xdgRuntime);
        const std::string wave = files_.file("V7P.wav");
        WriteFile(wave, SampleWave());
        const DWORD before = directoryCounter();
        if (c.privateFolder.empty()) {
            EXPECT_EQ(ZipFileInPlace(wave), 1);
            EXPECT_TRUE(std::filesystem::is_empty(elsewhere));
            EXPECT_TRUE(std::filesystem::is_symlink(work_));
            EXPECT_EQ(JsonField(log().back(), "text"), "CreateDirectory failed");
            continue;
        }
        ASSERT_EQ(ZipFileInPlace(wave), 0);
        EXPECT_EQ(ReadFile(dir_.file("where")),
                  c.privateFolder + "/" + std::to_string(before + 1) + "/file.tmp\n");
        struct stat st {};
        ASSERT_EQ(::lstat(c.privateFolder.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        EXPECT_TRUE(std::filesystem::is_empty(c.privateFolder)) << "work folder left";
    }
}

TEST_F(ZipTest, AMissingToolIsNamedAndNothingIsWaitedFor) {
    const std::string wave = files_.file("V1P.wav");
    WriteFile(wave, SampleWave());
    std::filesystem::remove(tools_ + "/pkunzip");
    std::string path;
    EXPECT_FALSE(LocateZipTool(kPkunzipExe, path));
    EXPECT_EQ(path, tools_ + "/pkunzip");
    EXPECT_TRUE(LocateZipTool(kPkzipExe, path));

    const auto start = Clock::now();
    EXPECT_EQ(UnzipFileInPlace(wave), 1);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    EXPECT_TRUE(ReadFile(wave) == SampleWave()) << "wave changed";
    std::filesystem::remove(tools_ + "/pkzip");
    EXPECT_EQ(ZipFileInPlace(wave), 1);
    EXPECT_TRUE(ReadFile(wave) == SampleWave()) << "wave changed";
    EXPECT_TRUE(workFoldersGone());

    const auto lines = log();
    ASSERT_EQ(lines.size(), 2u);
    for (const auto& line : lines) {
        EXPECT_EQ(JsonField(line, "kind"), "messagebox");
        EXPECT_EQ(JsonField(line, "icon"), "stop");
        EXPECT_EQ(JsonField(line, "source"), "Utils");
        EXPECT_EQ(JsonField(line, "text"), CEventReport::PlainBoxText(ZipToolsMissingText()));
    }
    EXPECT_NE(ZipToolsMissingText().find("download them from http://"), std::string::npos);
}

TEST_F(ZipTest, AnArchiveWithoutAWaveFileStaysAsItWas) {
    WriteFile(files_.file("readme.txt"), "no sound in here");
    const std::string kx1 = files_.file("KX4O.zip");
    ASSERT_EQ(ZipFileInPlace(files_.file("readme.txt")), 0);
    std::filesystem::rename(files_.file("readme.txt"), kx1);
    const std::string archive = ReadFile(kx1);

    // A work folder left over under the next number, with a wave file in it, is not used.
    const std::string stale = work_ + "/" + std::to_string(directoryCounter() + 1);
    std::filesystem::create_directories(stale);
    WriteFile(stale + "/planted.wav", "not ours");

    EXPECT_EQ(UnzipFileInPlace(kx1), 1);
    EXPECT_TRUE(ReadFile(kx1) == archive) << "kx1 changed";
    EXPECT_EQ(ReadFile(stale + "/planted.wav"), "not ours");
    std::filesystem::remove_all(stale);
    EXPECT_TRUE(workFoldersGone()) << "the unpacked readme goes with the work folder";
    EXPECT_TRUE(log().empty());
}

TEST_F(ZipTest, ToolsThatHangOrFailCannotHoldTheCallerOrSpoilTheFile) {
    const std::string wave = files_.file("V9P.wav");
    WriteFile(wave, SampleWave());
    ASSERT_EQ(ZipFileInPlace(wave), 0);
    const std::string good = ReadFile(wave);
    const std::string pidFile = dir_.file("pid");
    auto toolGone = [&] {
        const std::string pid = ReadFile(pidFile);
        return !pid.empty() && ::access(("/proc/" + pid).c_str(), F_OK) != 0;
    };

    // Never makes anything: given up after the output polls, and killed.
    installTool("pkunzip", "#!/bin/sh\nprintf $$ > '" + pidFile + "'\nexec sleep 300\n");
    const auto start = Clock::now();
    EXPECT_EQ(zipdetail::UnzipFileInPlace(wave, quick_), 1);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(toolGone());

    // Makes its wave file but never finishes it.
    installTool("pkunzip",
                "#!/bin/sh\nprintf $$ > '" + pidFile + "'\necho partial > x.wav\nexec sleep 300\n");
    EXPECT_EQ(zipdetail::UnzipFileInPlace(wave, quick_), 2);
    EXPECT_TRUE(toolGone());
    EXPECT_TRUE(ReadFile(wave) == good) << "wave changed";

    // A damaged archive: the real tool writes the wave file, then fails on its checksum.
    installTool("pkunzip", ReadFile(test::SourceDir() + "/resources/tools/pkunzip"));
    std::string damaged = good;
    damaged[14] ^= 0x55;  // the checksum, in the local header and in the central directory
    damaged[Le(good, good.size() - 6, 4) + 16] ^= 0x55;
    WriteFile(wave, damaged);
    EXPECT_EQ(UnzipFileInPlace(wave), 2);
    EXPECT_TRUE(ReadFile(wave) == damaged) << "wave changed";
    EXPECT_TRUE(workFoldersGone());

    // A packer that ends without an archive.
    WriteFile(wave, good);
    installTool("pkzip", "#!/bin/sh\nexit 0\n");
    EXPECT_EQ(zipdetail::ZipFileInPlace(wave, quick_), 1);
    EXPECT_TRUE(ReadFile(wave) == good) << "wave changed";
    ASSERT_EQ(log().size(), 1u);
    EXPECT_EQ(JsonField(log()[0], "text"), "_open file failed");
    EXPECT_EQ(JsonField(log()[0], "source"), "Utils");
    EXPECT_TRUE(workFoldersGone());
}

TEST_F(ZipTest, UnpackingFindsTheWaveWhateverItsCaseOrFolder) {
    std::filesystem::create_directory(files_.file("msgs"));
    WriteFile(files_.file("msgs/V2P.WAV"), SampleWave());
    const std::string kx1 = files_.file("V2.kx1");
    ASSERT_EQ(std::system(("cd '" + files_.path() + "' && zip -q -r V2.kx1 msgs").c_str()), 0);
    EXPECT_EQ(UnzipFileInPlace(kx1), 0);
    EXPECT_TRUE(ReadFile(kx1) == SampleWave()) << "kx1 changed";
    EXPECT_TRUE(workFoldersGone());
}

TEST_F(ZipTest, FailuresBeforeTheToolRunsAreReported) {
    EXPECT_EQ(UnzipFileInPlace(files_.file("absent.kx1")), 1);
    {
        ScopedEnv noTemp("TMPDIR", dir_.file("no such folder"));
        EXPECT_EQ(ZipFileInPlace(files_.file("absent.wav")), 1);
    }
    const auto lines = log();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(JsonField(lines[0], "text"), "CopyFile failed");
    EXPECT_EQ(JsonField(lines[1], "text"), "No temp path exists");
    EXPECT_EQ(JsonField(lines[1], "kind"), "report");
    EXPECT_EQ(JsonField(lines[1], "source"), "Utils");
    EXPECT_TRUE(workFoldersGone());
}

}  // namespace
