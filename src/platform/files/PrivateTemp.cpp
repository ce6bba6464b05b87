#include "platform/files/PrivateTemp.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "platform/files/Files.h"
#include "platform/files/ToolOutput.h"

namespace korrin::platform {

namespace {

constexpr long kYoungSeconds = 10;

}  // namespace

std::string PrivateTempFolder() {
    std::string folder;
    return GetPrivateTempFolder(&folder) ? folder : std::string();
}

bool WorkFolderLock::Take(const std::string& folder) {
    Release();
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    folder_ = folder;
    fd_ = fd;
    return true;
}

void WorkFolderLock::Release() {
    if (fd_ < 0)
        return;
    RemoveFolderContents(folder_);
    ::rmdir(folder_.c_str());
    ::close(fd_);  // the lock goes with the last descriptor
    fd_ = -1;
    folder_.clear();
}

int RemoveAbandonedWorkFolders() {
    const std::string root = PrivateTempFolder();
    if (root.empty())
        return 0;
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(root.c_str())) {
        while (dirent* e = ::readdir(dir)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
    }
    int removed = 0;
    for (const std::string& name : names) {
        const std::string path = root + "/" + name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            continue;  // only work folders; the sockets and files of others stay
        // A folder made a moment ago may not be locked by its maker yet.
        if (st.st_mtime > ::time(nullptr) - kYoungSeconds)
            continue;
        int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        // A held folder is in use; a free one was left by a run that did not clean up.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            RemoveFolderContents(path);
            if (::rmdir(path.c_str()) == 0)
                ++removed;
        }
        ::close(fd);
    }
    return removed;
}

}  // namespace korrin::platform
