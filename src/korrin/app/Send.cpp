#include "korrin/app/Send.h"

#include <cerrno>

#include "korrin/app/Defaults.h"
#include "korrin/app/EventReport.h"
#include "korrin/app/Utils.h"
#include "korrin/app/Zip.h"
#include "korrin/audio/Acm.h"
#include "korrin/audio/Mci.h"
#include "korrin/audio/Zip.h"
#include "korrin/mail/SmtpSender.h"
#include "korrin/store/Folders.h"
#include "platform/fileio/ShareFile.h"
#include "platform/files/Files.h"
#include "platform/files/ToolOutput.h"

// Send is the composer's command: its reports name the composer's module.
#define PLAYER_REPORT(message) ::korrin::CEventReport().Report((message), "Player", __LINE__)

namespace korrin {

using namespace platform;

namespace {

constexpr const char* kTryAgainText = "Press OK and try sending your message again!";
constexpr const char* kTryAgainCaption = "Quillion EMail for Windows (tm)";
constexpr const char* kAolCaption = "Quillion EMail for Windows(tm)";
constexpr const char* kAolFolder = "MyAOLFiles";
constexpr const char* kAolDefaultName = "KORRIN";
// A work folder number whose folder exists already (a crashed run's, or someone else's in a
// shared temporary folder) is skipped: nothing in a folder we did not make is ours.
constexpr int kWorkFolderTries = 16;

bool isBlank(const std::string& text) {
    return text.find_first_not_of(" \t\r\n,;") == std::string::npos;
}

}  // namespace

std::string MessageBase(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot < nameStart)
        return path;
    return path.substr(0, dot);
}

int SaveRecording(MciDevice& player, const std::string& workingFile) {
    // The device writes the new file beside the old one, flushes it and renames it over, so a
    // failed save (a full disk) leaves the old recording in place; the device reports it.
    if (player.Save(workingFile) != 0)
        return 1;
    SyncParentDirectory(workingFile);
    player.Close();
    return 0;
}

std::optional<std::string> ISendWindow::AskSaveFileName(const FileDialogRequest& request) {
    return TakeFileAnswer(request);
}

void ISendWindow::ShowZipHint() {
    DebugTrace("zip hint not shown: no window to show it in");
}

// The private work folder Build makes its files in; removed with everything in it when the
// job ends, so a failed or abandoned send leaves nothing behind.
struct CSendJob::Work {
    std::string folder;
    std::string target;  // the message file, once built

    bool open() {
        const std::string temp = GetTempPath();
        if (!DirectoryExists(temp)) {
            PLAYER_REPORT("No temp path exists");
            return false;
        }
        CUtils utils;
        std::string candidate;
        for (int i = 0; i < kWorkFolderTries; ++i) {
            if (utils.MakeUniqueDirectory(candidate, temp) == 0) {
                folder = candidate;
                return true;
            }
            if (errno != EEXIST)
                break;
        }
        PLAYER_REPORT("CreateDirectory failed");
        return false;
    }

    ~Work() {
        if (folder.empty())
            return;
        RemoveFolderContents(folder);
        RemoveDirectory(folder);
    }
};

CSendJob::CSendJob(void* owner, std::string workingFile, SendEnvelope envelope, CFolderLists* lists,
                   ISendWindow* window)
    : owner_(owner),
      workingFile_(std::move(workingFile)),
      envelope_(std::move(envelope)),
      lists_(lists),
      window_(window ? window : &defaultWindow_) {}

CSendJob::~CSendJob() = default;

int CSendJob::fail(int result) {
    work_.reset();
    return result;
}

int CSendJob::Check(DWORD lengthMs) {
    checked_ = false;
    CUtils utils;
    transport_ =
        transportOverride_ ? *transportOverride_ : utils.GetSettingDword(setting::kTransport);
    const bool mapi = transport_ == kTransportMapi;
    if (mapi && !mapi_) {
        // Without the library nothing may call into it: the message stays in the composer.
        PLAYER_REPORT("Mapi Support Not Loaded");
        return send::kStopped;
    }
    if (!mapi && transport_ != kTransportSmtp && transport_ != kTransportAol) {
        // Filing by an unknown transport would drop the message.
        PLAYER_REPORT("Unknown Transport Found");
        return send::kStopped;
    }

    if (!mapi)
        sender_ = std::make_unique<CSmtpSender>(owner_);
    if (sender_ && senderSetup_)
        senderSetup_(*sender_);
    if (sender_ && sender_->LoadSettings() != 0) {
        AppMessageBox(owner_, kTryAgainText, kTryAgainCaption, MB_OK | MB_ICONINFORMATION);
        return send::kStopped;
    }
    if (lengthMs == 0) {
        CEventReport().ShowError("There is no message to send, record something or cancel out");
        return send::kStopped;
    }
    if (envelope_.to.empty()) {
        CEventReport().ShowError("You must specify a recipient");
        return send::kStopped;
    }
    // The envelope keeps no Bcc: under SMTP and AOL those recipients would get nothing.
    if (!mapi && !isBlank(envelope_.bcc) &&
        AppMessageBox(owner_, kBccNotKeptText, kAolCaption, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return send::kCancelled;
    if (transport_ == kTransportSmtp) {
        std::string installDir;
        if (ReadInstallDir(installDir) != 0)  // reported
            return send::kStopped;
    }
    zipped_ = ReadCompression() == kCompressionZip && ReadQuality() != kQualityNetPhone;
    if (zipped_) {
        std::string tool;
        if (!LocateZipTool(kPkzipExe, tool)) {
            ShowZipToolsMissing();
            return send::kStopped;
        }
    }
    // The library runs on this thread only: its lists and the identity are taken now.
    if (mapi)
        mapiRecipients_ = GatherMapiRecipients(*mapi_, envelope_.to, envelope_.cc, envelope_.bcc);
    checked_ = true;
    return send::kDone;
}

int CSendJob::Build(const SendProgress& progress) {
    auto cancelled = [&] { return progress.cancel && progress.cancel->load(); };
    auto stage = [&](SendStage s) {
        if (progress.stage)
            progress.stage(s);
    };
    if (!checked_ || (!sender_ && transport_ != kTransportMapi)) {
        PLAYER_REPORT("Send not checked");
        return send::kFailed;
    }
    work_ = std::make_unique<Work>();
    if (!work_->open())
        return fail(send::kFailed);
    if (cancelled())
        return fail(send::kCancelled);

    record_.SetSubjectFromEdit(envelope_.subject);
    record_.SetNoteFromEdit(envelope_.memo);
    // Without an address book the typed text is both the names and the addresses.
    const std::string& to = envelope_.to;
    const std::string& cc = envelope_.cc;
    const std::string& bcc = envelope_.bcc;
    if (sender_)
        sender_->AddRecipients(&to, &cc, &bcc);

    // The copy keeps a wave file's name: a zipped message's archive entry is named after it.
    std::string name = FileNamePart(MessageBase(workingFile_));
    if (name.empty())
        name = "message";
    const std::string converted = work_->folder + "/" + name + ".wav";

    stage(SendStage::kConverting);
    FormatChooser chooser(owner_);
    std::string details;
    if (chooser.GetFormatTransport(kKorrinKey, details) != 0)
        PLAYER_REPORT("GetFormatTransport failed");
    WaveFileInfo info;
    const DWORD converting =
        ConvertWaveFile(chooser, workingFile_, converted, info, progress.cancel);
    if (converting == kConvertCancelled)
        return fail(send::kCancelled);
    if (converting != 0) {
        PLAYER_REPORT("Could not convert for transport.");
        return fail(send::kFailed);
    }
    if (cancelled())
        return fail(send::kCancelled);

    stage(SendStage::kPacking);
    std::string target = work_->folder + "/" + name;
    if (zipped_) {
        const int packing = ZipFileInPlace(converted, progress.cancel);
        if (packing == kZipCancelled)
            return fail(send::kCancelled);
        if (packing != 0)  // reported
            return fail(send::kFailed);
        target += ".kx1";
        record_.kind = CMessageTrailer::kZipped;
    } else {
        target += ".kx0";
        record_.kind = CMessageTrailer::kPlain;
    }
    if (!MoveFile(converted, target)) {
        PLAYER_REPORT("MoveFile failed");
        return fail(send::kFailed);
    }
    if (cancelled())
        return fail(send::kCancelled);

    stage(SendStage::kStamping);
    // The Bcc lists are not stored with the message.
    const MapiRecipients& m = mapiRecipients_;
    const int written = sender_ ? record_.WriteNew(target, sender_->displayName(),
                                                   sender_->emailAddress(), to, to, cc, cc)
                                : record_.WriteNew(target, m.senderName, m.senderAddress, m.toNames,
                                                   m.toAddresses, m.ccNames, m.ccAddresses);
    if (written != 0)
        return fail(send::kFailed);
    work_->target = target;
    return send::kDone;
}

int CSendJob::Store() {
    sender_.reset();
    if (!work_ || work_->target.empty()) {
        PLAYER_REPORT("No message to store");
        return send::kFailed;
    }
    int result = send::kFailed;
    if (transport_ == kTransportSmtp) {
        std::string placed;
        if (FileIntoOutbox(work_->target, lists_, &placed) == 0) {  // failures are reported
            filedPath_ = placed;
            result = send::kDone;
        }
    } else if (transport_ == kTransportAol) {
        result = storeForAol();
    } else if (transport_ == kTransportMapi && mapi_) {
        // Handed over only when the library has it in its Outbox; otherwise (reported by the
        // library) the recording stays for another try.
        if (mapi_->SendMapiTolvMessage(record_.subject.c_str(), record_.note.c_str(),
                                       work_->target.c_str()) == 0) {
            filedPath_ = work_->target;
            result = send::kDone;
        }
    }
    window_->ShowOwner();
    if (result == send::kFailed)
        return fail(result);

    CUtils utils;
    const DWORD quality = utils.GetSettingDword(setting::kQuality);
    if (quality != kQualityNetPhone && ReadCompression() != kCompressionZip &&
        utils.GetSettingDword(setting::kNagZip) == 0)
        window_->ShowZipHint();

    // The message is out of our hands: only now does the recording go.
    if (!DeleteFile(workingFile_) && errno != ENOENT)
        PLAYER_REPORT("DeleteFile failed");
    work_.reset();
    return result;
}

int CSendJob::storeForAol() {
    const std::string folder = GetHomeDirectory() + "/" + kAolFolder;
    if (!DirectoryExists(folder))
        CreateDirectory(folder);  // one that cannot be made shows in the dialog
    for (;;) {
        const int step = aolSaveStep();
        if (step != 1)
            return step;
    }
}

// One round of the AOL save dialog: kDone saved, kDiscarded dropped on the user's word, 1 ask
// again.
int CSendJob::aolSaveStep() {
    const std::string& target = work_->target;
    const std::string extension = ExtensionOf(target);
    CUtils utils;
    std::string aolPath;
    // A stored name is a path, never a format: only the built-in default is filled in.
    if (!utils.GetRegistryString(kKorrinKey, setting::kAolPath, aolPath, 260) || aolPath.empty())
        aolPath = GetHomeDirectory() + "/" + kAolFolder + "/" + kAolDefaultName + "." + extension;
    FileDialogRequest request;
    request.save = true;
    request.title = "Save Quillion EMail for Windows(tm) File As";
    request.filterName = "Quillion EMail(tm) files (*.kx0;*.kx1)";
    request.patterns = "*.kx0;*.kx1";
    request.defaultExtension = "kx1";
    request.initialName = MessageBase(aolPath) + "." + extension;

    const std::optional<std::string> chosen = window_->AskSaveFileName(request);
    if (!chosen) {
        const int answer = AppMessageBox(
            owner_,
            "You have chosen not to save this Quillion EMail for Windows(tm) message.  Are you "
            "sure you want to delete it?",
            kAolCaption, MB_YESNO);
        if (answer != IDYES)
            return 1;
        return send::kDiscarded;
    }
    // The file always keeps the extension of its kind.
    const std::string final = MessageBase(*chosen) + "." + extension;
    if (FileExists(final) &&
        AppMessageBox(owner_, final + " already exists.\nDo you want to replace it?", kAolCaption,
                      MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2) != IDYES)
        return 1;
    if (!CopyFile(target, final, false)) {
        PLAYER_REPORT("Copy File Failed");
        return 1;
    }
    utils.SetRegistryString(kKorrinKey, setting::kAolPath, final);
    filedPath_ = final;
    AppMessageBox(owner_,
                  "AOL file saved as: " + final +
                      ", make a note of name and location of file. Attach this file to your "
                      "message to recipient.",
                  kAolCaption, MB_OK);
    return send::kDone;
}

int CSendJob::Run(DWORD lengthMs, const SendProgress& progress) {
    if (int r = Check(lengthMs); r != send::kDone)
        return r;
    if (int r = Build(progress); r != send::kDone)
        return r;
    return Store();
}

}  // namespace korrin
