// The settings routines and counters over a real registry database.
#include <gtest/gtest.h>

#include "helpers/TestSupport.h"
#include "korrin/app/Defaults.h"
#include "korrin/app/Utils.h"
#include "platform/files/Files.h"
#include "platform/registry/Registry.h"

using namespace korrin;
using namespace korrin::platform;
using korrin::test::JsonField;
using korrin::test::ReadLines;
using korrin::test::ScopedEnv;

namespace {

class UtilsTest : public korrin::test::RegistryTest {
  protected:
    void SetUp() override {
        RegKeyGuard key;
        ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, key.out()), ERROR_SUCCESS);
    }
    std::string logPath() const { return dir_.file("messages.log"); }
    ScopedEnv log_{"KORRIN_MESSAGE_LOG", dir_.file("messages.log")};
    ScopedEnv answers_{"KORRIN_MESSAGE_ANSWERS", ""};
    CUtils utils_;
};

TEST_F(UtilsTest, DefaultsApplyWhileValuesAreMissing) {
    EXPECT_EQ(utils_.GetSettingDword(setting::kOutBoxMinutes), 3u);
    EXPECT_EQ(utils_.GetSettingDword(setting::kTransport), 1u);
    EXPECT_EQ(utils_.GetSettingDword(setting::kAddressBook), 1u);
    EXPECT_EQ(utils_.GetSettingDword(setting::kQuality), 1u);
    EXPECT_EQ(utils_.GetSettingDword(setting::kEmptyDeleted), 0u);
    EXPECT_EQ(utils_.GetSettingString(setting::kOpenPath), "*.kx0;*.kx1");
    EXPECT_EQ(utils_.GetSettingString(setting::kSaveAsPath), "*.wav");
    EXPECT_EQ(utils_.GetSettingString(setting::kSmtpHost), "");
    EXPECT_EQ(utils_.GetSettingString(setting::kFormatDetailsTransport), "GSM 6.10 8,000 Hz, Mono");
    {
        ScopedEnv home("HOME", "/home/someone");
        EXPECT_EQ(utils_.GetSettingString(setting::kAolPath), "/home/someone/MyAOLFiles/KORRIN.%s");
    }
    // Reading a missing value is not a failure worth telling anyone about.
    EXPECT_TRUE(ReadLines(logPath()).empty());

    // Only Compression stores its default when it finds the value missing.
    DWORD stored = 99;
    EXPECT_EQ(utils_.GetRegistryDword(kKorrinKey, setting::kOutBoxMinutes, stored), 0);
    EXPECT_EQ(utils_.GetSettingDword(setting::kCompression), 1u);
    EXPECT_EQ(utils_.GetRegistryDword(kKorrinKey, setting::kCompression, stored), 1);
    EXPECT_EQ(stored, 1u);
}

TEST_F(UtilsTest, DefaultFormatsAreTheWaveFormatStructures) {
    const std::vector<std::uint8_t> pcm = {1,    0, 1, 0, 0x40, 0x1f, 0, 0, 0x40,
                                           0x1f, 0, 0, 1, 0,    8,    0, 0, 0};
    const std::vector<std::uint8_t> gsm = {49, 0, 1,  0, 0x40, 0x1f, 0, 0, 0x59, 0x06,
                                           0,  0, 65, 0, 0,    0,    2, 0, 0x40, 0x01};
    EXPECT_EQ(utils_.GetSettingBinary(setting::kWaveFormat), pcm);
    EXPECT_EQ(utils_.GetSettingBinary(setting::kWaveFormatTransport), gsm);
    EXPECT_FALSE(FindSettingDefault("Revision")->hasDefault);
    EXPECT_EQ(FindSettingDefault("outbox minutes"), FindSettingDefault(setting::kOutBoxMinutes));
    EXPECT_EQ(FindSettingDefault("No Such Setting"), nullptr);
}

TEST_F(UtilsTest, StringsAndDwordsRoundTrip) {
    ASSERT_EQ(utils_.SetRegistryString(kKorrinKey, setting::kSmtpHost, "mail.example.org"), 1);
    std::string text = "junk";
    EXPECT_EQ(utils_.GetRegistryString(kKorrinKey, setting::kSmtpHost, text, 260), 1);
    EXPECT_EQ(text, "mail.example.org");

    // Stored without a terminating zero, as the Windows-era files expect.
    RegKeyGuard key;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, key.out()), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueEx(key.get(), setting::kSmtpHost, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 16u);

    // A text that leaves no room for its terminating zero in the caller's buffer is unreadable.
    EXPECT_EQ(utils_.GetRegistryString(kKorrinKey, setting::kSmtpHost, text, 16), 0);
    EXPECT_EQ(text, "");
    EXPECT_EQ(utils_.GetRegistryString(kKorrinKey, setting::kSmtpHost, text, 17), 1);

    ASSERT_EQ(utils_.SetRegistryDword(kKorrinKey, setting::kOutBoxMinutes, 0), 1);
    EXPECT_EQ(utils_.GetSettingDword(setting::kOutBoxMinutes), 0u);

    // A value of the wrong size or type counts as missing and leaves the out value alone.
    const std::uint8_t two[2] = {5, 0};
    ASSERT_EQ(RegSetValueEx(key.get(), setting::kQuality, REG_DWORD, two, 2), ERROR_SUCCESS);
    DWORD out = 77;
    EXPECT_EQ(utils_.GetRegistryDword(kKorrinKey, setting::kQuality, out), 0);
    EXPECT_EQ(out, 77u);
    EXPECT_EQ(utils_.GetRegistryString(kKorrinKey, setting::kOutBoxMinutes, text, 260), 0);
}

TEST_F(UtilsTest, MissingKeyIsReportedOncePerCall) {
    ASSERT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, kKorrinKey), ERROR_SUCCESS);
    EXPECT_EQ(utils_.GetSettingDword(setting::kOutBoxMinutes), 3u);
    std::string text;
    EXPECT_EQ(utils_.GetRegistryString(kKorrinKey, setting::kName, text, 260), 0);
    DWORD id = 0;
    EXPECT_EQ(utils_.NextFileID(id), 1);

    auto lines = ReadLines(logPath());
    ASSERT_EQ(lines.size(), 3u);
    // Each report carries the line of the routine that failed.
    EXPECT_NE(JsonField(lines[0], "line"), JsonField(lines[1], "line"));
    EXPECT_NE(JsonField(lines[1], "line"), JsonField(lines[2], "line"));
    for (const auto& line : lines) {
        EXPECT_EQ(JsonField(line, "kind"), "report");
        EXPECT_EQ(JsonField(line, "text"), "RegOpenKeyEx failed");
        EXPECT_EQ(JsonField(line, "source"), "Utils");
        EXPECT_EQ(JsonField(line, "caption"), "Quillion - Unexpected Event");
        EXPECT_EQ(JsonField(line, "answer"), "OK");
    }
}

TEST_F(UtilsTest, FileIdCountsFromOneAndWrapsAfterTenMillion) {
    DWORD id = 0;
    ASSERT_EQ(utils_.NextFileID(id), 0);
    EXPECT_EQ(id, 1u);
    DWORD stored = 0;
    ASSERT_EQ(utils_.GetRegistryDword(kKorrinKey, setting::kFileId, stored), 1);
    EXPECT_EQ(stored, 1u);

    utils_.SetRegistryDword(kKorrinKey, setting::kFileId, 9999999);
    ASSERT_EQ(utils_.NextFileID(id), 0);
    EXPECT_EQ(id, 10000000u);
    ASSERT_EQ(utils_.NextFileID(id), 0);
    EXPECT_EQ(id, 1u);
    ASSERT_EQ(utils_.NextFileID(id), 0);
    EXPECT_EQ(id, 2u);

    // A stored value at or past the limit (set by hand, or damaged) starts again at 1.
    for (DWORD stored : {10000000u, 12000000u, 0xFFFFFFFFu}) {
        utils_.SetRegistryDword(kKorrinKey, setting::kFileId, stored);
        ASSERT_EQ(utils_.NextFileID(id), 0);
        EXPECT_EQ(id, 1u) << stored;
    }
}

TEST_F(UtilsTest, StringThatCannotFitItsBufferIsUnreadable) {
    ASSERT_EQ(utils_.SetRegistryString(kKorrinKey, setting::kName, "Ann"), 1);
    std::string text = "old";
    EXPECT_EQ(utils_.GetRegistryString(kKorrinKey, setting::kName, text, 0), 0);
    EXPECT_EQ(text, "");
    EXPECT_EQ(utils_.GetRegistryString(kKorrinKey, setting::kName, text, 3), 0);
    EXPECT_EQ(utils_.GetRegistryString(kKorrinKey, setting::kName, text, 4), 1);
    EXPECT_EQ(text, "Ann");
}

TEST_F(UtilsTest, UniqueDirectoriesAreNumberedFromOne) {
    const std::string prefix = dir_.path() + "/";
    std::string path;
    EXPECT_EQ(utils_.MakeUniqueDirectory(path, prefix), 0);
    EXPECT_EQ(path, prefix + "1");
    EXPECT_TRUE(DirectoryExists(path));
    EXPECT_EQ(utils_.MakeUniqueDirectory(path, prefix), 0);
    EXPECT_EQ(path, prefix + "2");

    // A folder that is already there is not taken over: the call fails but still names it.
    ASSERT_TRUE(CreateDirectory(prefix + "3"));
    EXPECT_EQ(utils_.MakeUniqueDirectory(path, prefix), 1);
    EXPECT_EQ(path, prefix + "3");
    DWORD counter = 0;
    ASSERT_EQ(utils_.GetRegistryDword(kKorrinKey, setting::kDirectory, counter), 1);
    EXPECT_EQ(counter, 3u);
}

}  // namespace
