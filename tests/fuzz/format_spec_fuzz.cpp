// korrinctl's format names: arbitrary text never crashes, and a name that parses gives a
// format the codecs accept.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "korrin/audio/FormatSpec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    korrin::platform::WAVEFORMATEX f;
    if (korrin::ParseFormatSpec(std::string_view(reinterpret_cast<const char*>(data), size), f) &&
        !korrin::platform::acmFormatSupported(f))
        std::abort();
    return 0;
}
