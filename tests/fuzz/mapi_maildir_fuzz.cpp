// Maildir file names and mail headers are written by other programs. The first byte picks the
// parser: a file name must give a unique part without '/' or ':' and flags in order; the
// header reader must give one value per name asked for, without line breaks.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mapi/Maildir.h"
#include "platform/mapi/Mapi.h"

using namespace korrin::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] & 1) {
        std::string unique, flags;
        if (mapi_detail::ParseMaildirName(text, &unique, &flags)) {
            if (unique.empty() || unique.find_first_of("/:") != std::string::npos)
                std::abort();
            if (flags != mapi_detail::NormalFlags(flags))
                std::abort();
        }
        return 0;
    }
    std::vector<std::string> values;
    ReadMailHeaders(text, {"Date", "From", "To", "Subject"}, &values);
    if (values.size() != 4)
        std::abort();
    for (const auto& v : values)
        if (v.find('\n') != std::string::npos)
            std::abort();
    return 0;
}
