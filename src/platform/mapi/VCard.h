// vCard files (versions 3.0 and 4.0, and the 2.1 quoted-printable values older exports
// carry): reading the few properties the address book uses out of a file of one or more
// cards, and writing one new card. No Qt; every function is safe from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korrin::platform::mapi {

struct VCardEmail {
    std::string address;
    std::string type;  // the group's X-ABLABEL, else the TYPE values other than "internet"
                       // and "pref" as written, joined with ','; "" when none
};

struct VCardContact {
    std::string uid;
    std::string formattedName;           // FN, else N's given and family names, else ""
    std::vector<std::string> nicknames;  // NICKNAME's comma-separated values
    std::vector<VCardEmail> emails;      // in file order
};

struct VCardFile {
    std::vector<VCardContact> cards;
    // Empty when the text read whole; else why it is damaged (then cards is empty: a file
    // that is damaged anywhere is not trusted anywhere).
    std::string error;
};

// Reads every card of text. Lines end in CRLF or LF and are unfolded (a line beginning with a
// blank or TAB continues the one before); names and parameters match without regard to case;
// a property may carry a group ("item1.EMAIL"). Values are unescaped (\n \, \; \\),
// quoted-printable ones decoded, and every control character in them becomes a blank, so no
// value can carry a line into a mail header. Damaged: no card at all, a card without its END,
// a card inside a card, a line without ':' inside a card, text outside cards, a NUL byte, or
// a card of a VERSION other than 2.1, 3.0 and 4.0.
VCardFile ParseVCards(std::string_view text);

// One new vCard 4.0 card (CRLF line ends, lines folded at 75 bytes on UTF-8 boundaries,
// values escaped, control characters made blanks) for a contact of that name and address.
std::string WriteVCard4(const std::string& uid, const std::string& name,
                        const std::string& address);

// Lower-case form used to compare names and addresses "in any case": ASCII, Latin-1, Latin
// Extended-A, Greek and Cyrillic capitals fold; other bytes are kept.
std::string FoldCase(std::string_view text);

}  // namespace korrin::platform::mapi
