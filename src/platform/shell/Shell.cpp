#include "platform/shell/Shell.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/process/CommandLine.h"
#include "platform/process/Process.h"

namespace korrin::platform {

namespace {

bool isAsciiAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isSchemeChar(char c) {
    return isAsciiAlpha(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

// A single letter before ':' is a drive, not a scheme; it is left alone.
std::string withLowerCaseScheme(std::string target) {
    auto colon = target.find(':');
    if (colon == std::string::npos || colon < 2 || !isAsciiAlpha(target[0]))
        return target;
    for (std::size_t i = 1; i < colon; ++i)
        if (!isSchemeChar(target[i]))
            return target;
    for (std::size_t i = 0; i < colon; ++i)
        if (target[i] >= 'A' && target[i] <= 'Z')
            target[i] = static_cast<char>(target[i] + 32);
    return target;
}

}  // namespace

BOOL ShellExecute(const std::string& verb, const std::string& target) {
    if ((!verb.empty() && verb != "open") || target.empty()) {
        errno = EINVAL;
        return 0;
    }
    std::vector<std::string> argv;
    const char* opener = std::getenv("KORRIN_OPENER");
    if (opener && *opener)
        argv = SplitCommandLine(opener);
    else
        argv = {"xdg-open"};
    if (argv.empty()) {
        errno = EINVAL;
        return 0;
    }
    argv.push_back(withLowerCaseScheme(target));

    // Hidden: a browser started through the opener would otherwise hold our output open
    // for as long as it runs.
    ProcessHandle handle;
    if (!CreateProcess(argv, StartOptions{}, &handle))
        return 0;
    CloseHandle(handle);
    return 1;
}

}  // namespace korrin::platform
