// The desktop shell: opening a web address, a mail address or a file with the user's
// preferred program. The opener is $KORRIN_OPENER when set (a command line; tests point it
// at a recorder), else xdg-open. The opener is not waited for.
#pragma once

#include <string>

#include "platform/Win32Types.h"

namespace korrin::platform {

// verb is "open" or "" (the default action); both open. A URL scheme is passed in lower
// case ("mailTo:x" becomes "mailto:x"): schemes compare without regard to case, but
// handlers are registered under the lower-case name. Nonzero when the opener started.
BOOL ShellExecute(const std::string& verb, const std::string& target);

}  // namespace korrin::platform
