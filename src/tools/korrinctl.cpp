// korrinctl <area> ...: the command-line companion. Each area registers itself from its own
// file with its usage text.
#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "platform/secret/Secret.h"
#include "tools/Area.h"

namespace {

using namespace korrin::tools;

void printUsage(std::ostream& out, bool full) {
    out << "Usage: korrinctl <area> <command> [<argument>...]\n"
           "       korrinctl --help | korrinctl <area> --help\n\nAreas:\n";
    for (const auto& area : Areas())
        out << "  " << area.name << "  " << area.summary << "\n";
    if (!full)
        return;
    for (const auto& area : Areas())
        out << "\n" << area.usage;
}

std::vector<Area>& registered() {
    static std::vector<Area> areas;
    return areas;
}

}  // namespace

namespace korrin::tools {

KorrinctlArea::KorrinctlArea(const Area& area) {
    registered().push_back(area);
}

std::vector<Area> Areas() {
    std::vector<Area> areas = registered();
    std::stable_sort(areas.begin(), areas.end(),
                     [](const Area& a, const Area& b) { return a.rank < b.rank; });
    return areas;
}

}  // namespace korrin::tools

int main(int argc, char** argv) {
    if (argc < 2) {
        printUsage(std::cerr, false);
        return kExitUsage;
    }
    const std::string first = argv[1];
    if (first == "--help" || first == "-h" || first == "help") {
        printUsage(std::cout, true);
        std::cout.flush();
        return std::cout ? kExitOk : kExitFailed;
    }
    for (const auto& area : Areas()) {
        if (first != area.name)
            continue;
        std::vector<std::string> args(argv + 2, argv + argc);
        int status = area.run(args, std::cout, std::cerr);
        // An argument may have been a password (reg set).
        for (auto& a : args)
            korrin::platform::WipeString(a);
        std::cout.flush();
        // Output that could not be written (a full disk, a closed pipe) is a failure too.
        return std::cout ? status : kExitFailed;
    }
    std::cerr << "korrinctl: unknown area '" << first << "'\n";
    printUsage(std::cerr, false);
    return kExitUsage;
}
