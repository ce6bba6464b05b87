// The message list, the folder tree and the "New Version Available" notice, offscreen.
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>

#include <thread>

#include "helpers/GuiSupport.h"
#include "korrin/ui/MessageList.h"
#include "korrin/ui/NewVersionDlg.h"
#include "korrin/ui/TrailerEdit.h"
#include "platform/Endian.h"
#include "unit/store/StoreFixture.h"

namespace korrin {
namespace {

using namespace test;

MessageEntry entry(const std::string& to, const std::string& subject, std::uint32_t size) {
    MessageEntry e;
    e.path = "/m/" + subject;
    e.toNames = to;
    e.subject = subject;
    e.sentText = "Tue 3/2/1999 4:05 PM";
    e.size = size;
    return e;
}

class StoreGuiTest : public StoreTest {
  protected:
    void waitFor(const std::function<bool()>& done) {
        for (int i = 0; i < 500 && !done(); ++i) {
            QApplication::processEvents(QEventLoop::AllEvents, 10);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
};

TEST_F(StoreGuiTest, ListHasFourColumnsAndKeepsItsOrder) {
    CMessageListModel model;
    CMessageListView view;
    view.setModel(&model);
    model.SetRows({entry("Bob", "b", 1499), entry("Ann", "a", 1500), entry("Cy", "c", 400)});
    ASSERT_EQ(platform::GetDlgItem(&view, 0), nullptr);
    EXPECT_EQ(platform::ControlId(&view), 1046);
    const char* headers[] = {"From", "Subject", "Sent", "Size"};
    const int widths[] = {107, 155, 145, 37};
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(model.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(), headers[c]);
        EXPECT_EQ(view.columnWidth(c), widths[c]);
    }
    EXPECT_EQ(model.data(model.index(0, 0), Qt::DisplayRole).toString(), "Bob");
    EXPECT_EQ(model.data(model.index(0, 3), Qt::DisplayRole).toString(), "1K");
    EXPECT_EQ(model.data(model.index(1, 3), Qt::DisplayRole).toString(), "2K");
    EXPECT_EQ(model.data(model.index(2, 3), Qt::DisplayRole).toString(), "0K");
    EXPECT_EQ(model.data(model.index(1, 2), Qt::DisplayRole).toString(), "Tue 3/2/1999 4:05 PM");
    EXPECT_EQ(model.data(model.index(2, 1), Qt::UserRole).toString(), "/m/c");
    EXPECT_TRUE(model.data(model.index(0, 1), Qt::TextAlignmentRole).value<Qt::Alignment>() &
                Qt::AlignLeft);

    view.show();
    const QPointF at(view.header()->sectionPosition(0) + 10, 5);
    for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent click(type, at, view.header()->viewport()->mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                          Qt::NoModifier);
        QApplication::sendEvent(view.header()->viewport(), &click);
    }
    EXPECT_EQ(model.data(view.model()->index(0, 0), Qt::DisplayRole).toString(), "Bob");
    EXPECT_FALSE(view.isSortingEnabled());
}

TEST_F(StoreGuiTest, SelectedEntryIsTheSelectedAndFocusedRow) {
    CMessageListModel model;
    CMessageListView view;
    view.setModel(&model);
    model.SetRows({entry("A", "a", 1), entry("B", "b", 2), entry("C", "c", 3)});
    EXPECT_EQ(view.SelectedEntry(), -1);
    view.selectionModel()->setCurrentIndex(
        model.index(1, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    EXPECT_EQ(view.SelectedEntry(), 1);
    // Focused but not selected, and selected but not focused.
    view.selectionModel()->setCurrentIndex(model.index(2, 0), QItemSelectionModel::NoUpdate);
    EXPECT_EQ(view.SelectedEntry(), -1);
}

TEST_F(StoreGuiTest, FolderTreeHoldsTheThreeFolders) {
    CFolderTree tree;
    EXPECT_EQ(platform::ControlId(&tree), 1045);
    ASSERT_EQ(tree.topLevelItemCount(), 1);
    QTreeWidgetItem* root = tree.topLevelItem(0);
    EXPECT_EQ(root->text(0), "Quillion EMail");
    EXPECT_TRUE(root->isExpanded());
    ASSERT_EQ(root->childCount(), 3);
    const char* labels[] = {"Sent Items", "Outbox", "Deleted Items"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(root->child(i)->text(0), labels[i]);
        EXPECT_EQ(root->child(i)->data(0, Qt::UserRole).toInt(), i + 1);
    }
}

TEST_F(StoreGuiTest, PaneShowsTheSelectedFolderOnceScanned) {
    makeFolder("OUTBOX");
    makeMessage(folder("OUTBOX") + "/KX1O.kx0", std::string(2000, 'w'), "Bob", "older",
                utcTime(2001, 1, 1, 0, 0));
    makeMessage(folder("OUTBOX") + "/KX2O.kx0", "w", "Ann", "newer", utcTime(2002, 1, 1, 0, 0));
    CFolderLists lists;
    CFolderPane pane(lists);
    pane.show();
    auto* status = platform::GetDlgItemAs<QLineEdit>(&pane, 1047);
    ASSERT_NE(status, nullptr);

    // Before the start-up scan: a beep and nothing else.
    pane.tree()->setCurrentItem(pane.tree()->FolderItem(kOutbox));
    EXPECT_EQ(pane.beeps(), 1);
    EXPECT_EQ(pane.model()->rowCount(), 0);

    lists.StartScan();
    lists.WaitForScan();
    pane.tree()->setCurrentItem(pane.tree()->FolderItem(kSentItems));
    EXPECT_EQ(status->text(), "SENT - 0 Quillion EMail for Windows(tm) Messages");
    pane.tree()->setCurrentItem(pane.tree()->FolderItem(kOutbox));
    EXPECT_EQ(lists.CurrentFolder(), kOutbox);
    ASSERT_EQ(pane.model()->rowCount(), 2);
    EXPECT_EQ(pane.model()->Entry(0)->subject, "newer");
    EXPECT_EQ(status->text(), "OUTBOX - 2 Quillion EMail for Windows(tm) Messages");

    // The root: folder 0, the list stays.
    pane.tree()->setCurrentItem(pane.tree()->topLevelItem(0));
    EXPECT_EQ(lists.CurrentFolder(), 0);
    EXPECT_EQ(pane.model()->rowCount(), 2);

    // A change made by the worker thread is shown on the window's thread.
    pane.tree()->setCurrentItem(pane.tree()->FolderItem(kOutbox));
    std::thread worker([&] {
        ASSERT_EQ(MoveMessage(folder("OUTBOX") + "/KX2O.kx0", kDeletedItems, kOutbox, &lists), 0);
    });
    worker.join();
    waitFor([&] { return pane.model()->rowCount() == 1; });
    EXPECT_EQ(pane.model()->rowCount(), 1);
    EXPECT_EQ(status->text(), "OUTBOX - 1 Quillion EMail for Windows(tm) Messages");
    EXPECT_TRUE(reports().empty());
}

TEST_F(StoreGuiTest, NoticeContinuesByDefaultAndAborts) {
    {
        CNewVersionDlg dlg(4);
        WhenShown("dialog_177", [](QWidget* w) {
            EXPECT_FALSE(platform::GetDlgItemAs<QCheckBox>(w, 1091)->isChecked());
            EXPECT_NE(platform::GetDlgItemText(w, 1090).indexOf("more recent than the one"), -1);
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QApplication::sendEvent(w, &press);
        });
        EXPECT_EQ(dlg.DoModal(), platform::IDCONTINUE);
    }
    CNewVersionDlg dlg(4);
    WhenShown("dialog_177", [](QWidget* w) { Click(w, platform::IDABORT); });
    EXPECT_EQ(dlg.DoModal(), platform::IDABORT);
}

TEST_F(StoreGuiTest, TickedNoticeWritesTheRevision) {
    ScopedEnv noScript("KORRIN_MESSAGE_ANSWERS", std::nullopt);
    const std::string path = dir_.file("m.kx0");
    CMessageTrailer t;
    t.subject = "newer layout";
    auto bytes = t.Serialize();
    platform::StoreLE32(bytes.data() + bytes.size() - 4, 5);
    WriteFile(path, std::string(bytes.begin(), bytes.end()));
    InstallNewVersionWindow();
    auto seen = std::make_shared<bool>(false);
    WhenShown(
        "dialog_177",
        [](QWidget* w) {
            Click(w, 1091);
            Click(w, platform::IDCONTINUE);
        },
        seen);
    CMessageTrailer r;
    EXPECT_EQ(r.ReadForList(path), trailer::kRead);
    InstallNewVersionNotice(nullptr);
    EXPECT_TRUE(*seen);
    EXPECT_EQ(r.subject, "newer layout");
    DWORD stored = 0;
    ASSERT_EQ(CUtils().GetRegistryDword(kKorrinKey, setting::kRevision, stored), 1);
    EXPECT_EQ(stored, 5u);
}

TEST_F(StoreGuiTest, SubjectAndNoteComeFromTheComposerBoxes) {
    QWidget composer;
    auto* subject = new QLineEdit(QString::fromUtf8("Caf\u00e9 plans"), &composer);
    platform::SetControlId(subject, 1001);
    auto* memo = new QPlainTextEdit(QStringLiteral("first\nsecond"), &composer);
    platform::SetControlId(memo, 1002);
    CMessageTrailer t;
    SetSubjectFromDlgItem(t, &composer, 1001);
    SetNoteFromDlgItem(t, &composer, 1002);
    EXPECT_EQ(t.subject, "Caf\xE9 plans");
    EXPECT_EQ(t.note, NoteBanner() + "first\r\nsecond");
    EXPECT_EQ(t.bannerLength, NoteBanner().size());
}

}  // namespace
}  // namespace korrin
