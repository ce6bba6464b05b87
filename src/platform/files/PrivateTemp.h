// This user's private folder for temporary work (unpacking a message, a message being opened)
// and the numbered work folders inside it.
//
// The private folder is $XDG_RUNTIME_DIR/korrin, or $TMPDIR/korrin-<uid> without a runtime
// folder: mode 0700, owned by this user, never a link. Each piece of work gets a fresh folder
// of its own (one that already exists is never used) and holds a lock on it while it works,
// so a sweep at start-up removes only what a killed run left behind, never a folder another
// running Korrin or korrinctl is using. Safe from any thread.
#pragma once

#include <string>

namespace korrin::platform {

// The private folder, made when missing, without a trailing '/'. "" (errno set) when it
// cannot be made, is a link, or belongs to someone else.
std::string PrivateTempFolder();

// A work folder held for the life of the object. The folder is locked from Take to Release;
// Release (and the destructor) removes it with everything in it, links themselves and never
// what they point to.
class WorkFolderLock {
  public:
    WorkFolderLock() = default;
    ~WorkFolderLock() { Release(); }
    WorkFolderLock(const WorkFolderLock&) = delete;
    WorkFolderLock& operator=(const WorkFolderLock&) = delete;

    // Takes over a folder that was just created by this process (mkdir succeeded). False when
    // it cannot be opened or locked; the folder is then left as it is.
    bool Take(const std::string& folder);
    void Release();
    const std::string& folder() const { return folder_; }
    bool held() const { return fd_ >= 0; }

  private:
    std::string folder_;
    int fd_ = -1;
};

// Removes the folders in the private folder that no running process holds (what runs killed
// before their clean-up left). Returns how many were removed.
int RemoveAbandonedWorkFolders();

}  // namespace korrin::platform
