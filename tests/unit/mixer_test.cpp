// The mute control and the volume slider over the virtual mixer, and the mixer calls they
// are made of.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "helpers/TestSupport.h"
#include "korrin/audio/Mixer.h"
#include "platform/mixer/Mixer.h"
#include "platform/mixer/VirtualMixer.h"

namespace {

using namespace korrin;
using namespace korrin::platform;
namespace vm = korrin::platform::virtualmixer;
using korrin::test::JsonField;
using korrin::test::ReadLines;
using korrin::test::ScopedEnv;
using korrin::test::TempDir;

// The window side, with the mixer's messages kept in a queue as a window's would be.
class FakeOwner : public MuteOwner {
  public:
    void HideMuteBox() override { ++hidden; }
    void SetMuteCheck(bool checked) override { check = checked ? 1 : 0; }
    void PostMixerMessage(unsigned msg, std::uintptr_t, std::uintptr_t control) override {
        std::lock_guard lock(mutex);
        posted.emplace_back(msg, control);
    }
    std::vector<std::pair<unsigned, std::uintptr_t>> takePosted() {
        std::lock_guard lock(mutex);
        return std::exchange(posted, {});
    }
    int hidden = 0;
    int check = -1;  // -1: never set
    std::mutex mutex;
    std::vector<std::pair<unsigned, std::uintptr_t>> posted;  // guarded by mutex
};

class MixerTest : public ::testing::Test {
  protected:
    TempDir dir_;
    ScopedEnv mixer_{"KORRIN_MIXER", "virtual"};
    ScopedEnv log_{"KORRIN_MESSAGE_LOG", dir_.file("log")};
    ScopedEnv answers_{"KORRIN_MESSAGE_ANSWERS", ""};
    FakeOwner owner_;

    void SetUp() override {
        vm::Configure(vm::DefaultDevices());
        vm::SetFailing(false);
    }
    void TearDown() override {
        vm::SetFailing(false);
        vm::Configure(vm::DefaultDevices());
    }
    std::vector<std::string> log() const { return ReadLines(dir_.file("log")); }
    static vm::Control mute(const char* name = "Mute") {
        return {name, MIXERCONTROL_CONTROLTYPE_MUTE, 0, 1, {0}};
    }
    static vm::Control volume() {
        return {"Volume", MIXERCONTROL_CONTROLTYPE_VOLUME, 0, 65535, {32768}};
    }
};

TEST_F(MixerTest, AMachineWithoutAMixerSaysSoOnceAndHidesTheBox) {
    vm::Configure({});
    MuteControl mute;
    mute.Init(&owner_);
    EXPECT_FALSE(mute.available());
    EXPECT_EQ(owner_.hidden, 1);
    EXPECT_EQ(owner_.check, -1);
    const auto l = log();
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(JsonField(l[0], "kind"), "messagebox");
    EXPECT_EQ(JsonField(l[0], "icon"), "stop");
    EXPECT_EQ(JsonField(l[0], "text")
                  .rfind("A sound card mixer is not found. Mute will not be available.", 0),
              0u);
    mute.Refresh();
    EXPECT_EQ(owner_.hidden, 2);
    EXPECT_EQ(log().size(), 1u);
}

TEST_F(MixerTest, AMixerWithoutVolumeControlHidesTheBoxSilently) {
    vm::Configure(
        {{"Card", {{"Master Volume", 2, {volume(), mute()}}, {"volume control", 2, {mute()}}}}});
    MuteControl mute;
    mute.Init(&owner_);
    EXPECT_FALSE(mute.available());
    EXPECT_EQ(owner_.hidden, 1);
    EXPECT_TRUE(log().empty());
}

TEST_F(MixerTest, ShowsTheSwitchAndSetsIt) {
    vm::SetControl(0, "Volume Control", "Mute", 1);
    MuteControl mute;
    mute.Init(&owner_);
    ASSERT_TRUE(mute.available());
    EXPECT_EQ(owner_.check, 1);
    EXPECT_EQ(owner_.hidden, 0);
    EXPECT_TRUE(mute.SetMute(false));
    long v = -1;
    ASSERT_TRUE(vm::GetControl(0, "Volume Control", "Mute", v));
    EXPECT_EQ(v, 0);
    EXPECT_TRUE(log().empty());
}

TEST_F(MixerTest, AChangeByAnotherProgramReachesTheWindowAndRefreshesTheBox) {
    MuteControl mute;
    mute.Init(&owner_);
    ASSERT_EQ(owner_.check, 0);
    std::thread other([] { vm::SetControl(0, "Volume Control", "Mute", 1); });
    other.join();
    auto posted = owner_.takePosted();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].first, MM_MIXM_CONTROL_CHANGE);
    EXPECT_EQ(owner_.check, 0) << "the box changes only when the window handles the message";
    mute.Refresh();
    EXPECT_EQ(owner_.check, 1);
}

TEST_F(MixerTest, TheFirstControlNamedMuteIsTheSwitch) {
    vm::Configure({{"Card", {{"Volume Control", 2, {volume(), mute("Mute A"), mute("Mute B")}}}}});
    vm::SetControl(0, "Volume Control", "Mute B", 1);
    MuteControl mute;
    mute.Init(&owner_);
    EXPECT_EQ(owner_.check, 0);
    ASSERT_TRUE(mute.SetMute(true));
    long a = 0, b = 0;
    vm::GetControl(0, "Volume Control", "Mute A", a);
    vm::GetControl(0, "Volume Control", "Mute B", b);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 1);
}

TEST_F(MixerTest, ALineWithoutAMuteSwitchIsReported) {
    vm::Configure({{"Card", {{"Volume Control", 2, {volume()}}}}});
    MuteControl mute;
    mute.Init(&owner_);
    EXPECT_FALSE(mute.available());
    EXPECT_EQ(owner_.hidden, 1);
    const auto l = log();
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(JsonField(l[0], "text"), "GetMuteControlID failed. Mute will not be available.");
    EXPECT_EQ(JsonField(l[0], "source"), "Mixer");
    EXPECT_EQ(JsonField(l[0], "line"), "66");

    vm::Configure({{"Card", {{"Volume Control", 2, {}}}}});
    MuteControl bare;
    bare.Init(&owner_);
    const auto l2 = log();
    ASSERT_EQ(l2.size(), 3u);
    EXPECT_EQ(JsonField(l2[1], "text"), "no contorls");
    EXPECT_EQ(JsonField(l2[1], "line"), "180");
    EXPECT_EQ(JsonField(l2[2], "line"), "66");
}

TEST_F(MixerTest, AFailingSwitchTurnsMuteOffUntilTheNextNotificationHidesTheBox) {
    MuteControl mute;
    mute.Init(&owner_);
    ASSERT_TRUE(mute.available());
    vm::SetFailing(true);
    EXPECT_FALSE(mute.SetMute(true));
    EXPECT_FALSE(mute.available());
    EXPECT_EQ(owner_.hidden, 0);
    vm::SetFailing(false);
    mute.Refresh();
    EXPECT_EQ(owner_.hidden, 1);
    const auto l = log();
    ASSERT_GE(l.size(), 1u);
    EXPECT_EQ(JsonField(l[0], "text"), "mixerGetControlDetails failed");
    EXPECT_EQ(JsonField(l[0], "line"), "248");

    MuteControl second;
    second.Init(&owner_);
    vm::SetFailing(true);
    second.Refresh();
    EXPECT_FALSE(second.available());
    EXPECT_EQ(JsonField(log().back(), "line"), "285");
}

TEST_F(MixerTest, NoNotificationArrivesAfterTheControlIsGone) {
    {
        MuteControl mute;
        mute.Init(&owner_);
    }
    vm::SetControl(0, "Volume Control", "Mute", 1);
    EXPECT_TRUE(owner_.takePosted().empty());
}

TEST_F(MixerTest, TheVolumeSliderFollowsTheRightChannelInTenSteps) {
    ASSERT_TRUE(vm::SetControl(0, "Volume Control", "Volume", 49152));
    EXPECT_EQ(ReadVolumeSlider(true), 8);  // 49152 * 10 / 65535 = 7.5 -> 8
    SetVolumeFromSlider(3);                // 19660.5 -> 19661
    long v = 0;
    vm::GetControl(0, "Volume Control", "Volume", v);
    EXPECT_EQ(v, 19661);
    EXPECT_EQ(ReadVolumeSlider(false), 3);
    DWORD both = 0;
    ASSERT_EQ(waveOutGetVolume(0, &both), MMSYSERR_NOERROR);
    EXPECT_EQ(both, 19661u | 19661u << 16);

    // Without a volume on the output the slider is left alone.
    vm::Configure({{"Card", {{"Volume Control", 2, {mute()}}}}});
    EXPECT_EQ(ReadVolumeSlider(true), std::nullopt);
    vm::Configure({});
    EXPECT_EQ(ReadVolumeSlider(true), std::nullopt);
    EXPECT_EQ(waveOutGetNumDevs(), 0u);
}

TEST_F(MixerTest, TheMixerCallsCheckWhatTheyAreGiven) {
    HMIXER h = nullptr;
    ASSERT_EQ(mixerOpen(&h, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    // A failing open clears the handle it is given: the open one is closed first, or it
    // would be lost.
    EXPECT_EQ(mixerClose(h), MMSYSERR_NOERROR);
    EXPECT_EQ(mixerOpen(&h, 1, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(h, nullptr);
    ASSERT_EQ(mixerOpen(&h, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    MIXERLINE line;
    line.dwDestination = 1;
    EXPECT_EQ(mixerGetLineInfo(h, &line, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_INVALPARAM);
    line.dwDestination = 0;
    ASSERT_EQ(mixerGetLineInfo(h, &line, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_NOERROR);
    EXPECT_STREQ(line.szName, "Volume Control");
    EXPECT_EQ(line.cControls, 2u);
    MIXERCONTROL one[1];
    MIXERLINECONTROLS lc;
    lc.dwLineID = line.dwLineID;
    lc.cControls = 1;  // fewer than the line has
    lc.pamxctrl = one;
    EXPECT_EQ(mixerGetLineControls(h, &lc, MIXER_GETLINECONTROLSF_ALL), MMSYSERR_INVALPARAM);
    lc.dwControlType = MIXERCONTROL_CONTROLTYPE_MUTE;
    ASSERT_EQ(mixerGetLineControls(h, &lc, MIXER_GETLINECONTROLSF_ONEBYTYPE), MMSYSERR_NOERROR);
    MIXERCONTROLDETAILS_BOOLEAN value{5};
    MIXERCONTROLDETAILS d;
    d.dwControlID = one[0].dwControlID;
    d.cChannels = 1;
    d.cbDetails = sizeof value;
    d.paDetails = &value;
    EXPECT_EQ(mixerSetControlDetails(h, &d, 0), MMSYSERR_NOERROR) << "any non-zero is on";
    d.cbDetails = 8;
    EXPECT_EQ(mixerGetControlDetails(h, &d, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(mixerClose(h), MMSYSERR_NOERROR);
    EXPECT_EQ(mixerClose(h), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(mixerGetLineInfo(h, &line, 0), MMSYSERR_INVALHANDLE);
}

}  // namespace
