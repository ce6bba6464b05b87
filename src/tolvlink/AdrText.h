// The texts of the library's address lists: typed recipient texts split into entries, entries
// joined into the lists handed back to the program, and copies into the caller's fixed
// buffers. No MAPI in here, so the rules can be exercised on their own.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace korrin::tolvlink {

// Recipients in typed text are separated by ",", ";" and TAB.
inline constexpr std::string_view kRecipientSeparators = ",;\t";
// The names lists handed back hold at most this many bytes (without the NUL).
inline constexpr std::size_t kNamesListLimit = 4095;
// What ends a names list that had to leave entries out.
inline constexpr std::string_view kListCut = "...";

// An upper bound of the entries in text: 0 when it is empty, else 1 plus its separators.
std::size_t EstimateEntries(std::string_view text);

// Cuts text in place at the separators and returns its non-empty pieces, each without the
// blanks around it. Pieces of blanks only, ";;" and a trailing separator give no entry.
std::vector<char*> SplitRecipients(char* text);

// Joins entries with "; ". limit 0: never cut (address lists, which are sent and stored).
// Otherwise the result holds at most limit bytes: when the next entry with its separator
// would not fit, "..." is appended instead (earlier entries give way until it fits too) and
// the list ends.
std::string JoinEntries(const std::vector<std::string>& entries, std::size_t limit);

// Copies text into a buffer of size bytes (size >= 1), NUL-terminated, cut so that no
// multi-byte UTF-8 character is split.
void CopyCut(char* out, std::size_t size, std::string_view text);

// The longest prefix of text of at most max bytes that ends on a UTF-8 character boundary.
std::size_t Utf8Prefix(std::string_view text, std::size_t max);

}  // namespace korrin::tolvlink
