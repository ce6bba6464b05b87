// The Preferences sheet and its SMTP page, and the "Dial Up Connections" dialog, driven
// offscreen by their control numbers.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QTabWidget>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "helpers/GuiSupport.h"
#include "helpers/TestSupport.h"
#include "korrin/app/Defaults.h"
#include "korrin/mail/MailDialogs.h"
#include "korrin/ui/DialUpDlg.h"
#include "korrin/ui/Preferences.h"
#include "korrin/ui/SmtpPage.h"
#include "platform/registry/Registry.h"
#include "platform/shell/DialUp.h"

using namespace korrin;
using namespace korrin::platform;
using namespace korrin::test;

namespace {

const int kBoxes[] = {CSmtpPage::kServerId,  CSmtpPage::kEmailId,    CSmtpPage::kDisplayNameId,
                      CSmtpPage::kAccountId, CSmtpPage::kPasswordId, CSmtpPage::kOrganizationId};

class PreferencesTest : public RegistryTest {
  protected:
    ScopedEnv log_{"KORRIN_MESSAGE_LOG", dir_.file("log")};
    ScopedEnv answers_{"KORRIN_MESSAGE_ANSWERS", "OK"};

    void CreateKey() {
        RegKeyGuard k;
        ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, k.out()), ERROR_SUCCESS);
    }
    void SetString(const char* name, const std::string& v) {
        RegKeyGuard k;
        ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, k.out()), ERROR_SUCCESS);
        RegSetValueEx(k.get(), name, REG_SZ, reinterpret_cast<const std::uint8_t*>(v.c_str()),
                      static_cast<DWORD>(v.size() + 1));
    }
    // The stored bytes (terminating zero included) or nullopt when missing.
    std::optional<std::string> Stored(const char* name) {
        RegKeyGuard k;
        if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, k.out()) != ERROR_SUCCESS)
            return std::nullopt;
        std::uint8_t buf[1024];
        DWORD type = 0, size = sizeof buf;
        if (RegQueryValueEx(k.get(), name, &type, buf, &size) != ERROR_SUCCESS || type != REG_SZ)
            return std::nullopt;
        return std::string(reinterpret_cast<char*>(buf), size);
    }
};

TEST_F(PreferencesTest, FreshInstallationShowsSixEmptyBoxesAndOkStoresSixEmptyStrings) {
    CreateKey();
    auto seen = std::make_shared<bool>(false);
    WhenShown(
        "sheet_Preferences",
        [](QWidget* w) {
            EXPECT_EQ(w->windowTitle(), "Preferences");
            auto* tabs = GetDlgItemAs<QTabWidget>(w, CPropertySheet::kTabControlId);
            ASSERT_NE(tabs, nullptr);
            EXPECT_EQ(tabs->count(), 1);  // no other page registered
            EXPECT_EQ(tabs->tabText(0), "SMTP");
            for (int id : kBoxes) {
                auto* box = GetDlgItemAs<QLineEdit>(w, id);
                ASSERT_NE(box, nullptr) << id;
                EXPECT_EQ(box->text(), "") << id;
            }
            Click(w, IDOK);
        },
        seen);
    EXPECT_EQ(OpenPreferences(nullptr), IDOK);
    EXPECT_TRUE(*seen);
    for (const char* v :
         {"Name", "Organization", "SMTP Host", "Email Address", "Account", "Password"})
        EXPECT_EQ(Stored(v), std::string(1, '\0')) << v;
}

TEST_F(PreferencesTest, ValuesAreShownEditedAndStoredWithTheirZeroAndCancelStoresNothing) {
    SetString("Name", "Jo");
    SetString("SMTP Host", "mail.example:2525");
    SetString("Password", "old");
    WhenShown("sheet_Preferences", [](QWidget* w) {
        EXPECT_EQ(GetDlgItemText(w, CSmtpPage::kDisplayNameId), "Jo");
        EXPECT_EQ(GetDlgItemText(w, CSmtpPage::kServerId), "mail.example:2525");
        EXPECT_EQ(GetDlgItemText(w, CSmtpPage::kOrganizationId), "");
        SetDlgItemText(w, CSmtpPage::kDisplayNameId, "Changed");
        Click(w, IDCANCEL);
    });
    EXPECT_EQ(OpenPreferences(nullptr), IDCANCEL);
    EXPECT_EQ(Stored("Name"), std::string("Jo\0", 3));
    EXPECT_EQ(Stored("Email Address"), std::nullopt);

    const std::string password(255, 'p');
    WhenShown("sheet_Preferences", [&](QWidget* w) {
        auto* pw = GetDlgItemAs<QLineEdit>(w, CSmtpPage::kPasswordId);
        EXPECT_EQ(pw->echoMode(), QLineEdit::Password);
        pw->setText(QString::fromStdString(password + "overflow"));  // the box takes 255
        SetDlgItemText(w, CSmtpPage::kEmailId, "jo@example.test");
        SetDlgItemText(w, CSmtpPage::kOrganizationId, "");
        Click(w, IDOK);
    });
    EXPECT_EQ(OpenSmtpPreferences(nullptr), IDOK);
    EXPECT_EQ(Stored("Password"), password + '\0');
    EXPECT_EQ(Stored("Email Address"), std::string("jo@example.test") + '\0');
    EXPECT_EQ(Stored("Organization"), std::string(1, '\0'));
    EXPECT_EQ(Stored("SMTP Host"), std::string("mail.example:2525") + '\0');
}

// The password goes from the settings to its box and back through a secret of its own: shown
// as stored, cut at a character when longer than a value holds, and taken out of the box by OK.
TEST_F(PreferencesTest, ThePasswordIsShownAndStoredWholeCharacters) {
    SetString("Password", "p\xC3\xA4ss w\xC3\xB6rd");
    const std::string typed = [] {
        std::string e;
        for (int i = 0; i < 130; ++i)
            e += "\xC3\xA9";  // 260 bytes
        return e;
    }();
    WhenShown("sheet_Preferences", [&](QWidget* w) {
        auto* pw = GetDlgItemAs<QLineEdit>(w, CSmtpPage::kPasswordId);
        ASSERT_NE(pw, nullptr);
        EXPECT_EQ(pw->text().toStdString(), "p\xC3\xA4ss w\xC3\xB6rd");
        pw->setText(QString::fromStdString(typed));
        Click(w, IDOK);
        EXPECT_EQ(pw->text(), "");
    });
    EXPECT_EQ(OpenSmtpPreferences(nullptr), IDOK);
    // 255 bytes would end inside a character: 254 of them, then the zero.
    EXPECT_EQ(Stored("Password"), typed.substr(0, 254) + '\0');
}

TEST_F(PreferencesTest, PlayableCopyBoxShowsTheSettingTickedByDefaultAndOkStoresIt) {
    CreateKey();
    for (const bool tick : {false, true}) {
        WhenShown("sheet_Preferences", [tick](QWidget* w) {
            auto* box = GetDlgItemAs<QCheckBox>(w, CSmtpPage::kPlayableCopyId);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->text(), "Attach a copy that plays everywhere (Opus)");
            EXPECT_EQ(box->isChecked(), !tick);  // the default first, then what was stored
            box->setChecked(tick);
            Click(w, IDOK);
        });
        EXPECT_EQ(OpenSmtpPreferences(nullptr), IDOK);
        std::uint8_t value[4] = {7};
        RegKeyGuard k;
        ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, k.out()), ERROR_SUCCESS);
        DWORD type = 0, size = sizeof value;
        ASSERT_EQ(RegQueryValueEx(k.get(), setting::kAttachPlayableCopy, &type, value, &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(type, REG_DWORD);
        EXPECT_EQ(value[0] + value[1] + value[2] + value[3], tick ? 1 : 0);
    }
}

TEST_F(PreferencesTest, LongTextOutsideAsciiIsStoredSoThatItCanBeReadBack) {
    // 200 characters, 400 bytes: more than a value can hold for the page and for sending.
    CreateKey();
    const QString name = QString(200, QChar(0x00E9));
    WhenShown("sheet_Preferences", [&](QWidget* w) {
        SetDlgItemText(w, CSmtpPage::kDisplayNameId, name);
        SetDlgItemText(w, CSmtpPage::kServerId, "smtp.example");
        Click(w, IDOK);
    });
    EXPECT_EQ(OpenSmtpPreferences(nullptr), IDOK);
    auto stored = Stored("Name");
    ASSERT_TRUE(stored);
    EXPECT_LE(stored->size(), 256u) << "longer than any reader takes";
    // Cut between characters, never inside one.
    EXPECT_EQ(QString::fromUtf8(stored->c_str()), name.left(127));

    // Opened again, the page shows it and OK keeps it instead of writing over it with nothing.
    WhenShown("sheet_Preferences", [&](QWidget* w) {
        EXPECT_EQ(GetDlgItemText(w, CSmtpPage::kDisplayNameId), name.left(127));
        Click(w, IDOK);
    });
    EXPECT_EQ(OpenSmtpPreferences(nullptr), IDOK);
    EXPECT_EQ(Stored("Name"), stored);
    EXPECT_EQ(Stored("SMTP Host"), std::string("smtp.example") + '\0');
}

TEST_F(PreferencesTest, MissingKeyIsReportedAndNothingIsStored) {
    WhenShown("sheet_Preferences", [](QWidget* w) {
        SetDlgItemText(w, CSmtpPage::kServerId, "smtp.example");
        Click(w, IDOK);
    });
    OpenPreferences(nullptr);
    EXPECT_EQ(Stored("SMTP Host"), std::nullopt);
    auto log = ReadLines(dir_.file("log"));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(JsonField(log.back(), "text"), "RegOpenKeyEx failed");
    EXPECT_EQ(JsonField(log.back(), "source"), "SmtpPage");
}

// A page that counts what the sheet does with it.
class CountingPage : public CPropertyPage {
  public:
    CountingPage(int id, const char* caption, int* inits, int* oks)
        : CPropertyPage(id, caption), inits_(inits), oks_(oks) {}
    void OnOK() override { ++*oks_; }

  protected:
    bool OnInitDialog() override {
        ++*inits_;
        return true;
    }

  private:
    int* inits_;
    int* oks_;
};

TEST_F(PreferencesTest, RegisteredPagesFollowInTheirOrderAndStartWhenFirstShown) {
    CreateKey();
    int inits[2] = {0, 0}, oks[2] = {0, 0};
    // Registered in the other order: the sheet still puts Outbox before Deleted.
    SetPreferencesPage(PreferencesSlot::kDeleted, [&] {
        return std::make_unique<CountingPage>(175, "Deleted", &inits[1], &oks[1]);
    });
    SetPreferencesPage(PreferencesSlot::kOutbox, [&] {
        return std::make_unique<CountingPage>(174, "Outbox", &inits[0], &oks[0]);
    });
    WhenShown("sheet_Preferences", [&](QWidget* w) {
        auto* tabs = GetDlgItemAs<QTabWidget>(w, CPropertySheet::kTabControlId);
        ASSERT_EQ(tabs->count(), 3);
        EXPECT_EQ(tabs->tabText(0), "SMTP");
        EXPECT_EQ(tabs->tabText(1), "Outbox");
        EXPECT_EQ(tabs->tabText(2), "Deleted");
        EXPECT_EQ(tabs->currentIndex(), 0);
        EXPECT_EQ(inits[0], 0);
        tabs->setCurrentIndex(1);
        EXPECT_EQ(inits[0], 1);
        EXPECT_NE(GetDlgItem(w, CSmtpPage::kServerId), nullptr);
        Click(w, IDOK);
    });
    EXPECT_EQ(OpenPreferences(nullptr), IDOK);
    EXPECT_EQ(oks[0], 1);
    EXPECT_EQ(inits[1], 0);  // never shown: never started, no OK
    EXPECT_EQ(oks[1], 0);
    SetPreferencesPage(PreferencesSlot::kOutbox, nullptr);
    SetPreferencesPage(PreferencesSlot::kDeleted, nullptr);
}

class DialUpTest : public ::testing::Test {
  protected:
    TempDir dir_;
    std::string script_ = dir_.file("nmcli");
    std::string record_ = dir_.file("calls.txt");
    ScopedEnv nmcli_{"KORRIN_NMCLI", script_};

    void SetUp() override {
        WriteFile(script_,
                  "#!/bin/sh\n"
                  "echo \"$@\" >> '" +
                      record_ +
                      "'\n"
                      "if [ \"$4\" = connection ] && [ \"$5\" = show ]; then\n"
                      "  printf 'Home DSL\\nOffice\\\\: VPN\\n\\nMobile\\n'\n"
                      "fi\n");
        chmod(script_.c_str(), 0700);
    }
    std::string Calls(const std::string& waitFor) const {
        for (int i = 0; i < 250; ++i) {
            std::string text = ReadFile(record_);
            if (text.find(waitFor) != std::string::npos)
                return text;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return ReadFile(record_);
    }
};

TEST_F(DialUpTest, ListsConnectionsEnablesConnectOnSelectionAndStartsTheChosenOne) {
    CDialUpDlg dlg;
    WhenShown("dialog_101", [](QWidget* w) {
        EXPECT_EQ(w->windowTitle(), "Dial Up Connections");
        auto* list = GetDlgItemAs<QListWidget>(w, CDialUpDlg::kListId);
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(list->count(), 3);
        EXPECT_EQ(list->item(1)->text(), "Office: VPN");
        EXPECT_TRUE(list->selectedItems().isEmpty());
        EXPECT_FALSE(GetDlgItem(w, CDialUpDlg::kConnectId)->isEnabled());
        list->item(1)->setSelected(true);
        EXPECT_TRUE(GetDlgItem(w, CDialUpDlg::kConnectId)->isEnabled());
        Click(w, CDialUpDlg::kConnectId);
        EXPECT_TRUE(w->isVisible());  // the dialog stays open
        Click(w, IDCANCEL);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_NE(Calls("connection up id Office: VPN").find("connection up id Office: VPN"),
              std::string::npos);
}

TEST_F(DialUpTest, WithoutNetworkManagerTheListIsEmpty) {
    ScopedEnv none("KORRIN_NMCLI", dir_.file("no-such-program"));
    CDialUpDlg dlg;
    WhenShown("dialog_101", [](QWidget* w) {
        EXPECT_EQ(GetDlgItemAs<QListWidget>(w, CDialUpDlg::kListId)->count(), 0);
        Click(w, IDCANCEL);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(ParseTerseNames("a\\\\b\\:c\r\n\n x \n"),
              (std::vector<std::string>{"a\\b:c", " x "}));
}

TEST_F(DialUpTest, CoreAsksFromAWorkerAndTheWindowRunsOnTheUserInterfaceThread) {
    EXPECT_FALSE(ShowDialUpConnections(nullptr));  // nothing installed: nothing shown
    InstallMailDialogWindows();
    auto seen = std::make_shared<bool>(false);
    WhenShown(
        "dialog_101",
        [](QWidget* w) {
            EXPECT_EQ(w->thread(), QApplication::instance()->thread());
            Click(w, IDCANCEL);
        },
        seen);
    std::atomic<bool> shown{false};
    std::thread worker([&] { shown = ShowDialUpConnections(nullptr); });
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!*seen && std::chrono::steady_clock::now() < until)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_TRUE(*seen);  // else the worker waits for a window that never came: ctest ends it
    worker.join();
    EXPECT_TRUE(shown);
    InstallMailDialogs(nullptr);
}

}  // namespace
