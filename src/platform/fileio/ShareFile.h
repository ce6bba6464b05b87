// Message files opened the way the program always opens them: for reading and writing while
// others may at most read. Every opener in the program takes the same advisory lock (flock),
// so between our own threads and processes a second writer, a move or a delete cannot get at
// a file while its trailer is being read or written. Outside programs that take no lock are
// not held off.
//
// One ShareFile belongs to one thread at a time. Sizes and offsets are 64-bit; calls report
// nothing themselves and leave errno set on failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Win32Types.h"

namespace korrin::platform {

class ShareFile {
  public:
    ShareFile() = default;
    ~ShareFile();
    ShareFile(const ShareFile&) = delete;
    ShareFile& operator=(const ShareFile&) = delete;

    // Opens an existing file and takes its lock without waiting. Fails with EWOULDBLOCK while
    // another opener holds the file. forChange: the caller will truncate or append, so a path
    // that was renamed over after our open (the old file is no longer the one at the path)
    // fails with ESTALE instead of handing out a file nobody will see again.
    bool Open(const std::string& path, bool forChange);
    // Takes the same lock on a file opened for reading only, to move or delete it: a file
    // the user may not write to can still be moved.
    bool OpenToHold(const std::string& path);
    bool IsOpen() const { return fd_ >= 0; }

    bool Size(std::uint64_t* size) const;
    // Reads exactly size bytes at offset; false on an error or a short read (errno EIO for a
    // short read past the end).
    bool ReadAt(std::uint64_t offset, void* data, std::size_t size) const;
    bool WriteAt(std::uint64_t offset, const void* data, std::size_t size) const;
    bool Truncate(std::uint64_t size) const;
    bool Sync() const;
    // Closes and releases the lock; false when the close reported an error.
    bool Close();
    int fd() const { return fd_; }

  private:
    bool open(const std::string& path, bool forChange, int access);
    int fd_ = -1;
};

// Moves src to dst, never replacing an existing dst (errno EEXIST), while holding src's lock:
// a file another opener holds is not moved (EWOULDBLOCK). The move is durable (both folders
// synced) before it returns.
BOOL MoveFileShared(const std::string& src, const std::string& dst);

// Deletes path unless another opener holds it.
BOOL DeleteFileShared(const std::string& path);

// Copies size bytes from the start of in to the current end of out.
bool CopyFileRange(int in, int out, std::uint64_t size);

// One directory entry of a listing.
struct FoundFile {
    std::string name;  // file name only
};

// The regular files (and links to them) of dir whose names end in one of the extensions
// (".KX0", compared without regard to case), in the order the file system returns them,
// grouped by extension in the order given. False when dir cannot be read (errno ENOENT when
// it does not exist).
bool FindFiles(const std::string& dir, const std::vector<std::string>& extensions,
               std::vector<std::vector<FoundFile>>* found);

// Syncs the folder that holds path, so a rename in it survives a crash.
bool SyncParentDirectory(const std::string& path);

}  // namespace korrin::platform
