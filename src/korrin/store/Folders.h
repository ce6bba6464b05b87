// The three message folders under the install folder, the names of the files in them, and
// putting a message into a folder: filing a new one into the Outbox, moving one between
// folders, emptying a folder.
//
// Folder numbers: 1 Sent Items (SENT, letter S), 2 Outbox (OUTBOX, O), 3 Deleted Items
// (DELETED, D). A message file in folder F is "KX<number><letter>.<ext>", the number from the
// File ID counter and the extension (kx0 or kx1) kept from the file it came from; the folder's
// messages are the files matching *.KX0 and *.KX1 without regard to case.
//
// InstallDir is read afresh by every operation. Moves run on the user-interface thread and
// on the transmission worker; the folder lists they keep up to date guard themselves.
#pragma once

#include <string>
#include <vector>

#include "platform/Win32Types.h"

namespace korrin {

using platform::DWORD;

class CFolderLists;

inline constexpr int kSentItems = 1;
inline constexpr int kOutbox = 2;
inline constexpr int kDeletedItems = 3;

inline constexpr int kMoveTries = 21;  // the first try and 20 more
inline constexpr int kMoveRetryMs = 250;

bool IsFolderNumber(int folder);
const char* FolderDirectoryName(int folder);  // "SENT", "OUTBOX", "DELETED"; "" for others
char FolderLetter(int folder);                // 'S', 'O', 'D'

// InstallDir. 0, or 1 after reporting "GetRegistryString failed.".
int ReadInstallDir(std::string& out);
std::string FolderPath(const std::string& installDir, int folder);
// "<install>/OUTBOX/KX<n>O.<ext>" and likewise.
std::string MessageFileName(const std::string& installDir, int folder, DWORD number,
                            const std::string& extension);

// The folder's message files as full paths: those matching *.KX0, then those matching
// *.KX1, each in the order the file system returns them. A folder that does not exist has
// none. 0, or 1 when InstallDir cannot be read (reported).
int FindMessageFiles(int folder, std::vector<std::string>* kx0, std::vector<std::string>* kx1);

// Number of message files in the folder; 0, or 1 with *count 0 when InstallDir is missing.
int CountMessages(int folder, DWORD* count);

// Files a finished message (outside the folders) into the Outbox under a fresh number and
// marks the Outbox list out of date. 0, or 1 after a reported failure (the file stays where
// it was). lists may be null (no window).
int FileIntoOutbox(const std::string& path, CFolderLists* lists, std::string* newPath = nullptr);

// A message the server has taken waits in the Outbox, until it is in Sent Items, under its
// name with kAcceptedSuffix added ("KX5O.kx0.sent"): a name the folder patterns do not match,
// so no session sends it again, however often the move fails or the process ends. The next
// session finishes its move without sending.
inline constexpr const char* kAcceptedSuffix = ".sent";
bool IsAcceptedName(const std::string& path);

// Records that the server took the Outbox message at path: renames it to its accepted name
// (one atomic step; a file another opener holds is retried as a move is). 0 with the new
// name in *accepted, or 1 (nothing reported: the caller goes on with the old name).
int MarkAccepted(const std::string& path, std::string* accepted);

// The Outbox's accepted messages still to be moved, as full paths. 0, or 1 when InstallDir
// cannot be read (reported).
int FindAcceptedMessages(std::vector<std::string>* paths);

// Moves a message from folder `source` to folder `destination` under a fresh number, then
// brings the lists up to date (see CFolderLists). An accepted message keeps the extension of
// the name it had before. A file that already has the new name is never replaced: the next number
// is taken instead. 0, or 1 after a reported failure.
int MoveMessage(const std::string& path, int destination, int source, CFolderLists* lists,
                std::string* newPath = nullptr);

// Deletes one message from Deleted Items for good: its list entry goes first, then the file
// (a file that cannot be deleted stays; nothing is reported). lists may be null.
void DeleteMessage(const std::string& path, CFolderLists* lists);

// Deletes every message file of the folder; files held by another opener and files of other
// names stay. 0, or 1 when InstallDir cannot be read. The lists are not touched.
int DeleteFolderContents(int folder);

}  // namespace korrin
