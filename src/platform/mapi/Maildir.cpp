#include "platform/mapi/Maildir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <random>

#include "platform/files/Files.h"
#include "platform/mapi/EntryId.h"

namespace korrin::platform::mapi_detail {

namespace {

bool makeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST)
        return DirectoryExists(path);
    return false;
}

bool makeMaildir(const std::string& path) {
    return makeFolder(path) && makeFolder(path + "/tmp") && makeFolder(path + "/new") &&
           makeFolder(path + "/cur");
}

bool makeParents(const std::string& path) {
    for (std::size_t i = 1; i < path.size(); ++i)
        if (path[i] == '/' && !makeFolder(path.substr(0, i)))
            return false;
    return true;
}

std::string hostName() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0 || !buf[0])
        return "localhost";
    std::string h;
    for (char* c = buf; *c; ++c) {
        char ch = *c;
        bool ok = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
                  (ch >= '0' && ch <= '9') || ch == '.' || ch == '-';
        h += ok ? ch : '_';
    }
    return h;
}

}  // namespace

std::string FolderPath(const std::string& root, const std::string& folder) {
    return folder.empty() ? root : root + "/." + folder;
}

bool EnsureMaildir(const std::string& root) {
    if (root.empty() || root[0] != '/') {
        errno = EINVAL;
        return false;
    }
    if (!makeParents(root) || !makeMaildir(root))
        return false;
    for (const char* f : {"Outbox", "Sent", "Trash"}) {
        std::string path = FolderPath(root, f);
        if (!makeMaildir(path))
            return false;
        std::string mark = path + "/maildirfolder";
        if (!FileExists(mark)) {
            int fd = ::open(mark.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
            if (fd < 0)
                return false;
            ::close(fd);
        }
    }
    return true;
}

std::string NormalFlags(std::string_view flags) {
    std::string out;
    for (char c : flags)
        if (c >= 'A' && c <= 'Z' && out.find(c) == std::string::npos)
            out += c;
    std::sort(out.begin(), out.end());
    return out;
}

bool ParseMaildirName(std::string_view name, std::string* unique, std::string* flags) {
    std::size_t colon = name.find(':');
    std::string_view u = name.substr(0, colon);
    if (!IsUniqueName(u))
        return false;
    std::string f;
    if (colon != std::string_view::npos) {
        std::string_view info = name.substr(colon + 1);
        if (info.size() < 2 || info[0] != '2' || info[1] != ',')
            return false;
        for (char c : info.substr(2)) {
            if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
                return false;
        }
        f = NormalFlags(info.substr(2));
    }
    if (unique)
        unique->assign(u);
    if (flags)
        *flags = f;
    return true;
}

std::vector<MaildirFile> ListMaildir(const std::string& folderPath) {
    std::vector<MaildirFile> out;
    for (const char* sub : {"/new", "/cur"}) {
        std::string dir = folderPath + sub;
        DIR* d = ::opendir(dir.c_str());
        if (!d)
            continue;
        while (dirent* e = ::readdir(d)) {
            MaildirFile f;
            if (!ParseMaildirName(e->d_name, &f.unique, &f.flags))
                continue;
            f.path = dir + "/" + e->d_name;
            out.push_back(std::move(f));
        }
        ::closedir(d);
    }
    std::sort(out.begin(), out.end(),
              [](const MaildirFile& a, const MaildirFile& b) { return a.unique < b.unique; });
    return out;
}

bool FindMaildir(const std::string& folderPath, const std::string& unique, MaildirFile* file) {
    if (!IsUniqueName(unique))
        return false;
    std::string path = folderPath + "/new/" + unique;
    if (FileExists(path)) {
        *file = {unique, "", path};
        return true;
    }
    for (auto& f : ListMaildir(folderPath))
        if (f.unique == unique) {
            *file = std::move(f);
            return true;
        }
    return false;
}

std::string NewUniqueName() {
    struct timeval tv {};
    ::gettimeofday(&tv, nullptr);
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    char buf[128];
    std::snprintf(buf, sizeof buf, "%lld.M%06ldP%dR%016llx.", static_cast<long long>(tv.tv_sec),
                  static_cast<long>(tv.tv_usec), static_cast<int>(::getpid()),
                  static_cast<unsigned long long>(rng()));
    std::string name = buf + hostName();
    if (name.size() > 200)
        name.resize(200);
    return name;
}

bool SyncFolder(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool DeliverMaildir(const std::string& folderPath, const std::function<bool(int fd)>& write,
                    const std::string& flags, std::string* unique) {
    std::string name = NewUniqueName();
    std::string tmp = folderPath + "/tmp/" + name;
    int fd = ::open(tmp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    bool ok = write(fd);
    int saved = errno;
    ok = ok && ::fsync(fd) == 0;
    saved = ok ? 0 : (saved ? saved : errno);
    if (::close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    std::string f = NormalFlags(flags);
    std::string target =
        f.empty() ? folderPath + "/new/" + name : folderPath + "/cur/" + name + ":2," + f;
    if (ok && ::rename(tmp.c_str(), target.c_str()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        ::unlink(tmp.c_str());
        errno = saved;
        return false;
    }
    SyncFolder(folderPath + (f.empty() ? "/new" : "/cur"));
    SyncFolder(folderPath + "/tmp");
    if (unique)
        *unique = name;
    return true;
}

bool MoveMaildir(const MaildirFile& file, const std::string& toFolderPath,
                 const std::string& flags) {
    std::string f = NormalFlags(flags);
    std::string target = toFolderPath + "/cur/" + file.unique + ":2," + f;
    if (::rename(file.path.c_str(), target.c_str()) != 0)
        return false;
    SyncFolder(toFolderPath + "/cur");
    auto slash = file.path.rfind('/');
    SyncFolder(file.path.substr(0, slash));
    return true;
}

}  // namespace korrin::platform::mapi_detail
