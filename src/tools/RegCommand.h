// korrinctl reg: query, set, delete and export the registry database from a shell.
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

extern const char kRegUsage[];

// args are what follows "korrinctl reg".
int RunRegCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace korrin::tools
