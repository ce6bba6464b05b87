#include "korrin/app/Drafts.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <random>

#include "korrin/app/EventReport.h"
#include "korrin/app/Utils.h"
#include "korrin/audio/Mci.h"
#include "korrin/transmit/Transmit.h"
#include "platform/fileio/ShareFile.h"
#include "platform/files/Files.h"

#define PLAYER_REPORT(message) ::korrin::CEventReport().Report((message), "Player", __LINE__)

namespace korrin {

using namespace platform;

namespace {

constexpr const char* kDraftPrefix = "Draft";
constexpr const char* kLockSuffix = ".lock";

std::string draftsFolder(std::string* out) {
    std::string installDir;
    if (ReadInstallDir(installDir) != 0)
        return {};
    *out = installDir;
    while (out->size() > 1 && out->back() == '/')
        out->pop_back();
    *out += std::string("/") + kDraftsFolder;
    return *out;
}

// The number in "Draft<n>.kx0"; 0 for other names.
unsigned long draftNumber(const std::string& path) {
    const std::string name = FileNamePart(path);
    if (name.rfind(kDraftPrefix, 0) != 0)
        return 0;
    return std::strtoul(name.c_str() + std::char_traits<char>::length(kDraftPrefix), nullptr, 10);
}

// The new draft is built under a name no message pattern matches, beside the old one.
std::string partName(const std::string& path) {
    std::random_device rd;
    return path + "." + std::to_string(rd()) + ".part";
}

int install(const std::string& part, const std::string& path) {
    if (std::rename(part.c_str(), path.c_str()) != 0) {
        DeleteFile(part);
        PLAYER_REPORT("MoveFile failed");
        return 1;
    }
    SyncParentDirectory(path);
    return 0;
}

int stamp(const std::string& part, const SendEnvelope& envelope) {
    CMessageTrailer record;
    record.kind = CMessageTrailer::kPlain;
    record.SetSubjectFromEdit(envelope.subject);
    record.SetNoteFromEdit(envelope.memo);
    // The trailer has no Bcc field: a draft keeps To, Cc, subject and memo.
    if (record.WriteNew(part, "", "", envelope.to, envelope.to, envelope.cc, envelope.cc) != 0) {
        DeleteFile(part);
        return 1;
    }
    return 0;
}

}  // namespace

CDraft::~CDraft() {
    lock_.Unlock();
}

int CDraft::Create() {
    std::string folder;
    if (draftsFolder(&folder).empty())
        return 1;
    if (!DirectoryExists(folder) && !CreateDirectory(folder) && !DirectoryExists(folder)) {
        PLAYER_REPORT("CreateDirectory failed");
        return 1;
    }
    CUtils utils;
    for (int tries = 0; tries < 100; ++tries) {
        DWORD number = 0;
        if (utils.NextFileID(number) != 0)
            return 1;
        const std::string path = folder + "/" + kDraftPrefix + std::to_string(number) + ".kx0";
        if (FileExists(path))
            continue;  // another run's draft: never ours to replace
        lock_.Unlock();
        if (!lock_.TryLock(path + kLockSuffix))
            continue;
        path_ = path;
        return 0;
    }
    PLAYER_REPORT("CreateFile failed");
    return 1;
}

int CDraft::Adopt(const std::string& path) {
    lock_.Unlock();
    if (!lock_.TryLock(path + kLockSuffix))
        return 1;
    path_ = path;
    return 0;
}

int CDraft::Replace(MciDevice& player, const SendEnvelope& envelope) {
    if (path_.empty() || !lock_.IsLocked())
        return 1;
    const std::string part = partName(path_);
    if (player.Save(part) != 0) {  // reported by the device
        DeleteFile(part);
        return 1;
    }
    if (stamp(part, envelope) != 0)
        return 1;
    return install(part, path_);
}

int CDraft::ReplaceFromFile(const std::string& wavePath, const SendEnvelope& envelope) {
    if (path_.empty() || !lock_.IsLocked())
        return 1;
    const std::string part = partName(path_);
    if (!CopyFile(wavePath, part, true)) {
        PLAYER_REPORT("CopyFile failed");
        DeleteFile(part);
        return 1;
    }
    if (stamp(part, envelope) != 0)
        return 1;
    return install(part, path_);
}

void CDraft::Remove() {
    if (path_.empty())
        return;
    if (!DeleteFile(path_) && errno != ENOENT)
        PLAYER_REPORT("DeleteFile failed");
    else
        SyncParentDirectory(path_);
    DeleteFile(path_ + kLockSuffix);
    lock_.Unlock();
    path_.clear();
}

std::vector<std::string> ListOrphanDrafts() {
    std::vector<std::string> out;
    std::string folder;
    if (draftsFolder(&folder).empty() || !DirectoryExists(folder))
        return out;
    std::vector<std::vector<FoundFile>> found;
    if (!FindFiles(folder, {".KX0"}, &found) || found.empty())
        return out;
    for (const auto& f : found[0]) {
        const std::string path = folder + "/" + f.name;
        if (draftNumber(path) == 0)
            continue;
        platform::LockFile probe;
        if (probe.TryLock(path + kLockSuffix))
            out.push_back(path);  // probe lets go when it ends
    }
    std::sort(out.begin(), out.end(), [](const std::string& a, const std::string& b) {
        return draftNumber(a) < draftNumber(b);
    });
    return out;
}

int ReadDraftEnvelope(const std::string& path, SendEnvelope* envelope) {
    CMessageTrailer record;
    record.selection = trailer::kAllText | trailer::kNoteText;
    const int result = record.Read(path);
    if (result != trailer::kRead)
        return result;
    envelope->to = record.toAddresses;
    envelope->cc = record.ccAddresses;
    envelope->bcc.clear();
    envelope->subject = record.subject;
    // The memo as an edit box holds it: lines ended by LF.
    envelope->memo.clear();
    for (char c : record.note)
        if (c != '\r')
            envelope->memo += c;
    return 0;
}

}  // namespace korrin
