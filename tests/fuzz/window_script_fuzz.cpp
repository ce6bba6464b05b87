// A window script line: whatever the text, a parsed step has a known verb with the right
// arguments, and a refused line says why.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "korrin/app/Requests.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    korrin::ScriptStep step;
    std::string error;
    if (!korrin::ParseScriptLine(line, &step, &error)) {
        if (error.empty() || !step.verb.empty())
            std::abort();
        return 0;
    }
    if (step.verb.empty())
        return 0;
    if (line.find(step.verb) == std::string_view::npos)
        std::abort();
    for (long n : step.numbers)
        if (n < 0)
            std::abort();
    if (!step.text.empty() && line.find(step.text) == std::string_view::npos)
        std::abort();
    // What was read once reads the same again.
    korrin::ScriptStep again;
    if (!korrin::ParseScriptLine(line, &again) || again.verb != step.verb ||
        again.numbers != step.numbers || again.text != step.text)
        std::abort();
    return 0;
}
