#include "platform/mixer/Mixer.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>

#include "platform/mixer/MixerBackend.h"

namespace korrin::platform {

struct MixerHandle {
    std::shared_ptr<MixerDevice> device;
    int token = 0;  // notification subscription, 0 when none
};

namespace {

std::mutex gHandlesMutex;
std::set<MixerHandle*> gHandles;  // guarded by gHandlesMutex

DWORD controlId(unsigned destination, unsigned control) {
    return DWORD(destination) << 16 | DWORD(control);
}

std::shared_ptr<MixerDevice> deviceOf(HMIXER h) {
    std::lock_guard lock(gHandlesMutex);
    return gHandles.count(h) ? h->device : nullptr;
}

template <std::size_t N>
void copyName(char (&out)[N], const std::string& name) {
    const std::size_t n = std::min(name.size(), N - 1);
    std::memcpy(out, name.data(), n);
    out[n] = '\0';
}

struct ControlRef {
    unsigned destination = 0;
    unsigned control = 0;
    MixerDestinationInfo line;
};

bool findControl(MixerDevice& device, DWORD id, ControlRef& ref) {
    const auto lines = device.destinations();
    ref.destination = id >> 16;
    ref.control = id & 0xFFFF;
    if (ref.destination >= lines.size() || ref.control >= lines[ref.destination].controls.size())
        return false;
    ref.line = lines[ref.destination];
    return true;
}

void fillLine(MIXERLINE& line, unsigned index, const MixerDestinationInfo& d) {
    line.dwDestination = index;
    line.dwSource = 0;
    line.dwLineID = index;
    line.fdwLine = MIXERLINE_LINEF_ACTIVE;
    line.dwComponentType = d.componentType;
    line.cChannels = d.channels;
    line.cConnections = 0;
    line.cControls = static_cast<DWORD>(d.controls.size());
    copyName(line.szShortName, d.name);
    copyName(line.szName, d.name);
}

void fillControl(MIXERCONTROL& c, unsigned destination, unsigned index,
                 const MixerControlInfo& info) {
    c.cbStruct = sizeof(MIXERCONTROL);
    c.dwControlID = controlId(destination, index);
    c.dwControlType = info.type;
    c.fdwControl = 0;
    c.cMultipleItems = 0;
    copyName(c.szShortName, info.name);
    copyName(c.szName, info.name);
    c.lMinimum = static_cast<std::int32_t>(info.minimum);
    c.lMaximum = static_cast<std::int32_t>(info.maximum);
    c.cSteps = static_cast<DWORD>(info.maximum - info.minimum);
}

bool isSwitch(DWORD type) {
    return type == MIXERCONTROL_CONTROLTYPE_MUTE;
}

std::shared_ptr<MixerDevice> deviceNumber(UINT n) {
    auto devices = ChosenMixerBackend().devices();
    return n < devices.size() ? devices[n] : nullptr;
}

// The first destination's volume fader of wave output device n.
bool outputVolume(UINT n, std::shared_ptr<MixerDevice>& device, unsigned& control,
                  MixerDestinationInfo& line) {
    device = deviceNumber(n);
    if (!device)
        return false;
    const auto lines = device->destinations();
    if (lines.empty())
        return false;
    line = lines[0];
    for (unsigned i = 0; i < line.controls.size(); ++i)
        if (line.controls[i].type == MIXERCONTROL_CONTROLTYPE_VOLUME) {
            control = i;
            return true;
        }
    return false;
}

DWORD toWord(long v, const MixerControlInfo& c) {
    if (c.maximum <= c.minimum)
        return 0;
    const long long clamped = std::clamp<long long>(v, c.minimum, c.maximum);
    return static_cast<DWORD>((clamped - c.minimum) * 0xFFFF / (c.maximum - c.minimum));
}

long fromWord(DWORD w, const MixerControlInfo& c) {
    return c.minimum +
           static_cast<long>((long long)(w & 0xFFFF) * (c.maximum - c.minimum) / 0xFFFF);
}

}  // namespace

UINT mixerGetNumDevs() {
    return static_cast<UINT>(ChosenMixerBackend().devices().size());
}

MMRESULT mixerGetDevCaps(DWORD_PTR id, MIXERCAPS* caps, UINT size) {
    if (!caps || size != sizeof(MIXERCAPS))
        return MMSYSERR_INVALPARAM;
    std::shared_ptr<MixerDevice> device = deviceOf(reinterpret_cast<HMIXER>(id));
    if (!device && id <= 0xFFFF)
        device = deviceNumber(static_cast<UINT>(id));
    if (!device)
        return id <= 0xFFFF ? MMSYSERR_BADDEVICEID : MMSYSERR_INVALHANDLE;
    *caps = MIXERCAPS{};
    copyName(caps->szPname, device->name());
    caps->vDriverVersion = 0x0100;
    caps->cDestinations = static_cast<DWORD>(device->destinations().size());
    return MMSYSERR_NOERROR;
}

MMRESULT mixerOpen(HMIXER* mixer, UINT device, DWORD_PTR callback, DWORD_PTR instance,
                   DWORD flags) {
    if (!mixer)
        return MMSYSERR_INVALPARAM;
    *mixer = nullptr;
    if (flags != CALLBACK_NULL && flags != CALLBACK_FUNCTION)
        return MMSYSERR_INVALFLAG;
    if (flags == CALLBACK_FUNCTION && !callback)
        return MMSYSERR_INVALPARAM;
    auto dev = deviceNumber(device);
    if (!dev)
        return MMSYSERR_BADDEVICEID;
    auto h = std::make_unique<MixerHandle>();
    h->device = dev;
    HMIXER raw = h.get();
    if (flags == CALLBACK_FUNCTION) {
        auto fn = reinterpret_cast<MixerCallback>(callback);
        h->token = dev->notifier().Subscribe([raw, fn, instance](unsigned d, unsigned c) {
            fn(raw, MM_MIXM_CONTROL_CHANGE, instance, controlId(d, c), 0);
        });
    }
    std::lock_guard lock(gHandlesMutex);
    gHandles.insert(h.release());
    *mixer = raw;
    return MMSYSERR_NOERROR;
}

MMRESULT mixerClose(HMIXER mixer) {
    {
        std::lock_guard lock(gHandlesMutex);
        if (!gHandles.erase(mixer))
            return MMSYSERR_INVALHANDLE;
    }
    std::unique_ptr<MixerHandle> h(mixer);
    if (h->token)
        h->device->notifier().Unsubscribe(h->token);
    return MMSYSERR_NOERROR;
}

MMRESULT mixerGetLineInfo(HMIXER mixer, MIXERLINE* line, DWORD flags) {
    auto device = deviceOf(mixer);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    if (!line || line->cbStruct != sizeof(MIXERLINE))
        return MMSYSERR_INVALPARAM;
    const auto lines = device->destinations();
    DWORD index;
    if (flags == MIXER_GETLINEINFOF_DESTINATION)
        index = line->dwDestination;
    else if (flags == MIXER_GETLINEINFOF_LINEID)
        index = line->dwLineID;
    else
        return MMSYSERR_INVALFLAG;
    if (index >= lines.size())
        return flags == MIXER_GETLINEINFOF_DESTINATION ? MMSYSERR_INVALPARAM : MIXERR_INVALLINE;
    fillLine(*line, index, lines[index]);
    return MMSYSERR_NOERROR;
}

MMRESULT mixerGetLineControls(HMIXER mixer, MIXERLINECONTROLS* lc, DWORD flags) {
    auto device = deviceOf(mixer);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    if (!lc || lc->cbStruct != sizeof(MIXERLINECONTROLS) || lc->cbmxctrl != sizeof(MIXERCONTROL) ||
        !lc->pamxctrl)
        return MMSYSERR_INVALPARAM;
    const auto lines = device->destinations();
    if (flags == MIXER_GETLINECONTROLSF_ONEBYID) {
        ControlRef ref;
        if (!findControl(*device, lc->dwControlID, ref))
            return MIXERR_INVALCONTROL;
        lc->dwLineID = ref.destination;
        fillControl(*lc->pamxctrl, ref.destination, ref.control, ref.line.controls[ref.control]);
        return MMSYSERR_NOERROR;
    }
    if (lc->dwLineID >= lines.size())
        return MIXERR_INVALLINE;
    const auto& line = lines[lc->dwLineID];
    if (flags == MIXER_GETLINECONTROLSF_ALL) {
        if (lc->cControls != line.controls.size() || line.controls.empty())
            return MMSYSERR_INVALPARAM;
        for (unsigned i = 0; i < line.controls.size(); ++i)
            fillControl(lc->pamxctrl[i], lc->dwLineID, i, line.controls[i]);
        return MMSYSERR_NOERROR;
    }
    if (flags == MIXER_GETLINECONTROLSF_ONEBYTYPE) {
        for (unsigned i = 0; i < line.controls.size(); ++i)
            if (line.controls[i].type == lc->dwControlType) {
                fillControl(*lc->pamxctrl, lc->dwLineID, i, line.controls[i]);
                return MMSYSERR_NOERROR;
            }
        return MIXERR_INVALCONTROL;
    }
    return MMSYSERR_INVALFLAG;
}

MMRESULT mixerGetControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* d, DWORD flags) {
    auto device = deviceOf(mixer);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    if (flags != MIXER_GETCONTROLDETAILSF_VALUE)
        return MMSYSERR_INVALFLAG;
    if (!d || d->cbStruct != sizeof(MIXERCONTROLDETAILS) || !d->paDetails || d->cMultipleItems != 0)
        return MMSYSERR_INVALPARAM;
    ControlRef ref;
    if (!findControl(*device, d->dwControlID, ref))
        return MIXERR_INVALCONTROL;
    if (d->cChannels != 1 && d->cChannels != ref.line.channels)
        return MMSYSERR_INVALPARAM;
    const bool sw = isSwitch(ref.line.controls[ref.control].type);
    if (d->cbDetails !=
        (sw ? sizeof(MIXERCONTROLDETAILS_BOOLEAN) : sizeof(MIXERCONTROLDETAILS_UNSIGNED)))
        return MMSYSERR_INVALPARAM;
    std::vector<long> values;
    if (!device->GetValues(ref.destination, ref.control, values) || values.empty())
        return MMSYSERR_ERROR;
    for (DWORD i = 0; i < d->cChannels; ++i) {
        const long v = values[std::min<std::size_t>(i, values.size() - 1)];
        if (sw)
            static_cast<MIXERCONTROLDETAILS_BOOLEAN*>(d->paDetails)[i].fValue = v ? 1 : 0;
        else
            static_cast<MIXERCONTROLDETAILS_UNSIGNED*>(d->paDetails)[i].dwValue =
                static_cast<DWORD>(v);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT mixerSetControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* d, DWORD flags) {
    auto device = deviceOf(mixer);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    if (flags != MIXER_SETCONTROLDETAILSF_VALUE)
        return MMSYSERR_INVALFLAG;
    if (!d || d->cbStruct != sizeof(MIXERCONTROLDETAILS) || !d->paDetails || d->cMultipleItems != 0)
        return MMSYSERR_INVALPARAM;
    ControlRef ref;
    if (!findControl(*device, d->dwControlID, ref))
        return MIXERR_INVALCONTROL;
    if (d->cChannels != 1 && d->cChannels != ref.line.channels)
        return MMSYSERR_INVALPARAM;
    const auto& info = ref.line.controls[ref.control];
    const bool sw = isSwitch(info.type);
    if (d->cbDetails !=
        (sw ? sizeof(MIXERCONTROLDETAILS_BOOLEAN) : sizeof(MIXERCONTROLDETAILS_UNSIGNED)))
        return MMSYSERR_INVALPARAM;
    std::vector<long> values(ref.line.channels);
    for (DWORD i = 0; i < ref.line.channels; ++i) {
        const DWORD from = std::min<DWORD>(i, d->cChannels - 1);
        long v = sw ? (static_cast<MIXERCONTROLDETAILS_BOOLEAN*>(d->paDetails)[from].fValue ? 1 : 0)
                    : long(static_cast<MIXERCONTROLDETAILS_UNSIGNED*>(d->paDetails)[from].dwValue);
        if (v < info.minimum || v > info.maximum)
            return MIXERR_INVALVALUE;
        values[i] = v;
    }
    return device->SetValues(ref.destination, ref.control, values) ? MMSYSERR_NOERROR
                                                                   : MMSYSERR_ERROR;
}

UINT waveOutGetNumDevs() {
    return mixerGetNumDevs();
}

MMRESULT waveOutGetDevCaps(UINT n, WAVEOUTCAPS* caps, UINT size) {
    if (!caps || size != sizeof(WAVEOUTCAPS))
        return MMSYSERR_INVALPARAM;
    auto device = deviceNumber(n);
    if (!device)
        return MMSYSERR_BADDEVICEID;
    *caps = WAVEOUTCAPS{};
    copyName(caps->szPname, device->name());
    caps->vDriverVersion = 0x0100;
    caps->wChannels = 2;
    unsigned control;
    MixerDestinationInfo line;
    if (outputVolume(n, device, control, line))
        caps->dwSupport = WAVECAPS_VOLUME | (line.channels > 1 ? WAVECAPS_LRVOLUME : 0);
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetVolume(UINT n, DWORD* volume) {
    if (!volume)
        return MMSYSERR_INVALPARAM;
    std::shared_ptr<MixerDevice> device;
    unsigned control;
    MixerDestinationInfo line;
    if (!outputVolume(n, device, control, line))
        return device ? MMSYSERR_NOTSUPPORTED : MMSYSERR_BADDEVICEID;
    std::vector<long> v;
    if (!device->GetValues(0, control, v) || v.empty())
        return MMSYSERR_ERROR;
    const auto& info = line.controls[control];
    const DWORD left = toWord(v[0], info);
    const DWORD right = toWord(v.size() > 1 ? v[1] : v[0], info);
    *volume = left | right << 16;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutSetVolume(UINT n, DWORD volume) {
    std::shared_ptr<MixerDevice> device;
    unsigned control;
    MixerDestinationInfo line;
    if (!outputVolume(n, device, control, line))
        return device ? MMSYSERR_NOTSUPPORTED : MMSYSERR_BADDEVICEID;
    const auto& info = line.controls[control];
    std::vector<long> v(line.channels, fromWord(volume & 0xFFFF, info));
    if (v.size() > 1)
        v[1] = fromWord(volume >> 16, info);
    return device->SetValues(0, control, v) ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
}

std::string MixerBackendName() {
    return ChosenMixerBackend().name();
}

}  // namespace korrin::platform
