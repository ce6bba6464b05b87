// The "New Version Available" notice shown when a message file of a newer layout is read,
// and the window half of INewVersionNotice that the program installs.
#pragma once

#include "korrin/store/Trailer.h"
#include "platform/ui/Dialog.h"

class QCheckBox;

namespace korrin {

class CNewVersionDlg : public platform::CDialog {
  public:
    static constexpr int kResourceId = 177;
    static constexpr int kTextId = 1090;
    static constexpr int kWebButtonId = 1072;
    static constexpr int kMailButtonId = 1076;
    static constexpr int kDontBugId = 1091;
    static constexpr int kContinueId = platform::IDCONTINUE;
    static constexpr int kAbortId = platform::IDABORT;

    explicit CNewVersionDlg(DWORD fileRevision, QWidget* parent = nullptr);

    DWORD fileRevision() const { return fileRevision_; }
    bool dontBugAgain() const;

    void OnCommand(int id) override;

  protected:
    void OnCancel() override { EndDialog(kContinueId); }  // Escape changes nothing

  private:
    DWORD fileRevision_;
    QCheckBox* dontBug_;
};

// Installs the dialog as the notice every read asks (from any thread; it runs on the
// user-interface thread). While answers are scripted the question goes through the seam.
void InstallNewVersionWindow();

}  // namespace korrin
