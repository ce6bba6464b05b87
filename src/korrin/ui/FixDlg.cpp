#include "korrin/ui/FixDlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QProgressBar>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "korrin/app/EventReport.h"
#include "platform/fileio/ShareFile.h"

namespace korrin {

using platform::GetDlgItemAs;
using platform::SetControlId;

// ---- the worker of one file

CFixWorker::CFixWorker(QObject* context, Started started, Done done, unsigned doneMessage)
    : context_(context),
      started_(std::move(started)),
      done_(std::move(done)),
      doneMessage_(doneMessage) {}

CFixWorker::~CFixWorker() {
    Join();
}

void CFixWorker::Start(const std::string& path) {
    Join();
    thread_ = std::thread([this, path] {
        // The callbacks are copied into the queued calls: nothing of this object is touched
        // on the user-interface thread's behalf.
        platform::QueueCall(context_, [started = started_, path] { started(path); });
        FixResult result = FixMessageFile(path);
        platform::QueueCall(context_, [done = done_, result] { done(result); });
        if (doneMessage_ != 0)
            platform::PostMessage(context_, doneMessage_);
    });
}

void CFixWorker::Join() {
    if (thread_.joinable())
        thread_.join();
}

// ---- the handoff from a filling thread

CFixHandoff::CFixHandoff(QObject* context, Run run) : context_(context), run_(std::move(run)) {}

FixResults CFixHandoff::FixOldMessages(const std::string& folderPath,
                                       const std::set<std::string>& skip,
                                       const std::atomic<bool>& stop) {
    QObject* context = context_.data();
    if (!context || stop.load())
        return {};
    if (QThread::currentThread() == context->thread())
        return run_(folderPath, skip);
    // Shared with the queued call, which may still run after a caller that gave up.
    struct Shared {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
        FixResults results;
    };
    auto shared = std::make_shared<Shared>();
    platform::QueueCall(context, [shared, run = run_, folderPath, skip] {
        FixResults results = run(folderPath, skip);
        {
            std::lock_guard lock(shared->mutex);
            shared->results = std::move(results);
            shared->done = true;
        }
        shared->cv.notify_all();
    });
    std::unique_lock lock(shared->mutex);
    // The window may close instead (stop); nothing else could wake this thread then.
    while (!shared->done && !stop.load())
        shared->cv.wait_for(lock, std::chrono::milliseconds(50));
    return shared->done ? shared->results : FixResults{};
}

// ---- the dialog

CFixDlg::CFixDlg(std::string folder, IFixListHost* host, QWidget* parent)
    : CDialog(kResourceId, parent),
      folder_(std::move(folder)),
      host_(host),
      worker_(
          this,
          [this](const std::string& path) {
              platform::SetDlgItemText(this, kFileId, QString::fromLocal8Bit(path.c_str()));
              if (host_)
                  host_->SetStatusLine(path);
          },
          [this](const FixResult& result) {
              result_ = result;
              if (host_)
                  host_->SetStatusLine("");
          },
          kFileDoneMessage) {
    setWindowTitle(QStringLiteral("Fixing Old Messages"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
}

CFixDlg::~CFixDlg() {
    worker_.Join();
}

bool CFixDlg::OnInitDialog() {
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(QStringLiteral(
        "Quillion EMail has detected some older messages in one of your Folders.  Attempting to "
        "fix them now...This may take a few minutes...Do not interrupt.... Please standby..."));
    text->setWordWrap(true);
    auto* label = new QLabel(QStringLiteral("Fixing:"));
    auto* file = new QLineEdit;
    file->setReadOnly(true);
    SetControlId(file, kFileId);
    label->setBuddy(file);
    auto* progress = new QProgressBar;
    progress->setRange(0, kProgressEnd);
    progress->setValue(0);
    SetControlId(progress, kProgressId);
    layout->addWidget(text);
    layout->addWidget(label);
    layout->addWidget(file);
    layout->addWidget(progress);

    if (host_)
        host_->ClearMessageList();
    std::vector<std::vector<platform::FoundFile>> found;
    if (platform::FindFiles(folder_, {".KX1"}, &found))
        for (const auto& f : found[0])
            files_.push_back(folder_ + "/" + f.name);
    if (!startNextOldFile())
        QTimer::singleShot(0, this, [this] { EndDialog(platform::IDOK); });
    return true;
}

// Walks on in folder order to the next old file and starts its worker and the timer.
bool CFixDlg::startNextOldFile() {
    while (next_ < files_.size()) {
        const std::string path = files_[next_++];
        if (skip_.count(path) || !IsOldMessageFile(path))
            continue;
        if (auto* progress = GetDlgItemAs<QProgressBar>(this, kProgressId))
            progress->setValue(0);
        startWorker(path);
        SetTimer(kTimerId, kTimerMs);
        return true;
    }
    return false;
}

void CFixDlg::startWorker(const std::string& path) {
    workerDone_ = false;
    current_ = path;
    worker_.Start(path);
}

platform::LRESULT CFixDlg::OnMessage(unsigned msg, platform::WPARAM wParam,
                                     platform::LPARAM lParam) {
    if (msg != kFileDoneMessage)
        return CDialog::OnMessage(msg, wParam, lParam);
    if (auto* progress = GetDlgItemAs<QProgressBar>(this, kProgressId))
        progress->setValue(kProgressEnd);
    worker_.Join();
    workerDone_ = true;
    results_.emplace_back(current_, result_);
    // A file that cannot be fixed stays as it is; it is named once, here.
    if (result_.outcome == FixOutcome::kLeft)
        KORRIN_REPORT("Cannot fix " + current_ + ": " + result_.reason);
    return 0;
}

void CFixDlg::OnTimer(int id) {
    if (id != kTimerId)
        return;
    if (!workerDone_) {
        if (auto* progress = GetDlgItemAs<QProgressBar>(this, kProgressId))
            progress->setValue(std::min(progress->value() + 1, kProgressEnd));
        return;
    }
    KillTimer(kTimerId);
    if (!startNextOldFile())
        EndDialog(platform::IDOK);
}

}  // namespace korrin
