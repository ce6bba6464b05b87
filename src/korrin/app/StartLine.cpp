#include "korrin/app/StartLine.h"

namespace korrin {

CommandLine ParseCommandLine(std::string_view text) {
    CommandLine result;
    if (text.empty())
        return result;
    if (text.front() == '?') {
        result.kind = CommandLine::kUsage;
        return result;
    }
    result.kind = CommandLine::kFile;
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        text = text.substr(1, text.size() - 2);
    result.path = std::string(text);
    return result;
}

std::string JoinArguments(int argc, char** argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            text += ' ';
        text += argv[i];
    }
    return text;
}

}  // namespace korrin
