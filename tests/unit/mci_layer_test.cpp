// The MCI commands themselves: time formats, ranges, flags the device refuses, and the
// format a recording keeps.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "helpers/TestSupport.h"
#include "helpers/WaveSupport.h"
#include "platform/mci/Mci.h"

namespace {

using namespace korrin::platform;
using korrin::test::ReadWave;
using korrin::test::ScopedEnv;
using korrin::test::SegmentAudio;
using korrin::test::TempDir;
using korrin::test::WriteWave;

class MciLayerTest : public ::testing::Test {
  protected:
    TempDir dir_;
    ScopedEnv audio_{"KORRIN_AUDIO", "virtual"};
    ScopedEnv capture_{"KORRIN_AUDIO_CAPTURE", std::nullopt};
    MCIDEVICEID id_ = 0;

    void open(const std::string& path, DWORD flags = MCI_OPEN_ELEMENT | MCI_WAIT) {
        MCI_OPEN_PARMS p;
        p.lpstrElementName = path;
        p.lpstrDeviceType = "WaveAudio";
        ASSERT_EQ(mciSendCommand(0, MCI_OPEN, flags, &p), 0u);
        id_ = p.wDeviceID;
        ASSERT_NE(id_, 0u);
    }
    void TearDown() override {
        if (id_)
            mciSendCommand(id_, MCI_CLOSE, MCI_WAIT, static_cast<MCI_GENERIC_PARMS*>(nullptr));
    }
    std::uintptr_t status(DWORD item) {
        MCI_STATUS_PARMS s;
        s.dwItem = item;
        EXPECT_EQ(mciSendCommand(id_, MCI_STATUS, MCI_STATUS_ITEM | MCI_WAIT, &s), 0u);
        return s.dwReturn;
    }
};

TEST_F(MciLayerTest, TimeFormatsCountFramesBytesAndMilliseconds) {
    const PcmFormat stereo16{2, 11025, 16};
    WriteWave(dir_.file("a.wav"), stereo16, SegmentAudio(stereo16, {{1000, 1}}));
    open(dir_.file("a.wav"));
    EXPECT_EQ(status(MCI_STATUS_LENGTH), 1000u);
    MCI_SET_PARMS set;
    set.dwTimeFormat = MCI_FORMAT_SAMPLES;
    ASSERT_EQ(mciSendCommand(id_, MCI_SET, MCI_SET_TIME_FORMAT, &set), 0u);
    EXPECT_EQ(status(MCI_STATUS_LENGTH), 11025u);
    set.dwTimeFormat = MCI_FORMAT_BYTES;
    ASSERT_EQ(mciSendCommand(id_, MCI_SET, MCI_SET_TIME_FORMAT, &set), 0u);
    EXPECT_EQ(status(MCI_STATUS_LENGTH), 44100u);
    set.dwTimeFormat = 3;  // frames of video: not for wave audio
    EXPECT_EQ(mciSendCommand(id_, MCI_SET, MCI_SET_TIME_FORMAT, &set), MCIERR_BAD_TIME_FORMAT);
}

TEST_F(MciLayerTest, DeleteTakesARangeAndRefusesOneOutside) {
    const PcmFormat f{1, 8000, 8};
    WriteWave(dir_.file("a.wav"), f, SegmentAudio(f, {{100, 1}, {100, 2}, {100, 3}}));
    open(dir_.file("a.wav"));
    MCI_WAVE_DELETE_PARMS del;
    del.dwFrom = 100;
    del.dwTo = 200;
    ASSERT_EQ(mciSendCommand(id_, MCI_DELETE, MCI_FROM | MCI_TO, &del), 0u);
    EXPECT_EQ(status(MCI_STATUS_LENGTH), 200u);
    del.dwTo = 201;
    EXPECT_EQ(mciSendCommand(id_, MCI_DELETE, MCI_FROM | MCI_TO, &del), MCIERR_OUTOFRANGE);
    MCI_SAVE_PARMS save;
    save.lpfilename = dir_.file("b.wav");
    ASSERT_EQ(mciSendCommand(id_, MCI_SAVE, MCI_SAVE_FILE | MCI_WAIT, &save), 0u);
    const auto image = ReadWave(save.lpfilename);
    ASSERT_EQ(image.data.size(), 1600u);
    EXPECT_EQ(image.data[799], 1);
    EXPECT_EQ(image.data[800], 3);
}

TEST_F(MciLayerTest, PlayWithWaitReturnsAtTheEndOfTheRange) {
    const PcmFormat f{1, 8000, 8};
    WriteWave(dir_.file("a.wav"), f, SegmentAudio(f, {{1000, 1}}));
    open(dir_.file("a.wav"));
    MCI_PLAY_PARMS play;
    play.dwFrom = 700;
    play.dwTo = 900;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(mciSendCommand(id_, MCI_PLAY, MCI_FROM | MCI_TO | MCI_WAIT, &play), 0u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
    EXPECT_EQ(status(MCI_STATUS_POSITION), 900u);
    EXPECT_EQ(status(MCI_STATUS_MODE), MCI_MODE_STOP);
}

TEST_F(MciLayerTest, AStopFromAnotherThreadEndsAPlayThatWaits) {
    const PcmFormat f{1, 8000, 8};
    WriteWave(dir_.file("a.wav"), f, SegmentAudio(f, {{5000, 1}}));
    open(dir_.file("a.wav"));
    std::thread stopper([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        mciSendCommand(id_, MCI_STOP, MCI_WAIT, static_cast<MCI_GENERIC_PARMS*>(nullptr));
    });
    MCI_PLAY_PARMS play;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(mciSendCommand(id_, MCI_PLAY, MCI_WAIT, &play), 0u);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    const auto at = status(MCI_STATUS_POSITION);
    EXPECT_GE(at, 150u);
    EXPECT_LT(at, 2000u);
}

TEST_F(MciLayerTest, RecordingKeepsTheFilesFormatWhateverTheCaptureFileHas) {
    // Capture in 16-bit stereo at 16 kHz, recording into 8-bit mono at 8 kHz.
    const PcmFormat capture{2, 16000, 16};
    std::vector<std::uint8_t> loud;
    for (int i = 0; i < 16000; ++i)
        for (int c = 0; c < 2; ++c) {
            loud.push_back(0x00);
            loud.push_back(0x40);  // +0.5 of full scale
        }
    WriteWave(dir_.file("capture.wav"), capture, loud);
    ScopedEnv from{"KORRIN_AUDIO_CAPTURE", dir_.file("capture.wav")};
    const PcmFormat local{1, 8000, 8};
    WriteWave(dir_.file("a.wav"), local, {});
    open(dir_.file("a.wav"));
    ASSERT_EQ(mciSendCommand(id_, MCI_RECORD, 0, static_cast<MCI_RECORD_PARMS*>(nullptr)), 0u);
    EXPECT_EQ(status(MCI_STATUS_MODE), MCI_MODE_RECORD);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(mciSendCommand(id_, MCI_STOP, MCI_WAIT, static_cast<MCI_GENERIC_PARMS*>(nullptr)),
              0u);
    MCI_SAVE_PARMS save;
    save.lpfilename = dir_.file("a.wav");
    ASSERT_EQ(mciSendCommand(id_, MCI_SAVE, MCI_SAVE_FILE, &save), 0u);
    const auto image = ReadWave(save.lpfilename);
    EXPECT_EQ(image.format, ToWaveFormat(local));
    ASSERT_GE(image.data.size(), 2000u);
    // The rate change is band-limited: the first milliseconds ring from the step out of
    // silence; after them the level is the capture's.
    EXPECT_EQ(image.data[200], 0x80 + 0x40);
    EXPECT_EQ(image.data[1999], 0x80 + 0x40);
}

TEST_F(MciLayerTest, TheVirtualDeviceRecordsFromACompressedCaptureFile) {
    ReplaceFile(dir_.file("capture.wav"), korrin::test::GsmWave(400));
    ScopedEnv from{"KORRIN_AUDIO_CAPTURE", dir_.file("capture.wav")};
    const PcmFormat local{1, 8000, 8};
    WriteWave(dir_.file("a.wav"), local, {});
    open(dir_.file("a.wav"));
    ASSERT_EQ(mciSendCommand(id_, MCI_RECORD, 0, static_cast<MCI_RECORD_PARMS*>(nullptr)), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    mciSendCommand(id_, MCI_STOP, MCI_WAIT, static_cast<MCI_GENERIC_PARMS*>(nullptr));
    MCI_SAVE_PARMS save;
    save.lpfilename = dir_.file("a.wav");
    ASSERT_EQ(mciSendCommand(id_, MCI_SAVE, MCI_SAVE_FILE, &save), 0u);
    const auto image = ReadWave(save.lpfilename);
    ASSERT_GE(image.data.size(), 2000u);
    // The tone, not the silence of a capture that failed.
    int loud = 0;
    for (std::size_t i = 400; i < 2000; ++i)
        loud += std::abs(int(image.data[i]) - 0x80) > 16;
    EXPECT_GT(loud, 400);
}

TEST_F(MciLayerTest, RefusesWhatItCannotDo) {
    const PcmFormat f{1, 8000, 8};
    WriteWave(dir_.file("a.wav"), f, SegmentAudio(f, {{100, 1}}));
    MCI_OPEN_PARMS p;
    p.lpstrElementName = dir_.file("a.wav");
    p.lpstrDeviceType = "cdaudio";
    EXPECT_EQ(mciSendCommand(0, MCI_OPEN, MCI_OPEN_ELEMENT | MCI_OPEN_TYPE, &p),
              MCIERR_INVALID_DEVICE_NAME);
    EXPECT_EQ(p.wDeviceID, 0u);
    open(dir_.file("a.wav"));
    MCI_PLAY_PARMS play;
    EXPECT_EQ(mciSendCommand(id_, MCI_PLAY, MCI_NOTIFY, &play), MCIERR_UNSUPPORTED_FUNCTION);
    MCI_SEEK_PARMS seek;
    EXPECT_EQ(mciSendCommand(id_, MCI_SEEK, 0, &seek), MCIERR_MISSING_PARAMETER);
    EXPECT_EQ(mciSendCommand(id_, MCI_SEEK, MCI_TO | MCI_SEEK_TO_END, &seek),
              MCIERR_FLAGS_NOT_COMPATIBLE);
    EXPECT_EQ(mciSendCommand(id_, MCI_PLAY, 0, &seek), MCIERR_UNRECOGNIZED_COMMAND);
    MCI_RECORD_PARMS rec;
    EXPECT_EQ(mciSendCommand(id_, MCI_RECORD, MCI_RECORD_OVERWRITE, &rec),
              MCIERR_UNSUPPORTED_FUNCTION);
    MCI_SAVE_PARMS save;
    EXPECT_EQ(mciSendCommand(id_, MCI_SAVE, MCI_SAVE_FILE, &save), MCIERR_FILENAME_REQUIRED);
    save.lpfilename = dir_.file("no such folder/a.wav");
    EXPECT_EQ(mciSendCommand(id_, MCI_SAVE, MCI_SAVE_FILE, &save), MCIERR_FILE_NOT_SAVED);
    std::string text;
    EXPECT_FALSE(mciGetErrorString(1, text));
    EXPECT_TRUE(mciGetErrorString(MCIERR_FILE_NOT_SAVED, text, 10));
    EXPECT_EQ(text.size(), 9u);
}

TEST_F(MciLayerTest, AFileInAFormatNoDecoderTakesIsRefused) {
    // MPEG layer 3 (tag 0x55): no driver of the compression manager decodes it.
    WaveFormat mp3;
    mp3.formatTag = 0x55;
    mp3.channels = 1;
    mp3.samplesPerSec = 8000;
    mp3.avgBytesPerSec = 1000;
    mp3.blockAlign = 1;
    mp3.extra = {12, 0, 1, 0, 2, 0, 0, 0, 0x90, 0, 1, 0, 0x71, 5};
    const std::vector<std::uint8_t> frames(100, 0);
    ReplaceFile(dir_.file("m.wav"), SerializeWave(mp3, frames.data(), frames.size()));
    MCI_OPEN_PARMS p;
    p.lpstrElementName = dir_.file("m.wav");
    EXPECT_EQ(mciSendCommand(0, MCI_OPEN, MCI_OPEN_ELEMENT, &p), MCIERR_WAVE_OUTPUTSUNSUITABLE);
    EXPECT_EQ(p.wDeviceID, 0u);
}

TEST_F(MciLayerTest, AnUnusableBackEndFallsBackToTheVirtualOneAndSaysSoOnce) {
    const PcmFormat f{1, 8000, 8};
    WriteWave(dir_.file("a.wav"), f, SegmentAudio(f, {{100, 1}}));
    ScopedEnv none{"KORRIN_AUDIO", "no-such-device"};
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 2; ++i) {
        MCI_OPEN_PARMS p;
        p.lpstrElementName = dir_.file("a.wav");
        ASSERT_EQ(mciSendCommand(0, MCI_OPEN, MCI_OPEN_ELEMENT, &p), 0u);
        EXPECT_EQ(MciBackendName(), "virtual");
        mciSendCommand(p.wDeviceID, MCI_CLOSE, 0, static_cast<MCI_GENERIC_PARMS*>(nullptr));
    }
    const std::string said = ::testing::internal::GetCapturedStderr();
    const std::string line =
        "the sound back end 'no-such-device' is not available; using the "
        "virtual sound device";
    const auto first = said.find(line);
    ASSERT_NE(first, std::string::npos) << said;
    EXPECT_EQ(said.find(line, first + 1), std::string::npos) << said;
}

}  // namespace
