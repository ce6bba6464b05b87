// The address book's contents: every "*.vcf" file of one folder, one entry per contact and
// e-mail address, kept up to date with what other programs (a CardDAV sync, a contacts
// program, a text editor) change in the folder, and the lookups the address book needs:
// search as the user types, and resolving a typed recipient.
//
// A ContactFolder belongs to one thread at a time (the address book's user-interface
// thread); it takes no locks.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mapi/VCard.h"

namespace korrin::platform::mapi {

struct ContactEntry {
    std::string name;  // the card's name; the address when the card has none
    std::string address;
    std::string type;  // the address's kind ("work", "home"), "" when none
    std::vector<std::string> nicknames;
    std::string file;  // the file's name inside the folder
    std::string uid;
    // FoldCase forms, made once, so lookups compare without folding again.
    std::string foldName, foldAddress, foldType;
    std::vector<std::string> foldNicknames;
};

// A file that gave no entries: damaged, too large, unreadable.
struct SkippedFile {
    std::string file;  // name inside the folder
    std::string reason;
};

// What a typed recipient resolved to.
struct Resolution {
    enum Kind {
        kItself,     // "Name <addr>" or a bare address: stands for itself
        kContact,    // exactly one entry matched
        kNone,       // nothing matched: left as typed
        kAmbiguous,  // several entries matched equally well: left as typed
    };
    Kind kind = kNone;
    std::string name, address;            // for kItself and kContact
    const ContactEntry* entry = nullptr;  // kContact; valid until the next Refresh
};

// Files larger than this are skipped: no address book card comes near it, and reading one
// would stall the window that asked.
inline constexpr std::uint64_t kMaxVCardFileSize = 4u << 20;

class ContactFolder {
  public:
    explicit ContactFolder(std::string folder);
    ~ContactFolder();
    ContactFolder(const ContactFolder&) = delete;
    ContactFolder& operator=(const ContactFolder&) = delete;

    const std::string& Folder() const { return folder_; }

    // Brings the entries up to date. The first call reads every file; later calls read again
    // only the files that changed since (the kernel's change notices on the folder, or where
    // they are not to be had, each file's modification time, size and inode). A folder that
    // does not exist holds no entries. Call at each use of the address book.
    void Refresh();

    // Ordered by name, then kind, then address, without regard to case. Valid until the next
    // Refresh.
    const std::vector<const ContactEntry*>& Entries() const { return entries_; }
    // Ordered by file name.
    std::vector<SkippedFile> Skipped() const;

    // Entries whose name, a nickname or the address contains text (any case), in Entries()
    // order; every entry when text is empty.
    std::vector<const ContactEntry*> Search(std::string_view text) const;

    // A typed recipient: "Name <addr>" or a bare address stands for itself; otherwise an
    // exact match of name, nickname or address (any case) beats a prefix match, and exactly
    // one matching entry resolves it.
    Resolution Resolve(std::string_view typed) const;

    // Writes a new vCard 4.0 file for the contact into the folder (made when missing), as one
    // atomic replace under a fresh name; the new entry is seen at the next Refresh. False with
    // a reason on failure (empty name or address, a control character is no reason: those
    // become blanks).
    bool AddContact(const std::string& name, const std::string& address, std::string* path,
                    std::string* error);

  private:
    struct FileState {
        std::int64_t mtimeNs = 0;
        std::uint64_t size = 0, inode = 0;
        std::vector<ContactEntry> entries;
        std::string skipped;  // reason, "" when read
    };
    void fullScan();
    void readOne(const std::string& name, int dirFd);
    bool drainNotices();  // false: notices lost, scan again
    void rebuild();

    std::string folder_;
    int notifyFd_ = -1;
    int watch_ = -1;
    bool scanned_ = false;
    std::map<std::string, FileState> files_;
    std::vector<const ContactEntry*> entries_;  // into files_
    // Every folded name, nickname and address with its entry, in key order: a resolve looks
    // up the keys that begin with what was typed instead of walking every entry.
    struct Key {
        std::string_view text;  // into the entry
        const ContactEntry* entry;
    };
    std::vector<Key> keys_;
};

// True for text that is an e-mail address by itself: one '@' with something on both sides,
// and no blank, '<', '>', ',', ';' or quote in it.
bool IsBareAddress(std::string_view text);

}  // namespace korrin::platform::mapi
