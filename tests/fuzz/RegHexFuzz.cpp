// korrinctl's hex bytes, and the .reg lines the bytes export to.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/RegText.h"

using namespace korrin::tools;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    auto bytes = ParseRegHex(text);
    if (!bytes)
        return 0;
    std::string commas, run;
    for (auto b : *bytes) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", b);
        commas += (commas.empty() ? "" : ",") + std::string(pair);
        run += pair;
    }
    if (ParseRegHex(commas) != bytes || ParseRegHex(run) != bytes)
        std::abort();

    // Exported as binary: hex after "hex:", wrapped lines of at most 80 columns.
    std::string line = RegFileValue("Wave Format", 3, *bytes);
    if (line.empty() || line.back() != '\n')
        std::abort();
    std::size_t start = 0;
    for (std::size_t eol; (eol = line.find('\n', start)) != std::string::npos; start = eol + 1)
        if (eol - start > 80)
            std::abort();
    return 0;
}
