// Recipients as a person types them into an address field: "Bob; carol@example.org",
// "Carol Singer <carol@example.org>", "\"Doe, Jane\" <jane@example.org>". No Qt; safe from any
// thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korrin::platform::mapi {

// Splits a field at ",", ";" and TAB, except inside double quotes (a backslash escapes the
// next character there) and inside "<...>". Each piece is trimmed of blanks; empty pieces are
// dropped. An unclosed quote or '<' runs to the end of the text.
std::vector<std::string> SplitTypedRecipients(std::string_view text);

// Reads one piece as "Name <addr>", "\"Name\" <addr>" or "<addr>": the name unquoted and
// trimmed ("" when none), the address trimmed. False when the piece has no "<...>" with an
// address in it, or text after the '>'.
bool ParseNameAddress(std::string_view piece, std::string* name, std::string* address);

}  // namespace korrin::platform::mapi
