// Two small line formats the running program reads from outside.
//
// The request line a later start sends to the running program over the local socket, without
// its newline: "RAISE" (show yourself) or "OPEN /absolute/path" (open this message file).
//
// The lines of a window script (KORRIN_SCRIPT), which drives the main window without a person
// for benchmarks and kill tests: one step per line, a verb and its arguments separated by
// blanks; blank lines and lines starting with '#' are skipped.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace korrin {

// A request longer than this (the word, the blank and a path) is refused unread.
inline constexpr std::size_t kInstanceLineLimit = 8192;

struct InstanceRequest {
    enum Kind { kInvalid, kRaise, kOpen };
    Kind kind = kInvalid;
    std::string path;  // kOpen only: absolute, without NUL or line breaks
};

InstanceRequest ParseInstanceRequest(std::string_view line);

struct ScriptStep {
    std::string verb;           // empty for a line to skip
    std::vector<long> numbers;  // the numeric arguments, as many as the verb takes
    std::string text;           // the rest of the line, for verbs that take a text
};

// The verbs, their numeric arguments and whether a text follows:
//   loaded                 wait until the start-up scan is done
//   folder N               select folder N in the tree
//   stale N                mark folder N out of date
//   rows N C               wait until folder N is shown with C rows
//   row I                  select row I of the list
//   command ID             run command ID (menu or toolbar)
//   move-to N              in the Move dialog, choose folder N and press OK (no dialog
//                          within a second: nothing)
//   drag I N               drag row I onto folder N of the tree
//   open PATH              open a message file as one handed over by another start
//   minute MS              one "minute" of the Outbox timer lasts MS milliseconds
//   idle                   wait until no session sends
//   sleep MS               wait MS milliseconds
//   mark NAME              write the stall probe's figures for the phase that ends here
//   quit                   end the program the way log-out does
// False for an unknown verb or wrong arguments; why goes to *error.
bool ParseScriptLine(std::string_view line, ScriptStep* step, std::string* error = nullptr);

}  // namespace korrin
