// A lock held by at most one opener at a time across threads and processes: an advisory
// lock (flock) on a small file that is made when missing. The kernel lets go of it when the
// holder ends, however it ends, so a killed process never leaves it taken.
//
// One LockFile belongs to one thread at a time.
#pragma once

#include <string>

namespace korrin::platform {

class LockFile {
  public:
    LockFile() = default;
    ~LockFile();
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

    // Takes the lock without waiting. False while another holder has it (errno EWOULDBLOCK)
    // or when the file cannot be made or opened (errno from open).
    bool TryLock(const std::string& path);
    void Unlock();
    bool IsLocked() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

}  // namespace korrin::platform
