// korrinctl reg: query, set, delete and export the registry database from a shell.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "tools/Area.h"

namespace korrin::tools {

extern const char kRegUsage[];

// args are what follows "korrinctl reg".
int RunRegCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace korrin::tools
