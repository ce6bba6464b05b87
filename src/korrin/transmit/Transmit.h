// The three message folders under the install folder, the names of the files in them, and
// putting a message into a folder: filing a new one into the Outbox, moving one between
// folders, emptying a folder.
//
// Folder numbers: 1 Sent Items (SENT, letter S), 2 Outbox (OUTBOX, O), 3 Deleted Items
// (DELETED, D). A message file in folder F is "KX<number><letter>.<ext>", the number from the
// File ID counter and the extension (kx0 or kx1) kept from the file it came from; the folder's
// messages are the files matching *.KX0 and *.KX1 without regard to case.
//
// InstallDir is read afresh by every operation. Moves run on the user-interface thread and
// on the transmission worker; the folder lists they keep up to date guard themselves.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Win32Types.h"
#include "platform/fileio/LockFile.h"

class QTimer;

namespace korrin {

using platform::DWORD;

class CFolderLists;
class CSmtpSender;
struct MessageEntry;

inline constexpr int kSentItems = 1;
inline constexpr int kOutbox = 2;
inline constexpr int kDeletedItems = 3;

inline constexpr int kMoveTries = 21;  // the first try and 20 more
inline constexpr int kMoveRetryMs = 250;

bool IsFolderNumber(int folder);
const char* FolderDirectoryName(int folder);  // "SENT", "OUTBOX", "DELETED"; "" for others
char FolderLetter(int folder);                // 'S', 'O', 'D'

// InstallDir. 0, or 1 after reporting "GetRegistryString failed.".
int ReadInstallDir(std::string& out);
std::string FolderPath(const std::string& installDir, int folder);
// "<install>/OUTBOX/KX<n>O.<ext>" and likewise.
std::string MessageFileName(const std::string& installDir, int folder, DWORD number,
                            const std::string& extension);

// The folder's message files as full paths: those matching *.KX0, then those matching
// *.KX1, each in the order the file system returns them. A folder that does not exist has
// none. 0, or 1 when InstallDir cannot be read (reported).
int FindMessageFiles(int folder, std::vector<std::string>* kx0, std::vector<std::string>* kx1);

// Number of message files in the folder; 0, or 1 with *count 0 when InstallDir is missing.
int CountMessages(int folder, DWORD* count);

// Files a finished message (outside the folders) into the Outbox under a fresh number and
// marks the Outbox list out of date. 0, or 1 after a reported failure (the file stays where
// it was). lists may be null (no window).
int FileIntoOutbox(const std::string& path, CFolderLists* lists, std::string* newPath = nullptr);

// Moves a message from folder `source` to folder `destination` under a fresh number, then
// brings the lists up to date (see CFolderLists). A file that already has the new name is
// never replaced: the next number is taken instead. 0, or 1 after a reported failure.
int MoveMessage(const std::string& path, int destination, int source, CFolderLists* lists,
                std::string* newPath = nullptr);

// Deletes one message from Deleted Items for good: its list entry goes first, then the file
// (a file that cannot be deleted stays; nothing is reported). lists may be null.
void DeleteMessage(const std::string& path, CFolderLists* lists);

// Deletes every message file of the folder; files held by another opener and files of other
// names stay. 0, or 1 when InstallDir cannot be read. The lists are not touched.
int DeleteFolderContents(int folder);

// ---------------------------------------------------------------------------------------------
// The transmission session: every few minutes (and at once on request) the Outbox is taken as
// it is, newest first, and its messages are sent one after the other, each on a worker thread
// of its own; a message the server accepted gets its sending time as its date and moves to
// Sent Items, one that failed stays in the Outbox as it was.
//
// At every moment a message is one whole file, in the Outbox or in Sent Items: the envelope is
// rewritten by building the new file beside the old one and renaming it over it, and the move
// is a rename. A message whose process ends between the server's acceptance and the move is
// still in the Outbox and is sent again by the next session: at least once, never lost.
//
// Only one session runs at a time, also across processes that share the install folder: a
// session holds the lock file kSessionLockName in the Outbox folder while it runs.

// The main window's "transmitting" animation. User-interface thread.
class ITransmitView {
  public:
    virtual ~ITransmitView() = default;
    virtual void SetTransmitting(bool on) = 0;
};

inline constexpr const char* kSessionLockName = ".transmit.lock";
inline constexpr DWORD kDefaultOutboxMinutes = 3;

// What became of one message of a session.
struct TransmitResult {
    std::string path;    // where it was in the Outbox
    std::string placed;  // where it is in Sent Items after a successful send
    int code = 0;        // the send's result (CSMTPError codes); 0 sent
    bool moved = false;  // false after a send whose move failed (it stays in the Outbox)
};

// Why a session ended, and the messages of its snapshot it did not get to.
struct SessionEnd {
    enum Reason {
        kDone,             // every message of the snapshot was handled
        kStopped,          // stop requested, or the transmit timer could not be set
        kSettingsMissing,  // a required SMTP setting is missing
        kNoConnection,     // the connection check failed (code in `code`)
        kEmpty,            // the Outbox held nothing when the snapshot was taken
    } reason = kDone;
    int code = 0;
    std::vector<std::string> notSent;
};

// Owns the Outbox timer (5) and the Transmit timer (4) and runs the session. Lives on the
// user-interface thread (the thread with the event loop that runs its timers): every public
// call but StopRequested/IsTransmitting/RequestStop is for that thread only. It never waits
// for a worker except in WaitForWorker (the end of the program).
class CTransmitDlg {
  public:
    static constexpr int kTransmitTimerId = 4;
    static constexpr int kOutboxTimerId = 5;
    static constexpr int kTransmitPeriodMs = 250;
    static constexpr int kMinuteMs = 60'000;

    // lists and view may be null (no window); owner is the window boxes belong to.
    CTransmitDlg(CFolderLists* lists, ITransmitView* view, void* owner = nullptr);
    virtual ~CTransmitDlg();  // waits for a worker that is still sending
    CTransmitDlg(const CTransmitDlg&) = delete;
    CTransmitDlg& operator=(const CTransmitDlg&) = delete;

    // The length of one "minute" of OutBox Minutes; shortened by tests.
    void SetMinuteMilliseconds(int ms) { minuteMs_ = ms; }
    // Runs on every new sending object before its settings are loaded (tests shorten the
    // network timeouts with it). User-interface thread; the object is used by the worker
    // afterwards.
    void SetSenderSetup(std::function<void(CSmtpSender&)> setup) {
        senderSetup_ = std::move(setup);
    }
    void SetMessageDone(std::function<void(const TransmitResult&)> fn) {
        onMessage_ = std::move(fn);
    }
    void SetSessionEnded(std::function<void(const SessionEnd&)> fn) { onEnd_ = std::move(fn); }

    // Arms the Outbox timer from OutBox Minutes (3 when missing; 0: no timer). Reports "Could
    // not start Outbox Timer." when it cannot be set.
    void StartOutboxTimer();
    // Kills the Outbox timer and, for a nonzero value, sets it anew (the Outbox page's OK).
    void RearmOutboxTimer(DWORD minutes);

    // Timer 5, and the "Empty Outbox Now !!!" command: starts a session when messages wait.
    // Ignored while a session runs here, or in another process (its lock is held). True when
    // a session was started.
    bool OutboxTimerTick();

    bool IsTransmitting() const { return transmitting_.load(); }
    // Ends the session once the message being sent now is done. Any thread.
    void RequestStop() { stopRequested_.store(true); }
    bool StopRequested() const { return stopRequested_.load(); }

    bool OutboxTimerActive() const;
    int OutboxTimerInterval() const;  // ms
    bool TransmitTimerActive() const;

    // Blocks until the worker of the current message has finished (none: at once). For the
    // end of the program; the user-interface thread holds UiWaitsForWorkers meanwhile.
    void WaitForWorker();

  protected:
    // Window timers of this object; false when a timer cannot be set.
    virtual bool SetTimer(int id, int milliseconds);
    virtual void KillTimer(int id);

  private:
    void startSession();
    void sendCurrent();
    void transmitTimerTick();
    void stepDone(bool endAfter);
    void endSession(SessionEnd end);
    void removeLeftovers(const std::string& outbox);

    struct WorkerJob;
    static void runWorker(std::shared_ptr<WorkerJob> job);

    CFolderLists* lists_;
    ITransmitView* view_;
    void* owner_;
    int minuteMs_ = kMinuteMs;
    std::function<void(CSmtpSender&)> senderSetup_;
    std::function<void(const TransmitResult&)> onMessage_;
    std::function<void(const SessionEnd&)> onEnd_;

    std::unique_ptr<QTimer> outboxTimer_;
    std::unique_ptr<QTimer> transmitTimer_;

    std::vector<MessageEntry> entries_;
    std::size_t current_ = 0;  // index of the message being sent
    DWORD handled_ = 0;        // messages of the snapshot handled so far
    platform::LockFile sessionLock_;

    std::atomic<bool> transmitting_{false};
    std::atomic<bool> stopRequested_{false};
    std::shared_ptr<WorkerJob> job_;  // the current message's worker
    std::thread worker_;
    bool endAfterCurrent_ = false;  // the transmit timer could not be set
};

}  // namespace korrin
