// vCard files of any content. Whatever a file holds, a value read from it carries no control
// character (it may end up in a mail header), is UTF-8, and a damaged file gives no card; a
// card written from any name and address reads back with that name and address cleaned.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/mapi/VCard.h"

using namespace korrin::platform::mapi;

namespace {

bool Clean(const std::string& v) {
    for (unsigned char c : v)
        if (c < 0x20 || c == 0x7F)
            return false;
    return true;
}

void Check(bool ok) {
    if (!ok)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const VCardFile file = ParseVCards(text);
    Check(file.error.empty() != file.cards.empty());
    for (const auto& card : file.cards) {
        Check(Clean(card.formattedName) && Clean(card.uid));
        for (const auto& n : card.nicknames)
            Check(Clean(n));
        for (const auto& e : card.emails)
            Check(Clean(e.address) && Clean(e.type) && !e.address.empty());
    }
    (void)FoldCase(text);

    // The first line as a name, the rest as an address, written and read back.
    const auto nl = text.find('\n');
    const std::string name(text.substr(0, nl));
    const std::string address(nl == std::string_view::npos ? "" : text.substr(nl + 1));
    const VCardFile back = ParseVCards(WriteVCard4("urn:uuid:x", name, address));
    Check(back.error.empty() && back.cards.size() == 1);
    return 0;
}
