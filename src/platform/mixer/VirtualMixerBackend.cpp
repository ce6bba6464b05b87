// The virtual mixer back end (see VirtualMixer.h).
#include <atomic>
#include <mutex>

#include "platform/mixer/Mixer.h"
#include "platform/mixer/MixerBackend.h"
#include "platform/mixer/VirtualMixer.h"

namespace korrin::platform {

namespace virtualmixer {
namespace {

std::atomic<bool> gFailing{false};

class VirtualDevice : public MixerDevice {
  public:
    explicit VirtualDevice(Device layout) : layout_(std::move(layout)) {
        for (auto& d : layout_.destinations)
            for (auto& c : d.controls)
                c.values.resize(d.channels, c.values.empty() ? c.minimum : c.values.back());
    }
    std::string name() const override { return layout_.name; }

    std::vector<MixerDestinationInfo> destinations() override {
        std::lock_guard lock(mutex_);
        std::vector<MixerDestinationInfo> out;
        for (const auto& d : layout_.destinations) {
            MixerDestinationInfo info{d.name, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, d.channels, {}};
            for (const auto& c : d.controls)
                info.controls.push_back({c.name, c.type, c.minimum, c.maximum});
            out.push_back(std::move(info));
        }
        return out;
    }

    bool GetValues(unsigned d, unsigned c, std::vector<long>& values) override {
        std::lock_guard lock(mutex_);
        if (gFailing || !valid(d, c))
            return false;
        values = layout_.destinations[d].controls[c].values;
        return true;
    }

    bool SetValues(unsigned d, unsigned c, const std::vector<long>& values) override {
        {
            std::lock_guard lock(mutex_);
            if (gFailing || !valid(d, c))
                return false;
            auto& v = layout_.destinations[d].controls[c].values;
            for (std::size_t i = 0; i < v.size(); ++i)
                v[i] = values.empty() ? v[i] : values[std::min(i, values.size() - 1)];
        }
        notifier().Notify(d, c);
        return true;
    }

    // By names; the indexes, or false.
    bool find(const std::string& dest, const std::string& control, unsigned& d, unsigned& c) {
        std::lock_guard lock(mutex_);
        for (d = 0; d < layout_.destinations.size(); ++d) {
            if (layout_.destinations[d].name != dest)
                continue;
            const auto& controls = layout_.destinations[d].controls;
            for (c = 0; c < controls.size(); ++c)
                if (controls[c].name == control)
                    return true;
        }
        return false;
    }

  private:
    bool valid(unsigned d, unsigned c) const {
        return d < layout_.destinations.size() && c < layout_.destinations[d].controls.size();
    }
    std::mutex mutex_;
    Device layout_;  // guarded by mutex_
};

std::mutex gMutex;
std::vector<std::shared_ptr<VirtualDevice>> gDevices;  // guarded by gMutex
bool gConfigured = false;                              // guarded by gMutex

std::vector<std::shared_ptr<VirtualDevice>> devicesNow() {
    std::lock_guard lock(gMutex);
    if (!gConfigured) {
        for (const auto& d : DefaultDevices())
            gDevices.push_back(std::make_shared<VirtualDevice>(d));
        gConfigured = true;
    }
    return gDevices;
}

class VirtualMixerBackend : public MixerBackend {
  public:
    std::string name() const override { return "virtual"; }
    std::vector<std::shared_ptr<MixerDevice>> devices() override {
        auto now = devicesNow();
        return {now.begin(), now.end()};
    }
};

}  // namespace

std::vector<Device> DefaultDevices() {
    Control volume{"Volume", MIXERCONTROL_CONTROLTYPE_VOLUME, 0, 65535, {49152, 49152}};
    Control mute{"Mute", MIXERCONTROL_CONTROLTYPE_MUTE, 0, 1, {0, 0}};
    return {Device{"Virtual Mixer", {Destination{"Volume Control", 2, {volume, mute}}}}};
}

void Configure(const std::vector<Device>& devices) {
    std::lock_guard lock(gMutex);
    gDevices.clear();
    for (const auto& d : devices)
        gDevices.push_back(std::make_shared<VirtualDevice>(d));
    gConfigured = true;
}

bool SetControl(unsigned device, const std::string& destination, const std::string& control,
                long value) {
    auto devices = devicesNow();
    unsigned d, c;
    if (device >= devices.size() || !devices[device]->find(destination, control, d, c))
        return false;
    const bool failing = gFailing.exchange(false);
    const bool ok = devices[device]->SetValues(d, c, {value});
    gFailing = failing;
    return ok;
}

bool GetControl(unsigned device, const std::string& destination, const std::string& control,
                long& value) {
    auto devices = devicesNow();
    unsigned d, c;
    std::vector<long> v;
    if (device >= devices.size() || !devices[device]->find(destination, control, d, c))
        return false;
    const bool failing = gFailing.exchange(false);
    const bool ok = devices[device]->GetValues(d, c, v) && !v.empty();
    gFailing = failing;
    if (ok)
        value = v[0];
    return ok;
}

void SetFailing(bool failing) {
    gFailing = failing;
}

}  // namespace virtualmixer

void RegisterVirtualMixerBackend() {
    RegisterMixerBackend({"virtual", 0, []() -> std::unique_ptr<MixerBackend> {
                              return std::make_unique<virtualmixer::VirtualMixerBackend>();
                          }});
}

}  // namespace korrin::platform
