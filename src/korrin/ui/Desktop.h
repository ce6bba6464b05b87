// What the main window asks of the desktop: the volume control and a notification about a
// finished transmission session.
#pragma once

#include <string>
#include <vector>

namespace korrin {

// The volume control: "sndvol32" in the tools folder (set-up points it at the desktop's
// mixer), else the first of pavucontrol, "gnome-control-center sound" and alsamixer in a
// terminal found on PATH. Started with the tools folder as its working folder and not waited
// for (it is collected when it ends). False when none could be started.
bool StartMixer();
// The command lines StartMixer tries, in order (for tests and the set-up script).
std::vector<std::vector<std::string>> MixerCandidates();

// A desktop notification (org.freedesktop.Notifications on the session bus) saying how many
// messages a session sent and how many failed. Nothing when no notification service runs.
// True when one was shown.
bool NotifyDesktop(int sent, int failed);

}  // namespace korrin
