#include "korrin/audio/Mixer.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "korrin/app/EventReport.h"

namespace korrin {

using namespace platform;

namespace {

constexpr const char* kSource = "Mixer";
constexpr const char* kVolumeControl = "Volume Control";

void report(const char* text, int line) {
    CEventReport().Report(text, kSource, line);
}

}  // namespace

MuteControl::~MuteControl() {
    if (mixer_)
        mixerClose(mixer_);
}

void MuteControl::mixerProc(HMIXER mixer, UINT msg, DWORD_PTR instance, DWORD_PTR param1,
                            DWORD_PTR) {
    auto* self = reinterpret_cast<MuteControl*>(instance);
    self->owner_->PostMixerMessage(msg, reinterpret_cast<std::uintptr_t>(mixer), param1);
}

void MuteControl::Init(MuteOwner* owner) {
    if (mixer_) {
        mixerClose(mixer_);
        mixer_ = nullptr;
    }
    owner_ = owner;
    available_ = true;

    // Without any mixer the user hears about it once; the steps below would only repeat it.
    if (mixerGetNumDevs() == 0) {
        CEventReport().ShowError("A sound card mixer is not found. Mute will not be available.");
        available_ = false;
    } else {
        MIXERCAPS caps;
        if (mixerGetDevCaps(0, &caps, sizeof caps) != MMSYSERR_NOERROR) {
            report("mixerGetDevCaps failed", 90);
            available_ = false;
        }
        if (mixerOpen(&mixer_, 0, reinterpret_cast<DWORD_PTR>(&MuteControl::mixerProc),
                      reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION) != MMSYSERR_NOERROR) {
            report("mixerOpen failed", 99);
            available_ = false;
            mixer_ = nullptr;
        }
        if (!mixer_) {
            CEventReport().ShowError("Cannot find mixer device.");
            available_ = false;
        }
    }

    // The master line: the first destination named exactly "Volume Control".
    bool haveLine = false;
    if (mixer_ && available_) {
        MIXERCAPS caps;
        if (mixerGetDevCaps(reinterpret_cast<DWORD_PTR>(mixer_), &caps, sizeof caps) !=
            MMSYSERR_NOERROR) {
            report("mixerGetDevCaps failed", 132);
            available_ = false;
        } else {
            for (DWORD i = 0; i < caps.cDestinations; ++i) {
                line_ = MIXERLINE{};
                line_.cbStruct = sizeof(MIXERLINE);
                line_.dwDestination = i;
                if (mixerGetLineInfo(mixer_, &line_, MIXER_GETLINEINFOF_DESTINATION) !=
                    MMSYSERR_NOERROR) {
                    report("mixerGetLineInfo failed", 146);
                    available_ = false;
                    break;
                }
                if (std::strcmp(line_.szName, kVolumeControl) == 0) {
                    haveLine = true;
                    break;
                }
            }
            if (!haveLine)
                available_ = false;
        }
    }

    if (haveLine && !getMuteControlId()) {
        report("GetMuteControlID failed. Mute will not be available.", 66);
        available_ = false;
    }

    if (available_)
        showState();
    else if (owner_)
        owner_->HideMuteBox();
}

bool MuteControl::getMuteControlId() {
    if (mixerGetLineInfo(mixer_, &line_, MIXER_GETLINEINFOF_LINEID) != MMSYSERR_NOERROR) {
        report("mixerGetLineInfo failed", 173);
        return false;
    }
    if (line_.cControls == 0) {
        report("no contorls", 180);
        return false;
    }
    std::unique_ptr<MIXERCONTROL[]> controls(new (std::nothrow) MIXERCONTROL[line_.cControls]);
    if (!controls) {
        report("pamxctrl==NULL", 190);
        return false;
    }
    MIXERLINECONTROLS lc;
    lc.cbStruct = sizeof(MIXERLINECONTROLS);
    lc.dwLineID = line_.dwLineID;
    lc.cControls = line_.cControls;
    lc.cbmxctrl = sizeof(MIXERCONTROL);
    lc.pamxctrl = controls.get();
    if (mixerGetLineControls(mixer_, &lc, MIXER_GETLINECONTROLSF_ALL) != MMSYSERR_NOERROR) {
        report("mixerGetLineControls", 204);
        return false;
    }
    for (DWORD i = 0; i < line_.cControls; ++i) {
        if (std::strstr(controls[i].szName, "Mute")) {
            muteControlId_ = controls[i].dwControlID;
            return true;
        }
    }
    return false;
}

void MuteControl::showState() {
    MIXERCONTROLDETAILS_BOOLEAN value;
    MIXERCONTROLDETAILS details;
    details.cbStruct = sizeof details;
    details.dwControlID = muteControlId_;
    details.cChannels = 1;
    details.cMultipleItems = 0;
    details.cbDetails = sizeof value;
    details.paDetails = &value;
    if (mixerGetControlDetails(mixer_, &details, MIXER_GETCONTROLDETAILSF_VALUE) !=
        MMSYSERR_NOERROR) {
        report("mixerGetControlDetails failed", 285);
        available_ = false;
        return;
    }
    if (owner_)
        owner_->SetMuteCheck(value.fValue != 0);
}

bool MuteControl::SetMute(bool mute) {
    MIXERCONTROLDETAILS_BOOLEAN value;
    MIXERCONTROLDETAILS details;
    details.cbStruct = sizeof details;
    details.dwControlID = muteControlId_;
    details.cChannels = 1;
    details.cMultipleItems = 0;
    details.cbDetails = sizeof value;
    details.paDetails = &value;
    if (mixerGetControlDetails(mixer_, &details, MIXER_GETCONTROLDETAILSF_VALUE) !=
        MMSYSERR_NOERROR) {
        report("mixerGetControlDetails failed", 248);
        available_ = false;
        return false;
    }
    value.fValue = mute ? 1 : 0;
    if (mixerSetControlDetails(mixer_, &details, MIXER_SETCONTROLDETAILSF_VALUE) !=
        MMSYSERR_NOERROR) {
        report("mixerSetControlDetails failed", 259);
        available_ = false;
        return false;
    }
    return true;
}

void MuteControl::Refresh() {
    if (!available_) {
        if (owner_)
            owner_->HideMuteBox();
        return;
    }
    showState();
}

std::optional<int> ReadVolumeSlider(bool checkCaps) {
    if (checkCaps) {
        if (waveOutGetNumDevs() == 0)
            return std::nullopt;
        WAVEOUTCAPS caps;
        if (waveOutGetDevCaps(0, &caps, sizeof caps) != MMSYSERR_NOERROR ||
            !(caps.dwSupport & WAVECAPS_VOLUME))
            return std::nullopt;
    }
    DWORD volume = 0;
    if (waveOutGetVolume(0, &volume) != MMSYSERR_NOERROR)
        return std::nullopt;
    const DWORD right = volume >> 16;
    return static_cast<int>(right * 0.00015259021896696422 + 0.5);
}

void SetVolumeFromSlider(int s) {
    const DWORD w = static_cast<DWORD>(std::lround(s * 6553.5));
    waveOutSetVolume(0, (w & 0xFFFF) | (w & 0xFFFF) << 16);
}

}  // namespace korrin
