#include "korrin/app/Requests.h"

#include <cerrno>
#include <cstdlib>

namespace korrin {

InstanceRequest ParseInstanceRequest(std::string_view line) {
    InstanceRequest r;
    if (line.size() > kInstanceLineLimit)
        return r;
    if (line == "RAISE") {
        r.kind = InstanceRequest::kRaise;
        return r;
    }
    constexpr std::string_view open = "OPEN ";
    if (line.substr(0, open.size()) != open)
        return r;
    const std::string_view path = line.substr(open.size());
    if (path.empty() || path.front() != '/' ||
        path.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos)
        return r;
    r.kind = InstanceRequest::kOpen;
    r.path.assign(path);
    return r;
}

namespace {

struct Verb {
    std::string_view name;
    int numbers;
    bool text;
};

constexpr Verb kVerbs[] = {
    {"loaded", 0, false}, {"folder", 1, false},  {"stale", 1, false},   {"rows", 2, false},
    {"row", 1, false},    {"command", 1, false}, {"move-to", 1, false}, {"drag", 2, false},
    {"open", 0, true},    {"minute", 1, false},  {"idle", 0, false},    {"sleep", 1, false},
    {"mark", 0, true},    {"quit", 0, false},
};

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view nextWord(std::string_view& rest) {
    std::size_t i = 0;
    while (i < rest.size() && isBlank(rest[i]))
        ++i;
    std::size_t j = i;
    while (j < rest.size() && !isBlank(rest[j]))
        ++j;
    std::string_view word = rest.substr(i, j - i);
    rest.remove_prefix(j);
    return word;
}

bool fail(ScriptStep* step, std::string* error, std::string text) {
    *step = ScriptStep();  // nothing of a refused line is kept
    if (error)
        *error = std::move(text);
    return false;
}

}  // namespace

bool ParseScriptLine(std::string_view line, ScriptStep* step, std::string* error) {
    *step = ScriptStep();
    std::string_view rest = line;
    const std::string_view verb = nextWord(rest);
    if (verb.empty() || verb.front() == '#')
        return true;
    const Verb* known = nullptr;
    for (const Verb& v : kVerbs)
        if (v.name == verb)
            known = &v;
    if (!known)
        return fail(step, error, "unknown step: " + std::string(verb));
    for (int i = 0; i < known->numbers; ++i) {
        const std::string word(nextWord(rest));
        char* end = nullptr;
        errno = 0;
        const long n = word.empty() ? 0 : std::strtol(word.c_str(), &end, 10);
        if (word.empty() || *end != '\0' || errno != 0 || n < 0)
            return fail(step, error, std::string(verb) + ": a number is missing or wrong");
        step->numbers.push_back(n);
    }
    while (!rest.empty() && isBlank(rest.front()))
        rest.remove_prefix(1);
    while (!rest.empty() && isBlank(rest.back()))
        rest.remove_suffix(1);
    if (known->text) {
        if (rest.empty())
            return fail(step, error, std::string(verb) + ": the text is missing");
        step->text.assign(rest);
    } else if (!rest.empty()) {
        return fail(step, error, std::string(verb) + ": too many arguments");
    }
    step->verb.assign(verb);
    return true;
}

}  // namespace korrin
