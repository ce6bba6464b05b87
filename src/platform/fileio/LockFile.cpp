#include "platform/fileio/LockFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace korrin::platform {

LockFile::~LockFile() {
    Unlock();
}

bool LockFile::TryLock(const std::string& path) {
    Unlock();
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    int rc;
    do
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        int keep = errno;
        ::close(fd);
        errno = keep;
        return false;
    }
    fd_ = fd;
    return true;
}

void LockFile::Unlock() {
    if (fd_ < 0)
        return;
    ::close(fd_);  // closing the only descriptor lets go of the lock
    fd_ = -1;
}

}  // namespace korrin::platform
