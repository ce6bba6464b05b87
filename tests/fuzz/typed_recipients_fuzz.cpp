// Address fields as typed. Each piece comes back trimmed and non-empty, a piece read as
// "Name <addr>" has an address without blanks or angle brackets, and splitting is stable:
// a piece split again is itself.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/mapi/TypedRecipients.h"

using namespace korrin::platform::mapi;

namespace {
void Check(bool ok) {
    if (!ok)
        __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const auto& piece : SplitTypedRecipients(text)) {
        Check(!piece.empty() && piece.front() != ' ' && piece.back() != ' ');
        const auto again = SplitTypedRecipients(piece);
        Check(again.size() == 1 && again.front() == piece);
        std::string name, address;
        if (ParseNameAddress(piece, &name, &address))
            Check(!address.empty() && address.find_first_of("<> \"") == std::string::npos);
    }
    return 0;
}
