// Reading a mime.types file: "type/subtype ext ext ..." lines, '#' comments.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korrin::platform {

// The content type listed for an extension (without its dot, compared without regard to
// case) in the text of a mime.types file; the first line that lists it wins.
std::optional<std::string> MimeTypeForExtension(std::string_view fileText, std::string_view ext);

// The same for the file $KORRIN_MIME_TYPES (default /etc/mime.types), read afresh each call.
std::optional<std::string> SystemMimeTypeForExtension(std::string_view ext);

}  // namespace korrin::platform
