#include "korrin/ui/KorrinDlg.h"

#include <set>
#include <utility>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <cerrno>

#include "korrin/app/Defaults.h"
#include "korrin/app/Drafts.h"
#include "korrin/app/EventReport.h"
#include "korrin/app/Utils.h"
#include "korrin/app/Vendor.h"
#include "korrin/app/Zip.h"
#include "korrin/audio/Acm.h"
#include "korrin/store/Trailer.h"
#include "korrin/ui/Animate.h"
#include "korrin/ui/DeletedPage.h"
#include "korrin/ui/Desktop.h"
#include "korrin/ui/Format.h"
#include "korrin/ui/HelpDlg.h"
#include "korrin/ui/IEAddrBk.h"
#include "korrin/ui/MessageList.h"
#include "korrin/ui/MoveDlg.h"
#include "korrin/ui/Preferences.h"
#include "korrin/ui/ReportDlg.h"
#include "korrin/ui/Resources.h"
#include "korrin/ui/SharedCommands.h"
#include "korrin/ui/TransmitDlg.h"
#include "korrin/ui/TransportDlg.h"
#include "korrin/ui/ZipDlg.h"
#include "platform/fileio/ShareFile.h"
#include "platform/files/Files.h"
#include "platform/files/ToolOutput.h"
#include "platform/seam/FileAnswers.h"
#include "platform/ui/FileDialog.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/ProgramEnd.h"
#include "platform/ui/UiThread.h"

namespace korrin {

using namespace platform;

namespace {

constexpr const char* kNoSelectionText =
    "No Quillion EMail(tm) message selected.  Open a folder and select an Quillion EMail(tm) "
    "message to ";
constexpr const char* kOutboxBusyText =
    "Quillion EMail for Windows is currently transmiting a message.  The message which is "
    "currently being transmitted cannot be stopped.  However the transmission session can be "
    "stopped before the next message goes out and then you can delete messages from your "
    "OUTBOX.  End the session after the current message has been transmitted?";
constexpr const char* kOutboxStopText =
    "Quillion EMail for Windows will end the transmission session after the current message "
    "has been sent.  You will then be able to delete messages from your OUTBOX";
constexpr const char* kCloseBusyText =
    "Quillion EMail for Windows(tm) is currently transmiting a message and the program cannot "
    "exit until this message has been sent.  However the transmission session can be stopped "
    "before the next message goes out and then you can exit the program.  End the session "
    "after the current message has been transmitted?";
constexpr const char* kCloseStopText =
    "Quillion EMail for Windows will end the transmission session after the current message "
    "has been sent.  You will then be able to exit the program at that time.";
constexpr const char* kSendOutboxText =
    "You have Quillion EMail for Windows(tm) messages in your Outbox.  Do you want to send "
    "them now?";
constexpr const char* kGoneText =
    "The selected Quillion EMail(tm) message is no longer in its folder.  Nothing was changed.";

struct CommandSpec {
    int id;
    const char* text;
};

// The toolbar: command, or 0 for a separator; the tool tip is the command's string.
struct ToolSpec {
    int id;
    const char* tip;
};
constexpr ToolSpec kTools[] = {
    {CKorrinDlg::kNew, "Create a new Quillion EMail(tm) message"},
    {CKorrinDlg::kOpen, "Open Quillion EMail(tm) file (*.kx0, *.kx1)"},
    {0, nullptr},
    {CKorrinDlg::kNewMessage, "New Quillion EMail for Windows(tm) message"},
    {CKorrinDlg::kResend, "Resend the selected Quillion EMail for Windows(tm) message"},
    {0, nullptr},
    {CKorrinDlg::kMove, "Move the selected Quillion EMail for Windows(tm) message"},
    {CKorrinDlg::kDelete, "Delete selected Quillion EMail for Windows(tm) message"},
    {CKorrinDlg::kEmptyOutboxNow, "Transmit Contents of Outbox to Recipients Now !!!"},
    {CKorrinDlg::kMixer, "Mixer"},
    {0, nullptr},
    {CKorrinDlg::kHelp, "Help"},
};

bool isMessageExtension(const std::string& path) {
    std::string ext = ExtensionOf(path);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == "kx0" || ext == "kx1";
}

int askYesNo(QWidget* owner, const char* text) {
    return AppMessageBox(owner, text, CKorrinDlg::kCaption,
                         MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
}

// A fresh numbered folder in the private folder, locked for this open.
bool makeWorkFolder(WorkFolderLock& work) {
    const std::string root = PrivateTempFolder();
    if (root.empty())
        return false;
    CUtils utils;
    for (int i = 0; i < 16; ++i) {
        std::string candidate;
        if (utils.MakeUniqueDirectory(candidate, root + "/") == 0)
            return work.Take(candidate);
        if (errno != EEXIST)
            return false;  // an existing folder is never used: the next number is tried
    }
    return false;
}

}  // namespace

CKorrinDlg::CKorrinDlg(QWidget* parent)
    : CDialog(kResourceId, parent), lists_(std::make_unique<CFolderLists>()) {
    setWindowTitle(QStringLiteral("Quillion EMail for Windows (tm) - %1")
                       .arg(QString::fromUtf8(vendor::kWebAddress)));
    resize(DialogUnitsToPixels(416, 260));
    setSizeGripEnabled(true);
    setAcceptDrops(true);
    auto* layout = new QVBoxLayout(this);
    menuBar_ = new QMenuBar(this);
    layout->setMenuBar(menuBar_);
    toolbar_ = new QToolBar(this);
    SetControlId(toolbar_, kToolbarId);
    layout->addWidget(toolbar_);
    pane_ = new CFolderPane(*lists_, this);
    layout->addWidget(pane_, 1);
}

CKorrinDlg::~CKorrinDlg() {
    platform::SetProgramEndHandler({});
    // Nothing of the window may be called by the workers any more.
    lists_->SetView(nullptr);
    lists_->CancelFixes();
    // With the animation in its layout. The pane is forgotten first: the list's events while
    // it is torn down reach eventFilter, which must not take it for a whole pane.
    delete std::exchange(pane_, nullptr);
    if (unzip_.valid()) {
        TerminateProcess(unzip_);
        CloseHandle(unzip_);
    }
    {
        // A report the scan or the worker asks for meanwhile takes its default answer.
        UiWaitsForWorkers waiting;
        transmit_.reset();  // waits for the message being sent
        lists_->WaitForScan();
    }
    lists_->SetFixer(nullptr);
    lists_->FreeAll();
    SetPreferencesPage(PreferencesSlot::kDeleted, nullptr);
    if (CUtils().GetSettingDword(setting::kEmptyDeleted) != 0)
        DeleteFolderContents(kDeletedItems);
}

void CKorrinDlg::ClearMessageList() {
    if (pane_)
        pane_->model()->Clear();
}

void CKorrinDlg::SetStatusLine(const std::string& text) {
    if (pane_)
        pane_->statusLine()->setText(QString::fromLocal8Bit(text.c_str()));
}

void CKorrinDlg::SetFileToOpen(const std::string& path) {
    fileToOpen_ = path;
    fileName_ = path.empty() ? std::string() : FileNamePart(path);
}

// ---- start-up

bool CKorrinDlg::OnInitDialog() {
    setWindowIcon(res::LoadIcon(res::kProgramIcon));
    buildMenu();
    buildToolbar();
    buildAnimation();

    transmit_ = std::make_unique<CTransmitWindow>(lists_.get(), this, nullptr);
    CTransmitDlg& session = transmit_->session();
    session.SetMessageDone(
        [this](const TransmitResult& r) { (r.code == 0 ? sessionSent_ : sessionFailed_)++; });
    session.SetSessionEnded([this](const SessionEnd& end) { notifySession(end); });
    SetPreferencesPage(PreferencesSlot::kDeleted, [] { return std::make_unique<CDeletedPage>(); });

    CFolderTree* tree = pane_->tree();
    CMessageListView* list = pane_->list();
    tree->setAccessibleName(QStringLiteral("Folders"));
    list->setAccessibleName(QStringLiteral("Messages"));
    pane_->statusLine()->setAccessibleName(QStringLiteral("Status"));
    setTabOrder(tree, list);
    list->viewport()->installEventFilter(this);
    list->installEventFilter(this);
    connect(list, &QAbstractItemView::activated, this, [this] { openRow(); });

    // A killed run's work folders; those of other running programs are held and stay.
    RemoveAbandonedWorkFolders();
    // A folder read that meets old messages has them fixed here, in the fixing dialog, while
    // the reading thread waits.
    fixer_ = std::make_unique<CFixHandoff>(
        this, [this](const std::string& folder, const std::set<std::string>& skip) {
            CFixDlg dlg(folder, this, this);
            dlg.SetSkip(skip);
            dlg.DoModal();
            return dlg.results();
        });
    lists_->SetFixer(fixer_.get());
    lists_->StartScan();

    // The hidden "MAPI Test" button; the MAPI support library ends the program as a close of
    // this window does when it cannot log on at all.
    auto* mapiTest = new QPushButton(QStringLiteral("MAPI Test"), this);
    BindCommand(mapiTest, kMapiTestId);
    mapiTest->hide();
    platform::SetProgramEndHandler([this] { EndWithoutAsking(); });

    if (!fileToOpen_.empty()) {
        takeCommandLineFile();
    } else {
        showMain();
        QTimer::singleShot(0, this, [this] { offerOrphanDrafts(); });
    }
    return true;
}

// A composition whose program ended before it was sent or dropped (a crash, a kill, a power
// cut) is left in DRAFTS without its lock. Each is offered once: Yes opens it in the composer
// as a Resend opens a message, with its recording and envelope; No moves it to Deleted Items,
// where it can still be opened, and it is not asked about again. A draft another running
// program holds, or takes meanwhile, is left to that program.
void CKorrinDlg::offerOrphanDrafts() {
    // Without an installation there are no drafts; the folder lists report that already.
    std::string installDir;
    if (!CUtils().GetRegistryString(kInstallKey, kInstallDirValue, installDir, kInstallDirBytes) ||
        installDir.empty())
        return;
    for (const std::string& path : ListOrphanDrafts()) {
        if (ending_ || messageWindows_ > 0)
            return;  // the rest are offered at the next start
        auto draft = std::make_unique<CDraft>();
        if (draft->Adopt(path) != 0)
            continue;
        SendEnvelope envelope;
        ReadDraftEnvelope(path, &envelope);  // a damaged envelope leaves the fields empty
        std::string text = "A message you were recording was not sent when the program ended";
        if (!envelope.subject.empty())
            text += ":\n\"" + envelope.subject + "\"";
        if (!envelope.to.empty())
            text += "\nTo: " + envelope.to;
        text += "\n\nDo you want to open it now?  No moves it to Deleted Items.";
        if (AppMessageBox(this, text, kCaption, MB_YESNO | MB_ICONQUESTION) == IDYES) {
            resumeDraft(std::move(draft));
            continue;
        }
        std::string placed;
        if (MoveMessage(path, kDeletedItems, kDeletedItems, nullptr, &placed) != 0)
            continue;     // reported; the draft stays for the next start
        draft->Remove();  // the lock file; the draft itself has moved
        lists_->MarkOutOfDate(kDeletedItems);
        if (lists_->CurrentFolder() == kDeletedItems)
            lists_->Refresh();
    }
}

// The draft's recording is copied into a work folder as the open flow copies a message; the
// composer keeps the draft itself up to date from then on and removes it once sent or dropped.
void CKorrinDlg::resumeDraft(std::unique_ptr<CDraft> draft) {
    ++messageWindows_;
    hide();
    {
        WorkFolderLock work;
        DWORD number = 0;
        std::string wave;
        CMessageTrailer record;
        bool ready = false;
        if (!makeWorkFolder(work)) {
            KORRIN_REPORT("No temp path exists");
        } else if (CUtils().NextFileID(number) == 0) {
            wave = work.folder() + "/V" + std::to_string(number) + "L.wav";
            if (!CopyFile(draft->path(), wave, false)) {
                KORRIN_REPORT("CopyFile failed");
            } else {
                // A damaged envelope leaves the fields empty; the recording is what counts.
                record.ReadForDisplay(wave, true);
                ready = true;
            }
        }
        if (ready && !ending_) {
            CPlayer player(this, wave, record, kModeCompose, kKindResend);
            player.ResumeDraft(std::move(draft));
            player.DoModal();
        }
    }
    --messageWindows_;
    returnToMain();
}

// After a message window: the program ends if it was asked to meanwhile, else the main window
// comes back with its list up to date and takes the next message another start handed over.
void CKorrinDlg::returnToMain() {
    if (ending_) {
        EndDialog(IDOK);
        return;
    }
    const int current = lists_->CurrentFolder();
    if (IsFolderNumber(current) && lists_->IsOutOfDate(current))
        lists_->Refresh();
    showMain();
    openNextHandedOver();
}

void CKorrinDlg::buildMenu() {
    auto add = [this](QMenu* menu, const char* text, int id, QKeySequence key = {}) {
        QAction* a = menu->addAction(QString::fromLatin1(text));
        a->setData(id);
        if (!key.isEmpty()) {
            a->setShortcut(key);
            a->setShortcutContext(Qt::WindowShortcut);
        }
        connect(a, &QAction::triggered, this, [this, id] { OnCommand(id); });
        return a;
    };
    QMenu* file = menuBar_->addMenu(QStringLiteral("&File"));
    add(file, "&New...", kNew, QKeySequence::New);
    add(file, "&Open...", kOpen, QKeySequence::Open);
    add(file, "&Close", kClose, QKeySequence(Qt::CTRL | Qt::Key_Q));
    QMenu* edit = menuBar_->addMenu(QStringLiteral("&Edit"));
    add(edit, "&Preferences...", kPreferences);
    QMenu* compose = menuBar_->addMenu(QStringLiteral("&Compose"));
    add(compose, "New Message", kNewMessage);
    add(compose, "&Resend", kResend);
    QMenu* tools = menuBar_->addMenu(QStringLiteral("&Tools"));
    add(tools, "&Move", kMove);
    add(tools, "&Delete", kDelete, QKeySequence(Qt::Key_Delete));
    add(tools, "Empty Outbox Now !!!", kEmptyOutboxNow);
    add(tools, "&Mixer...", kMixer);
    add(tools, "Message &Quality vs. Size...", kQuality);
    add(tools, "&Transport...", kTransport);
    add(tools, "&Address Book", kAddressBook);
    QMenu* help = menuBar_->addMenu(QStringLiteral("&Help"));
    add(help, "&Help...", kHelp, QKeySequence(Qt::Key_F1));
    add(help, "&About Quillion Email(tm)...", kAboutBox);
    // The desktop's window menu is not ours to extend: "About Korrin" stands in Help.
    help->addSeparator();
    add(help, "&About Korrin...", kAboutCommand);
}

void CKorrinDlg::buildToolbar() {
    toolbar_->setIconSize(QSize(16, 16));
    toolbar_->setMovable(true);  // adjustable
    toolbar_->setAccessibleName(QStringLiteral("Toolbar"));
    int image = 0;
    for (const ToolSpec& t : kTools) {
        if (t.id == 0) {
            toolbar_->addSeparator();
            continue;
        }
        const QString tip = QString::fromLatin1(t.tip).left(64);
        QAction* a = toolbar_->addAction(QIcon(res::ToolbarImage(image++)), tip);
        a->setToolTip(tip);
        a->setData(t.id);
        const int id = t.id;
        connect(a, &QAction::triggered, this, [this, id] { OnCommand(id); });
        if (auto* button = qobject_cast<QToolButton*>(toolbar_->widgetForAction(a))) {
            button->setAccessibleName(tip);
            button->setObjectName(QStringLiteral("tool_%1").arg(id));
        }
    }
}

void CKorrinDlg::buildAnimation() {
    animate_ = new CAnimateCtrl(this);
    SetControlId(animate_, kAnimationId);
    animate_->setAccessibleName(QStringLiteral("Transmitting"));
    std::vector<QPixmap> frames;
    for (int id : res::kTransmitFrames)
        frames.push_back(res::LoadBitmap(id));
    animate_->SetFrames(std::move(frames));
    animate_->setFixedSize(97, 38);
    // Under the folder tree, where the template keeps it.
    if (auto* row = qobject_cast<QHBoxLayout*>(pane_->layout())) {
        row->removeWidget(pane_->tree());
        auto* left = new QVBoxLayout;
        left->addWidget(pane_->tree(), 1);
        left->addWidget(animate_, 0, Qt::AlignHCenter);
        row->insertLayout(0, left, 0);
        // The list gets the room; the tree only what its labels need.
        pane_->tree()->setMaximumWidth(DialogUnitsToPixels(100, 0).width());
    }
    animate_->hide();
}

void CKorrinDlg::SetTransmitting(bool on) {
    if (!animate_)
        return;
    if (on) {
        sessionSent_ = sessionFailed_ = 0;
        animate_->show();
        animate_->Start(kAnimationFrameMs);
    } else {
        animate_->Stop();
        animate_->hide();
    }
}

void CKorrinDlg::MarkOutboxOutOfDate() {
    lists_->MarkOutOfDate(kOutbox);
}

void CKorrinDlg::showMain() {
    ShowWindow(true);
    if (!isVisible())
        show();
}

// The named file is never changed: the program works on a numbered temporary copy, which the
// open request deletes when it is done with it.
void CKorrinDlg::takeCommandLineFile() {
    const std::string extension = ExtensionOf(fileToOpen_);
    DWORD number = 0;
    if (CUtils().NextFileID(number) != 0) {
        // The counter has reported why. A number it did not hand out may be another start's
        // copy, which this one would overwrite and then delete: the open stops here.
        fileToOpen_.clear();
        showMain();
        return;
    }
    const std::string copy = GetTempPath() + "V" + std::to_string(number) + "L." + extension;
    if (!CopyFile(fileToOpen_, copy, false))
        KORRIN_REPORT("CopyFile failed");

    fileToOpen_ = copy;
    fileName_ = FileNamePart(copy);
    title_ = fileName_.substr(0, fileName_.find('.'));
    ShowWindow(false);
    if (!CanOpenForReading(fileToOpen_)) {
        // Nothing to show: no message window on nothing.
        CEventReport().ShowError("Can't Open File");
        DeleteFile(fileToOpen_);
        QTimer::singleShot(0, this, [this] { finishOpen(); });
        return;
    }
    PostMessage(kOpenRequest, kModeView, kKindOpen);
}

// ---- the open flow

bool CKorrinDlg::userOpens(const std::string& path, int mode, int kind) {
    if (!CanOpenForReading(path)) {
        CEventReport().ShowError("Can't Open File");
        return false;
    }
    userFile_ = true;
    SetFileToOpen(path);
    title_ = fileName_.substr(0, fileName_.find('.'));
    PostMessage(kOpenRequest, static_cast<WPARAM>(mode), static_cast<LPARAM>(kind));
    return true;
}

void CKorrinDlg::OpenHandedOver(const std::string& path) {
    handedOver_.push_back(path);
    if (messageWindows_ == 0)
        openNextHandedOver();
}

void CKorrinDlg::openNextHandedOver() {
    while (!handedOver_.empty() && messageWindows_ == 0 && !ending_) {
        std::string path = handedOver_.front();
        handedOver_.pop_front();
        if (userOpens(path, kModeView, kKindOpen))
            return;
    }
}

// Waits for the unpacking program without holding up the event loop (the Outbox timer and
// the window keep running), then takes the wave file it wrote. False after telling why; the
// caller abandons the open.
bool CKorrinDlg::unpack(const std::string& folder, const std::string& zipPath, std::string* wave) {
    std::string tool;
    if (!LocateZipTool(kPkunzipExe, tool)) {
        ShowZipToolsMissing();
        return false;
    }
    if (!StartZipTool(tool + " -o " + zipPath, folder, unzip_)) {
        KORRIN_REPORT("Could not start DECOMPRESS process");
        return false;
    }
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer clock;
    clock.start();
    int outcome = -1;  // 0 ended well, 1 failed, 2 too slow
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (WaitForSingleObject(unzip_, 0) == WAIT_OBJECT_0) {
            DWORD code = 1;
            GetExitCodeProcess(unzip_, &code);
            outcome = code == 0 ? 0 : 1;
        } else if (clock.elapsed() > unpackLimitMs_ || ending_) {
            outcome = 2;
        }
        if (outcome >= 0)
            loop.quit();
    });
    poll.start(100);
    loop.exec();
    TerminateProcess(unzip_);  // gone already, or ended here
    CloseHandle(unzip_);
    unzip_ = {};
    if (outcome != 0) {
        KORRIN_REPORT(outcome == 2 ? "DECOMPRESS process did not finish"
                                   : "DECOMPRESS process failed");
        return false;
    }
    // Only a regular file directly in the folder: never a link the archive put there.
    *wave = FindFirstFileMatching(folder, "*.wav");
    if (wave->empty()) {
        KORRIN_REPORT("DECOMPRESS process failed");
        return false;
    }
    return true;
}

void CKorrinDlg::onOpenRequest(int mode, int kind) {
    hide();
    ++messageWindows_;
    {
        std::optional<CWaitCursor> wait(std::in_place);
        CMessageTrailer record;
        WorkFolderLock work;
        std::string wave;
        bool ready = false;
        if (!makeWorkFolder(work)) {
            KORRIN_REPORT("No temp path exists");
        } else if (!fileName_.empty() && fileName_.back() == '1') {
            std::uint64_t freeBytes = 0;
            if (!GetDiskFreeSpace(work.folder(), &freeBytes))
                KORRIN_REPORT("GetDiskFreeSpace failed");
            else if (freeBytes < kLeastFreeSpace)
                AppMessageBox(nullptr,
                              "You only have " + std::to_string(freeBytes) +
                                  " bytes of disk space available.  You need at least " +
                                  std::to_string(kLeastFreeSpace) +
                                  ".  This program may not function properly",
                              "Quillion", MB_OK | MB_ICONINFORMATION);
            const std::string zip = work.folder() + "/file.zip";
            if (!CopyFile(fileToOpen_, zip, false)) {
                KORRIN_REPORT("CopyFile failed");
            } else {
                const int read = record.ReadForDisplay(zip, true);
                if (unpack(work.folder(), zip, &wave)) {
                    if (read == trailer::kNoTrailer || read == trailer::kDamaged)
                        record.ReadForDisplay(zip, true);
                    ready = true;
                }
            }
        } else {
            DWORD number = 0;
            if (CUtils().NextFileID(number) == 0) {
                wave = work.folder() + "/V" + std::to_string(number) + "L.wav";
                if (!CopyFile(fileToOpen_, wave, false)) {
                    KORRIN_REPORT("CopyFile failed");
                } else {
                    const int read = record.ReadForDisplay(wave, true);
                    if (read == trailer::kNoTrailer || read == trailer::kDamaged)
                        record.ReadForDisplay(wave, true);
                    ready = true;
                }
            }
        }
        wait.reset();

        if (ready && !ending_) {
            const int result = RunMessageWindow(wave, record, mode, kind);
            if ((result == kKindForward || result == kKindReply || result == kKindResend) &&
                !ending_) {
                CWaitCursor again;
                if (result == kKindForward)
                    record.PrefixSubject("FW:");
                else if (result == kKindReply)
                    record.PrefixSubject("RE:");
                RunMessageWindow(wave, record, kModeCompose, result);
            }
        }
        if (unzip_.valid()) {
            TerminateProcess(unzip_);
            CloseHandle(unzip_);
            unzip_ = {};
        }
        if (!userFile_)
            DeleteFile(fileToOpen_);  // the start-up copy
        // work removes the folder with the zip copy and the wave file as it goes.
    }
    --messageWindows_;
    finishOpen();
}

void CKorrinDlg::finishOpen() {
    if (ending_) {
        EndDialog(IDOK);
        return;
    }
    if (!userFile_) {
        if (!handedOver_.empty()) {
            // Another start handed a message over meanwhile: the program goes on with it.
            showMain();
            openNextHandedOver();
            return;
        }
        DWORD count = 0;
        CountMessages(kOutbox, &count);
        if (count > 0 && askYesNo(this, kSendOutboxText) == IDYES) {
            userFile_ = true;  // the program now runs on as if started plainly
            showMain();
            onEmptyOutboxNow();
            return;
        }
        EndDialog(IDOK);
        return;
    }
    returnToMain();
}

int CKorrinDlg::RunMessageWindow(const std::string& wavePath, CMessageTrailer& record, int mode,
                                 int kind) {
    CPlayer player(this, wavePath, record, mode, kind);
    return player.DoModal();
}

// ---- commands

void CKorrinDlg::OnCommand(int id) {
    switch (id) {
        case kAboutCommand:
            RunSharedCommand(kAboutBox, this);
            return;
        case kPreferences:
            OpenPreferences(this);
            return;
        case kNew:
        case kNewMessage:
            onNewMessage();
            return;
        case kOpen:
            onOpenFile();
            return;
        case kClose:
            onClose();
            return;
        case kResend:
            onResend();
            return;
        case kMove:
            onMove();
            return;
        case kDelete:
            onDelete();
            return;
        case kEmptyOutboxNow:
            onEmptyOutboxNow();
            return;
        case kMixer:
            onMixer();
            return;

        case kTransport: {
            CTransportDlg transport(TolvlinkProfileAccess(MapiBinding(), mapiLoaded_, this), this);
            transport.DoModal();
            return;
        }
        case kMapiTestId: {
            // A binding of its own, loaded and dropped: the window's own stays as it is.
            CTolvlinkBinding test(this);
            test.Load();
            return;
        }
        case kAddressBook: {
            // The MAPI choice is offered when the support library loads (once per run).
            CAddressBookDlg addressBook(
                [this] {
                    if (!mapiLoaded_ && LoadMapiBinding(*this))
                        mapiLoaded_ = true;
                    return mapiLoaded_;
                },
                this);
            addressBook.DoModal();
            return;
        }
        case kAboutBox:
        case kHelp:
        case kQuality:
        case kAdvancedFormats:
            RunSharedCommand(id, this);
            return;
        default:
            CDialog::OnCommand(id);
    }
}

LRESULT CKorrinDlg::OnMessage(unsigned msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case kOpenRequest:
            onOpenRequest(static_cast<int>(wParam), static_cast<int>(lParam));
            return 0;
        case kRestoreRequest:
            if (messageWindows_ == 0) {
                showNormal();
                raise();
                activateWindow();
            }
            return 1;
        default:
            return CDialog::OnMessage(msg, wParam, lParam);
    }
}

void CKorrinDlg::onOpenFile() {
    FileDialogRequest request;
    request.save = false;
    request.title = "Open Quillion EMail for Windows (tm) File";
    request.filterName = "Quillion EMail(tm) files (*.kx0;*.kx1)";
    request.patterns = "*.kx0;*.kx1";
    request.defaultExtension = "kx1";
    std::string start;
    CUtils().GetRegistryString(kKorrinKey, setting::kOpenPath, start, 260);
    request.initialName = start.empty() ? std::string("*.kx0;*.kx1") : start;
    std::optional<std::string> chosen = GetFileName(this, request);
    if (!chosen)
        return;
    if (userOpens(*chosen, kModeView, kKindOpen))
        CUtils().SetRegistryString(kKorrinKey, setting::kOpenPath, *chosen);
}

void CKorrinDlg::onNewMessage() {
    ++messageWindows_;
    hide();
    {
        WorkFolderLock work;
        std::optional<CWaitCursor> wait(std::in_place);
        FormatChooser local(this);
        std::string details;
        if (local.GetFormat(kKorrinKey, details) != 0)
            KORRIN_REPORT("GetFormat failed");
        DWORD number = 0;
        WaveFileInfo info;
        std::string path;
        bool ready = false;
        if (!makeWorkFolder(work))
            KORRIN_REPORT("No temp path exists");
        else if (CUtils().NextFileID(number) == 0) {
            path = work.folder() + "/V" + std::to_string(number) + "L.wav";
            ready = AcmAppFileNew(local, path, info);
            if (!ready)
                KORRIN_REPORT("AcmAppFileNew failed");
        }
        wait.reset();
        if (ready && !ending_) {
            CMessageTrailer record;
            RunMessageWindow(path, record, kModeCompose, kKindNew);
        }
    }
    --messageWindows_;
    returnToMain();
}

// The message the command acts on, taken as it is when the command starts: the worker may
// reshuffle the list while a question or dialog is open.
bool CKorrinDlg::selectedEntry(const char* purpose, MessageEntry* entry, int* folder) {
    const int row = pane_->list()->SelectedEntry();
    const MessageEntry* e = row >= 0 ? pane_->model()->Entry(row) : nullptr;
    if (!e) {
        CEventReport().ShowInformation(std::string(kNoSelectionText) + purpose);
        return false;
    }
    *entry = *e;
    *folder = lists_->CurrentFolder();
    return true;
}

bool CKorrinDlg::stillThere(const MessageEntry& entry) {
    if (FileExists(entry.path))
        return true;
    CEventReport().ShowInformation(kGoneText);
    lists_->Refresh();
    return false;
}

void CKorrinDlg::onResend() {
    MessageEntry entry;
    int folder = 0;
    if (selectedEntry("resend.", &entry, &folder))
        userOpens(entry.path, kModeCompose, kKindResend);
}

void CKorrinDlg::openRow() {
    const int row = pane_->list()->SelectedEntry();
    if (const MessageEntry* e = row >= 0 ? pane_->model()->Entry(row) : nullptr)
        userOpens(e->path, kModeView, kKindOpen);
}

// While a session sends, nothing leaves the Outbox: the user may only ask it to stop.
bool CKorrinDlg::askStopSession(bool forClose) {
    if (askYesNo(this, forClose ? kCloseBusyText : kOutboxBusyText) == IDYES) {
        transmit_->session().RequestStop();
        AppMessageBox(this, forClose ? kCloseStopText : kOutboxStopText, kCaption,
                      MB_OK | MB_ICONINFORMATION);
    }
    return true;
}

void CKorrinDlg::onMove() {
    MessageEntry entry;
    int source = 0;
    if (!selectedEntry("move.", &entry, &source))
        return;
    if (source == kOutbox && transmit_->session().IsTransmitting()) {
        askStopSession(false);
        return;
    }
    CMoveDlg dlg(entry, this);
    if (dlg.DoModal() != IDOK)
        return;
    moveDragged(entry, source, dlg.chosenFolder());
}

// Moves the message taken at the start of a Move or a drag, unless a session has started on
// the Outbox meanwhile or the message is gone.
void CKorrinDlg::moveDragged(const MessageEntry& entry, int source, int destination) {
    if (!IsFolderNumber(source) || !IsFolderNumber(destination) || source == destination)
        return;
    if (source == kOutbox && transmit_->session().IsTransmitting()) {
        askStopSession(false);
        return;
    }
    if (!stillThere(entry))
        return;
    MoveMessage(entry.path, destination, source, lists_.get());
}

void CKorrinDlg::onDelete() {
    MessageEntry entry;
    int folder = 0;
    if (!selectedEntry("delete.", &entry, &folder))
        return;
    if (folder == kDeletedItems) {
        char text[1024];
        std::snprintf(text, sizeof text,
                      "Are you sure you want to permanently delete: To: %s, Subject: %s, Sent: "
                      "%s, Size: %d?",
                      entry.toNames.c_str(), entry.subject.c_str(), entry.sentText.c_str(),
                      static_cast<int>(entry.size));
        if (askYesNo(this, text) != IDYES)
            return;
        if (!stillThere(entry))
            return;
        // The file first: a message that cannot be deleted keeps its row.
        if (!DeleteFileShared(entry.path)) {
            KORRIN_REPORT("DeleteFile failed");
            return;
        }
        lists_->RemoveEntry(kDeletedItems, entry.path, entry.path);
        DWORD count = 0;
        CountMessages(kDeletedItems, &count);
        if (count > 0 && lists_->CurrentFolder() == kDeletedItems) {
            pane_->ShowFolder(kDeletedItems);
        } else if (lists_->CurrentFolder() == kDeletedItems) {
            pane_->model()->Clear();
            pane_->statusLine()->setText(QString::fromStdString(StatusLineText(kDeletedItems, 0)));
        }
        return;
    }
    if (folder == kOutbox && transmit_->session().IsTransmitting()) {
        askStopSession(false);
        return;
    }
    moveDragged(entry, folder, kDeletedItems);
}

void CKorrinDlg::onEmptyOutboxNow() {
    DWORD count = 0;
    CountMessages(kOutbox, &count);
    if (count > 0)
        transmit_->session().OutboxTimerTick();
}

void CKorrinDlg::onMixer() {
    if (!StartMixer())
        CEventReport().ShowError(
            "Could not start Mixer Process.  Make sure you have it installed.  See Control "
            "Panel->Add/Remove Programs.");
}

// ---- closing

void CKorrinDlg::onClose() {
    if (transmit_ && transmit_->session().IsTransmitting()) {
        askStopSession(true);
        return;
    }
    DWORD count = 0;
    CountMessages(kOutbox, &count);
    if (count > 0 && askYesNo(this, kSendOutboxText) == IDYES) {
        onEmptyOutboxNow();
        return;
    }
    EndDialog(IDOK);
}

void CKorrinDlg::EndWithoutAsking() {
    if (ending_)
        return;
    ending_ = true;
    if (transmit_ && transmit_->session().IsTransmitting()) {
        transmit_->session().RequestStop();
        QEventLoop loop;
        QTimer poll;
        QElapsedTimer clock;
        clock.start();
        connect(&poll, &QTimer::timeout, &loop, [&] {
            if (!transmit_->session().IsTransmitting() || clock.elapsed() > kEndWaitMs)
                loop.quit();
        });
        poll.start(50);
        loop.exec();
    }
    // Every window above this one closes; the open flow then ends the program.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = dynamic_cast<CDialog*>(w); d && d != this && d->isRunning())
            d->EndDialog(IDCANCEL);
    if (messageWindows_ == 0)
        EndDialog(IDOK);
}

void CKorrinDlg::OnOK() {
    // Enter never ends the program: it opens the selected message.
    openRow();
}

void CKorrinDlg::OnCancel() {
    // Esc never ends the program.
}

void CKorrinDlg::closeEvent(QCloseEvent* e) {
    e->ignore();
    if (messageWindows_ == 0)
        onClose();
}

// ---- drops from the file manager

void CKorrinDlg::dragEnterEvent(QDragEnterEvent* e) {
    if (e->mimeData()->hasUrls())
        e->acceptProposedAction();
}

void CKorrinDlg::dropEvent(QDropEvent* e) {
    if (!e->mimeData()->hasUrls())
        return;
    e->acceptProposedAction();
    DropFiles(e->mimeData()->urls());
}

void CKorrinDlg::DropFiles(const QList<QUrl>& urls) {
    if (urls.isEmpty())
        return;
    const std::string path = urls.front().toLocalFile().left(260).toStdString();
    if (!isMessageExtension(path)) {
        CEventReport().ShowError("Dropped file must have .kx0 or .kx1 extension.");
        return;
    }
    userOpens(path, kModeView, kKindOpen);
}

// ---- dragging a row onto the tree

QTreeWidgetItem* CKorrinDlg::folderItemAt(const QPoint& globalPos) const {
    CFolderTree* tree = pane_->tree();
    const QPoint local = tree->viewport()->mapFromGlobal(globalPos);
    if (!tree->viewport()->rect().contains(local))
        return nullptr;
    QTreeWidgetItem* item = tree->itemAt(local);
    return item && IsFolderNumber(item->data(0, Qt::UserRole).toInt()) ? item : nullptr;
}

void CKorrinDlg::dragTo(const QPoint& globalPos) {
    QTreeWidgetItem* item = folderItemAt(globalPos);
    if (item == dropItem_)
        return;
    if (dropItem_)
        dropItem_->setBackground(0, QBrush());
    dropItem_ = item;
    if (dropItem_)
        dropItem_->setBackground(0, palette().highlight());
}

void CKorrinDlg::endDrag(const QPoint& globalPos) {
    QTreeWidgetItem* item = folderItemAt(globalPos);
    if (dropItem_)
        dropItem_->setBackground(0, QBrush());
    dropItem_ = nullptr;
    dragging_ = false;
    QApplication::restoreOverrideCursor();
    if (item)
        moveDragged(dragEntry_, dragFolder_, item->data(0, Qt::UserRole).toInt());
}

bool CKorrinDlg::eventFilter(QObject* watched, QEvent* e) {
    CMessageListView* list = pane_ ? pane_->list() : nullptr;
    if (list && watched == list && e->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(e);
        if (key->key() == Qt::Key_Delete) {
            OnCommand(kDelete);
            return true;
        }
    }
    if (list && watched == list->viewport()) {
        switch (e->type()) {
            case QEvent::MouseButtonPress: {
                auto* m = static_cast<QMouseEvent*>(e);
                pressed_ = m->button() == Qt::LeftButton;
                pressPos_ = m->position().toPoint();
                break;
            }
            case QEvent::MouseMove: {
                auto* m = static_cast<QMouseEvent*>(e);
                if (!dragging_ && pressed_ && (m->buttons() & Qt::LeftButton) &&
                    (m->position().toPoint() - pressPos_).manhattanLength() >=
                        QApplication::startDragDistance()) {
                    const QModelIndex index = list->indexAt(pressPos_);
                    const MessageEntry* entry =
                        index.isValid() ? pane_->model()->Entry(index.row()) : nullptr;
                    if (entry) {
                        dragging_ = true;
                        dragEntry_ = *entry;
                        dragFolder_ = lists_->CurrentFolder();
                        QApplication::setOverrideCursor(Qt::DragMoveCursor);
                    }
                }
                if (dragging_) {
                    dragTo(m->globalPosition().toPoint());
                    return true;
                }
                break;
            }
            case QEvent::MouseButtonRelease: {
                auto* m = static_cast<QMouseEvent*>(e);
                pressed_ = false;
                if (dragging_) {
                    endDrag(m->globalPosition().toPoint());
                    return true;
                }
                break;
            }
            default:
                break;
        }
    }
    return CDialog::eventFilter(watched, e);
}

void CKorrinDlg::changeEvent(QEvent* e) {
    CDialog::changeEvent(e);
}

// ---- the desktop notification

void CKorrinDlg::notifySession(const SessionEnd& end) {
    (void)end;
    if (isActiveWindow() || (sessionSent_ == 0 && sessionFailed_ == 0))
        return;
    NotifyDesktop(sessionSent_, sessionFailed_);
}

}  // namespace korrin
