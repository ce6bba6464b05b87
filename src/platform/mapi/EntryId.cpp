#include "platform/mapi/EntryId.h"

#include <cstring>

namespace korrin::platform::mapi_detail {

namespace {

constexpr char kMagic[4] = {'K', 'r', 'E', '1'};
constexpr std::size_t kMaxText = 512;

void putText(std::string* out, const std::string& s) {
    std::size_t n = s.size() > kMaxText ? kMaxText : s.size();
    out->push_back(static_cast<char>(n & 0xFF));
    out->push_back(static_cast<char>(n >> 8));
    out->append(s, 0, n);
}

bool getText(const unsigned char*& p, const unsigned char* end, std::string* s) {
    if (end - p < 2)
        return false;
    std::size_t n = static_cast<std::size_t>(p[0]) | (static_cast<std::size_t>(p[1]) << 8);
    p += 2;
    if (n > kMaxText || static_cast<std::size_t>(end - p) < n)
        return false;
    s->assign(reinterpret_cast<const char*>(p), n);
    p += n;
    return true;
}

bool validProfile(std::string_view s) {
    if (s.empty() || s.size() > 64)
        return false;
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7F || c == '\\')
            return false;
    return true;
}

}  // namespace

bool IsStoreFolder(std::string_view folder) {
    return folder.empty() || folder == "Outbox" || folder == "Sent" || folder == "Trash";
}

bool IsUniqueName(std::string_view name) {
    if (name.empty() || name.size() > 200 || name[0] == '.')
        return false;
    for (char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '.' || c == ',' || c == '_' || c == '-' || c == '=';
        if (!ok)
            return false;
    }
    return true;
}

std::string EncodeEntryId(const EntryRef& ref) {
    std::string out(4, '\0');
    out.append(kMagic, sizeof kMagic);
    out.push_back(static_cast<char>(ref.kind));
    putText(&out, ref.profile);
    putText(&out, ref.folder);
    putText(&out, ref.message);
    return out;
}

bool DecodeEntryId(const void* data, std::size_t size, EntryRef* ref) {
    if (!data || !ref || size < 9 || size > 4 + 4 + 1 + 3 * (2 + kMaxText))
        return false;
    const auto* p = static_cast<const unsigned char*>(data);
    const unsigned char* end = p + size;
    if (p[0] || p[1] || p[2] || p[3] || std::memcmp(p + 4, kMagic, 4) != 0)
        return false;
    p += 8;
    EntryRef r;
    unsigned kind = *p++;
    if (kind < 1 || kind > 4)
        return false;
    r.kind = static_cast<EntryKind>(kind);
    if (!getText(p, end, &r.profile) || !getText(p, end, &r.folder) ||
        !getText(p, end, &r.message) || p != end)
        return false;
    if (!validProfile(r.profile))
        return false;
    switch (r.kind) {
        case EntryKind::kStore:
        case EntryKind::kIdentity:
            if (!r.folder.empty() || !r.message.empty())
                return false;
            break;
        case EntryKind::kFolder:
            if (!IsStoreFolder(r.folder) || !r.message.empty())
                return false;
            break;
        case EntryKind::kMessage:
            if (!IsStoreFolder(r.folder) || !IsUniqueName(r.message))
                return false;
            break;
    }
    *ref = std::move(r);
    return true;
}

}  // namespace korrin::platform::mapi_detail
