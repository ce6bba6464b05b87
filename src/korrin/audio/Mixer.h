// The recorder window's Mute check box (item 1036) kept in step with the mute switch of the
// first mixer's destination "Volume Control", and the wave output volume behind its volume
// slider.
//
// MuteControl finds the switch once (Init), sets it when the user clicks the box (SetMute)
// and re-reads it when the mixer says a control changed (Refresh), also when another
// program changed it. The first failure turns mute off for good: the box is hidden at once
// during Init, otherwise at the next mixer notification.
//
// Threads: every call on the user-interface thread. The mixer's notification arrives on a
// thread of the mixer layer and goes to the owner's PostMixerMessage, which must queue it to
// the window; the window answers MM_MIXM_CONTROL_CHANGE by calling Refresh.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/mixer/Mixer.h"

namespace korrin {

// The window side of the mute box.
class MuteOwner {
  public:
    virtual ~MuteOwner() = default;
    virtual void HideMuteBox() = 0;               // hides item 1036
    virtual void SetMuteCheck(bool checked) = 0;  // checks or clears item 1036
    // Any thread: queue msg for the window (never handle it before returning).
    virtual void PostMixerMessage(unsigned msg, std::uintptr_t mixer, std::uintptr_t control) = 0;
};

class MuteControl {
  public:
    MuteControl() = default;
    ~MuteControl();  // closes the mixer; no notification comes after it
    MuteControl(const MuteControl&) = delete;
    MuteControl& operator=(const MuteControl&) = delete;

    void Init(MuteOwner* owner);
    // checked = mute. true when the switch was set.
    bool SetMute(bool mute);
    void Refresh();

    bool available() const { return available_; }

  private:
    bool getMuteControlId();
    void showState();
    static void mixerProc(platform::HMIXER mixer, platform::UINT msg, platform::DWORD_PTR instance,
                          platform::DWORD_PTR param1, platform::DWORD_PTR param2);

    bool available_ = true;
    platform::HMIXER mixer_ = nullptr;
    MuteOwner* owner_ = nullptr;
    platform::DWORD muteControlId_ = 0;
    platform::MIXERLINE line_;
};

// The volume slider (0 at the top .. 10) over wave output device 0, whose volume is the
// right channel of waveOutGetVolume. With checkCaps the device must first say it has a
// volume (as when the window opens); nullopt when there is none or it cannot be read.
std::optional<int> ReadVolumeSlider(bool checkCaps);
// Both channels to slider value s (0 .. 10).
void SetVolumeFromSlider(int s);

}  // namespace korrin
