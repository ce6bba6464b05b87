// The main window: the program's only top-level window, run modally for the program's life.
// A folder tree, the message list of the selected folder with its status line, a menu and a
// toolbar. It owns the folder lists with their start-up scan, the hidden transmission window
// whose Outbox timer sends in the background, and the "transmitting" animation. It opens
// stored messages in the message window (CPlayer), starts new ones, resends, moves and deletes
// messages, and decides when the program may end.
//
// Threads: the user-interface thread, apart from the folder scan and the transmission worker,
// which reach it only through the folder lists and queued calls.
#pragma once

#include <QPointer>

#include <deque>
#include <memory>
#include <string>

#include "korrin/store/FolderList.h"
#include "korrin/transmit/Transmit.h"
#include "korrin/ui/Animate.h"
#include "korrin/ui/FixDlg.h"
#include "korrin/ui/Player.h"
#include "platform/files/PrivateTemp.h"
#include "platform/process/Process.h"
#include "platform/ui/Dialog.h"

class QMenuBar;
class QUrl;
class QToolBar;
class QTreeWidgetItem;

namespace korrin {

class CFolderPane;
class CMessageTrailer;
class CTransmitWindow;

class CKorrinDlg : public platform::CDialog,
                   public ITransmitView,
                   public PlayerOwner,
                   public IFixListHost {
  public:
    static constexpr int kResourceId = 102;
    static constexpr int kTreeId = 1045;
    static constexpr int kListId = 1046;
    static constexpr int kStatusLineId = 1047;
    static constexpr int kToolbarId = 1;
    static constexpr int kAnimationId = 1048;  // no number of its own in the template
    static constexpr int kMapiTestId = 1058;   // hidden: tries the MAPI support library
    static constexpr int kAboutCommand = 16;
    static constexpr unsigned kOpenRequest = platform::WM_USER + 300;
    static constexpr unsigned kRestoreRequest = platform::WM_USER + 303;

    // Commands (menu 111 and the toolbar).
    static constexpr int kNew = 57600, kOpen = 57601, kClose = 57602, kPreferences = 32773,
                         kNewMessage = 32785, kResend = 32782, kMove = 32783, kDelete = 32784,
                         kEmptyOutboxNow = 32781, kMixer = 40027, kQuality = 40029,
                         kTransport = 32778, kAddressBook = 32786, kHelp = 40020, kAboutBox = 40011,
                         kAdvancedFormats = 40030;

    static constexpr int kAnimationFrameMs = 250;
    static constexpr std::uint64_t kLeastFreeSpace = 3 * 1048576;
    static constexpr int kUnpackLimitMs = 45'000;
    // How long an end nobody can be asked about (log-out, SIGTERM) waits for the message
    // being sent.
    static constexpr int kEndWaitMs = 30'000;

    static constexpr const char* kCaption = "Quillion EMail for Windows(tm)";

    explicit CKorrinDlg(QWidget* parent = nullptr);
    ~CKorrinDlg() override;

    // Before DoModal: the file named on the command line ("" for none).
    void SetFileToOpen(const std::string& path);
    const std::string& fileToOpen() const { return fileToOpen_; }
    const std::string& fileName() const { return fileName_; }
    const std::string& title() const { return title_; }
    bool userFile() const { return userFile_; }

    // Tests shorten the wait for the unpacking program.
    void SetUnpackLimit(int ms) { unpackLimitMs_ = ms; }

    void OnCommand(int id) override;
    platform::LRESULT OnMessage(unsigned msg, platform::WPARAM wParam,
                                platform::LPARAM lParam) override;

    // A message file handed over by another start (or dropped from the shell): opened as the
    // user's own once no message window is open.
    void OpenHandedOver(const std::string& path);
    // Files dropped from the file manager: the first is opened when it is a message file.
    void DropFiles(const QList<QUrl>& urls);
    // The end of the program where nobody can be asked (log-out, SIGTERM): stop requested,
    // the message being sent waited for (bounded), every window closed, the program ended.
    void EndWithoutAsking();

    // ITransmitView
    void SetTransmitting(bool on) override;

    // PlayerOwner
    QWidget* OwnerWindow() override { return this; }
    void OnOwnerCommand(int id) override { OnCommand(id); }
    bool& MapiLoaded() override { return mapiLoaded_; }
    bool& MapiStarted() override { return mapiStarted_; }
    void MarkOutboxOutOfDate() override;

    // IFixListHost: what the fixing of old messages shows in the list and the status line.
    void ClearMessageList() override;
    void SetStatusLine(const std::string& text) override;

    CFolderLists& lists() { return *lists_; }
    CFolderPane* pane() const { return pane_; }
    CTransmitWindow* transmitWindow() const { return transmit_.get(); }
    CAnimateCtrl* animation() const { return animate_.data(); }
    QToolBar* toolbar() const { return toolbar_; }
    bool messageWindowOpen() const { return messageWindows_ > 0; }
    const platform::ProcessHandle& unzipProcess() const { return unzip_; }

  protected:
    bool OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    void closeEvent(QCloseEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void changeEvent(QEvent* e) override;

    // Runs the message window modally; its result (1, 2, 0, 301, 302, 306).
    virtual int RunMessageWindow(const std::string& wavePath, CMessageTrailer& record, int mode,
                                 int kind);

  private:
    void buildMenu();
    void buildToolbar();
    void buildAnimation();
    void takeCommandLineFile();
    void showMain();
    void returnToMain();
    // Drafts a run left unsent are offered once each: Yes resumes one in the composer, No
    // moves it to Deleted Items.
    void offerOrphanDrafts();
    void resumeDraft(std::unique_ptr<CDraft> draft);

    // Open flow.
    bool userOpens(const std::string& path, int mode, int kind);
    void onOpenRequest(int mode, int kind);
    bool unpack(const std::string& folder, const std::string& zipPath, std::string* wave);
    void finishOpen();
    void openNextHandedOver();

    // Commands.
    void onOpenFile();
    void onNewMessage();
    bool selectedEntry(const char* purpose, MessageEntry* entry, int* folder);
    void onResend();
    void onMove();
    void onDelete();
    void onEmptyOutboxNow();
    void onMixer();
    void onClose();
    bool askStopSession(bool forClose);
    void moveDragged(const MessageEntry& entry, int source, int destination);
    bool stillThere(const MessageEntry& entry);
    void openRow();

    // Dragging a list row onto the tree.
    QTreeWidgetItem* folderItemAt(const QPoint& globalPos) const;
    void dragTo(const QPoint& globalPos);
    void endDrag(const QPoint& globalPos);

    void notifySession(const SessionEnd& end);

    std::unique_ptr<CFolderLists> lists_;
    // Runs the fixing dialog for the scan of a folder that holds old messages.
    std::unique_ptr<CFixHandoff> fixer_;
    CFolderPane* pane_ = nullptr;
    std::unique_ptr<CTransmitWindow> transmit_;
    QPointer<CAnimateCtrl> animate_;  // lives in the pane's layout
    QMenuBar* menuBar_ = nullptr;
    QToolBar* toolbar_ = nullptr;

    std::string fileToOpen_;
    std::string fileName_;
    std::string title_;
    bool userFile_ = false;
    int unpackLimitMs_ = kUnpackLimitMs;
    platform::ProcessHandle unzip_;
    int messageWindows_ = 0;
    std::deque<std::string> handedOver_;
    bool ending_ = false;

    bool mapiLoaded_ = false;
    bool mapiStarted_ = false;

    // Drag state: the row's entry and folder, taken when the drag starts.
    bool dragging_ = false;
    bool pressed_ = false;
    QPoint pressPos_;
    MessageEntry dragEntry_;
    int dragFolder_ = 0;
    QTreeWidgetItem* dropItem_ = nullptr;

    // What the running session sent and failed, for the desktop notification.
    int sessionSent_ = 0;
    int sessionFailed_ = 0;
};

}  // namespace korrin
