// The command families of korrinctl. Each *Command.cpp file registers its area with a static
// KorrinctlArea object; korrinctl.cpp lists them in the order of their rank.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace korrin::tools {

// Exit statuses shared by every korrinctl area; scripts test for kExitNotFound.
constexpr int kExitOk = 0;
constexpr int kExitNotFound = 1;
constexpr int kExitUsage = 2;
constexpr int kExitFailed = 3;  // the registry (or another store) could not be used

using AreaRun = int (*)(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

struct Area {
    int rank;  // place in the help text
    const char* name;
    const char* summary;
    const char* usage;
    AreaRun run;
};

// Registers an area at start-up (a static object in the area's file).
struct KorrinctlArea {
    explicit KorrinctlArea(const Area& area);
};

// Every registered area, by rank.
std::vector<Area> Areas();

}  // namespace korrin::tools
