// The virtual mixer: mixer devices that exist only in this process, for machines without a
// sound card and for tests. By default it has one device, "Virtual Mixer", whose
// destination "Volume Control" has a stereo "Volume" (0 .. 65535) and a "Mute" switch.
// A test can lay out other devices (none at all, other names) and change a control as
// another program would, which notifies every mixer opened on that device.
#pragma once

#include <string>
#include <vector>

#include "platform/Win32Types.h"

namespace korrin::platform::virtualmixer {

struct Control {
    std::string name;
    DWORD type = 0;  // MIXERCONTROL_CONTROLTYPE_*
    long minimum = 0;
    long maximum = 1;
    std::vector<long> values;  // one per channel of its destination
};

struct Destination {
    std::string name;
    DWORD channels = 2;
    std::vector<Control> controls;
};

struct Device {
    std::string name;
    std::vector<Destination> destinations;
};

std::vector<Device> DefaultDevices();

// Replaces the devices; mixers already open keep the device they were opened on.
void Configure(const std::vector<Device>& devices);

// Sets every channel of a control of device `device` as another program would, and
// notifies the mixers open on it. false when there is no such control.
bool SetControl(unsigned device, const std::string& destination, const std::string& control,
                long value);
// The first channel's value; false when there is no such control.
bool GetControl(unsigned device, const std::string& destination, const std::string& control,
                long& value);

// While set, every read and write of a control value fails (a driver that went away).
void SetFailing(bool failing);

}  // namespace korrin::platform::virtualmixer
