#include "korrin/ui/FixDlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

#include "korrin/app/EventReport.h"
#include "platform/fileio/ShareFile.h"

namespace korrin {

using platform::GetDlgItemAs;
using platform::SetControlId;

CFixDlg::CFixDlg(std::string folder, IFixListHost* host, QWidget* parent)
    : CDialog(kResourceId, parent), folder_(std::move(folder)), host_(host) {
    setWindowTitle(QStringLiteral("Fixing Old Messages"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
}

CFixDlg::~CFixDlg() {
    joinWorker();
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
        if (!IsOldMessageFile(path))
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
    worker_ = std::thread([this, path] {
        QMetaObject::invokeMethod(
            this,
            [this, path] {
                platform::SetDlgItemText(this, kFileId, QString::fromLocal8Bit(path.c_str()));
                if (host_)
                    host_->SetStatusLine(path);
            },
            Qt::QueuedConnection);
        FixResult result = FixMessageFile(path);
        // The dialog joins this thread before it goes, so it is still there to post to.
        QMetaObject::invokeMethod(
            this,
            [this, result] {
                result_ = result;
                if (host_)
                    host_->SetStatusLine("");
            },
            Qt::QueuedConnection);
        PostMessage(kFileDoneMessage);
    });
}

void CFixDlg::joinWorker() {
    if (worker_.joinable())
        worker_.join();
}

platform::LRESULT CFixDlg::OnMessage(unsigned msg, platform::WPARAM wParam,
                                     platform::LPARAM lParam) {
    if (msg != kFileDoneMessage)
        return CDialog::OnMessage(msg, wParam, lParam);
    if (auto* progress = GetDlgItemAs<QProgressBar>(this, kProgressId))
        progress->setValue(kProgressEnd);
    joinWorker();
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
