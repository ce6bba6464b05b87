// mime.types text after a first line that names the extension to look up.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/registry/MimeTypes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t eol = input.find('\n');
    std::string_view ext = input.substr(0, eol);
    std::string_view file =
        eol == std::string_view::npos ? std::string_view() : input.substr(eol + 1);
    auto type = korrin::platform::MimeTypeForExtension(file, ext);
    if (!type)
        return 0;
    // A type is one word of the file, outside comments, with a slash in it.
    if (type->empty() || type->find('/') == std::string::npos ||
        type->find_first_of(" \t\r\n#") != std::string::npos ||
        file.find(*type) == std::string_view::npos || ext.empty())
        std::abort();
    return 0;
}
