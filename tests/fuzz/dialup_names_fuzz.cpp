// nmcli's terse list of connection names: every name is one line's worth, never blank, and
// escapes are undone, so a name never holds a line end.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/shell/DialUp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const auto& name : korrin::platform::ParseTerseNames(text)) {
        if (name.find('\n') != std::string::npos || name.size() > text.size())
            std::abort();
        if (name.find_first_not_of(" \t") == std::string::npos)
            std::abort();
    }
    return 0;
}
