// The ALSA mixer of the default card. Its master volume element ("Master", or the first
// element with a playback volume) is the one destination, "Volume Control", with the
// controls "Volume" (0 .. 65535 over the element's own range) and "Mute" (the element's
// playback switch turned round: 1 = muted). A thread waits for the card's change events.
#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <thread>

#include "platform/lazy/LazyLibrary.h"
#include "platform/mixer/Mixer.h"
#include "platform/mixer/MixerBackend.h"

namespace korrin::platform {

namespace {

constexpr long kWordMax = 65535;
constexpr unsigned kVolume = 0, kMute = 1;

void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

class AlsaMixerDevice : public MixerDevice {
  public:
    // Null when the default card has no mixer or no element with a playback volume.
    static std::shared_ptr<AlsaMixerDevice> Open() {
        if (!AlsaLibrary().Available())
            return nullptr;
        snd_lib_error_set_handler(&quietAlsa);
        snd_mixer_t* mixer = nullptr;
        if (snd_mixer_open(&mixer, 0) < 0)
            return nullptr;
        if (snd_mixer_attach(mixer, "default") < 0 ||
            snd_mixer_selem_register(mixer, nullptr, nullptr) < 0 || snd_mixer_load(mixer) < 0) {
            snd_mixer_close(mixer);
            return nullptr;
        }
        snd_mixer_elem_t* chosen = nullptr;
        for (auto* e = snd_mixer_first_elem(mixer); e; e = snd_mixer_elem_next(e)) {
            if (!snd_mixer_selem_is_active(e) || !snd_mixer_selem_has_playback_volume(e))
                continue;
            if (!chosen || std::string(snd_mixer_selem_get_name(e)) == "Master")
                chosen = e;
            if (std::string(snd_mixer_selem_get_name(e)) == "Master")
                break;
        }
        if (!chosen) {
            snd_mixer_close(mixer);
            return nullptr;
        }
        auto d = std::make_shared<AlsaMixerDevice>(mixer, chosen);
        d->start();
        return d;
    }

    AlsaMixerDevice(snd_mixer_t* mixer, snd_mixer_elem_t* elem) : mixer_(mixer), elem_(elem) {
        char name[64] = "ALSA mixer";
        snd_ctl_card_info_t* info;
        snd_ctl_card_info_alloca(&info);
        snd_ctl_t* ctl = nullptr;
        if (snd_ctl_open(&ctl, "default", 0) == 0) {
            if (snd_ctl_card_info(ctl, info) == 0)
                snprintf(name, sizeof name, "%s", snd_ctl_card_info_get_name(info));
            snd_ctl_close(ctl);
        }
        name_ = name;
        snd_mixer_selem_get_playback_volume_range(elem_, &min_, &max_);
        mono_ = snd_mixer_selem_is_playback_mono(elem_);
        hasSwitch_ = snd_mixer_selem_has_playback_switch(elem_);
        wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    }

    ~AlsaMixerDevice() override {
        if (thread_.joinable()) {
            const std::uint64_t one = 1;
            (void)!write(wake_, &one, sizeof one);
            thread_.join();
        }
        if (wake_ >= 0)
            close(wake_);
        snd_mixer_close(mixer_);
    }

    std::string name() const override { return name_; }

    std::vector<MixerDestinationInfo> destinations() override {
        MixerDestinationInfo line{
            "Volume Control", MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, mono_ ? 1u : 2u, {}};
        line.controls.push_back({"Volume", MIXERCONTROL_CONTROLTYPE_VOLUME, 0, kWordMax});
        if (hasSwitch_)
            line.controls.push_back({"Mute", MIXERCONTROL_CONTROLTYPE_MUTE, 0, 1});
        return {line};
    }

    bool GetValues(unsigned d, unsigned c, std::vector<long>& values) override {
        std::lock_guard lock(mutex_);
        return d == 0 && readLocked(c, values);
    }

    bool SetValues(unsigned d, unsigned c, const std::vector<long>& values) override {
        std::lock_guard lock(mutex_);
        if (d != 0 || values.empty())
            return false;
        const unsigned n = mono_ ? 1 : 2;
        for (unsigned i = 0; i < n; ++i) {
            const auto ch = static_cast<snd_mixer_selem_channel_id_t>(i);
            const long v = values[std::min<std::size_t>(i, values.size() - 1)];
            int e;
            if (c == kVolume)
                e = snd_mixer_selem_set_playback_volume(elem_, ch, toAlsa(v));
            else if (c == kMute && hasSwitch_)
                e = snd_mixer_selem_set_playback_switch(elem_, ch, v ? 0 : 1);
            else
                return false;
            if (e < 0)
                return false;
        }
        return true;
    }

  private:
    long toAlsa(long w) const {
        return max_ > min_
                   ? min_ + (std::clamp(w, 0L, kWordMax) * (max_ - min_) + kWordMax / 2) / kWordMax
                   : min_;
    }
    long toWord(long a) const {
        return max_ > min_ ? ((std::clamp(a, min_, max_) - min_) * kWordMax + (max_ - min_) / 2) /
                                 (max_ - min_)
                           : 0;
    }

    bool readLocked(unsigned c, std::vector<long>& values) {
        values.clear();
        const unsigned n = mono_ ? 1 : 2;
        for (unsigned i = 0; i < n; ++i) {
            const auto ch = static_cast<snd_mixer_selem_channel_id_t>(i);
            if (c == kVolume) {
                long v;
                if (snd_mixer_selem_get_playback_volume(elem_, ch, &v) < 0)
                    return false;
                values.push_back(toWord(v));
            } else if (c == kMute && hasSwitch_) {
                int on;
                if (snd_mixer_selem_get_playback_switch(elem_, ch, &on) < 0)
                    return false;
                values.push_back(on ? 0 : 1);
            } else {
                return false;
            }
        }
        return true;
    }

    void start() {
        std::lock_guard lock(mutex_);
        readLocked(kVolume, last_[kVolume]);
        if (hasSwitch_)
            readLocked(kMute, last_[kMute]);
        if (wake_ >= 0)
            thread_ = std::thread([this] { watch(); });
    }

    // Waits for the card's events and tells which control moved.
    void watch() {
        for (;;) {
            std::vector<pollfd> fds;
            {
                std::lock_guard lock(mutex_);
                const int n = snd_mixer_poll_descriptors_count(mixer_);
                fds.resize(std::max(n, 0) + 1);
                if (n > 0)
                    snd_mixer_poll_descriptors(mixer_, fds.data() + 1, n);
            }
            fds[0] = pollfd{wake_, POLLIN, 0};
            if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
                return;
            if (fds[0].revents)
                return;
            bool changed[2] = {false, false};
            {
                std::lock_guard lock(mutex_);
                // A card that went away: stop watching rather than spin on its error.
                if (snd_mixer_handle_events(mixer_) < 0)
                    return;
                for (unsigned c = 0; c < (hasSwitch_ ? 2u : 1u); ++c) {
                    std::vector<long> now;
                    if (readLocked(c, now) && now != last_[c]) {
                        last_[c] = now;
                        changed[c] = true;
                    }
                }
            }
            for (unsigned c = 0; c < 2; ++c)
                if (changed[c])
                    notifier().Notify(0, c);
        }
    }

    std::mutex mutex_;  // the ALSA handle is not thread-safe
    snd_mixer_t* mixer_;
    snd_mixer_elem_t* elem_;
    std::string name_;
    long min_ = 0, max_ = 0;
    bool mono_ = false;
    bool hasSwitch_ = false;
    std::vector<long> last_[2];  // guarded by mutex_
    int wake_ = -1;
    std::thread thread_;
};

class AlsaMixerBackend : public MixerBackend {
  public:
    std::string name() const override { return "alsa"; }
    std::vector<std::shared_ptr<MixerDevice>> devices() override {
        std::lock_guard lock(mutex_);
        if (!device_)
            device_ = AlsaMixerDevice::Open();
        if (!device_)
            return {};
        return {device_};
    }

  private:
    std::mutex mutex_;
    std::shared_ptr<AlsaMixerDevice> device_;  // guarded by mutex_
};

}  // namespace

void RegisterAlsaMixerBackend() {
    RegisterMixerBackend({"alsa", 10, []() -> std::unique_ptr<MixerBackend> {
                              return std::make_unique<AlsaMixerBackend>();
                          }});
}

}  // namespace korrin::platform
