// The modal progress window of Send: while the message is converted, packed and stamped on a
// worker thread, this window keeps the composer from taking another command (a second Send,
// Close, Esc) and shows how far the work is; its Cancel asks the worker to stop within about a
// second (the conversion looks at it between blocks, the packer is ended).
// The composer's window never waits on the worker: the event loop runs throughout.
#pragma once

#include <atomic>
#include <functional>

#include "korrin/app/Send.h"
#include "platform/ui/Dialog.h"

namespace korrin {

class CSendProgressDlg : public platform::CDialog {
  public:
    static constexpr int kResourceId = 196;
    static constexpr int kStageId = 101;
    static constexpr int kPercentId = 102;  // the conversion writes its progress here

    explicit CSendProgressDlg(QWidget* parent);

    // Runs work on a worker thread behind the modal window and returns its result once the
    // window has closed (user-interface thread only). The work gets this window's stage
    // report and cancel flag.
    int Run(const std::function<int(const SendProgress&)>& work);

    const std::atomic<bool>& cancelRequested() const { return cancel_; }

  protected:
    void OnCancel() override;  // Cancel, Esc and the close box: ask the worker to stop
    void closeEvent(QCloseEvent* e) override;

  private:
    void showStage(SendStage stage);

    std::atomic<bool> cancel_{false};
    bool finished_ = false;
};

}  // namespace korrin
