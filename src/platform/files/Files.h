// Files, folders and the two special folders the program knows: the temporary path and
// the tools directory that stands for the Windows directory; and the program's one way each
// to write a whole buffer, to make a file under a name of its own, and to replace a file so
// that no crash leaves it half written. Paths use '/'. Every call is
// safe from any thread. BOOL results: nonzero on success; on failure errno tells why.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <type_traits>

#include "platform/Win32Types.h"

namespace korrin::platform {

// $TMPDIR (when set and not empty) or /tmp, always ending in '/'.
std::string GetTempPath();

// This user's private folder for temporary work: $XDG_RUNTIME_DIR/korrin when XDG_RUNTIME_DIR
// is an absolute path, else GetTempPath() + "korrin-<uid>"; absolute, no trailing '/'. Made
// (mode 0700) when missing. Refused (false, errno ELOOP, ENOTDIR or EPERM) when it is a link,
// not a folder, or not this user's; one of ours that others could enter is closed to them.
// Shared temporary folders let anyone make a name first, so work there goes into fresh
// folders made inside this one.
bool GetPrivateTempFolder(std::string* path);

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

// Writes all of data at fd's position, going on after interruptions and short writes. False
// with errno on a failure.
bool WriteAll(int fd, const void* data, std::size_t size);

// The one way the program makes a file under a name of its own: "<dir>/<prefix><16 random hex
// digits><suffix>", created exclusively (never an existing file, never through a link) with
// the mode given, open for reading and writing, close-on-exec. The descriptor (the caller
// closes it) and the name in *path; -1 with errno when no name could be had.
int CreateUniqueFile(const std::string& dir, const std::string& prefix, const std::string& suffix,
                     unsigned mode, std::string* path);

// Makes path for writing only, exclusively (never an existing file, never through a link),
// close-on-exec, with the mode given (the umask applied). The descriptor (the caller closes
// it), or -1 with errno.
int CreateNewFile(const std::string& path, unsigned mode);

// Opens path for reading and writing, made with mode when missing; never through a link,
// close-on-exec. The descriptor (the caller closes it), or -1 with errno.
int OpenOrCreateFile(const std::string& path, unsigned mode);

// A file without a name in folder, open for reading and writing (mode, the umask applied): it
// goes when its last descriptor closes. Where the file system cannot make one, a file of
// CreateUniqueFile's making is removed as soon as it is made. The descriptor, or -1 with errno.
int CreateUnnamedFile(const std::string& folder, unsigned mode);

// The size of an open file; false with errno.
bool GetOpenFileSize(int fd, std::uint64_t* size);

// How ReplaceFileAtomically treats the file it replaces.
struct ReplaceOptions {
    static constexpr int kSameMode = -1;
    // Permissions of the new file; kSameMode: those of the file replaced.
    int mode = kSameMode;
    // With kSameMode, the permissions when there is no file yet; kSameMode: path must exist
    // (ENOENT otherwise).
    int modeWhenNew = kSameMode;
    // Fail (EEXIST) instead of replacing a file that exists at the moment of the rename.
    bool noReplace = false;
};

// The one way the program replaces a file: write(fd) fills a new file beside path
// ("<name>.<random>.new", which matches no pattern the program looks for), which is then
// synced, closed (a failing close counts), renamed over path, and the folder synced. At every
// moment path is the old file or the complete new one; only a leftover ".new" can remain after
// a crash. write returns false to abandon: the old file stays and the new one goes.
BOOL ReplaceFileAtomicallyImpl(const std::string& path, bool (*write)(int fd, void* context),
                               void* context, const ReplaceOptions& options);
template <class Fn>
BOOL ReplaceFileAtomically(const std::string& path, Fn&& write,
                           const ReplaceOptions& options = {}) {
    auto thunk = [](int fd, void* context) {
        return (*static_cast<std::remove_reference_t<Fn>*>(context))(fd);
    };
    return ReplaceFileAtomicallyImpl(path, thunk, &write, options);
}

// Opens an existing regular file for reading without waiting for a FIFO's writer; a folder,
// FIFO or device is refused (EISDIR, EINVAL). The descriptor (the caller closes it), or -1.
int OpenRegularFile(const std::string& path);

// Size and time of last change of a regular file (refused as OpenRegularFile refuses).
struct RegularFileStatus {
    std::uint64_t size = 0;
    std::time_t modified = 0;
};
bool GetRegularFileStatus(const std::string& path, RegularFileStatus* status);

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
