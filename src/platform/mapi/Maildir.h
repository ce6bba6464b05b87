// Maildir++ folders as the store keeps them: the root is the Inbox; ".Outbox", ".Sent" and
// ".Trash" beside its tmp/new/cur, each with its own tmp/new/cur and the "maildirfolder" mark,
// as mail readers expect. Internal to the layer.
//
// A message file is "<unique>" in new/ or "<unique>:2,<flags>" in cur/; flags are capital
// letters in ASCII order (D draft, F flagged, P passed, R replied, S seen, T trashed).
// Delivery writes tmp/<unique>, syncs and closes it, renames it into new/ (or cur/ with flags)
// and syncs that folder: a reader sees the whole message or none. (The program's file
// replacement helper writes its temporary file beside the target, which in new/ a mail reader
// would take for a message: Maildir's own tmp/ rule is kept instead.)
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace korrin::platform::mapi_detail {

// "" -> root, "Outbox" -> root/.Outbox.
std::string FolderPath(const std::string& root, const std::string& folder);

// Makes the root and the three folders when missing (mode 0700). False with errno.
bool EnsureMaildir(const std::string& root);

// Splits a file name of new/ or cur/. False for a name that is not a message (dot files,
// empty, a unique part IsUniqueName refuses, a ':' part other than "2,<letters>").
bool ParseMaildirName(std::string_view fileName, std::string* unique, std::string* flags);
// The flags in order, each once, letters only.
std::string NormalFlags(std::string_view flags);

struct MaildirFile {
    std::string unique;
    std::string flags;
    std::string path;  // full path
};
// The messages of a folder (new/ and cur/), in unique-name order (oldest first for ours).
std::vector<MaildirFile> ListMaildir(const std::string& folderPath);
bool FindMaildir(const std::string& folderPath, const std::string& unique, MaildirFile* file);

// A fresh unique name: "<seconds>.M<micros>P<pid>R<random hex>.<host>".
std::string NewUniqueName();

// Delivers a new message: write(fd) fills it. With flags it lands in cur/ as
// "<unique>:2,<flags>", without in new/. *unique receives its name. False (nothing left behind)
// when write returns false or a step fails.
bool DeliverMaildir(const std::string& folderPath, const std::function<bool(int fd)>& write,
                    const std::string& flags, std::string* unique);

// Moves a message to another folder's cur/ with the given flags (an atomic rename, then both
// folders synced). False with errno.
bool MoveMaildir(const MaildirFile& file, const std::string& toFolderPath,
                 const std::string& flags);

// Syncs a folder's entry list to disk.
bool SyncFolder(const std::string& path);

}  // namespace korrin::platform::mapi_detail
