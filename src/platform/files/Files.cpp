#include "platform/files/Files.h"

#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace korrin::platform {

namespace {

std::string envValue(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// Keeps errno of the failure that made us give up across the clean-up calls.
class ErrnoKeeper {
  public:
    ErrnoKeeper() : saved_(errno) {}
    ~ErrnoKeeper() { errno = saved_; }

  private:
    int saved_;
};

class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ErrnoKeeper keep;
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void release() { fd_ = -1; }
    // Closes now so a failing close() (deferred write errors on NFS and the like) is seen.
    bool close() {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

std::string folderOf(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string randomTag() {
    unsigned char bytes[8];
    if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        static std::atomic<unsigned long long> counter{0};
        unsigned long long v = static_cast<unsigned long long>(
                                   std::chrono::steady_clock::now().time_since_epoch().count()) ^
                               (++counter << 40) ^ static_cast<unsigned long long>(getpid());
        for (auto& b : bytes) {
            b = static_cast<unsigned char>(v);
            v >>= 8;
        }
    }
    static const char hex[] = "0123456789abcdef";
    std::string tag;
    for (unsigned char b : bytes) {
        tag += hex[b >> 4];
        tag += hex[b & 15];
    }
    return tag;
}

bool copyContents(int in, int out) {
    std::vector<char> buffer(1 << 17);
    for (;;) {
        ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (!WriteAll(out, buffer.data(), static_cast<std::size_t>(n)))
            return false;
    }
}

// rename() that refuses to replace. Some file systems lack RENAME_NOREPLACE; a hard link
// gives the same atomic check there, and a plain look-then-rename is the last resort
// (file systems without links, folders).
bool renameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return false;
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return true;
    }
    if (errno == EEXIST)
        return false;
    struct stat st;
    if (::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool statIs(const std::string& path, mode_t type) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == type;
}

}  // namespace

std::string GetTempPath() {
    std::string path = envValue("TMPDIR");
    if (path.empty())
        path = "/tmp";
    if (path.back() != '/')
        path += '/';
    return path;
}

bool GetPrivateTempFolder(std::string* path) {
    std::string dir;
    std::string runtime = envValue("XDG_RUNTIME_DIR");
    while (runtime.size() > 1 && runtime.back() == '/')
        runtime.pop_back();
    if (!runtime.empty() && runtime.front() == '/') {
        dir = (runtime == "/" ? "" : runtime) + "/korrin";
    } else {
        dir = GetTempPath() + "korrin-" + std::to_string(::geteuid());
        if (dir.front() != '/') {  // the tools run in folders of their own: no relative paths
            std::error_code ec;
            std::string absolute = std::filesystem::absolute(dir, ec).string();
            if (ec) {
                errno = ec.value();
                return false;
            }
            dir = absolute;
        }
    }
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    // Checked through the opened folder itself, so what is checked is what is used: a link
    // put in its place fails the open (ELOOP), a file fails it with ENOTDIR.
    Fd folder(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder.get() < 0)
        return false;
    struct stat st;
    if (::fstat(folder.get(), &st) != 0)
        return false;
    if (st.st_uid != ::geteuid()) {
        errno = EPERM;
        return false;
    }
    if ((st.st_mode & 077) != 0 && ::fchmod(folder.get(), 0700) != 0)
        return false;
    *path = dir;
    return true;
}

std::string GetHomeDirectory() {
    std::string home = envValue("HOME");
    if (home.empty()) {
        struct passwd pw;
        struct passwd* found = nullptr;
        std::vector<char> buffer(16384);
        if (getpwuid_r(getuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found &&
            found->pw_dir)
            home = found->pw_dir;
    }
    while (home.size() > 1 && home.back() == '/')
        home.pop_back();
    return home;
}

std::string GetWindowsDirectory() {
    std::string dir = envValue("KORRIN_WINDIR");
    if (!dir.empty()) {
        while (dir.size() > 1 && dir.back() == '/')
            dir.pop_back();
        return dir;
    }
    // Relative XDG values are to be ignored, as every other desktop program does.
    std::string data = envValue("XDG_DATA_HOME");
    if (!data.empty() && data.front() == '/')
        return data + "/korrin/tools";
    std::string home = GetHomeDirectory();
    if (home.empty()) {
        errno = ENOENT;
        return "";
    }
    return (home == "/" ? "" : home) + "/.local/share/korrin/tools";
}

BOOL CopyFile(const std::string& src, const std::string& dst, bool failIfExists) {
    if (src.empty() || dst.empty()) {
        errno = ENOENT;
        return 0;
    }
    // Checked before anything is read: a FIFO given as the source would otherwise hang the
    // caller until some writer came along.
    Fd in(OpenRegularFile(src));
    struct stat st;
    if (in.get() < 0 || ::fstat(in.get(), &st) != 0)
        return 0;
    struct stat existing;
    if (failIfExists && ::lstat(dst.c_str(), &existing) == 0) {
        errno = EEXIST;
        return 0;
    }

    // The owner always keeps read and write: a read-only source must not give a copy the
    // program cannot strip a trailer from.
    ReplaceOptions options;
    options.mode = static_cast<int>((st.st_mode & 0777) | S_IRUSR | S_IWUSR);
    options.noReplace = failIfExists;
    return ReplaceFileAtomically(
        dst, [&](int out) { return copyContents(in.get(), out); }, options);
}

bool WriteAll(int fd, const void* data, std::size_t size) {
    auto* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

int CreateUniqueFile(const std::string& dir, const std::string& prefix, const std::string& suffix,
                     unsigned mode, std::string* path) {
    // 64 random bits: a clash with a file of ours is a remote chance, and a name someone else
    // made first (EEXIST) only costs another try.
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string name =
            dir + (!dir.empty() && dir.back() == '/' ? "" : "/") + prefix + randomTag() + suffix;
        int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
                        static_cast<mode_t>(mode));
        if (fd >= 0) {
            *path = std::move(name);
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

int CreateNewFile(const std::string& path, unsigned mode) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY,
                  static_cast<mode_t>(mode));
}

int OpenOrCreateFile(const std::string& path, unsigned mode) {
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY,
                  static_cast<mode_t>(mode));
}

int CreateUnnamedFile(const std::string& folder, unsigned mode) {
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, static_cast<mode_t>(mode));
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return fd;
    std::string name;
    fd = CreateUniqueFile(folder, ".korrin-unnamed-", "", 0600, &name);
    if (fd >= 0)
        ::unlink(name.c_str());
    return fd;
}

bool GetOpenFileSize(int fd, std::uint64_t* size) {
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return false;
    *size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

BOOL ReplaceFileAtomicallyImpl(const std::string& path, bool (*write)(int fd, void* context),
                               void* context, const ReplaceOptions& options) {
    if (path.empty()) {
        errno = ENOENT;
        return 0;
    }
    struct stat st;
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (!exists && errno != ENOENT)
        return 0;
    int createMode = options.mode;
    bool keepMode = false;
    if (createMode == ReplaceOptions::kSameMode) {
        if (exists) {
            createMode = static_cast<int>(st.st_mode & 07777);
            keepMode = true;  // exactly, whatever the umask says
        } else if (options.modeWhenNew != ReplaceOptions::kSameMode) {
            createMode = options.modeWhenNew;
        } else {
            errno = ENOENT;
            return 0;
        }
    }
    if (options.noReplace && exists) {
        errno = EEXIST;
        return 0;
    }
    std::string temp;
    const int fd = CreateUniqueFile(folderOf(path), FileNamePart(path) + ".", ".new",
                                    static_cast<unsigned>(createMode), &temp);
    if (fd < 0)
        return 0;
    Fd out(fd);
    bool ok = (!keepMode || ::fchmod(out.get(), static_cast<mode_t>(createMode)) == 0) &&
              write(out.get(), context) && ::fsync(out.get()) == 0 && out.close();
    if (ok)
        ok = options.noReplace ? renameNoReplace(temp, path)
                               : ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ErrnoKeeper keep;
        ::unlink(temp.c_str());
        return 0;
    }
    // The rename itself must survive a crash too; a folder that cannot be synced (some
    // network file systems) still holds a complete file, so this is best effort.
    Fd folder(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0)
        ::fsync(folder.get());
    return 1;
}

int OpenRegularFile(const std::string& path) {
    // Without blocking: a FIFO in the file's place must not hold the caller until a writer
    // comes. Reads on a regular file do not care about the flag, but it is taken off anyway.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0)
        return -1;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0)
        return -1;
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return -1;
    }
    if (int flags = ::fcntl(fd.get(), F_GETFL);
        flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        return -1;
    const int result = fd.get();
    fd.release();
    return result;
}

bool GetRegularFileStatus(const std::string& path, RegularFileStatus* status) {
    Fd fd(OpenRegularFile(path));
    struct stat st;
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0)
        return false;
    status->size = static_cast<std::uint64_t>(st.st_size);
    status->modified = st.st_mtime;
    return true;
}

BOOL MoveFile(const std::string& src, const std::string& dst) {
    if (src.empty() || dst.empty()) {
        errno = ENOENT;
        return 0;
    }
    if (renameNoReplace(src, dst))
        return 1;
    if (errno != EXDEV)
        return 0;
    // Across file systems only plain files are carried over, as the system this replaces
    // does; folders and links stay where they are.
    struct stat st;
    if (::lstat(src.c_str(), &st) != 0)
        return 0;
    if (!S_ISREG(st.st_mode)) {
        errno = EXDEV;
        return 0;
    }
    if (!CopyFile(src, dst, true))
        return 0;
    if (::unlink(src.c_str()) != 0) {
        // Two copies would let a message be sent twice; undo so exactly one remains.
        ErrnoKeeper keep;
        ::unlink(dst.c_str());
        return 0;
    }
    return 1;
}

BOOL DeleteFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0 ? 1 : 0;
}

BOOL CreateDirectory(const std::string& path) {
    return ::mkdir(path.c_str(), 0700) == 0 ? 1 : 0;
}

BOOL RemoveDirectory(const std::string& path) {
    return ::rmdir(path.c_str()) == 0 ? 1 : 0;
}

BOOL GetDiskFreeSpace(const std::string& path, std::uint64_t* freeBytes) {
    if (!freeBytes) {
        errno = EINVAL;
        return 0;
    }
    struct statvfs vfs;
    if (::statvfs(path.c_str(), &vfs) != 0)
        return 0;
    std::uint64_t unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
    *freeBytes = static_cast<std::uint64_t>(vfs.f_bavail) * unit;
    return 1;
}

bool FileExists(const std::string& path) {
    return statIs(path, S_IFREG);
}

bool DirectoryExists(const std::string& path) {
    return statIs(path, S_IFDIR);
}

bool CanOpenForReading(const std::string& path) {
    // O_NONBLOCK: a FIFO under a message's name must not hang the caller.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0)
        return false;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0)
        return false;
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    return true;
}

std::string FileNamePart(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExtensionOf(const std::string& path) {
    std::string name = FileNamePart(path);
    auto dot = name.rfind('.');
    if (dot == std::string::npos)
        return "";
    return name.substr(dot + 1, 3);
}

}  // namespace korrin::platform
