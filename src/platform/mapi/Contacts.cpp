#include "platform/mapi/Contacts.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <random>

#include "platform/Text.h"
#include "platform/files/Files.h"
#include "platform/mapi/TypedRecipients.h"

namespace korrin::platform::mapi {
namespace {

bool IsVCardName(std::string_view name) {
    return name.size() > 4 && name.front() != '.' &&
           EqualsNoCase(name.substr(name.size() - 4), ".vcf");
}

std::int64_t MtimeNs(const struct stat& st) {
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// Reads the whole file; false with a reason.
bool ReadWhole(int fd, std::uint64_t size, std::string* text, std::string* reason) {
    text->resize(size);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = read(fd, text->data() + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *reason = std::string("cannot be read: ") + std::strerror(errno);
            return false;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    text->resize(got);
    return true;
}

std::string RandomUuid() {
    std::random_device rd;
    unsigned char b[16];
    for (auto& x : b)
        x = static_cast<unsigned char>(rd());
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            out += '-';
        out += hex[b[i] >> 4];
        out += hex[b[i] & 15];
    }
    return out;
}

bool MakeFolders(const std::string& path) {
    std::string sofar;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || (path[i] == '/' && i > 0)) {
            sofar = path.substr(0, i);
            if (mkdir(sofar.c_str(), 0700) != 0 && errno != EEXIST)
                return false;
        }
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool IsBareAddress(std::string_view text) {
    const auto at = text.find('@');
    if (at == std::string_view::npos || at == 0 || at + 1 == text.size() ||
        text.find('@', at + 1) != std::string_view::npos)
        return false;
    for (char c : text)
        if (c == ' ' || c == '\t' || c == '<' || c == '>' || c == ',' || c == ';' || c == '"' ||
            static_cast<unsigned char>(c) < 0x20)
            return false;
    return true;
}

ContactFolder::ContactFolder(std::string folder) : folder_(std::move(folder)) {
    while (folder_.size() > 1 && folder_.back() == '/')
        folder_.pop_back();
}

ContactFolder::~ContactFolder() {
    if (notifyFd_ >= 0)
        close(notifyFd_);
}

void ContactFolder::Refresh() {
    if (scanned_ && watch_ >= 0 && drainNotices())
        return;
    fullScan();
}

// Reads the queued notices and re-reads the files they name. False when they cannot be
// trusted (the queue overflowed, the folder itself went or moved).
bool ContactFolder::drainNotices() {
    alignas(struct inotify_event) char buffer[16384];
    bool changed = false;
    for (;;) {
        const ssize_t n = read(notifyFd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (ssize_t off = 0; off < n;) {
            const auto* ev = reinterpret_cast<const struct inotify_event*>(buffer + off);
            off += static_cast<ssize_t>(sizeof(struct inotify_event) + ev->len);
            if (ev->mask & (IN_Q_OVERFLOW | IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
                close(notifyFd_);
                notifyFd_ = watch_ = -1;
                return false;
            }
            if (ev->len == 0)
                continue;
            const std::string name(ev->name);
            if (!IsVCardName(name))
                continue;
            changed = true;
            if (ev->mask & (IN_DELETE | IN_MOVED_FROM))
                files_.erase(name);
            else
                readOne(name, -1);
        }
    }
    if (changed)
        rebuild();
    return true;
}

void ContactFolder::fullScan() {
    if (notifyFd_ < 0) {
        notifyFd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        watch_ = -1;
    }
    if (notifyFd_ >= 0 && watch_ < 0) {
        // Watched before the scan, so a change made during it is read again at the next use.
        watch_ =
            inotify_add_watch(notifyFd_, folder_.c_str(),
                              IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_CREATE |
                                  IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
        if (watch_ >= 0) {
            // Notices queued before this watch (of an earlier one) are stale.
            char drain[4096];
            while (read(notifyFd_, drain, sizeof drain) > 0) {
            }
        }
    }
    std::map<std::string, FileState> seen;
    DIR* dir = opendir(folder_.c_str());
    if (!dir) {
        files_.clear();
        scanned_ = true;
        rebuild();
        return;
    }
    const int dfd = dirfd(dir);
    std::vector<std::string> toRead;
    while (const struct dirent* de = readdir(dir)) {
        const std::string name(de->d_name);
        if (!IsVCardName(name) ||
            (de->d_type != DT_REG && de->d_type != DT_LNK && de->d_type != DT_UNKNOWN))
            continue;
        // A file read before is kept while its time, size and inode are those it had.
        auto old = files_.find(name);
        if (old != files_.end()) {
            struct stat st {};
            if (fstatat(dfd, name.c_str(), &st, 0) == 0 && old->second.mtimeNs == MtimeNs(st) &&
                old->second.size == static_cast<std::uint64_t>(st.st_size) &&
                old->second.inode == st.st_ino) {
                seen.emplace(name, std::move(old->second));
                continue;
            }
        }
        toRead.push_back(name);
    }
    files_ = std::move(seen);
    for (const auto& name : toRead)
        readOne(name, dfd);
    closedir(dir);
    scanned_ = true;
    rebuild();
}

// Reads one file (opened in dirFd when that is given) into files_; a file that went is dropped.
void ContactFolder::readOne(const std::string& name, int dirFd) {
    FileState state;
    const int fd = dirFd >= 0
                       ? openat(dirFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)
                       : open((folder_ + "/" + name).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) {
            files_.erase(name);
            return;
        }
        state.skipped = std::string("cannot be opened: ") + std::strerror(errno);
        files_[name] = std::move(state);
        return;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        files_.erase(name);
        return;
    }
    state.mtimeNs = MtimeNs(st);
    state.size = static_cast<std::uint64_t>(st.st_size);
    state.inode = st.st_ino == 0 ? 1 : st.st_ino;
    if (state.size > kMaxVCardFileSize) {
        state.skipped = "larger than 4 MiB";
    } else {
        std::string text, reason;
        if (!ReadWhole(fd, state.size, &text, &reason)) {
            state.skipped = reason;
        } else {
            VCardFile parsed = ParseVCards(text);
            if (!parsed.error.empty()) {
                state.skipped = "damaged: " + parsed.error;
            } else {
                for (auto& card : parsed.cards) {
                    std::vector<std::string> foldNicks;
                    for (const auto& nick : card.nicknames)
                        foldNicks.push_back(FoldCase(nick));
                    for (auto& email : card.emails) {
                        ContactEntry e;
                        e.name = card.formattedName.empty() ? email.address : card.formattedName;
                        e.address = email.address;
                        e.type = email.type;
                        e.foldType = FoldCase(e.type);
                        e.nicknames = card.nicknames;
                        e.file = name;
                        e.uid = card.uid;
                        e.foldName = FoldCase(e.name);
                        e.foldAddress = FoldCase(e.address);
                        e.foldNicknames = foldNicks;
                        state.entries.push_back(std::move(e));
                    }
                }
            }
        }
    }
    close(fd);
    files_[name] = std::move(state);
}

void ContactFolder::rebuild() {
    entries_.clear();
    for (const auto& [name, state] : files_)
        for (const auto& e : state.entries)
            entries_.push_back(&e);
    std::sort(entries_.begin(), entries_.end(), [](const ContactEntry* a, const ContactEntry* b) {
        if (a->foldName != b->foldName)
            return a->foldName < b->foldName;
        if (a->foldType != b->foldType)
            return a->foldType < b->foldType;
        return a->foldAddress < b->foldAddress;
    });
    keys_.clear();
    for (const ContactEntry* e : entries_) {
        keys_.push_back({e->foldName, e});
        keys_.push_back({e->foldAddress, e});
        for (const auto& nick : e->foldNicknames)
            keys_.push_back({nick, e});
    }
    std::sort(keys_.begin(), keys_.end(),
              [](const Key& a, const Key& b) { return a.text < b.text; });
}

std::vector<SkippedFile> ContactFolder::Skipped() const {
    std::vector<SkippedFile> out;
    for (const auto& [name, state] : files_)
        if (!state.skipped.empty())
            out.push_back({name, state.skipped});
    return out;
}

std::vector<const ContactEntry*> ContactFolder::Search(std::string_view text) const {
    std::vector<const ContactEntry*> out;
    const std::string needle = FoldCase(text);
    for (const ContactEntry* e : entries_) {
        bool hit = needle.empty() || e->foldName.find(needle) != std::string::npos ||
                   e->foldAddress.find(needle) != std::string::npos;
        for (std::size_t k = 0; !hit && k < e->foldNicknames.size(); ++k)
            hit = e->foldNicknames[k].find(needle) != std::string::npos;
        if (hit)
            out.push_back(e);
    }
    return out;
}

Resolution ContactFolder::Resolve(std::string_view typed) const {
    Resolution r;
    std::string name, address;
    if (ParseNameAddress(typed, &name, &address)) {
        r.kind = Resolution::kItself;
        r.name = name.empty() ? address : name;
        r.address = address;
        return r;
    }
    while (!typed.empty() && (typed.front() == ' ' || typed.front() == '\t'))
        typed.remove_prefix(1);
    while (!typed.empty() && (typed.back() == ' ' || typed.back() == '\t'))
        typed.remove_suffix(1);
    if (typed.empty())
        return r;
    if (IsBareAddress(typed)) {
        r.kind = Resolution::kItself;
        r.name = r.address = std::string(typed);
        return r;
    }
    const std::string needle = FoldCase(typed);
    // The keys that begin with the text: exact ones first in key order, then longer ones.
    // An entry may carry several matching keys (a name and a nickname); it counts once, by
    // its best match.
    std::vector<const ContactEntry*> exacts, prefixes;
    auto it = std::lower_bound(keys_.begin(), keys_.end(), std::string_view(needle),
                               [](const Key& k, std::string_view n) { return k.text < n; });
    for (; it != keys_.end() && it->text.substr(0, needle.size()) == needle; ++it)
        (it->text.size() == needle.size() ? exacts : prefixes).push_back(it->entry);
    auto distinct = [](std::vector<const ContactEntry*>& v) {
        std::sort(v.begin(), v.end());
        v.erase(std::unique(v.begin(), v.end()), v.end());
    };
    distinct(exacts);
    distinct(prefixes);
    const int exactCount = static_cast<int>(exacts.size());
    const ContactEntry* exact = exactCount ? exacts.front() : nullptr;
    std::vector<const ContactEntry*> prefixOnly;
    std::set_difference(prefixes.begin(), prefixes.end(), exacts.begin(), exacts.end(),
                        std::back_inserter(prefixOnly));
    const int prefixCount = static_cast<int>(prefixOnly.size());
    const ContactEntry* prefix = prefixCount ? prefixOnly.front() : nullptr;
    const ContactEntry* chosen = nullptr;
    if (exactCount == 1)
        chosen = exact;
    else if (exactCount == 0 && prefixCount == 1)
        chosen = prefix;
    if (!chosen) {
        r.kind = exactCount + prefixCount == 0 ? Resolution::kNone : Resolution::kAmbiguous;
        return r;
    }
    r.kind = Resolution::kContact;
    r.name = chosen->name;
    r.address = chosen->address;
    r.entry = chosen;
    return r;
}

bool ContactFolder::AddContact(const std::string& name, const std::string& address,
                               std::string* path, std::string* error) {
    auto trimmed = [](const std::string& s) {
        const auto b = s.find_first_not_of(" \t");
        return b == std::string::npos ? std::string()
                                      : s.substr(b, s.find_last_not_of(" \t") - b + 1);
    };
    if (trimmed(name).empty()) {
        *error = "The contact has no name.";
        return false;
    }
    if (!IsBareAddress(trimmed(address))) {
        *error = "\"" + address + "\" is not an e-mail address.";
        return false;
    }
    if (folder_.empty() || !MakeFolders(folder_)) {
        *error = "The contacts folder " + folder_ + " cannot be made: " + std::strerror(errno);
        return false;
    }
    const std::string uid = RandomUuid();
    const std::string text = WriteVCard4("urn:uuid:" + uid, name, trimmed(address));
    const std::string target = folder_ + "/" + uid + ".vcf";
    ReplaceOptions options;
    options.modeWhenNew = 0600;
    options.noReplace = true;
    if (!ReplaceFileAtomically(
            target, [&text](int fd) { return WriteAll(fd, text.data(), text.size()); }, options)) {
        *error = "The contact cannot be written to " + target + ": " + std::strerror(errno);
        return false;
    }
    if (path)
        *path = target;
    return true;
}

}  // namespace korrin::platform::mapi
