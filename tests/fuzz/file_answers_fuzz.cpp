// The file dialogs' answers file: every answer is one whole line's text, never blank, never
// holding a line break or starting or ending in a blank, and no more answers than lines.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/seam/FileAnswers.h"

using namespace korrin::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto answers = ParseFileAnswers(text);
    const std::size_t lines = std::count(text.begin(), text.end(), '\n') + 1;
    if (answers.size() > lines)
        std::abort();
    for (const auto& a : answers) {
        if (a.empty() || a.find('\n') != std::string::npos)
            std::abort();
        for (char edge : {a.front(), a.back()})
            if (edge == ' ' || edge == '\t' || edge == '\r')
                std::abort();
        if (text.find(a) == std::string_view::npos)
            std::abort();
    }
    return 0;
}
