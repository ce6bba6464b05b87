// Dialogs that go away while they run, and controls found by number only inside their own
// window.
#include <QDialog>
#include <QGroupBox>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include "helpers/AppFixture.h"
#include "platform/ui/Dialog.h"

using namespace korrin::platform;

namespace {

using DialogLifetime = korrin::test::AppTest;

TEST_F(DialogLifetime, DeletedInsideItsOwnLoopReturnsWithoutTouchingIt) {
    // Deleted outright: Cancel.
    auto* dlg = new CDialog(900);
    QTimer::singleShot(20, [dlg] { delete dlg; });
    EXPECT_EQ(dlg->DoModal(), IDCANCEL);

    // Ended, then deleted before the loop returned: the result it was ended with.
    dlg = new CDialog(901);
    QTimer::singleShot(20, [dlg] {
        dlg->EndDialog(IDOK);
        delete dlg;
    });
    EXPECT_EQ(dlg->DoModal(), IDOK);

    // Its parent window closed and deleted under it.
    auto* owner = new QWidget;
    dlg = new CDialog(902, owner);
    QPointer<CDialog> watch(dlg);
    QTimer::singleShot(20, [owner] { delete owner; });
    EXPECT_EQ(dlg->DoModal(), IDCANCEL);
    EXPECT_TRUE(watch.isNull());
}

TEST_F(DialogLifetime, ControlsAreFoundOnlyInsideTheirOwnWindow) {
    QDialog window;
    // Made before the window's own controls, so a search of all descendants meets them first.
    QMessageBox box(QMessageBox::Question, "c", "Send them now?", QMessageBox::NoButton, &window);
    SetControlId(box.addButton(QMessageBox::Yes), IDOK);
    SetControlId(box.addButton(QMessageBox::No), 1007);
    CDialog child(905, &window);
    auto* childEdit = new QPushButton(&child);
    SetControlId(childEdit, 1022);

    auto* group = new QGroupBox(&window);
    auto* ok = new QPushButton(group);
    SetControlId(ok, IDOK);
    auto* edit = new QPushButton(&window);
    SetControlId(edit, 1022);

    EXPECT_EQ(GetDlgItem(&window, IDOK), ok) << "found inside a group of the window";
    EXPECT_EQ(GetDlgItem(&window, 1022), edit);
    EXPECT_EQ(GetDlgItem(&window, 1007), nullptr) << "a box's button is not the window's";
    EXPECT_EQ(GetDlgItem(&child, 1022), childEdit);
    EXPECT_EQ(GetDlgItem(&box, 1007)->parentWidget()->window(), &box);
    EXPECT_TRUE(SetDlgItemText(&window, 1022, QStringLiteral("Send")));
    EXPECT_EQ(childEdit->text(), QString());
}

}  // namespace
