// korrinctl's DWORD and type arguments: a parsed DWORD reads back the same in either base.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "tools/RegText.h"

using namespace korrin::tools;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto type = ParseRegType(text); type && RegTypeName(*type).size() != text.size())
        std::abort();
    auto value = ParseRegDword(text);
    if (!value)
        return 0;
    char decimal[16], hex[16];
    std::snprintf(decimal, sizeof decimal, "%u", *value);
    std::snprintf(hex, sizeof hex, "0x%X", *value);
    if (ParseRegDword(decimal) != value || ParseRegDword(hex) != value)
        std::abort();
    return 0;
}
