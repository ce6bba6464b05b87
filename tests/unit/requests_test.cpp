// The two line formats the running program reads from outside: the request of a later start
// and the steps of a window script.
#include <gtest/gtest.h>

#include <string>

#include "korrin/app/Requests.h"

namespace korrin {
namespace {

TEST(InstanceRequest, OnlyRaiseAndAnAbsolutePathAreTaken) {
    const std::string longest = "OPEN /" + std::string(kInstanceLineLimit - 6, 'a');
    const struct {
        std::string line;
        InstanceRequest::Kind kind;
        std::string path;
    } cases[] = {
        {"RAISE", InstanceRequest::kRaise, ""},
        {"OPEN /home/ann/a b.kx1", InstanceRequest::kOpen, "/home/ann/a b.kx1"},
        {longest, InstanceRequest::kOpen, longest.substr(5)},
        {longest + "a", InstanceRequest::kInvalid, ""},
        {"OPEN relative.kx0", InstanceRequest::kInvalid, ""},
        {"OPEN ", InstanceRequest::kInvalid, ""},
        {"OPEN  /lead", InstanceRequest::kInvalid, ""},
        {std::string("OPEN /a\0b", 9), InstanceRequest::kInvalid, ""},
        {"OPEN /a\rb", InstanceRequest::kInvalid, ""},
        {"raise", InstanceRequest::kInvalid, ""},
        {"RAISE ", InstanceRequest::kInvalid, ""},
        {"", InstanceRequest::kInvalid, ""},
    };
    for (const auto& c : cases) {
        const InstanceRequest r = ParseInstanceRequest(c.line);
        EXPECT_EQ(r.kind, c.kind) << c.line.substr(0, 40);
        EXPECT_EQ(r.path, c.path) << c.line.substr(0, 40);
    }
}

TEST(ScriptLine, VerbsTakeTheirArgumentsAndNothingElse) {
    const struct {
        const char* line;
        bool ok;
        const char* verb;
        std::vector<long> numbers;
        const char* text;
    } cases[] = {
        {"rows 2 10000", true, "rows", {2, 10000}, ""},
        {"  drag\t0 3  ", true, "drag", {0, 3}, ""},
        {"open /tmp/a b.kx1 ", true, "open", {}, "/tmp/a b.kx1"},
        {"mark show out-of-date", true, "mark", {}, "show out-of-date"},
        {"loaded", true, "loaded", {}, ""},
        {"# a comment", true, "", {}, ""},
        {"", true, "", {}, ""},
        {"rows 2", false, "", {}, ""},
        {"rows 2 3 4", false, "", {}, ""},
        {"sleep -5", false, "", {}, ""},
        {"sleep 5x", false, "", {}, ""},
        {"row 99999999999999999999999", false, "", {}, ""},
        {"open", false, "", {}, ""},
        {"explode 1", false, "", {}, ""},
    };
    for (const auto& c : cases) {
        ScriptStep step;
        std::string error;
        EXPECT_EQ(ParseScriptLine(c.line, &step, &error), c.ok) << c.line;
        EXPECT_EQ(error.empty(), c.ok) << c.line;
        EXPECT_EQ(step.verb, c.verb) << c.line;
        EXPECT_EQ(step.numbers, c.numbers) << c.line;
        EXPECT_EQ(step.text, c.text) << c.line;
    }
}

}  // namespace
}  // namespace korrin
