// The Move dialog (resource 175): shows one message's envelope and lets the user pick the
// folder it goes to.
#pragma once

#include "korrin/store/FolderList.h"
#include "platform/ui/Dialog.h"

class QTreeWidget;

namespace korrin {

class CMoveDlg : public platform::CDialog {
  public:
    static constexpr int kResourceId = 175;
    static constexpr int kTreeId = 1045;
    static constexpr int kToId = 1022;
    static constexpr int kSubjectId = 1016;
    static constexpr int kSentId = 1024;
    static constexpr const char* kChooseText =
        "Select a folder to move your Quillion EMail(tm) to. Then press 'OK' again. Press "
        "'Cancel' to quit.";

    CMoveDlg(const MessageEntry& entry, QWidget* parent = nullptr);

    // 1, 2 or 3 once chosen; 0 before.
    int chosenFolder() const { return chosen_; }

  protected:
    bool OnInitDialog() override;
    void OnOK() override;

  private:
    MessageEntry entry_;
    int chosen_ = 0;
    QTreeWidget* tree_ = nullptr;
};

}  // namespace korrin
