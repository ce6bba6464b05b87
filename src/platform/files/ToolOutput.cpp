#include "platform/files/ToolOutput.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace korrin::platform {

namespace {

// The names in the folder open as dirFd, without "." and "..". False when it cannot be read.
bool listNames(int dirFd, std::vector<std::string>& names) {
    int fd = ::dup(dirFd);
    if (fd < 0)
        return false;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return false;
    }
    errno = 0;
    while (dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
        errno = 0;
    }
    const bool ok = errno == 0;
    ::closedir(dir);
    return ok;
}

// Empties the folder open as dirFd; depth is bounded so a deep tree cannot exhaust the stack
// or the descriptors.
bool clearAt(int dirFd, int depth) {
    std::vector<std::string> names;
    if (depth > 64 || !listNames(dirFd, names))
        return false;
    bool ok = true;
    for (const auto& name : names) {
        struct stat st;
        if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            ok = ok && errno == ENOENT;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            int sub =
                ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub < 0) {
                ok = false;
                continue;
            }
            ok = clearAt(sub, depth + 1) && ok;
            ::close(sub);
            ok = ::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) == 0 && ok;
        } else {
            ok = ::unlinkat(dirFd, name.c_str(), 0) == 0 && ok;
        }
    }
    return ok;
}

}  // namespace

std::string FindFirstFileMatching(const std::string& folder, const std::string& pattern) {
    int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return "";
    std::vector<std::string> names;
    listNames(dirFd, names);
    std::sort(names.begin(), names.end());
    std::string found;
    for (const auto& name : names) {
        if (::fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD | FNM_PERIOD) != 0)
            continue;
        struct stat st;
        if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
            found = folder + "/" + name;
            break;
        }
    }
    ::close(dirFd);
    return found;
}

bool CanOpenForReadWrite(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    if (!regular)
        errno = EINVAL;
    return regular;
}

BOOL RemoveFolderContents(const std::string& folder) {
    int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0)
        return 0;
    const bool ok = clearAt(dirFd, 0);
    ::close(dirFd);
    return ok ? 1 : 0;
}

}  // namespace korrin::platform
