#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "korrin/store/Folders.h"
#include "platform/Win32Types.h"
#include "platform/fileio/LockFile.h"

class QTimer;

namespace korrin {

using platform::DWORD;

class CFolderLists;
class CSmtpSender;
struct MessageEntry;

// The transmission session: every few minutes (and at once on request) the Outbox is taken as
// it is, newest first, and its messages are sent one after the other, each on a worker thread
// of its own; a message the server accepted gets its sending time as its date and moves to
// Sent Items, one that failed stays in the Outbox as it was.
//
// At every moment a message is one whole file, in the Outbox or in Sent Items: the envelope is
// rewritten by building the new file beside the old one and renaming it over it, and the move
// is a rename. Once the server has taken a message, it is renamed to its accepted name (see
// MarkAccepted) before anything else happens to it; a session first finishes the moves of the
// accepted messages it finds, without sending them. A message whose process ends between the
// server's acceptance and that rename is sent again by the next session: at least once,
// never lost, and never again once the rename is done.
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
    // Sent by an earlier session: only its move was finished now (path is its accepted name).
    bool earlier = false;
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
// call but IsTransmitting/RequestStop is for that thread only. It never waits
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
    // a session was started; otherwise LastStartError() tells why the lock was not had
    // (EWOULDBLOCK: another session holds it; 0: nothing waited or one runs here).
    bool OutboxTimerTick();
    int LastStartError() const { return startError_; }

    bool IsTransmitting() const { return transmitting_.load(); }
    // Ends the session once the message being sent now is done. Any thread.
    void RequestStop() { stopRequested_.store(true); }
    bool StopRequested() const { return stopRequested_.load(); }

    bool OutboxTimerActive() const;
    int OutboxTimerInterval() const;  // ms

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
    int startError_ = 0;
};

}  // namespace korrin
