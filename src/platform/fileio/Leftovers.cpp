#include "platform/fileio/Leftovers.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

namespace korrin::platform {

int RemoveOldReplacements(const std::string& dir, const std::string& prefix, long ageSeconds) {
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return 0;
    const std::time_t now = std::time(nullptr);
    int removed = 0;
    while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() < prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(name.size() - 4, 4, ".new") != 0)
            continue;
        const std::string path = dir + "/" + name;
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            now - st.st_mtime >= ageSeconds && ::unlink(path.c_str()) == 0)
            ++removed;
    }
    ::closedir(d);
    return removed;
}

}  // namespace korrin::platform
