#include "platform/process/CommandLine.h"

namespace korrin::platform {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
    std::vector<std::string> args;
    const std::size_t n = commandLine.size();
    std::size_t i = 0;
    for (;;) {
        while (i < n && isBlank(commandLine[i]))
            ++i;
        if (i == n)
            break;
        std::string arg;
        bool quoted = false;
        while (i < n) {
            char c = commandLine[i];
            if (quoted) {
                if (c == '"') {
                    if (i + 1 < n && commandLine[i + 1] == '"') {
                        arg += '"';
                        i += 2;
                        continue;
                    }
                    quoted = false;
                } else {
                    arg += c;
                }
            } else if (isBlank(c)) {
                break;
            } else if (c == '"') {
                quoted = true;
            } else {
                arg += c;
            }
            ++i;
        }
        // An unclosed quote simply runs to the end: the text is the user's, not an error.
        args.push_back(std::move(arg));
    }
    return args;
}

std::string QuoteArgument(std::string_view arg) {
    bool needsQuotes = arg.empty();
    for (char c : arg)
        needsQuotes = needsQuotes || isBlank(c) || c == '"';
    if (!needsQuotes)
        return std::string(arg);
    std::string quoted = "\"";
    for (char c : arg) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

}  // namespace korrin::platform
