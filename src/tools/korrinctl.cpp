// korrinctl <area> ...: the command-line companion. Each area (reg, and later message files
// and sending) is one entry of kAreas with its own usage text.
#include <iostream>
#include <string>
#include <vector>

#include "tools/RegCommand.h"

namespace {

using namespace korrin::tools;

struct Area {
    const char* name;
    const char* summary;
    const char* usage;
    int (*run)(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
};

const Area kAreas[] = {
    {"reg", "read and change the registry database", kRegUsage, RunRegCommand},
};

void printUsage(std::ostream& out, bool full) {
    out << "Usage: korrinctl <area> <command> [<argument>...]\n"
           "       korrinctl --help | korrinctl <area> --help\n\nAreas:\n";
    for (const auto& area : kAreas)
        out << "  " << area.name << "  " << area.summary << "\n";
    if (!full)
        return;
    for (const auto& area : kAreas)
        out << "\n" << area.usage;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        printUsage(std::cerr, false);
        return kExitUsage;
    }
    const std::string first = argv[1];
    if (first == "--help" || first == "-h" || first == "help") {
        printUsage(std::cout, true);
        return kExitOk;
    }
    for (const auto& area : kAreas) {
        if (first != area.name)
            continue;
        std::vector<std::string> args(argv + 2, argv + argc);
        int status = area.run(args, std::cout, std::cerr);
        std::cout.flush();
        // Output that could not be written (a full disk, a closed pipe) is a failure too.
        return std::cout ? status : kExitFailed;
    }
    std::cerr << "korrinctl: unknown area '" << first << "'\n";
    printUsage(std::cerr, false);
    return kExitUsage;
}
