#include "platform/mapi/TypedRecipients.h"

namespace korrin::platform::mapi {
namespace {

std::string_view TrimView(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

}  // namespace

std::vector<std::string> SplitTypedRecipients(std::string_view text) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    bool quoted = false, angle = false;
    auto flush = [&](std::size_t end) {
        const std::string_view piece = TrimView(text.substr(start, end - start));
        if (!piece.empty())
            pieces.emplace_back(piece);
        start = end + 1;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                quoted = false;
        } else if (angle) {
            if (c == '>')
                angle = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == '<') {
            angle = true;
        } else if (c == ',' || c == ';' || c == '\t') {
            flush(i);
        }
    }
    if (start <= text.size())
        flush(text.size());
    return pieces;
}

bool ParseNameAddress(std::string_view piece, std::string* name, std::string* address) {
    piece = TrimView(piece);
    if (piece.empty() || piece.back() != '>')
        return false;
    // The '<' that opens the address: the last one outside quotes.
    std::size_t open = std::string_view::npos;
    bool quoted = false;
    for (std::size_t i = 0; i + 1 < piece.size(); ++i) {
        const char c = piece[i];
        if (quoted) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == '<') {
            open = i;
        } else if (c == '>') {
            open = std::string_view::npos;  // a closed pair before the end is not the address
        }
    }
    if (open == std::string_view::npos)
        return false;
    const std::string_view addr = TrimView(piece.substr(open + 1, piece.size() - open - 2));
    if (addr.empty() || addr.find_first_of("<>\" ") != std::string_view::npos)
        return false;
    std::string_view rawName = TrimView(piece.substr(0, open));
    std::string unquoted;
    if (rawName.size() >= 2 && rawName.front() == '"' && rawName.back() == '"') {
        rawName = rawName.substr(1, rawName.size() - 2);
        for (std::size_t i = 0; i < rawName.size(); ++i) {
            if (rawName[i] == '\\' && i + 1 < rawName.size())
                ++i;
            unquoted += rawName[i];
        }
    } else {
        unquoted.assign(rawName);
    }
    *name = std::string(TrimView(unquoted));
    *address = std::string(addr);
    return true;
}

}  // namespace korrin::platform::mapi
