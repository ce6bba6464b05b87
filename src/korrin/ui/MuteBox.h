// The window half of the mute control: item 1036 of a window, and the mixer's notification
// turned into a queued MM_MIXM_CONTROL_CHANGE window message for that window. The window
// answers that message by calling MuteControl::Refresh (after moving its volume slider).
#pragma once

#include <QWidget>

#include "korrin/audio/Mixer.h"

namespace korrin {

constexpr int kMuteBoxId = 1036;

class MuteBox : public MuteOwner {
  public:
    // window receives the messages (a platform::CDialog answers them in OnMessage) and must
    // outlive the MuteControl this box is given to.
    explicit MuteBox(QWidget* window) : window_(window) {}

    void HideMuteBox() override;
    void SetMuteCheck(bool checked) override;
    void PostMixerMessage(unsigned msg, std::uintptr_t mixer, std::uintptr_t control) override;

    // The box's click: its new check state to SetMute.
    void OnClicked(MuteControl& control);

  private:
    QWidget* const window_;  // set once, read from the mixer thread too
};

}  // namespace korrin
