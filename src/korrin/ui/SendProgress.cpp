#include "korrin/ui/SendProgress.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <thread>

namespace korrin {

using namespace platform;

CSendProgressDlg::CSendProgressDlg(QWidget* parent) : CDialog(kResourceId, parent) {
    setWindowTitle(QStringLiteral("Quillion EMail for Windows(tm)"));
    auto* layout = new QVBoxLayout(this);
    auto* stage = new QLabel(QStringLiteral("Preparing your message..."), this);
    SetControlId(stage, kStageId);
    layout->addWidget(stage);
    auto* percent = new QLabel(this);
    SetControlId(percent, kPercentId);
    layout->addWidget(percent);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    BindCommand(cancel, IDCANCEL);
    layout->addWidget(cancel, 0, Qt::AlignRight);
    setMinimumWidth(DialogUnitsToPixels(180, 0).width());
}

void CSendProgressDlg::showStage(SendStage stage) {
    switch (stage) {
        case SendStage::kConverting:
            SetDlgItemText(this, kStageId, QStringLiteral("Converting the recording..."));
            break;
        case SendStage::kPacking:
            SetDlgItemText(this, kStageId, QStringLiteral("Packing the message..."));
            break;
        case SendStage::kStamping:
            SetDlgItemText(this, kStageId, QStringLiteral("Adding the envelope..."));
            break;
    }
}

int CSendProgressDlg::Run(const std::function<int(const SendProgress&)>& work) {
    cancel_ = false;
    finished_ = false;
    int result = send::kFailed;
    QPointer<CSendProgressDlg> self(this);
    SendProgress progress;
    progress.cancel = &cancel_;
    progress.stage = [self](SendStage s) {
        QMetaObject::invokeMethod(
            self,
            [self, s] {
                if (self)
                    self->showStage(s);
            },
            Qt::QueuedConnection);
    };
    std::thread worker;
    // The worker starts once the window runs, and ends it when it is done; the window cannot
    // end before (its Cancel only asks), so the join below never waits long.
    QMetaObject::invokeMethod(
        this,
        [&] {
            worker = std::thread([&, self] {
                result = work(progress);
                QMetaObject::invokeMethod(
                    self,
                    [self] {
                        if (!self)
                            return;
                        self->finished_ = true;
                        self->EndDialog(IDOK);
                    },
                    Qt::QueuedConnection);
            });
        },
        Qt::QueuedConnection);
    DoModal();
    // DoModal can only end early when the window is torn down around it (the program quits):
    // the worker is still waited for, as it uses this frame's variables.
    if (worker.joinable())
        worker.join();
    return result;
}

void CSendProgressDlg::OnCancel() {
    if (finished_)
        return;
    cancel_ = true;
    SetDlgItemText(this, kStageId, QStringLiteral("Stopping..."));
    if (QWidget* b = GetDlgItem(this, IDCANCEL))
        b->setEnabled(false);
}

void CSendProgressDlg::closeEvent(QCloseEvent* e) {
    e->ignore();
    OnCancel();
}

}  // namespace korrin
