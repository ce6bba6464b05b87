// "Dial Up Connections" (resource 101): shown when the SMTP server cannot be reached, it lists
// the connections the user can bring up and starts the chosen one. It stays open after Connect
// so the user can watch the connection come up; Cancel closes it.
#pragma once

#include "platform/ui/Dialog.h"

class QListWidget;

namespace korrin {

class CDialUpDlg : public platform::CDialog {
  public:
    static constexpr int kResourceId = 101;
    static constexpr int kListId = 1007;
    static constexpr int kConnectId = 1006;

    explicit CDialUpDlg(QWidget* parent = nullptr);

    void OnCommand(int id) override;

  protected:
    bool OnInitDialog() override;

  private:
    void connectSelected();
    QListWidget* list_;
};

}  // namespace korrin
