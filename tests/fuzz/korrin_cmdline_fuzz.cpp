// The program's command line: whatever the text, it is one of the three forms, and a path
// keeps every character between the quotes.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "korrin/app/StartLine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    korrin::CommandLine c = korrin::ParseCommandLine(text);
    if (text.empty() != (c.kind == korrin::CommandLine::kNone))
        std::abort();
    if (c.kind == korrin::CommandLine::kFile && c.path.size() + 2 < text.size())
        std::abort();
    if (c.kind == korrin::CommandLine::kFile && text.find(c.path) == std::string_view::npos)
        std::abort();
    return 0;
}
