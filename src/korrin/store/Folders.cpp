#include "korrin/store/Folders.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "korrin/app/EventReport.h"
#include "korrin/app/Utils.h"
#include "korrin/store/FolderList.h"
#include "platform/Text.h"
#include "platform/fileio/ShareFile.h"
#include "platform/files/Files.h"

namespace korrin {

using namespace platform;

namespace {

const std::vector<std::string> kPatterns = {".KX0", ".KX1"};

// Renames src into the folder under fresh numbers until it lands. Rename failures other
// than a taken name are retried 250 ms apart, kMoveTries in all; a missing folder is
// created on the way. A taken name costs no try: it only means the counter was reset or
// wrapped while old messages remain, and the next number is free sooner or later.
int placeIntoFolder(const std::string& src, int folder, std::string* placed) {
    DWORD number = 0;
    if (CUtils().NextFileID(number) != 0)
        return 1;  // reported by the counter
    const std::string extension = ExtensionOf(
        IsAcceptedName(src) ? src.substr(0, src.size() - std::strlen(kAcceptedSuffix)) : src);
    std::string installDir;
    if (ReadInstallDir(installDir) != 0)
        return 1;
    const std::string dir = FolderPath(installDir, folder);
    DWORD skipped = 0;
    bool createFailed = false;
    for (int attempt = 1; attempt <= kMoveTries;) {
        const std::string dst = MessageFileName(installDir, folder, number, extension);
        if (MoveFileShared(src, dst)) {
            *placed = dst;
            return 0;
        }
        if (errno == EEXIST && FileExists(dst) && ++skipped < kFileIdLimit) {
            if (CUtils().NextFileID(number) != 0)
                return 1;
            continue;
        }
        if (!DirectoryExists(dir) && !CreateDirectory(dir) && !DirectoryExists(dir))
            createFailed = true;
        if (attempt++ < kMoveTries)
            std::this_thread::sleep_for(std::chrono::milliseconds(kMoveRetryMs));
    }
    // A folder that could not be made matters only when the move did not happen after all.
    if (createFailed)
        KORRIN_REPORT("CreateDirectory failed");
    KORRIN_REPORT("MoveFile failed");
    return 1;
}

}  // namespace

bool IsFolderNumber(int folder) {
    return folder == kSentItems || folder == kOutbox || folder == kDeletedItems;
}

const char* FolderDirectoryName(int folder) {
    switch (folder) {
        case kSentItems:
            return "SENT";
        case kOutbox:
            return "OUTBOX";
        case kDeletedItems:
            return "DELETED";
        default:
            return "";
    }
}

char FolderLetter(int folder) {
    switch (folder) {
        case kSentItems:
            return 'S';
        case kOutbox:
            return 'O';
        case kDeletedItems:
            return 'D';
        default:
            return '?';
    }
}

int ReadInstallDir(std::string& out) {
    if (CUtils().GetRegistryString(kInstallKey, kInstallDirValue, out, kInstallDirBytes) &&
        !out.empty())
        return 0;
    KORRIN_REPORT("GetRegistryString failed.");
    return 1;
}

std::string FolderPath(const std::string& installDir, int folder) {
    std::string base = installDir;
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    return base + "/" + FolderDirectoryName(folder);
}

std::string MessageFileName(const std::string& installDir, int folder, DWORD number,
                            const std::string& extension) {
    return FolderPath(installDir, folder) + "/KX" + std::to_string(number) + FolderLetter(folder) +
           "." + extension;
}

int FindMessageFiles(int folder, std::vector<std::string>* kx0, std::vector<std::string>* kx1) {
    kx0->clear();
    kx1->clear();
    std::string installDir;
    if (ReadInstallDir(installDir) != 0)
        return 1;
    const std::string dir = FolderPath(installDir, folder);
    std::vector<std::vector<FoundFile>> found;
    FindFiles(dir, kPatterns, &found);  // a folder that cannot be read holds no messages
    for (std::size_t i = 0; i < found.size(); ++i) {
        auto* out = i == 0 ? kx0 : kx1;
        out->reserve(found[i].size());
        for (const auto& f : found[i])
            out->push_back(dir + "/" + f.name);
    }
    return 0;
}

int CountMessages(int folder, DWORD* count) {
    *count = 0;
    std::vector<std::string> kx0, kx1;
    if (FindMessageFiles(folder, &kx0, &kx1) != 0)
        return 1;
    *count = static_cast<DWORD>(kx0.size() + kx1.size());
    return 0;
}

bool IsAcceptedName(const std::string& path) {
    const std::size_t n = std::strlen(kAcceptedSuffix);
    return path.size() > n &&
           EqualsNoCase(std::string_view(path).substr(path.size() - n), kAcceptedSuffix);
}

int MarkAccepted(const std::string& path, std::string* accepted) {
    const std::string name = path + kAcceptedSuffix;
    for (int attempt = 1; attempt <= kMoveTries; ++attempt) {
        // The rename never replaces: an accepted file of that name would be another message.
        if (MoveFileShared(path, name)) {
            *accepted = name;
            return 0;
        }
        if (errno != EWOULDBLOCK || attempt == kMoveTries)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(kMoveRetryMs));
    }
    return 1;
}

int FindAcceptedMessages(std::vector<std::string>* paths) {
    paths->clear();
    std::string installDir;
    if (ReadInstallDir(installDir) != 0)
        return 1;
    const std::string dir = FolderPath(installDir, kOutbox);
    std::vector<std::vector<FoundFile>> found;
    FindFiles(dir, {std::string(".KX0") + kAcceptedSuffix, std::string(".KX1") + kAcceptedSuffix},
              &found);
    for (const auto& group : found)
        for (const auto& f : group)
            paths->push_back(dir + "/" + f.name);
    return 0;
}

int FileIntoOutbox(const std::string& path, CFolderLists* lists, std::string* newPath) {
    if (lists)
        lists->MarkOutOfDate(kOutbox);
    std::string placed;
    int result = placeIntoFolder(path, kOutbox, &placed);
    if (result == 0 && newPath)
        *newPath = placed;
    return result;
}

int MoveMessage(const std::string& path, int destination, int source, CFolderLists* lists,
                std::string* newPath) {
    std::string placed;
    if (placeIntoFolder(path, destination, &placed) != 0)
        return 1;
    if (newPath)
        *newPath = placed;
    if (lists)
        lists->AfterMove(placed, destination, source, path);
    return 0;
}

void DeleteMessage(const std::string& path, CFolderLists* lists) {
    if (lists)
        lists->RemoveEntry(kDeletedItems, path, path);
    DeleteFileShared(path);
}

int DeleteFolderContents(int folder) {
    std::vector<std::string> kx0, kx1;
    if (FindMessageFiles(folder, &kx0, &kx1) != 0)
        return 1;
    for (const auto* list : {&kx0, &kx1})
        for (const auto& path : *list)
            DeleteFileShared(path);  // a file that cannot go stays, silently
    return 0;
}

}  // namespace korrin
