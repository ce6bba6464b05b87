#include "korrin/transmit/Transmit.h"

#include <QMetaObject>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <climits>
#include <ctime>
#include <system_error>
#include <thread>

#include "korrin/app/Defaults.h"
#include "korrin/app/EventReport.h"
#include "korrin/app/Utils.h"
#include "korrin/mail/MailDialogs.h"
#include "korrin/mail/SmtpSender.h"
#include "korrin/store/FolderList.h"
#include "platform/fileio/Leftovers.h"

namespace korrin {

using namespace platform;

namespace {

constexpr const char* kTryAgainText = "Press OK and try sending your message again!";
constexpr const char* kTryAgainCaption = "Quillion EMail for Windows (tm)";
// A replacement file left by a process that ended while it rewrote an envelope is this old
// before it is taken away; a younger one may still be being written by someone else.
constexpr long kLeftoverAgeSeconds = 60;

}  // namespace

// One message's worker and what it found. The fields above `done` are written by the worker
// before it sets done (release) and read by the user-interface thread after it saw done
// (acquire); path and sender are handed over before the thread starts.
struct CTransmitDlg::WorkerJob {
    std::unique_ptr<CSmtpSender> sender;
    std::string path;
    CFolderLists* lists = nullptr;
    std::function<void()> whenDone;  // set when no timer polls: called as the last action

    int checkCode = 0;
    TransmitResult result;
    std::atomic<bool> done{false};
};

CTransmitDlg::CTransmitDlg(CFolderLists* lists, ITransmitView* view, void* owner)
    : lists_(lists),
      view_(view),
      owner_(owner),
      outboxTimer_(std::make_unique<QTimer>()),
      transmitTimer_(std::make_unique<QTimer>()) {
    QObject::connect(outboxTimer_.get(), &QTimer::timeout, outboxTimer_.get(),
                     [this] { OutboxTimerTick(); });
    QObject::connect(transmitTimer_.get(), &QTimer::timeout, transmitTimer_.get(),
                     [this] { transmitTimerTick(); });
}

CTransmitDlg::~CTransmitDlg() {
    WaitForWorker();
    outboxTimer_->stop();
    transmitTimer_->stop();
}

bool CTransmitDlg::SetTimer(int id, int milliseconds) {
    QTimer* t = id == kOutboxTimerId ? outboxTimer_.get() : transmitTimer_.get();
    t->start(milliseconds);
    return t->isActive();
}

void CTransmitDlg::KillTimer(int id) {
    (id == kOutboxTimerId ? outboxTimer_ : transmitTimer_)->stop();
}

bool CTransmitDlg::OutboxTimerActive() const {
    return outboxTimer_->isActive();
}

int CTransmitDlg::OutboxTimerInterval() const {
    return outboxTimer_->interval();
}

void CTransmitDlg::StartOutboxTimer() {
    RearmOutboxTimer(CUtils().GetSettingDword(setting::kOutBoxMinutes));
}

void CTransmitDlg::RearmOutboxTimer(DWORD minutes) {
    KillTimer(kOutboxTimerId);
    if (minutes == 0)
        return;
    // A value stored from a shell may be far above what the page allows: the period is
    // limited to what a timer holds instead of wrapping round to a short one.
    const long long ms = static_cast<long long>(minutes) * minuteMs_;
    if (!SetTimer(kOutboxTimerId, ms > INT_MAX ? INT_MAX : static_cast<int>(ms)))
        KORRIN_REPORT("Could not start Outbox Timer.");
}

bool CTransmitDlg::OutboxTimerTick() {
    startError_ = 0;
    if (transmitting_.load())
        return false;  // one session at a time
    DWORD count = 0;
    std::vector<std::string> accepted;
    if (CountMessages(kOutbox, &count) != 0 || FindAcceptedMessages(&accepted) != 0 ||
        count + accepted.size() == 0)
        return false;
    std::string installDir;
    if (ReadInstallDir(installDir) != 0)
        return false;
    const std::string outbox = FolderPath(installDir, kOutbox);
    if (!sessionLock_.TryLock(outbox + "/" + kSessionLockName)) {
        startError_ = errno;
        if (startError_ != EWOULDBLOCK)
            KORRIN_REPORT("flock failed");
        return false;  // another process is sending this Outbox; the timer keeps running
    }
    transmitting_.store(true);
    KillTimer(kOutboxTimerId);
    removeLeftovers(outbox);
    startSession();
    return true;
}

void CTransmitDlg::removeLeftovers(const std::string& outbox) {
    platform::RemoveOldReplacements(outbox, "KX", kLeftoverAgeSeconds);
}

void CTransmitDlg::startSession() {
    entries_.clear();
    if (FillEntries(kOutbox, &entries_) == 2)
        KORRIN_REPORT("FillTolvObjects failed.");
    SortNewestFirst(entries_);
    // Messages the server took in an earlier session come first: they only move.
    std::vector<std::string> accepted;
    FindAcceptedMessages(&accepted);
    std::vector<MessageEntry> finishing(accepted.size());
    for (std::size_t i = 0; i < accepted.size(); ++i)
        finishing[i].path = accepted[i];
    entries_.insert(entries_.begin(), finishing.begin(), finishing.end());
    if (entries_.empty()) {
        endSession({SessionEnd::kEmpty, 0, {}});
        return;
    }
    if (view_)
        view_->SetTransmitting(true);
    stopRequested_.store(false);
    handled_ = 0;
    current_ = 0;
    sendCurrent();
}

void CTransmitDlg::sendCurrent() {
    auto notSentFrom = [this](std::size_t first) {
        std::vector<std::string> out;
        for (std::size_t i = first; i < entries_.size(); ++i)
            out.push_back(entries_[i].path);
        return out;
    };
    auto job = std::make_shared<WorkerJob>();
    if (!IsAcceptedName(entries_[current_].path)) {
        auto sender = std::make_unique<CSmtpSender>(owner_);
        if (senderSetup_)
            senderSetup_(*sender);
        if (sender->LoadSettings() != 0) {
            AppMessageBox(owner_, kTryAgainText, kTryAgainCaption,
                          platform::MB_OK | platform::MB_ICONINFORMATION);
            endSession({SessionEnd::kSettingsMissing, 0, notSentFrom(current_)});
            return;
        }
        job->sender = std::move(sender);
    }
    job->path = entries_[current_].path;
    job->lists = lists_;
    // The poll is armed before the worker starts, so the worker knows whether anyone will
    // poll it; without the timer it calls back itself and the session ends after it.
    endAfterCurrent_ = !SetTimer(kTransmitTimerId, kTransmitPeriodMs);
    if (endAfterCurrent_)
        job->whenDone = [this, context = transmitTimer_.get()] {
            QMetaObject::invokeMethod(
                context, [this] { stepDone(true); }, Qt::QueuedConnection);
        };
    job_ = job;
    try {
        worker_ = std::thread(&CTransmitDlg::runWorker, job);
    } catch (const std::system_error&) {
        KORRIN_REPORT("CreateThread failed");
        job_.reset();
        KillTimer(kTransmitTimerId);
        if (view_)
            view_->SetTransmitting(false);
        endSession({SessionEnd::kStopped, 0, notSentFrom(current_)});
        return;
    }
    if (endAfterCurrent_)
        CEventReport().ShowError("Could not start Transmit Timer.");
}

// Worker thread: the connection check, then the message; for a message an earlier session
// sent (no sender), only the move.
void CTransmitDlg::runWorker(std::shared_ptr<WorkerJob> job) {
    TransmitResult& r = job->result;
    r.path = job->path;
    if (!job->sender) {
        r.earlier = true;
        if (job->lists)  // it is in no list: no entry of the Outbox may be taken for it
            job->lists->MarkOutOfDate(kOutbox);
        r.moved = MoveMessage(job->path, kSentItems, kOutbox, job->lists, &r.placed) == 0;
    } else if (const int check = job->sender->CheckConnection(); check != 0) {
        job->checkCode = check;
    } else {
        CMessageTrailer envelope;
        r.code = SendMessageFile(*job->sender, job->path, &envelope);
        if (r.code == 0) {
            // Recorded first, so that no later session sends it again even when the move
            // below keeps failing; a rename that fails leaves the old name, and the message
            // still moves: the server has it.
            std::string path = job->path;
            std::string accepted;
            if (MarkAccepted(path, &accepted) == 0)
                path = accepted;
            if (job->lists)
                job->lists->MarkOutOfDate(kOutbox);
            // The envelope is rewritten with the sending time as one step a crash cannot
            // split; a rewrite that fails leaves the file as it was, and it still moves.
            platform::GetSystemTime(&envelope.date);
            envelope.ReplaceTrailer(path);
            r.moved = MoveMessage(path, kSentItems, kOutbox, job->lists, &r.placed) == 0;
        }
    }
    job->sender.reset();
    std::function<void()> whenDone = std::move(job->whenDone);
    job->done.store(true, std::memory_order_release);
    if (whenDone)
        whenDone();
}

void CTransmitDlg::transmitTimerTick() {
    if (job_ && job_->done.load(std::memory_order_acquire))
        stepDone(endAfterCurrent_);
}

void CTransmitDlg::stepDone(bool endAfter) {
    if (!job_ || !job_->done.load(std::memory_order_acquire))
        return;
    if (worker_.joinable())
        worker_.join();  // it has done its last action and is only returning
    std::shared_ptr<WorkerJob> job = std::move(job_);
    ++handled_;
    KillTimer(kTransmitTimerId);
    auto notSentFrom = [this](std::size_t first) {
        std::vector<std::string> out;
        for (std::size_t i = first; i < entries_.size(); ++i)
            out.push_back(entries_[i].path);
        return out;
    };
    if (job->checkCode != 0) {
        if (view_)
            view_->SetTransmitting(false);
        if (job->checkCode == CSMTPError::kNoConnection)
            ShowDialUpConnections(owner_);
        else
            KORRIN_REPORT("Connection failed");
        endSession({SessionEnd::kNoConnection, job->checkCode, notSentFrom(current_)});
        return;
    }
    if (onMessage_)
        onMessage_(job->result);
    if (!stopRequested_.load() && !endAfter && handled_ < entries_.size()) {
        ++current_;
        sendCurrent();
        return;
    }
    const bool stopped = handled_ < entries_.size();
    endSession({stopped ? SessionEnd::kStopped : SessionEnd::kDone, 0, notSentFrom(current_ + 1)});
}

void CTransmitDlg::endSession(SessionEnd end) {
    if (view_)
        view_->SetTransmitting(false);
    StartOutboxTimer();
    entries_.clear();
    sessionLock_.Unlock();
    transmitting_.store(false);
    if (onEnd_)
        onEnd_(end);
}

void CTransmitDlg::WaitForWorker() {
    if (worker_.joinable())
        worker_.join();
}

}  // namespace korrin
