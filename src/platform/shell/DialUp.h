// The network connections a user can bring up by hand, the stand-in for the Dial-Up Networking
// folder: NetworkManager's connections, listed and started with nmcli. The program is
// $KORRIN_NMCLI when set (a command line), else nmcli on PATH; without it the list is empty.
// Safe from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korrin::platform {

// The connection names, in nmcli's order. Waits at most a few seconds for nmcli.
std::vector<std::string> ListDialUpConnections();

// Starts bringing the connection up (nmcli connection up id NAME) and does not wait for it.
// False when the program cannot be started.
bool ConnectDialUp(const std::string& name);

// The names in nmcli's terse output (one a line, ':' and '\' escaped with '\'); blank lines
// are skipped.
std::vector<std::string> ParseTerseNames(std::string_view output);

}  // namespace korrin::platform
