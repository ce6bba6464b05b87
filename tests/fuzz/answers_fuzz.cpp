// The scripted answers list: one entry per non-blank comma field, each an answer a box has or
// an empty place, and a recognised word names itself back.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/Text.h"
#include "platform/seam/MessageSeam.h"

using namespace korrin::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view list(reinterpret_cast<const char*>(data), size);
    auto answers = ParseAnswerList(list);
    std::size_t fields = 0;
    for (std::size_t start = 0; start <= list.size();) {
        auto comma = list.find(',', start);
        auto field = list.substr(start, comma == std::string_view::npos ? comma : comma - start);
        if (field.find_first_not_of(" \t") != std::string_view::npos)
            ++fields;
        if (comma == std::string_view::npos)
            break;
        start = comma + 1;
    }
    if (answers.size() != fields)
        std::abort();
    for (const auto& a : answers)
        if (a && !ParseAnswer(AnswerName(*a)))
            std::abort();
    return 0;
}
