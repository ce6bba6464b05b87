// Mixer devices and the wave output volume, as the recorder window uses them.
//
// A mixer device has destination lines, each with controls (a volume fader, a mute
// switch). Over ALSA the default card is mixer device 0, and its master volume element is
// the destination "Volume Control" with the controls "Volume" and "Mute". The wave output
// volume (waveOutGetVolume / waveOutSetVolume) is that same element's volume.
//
// Change notifications: a mixer opened with CALLBACK_FUNCTION calls the given function with
// MM_MIXM_CONTROL_CHANGE and the control's id whenever a control changes, whoever changed it
// (this program or another). The call comes on a thread of the mixer layer, never from
// inside one of these functions; it must be short and must not close the mixer. Once
// mixerClose returns, no call is running or will come. A window owner turns the call into
// a window message (see platform/ui/MixerEvents.h).
//
// The back end is chosen by KORRIN_MIXER ("alsa", "virtual"); without it, KORRIN_AUDIO=virtual
// chooses the virtual mixer and anything else ALSA. Threads: every function is safe from
// any thread.
#pragma once

#include <cstdint>
#include <string>

#include "platform/MMSystem.h"
#include "platform/Win32Types.h"

namespace korrin::platform {

struct MixerHandle;
using HMIXER = MixerHandle*;

constexpr MMRESULT MIXERR_INVALLINE = 1024;
constexpr MMRESULT MIXERR_INVALCONTROL = 1025;
constexpr MMRESULT MIXERR_INVALVALUE = 1026;

constexpr UINT MM_MIXM_LINE_CHANGE = 0x3D0;
constexpr UINT MM_MIXM_CONTROL_CHANGE = 0x3D1;

constexpr DWORD CALLBACK_NULL = 0x00000000;
constexpr DWORD CALLBACK_FUNCTION = 0x00030000;

constexpr DWORD MIXER_GETLINEINFOF_DESTINATION = 0x0;
constexpr DWORD MIXER_GETLINEINFOF_LINEID = 0x2;
constexpr DWORD MIXER_GETLINECONTROLSF_ALL = 0x0;
constexpr DWORD MIXER_GETLINECONTROLSF_ONEBYID = 0x1;
constexpr DWORD MIXER_GETLINECONTROLSF_ONEBYTYPE = 0x2;
constexpr DWORD MIXER_GETCONTROLDETAILSF_VALUE = 0x0;
constexpr DWORD MIXER_SETCONTROLDETAILSF_VALUE = 0x0;

constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_SPEAKERS = 4;
constexpr DWORD MIXERLINE_LINEF_ACTIVE = 0x1;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_MUTE = 0x20010002;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_VOLUME = 0x50030001;
constexpr DWORD MIXERCONTROL_CONTROLF_UNIFORM = 0x1;

constexpr std::size_t MIXER_SHORT_NAME_CHARS = 16;
constexpr std::size_t MIXER_LONG_NAME_CHARS = 64;
constexpr std::size_t MAXPNAMELEN = 32;

// Names are NUL-terminated in fixed buffers, as long as the callers' buffers are.
struct MIXERCAPS {
    std::uint16_t wMid = 0;
    std::uint16_t wPid = 0;
    DWORD vDriverVersion = 0;
    char szPname[MAXPNAMELEN] = {};
    DWORD fdwSupport = 0;
    DWORD cDestinations = 0;
};

struct MIXERLINE {
    DWORD cbStruct = sizeof(MIXERLINE);
    DWORD dwDestination = 0;
    DWORD dwSource = 0;
    DWORD dwLineID = 0;
    DWORD fdwLine = 0;
    DWORD_PTR dwUser = 0;
    DWORD dwComponentType = 0;
    DWORD cChannels = 0;
    DWORD cConnections = 0;
    DWORD cControls = 0;
    char szShortName[MIXER_SHORT_NAME_CHARS] = {};
    char szName[MIXER_LONG_NAME_CHARS] = {};
};

struct MIXERCONTROL {
    DWORD cbStruct = sizeof(MIXERCONTROL);
    DWORD dwControlID = 0;
    DWORD dwControlType = 0;
    DWORD fdwControl = 0;
    DWORD cMultipleItems = 0;
    char szShortName[MIXER_SHORT_NAME_CHARS] = {};
    char szName[MIXER_LONG_NAME_CHARS] = {};
    std::int32_t lMinimum = 0;
    std::int32_t lMaximum = 0;
    DWORD cSteps = 0;
};

struct MIXERLINECONTROLS {
    DWORD cbStruct = sizeof(MIXERLINECONTROLS);
    DWORD dwLineID = 0;
    DWORD dwControlID = 0;    // ONEBYID
    DWORD dwControlType = 0;  // ONEBYTYPE
    DWORD cControls = 0;      // entries in pamxctrl
    DWORD cbmxctrl = sizeof(MIXERCONTROL);
    MIXERCONTROL* pamxctrl = nullptr;
};

struct MIXERCONTROLDETAILS_BOOLEAN {
    std::int32_t fValue = 0;
};
struct MIXERCONTROLDETAILS_UNSIGNED {
    DWORD dwValue = 0;
};

// paDetails points at cChannels values of the control's kind (BOOLEAN for switches,
// UNSIGNED for faders); cChannels 1 reads or sets all channels as one.
struct MIXERCONTROLDETAILS {
    DWORD cbStruct = sizeof(MIXERCONTROLDETAILS);
    DWORD dwControlID = 0;
    DWORD cChannels = 0;
    DWORD cMultipleItems = 0;
    DWORD cbDetails = 0;
    void* paDetails = nullptr;
};

// The notification function: msg MM_MIXM_CONTROL_CHANGE, param1 the control's id.
using MixerCallback = void (*)(HMIXER mixer, UINT msg, DWORD_PTR instance, DWORD_PTR param1,
                               DWORD_PTR param2);

UINT mixerGetNumDevs();
// id is a device number or an open handle (reinterpret_cast<DWORD_PTR>(mixer)).
MMRESULT mixerGetDevCaps(DWORD_PTR id, MIXERCAPS* caps, UINT size);
// callback is a MixerCallback with CALLBACK_FUNCTION, 0 with CALLBACK_NULL.
MMRESULT mixerOpen(HMIXER* mixer, UINT device, DWORD_PTR callback, DWORD_PTR instance, DWORD flags);
MMRESULT mixerClose(HMIXER mixer);
MMRESULT mixerGetLineInfo(HMIXER mixer, MIXERLINE* line, DWORD flags);
MMRESULT mixerGetLineControls(HMIXER mixer, MIXERLINECONTROLS* controls, DWORD flags);
MMRESULT mixerGetControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* details, DWORD flags);
MMRESULT mixerSetControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* details, DWORD flags);

// Wave output: device 0 is the first mixer device's first destination.
constexpr DWORD WAVECAPS_VOLUME = 0x0004;
constexpr DWORD WAVECAPS_LRVOLUME = 0x0008;

struct WAVEOUTCAPS {
    std::uint16_t wMid = 0;
    std::uint16_t wPid = 0;
    DWORD vDriverVersion = 0;
    char szPname[MAXPNAMELEN] = {};
    DWORD dwFormats = 0;
    std::uint16_t wChannels = 0;
    DWORD dwSupport = 0;
};

UINT waveOutGetNumDevs();
MMRESULT waveOutGetDevCaps(UINT device, WAVEOUTCAPS* caps, UINT size);
// Low word the left channel, high word the right, each 0 .. 0xFFFF.
MMRESULT waveOutGetVolume(UINT device, DWORD* volume);
MMRESULT waveOutSetVolume(UINT device, DWORD volume);

// The name of the mixer back end in use ("alsa", "virtual").
std::string MixerBackendName();

}  // namespace korrin::platform
