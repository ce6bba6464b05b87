// The main window: the program's only top-level window, run modally for the program's life.
//
// Built so far: its start-up (icons, the About command, taking a file named on the command
// line into a temporary copy and posting itself the open request, staying hidden meanwhile),
// the restore request and the About box. The folder tree and list, the menu and toolbar, the
// transmission dialog and the message window come later; the open request says plainly that
// messages cannot be played yet and cleans up after itself.
#pragma once

#include <string>

#include "platform/ui/Dialog.h"

class QMenuBar;

namespace korrin {

class CKorrinDlg : public platform::CDialog {
  public:
    static constexpr int kResourceId = 102;
    static constexpr int kStatusLineId = 1047;
    static constexpr int kAboutCommand = 16;
    static constexpr unsigned kOpenRequest = platform::WM_USER + 300;
    static constexpr unsigned kRestoreRequest = platform::WM_USER + 303;

    // Player modes and compose kinds carried by the open request.
    static constexpr int kModeView = 1;
    static constexpr int kKindOpen = 304;

    explicit CKorrinDlg(QWidget* parent = nullptr);

    // Before DoModal: the file named on the command line ("" for none).
    void SetFileToOpen(const std::string& path);
    const std::string& fileToOpen() const { return fileToOpen_; }
    const std::string& fileName() const { return fileName_; }
    const std::string& title() const { return title_; }

    void OnCommand(int id) override;
    platform::LRESULT OnMessage(unsigned msg, platform::WPARAM wParam,
                                platform::LPARAM lParam) override;

  protected:
    bool OnInitDialog() override;

  private:
    void takeCommandLineFile();
    void showFolders();
    void onOpenRequest(int mode, int kind);

    std::string fileToOpen_;
    std::string fileName_;
    std::string title_;
    bool userFile_ = false;  // set once the user opens a file himself
    QMenuBar* menuBar_ = nullptr;
};

}  // namespace korrin
