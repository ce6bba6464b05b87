// The report dialog, its tip form, and reports made from worker threads, shown offscreen and
// answered through their control numbers.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QLabel>

#include <atomic>
#include <thread>

#include "helpers/GuiSupport.h"
#include "helpers/OpenerRecorder.h"
#include "helpers/TestSupport.h"
#include "korrin/app/EventReport.h"
#include "platform/ui/MessageBox.h"

using namespace korrin;
using namespace korrin::platform;
using namespace korrin::test;

namespace {

const QString kReportDialog = QStringLiteral("dialog_154");

class ReportDialogTest : public ::testing::Test {
  protected:
    TempDir dir_;
    ScopedEnv noScript_{"KORRIN_MESSAGE_ANSWERS", std::nullopt};
    ScopedEnv log_{"KORRIN_MESSAGE_LOG", dir_.file("log")};
    OpenerRecorder opener_{dir_};
};

TEST_F(ReportDialogTest, ErrorReportShowsTheReportLineAndContactButtons) {
    auto seen = std::make_shared<bool>(false);
    WhenShown(
        kReportDialog,
        [](QWidget* w) {
            EXPECT_EQ(w->windowTitle(), "Quillion - Unexpected Event");
            EXPECT_EQ(GetDlgItemText(w, 1008),
                      "An unexpected event has occurred.  This is usually based on some "
                      "combination of software and hardware which is unique to your system.  "
                      "Please report the following information to Quillion at "
                      "support@quillion.example:");
            EXPECT_EQ(GetDlgItemText(w, 1073),
                      "Quillion EMail for Windows(tm) V6.0, RegOpenKeyEx failed,Utils:42");
            EXPECT_EQ(GetDlgItemText(w, 1072), "http://www.quillion.example/");
            EXPECT_EQ(GetDlgItemText(w, 1076), "support@quillion.example");
            EXPECT_TRUE(GetDlgItem(w, 1052)->isVisible());
            EXPECT_FALSE(GetDlgItem(w, 1053)->isVisible());
            Click(w, 1072);
            Click(w, 1076);
            Click(w, IDOK);
        },
        seen);
    CEventReport().Report("RegOpenKeyEx failed", "Utils", 42);
    EXPECT_TRUE(*seen);
    EXPECT_EQ(opener_.Opened(2), "http://www.quillion.example/\nmailto:support@quillion.example\n");
    auto lines = ReadLines(dir_.file("log"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(JsonField(lines[0], "answer"), "OK");
}

TEST_F(ReportDialogTest, TipChangesCaptionIntroIconAndWebButton) {
    auto seen = std::make_shared<bool>(false);
    WhenShown(
        kReportDialog,
        [](QWidget* w) {
            EXPECT_EQ(w->windowTitle(), "Quillion EMail for Windows(tm) Tuning Agent");
            EXPECT_EQ(GetDlgItemText(w, 1008),
                      "Quillion EMail for Windows(tm) has determined that your system has not "
                      "been tuned for optimum efficiency.  See the following tip to help you get "
                      "your system in tiptop shape.");
            EXPECT_FALSE(GetDlgItem(w, 1052)->isVisible());
            EXPECT_TRUE(GetDlgItem(w, 1053)->isVisible());
            EXPECT_EQ(GetDlgItemText(w, 1072), "Fix info from the Web");
            Click(w, 1072);
            Click(w, IDOK);
        },
        seen);
    CEventReport().ReportTip("acmStreamOpen failed", "Acm", 7, std::string("Fix info from the Web"),
                             std::string("http://www.quillion.example/codecs.html"));
    EXPECT_TRUE(*seen);
    EXPECT_EQ(opener_.Opened(), "http://www.quillion.example/codecs.html\n");
}

TEST_F(ReportDialogTest, TipWithoutButtonTextKeepsTheCaptionButOpensTheLink) {
    WhenShown(kReportDialog, [](QWidget* w) {
        EXPECT_EQ(GetDlgItemText(w, 1072), "http://www.quillion.example/");
        Click(w, 1072);
        Click(w, IDOK);
    });
    CEventReport().ReportTip("", "Acm", 9, std::nullopt, std::string("http://x.example/tip"));
    EXPECT_EQ(opener_.Opened(), "http://x.example/tip\n");
}

// Two workers report at once: each blocks until its dialog is dismissed, the dialogs come one
// after another, and the user-interface thread keeps serving events all the while.
TEST_F(ReportDialogTest, WorkerReportsBlockOnlyTheirWorkerAndComeOneAtATime) {
    std::atomic<int> finished{0};
    std::atomic<bool> firstDismissed{false};
    int maxVisible = 0, dismissed = 0, ticks = 0;
    bool finishedBeforeDismiss = false;

    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        ++ticks;
        maxVisible = std::max(maxVisible, VisibleTopLevelCount(kReportDialog));
    });
    watch.start(10);

    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w->objectName() == kReportDialog) {
                if (finished.load() > dismissed)
                    finishedBeforeDismiss = true;
                ++dismissed;
                firstDismissed = true;
                Click(w, IDOK);
                return;
            }
        }
    });
    closer.start(150);

    std::thread a([&] {
        CEventReport().Report("first", "Transmit", 1);
        ++finished;
    });
    std::thread b([&] {
        CEventReport().Report("second", "FolderList", 2);
        ++finished;
    });
    QElapsedTimer clock;
    clock.start();
    while (finished.load() < 2 && clock.elapsed() < 15000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    a.join();
    b.join();

    EXPECT_EQ(finished.load(), 2);
    EXPECT_EQ(dismissed, 2);
    EXPECT_EQ(maxVisible, 1);
    EXPECT_FALSE(finishedBeforeDismiss);
    // The user-interface thread kept serving its timers meanwhile (a few ticks suffice: a
    // blocked thread gives none at all while both dialogs were up).
    EXPECT_GT(ticks, 5);
    EXPECT_EQ(ReadLines(dir_.file("log")).size(), 2u);
}

TEST_F(ReportDialogTest, MessageBoxIsDrivenByItsButtonNumbers) {
    WhenShown(QStringLiteral("messagebox"), [](QWidget* w) {
        EXPECT_EQ(GetDlgItemText(w, 0xFFFF), "Send them now?");
        EXPECT_EQ(w->windowTitle(), "Quillion EMail for Windows(tm)");
        Click(w, IDNO);
    });
    EXPECT_EQ(MessageBox(nullptr, "Send them now?", "Quillion EMail for Windows(tm)",
                         MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2),
              IDNO);
    auto lines = ReadLines(dir_.file("log"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(JsonField(lines[0], "answer"), "No");
}

}  // namespace
