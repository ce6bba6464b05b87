// The real sound paths: PortAudio's default devices and the ALSA mixer of the default card.
// A machine without a sound card skips these with a message saying so.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "helpers/TestSupport.h"
#include "helpers/WaveSupport.h"
#include "platform/mci/AudioBackend.h"
#include "platform/mci/Mci.h"
#include "platform/mixer/Mixer.h"

namespace {

using namespace korrin::platform;
using korrin::test::ScopedEnv;
using korrin::test::SegmentAudio;
using korrin::test::TempDir;

std::unique_ptr<AudioBackend> makePortAudio() {
    for (const auto& e : AudioBackends())
        if (std::strcmp(e.name, "portaudio") == 0)
            return e.make();
    ADD_FAILURE() << "the PortAudio back end is not built in";
    return nullptr;
}

// Plays 0.5 s of silence and records at the same time; true when both ran.
void playAndRecord(AudioBackend& backend) {
    const PcmFormat f{1, 8000, 8};
    std::atomic<std::size_t> pulled{0}, pushed{0};
    AudioStartResult r;
    auto play = backend.StartPlayback(
        f,
        [&](std::uint8_t* out, std::size_t frames) -> std::size_t {
            const std::size_t n = std::min<std::size_t>(frames, 4000 - pulled);
            std::memset(out, 0x80, n);
            pulled += n;
            return n;
        },
        {}, r);
    if (r == AudioStartResult::kBusy)
        GTEST_SKIP() << "the sound card is in use by another program";
    ASSERT_TRUE(play) << int(r);
    auto record = backend.StartCapture(
        f, [&](const std::uint8_t*, std::size_t frames) { pushed += frames; }, r);
    ASSERT_TRUE(record) << int(r);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while ((pulled < 4000 || pushed < 800) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    play.reset();
    record.reset();
    EXPECT_EQ(pulled, 4000u);
    EXPECT_GE(pushed, 800u);
}

TEST(SoundDevice, PortAudioPlaysAndRecordsThroughTheDefaultDevices) {
    auto backend = makePortAudio();
    if (!backend)
        GTEST_SKIP() << "no sound device: PortAudio finds no default input or output device "
                        "on this machine";
    playAndRecord(*backend);
}

// ALSA's null device stands in for a sound card: PortAudio then really opens streams, runs
// its callbacks and closes them, under the MCI device; what it plays is dropped and what it
// records is silence.
TEST(SoundDevice, MciRunsOverPortAudioOnAnAlsaNullDevice) {
    TempDir home;
    korrin::test::WriteFile(home.file(".asoundrc"), "pcm.!default { type null }\n");
    ScopedEnv h{"HOME", home.path()};
    ScopedEnv audio{"KORRIN_AUDIO", "portaudio"};
    if (!makePortAudio())
        GTEST_SKIP() << "no sound device: PortAudio does not open ALSA's null device here";
    const PcmFormat f{1, 8000, 8};
    korrin::test::WriteWave(home.file("a.wav"), f, SegmentAudio(f, {{300, 0x80}}));
    MCI_OPEN_PARMS open;
    open.lpstrElementName = home.file("a.wav");
    ASSERT_EQ(mciSendCommand(0, MCI_OPEN, MCI_OPEN_ELEMENT, &open), 0u);
    ASSERT_EQ(MciBackendName(), "portaudio");
    MCI_PLAY_PARMS play;
    EXPECT_EQ(mciSendCommand(open.wDeviceID, MCI_PLAY, MCI_WAIT, &play), 0u);
    MCI_STATUS_PARMS status;
    status.dwItem = MCI_STATUS_POSITION;
    mciSendCommand(open.wDeviceID, MCI_STATUS, MCI_STATUS_ITEM, &status);
    EXPECT_EQ(status.dwReturn, 300u);
    MCI_RECORD_PARMS rec;
    ASSERT_EQ(mciSendCommand(open.wDeviceID, MCI_RECORD, 0, &rec), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    mciSendCommand(open.wDeviceID, MCI_STOP, 0, static_cast<MCI_GENERIC_PARMS*>(nullptr));
    status.dwItem = MCI_STATUS_LENGTH;
    mciSendCommand(open.wDeviceID, MCI_STATUS, MCI_STATUS_ITEM, &status);
    EXPECT_GT(status.dwReturn, 300u);
    mciSendCommand(open.wDeviceID, MCI_CLOSE, 0, static_cast<MCI_GENERIC_PARMS*>(nullptr));
}

TEST(SoundDevice, AlsaMixerShowsTheMasterElementAsVolumeControl) {
    ScopedEnv mixer{"KORRIN_MIXER", "alsa"};
    ASSERT_EQ(MixerBackendName(), "alsa");
    if (mixerGetNumDevs() == 0)
        GTEST_SKIP() << "no sound device: the default ALSA card has no mixer with a playback "
                        "volume on this machine";
    HMIXER h = nullptr;
    ASSERT_EQ(mixerOpen(&h, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    MIXERLINE line;
    line.dwDestination = 0;
    ASSERT_EQ(mixerGetLineInfo(h, &line, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_NOERROR);
    EXPECT_STREQ(line.szName, "Volume Control");
    // Put the volume back exactly as it was.
    DWORD volume = 0;
    ASSERT_EQ(waveOutGetVolume(0, &volume), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutSetVolume(0, volume), MMSYSERR_NOERROR);
    DWORD again = 0;
    ASSERT_EQ(waveOutGetVolume(0, &again), MMSYSERR_NOERROR);
    EXPECT_NEAR(double(again & 0xFFFF), double(volume & 0xFFFF), 0xFFFF / 100.0);
    EXPECT_EQ(mixerClose(h), MMSYSERR_NOERROR);
}

}  // namespace
