// Files, folders and the two special folders the program knows: the temporary path and
// the tools directory that stands for the Windows directory. Paths use '/'. Every call is
// safe from any thread. BOOL results: nonzero on success; on failure errno tells why.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Win32Types.h"

namespace korrin::platform {

// $TMPDIR (when set and not empty) or /tmp, always ending in '/'.
std::string GetTempPath();

// $HOME, else the user's home folder from the password database; no trailing '/' (but "/"
// itself stays); "" when there is none.
std::string GetHomeDirectory();

// The tools directory: $KORRIN_WINDIR, else $XDG_DATA_HOME/korrin/tools (default
// ~/.local/share/korrin/tools). No trailing '/'. The folder need not exist. Empty when
// there is no home folder to put it in.
std::string GetWindowsDirectory();

// Copies src to dst. With failIfExists an existing dst makes the call fail; otherwise dst
// is replaced. The copy is written beside dst under a temporary name, flushed to disk and
// renamed over dst, so dst is never seen half written.
BOOL CopyFile(const std::string& src, const std::string& dst, bool failIfExists);

// The one way the program makes a file under a name of its own: "<dir>/<prefix><16 random hex
// digits><suffix>", created exclusively (never an existing file, never through a link) with
// the mode given, open for reading and writing, close-on-exec. The descriptor (the caller
// closes it) and the name in *path; -1 with errno when no name could be had.
int CreateUniqueFile(const std::string& dir, const std::string& prefix, const std::string& suffix,
                     unsigned mode, std::string* path);

// Renames a file or folder; fails when dst exists (as the system it replaces does).
// Works across file systems by copying, then removing the source.
BOOL MoveFile(const std::string& src, const std::string& dst);

BOOL DeleteFile(const std::string& path);
BOOL CreateDirectory(const std::string& path);  // one level, mode 0700; fails if it exists
BOOL RemoveDirectory(const std::string& path);  // only an empty folder

// Free bytes available to this user on the file system holding path.
BOOL GetDiskFreeSpace(const std::string& path, std::uint64_t* freeBytes);

bool FileExists(const std::string& path);  // a regular file
bool DirectoryExists(const std::string& path);
bool CanOpenForReading(const std::string& path);

// The plain file name (after the last '/') and the extension as the program names it: the
// three characters after the last '.' of the file name ("" when there is no '.').
std::string FileNamePart(const std::string& path);
std::string ExtensionOf(const std::string& path);

}  // namespace korrin::platform
