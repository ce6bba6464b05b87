// The hidden transmission window (resource 169): made by the main window, never shown, it
// owns the transmission session (CTransmitDlg) with its timers and contributes the Outbox page
// to the Preferences sheet while it exists.
#pragma once

#include <memory>

#include "korrin/transmit/Transmit.h"
#include "platform/ui/Dialog.h"

namespace korrin {

class CTransmitWindow : public platform::CDialog {
  public:
    static constexpr int kResourceId = 169;

    // lists and view may be null. The Outbox timer is armed at once.
    CTransmitWindow(CFolderLists* lists, ITransmitView* view, QWidget* parent = nullptr);
    // Waits for a worker that is still sending; the boxes it asks for meanwhile take their
    // default answer instead of waiting for this thread.
    ~CTransmitWindow() override;

    CTransmitDlg& session() { return *session_; }

  private:
    std::unique_ptr<CTransmitDlg> session_;
};

}  // namespace korrin
