#include "korrin/audio/Fix.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "korrin/app/EventReport.h"
#include "korrin/app/Zip.h"
#include "korrin/store/Trailer.h"
#include "platform/fileio/ShareFile.h"
#include "platform/files/Files.h"
#include "platform/files/PrivateTemp.h"
#include "platform/files/ToolOutput.h"

namespace korrin {

using namespace platform;

namespace {

constexpr const char* kWorkPrefix = "fix-";

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool hasExtension(const std::string& path, const char* ext) {
    std::string e = ExtensionOf(path);
    for (char& c : e)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return e == ext;
}

FixResult left(std::string reason, bool fault) {
    return FixResult{FixOutcome::kLeft, std::move(reason), fault};
}

// Work folders of fixes whose process has ended (killed part way): removed before every fix. A
// folder of a process still running is left alone.
void removeStaleWorkFolders(const std::string& privateFolder) {
    DIR* d = ::opendir(privateFolder.c_str());
    if (!d)
        return;
    std::vector<std::string> stale;
    while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name.rfind(kWorkPrefix, 0) != 0)
            continue;
        char* end = nullptr;
        const long pid = std::strtol(name.c_str() + 4, &end, 10);
        if (pid <= 0 || *end != '-')
            continue;
        if (pid != ::getpid() && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            stale.push_back(privateFolder + "/" + name);
    }
    ::closedir(d);
    for (const auto& folder : stale) {
        RemoveFolderContents(folder);
        RemoveDirectory(folder);
    }
    // And what killed packing and unpacking steps left: folders nobody holds.
    platform::RemoveAbandonedWorkFolders();
}

// A fresh folder of our own for one fix, removed with its contents when the fix ends.
class WorkFolder {
  public:
    ~WorkFolder() {
        if (!path_.empty()) {
            RemoveFolderContents(path_);
            RemoveDirectory(path_);
        }
    }
    bool make() {
        std::string base;
        if (!GetPrivateTempFolder(&base))
            return false;
        removeStaleWorkFolders(base);
        std::string pattern = base + "/" + kWorkPrefix + std::to_string(::getpid()) + "-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (!::mkdtemp(name.data()))
            return false;
        path_ = name.data();
        // Held while the fix works, so a sweep of abandoned work folders leaves it alone.
        return lock_.Take(path_);
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
    platform::WorkFolderLock lock_;
};

// Opens the message file and takes its lock, waiting as a read waits while another holds it.
bool holdRetried(ShareFile& file, const std::string& path) {
    for (int attempt = 1;; ++attempt) {
        if (file.Open(path, true))
            return true;
        const bool held = errno == EWOULDBLOCK || errno == ESTALE || errno == EINTR;
        if (!held || attempt >= trailer::kOpenTries)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(trailer::kOpenRetryMs));
    }
}

// Called while holding path's lock: no fix of path can be under way elsewhere, so whatever
// new file of a replace is found beside it was left by one that was killed.
void removeLeftovers(const std::string& path) {
    const std::string folder = folderOf(path);
    const std::string name = FileNamePart(path);
    DIR* d = ::opendir(folder.c_str());
    if (!d)
        return;
    std::vector<std::string> found;
    while (dirent* e = ::readdir(d))
        if (fixdetail::IsLeftoverOf(name, e->d_name))
            found.push_back(folder + "/" + e->d_name);
    ::closedir(d);
    for (const auto& leftover : found)
        if (!DeleteFile(leftover) && errno != ENOENT)
            KORRIN_REPORT("DeleteFile failed");
}

bool copyOut(const ShareFile& from, const std::string& to) {
    std::uint64_t size = 0;
    if (!from.Size(&size))
        return false;
    const int out = CreateNewFile(to, 0600);
    if (out < 0)
        return false;
    bool ok = CopyFileRange(from.fd(), out, size);
    ok = ::close(out) == 0 && ok;
    return ok;
}

// Whether the file ends where a zip archive ends (its end record, with its comment, last):
// then nothing follows the archive and the file is in the old layout. Told apart this way so
// that the archive's last bytes are never read as a trailer (they can look like one of a
// newer release, whose question would then be asked for every old file).
bool endsWithArchive(int fd) {
    std::uint64_t size = 0;
    if (!GetOpenFileSize(fd, &size) || size < 22)
        return false;
    const std::uint64_t span = std::min<std::uint64_t>(size, 22 + 0xFFFF);
    std::vector<unsigned char> tail(static_cast<std::size_t>(span));
    if (::pread(fd, tail.data(), tail.size(), static_cast<off_t>(size - span)) !=
        static_cast<ssize_t>(tail.size()))
        return false;
    for (std::size_t at = tail.size() - 22;; --at) {
        const unsigned char* r = tail.data() + at;
        if (r[0] == 'P' && r[1] == 'K' && r[2] == 5 && r[3] == 6 &&
            at + 22 + (r[20] | r[21] << 8) == tail.size())
            return true;
        if (at == 0)
            return false;
    }
}

bool pathEndsWithArchive(const std::string& path) {
    const int fd = OpenRegularFile(path);
    if (fd < 0)
        return false;
    const bool ends = endsWithArchive(fd);
    ::close(fd);
    return ends;
}

bool startsLikeArchive(const ShareFile& file) {
    unsigned char magic[4];
    return file.ReadAt(0, magic, 4) && magic[0] == 'P' && magic[1] == 'K' && magic[2] == 3 &&
           magic[3] == 4;
}

// The fix proper, with the lock on the message file held by the caller.
FixResult fixHeld(const std::string& path, ShareFile& held) {
    if (!startsLikeArchive(held))
        return left("not an archive", false);
    WorkFolder work;
    if (!work.make()) {
        KORRIN_REPORT("CreateDirectory failed");
        return left("no work folder", true);
    }
    // The archive will hold the wave under the message's own name, as the unpacker expects:
    // "KX12O.kx1" holds "KX12O.wav".
    std::string base = FileNamePart(path);
    if (const auto dot = base.rfind('.'); dot != std::string::npos && dot > 0)
        base.resize(dot);
    const std::string copy = work.file(base + ".wav");
    if (!copyOut(held, copy)) {
        KORRIN_REPORT("CopyFile failed");
        return left("cannot copy", true);
    }
    // Another fix may have finished between the test and the lock.
    if (!endsWithArchive(held.fd()) && CMessageTrailer().ReadForList(copy) == trailer::kRead)
        return FixResult{FixOutcome::kCurrent, "", false};
    std::string tool;
    if (!LocateZipTool(kPkzipExe, tool) || !LocateZipTool(kPkunzipExe, tool)) {
        ShowZipToolsMissing();
        return left("zip tools missing", true);
    }
    switch (UnzipFileInPlace(copy)) {
        case 0:
            break;
        case 1:
            return left("no wave file in the archive", false);
        default:
            return left("cannot unpack", true);
    }
    CMessageTrailer trailer;
    switch (trailer.ReadAllAndStrip(copy)) {
        case trailer::kRead:
            break;
        case trailer::kIoFailure:
            return left("cannot read the unpacked wave", true);
        default:
            return left("no trailer inside", false);
    }
    if (ZipFileInPlace(copy) != 0)
        return left("cannot pack", true);
    if (trailer.Rewrite(copy) != 0)
        return left("cannot write the trailer", true);
    // What goes over the message must read as a current message.
    if (CMessageTrailer().ReadForList(copy) != trailer::kRead) {
        KORRIN_REPORT("Fixed file unreadable");
        return left("fixed file unreadable", true);
    }
    const int in = OpenRegularFile(copy);
    std::uint64_t size = 0;
    RegularFileStatus status;
    if (in < 0 || !GetRegularFileStatus(copy, &status)) {
        if (in >= 0)
            ::close(in);
        KORRIN_REPORT("_open file failed");
        return left("cannot read the fixed file", true);
    }
    size = status.size;
    const BOOL replaced =
        ReplaceFileAtomically(path, [&](int out) { return CopyFileRange(in, out, size); });
    ::close(in);
    if (!replaced) {
        KORRIN_REPORT("MoveFile failed");
        return left("cannot replace the file", true);
    }
    return FixResult{FixOutcome::kFixed, "", false};
}

}  // namespace

namespace fixdetail {

bool IsLeftoverOf(const std::string& fileName, const std::string& candidate) {
    const std::size_t hex = 16;
    if (fileName.empty() || candidate.size() != fileName.size() + 1 + hex + 4)
        return false;
    if (candidate.compare(0, fileName.size(), fileName) != 0 || candidate[fileName.size()] != '.')
        return false;
    for (std::size_t i = fileName.size() + 1; i < fileName.size() + 1 + hex; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(candidate[i])))
            return false;
    return candidate.compare(candidate.size() - 4, 4, ".new") == 0;
}

}  // namespace fixdetail

bool IsOldMessageFile(const std::string& path) {
    if (!hasExtension(path, "kx1"))
        return false;
    {
        ShareFile file;  // a file another opener holds is busy, not old
        if (!file.Open(path, false))
            return false;
        if (endsWithArchive(file.fd()))
            return true;
    }
    const int result = CMessageTrailer().ReadForList(path);
    return result == trailer::kNoTrailer || result == trailer::kDamaged;
}

FixResult FixMessageFile(const std::string& path) {
    const bool zipped = hasExtension(path, "kx1");
    const int test = zipped && pathEndsWithArchive(path) ? trailer::kNoTrailer
                                                         : CMessageTrailer().ReadForList(path);
    if (test == trailer::kIoFailure)
        return left("busy or unreadable", true);
    if (test != trailer::kRead && !zipped)
        return left(test == trailer::kNoTrailer ? "no trailer" : "damaged trailer", false);

    ShareFile held;
    if (!holdRetried(held, path)) {
        if (test == trailer::kRead)
            return FixResult{FixOutcome::kCurrent, "", false};
        return left(errno == ENOENT ? "gone" : "busy", true);
    }
    removeLeftovers(path);
    if (test == trailer::kRead)
        return FixResult{FixOutcome::kCurrent, "", false};
    return fixHeld(path, held);
}

std::string FixResultText(const FixResult& result) {
    switch (result.outcome) {
        case FixOutcome::kFixed:
            return "fixed";
        case FixOutcome::kCurrent:
            return "current";
        case FixOutcome::kLeft:
            break;
    }
    return "left: " + result.reason;
}

}  // namespace korrin
