// korrinctl mapi <command>: each command of the area registers itself from its own file
// (Mapi*Command.cpp) with a static MapiCommandRegistration, the way the areas do; the area's
// usage text is the commands' usages in rank order. Every command takes --profile P, which the
// area takes off the arguments before the command sees them (TakeProfileOption).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace korrin::tools {

struct MapiCommand {
    int rank;           // place in the usage text
    const char* name;   // "profile", "outbox", "send", "contacts"
    const char* usage;  // lines of the usage text, each beginning "korrinctl mapi "
    // args: what follows the command's name, --profile taken out; profile: its value or "".
    int (*run)(const std::vector<std::string>& args, const std::string& profile, std::ostream& out,
               std::ostream& err);
};

struct MapiCommandRegistration {
    explicit MapiCommandRegistration(const MapiCommand& command);
};

// Removes "--profile P" (or "--profile=P") from args; false when --profile has no value.
bool TakeProfileOption(std::vector<std::string>* args, std::string* profile);

}  // namespace korrin::tools
