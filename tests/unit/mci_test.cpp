// The recorder's wave device on the virtual sound back end: real time, capture from a file.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "helpers/TestSupport.h"
#include "helpers/WaveSupport.h"
#include "korrin/audio/Mci.h"
#include "platform/Endian.h"
#include "platform/mci/AudioBackend.h"

namespace {

using namespace korrin;
using namespace korrin::platform;
using korrin::test::JsonField;
using korrin::test::ReadLines;
using korrin::test::ReadWave;
using korrin::test::ScopedEnv;
using korrin::test::SegmentAudio;
using korrin::test::TempDir;
using korrin::test::WriteWave;
using Clock = std::chrono::steady_clock;

const PcmFormat kLocal{1, 8000, 8};

class MciTest : public ::testing::Test {
  protected:
    TempDir dir_;
    ScopedEnv audio_{"KORRIN_AUDIO", "virtual"};
    ScopedEnv capture_{"KORRIN_AUDIO_CAPTURE", dir_.file("capture.wav")};
    ScopedEnv log_{"KORRIN_MESSAGE_LOG", dir_.file("log")};
    ScopedEnv answers_{"KORRIN_MESSAGE_ANSWERS", ""};

    void SetUp() override {
        // Old audio: 2 s of 0x40 then 2 s of 0xC0. Capture: 3 s of 0x10.
        WriteWave(file(), kLocal, SegmentAudio(kLocal, {{2000, 0x40}, {2000, 0xC0}}));
        WriteWave(dir_.file("capture.wav"), kLocal, SegmentAudio(kLocal, {{3000, 0x10}}));
    }
    std::string file() const { return dir_.file("work.wav"); }
    std::vector<std::string> log() const { return ReadLines(dir_.file("log")); }

    // Waits until the device's position reaches ms (or 5 s pass).
    static void waitForPosition(MciDevice& d, DWORD ms) {
        const auto until = Clock::now() + std::chrono::seconds(5);
        while (d.GetPosition() < ms && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
};

TEST_F(MciTest, RecordingIntoTheMiddleInsertsAndMovesTheTailBack) {
    MciDevice d;
    ASSERT_EQ(d.Open(file()), 0u);
    ASSERT_EQ(d.GetLength(0), 4000u);
    ASSERT_EQ(d.Record(2000), 0u);
    waitForPosition(d, 4000);
    d.Stop();
    const DWORD length = d.GetLength(0);
    EXPECT_GE(length, 6000u);
    EXPECT_LT(length, 6100u);
    ASSERT_EQ(d.Save(file()), 0u);
    d.Close();

    const auto image = ReadWave(file());
    ASSERT_GE(image.data.size(), 32000u);
    const std::size_t recorded = image.data.size() - 32000;
    EXPECT_EQ(length, 4000 + recorded / 8);  // 8 frames a millisecond, the last one partly
    for (std::size_t i = 0; i < image.data.size(); ++i) {
        const std::uint8_t want = i < 16000 ? 0x40 : i < 16000 + recorded ? 0x10 : 0xC0;
        ASSERT_EQ(image.data[i], want) << "byte " << i;
    }
    EXPECT_TRUE(log().empty());
}

TEST_F(MciTest, RecordingPastTheCaptureFileGoesOnInSilence) {
    WriteWave(dir_.file("capture.wav"), kLocal, SegmentAudio(kLocal, {{100, 0x10}}));
    MciDevice d;
    ASSERT_EQ(d.Open(file()), 0u);
    ASSERT_EQ(d.Record(4000), 0u);
    waitForPosition(d, 4300);
    d.Stop();
    d.Save(file());
    const auto image = ReadWave(file());
    ASSERT_GE(image.data.size(), 32000u + 2400u);
    EXPECT_EQ(image.data[32000], 0x10);
    EXPECT_EQ(image.data[32000 + 800], 0x80);  // 8-bit silence
}

TEST_F(MciTest, GetLengthLeavesThePositionWhereTheCallerSaid) {
    MciDevice d;
    ASSERT_EQ(d.Open(file()), 0u);
    ASSERT_EQ(d.Seek(1500), 0u);
    EXPECT_EQ(d.GetLength(1500), 4000u);
    EXPECT_EQ(d.GetPosition(), 1500u);
    EXPECT_EQ(d.GetLength(250), 4000u);
    EXPECT_EQ(d.GetPosition(), 250u);
}

TEST_F(MciTest, DeleteAfterSeekingToTheStartEmptiesTheFile) {
    MciDevice d;
    ASSERT_EQ(d.Open(file()), 0u);
    ASSERT_EQ(d.Seek(0), 0u);
    EXPECT_EQ(d.Delete(), 0u);
    EXPECT_EQ(d.GetLength(0), 0u);
    ASSERT_EQ(d.Save(file()), 0u);
    d.Close();
    EXPECT_TRUE(ReadWave(file()).data.empty());
    // An empty recording opens again and can be recorded into.
    ASSERT_EQ(d.Open(file()), 0u);
    EXPECT_EQ(d.GetLength(0), 0u);
}

TEST_F(MciTest, DeleteCutsFromThePositionToTheEnd) {
    MciDevice d;
    ASSERT_EQ(d.Open(file()), 0u);
    ASSERT_EQ(d.Seek(1000), 0u);
    EXPECT_EQ(d.Delete(), 0u);
    EXPECT_EQ(d.GetLength(0), 1000u);
}

TEST_F(MciTest, PlayRunsInRealTimeToTheEnd) {
    WriteWave(file(), kLocal, SegmentAudio(kLocal, {{600, 0x40}}));
    MciDevice d;
    ASSERT_EQ(d.Open(file()), 0u);
    const auto start = Clock::now();
    ASSERT_EQ(d.Play(), 0u);
    EXPECT_LT(d.GetPosition(), 300u) << "play must return at once";
    waitForPosition(d, 600);
    const auto took = Clock::now() - start;
    EXPECT_EQ(d.GetPosition(), 600u);
    EXPECT_GE(took, std::chrono::milliseconds(500));
    EXPECT_LT(took, std::chrono::milliseconds(2000));
}

TEST_F(MciTest, CloseStopsARunningPlayback) {
    MciDevice d;
    ASSERT_EQ(d.Open(file()), 0u);
    ASSERT_EQ(d.Play(), 0u);
    waitForPosition(d, 100);
    EXPECT_LT(d.GetPosition(), 4000u);
    d.Close();
    EXPECT_FALSE(d.IsOpen());
    EXPECT_EQ(d.GetPosition(), 0u);
    EXPECT_EQ(d.Play(), 1u);
}

TEST_F(MciTest, StopHoldsThePosition) {
    MciDevice d;
    ASSERT_EQ(d.Open(file()), 0u);
    ASSERT_EQ(d.Play(), 0u);
    waitForPosition(d, 100);
    d.Stop();
    const DWORD at = d.GetPosition();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(d.GetPosition(), at);
    EXPECT_GE(at, 100u);
}

TEST_F(MciTest, SaveWritesAFileSoxReadsWithTheRightLength) {
    if (system("command -v soxi >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "soxi (package sox) is not installed";
    MciDevice d;
    ASSERT_EQ(d.Open(file()), 0u);
    ASSERT_EQ(d.Seek(2500), 0u);
    ASSERT_EQ(d.Delete(), 0u);
    const std::string out = dir_.file("saved copy.wav");
    ASSERT_EQ(d.Save(out), 0u);
    const auto r = korrin::test::Run({"/bin/sh", "-c", "soxi -D \"$0\"; soxi -r \"$0\"", out});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "2.500000\n8000\n");
}

TEST_F(MciTest, EveryOperationOnAClosedDeviceReturnsItsValueWithoutReporting) {
    MciDevice d;
    d.Close();
    d.Stop();
    EXPECT_EQ(d.Play(), 1u);
    EXPECT_EQ(d.Record(0), 1u);
    EXPECT_EQ(d.Seek(0), 1u);
    EXPECT_EQ(d.GetPosition(), 0u);
    EXPECT_EQ(d.GetLength(0), 0xFFFFFFFFu);
    EXPECT_EQ(d.Delete(), 1u);
    EXPECT_TRUE(log().empty());
    // Save is sent anyway, and MCI refuses it.
    EXPECT_EQ(d.Save(dir_.file("x.wav")), MCIERR_INVALID_DEVICE_ID);
    const auto l = log();
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(JsonField(l[0], "source"), "Mci");
    EXPECT_EQ(JsonField(l[0], "line"), "253");
    EXPECT_EQ(JsonField(l[0], "text"),
              "MCI ERROR:257,The device identifier is not that of an open device.,Mci,253");
}

TEST_F(MciTest, AFileThatCannotBeOpenedIsReportedAndLeavesTheDeviceClosed) {
    MciDevice d;
    EXPECT_EQ(d.Open(dir_.file("missing.wav")), MCIERR_FILE_NOT_FOUND);
    EXPECT_FALSE(d.IsOpen());
    d.Close();
    const auto l = log();
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(JsonField(l[0], "kind"), "report");
    EXPECT_EQ(JsonField(l[0], "line"), "39");
    EXPECT_EQ(JsonField(l[0], "text"),
              "MCI ERROR:275,The file cannot be found or cannot be read.,Mci,39");

    korrin::test::WriteFile(dir_.file("text.wav"), "not a wave file");
    EXPECT_EQ(d.Open(dir_.file("text.wav")), MCIERR_INVALID_FILE);
    EXPECT_EQ(d.Open(dir_.file("work.mp3")), MCIERR_EXTENSION_NOT_FOUND);
    EXPECT_FALSE(d.IsOpen());
}

TEST_F(MciTest, SeekingPastTheEndIsReportedAndKeepsThePosition) {
    MciDevice d;
    ASSERT_EQ(d.Open(file()), 0u);
    ASSERT_EQ(d.Seek(1000), 0u);
    EXPECT_EQ(d.Seek(4001), MCIERR_OUTOFRANGE);
    EXPECT_EQ(d.GetPosition(), 1000u);
    const auto l = log();
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(JsonField(l[0], "line"), "90");
}

TEST_F(MciTest, ErrorTextFallsBackToUnknownError) {
    EXPECT_EQ(MciDevice::ErrorText(12345, 61), "MCI ERROR:12345,Unknown error,Mci,61");
}

// A received message in GSM 6.10: its audio is decoded on open and plays for its real
// length; saved unchanged it stays GSM, once cut it is saved as PCM.
TEST_F(MciTest, AGsmRecordingPlaysForItsRealLength) {
    const auto original = korrin::test::GsmWave(1000);
    ASSERT_EQ(original.size(), 48u + 1625u + 1u);  // headers, 25 blocks of 320 samples, pad
    ReplaceFile(dir_.file("gsm.wav"), original);

    MciDevice d;
    ASSERT_EQ(d.Open(dir_.file("gsm.wav")), 0u);
    EXPECT_EQ(d.GetLength(0), 1000u);
    const auto start = Clock::now();
    ASSERT_EQ(d.Play(), 0u);
    waitForPosition(d, 1000);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(900));
    ASSERT_EQ(d.Save(dir_.file("same.wav")), 0u);
    std::vector<std::uint8_t> saved;
    ReadWholeFile(dir_.file("same.wav"), saved);
    EXPECT_EQ(saved, original);
    ASSERT_EQ(d.Seek(500), 0u);
    ASSERT_EQ(d.Delete(), 0u);
    ASSERT_EQ(d.Save(dir_.file("cut.wav")), 0u);
    const auto cut = ReadWave(dir_.file("cut.wav"));
    EXPECT_EQ(cut.format, ToWaveFormat(PcmFormat{1, 8000, 16}));
    EXPECT_EQ(cut.data.size(), 8000u);
    EXPECT_TRUE(log().empty());
}

// A sound card held by another program.
class BusyBackend : public AudioBackend {
  public:
    std::string name() const override { return "busy"; }
    std::unique_ptr<AudioStream> StartPlayback(const PcmFormat&, AudioPull, AudioDone,
                                               AudioStartResult& r) override {
        r = AudioStartResult::kBusy;
        return nullptr;
    }
    std::unique_ptr<AudioStream> StartCapture(const PcmFormat&, AudioPush,
                                              AudioStartResult& r) override {
        r = AudioStartResult::kBusy;
        return nullptr;
    }
};

TEST_F(MciTest, ABusySoundCardFailsPlayWithABoxAndRecordWithAReport) {
    static bool registered = false;
    if (!registered) {
        RegisterAudioBackend(
            {"busy", -1,
             [] { return std::unique_ptr<AudioBackend>(std::make_unique<BusyBackend>()); }});
        registered = true;
    }
    ScopedEnv busy{"KORRIN_AUDIO", "busy"};
    MciDevice d;
    ASSERT_EQ(d.Open(file()), 0u);
    EXPECT_EQ(d.Play(), MCIERR_WAVE_OUTPUTSINUSE);
    EXPECT_EQ(d.Record(1000), MCIERR_WAVE_INPUTSINUSE);
    // Nothing was inserted and the position is where the record started.
    EXPECT_EQ(d.GetLength(0), 4000u);
    const auto l = log();
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(JsonField(l[0], "kind"), "messagebox");
    EXPECT_EQ(JsonField(l[0], "icon"), "stop");
    EXPECT_EQ(JsonField(l[0], "text").rfind("The Sound Card is in use by another application.", 0),
              0u);
    EXPECT_EQ(JsonField(l[1], "kind"), "report");
    EXPECT_EQ(JsonField(l[1], "line"), "179");
}

// A sound card with a queue: it takes frames up to 300 ms ahead of what it plays, hears them
// in real time, and is told the end only once the queue has run out. Or one that stalls:
// after 200 ms it stops calling back for good.
class QueueStream : public AudioStream {
  public:
    QueueStream(PcmFormat f, AudioPull pull, AudioDone done, bool stall, std::atomic<long>* heard)
        : thread_([=, this] {
              const std::size_t ahead = f.samplesPerSec * 3 / 10, tick = f.samplesPerSec / 100;
              std::vector<std::uint8_t> buffer(ahead * f.blockAlign());
              std::size_t queued = pull(buffer.data(), ahead);
              bool ended = queued < ahead;
              for (int t = 0; !stop_; ++t) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(10));
                  if (stall && t >= 20)
                      continue;
                  const std::size_t n = std::min(tick, queued);
                  queued -= n;
                  *heard += long(n);
                  if (!ended) {
                      const std::size_t got = pull(buffer.data(), n);
                      queued += got;
                      ended = got < n;
                  }
                  if (ended && queued == 0) {
                      done();
                      return;
                  }
              }
          }) {}
    ~QueueStream() override {
        stop_ = true;
        thread_.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class QueueBackend : public AudioBackend {
  public:
    explicit QueueBackend(bool stall) : stall_(stall) {}
    std::string name() const override { return stall_ ? "stalling" : "queueing"; }
    std::unique_ptr<AudioStream> StartPlayback(const PcmFormat& f, AudioPull pull, AudioDone done,
                                               AudioStartResult& r) override {
        r = AudioStartResult::kOk;
        heard = 0;
        return std::make_unique<QueueStream>(f, std::move(pull), std::move(done), stall_, &heard);
    }
    std::unique_ptr<AudioStream> StartCapture(const PcmFormat&, AudioPush,
                                              AudioStartResult& r) override {
        r = AudioStartResult::kFailed;
        return nullptr;
    }
    static inline std::atomic<long> heard{0};

  private:
    bool stall_;
};

TEST_F(MciTest, PlayingToTheEndDrainsTheQueueAndAStalledDeviceIsReported) {
    static bool registered = false;
    if (!registered) {
        RegisterAudioBackend(
            {"queueing", -1,
             [] { return std::unique_ptr<AudioBackend>(std::make_unique<QueueBackend>(false)); }});
        RegisterAudioBackend(
            {"stalling", -1,
             [] { return std::unique_ptr<AudioBackend>(std::make_unique<QueueBackend>(true)); }});
        registered = true;
    }
    WriteWave(file(), kLocal, SegmentAudio(kLocal, {{600, 0x40}}));
    {
        // Every frame is heard before the play counts as over: the tail is not cut.
        ScopedEnv queueing{"KORRIN_AUDIO", "queueing"};
        MciDevice d;
        ASSERT_EQ(d.Open(file()), 0u);
        ASSERT_EQ(d.PlayToEnd(), 0u);
        EXPECT_EQ(QueueBackend::heard.load(), 4800);
    }
    {
        // A device that stops calling back ends the wait after the audio's length and a
        // margin, with a report.
        ScopedEnv stalling{"KORRIN_AUDIO", "stalling"};
        MciDevice d;
        ASSERT_EQ(d.Open(file()), 0u);
        const auto start = Clock::now();
        EXPECT_EQ(d.PlayToEnd(), MCIERR_DEVICE_STALLED);
        const auto took = Clock::now() - start;
        EXPECT_GE(took, PlayBound(600) - std::chrono::milliseconds(50));
        EXPECT_LT(took, PlayBound(600) + std::chrono::seconds(1));
        EXPECT_LT(QueueBackend::heard.load(), 4800);
        const auto l = log();
        ASSERT_EQ(l.size(), 1u);
        EXPECT_EQ(JsonField(l[0], "kind"), "report");
        EXPECT_NE(JsonField(l[0], "text").find("The sound device stopped before the end"),
                  std::string::npos);
    }
}

}  // namespace
