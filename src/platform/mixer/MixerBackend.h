// Mixer back ends, one file each, registered by name and priority like the sound back ends.
// A back end offers its devices; a device describes its destination lines and controls,
// reads and sets control values and tells about changes.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Win32Types.h"

namespace korrin::platform {

struct MixerControlInfo {
    std::string name;
    DWORD type = 0;  // MIXERCONTROL_CONTROLTYPE_*
    long minimum = 0;
    long maximum = 1;
};

struct MixerDestinationInfo {
    std::string name;
    DWORD componentType = 0;
    DWORD channels = 1;
    std::vector<MixerControlInfo> controls;
};

// Changes of a device's controls, told to everyone subscribed. Unsubscribe waits for a
// notification that is running, so after it returns the function is never called again.
class MixerNotifier {
  public:
    using Listener = std::function<void(unsigned destination, unsigned control)>;
    int Subscribe(Listener listener);
    void Unsubscribe(int token);
    void Notify(unsigned destination, unsigned control);

  private:
    std::mutex listMutex_;    // guards listeners_ and next_
    std::mutex notifyMutex_;  // held while listeners run
    std::vector<std::pair<int, std::shared_ptr<Listener>>> listeners_;
    int next_ = 1;
};

class MixerDevice {
  public:
    virtual ~MixerDevice() = default;
    virtual std::string name() const = 0;
    // A snapshot; ids derive from the indexes, which stay fixed while the device lives.
    virtual std::vector<MixerDestinationInfo> destinations() = 0;
    // One value per channel (as many as the destination has); false when the device fails.
    virtual bool GetValues(unsigned destination, unsigned control, std::vector<long>& values) = 0;
    virtual bool SetValues(unsigned destination, unsigned control,
                           const std::vector<long>& values) = 0;
    MixerNotifier& notifier() { return notifier_; }

  private:
    MixerNotifier notifier_;
};

class MixerBackend {
  public:
    virtual ~MixerBackend() = default;
    virtual std::string name() const = 0;
    // The devices present now (the first is device 0). Called on every enumeration.
    virtual std::vector<std::shared_ptr<MixerDevice>> devices() = 0;
};

struct MixerBackendEntry {
    const char* name;
    int priority;
    std::unique_ptr<MixerBackend> (*make)();  // never null for a registered back end
};

void RegisterMixerBackend(const MixerBackendEntry& entry);
// The back end in use now (see Mixer.h for the choice). Lives until the process ends.
MixerBackend& ChosenMixerBackend();

}  // namespace korrin::platform
