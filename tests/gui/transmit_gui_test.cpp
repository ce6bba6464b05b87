// The Outbox page of the Preferences sheet and the hidden transmission window, offscreen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTabWidget>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "helpers/GuiSupport.h"
#include "integration/transmit/TransmitFixture.h"
#include "korrin/ui/OutboxPage.h"
#include "korrin/ui/Preferences.h"
#include "korrin/ui/TransmitDlg.h"

using namespace korrin;
using namespace korrin::platform;
using namespace korrin::test;

namespace {

class TransmitGuiTest : public MailStoreTest {
  protected:
    std::optional<DWORD> storedMinutes() {
        DWORD v = 0;
        if (!CUtils().GetRegistryDword(kKorrinKey, setting::kOutBoxMinutes, v))
            return std::nullopt;
        return v;
    }
    // Opens the sheet, goes to the Outbox page and lets act fill it; then OK.
    void onOutboxPage(std::function<void(QWidget*)> act) {
        auto seen = std::make_shared<bool>(false);
        WhenShown(
            "sheet_Preferences",
            [act](QWidget* w) {
                auto* tabs = GetDlgItemAs<QTabWidget>(w, CPropertySheet::kTabControlId);
                ASSERT_NE(tabs, nullptr);
                ASSERT_EQ(tabs->count(), 2);  // SMTP, Outbox (no Deleted page yet)
                EXPECT_EQ(tabs->tabText(0), "SMTP");
                EXPECT_EQ(tabs->tabText(1), "Outbox");
                tabs->setCurrentIndex(1);
                act(w);
                Click(w, IDOK);
            },
            seen);
        EXPECT_EQ(OpenPreferences(nullptr), IDOK);
        EXPECT_TRUE(*seen);
    }
};

TEST_F(TransmitGuiTest, OutboxPageCapsAtAThousandTurnsZeroIntoOneAndRearmsTheTimer) {
    CTransmitWindow window(nullptr, nullptr);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.objectName(), "dialog_169");
    CTransmitDlg& s = window.session();
    EXPECT_EQ(s.OutboxTimerInterval(), 3 * CTransmitDlg::kMinuteMs);  // missing: 3

    onOutboxPage([](QWidget* w) {
        EXPECT_EQ(GetDlgItemText(w, COutboxPage::kMinutesId), "3");
        auto* box = GetDlgItemAs<QCheckBox>(w, COutboxPage::kDontEmptyId);
        ASSERT_NE(box, nullptr);
        EXPECT_FALSE(box->isChecked());
        EXPECT_TRUE(GetDlgItem(w, COutboxPage::kMinutesId)->isEnabled());
        SetDlgItemText(w, COutboxPage::kMinutesId, "5000");
    });
    EXPECT_EQ(storedMinutes(), 1000u);
    EXPECT_EQ(s.OutboxTimerInterval(), 1000 * CTransmitDlg::kMinuteMs);

    onOutboxPage([](QWidget* w) { SetDlgItemText(w, COutboxPage::kMinutesId, "0"); });
    EXPECT_EQ(storedMinutes(), 1u);
    EXPECT_EQ(s.OutboxTimerInterval(), CTransmitDlg::kMinuteMs);
    EXPECT_TRUE(s.OutboxTimerActive());

    onOutboxPage([](QWidget* w) {
        auto* box = GetDlgItemAs<QCheckBox>(w, COutboxPage::kDontEmptyId);
        box->click();
        for (int id :
             {COutboxPage::kMinutesId, COutboxPage::kEveryTextId, COutboxPage::kMinutesTextId})
            EXPECT_FALSE(GetDlgItem(w, id)->isEnabled()) << id;
    });
    EXPECT_EQ(storedMinutes(), 0u);
    EXPECT_FALSE(s.OutboxTimerActive());

    // Opened on 0: the box is ticked and the minutes are greyed; clearing it brings them back.
    onOutboxPage([](QWidget* w) {
        auto* box = GetDlgItemAs<QCheckBox>(w, COutboxPage::kDontEmptyId);
        EXPECT_TRUE(box->isChecked());
        EXPECT_FALSE(GetDlgItem(w, COutboxPage::kMinutesId)->isEnabled());
        box->click();
        EXPECT_TRUE(GetDlgItem(w, COutboxPage::kMinutesId)->isEnabled());
        SetDlgItemText(w, COutboxPage::kMinutesId, "7");
    });
    EXPECT_EQ(storedMinutes(), 7u);
    EXPECT_EQ(s.OutboxTimerInterval(), 7 * CTransmitDlg::kMinuteMs);
}

TEST_F(TransmitGuiTest, ClosingWhileTheWorkerWaitsForABoxDoesNotDeadlock) {
    startServer();
    makeFolder("OUTBOX");
    makeFolder("SENT");
    const std::string path = folder("OUTBOX") + "/KX1O.kx0";
    makeEnvelope(path, payload(3000, 1), "refuse@x.test", "", "Refused", "n");
    const std::string before = ReadFile(path);
    ScopedEnv shown{"KORRIN_MESSAGE_ANSWERS", std::nullopt};  // boxes are really shown
    auto window = std::make_unique<CTransmitWindow>(nullptr, nullptr);
    ASSERT_TRUE(window->session().OutboxTimerTick());
    // The worker meets the refusal and asks this thread for a box, which it never serves.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    QElapsedTimer clock;
    clock.start();
    // A deadlock fails the test instead of hanging it.
    std::atomic<bool> closed{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 300 && !closed.load(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!closed.load()) {
            std::fputs("the window did not close within 30 s: deadlock\n", stderr);
            std::_Exit(1);
        }
    });
    window.reset();
    closed.store(true);
    watchdog.join();
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(ReadFile(path), before);
    int visible = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        visible += w->isVisible();
    EXPECT_EQ(visible, 0);
}

}  // namespace
