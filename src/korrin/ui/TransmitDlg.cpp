#include "korrin/ui/TransmitDlg.h"

#include "korrin/ui/OutboxPage.h"
#include "korrin/ui/Preferences.h"
#include "platform/ui/UiThread.h"

namespace korrin {

CTransmitWindow::CTransmitWindow(CFolderLists* lists, ITransmitView* view, QWidget* parent)
    : CDialog(kResourceId, parent), session_(std::make_unique<CTransmitDlg>(lists, view, parent)) {
    setWindowTitle(QStringLiteral("Transmitting Quillion EMail for Windows(tm) Message"));
    ShowWindow(false);
    CTransmitDlg* session = session_.get();
    SetPreferencesPage(PreferencesSlot::kOutbox,
                       [session] { return std::make_unique<COutboxPage>(session); });
    session_->StartOutboxTimer();
}

CTransmitWindow::~CTransmitWindow() {
    SetPreferencesPage(PreferencesSlot::kOutbox, nullptr);
    platform::UiWaitsForWorkers waiting;
    session_->WaitForWorker();
    session_.reset();
}

}  // namespace korrin
