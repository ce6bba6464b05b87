// The "Fixing Old Messages" window: fixes the old-layout zipped messages of one folder, one
// file at a time on a worker thread of its own, while a timer steps the progress bar. The
// worker reaches the windows only through calls queued to the user-interface thread.
#pragma once

#include <QPointer>

#include <atomic>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "korrin/audio/Fix.h"
#include "korrin/store/FolderList.h"
#include "platform/ui/Dialog.h"

namespace korrin {

// The fix of one file on a worker thread of its own. The worker reaches the user-interface
// thread only by calls queued to `context`: started(path) as it begins, done(result) when the
// file is done, and then, when doneMessage is not 0, that window message to the context.
// The owner joins the worker before the context goes (the destructor does).
class CFixWorker {
  public:
    using Started = std::function<void(const std::string& path)>;
    using Done = std::function<void(const FixResult& result)>;
    CFixWorker(QObject* context, Started started, Done done, unsigned doneMessage = 0);
    ~CFixWorker();
    CFixWorker(const CFixWorker&) = delete;
    CFixWorker& operator=(const CFixWorker&) = delete;

    void Start(const std::string& path);  // after the previous file was joined
    void Join();

  private:
    QObject* context_;
    Started started_;
    Done done_;
    unsigned doneMessage_;
    std::thread thread_;
};

// The fixing of a folder's old messages for whichever thread fills a list: run is called on
// the user-interface thread (the thread of `context`), at once when the caller is that thread,
// else by a queued call the caller waits for. The window's run shows the fixing dialog.
class CFixHandoff : public IOldMessageFixer {
  public:
    using Run =
        std::function<FixResults(const std::string& folder, const std::set<std::string>& skip)>;
    CFixHandoff(QObject* context, Run run);
    FixResults FixOldMessages(const std::string& folderPath, const std::set<std::string>& skip,
                              const std::atomic<bool>& stop) override;

  private:
    QPointer<QObject> context_;
    Run run_;
};

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

    // Files not to try (a fix left them as they are before); before DoModal.
    void SetSkip(std::set<std::string> skip) { skip_ = std::move(skip); }

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

    std::string folder_;
    IFixListHost* host_;
    std::vector<std::string> files_;
    std::set<std::string> skip_;
    std::size_t next_ = 0;
    bool workerDone_ = false;
    std::string current_;
    FixResult result_;  // what the worker's done call brought
    CFixWorker worker_;
    std::vector<std::pair<std::string, FixResult>> results_;
};

}  // namespace korrin
