// The program's command line.
//
// The command line is the text after the program name: the arguments joined by single blanks
// (a desktop file or a shell passes a path as one argument, already without quotes). It is
//  - empty: the main window opens on the message folders;
//  - text beginning with '?': the usage box is shown and the program ends;
//  - a path enclosed in double quotes: the quotes are dropped;
//  - anything else: taken as the path as it stands (an unquoted path is what a Linux shell
//    or desktop file hands over, so dropping its first and last characters would be wrong).
#pragma once

#include <string>
#include <string_view>

namespace korrin {

struct CommandLine {
    enum Kind { kNone, kUsage, kFile };
    Kind kind = kNone;
    std::string path;  // kFile only
};

CommandLine ParseCommandLine(std::string_view text);
std::string JoinArguments(int argc, char** argv);

inline constexpr const char* kUsageText = "Korrin <file name>";

}  // namespace korrin
