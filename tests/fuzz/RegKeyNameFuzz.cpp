// korrinctl's key names: whatever parses prints back to the same key.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/RegText.h"

using namespace korrin::tools;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    auto key = ParseRegKeyName(text, &error);
    if (!key) {
        if (error.empty())
            std::abort();
        return 0;
    }
    for (const auto& c : key->path)
        if (c.empty() || c.size() > 255 || c.find('\\') != std::string::npos)
            std::abort();
    auto again = ParseRegKeyName(FullRegKeyName(*key), nullptr);
    if (!again || again->root != key->root || again->path != key->path)
        std::abort();
    return 0;
}
