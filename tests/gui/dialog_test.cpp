// What the windows are written against: timers by id, private messages from any thread, and
// a dialog that decides in its initialisation whether it is seen at all.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>

#include <thread>
#include <vector>

#include "helpers/GuiSupport.h"
#include "platform/ui/Dialog.h"

using namespace korrin::platform;

namespace {

class Probe : public CDialog {
  public:
    Probe() : CDialog(999) {}
    std::vector<int> ticks;
    std::vector<std::pair<unsigned, WPARAM>> messages;
    std::function<void(Probe&)> onInit;
    bool visibleWhenFirstMessageCame = true;

    using CDialog::OnTimer;

  protected:
    bool OnInitDialog() override {
        if (onInit)
            onInit(*this);
        return true;
    }
    void OnTimer(int id) override { ticks.push_back(id); }
    LRESULT OnMessage(unsigned msg, WPARAM w, LPARAM l) override {
        if (messages.empty())
            visibleWhenFirstMessageCame = isVisible();
        messages.emplace_back(msg, w);
        return static_cast<LRESULT>(w) + l;
    }
};

TEST(DialogTimers, FireWithTheirIdUntilKilled) {
    Probe dlg;
    dlg.onInit = [](Probe& d) {
        d.SetTimer(4, 10);
        d.SetTimer(5, 15);
        d.SetTimer(5, 15);  // setting an id again does not make a second timer
    };
    QTimer::singleShot(200, &dlg, [&] {
        dlg.KillTimer(4);
        QTimer::singleShot(100, &dlg, [&] {
            // Timer 4 fell silent, timer 5 went on.
            const auto fours = std::count(dlg.ticks.begin(), dlg.ticks.end(), 4);
            const auto fives = std::count(dlg.ticks.begin(), dlg.ticks.end(), 5);
            dlg.ticks.clear();
            QTimer::singleShot(100, &dlg, [&, fours, fives] {
                EXPECT_GT(fours, 2);
                EXPECT_GT(fives, 2);
                // A doubled timer 5 would tick about twice as often as the faster timer 4 when
                // the machine is busy, and a third more when it is not; a single one keeps
                // below it, or level with it when both fire late.
                EXPECT_LT(fives, fours + 4);
                EXPECT_EQ(std::count(dlg.ticks.begin(), dlg.ticks.end(), 4), 0);
                EXPECT_GT(std::count(dlg.ticks.begin(), dlg.ticks.end(), 5), 2);
                dlg.EndDialog(IDOK);
            });
        });
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
}

TEST(DialogMessages, PostedFromWorkersArriveInOrderOnTheWindowsThread) {
    Probe dlg;
    std::thread::id handledOn;
    std::thread worker;
    dlg.onInit = [&](Probe& d) {
        d.ShowWindow(false);  // stays hidden while it runs, as the main window on a file
        worker = std::thread([&d] {
            for (WPARAM i = 0; i < 50; ++i)
                PostMessage(&d, WM_USER + 300, i, 0);
            EXPECT_EQ(SendMessage(&d, WM_USER + 303, 40, 2), 42);
            PostMessage(&d, WM_USER + 1, 0, 0);
        });
    };
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!dlg.messages.empty() && dlg.messages.back().first == WM_USER + 1) {
            handledOn = std::this_thread::get_id();
            dlg.EndDialog(IDCANCEL);
        }
    });
    poll.start(5);
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    worker.join();
    EXPECT_EQ(handledOn, std::this_thread::get_id());
    EXPECT_FALSE(dlg.visibleWhenFirstMessageCame);
    ASSERT_EQ(dlg.messages.size(), 52u);
    for (WPARAM i = 0; i < 50; ++i)
        EXPECT_EQ(dlg.messages[i], std::make_pair(WM_USER + 300, i));
    EXPECT_EQ(dlg.messages[50].first, WM_USER + 303);
}

TEST(DialogRun, EndingInInitialisationNeverShowsTheWindow) {
    Probe dlg;
    bool shown = false;
    dlg.onInit = [&](Probe& d) {
        d.EndDialog(7);
        shown = d.isVisible();
    };
    EXPECT_EQ(dlg.DoModal(), 7);
    EXPECT_FALSE(shown);
    EXPECT_FALSE(dlg.isVisible());
}

TEST(DialogItems, FoundAndWrittenByNumber) {
    Probe dlg;
    auto* edit = new QLineEdit(&dlg);
    SetControlId(edit, 1022);
    auto* button = new QPushButton(&dlg);
    dlg.BindCommand(button, IDOK);
    EXPECT_EQ(GetDlgItem(&dlg, 1022), edit);
    EXPECT_EQ(ControlId(button), IDOK);
    EXPECT_EQ(GetDlgItem(&dlg, 1023), nullptr);
    EXPECT_TRUE(SetDlgItemText(&dlg, 1022, QStringLiteral("Ann; Bob")));
    EXPECT_EQ(edit->text(), "Ann; Bob");
    EXPECT_FALSE(SetDlgItemText(&dlg, 1023, QStringLiteral("x")));
    // A click on the bound button ends the dialog through its OK handling.
    QTimer::singleShot(20, button, &QPushButton::click);
    EXPECT_EQ(dlg.DoModal(), IDOK);
}

}  // namespace
