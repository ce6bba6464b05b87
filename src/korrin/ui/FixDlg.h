// The "Fixing Old Messages" window: fixes the old-layout zipped messages of one folder, one
// file at a time on a worker thread of its own, while a timer steps the progress bar. The
// worker reaches the windows only through calls queued to the user-interface thread.
#pragma once

#include <QPointer>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "korrin/audio/Fix.h"
#include "platform/ui/Dialog.h"

namespace korrin {

// What the fixing needs of the main window: its message list emptied, and its status line
// (1047) showing the file being fixed. Called on the user-interface thread only.
class IFixListHost {
  public:
    virtual ~IFixListHost() = default;
    virtual void ClearMessageList() = 0;
    virtual void SetStatusLine(const std::string& text) = 0;
};

class CFixDlg : public platform::CDialog {
  public:
    static constexpr int kResourceId = 168;
    static constexpr int kFileId = 1048, kProgressId = 1049;
    static constexpr int kTimerId = 3, kTimerMs = 250, kProgressEnd = 180;
    static constexpr unsigned kFileDoneMessage = platform::WM_USER + 302;

    // folder: the folder whose .kx1 files are walked. host may be null.
    CFixDlg(std::string folder, IFixListHost* host, QWidget* parent = nullptr);
    ~CFixDlg() override;

    // What each fixed or left file came to, in the order they were done.
    const std::vector<std::pair<std::string, FixResult>>& results() const { return results_; }

    platform::LRESULT OnMessage(unsigned msg, platform::WPARAM wParam,
                                platform::LPARAM lParam) override;

  protected:
    bool OnInitDialog() override;
    void OnTimer(int id) override;
    void OnCancel() override {}  // no way out but the end of the job

  private:
    bool startNextOldFile();
    void startWorker(const std::string& path);
    void joinWorker();

    std::string folder_;
    IFixListHost* host_;
    std::vector<std::string> files_;
    std::size_t next_ = 0;
    bool workerDone_ = false;
    std::string current_;
    FixResult result_;  // written by the worker before it posts, read after
    std::thread worker_;
    std::vector<std::pair<std::string, FixResult>> results_;
};

}  // namespace korrin
