// Splitting a command line into arguments the way the programs it comes from expect:
// blanks and TABs separate arguments; a double quote starts or ends a quoted stretch in
// which blanks are kept; two double quotes inside a quoted stretch stand for one. No other
// character is special (backslashes stay as they are: they may be part of a path).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korrin::platform {

std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// The reverse: quotes an argument when it is empty or holds a blank, TAB or quote.
std::string QuoteArgument(std::string_view arg);

}  // namespace korrin::platform
