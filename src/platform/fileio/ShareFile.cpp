#include "platform/fileio/ShareFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/Text.h"
#include "platform/files/Files.h"

namespace korrin::platform {

namespace {

class ErrnoKeeper {
  public:
    ErrnoKeeper() : saved_(errno) {}
    ~ErrnoKeeper() { errno = saved_; }

  private:
    int saved_;
};

std::string parentOf(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

ShareFile::~ShareFile() {
    Close();
}

bool ShareFile::Open(const std::string& path, bool forChange) {
    return open(path, forChange, O_RDWR);
}

bool ShareFile::OpenToHold(const std::string& path) {
    return open(path, true, O_RDONLY);
}

bool ShareFile::open(const std::string& path, bool forChange, int access) {
    Close();
    int fd = ::open(path.c_str(), access | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        ErrnoKeeper keep;
        ::close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {  // a FIFO or device is never a message file
        ::close(fd);
        errno = EINVAL;
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ErrnoKeeper keep;
        ::close(fd);
        return false;
    }
    if (forChange) {
        struct stat now;
        if (::stat(path.c_str(), &now) != 0 || now.st_ino != st.st_ino || now.st_dev != st.st_dev) {
            ::close(fd);
            errno = ESTALE;
            return false;
        }
    }
    // O_NONBLOCK only kept a FIFO from hanging the open; on a regular file it changes nothing.
    fd_ = fd;
    return true;
}

bool ShareFile::Size(std::uint64_t* size) const {
    struct stat st;
    if (::fstat(fd_, &st) != 0)
        return false;
    *size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool ShareFile::ReadAt(std::uint64_t offset, void* data, std::size_t size) const {
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        ssize_t n = ::pread(fd_, p, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        p += n;
        offset += static_cast<std::uint64_t>(n);
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool ShareFile::WriteAt(std::uint64_t offset, const void* data, std::size_t size) const {
    auto* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::pwrite(fd_, p, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        offset += static_cast<std::uint64_t>(n);
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool ShareFile::Truncate(std::uint64_t size) const {
    return ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
}

bool ShareFile::Sync() const {
    return ::fsync(fd_) == 0;
}

bool ShareFile::Close() {
    if (fd_ < 0)
        return true;
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
}

BOOL MoveFileShared(const std::string& src, const std::string& dst) {
    ShareFile held;
    if (!held.OpenToHold(src))
        return 0;
    if (!MoveFile(src, dst))
        return 0;
    ErrnoKeeper keep;
    SyncParentDirectory(dst);
    if (parentOf(src) != parentOf(dst))
        SyncParentDirectory(src);
    return 1;
}

BOOL DeleteFileShared(const std::string& path) {
    ShareFile held;
    if (!held.OpenToHold(path))
        return 0;
    return DeleteFile(path);
}

bool CopyFileRange(int in, int out, std::uint64_t size) {
    std::vector<char> buffer(1 << 16);
    off_t offset = 0;
    while (size > 0) {
        std::size_t chunk = size < buffer.size() ? static_cast<std::size_t>(size) : buffer.size();
        ssize_t n = ::pread(in, buffer.data(), chunk, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        if (!WriteAll(out, buffer.data(), static_cast<std::size_t>(n)))
            return false;
        offset += n;
        size -= static_cast<std::uint64_t>(n);
    }
    return true;
}

bool FindFiles(const std::string& dir, const std::vector<std::string>& extensions,
               std::vector<std::vector<FoundFile>>* found) {
    found->assign(extensions.size(), {});
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return false;
    errno = 0;
    while (struct dirent* e = ::readdir(d)) {
        std::string_view name(e->d_name);
        for (std::size_t i = 0; i < extensions.size(); ++i) {
            const std::string& ext = extensions[i];
            if (name.size() <= ext.size() ||
                !EqualsNoCase(name.substr(name.size() - ext.size()), ext))
                continue;
            bool regular = e->d_type == DT_REG;
            if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
                struct stat st;
                regular = ::fstatat(::dirfd(d), e->d_name, &st, 0) == 0 && S_ISREG(st.st_mode);
            }
            if (regular)
                (*found)[i].push_back(FoundFile{std::string(name)});
            break;
        }
        errno = 0;
    }
    bool ok = errno == 0;
    ::closedir(d);
    return ok;
}

bool SyncParentDirectory(const std::string& path) {
    int fd = ::open(parentOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

}  // namespace korrin::platform
