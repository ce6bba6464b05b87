// Sending a composed message: the checks, the conversion of the recording into the transport
// format, packing it (.kx0 plain, .kx1 zipped), stamping the envelope, and handing the message
// to the chosen transport (the Outbox for SMTP, a file of the user's choice for AOL, the MAPI
// library). The composer window and `korrinctl compose` run the same code.
//
// All or nothing: the message is built from a converted copy of the working file in a private
// work folder, flushed, and filed by a rename; only then is the working file dropped. On any
// failure every partial file is removed and the working file is left exactly as it was, so the
// caller can re-open its player on it and let the user try again.
//
// One CSendJob per Send command, in three steps:
//   Check   user-interface thread: the questions and checks before anything is changed;
//   Build   any thread (the window runs it on a worker behind a modal progress window):
//           conversion, packing, envelope; never writes the working file;
//   Store   user-interface thread: the store request (WM_STORE_MESSAGE), which files the
//           message and drops the working file.
// Between Check and Build the caller saves its recording into the working file
// (SaveRecording) and closes its player. Questions and notices go through the message seam
// (AppMessageBox); file dialogs through ISendWindow, by default the KORRIN_FILE_ANSWERS seam.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "korrin/mail/TolvlinkBinding.h"
#include "korrin/store/Trailer.h"
#include "platform/Win32Types.h"
#include "platform/seam/FileAnswers.h"

namespace korrin {

class CFolderLists;
class CSmtpSender;
class MciDevice;

using platform::DWORD;

// The composer's store request to itself: wParam 0 ends the window afterwards, any other
// value leaves it open; lParam is the transport.
inline constexpr unsigned WM_STORE_MESSAGE = 0x0400 + 0x12D;  // 0x052D

// "Transport" values.
inline constexpr DWORD kTransportSmtp = 1;
inline constexpr DWORD kTransportAol = 2;
inline constexpr DWORD kTransportMapi = 3;

// What Send got from the composer's fields, as the edit boxes give their text (lines ended by
// LF; the memo's lines are joined by CR LF in the message).
struct SendEnvelope {
    std::string to;
    std::string cc;
    std::string bcc;
    std::string subject;
    std::string memo;
};

// Results of the three steps and of Run.
namespace send {
// Check/Build: go on. Store/Run: the message is filed (or handed over) and the working file
// is gone; the composer ends as after a send.
inline constexpr int kDone = 0;
// A check stopped Send before anything changed; the user was told why. The composer stays
// open with its recording as it is.
inline constexpr int kStopped = 1;
// Send failed after work began (conversion, packing, envelope, filing); the failure was
// reported, partial files are removed and the working file is as it was. The caller
// re-opens its player on the working file, keeps changed and stays open.
inline constexpr int kFailed = 2;
// The user cancelled (No to a question, Cancel in the progress window): as kStopped.
inline constexpr int kCancelled = 3;
// AOL: the user chose not to save the message and confirmed deleting it; the working file is
// gone, the composer ends as after a send.
inline constexpr int kDiscarded = 4;
}  // namespace send

// The text asked before a message with Bcc recipients goes by SMTP or AOL (the envelope
// keeps no Bcc, so they would get nothing).
inline constexpr const char* kBccNotKeptText =
    "Bcc recipients are not kept with this message and will not receive it.  Send anyway?";

// The stages Build passes through, in order.
enum class SendStage { kConverting = 1, kPacking = 2, kStamping = 3 };

// How Build tells the window how far it got, and how the window asks it to stop. Both are
// used on the thread that runs Build; `stage` must hand its work to the window thread itself.
// The conversion's percentage arrives the usual way: AudioWindow::SetItemText with item
// kProgressItem (102) and the job's owner; these calls, the wait cursor's and the boxes of a
// failed conversion come on the thread that runs Build, so the window's AudioWindow must hand
// them to its own thread. Cancel is looked at between stages, before every second of audio
// the conversion takes, and while the packer runs (which is then ended); a cancelled Build
// removes what it made and returns kCancelled.
struct SendProgress {
    std::function<void(SendStage)> stage;  // may be empty
    const std::atomic<bool>* cancel = nullptr;
};

// The window side of Send: the AOL save dialog and showing the owner (main) window. Called on
// the user-interface thread from Store. The default (no window) answers file dialogs from
// KORRIN_FILE_ANSWERS and Cancel without it.
class ISendWindow {
  public:
    virtual ~ISendWindow() = default;
    // A save-file dialog; nullopt for Cancel. The dialog need not ask about an existing
    // file: Store asks before it replaces one (the name it saves under may differ from the
    // chosen one in its extension).
    virtual std::optional<std::string> AskSaveFileName(const platform::FileDialogRequest& request);
    // Store request step: the owner window is shown again.
    virtual void ShowOwner() {}
    // Store request step, for an unzipped message while the hint is wanted: the zip hint
    // dialog, modally. Without a window there is nobody to show it to (a trace line says so).
    virtual void ShowZipHint();
};

class CSendJob {
  public:
    // owner: the composer window (a QWidget* in the program) boxes belong to, or null.
    // workingFile: the recording in the local format. lists: the main window's folder lists
    // (the Outbox list is marked out of date), or null. window: null for the default.
    CSendJob(void* owner, std::string workingFile, SendEnvelope envelope,
             CFolderLists* lists = nullptr, ISendWindow* window = nullptr);
    // Removes a built message that was never stored, and the work folder.
    ~CSendJob();
    CSendJob(const CSendJob&) = delete;
    CSendJob& operator=(const CSendJob&) = delete;

    // MAPI: the composer's loaded library binding, or null when it is not loaded (transport 3
    // then stops with "Mapi Support Not Loaded" and nothing calls into the library). Check
    // resolves the recipients and the identity through it, Store hands the message over.
    void SetMapiBinding(CTolvlinkBinding* binding) { mapi_ = binding; }
    // Sends by this transport instead of the stored "Transport" (korrinctl compose).
    void SetTransport(DWORD transport) { transportOverride_ = transport; }
    // Runs on the SMTP settings object before it loads (tests shorten its timeouts).
    void SetSenderSetup(std::function<void(CSmtpSender&)> setup) {
        senderSetup_ = std::move(setup);
    }

    // User-interface thread. Reads "Transport", loads and checks the SMTP settings (not for
    // MAPI), checks the recording's length (lengthMs, measured by the caller's player) and the
    // To field, asks about Bcc recipients under SMTP and AOL, checks that InstallDir can be
    // read for SMTP, that the packer is there for a zipped message, and MAPI support for
    // transport 3. kDone, kStopped or kCancelled.
    int Check(DWORD lengthMs);

    // Any one thread, after Check returned kDone and the caller saved and closed its player.
    // Converts a copy of the working file into the transport format, packs it when the
    // quality and compression settings say so, and appends the envelope. kDone with the
    // message built, kFailed, or kCancelled; the working file is never written.
    int Build(const SendProgress& progress = {});

    // User-interface thread, after Build returned kDone: the store request. Files the message
    // by transport and drops the working file: kDone, kDiscarded, or kFailed (nothing filed,
    // the working file kept).
    int Store();

    // Check, Build and Store on the calling thread (korrinctl). The first result that is not
    // kDone, or the result of Store.
    int Run(DWORD lengthMs, const SendProgress& progress = {});

    DWORD transport() const { return transport_; }
    bool zipped() const { return zipped_; }
    // Where the message went: the Outbox file, or the AOL file. Empty until Store succeeds.
    const std::string& filedPath() const { return filedPath_; }
    // The message record (subject, note, kind) as Build set it.
    const CMessageTrailer& record() const { return record_; }

  private:
    struct Work;
    int fail(int result);
    int storeForAol();
    int aolSaveStep();

    void* owner_;
    std::string workingFile_;
    SendEnvelope envelope_;
    CFolderLists* lists_;
    ISendWindow* window_;
    ISendWindow defaultWindow_;
    std::optional<DWORD> transportOverride_;
    std::function<void(CSmtpSender&)> senderSetup_;
    CTolvlinkBinding* mapi_ = nullptr;
    MapiRecipients mapiRecipients_;

    DWORD transport_ = kTransportSmtp;
    bool zipped_ = false;
    bool checked_ = false;
    std::unique_ptr<CSmtpSender> sender_;
    std::unique_ptr<Work> work_;
    CMessageTrailer record_;
    std::string filedPath_;
};

// The base of a path for a message file: the path without the extension of its FILE NAME
// (cut at the last '.' after the last '/'); a name without '.' is kept whole.
std::string MessageBase(const std::string& path);

// Saves the player's recording into the working file: written beside it, flushed and renamed
// over it, then the player is closed. 0 on success; on failure (reported) the working file is
// as it was, the player stays open on it and the caller stops.
int SaveRecording(MciDevice& player, const std::string& workingFile);

}  // namespace korrin
