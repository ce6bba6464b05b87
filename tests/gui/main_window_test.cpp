// The main window as the user meets it, offscreen: its controls and commands by number, the
// message seam for the boxes, real message files in a real install folder, the real unpacker
// and a real SMTP server for the sessions it runs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <set>
#include <thread>

#include "helpers/GuiSupport.h"
#include "helpers/WaveSupport.h"
#include "integration/transmit/TransmitFixture.h"
#include "korrin/app/Drafts.h"
#include "korrin/ui/Animate.h"
#include "korrin/ui/DeletedPage.h"
#include "korrin/ui/KorrinDlg.h"
#include "korrin/ui/MessageList.h"
#include "korrin/ui/Player.h"
#include "korrin/ui/TransmitDlg.h"
#include "platform/Endian.h"
#include "platform/files/Files.h"
#include "platform/files/PrivateTemp.h"
#include "platform/ui/PropertySheet.h"

using namespace korrin;
using namespace korrin::platform;
using namespace korrin::test;

namespace {

// The main window with the message window replaced by a recorder of what it was asked.
class RecordingDlg : public CKorrinDlg {
  public:
    struct Opened {
        std::string wave;
        std::string waveContent;
        std::string subject;
        int mode;
        int kind;
    };
    std::vector<Opened> opened;
    int answer = 1;
    std::function<void()> whileOpen;

  protected:
    int RunMessageWindow(const std::string& wave, CMessageTrailer& record, int mode,
                         int kind) override {
        opened.push_back({wave, ReadFile(wave), record.subject, mode, kind});
        if (whileOpen)
            whileOpen();
        return answer;
    }
};

std::vector<std::string> entriesOf(const std::string& dir) {
    std::vector<std::string> out;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                out.push_back(e->d_name);
        ::closedir(d);
    }
    return out;
}

void pump(const std::function<bool()>& done, int ms = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done() && std::chrono::steady_clock::now() < end)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

class MainWindowTest : public MailStoreTest {
  protected:
    void SetUp() override {
        MailStoreTest::SetUp();
        ASSERT_EQ(::mkdir(run_.c_str(), 0700), 0);
        ASSERT_EQ(::mkdir(tmp_.c_str(), 0700), 0);
        ASSERT_EQ(::mkdir(tools_.c_str(), 0700), 0);
        makeSendingFolders();
        makeFolder("DELETED");
    }
    std::string privateFolder() const { return run_ + "/korrin"; }
    // Work folders left in the private folder (the instance socket and its lock are not).
    std::vector<std::string> workLeft() const {
        std::vector<std::string> out;
        for (const auto& name : entriesOf(privateFolder()))
            if (name.rfind("instance-", 0) != 0)
                out.push_back(name);
        return out;
    }
    void installUnpacker(const std::string& script = "") {
        const std::string path = tools_ + "/pkunzip";
        WriteFile(path,
                  script.empty() ? ReadFile(SourceDir() + "/resources/tools/pkunzip") : script);
        ::chmod(path.c_str(), 0755);
    }
    // A .kx0 message: a short PCM wave with its envelope.
    std::string makeWaveMessage(const std::string& path, const std::string& to,
                                const std::string& subject) {
        PcmFormat f{8000, 8, 1};
        WriteWave(path, f, SegmentAudio(f, {{200, 0x90}}));
        const std::string wave = ReadFile(path);
        makeMessage(path, wave, to, subject);
        return wave;
    }
    // A .kx1 message: the wave zipped by the real zip, then the envelope.
    std::string makeZipMessage(const std::string& path, const std::string& subject) {
        const std::string wave = dir_.file("voice.wav");
        PcmFormat f{8000, 8, 1};
        WriteWave(wave, f, SegmentAudio(f, {{100, 0x70}}));
        const std::string zip = dir_.file("voice.zip");
        ::unlink(zip.c_str());
        EXPECT_EQ(test::Run({"/usr/bin/zip", "-q", "-j", zip, wave}).exitCode, 0);
        makeMessage(path, ReadFile(zip), "Ann", subject);
        return ReadFile(wave);
    }
    // Runs the window; act runs once it shows and the start-up scan is done.
    void runWindow(CKorrinDlg& dlg, const std::function<void()>& act) {
        dlg.SetFileToOpen("");
        WhenShown(QStringLiteral("dialog_102"), [&](QWidget*) {
            pump([&] { return dlg.lists().IsLoaded(); });
            act();
            if (dlg.isRunning())
                dlg.EndDialog(IDCANCEL);
        });
        dlg.DoModal();
    }
    void selectFolder(CKorrinDlg& dlg, int folder) {
        dlg.pane()->tree()->setCurrentItem(dlg.pane()->tree()->FolderItem(folder));
    }
    void selectRow(CKorrinDlg& dlg, int row) {
        CMessageListView* list = dlg.pane()->list();
        list->setCurrentIndex(list->model()->index(row, 0));
    }
    std::vector<std::string> texts(const char* kind = "messagebox") const {
        std::vector<std::string> out;
        for (const auto& line : ReadLines(logPath()))
            if (JsonField(line, "kind") == kind)
                out.push_back(JsonField(line, "text"));
        return out;
    }

    std::string run_ = dir_.file("run");
    std::string tmp_ = dir_.file("tmp");
    std::string tools_ = dir_.file("tools");
    ScopedEnv runtime_{"XDG_RUNTIME_DIR", run_};
    ScopedEnv tmpdir_{"TMPDIR", tmp_};
    ScopedEnv windir_{"KORRIN_WINDIR", tools_};
    ScopedEnv audio_{"KORRIN_AUDIO", "virtual"};
};

TEST_F(MainWindowTest, ControlsMenuToolbarAndTheTransmissionWindow) {
    makeMessage(folder("SENT") + "/KX1S.kx0", "RIFF", "Bob", "first");
    makeMessage(folder("SENT") + "/KX2S.kx0", "RIFF", "Cy", "second");
    CKorrinDlg dlg;
    runWindow(dlg, [&] {
        EXPECT_EQ(ControlId(GetDlgItem(&dlg, 1045)), 1045);
        EXPECT_NE(GetDlgItemAs<CMessageListView>(&dlg, 1046), nullptr);
        EXPECT_NE(GetDlgItemAs<QLineEdit>(&dlg, 1047), nullptr);
        EXPECT_EQ(dlg.pane()->tree()->accessibleName(), "Folders");
        EXPECT_EQ(dlg.pane()->list()->accessibleName(), "Messages");

        auto* bar = GetDlgItemAs<QToolBar>(&dlg, 1);
        ASSERT_NE(bar, nullptr);
        std::vector<int> ids;
        int separators = 0;
        for (QAction* a : bar->actions()) {
            if (a->isSeparator()) {
                ++separators;
                continue;
            }
            ids.push_back(a->data().toInt());
            EXPECT_FALSE(a->icon().isNull());
            auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(a));
            ASSERT_NE(button, nullptr);
            EXPECT_EQ(button->accessibleName(), a->toolTip());
            EXPECT_LE(a->toolTip().size(), 64);
        }
        EXPECT_EQ(
            ids, (std::vector<int>{57600, 57601, 32785, 32782, 32783, 32784, 32781, 40027, 40020}));
        EXPECT_EQ(separators, 3);
        EXPECT_EQ(bar->actions()[0]->toolTip(), "Create a new Quillion EMail(tm) message");

        std::set<int> commands;
        for (QAction* menu : dlg.findChild<QMenuBar*>()->actions())
            for (QAction* item : menu->menu()->actions())
                if (!item->isSeparator())
                    commands.insert(item->data().toInt());
        for (int id : {57600, 57601, 57602, 32773, 32785, 32782, 32783, 32784, 32781, 40027, 40029,
                       32778, 32786, 40020, 40011})
            EXPECT_TRUE(commands.count(id)) << id;

        // The Outbox timer runs in the window from the start.
        ASSERT_NE(dlg.transmitWindow(), nullptr);
        EXPECT_TRUE(dlg.transmitWindow()->session().OutboxTimerActive());
        EXPECT_FALSE(dlg.transmitWindow()->isVisible());
        EXPECT_FALSE(dlg.animation()->isVisible());

        selectFolder(dlg, kSentItems);
        pump([&] { return dlg.pane()->model()->rowCount() == 2; });
        EXPECT_EQ(dlg.pane()->statusLine()->text().toStdString(), StatusLineText(kSentItems, 2));

        // Esc and Enter never end the program; the restore request answers 1.
        for (int key : {Qt::Key_Escape, Qt::Key_Return}) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
            QApplication::sendEvent(&dlg, &press);
        }
        QApplication::processEvents();
        EXPECT_TRUE(dlg.isRunning());
        EXPECT_EQ(SendMessage(&dlg, CKorrinDlg::kRestoreRequest), 1);
    });
}

TEST_F(MainWindowTest, NoSelectionDeleteQuestionAndTheMoveDialog) {
    const std::string deleted = folder("DELETED") + "/KX5D.kx0";
    makeMessage(deleted, "RIFF", "Dee", "old");
    const std::string sent = folder("SENT") + "/KX6S.kx0";
    makeMessage(sent, "RIFF", "Sam", "keep");
    CKorrinDlg dlg;
    runWindow(dlg, [&] {
        for (int id : {CKorrinDlg::kResend, CKorrinDlg::kMove, CKorrinDlg::kDelete})
            dlg.OnCommand(id);
        auto boxes = texts();
        ASSERT_EQ(boxes.size(), 3u);
        const char* ends[] = {"to resend.", "to move.", "to delete."};
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(boxes[i].rfind("No Quillion EMail(tm) message selected.  Open a folder and "
                                     "select an Quillion EMail(tm) message " +
                                         std::string(ends[i]),
                                     0),
                      0u)
                << boxes[i];

        // Deleted Items: answered No, nothing changes; Yes deletes the file and the row.
        selectFolder(dlg, kDeletedItems);
        pump([&] { return dlg.pane()->model()->rowCount() == 1; });
        selectRow(dlg, 0);
        ScopedEnv no("KORRIN_MESSAGE_ANSWERS", "No");
        QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
        QApplication::sendEvent(dlg.pane()->list(), &del);
        EXPECT_TRUE(FileExists(deleted));
        EXPECT_EQ(dlg.pane()->model()->rowCount(), 1);
        EXPECT_EQ(texts().back(),
                  "Are you sure you want to permanently delete: To: Dee, Subject: old, Sent: " +
                      dlg.lists().Entries(kDeletedItems)[0].sentText + ", Size: " +
                      std::to_string(dlg.lists().Entries(kDeletedItems)[0].size) + "?");
        ScopedEnv yes("KORRIN_MESSAGE_ANSWERS", "Yes");
        dlg.OnCommand(CKorrinDlg::kDelete);
        EXPECT_FALSE(FileExists(deleted));
        EXPECT_EQ(dlg.pane()->model()->rowCount(), 0);

        // Move: OK without a folder keeps the dialog open; Outbox then OK moves it there.
        selectFolder(dlg, kSentItems);
        pump([&] { return dlg.pane()->model()->rowCount() == 1; });
        selectRow(dlg, 0);
        int okWithout = 0;
        WhenShown(QStringLiteral("dialog_175"), [&](QWidget* move) {
            EXPECT_EQ(GetDlgItemText(move, 1022), "Sam");
            EXPECT_EQ(GetDlgItemText(move, 1016), "keep");
            const size_t before = texts().size();
            Click(move, IDOK);
            okWithout = static_cast<int>(texts().size() - before);
            EXPECT_TRUE(move->isVisible());
            auto* tree = GetDlgItemAs<QTreeWidget>(move, 1045);
            tree->setCurrentItem(tree->topLevelItem(0)->child(1));  // Outbox
            Click(move, IDOK);
        });
        dlg.OnCommand(CKorrinDlg::kMove);
        EXPECT_EQ(okWithout, 1);
        EXPECT_NE(texts().back().find("Select a folder to move your Quillion EMail(tm) to."),
                  std::string::npos);
        EXPECT_FALSE(FileExists(sent));
        EXPECT_EQ(entriesOf(folder("OUTBOX")).size(), 1u);
    });
}

TEST_F(MainWindowTest, DroppedFilesAndARowDraggedOntoTheTree) {
    installUnpacker();
    const std::string text = dir_.file("notes.txt");
    WriteFile(text, "hello");
    const std::string kx1 = dir_.file("VOICE.KX1");
    const std::string wave = makeZipMessage(kx1, "zipped");
    const std::string sent = folder("SENT") + "/KX7S.kx0";
    makeMessage(sent, "RIFF", "Sam", "drag me");
    RecordingDlg dlg;
    runWindow(dlg, [&] {
        auto drop = [&](const std::string& path) {
            dlg.DropFiles({QUrl::fromLocalFile(QString::fromStdString(path))});
        };
        drop(text);
        ASSERT_FALSE(texts().empty());
        EXPECT_NE(texts().back().find("Dropped file must have .kx0 or .kx1 extension."),
                  std::string::npos);
        EXPECT_TRUE(dlg.opened.empty());
        drop(kx1);
        pump([&] { return !dlg.opened.empty() && dlg.isVisible(); });
        ASSERT_EQ(dlg.opened.size(), 1u);
        EXPECT_EQ(dlg.opened[0].waveContent, wave);
        EXPECT_EQ(dlg.opened[0].subject, "zipped");
        EXPECT_EQ(dlg.opened[0].mode, 1);
        EXPECT_EQ(dlg.opened[0].kind, 304);
        EXPECT_TRUE(workLeft().empty());
        EXPECT_TRUE(FileExists(kx1)) << "the user's own file stays";

        // A row of Sent Items dragged onto Outbox moves there.
        selectFolder(dlg, kSentItems);
        pump([&] { return dlg.pane()->model()->rowCount() == 1; });
        QWidget* viewport = dlg.pane()->list()->viewport();
        const QRect row = dlg.pane()->list()->visualRect(dlg.pane()->model()->index(0, 1));
        CFolderTree* tree = dlg.pane()->tree();
        const QPoint target =
            tree->viewport()->mapToGlobal(tree->visualItemRect(tree->FolderItem(kOutbox)).center());
        auto mouse = [&](QEvent::Type type, QPoint local, Qt::MouseButtons buttons) {
            QMouseEvent e(type, local, viewport->mapToGlobal(local),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                          Qt::NoModifier);
            QApplication::sendEvent(viewport, &e);
        };
        mouse(QEvent::MouseButtonPress, row.center(), Qt::LeftButton);
        mouse(QEvent::MouseMove, row.center() + QPoint(30, 0), Qt::LeftButton);
        mouse(QEvent::MouseMove, viewport->mapFromGlobal(target), Qt::LeftButton);
        mouse(QEvent::MouseButtonRelease, viewport->mapFromGlobal(target), Qt::NoButton);
        EXPECT_FALSE(FileExists(sent));
        EXPECT_EQ(entriesOf(folder("OUTBOX")).size(), 1u);
    });
}

// A .kx1 whose archive holds a "../" entry and a link touches nothing outside its work folder,
// and the link is never taken for the wave.
TEST_F(MainWindowTest, HostileArchiveStaysInsideItsFolder) {
    installUnpacker();
    const std::string zip = dir_.file("hostile.zip");
    const std::string outside = dir_.file("target.wav");
    WriteFile(outside, "outside");
    RunResult made =
        test::Run({"/usr/bin/python3", "-c",
                   "import sys, zipfile\n"
                   "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
                   "i = zipfile.ZipInfo('voice.wav'); i.external_attr = 0o120777 << 16\n"
                   "z.writestr(i, sys.argv[2])\n"
                   "z.writestr('../../../escape.wav', 'RIFF-escaped')\n"
                   "z.close()\n",
                   zip, outside});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const std::string kx1 = dir_.file("hostile.kx1");
    makeMessage(kx1, ReadFile(zip), "Eve", "hostile");
    RecordingDlg dlg;
    runWindow(dlg, [&] {
        dlg.DropFiles({QUrl::fromLocalFile(QString::fromStdString(kx1))});
        pump([&] { return !dlg.opened.empty() || !texts("report").empty(); });
        pump([&] { return !dlg.messageWindowOpen(); });
        for (const auto& o : dlg.opened)
            EXPECT_NE(o.waveContent, "outside") << "a link was followed";
        EXPECT_EQ(ReadFile(outside), "outside");
        for (const std::string& d : {dir_.path(), run_, tmp_, install()})
            EXPECT_FALSE(FileExists(d + "/escape.wav")) << d;
        EXPECT_TRUE(workLeft().empty());
    });
}

// An unpacker that is missing or never ends abandons the open; the event loop runs meanwhile
// (the Outbox timer sends), and nothing is left behind.
TEST_F(MainWindowTest, UnpackingThatCannotWorkAbandonsTheOpen) {
    startServer();
    const std::string kx1 = dir_.file("m.kx1");
    makeZipMessage(kx1, "zipped");
    makeEnvelope(folder("OUTBOX") + "/KX9O.kx0", payload(2000, 1), "to@there.test", "", "s", "n");
    ASSERT_EQ(CUtils().SetRegistryDword(kKorrinKey, setting::kOutBoxMinutes, 1), 1);
    RecordingDlg dlg;
    runWindow(dlg, [&] {
        QApplication::processEvents();
        // Missing: the notice, no message window.
        ASSERT_TRUE(SendMessage(&dlg, CKorrinDlg::kRestoreRequest));
        dlg.OpenHandedOver(kx1);
        pump([&] { return !texts().empty() && !dlg.messageWindowOpen(); });
        EXPECT_TRUE(dlg.opened.empty());
        ASSERT_FALSE(texts().empty());
        EXPECT_NE(texts().back().find("PKUNZIP"), std::string::npos) << texts().back();

        // Never ends: given up after the limit, its process gone.
        const std::string pidFile = dir_.file("unzip.pid");
        installUnpacker("#!/bin/sh\necho $$ > '" + pidFile + "'\nexec sleep 300\n");
        dlg.SetUnpackLimit(1500);
        dlg.transmitWindow()->session().SetMinuteMilliseconds(300);
        dlg.transmitWindow()->session().RearmOutboxTimer(1);
        dlg.OpenHandedOver(kx1);
        pump([&] { return dlg.messageWindowOpen(); });
        pump([&] { return !dlg.messageWindowOpen(); });
        EXPECT_TRUE(dlg.opened.empty());
        ASSERT_FALSE(texts("report").empty());
        EXPECT_EQ(texts("report").back(), "DECOMPRESS process did not finish");
        const pid_t pid = std::atoi(ReadFile(pidFile).c_str());
        ASSERT_GT(pid, 0);
        EXPECT_NE(::kill(pid, 0), 0) << "the unpacker is gone";
        pump([&] { return entriesOf(folder("SENT")).size() == 1; });
        EXPECT_EQ(receivedCount(), 1) << "the Outbox timer sent meanwhile";
        EXPECT_TRUE(workLeft().empty());
    });
}

TEST_F(MainWindowTest, OpeningKx0AndResendWorkOnAPrivateCopy) {
    const std::string sent = folder("SENT") + "/KX3S.kx0";
    const std::string wave = makeWaveMessage(sent, "Ann", "hello");
    const std::string before = ReadFile(sent);
    RecordingDlg dlg;
    dlg.answer = kKindReply;
    std::vector<std::string> during;
    dlg.whileOpen = [&] { during = workLeft(); };
    runWindow(dlg, [&] {
        selectFolder(dlg, kSentItems);
        pump([&] { return dlg.pane()->model()->rowCount() == 1; });
        selectRow(dlg, 0);
        // Enter opens the selected row; the answer "reply" opens a composer on the same wave.
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(dlg.pane()->list(), &enter);
        pump([&] { return dlg.opened.size() == 2 && dlg.isVisible(); });
        ASSERT_EQ(dlg.opened.size(), 2u);
        EXPECT_EQ(dlg.opened[0].waveContent, wave);
        EXPECT_EQ(dlg.opened[1].subject, "RE:hello");
        EXPECT_EQ(dlg.opened[1].mode, 2);
        EXPECT_EQ(dlg.opened[1].kind, 302);
        ASSERT_EQ(during.size(), 1u);
        struct stat st {};
        ASSERT_EQ(::stat(privateFolder().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        EXPECT_TRUE(workLeft().empty());
        EXPECT_EQ(ReadFile(sent), before);

        dlg.answer = 1;
        dlg.OnCommand(CKorrinDlg::kResend);
        pump([&] { return dlg.opened.size() == 3 && dlg.isVisible(); });
        ASSERT_EQ(dlg.opened.size(), 3u);
        EXPECT_EQ(dlg.opened[2].mode, 2);
        EXPECT_EQ(dlg.opened[2].kind, 306);

        // A file gone since the list was read: "Can't Open File", no message window.
        ::unlink(sent.c_str());
        selectRow(dlg, 0);
        dlg.OnCommand(CKorrinDlg::kResend);
        QApplication::processEvents();
        EXPECT_EQ(dlg.opened.size(), 3u);
        EXPECT_NE(texts().back().find("Can't Open File"), std::string::npos);
    });
}

// Edit > Preferences: SMTP, Outbox, Deleted in this order; the Deleted box stores Empty Deleted.
TEST_F(MainWindowTest, PreferencesSheetHasTheDeletedPageLast) {
    CKorrinDlg dlg;
    runWindow(dlg, [&] {
        auto seen = std::make_shared<bool>(false);
        WhenShown(
            "sheet_Preferences",
            [&](QWidget* w) {
                auto* tabs = GetDlgItemAs<QTabWidget>(w, CPropertySheet::kTabControlId);
                ASSERT_NE(tabs, nullptr);
                ASSERT_EQ(tabs->count(), 3);
                EXPECT_EQ(tabs->tabText(1), "Outbox");
                EXPECT_EQ(tabs->tabText(2), "Deleted");
                tabs->setCurrentIndex(2);
                auto* box = GetDlgItemAs<QCheckBox>(w, CDeletedPage::kEmptyOnExitId);
                ASSERT_NE(box, nullptr);
                EXPECT_EQ(box->text(), "Empty Deleted Folder on Program Exit");
                EXPECT_FALSE(box->isChecked());
                box->click();
                Click(w, IDOK);
            },
            seen);
        dlg.OnCommand(CKorrinDlg::kPreferences);
        EXPECT_TRUE(*seen);
    });
    EXPECT_EQ(CUtils().GetSettingDword(setting::kEmptyDeleted), 1u);
}

// Started on a file: hidden while the message window works on a numbered temporary copy; the
// copy goes afterwards and, with nothing in the Outbox, the program ends.
// A folder holding messages of the old layout (the envelope zipped with the wave): the start-up
// scan has them fixed in the fixing dialog, which closes by itself, and the list shows the
// whole folder. What is current or cannot be fixed keeps its bytes and is listed too.
TEST_F(MainWindowTest, ScanFixesOldMessagesInTheFixingDialogAndListsTheWholeFolder) {
    installUnpacker();
    WriteFile(tools_ + "/pkzip", ReadFile(SourceDir() + "/resources/tools/pkzip"));
    ::chmod((tools_ + "/pkzip").c_str(), 0755);
    const std::string stage = dir_.file("stage");
    ASSERT_EQ(::mkdir(stage.c_str(), 0700), 0);
    std::vector<std::string> old, waves;
    for (int i = 1; i <= 3; ++i) {
        const std::string name = "KX" + std::to_string(i) + "S";
        const std::string wave = stage + "/" + name + ".wav";
        PcmFormat f{8000, 8, 1};
        WriteWave(wave, f, SegmentAudio(f, {{300u * i, std::uint8_t(0x60 + i)}}));
        waves.push_back(ReadFile(wave));
        makeMessage(wave, waves.back(), "To " + std::to_string(i), "Old " + std::to_string(i));
        const std::string zip = stage + "/" + name + ".zip";
        ASSERT_EQ(test::Run({"/usr/bin/zip", "-q", "-j", zip, wave}).exitCode, 0);
        old.push_back(folder("SENT") + "/" + name + ".kx1");
        ASSERT_EQ(::rename(zip.c_str(), old.back().c_str()), 0);
    }
    const std::string current = folder("SENT") + "/KX4S.kx1";
    makeZipMessage(current, "current");
    const std::string damaged = folder("SENT") + "/KX5S.kx1";
    WriteFile(damaged, "not an archive");
    const std::string currentBytes = ReadFile(current);
    const char* shots = std::getenv("KORRIN_SCREENSHOT_DIR");

    CKorrinDlg dlg;
    auto fixShown = std::make_shared<bool>(false);
    WhenShown(
        QStringLiteral("dialog_168"),
        [&](QWidget* w) {
            EXPECT_EQ(w->windowTitle(), "Fixing Old Messages");
            if (shots)
                w->grab().save(QString::fromUtf8(shots) + "/fixing.png");
        },
        fixShown, 30000);
    // Waits without blocking: the fixing dialog's own loop runs under whatever handles the
    // queued call, and a wait nested in it would hold that loop open.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        if (!dlg.isVisible() || !dlg.lists().IsLoaded())
            return;
        poll.stop();
        EXPECT_TRUE(*fixShown);
        EXPECT_EQ(VisibleTopLevelCount(QStringLiteral("dialog_168")), 0) << "closed by itself";
        selectFolder(dlg, kSentItems);
        pump([&] { return dlg.pane()->model()->rowCount() == 5; });
        EXPECT_EQ(dlg.pane()->model()->rowCount(), 5);
        EXPECT_EQ(dlg.pane()->statusLine()->text().toStdString(), StatusLineText(kSentItems, 5));
        // Read again: what cannot be fixed does not bring the dialog back.
        dlg.lists().MarkOutOfDate(kSentItems);
        dlg.lists().Refresh();
        QApplication::processEvents();
        EXPECT_EQ(VisibleTopLevelCount(QStringLiteral("dialog_168")), 0);
        EXPECT_EQ(dlg.pane()->model()->rowCount(), 5);
        dlg.EndDialog(IDCANCEL);
    });
    poll.start(20);
    dlg.SetFileToOpen("");
    dlg.DoModal();
    for (int i = 0; i < 3; ++i) {
        const RunResult show =
            test::Run({BuildDir() + "/korrinctl", "show", old[i]}, {{"KORRIN_MESSAGE_LOG", ""}});
        EXPECT_NE(show.out.find("\"subject\": \"Old " + std::to_string(i + 1) + "\""),
                  std::string::npos)
            << show.out << show.err;
        // The archive before the envelope holds the wave as it was.
        const std::string bytes = ReadFile(old[i]);
        const auto trailer =
            LoadLE32(reinterpret_cast<const std::uint8_t*>(bytes.data()) + bytes.size() - 8);
        const std::string archive = dir_.file("archive.zip");
        WriteFile(archive, bytes.substr(0, bytes.size() - 8 - trailer));
        EXPECT_EQ(test::Run({"/usr/bin/unzip", "-p", archive}).out, waves[i]) << old[i];
    }
    EXPECT_EQ(ReadFile(current), currentBytes);
    EXPECT_EQ(ReadFile(damaged), "not an archive");
    const auto reports = texts("report");
    EXPECT_EQ(std::count_if(reports.begin(), reports.end(),
                            [](const std::string& t) { return t.rfind("Cannot fix", 0) == 0; }),
              1)
        << "the damaged file is named once";
}

TEST_F(MainWindowTest, StartedOnAFileWorksOnACopyAndEnds) {
    const std::string original = dir_.file("my message.kx0");
    const std::string wave = makeWaveMessage(original, "Ann", "hi");
    const std::string before = ReadFile(original);
    for (int run = 1; run <= 2; ++run) {
        RecordingDlg dlg;
        dlg.SetFileToOpen(original);
        std::string copy;
        dlg.whileOpen = [&] {
            EXPECT_FALSE(dlg.isVisible());
            copy = dlg.fileToOpen();
            EXPECT_EQ(ReadFile(copy), before);
        };
        EXPECT_EQ(dlg.DoModal(), IDOK);
        ASSERT_EQ(dlg.opened.size(), 1u);
        EXPECT_EQ(dlg.opened[0].waveContent, wave);
        EXPECT_EQ(copy, tmp_ + "/" + dlg.fileName());
        EXPECT_FALSE(FileExists(copy)) << "the start-up copy is removed";
        EXPECT_FALSE(dlg.userFile());
    }
    EXPECT_EQ(ReadFile(original), before);

    // A file that cannot be read: "Can't Open File", no message window on nothing, the end.
    RecordingDlg dlg;
    dlg.SetFileToOpen(dir_.file("gone.kx1"));
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_TRUE(dlg.opened.empty());
    const auto reports = texts("report");
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports[0], "CopyFile failed");
    EXPECT_EQ(texts()[0].rfind("Can't Open File", 0), 0u);
}

TEST_F(MainWindowTest, LeftoversOfAKilledRunGoButHeldFoldersStay) {
    ASSERT_EQ(::mkdir(privateFolder().c_str(), 0700), 0);
    const std::string old = privateFolder() + "/7";
    const std::string held = privateFolder() + "/8";
    ASSERT_EQ(::mkdir(old.c_str(), 0700), 0);
    WriteFile(old + "/file.zip", "x");
    ASSERT_EQ(::symlink(install().c_str(), (old + "/link").c_str()), 0);
    ASSERT_EQ(::mkdir(held.c_str(), 0700), 0);
    WorkFolderLock lock;
    ASSERT_TRUE(lock.Take(held));
    for (const std::string& d : {old, held}) {  // made long ago
        struct timespec times[2] = {{1000, 0}, {1000, 0}};
        ::utimensat(AT_FDCWD, d.c_str(), times, 0);
    }
    EXPECT_EQ(RemoveAbandonedWorkFolders(), 1);
    EXPECT_FALSE(DirectoryExists(old));
    EXPECT_TRUE(DirectoryExists(held));
    EXPECT_TRUE(DirectoryExists(install())) << "a link is removed, not followed";
}

// Drafts a killed run left behind, through the real composer: each is offered once at the next
// start. Yes resumes the first with its recording and envelope, and its Send files it; No moves
// the second to Deleted Items; a draft another program holds is not offered; the start after
// asks nothing.
TEST_F(MainWindowTest, DraftsLeftByAKilledRunAreOfferedOnce) {
    setSettings(1);
    const PcmFormat pcm{1, 8000, 8};
    const std::string wave = dir_.file("draft.wav");
    WriteWave(wave, pcm, SegmentAudio(pcm, {{2000, 0xa0}}));
    std::vector<std::string> left;
    for (const char* subject : {"First draft", "Second draft"}) {
        CDraft draft;  // its lock goes with it, as a killed program's does
        ASSERT_EQ(draft.Create(), 0);
        ASSERT_EQ(draft.ReplaceFromFile(wave, {"bob@example.org", "cy@example.org", "", subject,
                                               "line one\nline two"}),
                  0);
        left.push_back(draft.path());
    }
    CDraft held;  // a draft of a composer still running elsewhere
    ASSERT_EQ(held.Create(), 0);
    ASSERT_EQ(held.ReplaceFromFile(wave, {"eve@example.org", "", "", "Held", ""}), 0);
    ASSERT_EQ(ListOrphanDrafts(), left);

    ScopedEnv answers{"KORRIN_MESSAGE_ANSWERS", "Yes,No"};
    bool composed = false;
    WhenShown(QStringLiteral("dialog_130"), [&](QWidget* w) {
        auto* p = static_cast<CPlayer*>(w);
        composed = true;
        EXPECT_EQ(p->draftPath(), left[0]) << "the composer keeps the draft it resumed";
        EXPECT_TRUE(p->changed());
        EXPECT_EQ(GetDlgItemText(p, CPlayer::kToId), "bob@example.org");
        EXPECT_EQ(GetDlgItemText(p, CPlayer::kCcId), "cy@example.org");
        EXPECT_EQ(GetDlgItemText(p, CPlayer::kSubjectId), "First draft");
        EXPECT_EQ(GetDlgItemText(p, CPlayer::kMemoId), "line one\nline two");
        EXPECT_EQ(GetDlgItemText(p, CPlayer::kLengthId), "2.00 sec");
        p->OnCommand(CPlayer::kSend);
    });
    RecordingDlg dlg;
    runWindow(dlg, [&] {
        pump([&] { return ListOrphanDrafts().empty() && !dlg.messageWindowOpen(); });
        EXPECT_TRUE(dlg.isVisible());
    });
    ASSERT_TRUE(composed);
    EXPECT_TRUE(dlg.opened.empty()) << "the real composer ran";

    const auto offers = texts();
    ASSERT_EQ(offers.size(), 2u);
    EXPECT_NE(offers[0].find("\"First draft\"\nTo: bob@example.org"), std::string::npos)
        << offers[0];
    EXPECT_NE(offers[1].find("Second draft"), std::string::npos);
    std::vector<std::string> kx0, kx1;
    ASSERT_EQ(FindMessageFiles(kOutbox, &kx0, &kx1), 0);
    ASSERT_EQ(kx0.size(), 1u);
    CMessageTrailer sent;
    ASSERT_EQ(sent.ReadForSending(kx0[0], true, false), 0);
    EXPECT_EQ(sent.subject, "First draft");
    EXPECT_EQ(sent.ccAddresses, "cy@example.org");
    ASSERT_EQ(FindMessageFiles(kDeletedItems, &kx0, &kx1), 0);
    ASSERT_EQ(kx0.size(), 1u);
    EXPECT_FALSE(FileExists(left[0]));
    EXPECT_FALSE(FileExists(left[1]));
    CMessageTrailer dropped;
    ASSERT_EQ(dropped.ReadForSending(kx0[0], true, false), 0);
    EXPECT_EQ(dropped.subject, "Second draft");
    EXPECT_EQ(entriesOf(folder("DRAFTS")).size(), 2u) << "the held draft and its lock";
    EXPECT_TRUE(FileExists(held.path()));

    // The next start: nothing is offered again.
    ::unlink(logPath().c_str());
    RecordingDlg again;
    runWindow(again, [&] { pump([] { return false; }, 300); });
    EXPECT_EQ(texts(), std::vector<std::string>{});
}

TEST_F(MainWindowTest, ClosingAndEmptyDeleted) {
    // An empty Outbox ends at once, and Empty Deleted empties only message files.
    makeMessage(folder("DELETED") + "/KX1D.kx1", "PK", "A", "a");
    WriteFile(folder("DELETED") + "/notes.txt", "mine");
    ASSERT_EQ(CUtils().SetRegistryDword(kKorrinKey, setting::kEmptyDeleted, 1), 1);
    {
        CKorrinDlg dlg;
        runWindow(dlg, [&] { dlg.OnCommand(CKorrinDlg::kClose); });
        EXPECT_TRUE(texts().empty());
    }
    EXPECT_EQ(entriesOf(folder("DELETED")), std::vector<std::string>{"notes.txt"});

    // Outbox not empty: asked; Yes sends now and keeps the window; during the session Close
    // asks to stop, Yes keeps the window until the session ended; then it ends.
    startServer();
    for (int i = 0; i < 3; ++i)
        makeEnvelope(folder("OUTBOX") + "/KX" + std::to_string(20 + i) + "O.kx0",
                     payload(200000, i), "to@there.test", "", "s", "n");
    CKorrinDlg dlg;
    int result = -1;
    runWindow(dlg, [&] {
        ScopedEnv yes("KORRIN_MESSAGE_ANSWERS", "Yes");
        dlg.OnCommand(CKorrinDlg::kClose);
        EXPECT_TRUE(dlg.isRunning());
        ASSERT_TRUE(dlg.transmitWindow()->session().IsTransmitting());
        EXPECT_TRUE(dlg.animation()->isVisible());
        ScopedEnv yesOk("KORRIN_MESSAGE_ANSWERS", "Yes,OK");
        dlg.OnCommand(CKorrinDlg::kClose);
        EXPECT_TRUE(dlg.isRunning());
        EXPECT_TRUE(dlg.transmitWindow()->session().StopRequested());
        pump([&] { return !dlg.transmitWindow()->session().IsTransmitting(); });
        EXPECT_FALSE(dlg.animation()->isVisible());
        EXPECT_EQ(entriesOf(folder("SENT")).size(), 1u) << "ended after the current message";
        ScopedEnv no("KORRIN_MESSAGE_ANSWERS", "No");
        dlg.OnCommand(CKorrinDlg::kClose);
        result = dlg.isRunning() ? 0 : 1;
    });
    EXPECT_EQ(result, 1);
}

// An out-of-date folder shows what is known at once; the reread runs off the window's thread
// and the list follows when it is done, without rereading again for that show.
TEST_F(MainWindowTest, AnOutOfDateFolderIsShownAtOnceAndRefreshedWhenRead) {
    makeMessage(folder("SENT") + "/KX1S.kx0", "RIFF", "Ann", "one");
    makeMessage(folder("SENT") + "/KX2S.kx0", "RIFF", "Bob", "two");
    CKorrinDlg dlg;
    runWindow(dlg, [&] {
        selectFolder(dlg, kSentItems);
        pump([&] { return dlg.pane()->model()->rowCount() == 2; });
        ASSERT_EQ(dlg.pane()->model()->rowCount(), 2);
        // Another program adds a message; the folder is marked and shown again.
        makeMessage(folder("SENT") + "/KX3S.kx0", "RIFF", "Cy", "three");
        dlg.lists().MarkOutOfDate(kSentItems);
        selectFolder(dlg, kOutbox);
        selectFolder(dlg, kSentItems);
        EXPECT_EQ(dlg.pane()->model()->rowCount(), 2) << "the disk was read on the window's thread";
        pump([&] { return dlg.pane()->model()->rowCount() == 3; });
        EXPECT_EQ(dlg.pane()->model()->rowCount(), 3);
        EXPECT_EQ(dlg.pane()->statusLine()->text().toStdString(), StatusLineText(kSentItems, 3));
        EXPECT_FALSE(dlg.lists().IsOutOfDate(kSentItems));
    });
}

// While a session sends, Move, a drag and Delete out of the Outbox get Delete's question and
// move nothing, whatever the answer; Yes asks the session to stop.
TEST_F(MainWindowTest, NothingLeavesTheOutboxWhileASessionSends) {
    startServer();
    enum Way { kMoveCommand, kDrag, kDeleteCommand };
    const struct {
        Way way;
        const char* answers;
        bool stop;
    } cases[] = {
        // Answers alternate: the seam starts a list afresh only when its text changes.
        {kMoveCommand, "No", false},   {kMoveCommand, "Yes,OK", true},
        {kDrag, "No", false},          {kDrag, "Yes,OK", true},
        {kDeleteCommand, "No", false}, {kDeleteCommand, "Yes,OK", true},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(n);
        for (int i = 0; i < 2; ++i)
            makeEnvelope(folder("OUTBOX") + "/KX" + std::to_string(50 + 10 * n + i) + "O.kx0",
                         payload(300000, i), "to@there.test", "", "s", "n");
        ++n;
        CKorrinDlg dlg;
        int moveDialogs = 0;
        runWindow(dlg, [&] {
            selectFolder(dlg, kOutbox);
            pump([&] { return dlg.pane()->model()->rowCount() == 2; });
            selectRow(dlg, 0);
            const std::string chosen = dlg.pane()->model()->Entry(0)->path;
            // A Move dialog that shows is counted and cancelled, so the test never hangs on it.
            QTimer watch;
            QObject::connect(&watch, &QTimer::timeout, [&] {
                for (QWidget* w : QApplication::topLevelWidgets())
                    if (w->isVisible() && w->objectName() == "dialog_175") {
                        ++moveDialogs;
                        Click(w, IDCANCEL);
                    }
            });
            watch.start(20);
            ScopedEnv answers("KORRIN_MESSAGE_ANSWERS", c.answers);
            const size_t before = texts().size();
            dlg.OnCommand(CKorrinDlg::kEmptyOutboxNow);
            ASSERT_TRUE(dlg.transmitWindow()->session().IsTransmitting());
            if (c.way == kMoveCommand) {
                dlg.OnCommand(CKorrinDlg::kMove);
            } else if (c.way == kDeleteCommand) {
                dlg.OnCommand(CKorrinDlg::kDelete);
            } else {
                QWidget* viewport = dlg.pane()->list()->viewport();
                const QRect row = dlg.pane()->list()->visualRect(dlg.pane()->model()->index(0, 1));
                CFolderTree* tree = dlg.pane()->tree();
                const QPoint target = viewport->mapFromGlobal(tree->viewport()->mapToGlobal(
                    tree->visualItemRect(tree->FolderItem(kDeletedItems)).center()));
                auto mouse = [&](QEvent::Type type, QPoint local, Qt::MouseButtons buttons) {
                    QMouseEvent e(type, local, viewport->mapToGlobal(local),
                                  type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                                  buttons, Qt::NoModifier);
                    QApplication::sendEvent(viewport, &e);
                };
                mouse(QEvent::MouseButtonPress, row.center(), Qt::LeftButton);
                mouse(QEvent::MouseMove, row.center() + QPoint(30, 0), Qt::LeftButton);
                mouse(QEvent::MouseMove, target, Qt::LeftButton);
                mouse(QEvent::MouseButtonRelease, target, Qt::NoButton);
            }
            const auto asked = texts();
            ASSERT_GT(asked.size(), before);
            EXPECT_EQ(asked[before].rfind("Quillion EMail for Windows is currently transmiting", 0),
                      0u);
            EXPECT_EQ(dlg.transmitWindow()->session().StopRequested(), c.stop);
            pump([&] { return !dlg.transmitWindow()->session().IsTransmitting(); }, 30000);
            EXPECT_TRUE(entriesOf(folder("DELETED")).empty());
            EXPECT_TRUE(FileExists(chosen) || entriesOf(folder("SENT")).size() > 0)
                << "the chosen message is in the Outbox or was sent";
        });
        EXPECT_EQ(moveDialogs, 0);
        // What is left goes out before the next case.
        for (const auto& name : entriesOf(folder("OUTBOX")))
            ::unlink((folder("OUTBOX") + "/" + name).c_str());
    }
}

// Mixer: the tools folder's sndvol32 starts in the tools folder and is collected when it ends
// (no zombie); with no mixer anywhere the stop box says so.
TEST_F(MainWindowTest, MixerStartsTheToolsFoldersVolumeControlOrSaysItCannot) {
    const std::string ran = dir_.file("mixer-ran");
    const struct {
        bool installed;
        bool box;
    } cases[] = {{true, false}, {false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.installed);
        const std::string mixer = tools_ + "/sndvol32";
        ::unlink(mixer.c_str());
        if (c.installed) {
            WriteFile(mixer, "#!/bin/sh\n(echo $$; pwd) > '" + ran + ".tmp'\nmv '" + ran +
                                 ".tmp' '" + ran + "'\n");
            ::chmod(mixer.c_str(), 0755);
        }
        ScopedEnv path("PATH", c.installed ? std::string("/usr/bin:/bin") : dir_.file("nowhere"));
        CKorrinDlg dlg;
        runWindow(dlg, [&] {
            const size_t before = texts("report").size() + texts().size();
            dlg.OnCommand(CKorrinDlg::kMixer);
            const size_t after = texts("report").size() + texts().size();
            EXPECT_EQ(after > before, c.box);
        });
        if (!c.installed)
            continue;
        pump([&] { return FileExists(ran); });
        const auto lines = ReadLines(ran);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[1], tools_);
        const std::string proc = "/proc/" + lines[0];
        pump([&] { return !FileExists(proc + "/stat"); }, 5000);
        EXPECT_FALSE(FileExists(proc + "/stat"))
            << "left as a zombie: " << ReadFile(proc + "/stat");
    }
}

// The whole road of a message: an empty install folder; New, Record from spoken words, the
// envelope, Send through the window; the Outbox timer (a minute of 300 ms) sends it zipped to a
// real SMTP server; the row shows in Sent Items. The received attachment then opens in the
// window and plays for its length; the private folder is empty afterwards.
TEST_F(MainWindowTest, ComposedSentReceivedAndPlayedBack) {
    for (const char* name : {"OUTBOX", "SENT", "DELETED"})
        ASSERT_EQ(::rmdir(folder(name).c_str()), 0);
    startServer();
    ASSERT_EQ(CUtils().SetRegistryDword(kKorrinKey, setting::kCompression, 2), 1);
    ASSERT_EQ(CUtils().SetRegistryDword(kKorrinKey, setting::kQuality, 2), 1);
    ASSERT_EQ(CUtils().SetRegistryDword(kKorrinKey, setting::kOutBoxMinutes, 1), 1);
    installUnpacker();
    WriteFile(tools_ + "/pkzip", ReadFile(SourceDir() + "/resources/tools/pkzip"));
    ::chmod((tools_ + "/pkzip").c_str(), 0755);
    const std::string voice = dir_.file("voice.wav");
    ASSERT_EQ(test::Run({"/usr/bin/espeak-ng", "-w", voice,
                         "A voice message on its whole way, from the microphone to the ear."})
                  .exitCode,
              0);
    ScopedEnv capture("KORRIN_AUDIO_CAPTURE", voice);
    ScopedEnv answers("KORRIN_MESSAGE_ANSWERS", "");

    double recorded = 0;
    CKorrinDlg dlg;
    runWindow(dlg, [&] {
        CTransmitDlg& session = dlg.transmitWindow()->session();
        session.SetMinuteMilliseconds(300);
        session.StartOutboxTimer();
        WhenShown(QStringLiteral("dialog_130"), [&](QWidget* w) {
            auto* p = dynamic_cast<CPlayer*>(w);
            ASSERT_NE(p, nullptr);
            Click(p, CPlayer::kRecordId);
            pump([] { return false; }, 2500);
            Click(p, CPlayer::kStopId);
            recorded =
                GetDlgItemText(p, CPlayer::kLengthId).section(QLatin1Char(' '), 0, 0).toDouble();
            GetDlgItemAs<QLineEdit>(p, CPlayer::kToId)->insert("ann@example.org");
            GetDlgItemAs<QLineEdit>(p, CPlayer::kSubjectId)->insert("All the way");
            p->OnCommand(CPlayer::kSend);
        });
        dlg.OnCommand(CKorrinDlg::kNew);
        pump([&] { return entriesOf(folder("SENT")).size() == 1; }, 30000);
        ASSERT_EQ(entriesOf(folder("SENT")).size(), 1u);
        std::vector<std::string> kx0, kx1;
        FindMessageFiles(kOutbox, &kx0, &kx1);
        EXPECT_TRUE(kx0.empty() && kx1.empty());
        // A row read while the worker still held the file is read again at the next show.
        pump([&] {
            selectFolder(dlg, kOutbox);
            selectFolder(dlg, kSentItems);
            pump([] { return false; }, 100);
            const MessageEntry* e = dlg.pane()->model()->Entry(0);
            return e && !e->busy;
        });
        ASSERT_EQ(dlg.pane()->model()->rowCount(), 1);
        EXPECT_EQ(dlg.pane()->model()->Entry(0)->subject, "All the way");
        EXPECT_NE(dlg.pane()->model()->Entry(0)->path.find(".kx1"), std::string::npos);

        // The attachment the server received, opened as a file handed to the program.
        const std::string received = dir_.file("received.kx1");
        ASSERT_EQ(test::Run({"/usr/bin/python3", "-c",
                             "import email,sys\n"
                             "m=email.message_from_binary_file(open(sys.argv[1],'rb'))\n"
                             "for p in m.walk():\n"
                             "    if (p.get_filename() or '').lower().endswith('.kx1'):\n"
                             "        open(sys.argv[2],'wb').write(p.get_payload(decode=True))\n",
                             mailFile(1, ".eml"), received})
                      .exitCode,
                  0);
        ASSERT_TRUE(FileExists(received));
        double length = 0;
        qint64 played = 0;
        WhenShown(QStringLiteral("dialog_130"), [&](QWidget* w) {
            auto* p = dynamic_cast<CPlayer*>(w);
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(GetDlgItemText(p, CPlayer::kSubjectId), "All the way");
            length =
                GetDlgItemText(p, CPlayer::kLengthId).section(QLatin1Char(' '), 0, 0).toDouble();
            QElapsedTimer clock;
            clock.start();
            Click(p, CPlayer::kPlayId);
            EXPECT_EQ(p->state(), kPlaying);
            // The window stays in its playing state at the end; the position tells.
            pump([&] { return p->length() > 0 && p->position() >= p->length(); }, 20000);
            played = clock.elapsed();
            Click(p, CPlayer::kStopId);
            p->EndDialog(IDCANCEL);
        });
        dlg.OpenHandedOver(received);
        pump([&] { return !dlg.messageWindowOpen() && length > 0; });
        EXPECT_GT(length, 1.5);
        EXPECT_NEAR(played / 1000.0, length, 0.5) << "played for its length";
    });
    EXPECT_GT(recorded, 0);
    EXPECT_TRUE(workLeft().empty());
    EXPECT_EQ(texts("report"), std::vector<std::string>{});
}

}  // namespace
