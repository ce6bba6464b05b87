// korrinctl mapi: the messaging layer's profiles, Outbox and (from their own files) sending and
// contacts. This file only dispatches.
#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "tools/Area.h"
#include "tools/MapiArea.h"

namespace korrin::tools {

namespace {

std::vector<MapiCommand>& commands() {
    static std::vector<MapiCommand> list;
    return list;
}

std::string usageText() {
    std::vector<MapiCommand> list = commands();
    std::stable_sort(list.begin(), list.end(),
                     [](const MapiCommand& a, const MapiCommand& b) { return a.rank < b.rank; });
    std::string text;
    for (const auto& c : list)
        text += c.usage;
    text += "    Every command takes --profile P (default: the default profile).\n";
    return text;
}

int runMapi(const std::vector<std::string>& argsIn, std::ostream& out, std::ostream& err) {
    if (argsIn.empty()) {
        err << usageText();
        return kExitUsage;
    }
    if (argsIn[0] == "--help" || argsIn[0] == "-h") {
        out << usageText();
        return kExitOk;
    }
    std::vector<std::string> args(argsIn.begin() + 1, argsIn.end());
    std::string profile;
    if (!TakeProfileOption(&args, &profile)) {
        err << "korrinctl mapi: --profile needs a profile name\n";
        return kExitUsage;
    }
    for (const auto& c : commands())
        if (argsIn[0] == c.name)
            return c.run(args, profile, out, err);
    err << "korrinctl mapi: unknown command '" << argsIn[0] << "'\n" << usageText();
    return kExitUsage;
}

// The usage is built at registration time of the area, before every command may have
// registered, so the area's own usage line points at --help.
const KorrinctlArea area({95, "mapi", "messaging profiles, Outbox, sending, contacts",
                          "korrinctl mapi --help\n    The messaging commands (profiles, Outbox, "
                          "sending, contacts).\n",
                          runMapi});

}  // namespace

MapiCommandRegistration::MapiCommandRegistration(const MapiCommand& command) {
    commands().push_back(command);
}

bool TakeProfileOption(std::vector<std::string>* args, std::string* profile) {
    for (std::size_t i = 0; i < args->size(); ++i) {
        const std::string& a = (*args)[i];
        if (a.rfind("--profile=", 0) == 0) {
            *profile = a.substr(10);
            args->erase(args->begin() + static_cast<long>(i));
            return !profile->empty();
        }
        if (a == "--profile") {
            if (i + 1 >= args->size())
                return false;
            *profile = (*args)[i + 1];
            args->erase(args->begin() + static_cast<long>(i),
                        args->begin() + static_cast<long>(i) + 2);
            return !profile->empty();
        }
    }
    return true;
}

}  // namespace korrin::tools
