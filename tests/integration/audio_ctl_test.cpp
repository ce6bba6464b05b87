// korrinctl record and play, run as the built program on the virtual sound device.
#include <gtest/gtest.h>

#include <chrono>
#include <map>

#include "helpers/TestSupport.h"
#include "helpers/WaveSupport.h"
#include "korrin/store/Trailer.h"
#include "platform/Endian.h"

namespace {

using namespace korrin::platform;
using korrin::test::BuildDir;
using korrin::test::ReadWave;
using korrin::test::RunResult;
using korrin::test::SegmentAudio;
using korrin::test::TempDir;
using korrin::test::WriteWave;

// A message trailer as the store writes it, with the given layout revision.
std::vector<std::uint8_t> messageTrailer(std::uint32_t revision) {
    korrin::CMessageTrailer t;
    t.senderName = "Anna";
    t.subject = "Hello";
    t.date.wYear = 2026;
    t.date.wMonth = 12;
    t.date.wDay = 8;
    auto bytes = t.Serialize();
    StoreLE32(bytes.data() + bytes.size() - 4, revision);
    return bytes;
}

class AudioCtlTest : public ::testing::Test {
  protected:
    TempDir dir_;
    RunResult ctl(const std::vector<std::string>& args,
                  std::map<std::string, std::string> env = {}) {
        std::vector<std::string> argv{BuildDir() + "/korrinctl"};
        argv.insert(argv.end(), args.begin(), args.end());
        env["KORRIN_AUDIO"] = "virtual";
        env["KORRIN_AUDIO_CAPTURE"] = dir_.file("capture.wav");
        env["KORRIN_REGISTRY"] = dir_.file("registry.db");
        return korrin::test::Run(argv, env);
    }
};

TEST_F(AudioCtlTest, RecordTakesExactlyTheSecondsAskedFor) {
    const PcmFormat f{1, 8000, 8};
    WriteWave(dir_.file("capture.wav"), f, SegmentAudio(f, {{3000, 0x30}}));
    const auto r = ctl({"record", dir_.file("out.wav"), "--seconds", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "recorded 1.00 s into " + dir_.file("out.wav") + "\n");
    const auto image = ReadWave(dir_.file("out.wav"));
    EXPECT_EQ(image.format, ToWaveFormat(f));
    ASSERT_EQ(image.data.size(), 8000u);
    EXPECT_EQ(image.data.front(), 0x30);
    EXPECT_EQ(image.data.back(), 0x30);
}

TEST_F(AudioCtlTest, RecordInTheLocalFormatOfTheSettings) {
    // PCM 11,025 Hz, 16 bit, stereo as the local format.
    auto set = ctl({"reg", "set", "HKLM\\SOFTWARE\\Quillion\\Korrin", "Wave Format", "REG_BINARY",
                    "01,00,02,00,11,2b,00,00,44,ac,00,00,04,00,10,00,00,00"});
    ASSERT_EQ(set.exitCode, 0) << set.err;
    const auto r = ctl({"record", dir_.file("out.wav"), "--seconds", "1", "--format", "local"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto image = ReadWave(dir_.file("out.wav"));
    EXPECT_EQ(image.format, ToWaveFormat(PcmFormat{2, 11025, 16}));
    EXPECT_EQ(image.data.size(), 44100u);

    set = ctl({"reg", "set", "HKLM\\SOFTWARE\\Quillion\\Korrin", "Wave Format", "REG_BINARY",
               "31,00,01,00,40,1f,00,00,59,06,00,00,41,00,00,00,02,00,40,01"});
    ASSERT_EQ(set.exitCode, 0) << set.err;
    const auto gsm = ctl({"record", dir_.file("out.wav"), "--seconds", "1", "--format", "local"});
    EXPECT_EQ(gsm.exitCode, 3);
    EXPECT_NE(gsm.err.find("not PCM"), std::string::npos);
}

TEST_F(AudioCtlTest, RecordRefusesBadArguments) {
    EXPECT_EQ(ctl({"record", dir_.file("out.wav")}).exitCode, 2);
    EXPECT_EQ(ctl({"record", dir_.file("out.wav"), "--seconds", "0"}).exitCode, 2);
    EXPECT_EQ(ctl({"record", dir_.file("out.wav"), "--seconds", "2x"}).exitCode, 2);
    EXPECT_EQ(ctl({"record", dir_.file("out.au"), "--seconds", "1"}).exitCode, 2);
    EXPECT_EQ(ctl({"record", dir_.file("out.wav"), "--seconds", "1", "--format", "gsm"}).exitCode,
              2);
}

TEST_F(AudioCtlTest, PlaysTheAudioOfAMessageFileForItsLength) {
    const PcmFormat f{1, 8000, 8};
    const auto data = SegmentAudio(f, {{700, 0x50}});
    auto file = SerializeWave(ToWaveFormat(f), data.data(), data.size());
    const auto trailer = messageTrailer(2);
    file.insert(file.end(), trailer.begin(), trailer.end());
    ReplaceFile(dir_.file("KX7S.KX0"), file);

    const auto start = std::chrono::steady_clock::now();
    const auto r = ctl({"play", dir_.file("KX7S.KX0")});
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "played 0.70 s of " + dir_.file("KX7S.KX0") + "\n");
    EXPECT_GE(took, std::chrono::milliseconds(650));
}

TEST_F(AudioCtlTest, PlaysAGsmMessageForItsRealLength) {
    auto file = korrin::test::GsmWave(1200);
    ASSERT_FALSE(file.empty());
    const auto trailer = messageTrailer(2);
    file.insert(file.end(), trailer.begin(), trailer.end());
    ReplaceFile(dir_.file("KX8S.KX0"), file);
    const auto start = std::chrono::steady_clock::now();
    const auto r = ctl({"play", dir_.file("KX8S.KX0")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "played 1.20 s of " + dir_.file("KX8S.KX0") + "\n");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1100));
}

// play reads the message file as show does: a newer layout revision that show reads (after
// the newer-version question) plays too.
TEST_F(AudioCtlTest, PlaysAMessageOfANewerRevisionAsShowReadsIt) {
    const PcmFormat f{1, 8000, 8};
    const auto data = SegmentAudio(f, {{300, 0x50}});
    auto file = SerializeWave(ToWaveFormat(f), data.data(), data.size());
    const auto trailer = messageTrailer(3);
    file.insert(file.end(), trailer.begin(), trailer.end());
    ReplaceFile(dir_.file("KX9S.KX0"), file);
    const std::map<std::string, std::string> answer{{"KORRIN_MESSAGE_ANSWERS", "Continue"}};
    const auto show = ctl({"show", dir_.file("KX9S.KX0")}, answer);
    ASSERT_EQ(show.exitCode, 0) << show.err;
    const auto r = ctl({"play", dir_.file("KX9S.KX0")}, answer);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "played 0.30 s of " + dir_.file("KX9S.KX0") + "\n");
}

TEST_F(AudioCtlTest, PlayRefusesWhatItCannotPlay) {
    korrin::test::WriteFile(dir_.file("a.kx1"), std::string("PK\x03\x04 archive", 12));
    auto r = ctl({"play", dir_.file("a.kx1")});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("zipped"), std::string::npos);
    korrin::test::WriteFile(dir_.file("notes.txt"), "hello");
    EXPECT_EQ(ctl({"play", dir_.file("notes.txt")}).exitCode, 3);
    r = ctl({"play", dir_.file("missing.wav")});
    EXPECT_EQ(r.exitCode, 3);
    // The report of the device, then the command's own line.
    EXPECT_NE(r.err.find("MCI ERROR:275,The file cannot be found or cannot be read.,Mci,39,Mci:39"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("cannot open " + dir_.file("missing.wav") +
                         ": The file cannot be found or cannot be read."),
              std::string::npos);
}

}  // namespace
