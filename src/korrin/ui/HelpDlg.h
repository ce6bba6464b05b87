// The help dialog (resource 155): where help is found, with a button that opens the help page
// of the vendor's web site and one that starts a mail to support. The main window and the
// message window both show it.
#pragma once

#include "platform/ui/Dialog.h"

namespace korrin {

class CHelpDlg : public platform::CDialog {
  public:
    static constexpr int kResourceId = 155;
    static constexpr int kTextId = 1008;
    static constexpr int kWebButtonId = 1072;
    static constexpr int kMailButtonId = 1076;
    static constexpr const char* kHelpPage = "korrinhelp.html";

    explicit CHelpDlg(QWidget* parent = nullptr);

    void OnCommand(int id) override;
};

// Runs the help dialog modally over parent.
void ShowHelp(QWidget* parent);

}  // namespace korrin
