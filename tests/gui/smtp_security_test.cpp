// The security drop-down of the SMTP page, driven offscreen by its control number.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>

#include "helpers/GuiSupport.h"
#include "helpers/TestSupport.h"
#include "korrin/app/Defaults.h"
#include "korrin/app/Utils.h"
#include "korrin/ui/Preferences.h"
#include "korrin/ui/SmtpPage.h"
#include "platform/registry/Registry.h"

using namespace korrin;
using namespace korrin::platform;
using namespace korrin::test;

namespace {

class SmtpSecurityPageTest : public RegistryTest {
  protected:
    ScopedEnv log_{"KORRIN_MESSAGE_LOG", dir_.file("log")};
    ScopedEnv answers_{"KORRIN_MESSAGE_ANSWERS", "OK"};

    void SetUp() override {
        RegKeyGuard k;
        ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, k.out()), ERROR_SUCCESS);
    }
    std::optional<DWORD> Stored() {
        DWORD v = 0;
        if (!CUtils().GetRegistryDword(kKorrinKey, setting::kSmtpSecurity, v))
            return std::nullopt;
        return v;
    }
};

TEST_F(SmtpSecurityPageTest, DropDownShowsTheStoredChoiceInServerInformationAndOkStoresIt) {
    // Fresh: "none" shown, and stored as 0 by OK.
    WhenShown("sheet_Preferences", [](QWidget* w) {
        auto* box = GetDlgItemAs<QComboBox>(w, CSmtpPage::kSecurityId);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->count(), 3);
        EXPECT_EQ(box->currentIndex(), 0);
        auto* group = qobject_cast<QGroupBox*>(box->parentWidget());
        ASSERT_NE(group, nullptr);
        EXPECT_EQ(group->title(), "Server information");
        Click(w, IDOK);
    });
    EXPECT_EQ(OpenPreferences(nullptr), IDOK);
    EXPECT_EQ(Stored(), 0u);

    // Chosen and stored; Cancel keeps what was stored.
    WhenShown("sheet_Preferences", [](QWidget* w) {
        GetDlgItemAs<QComboBox>(w, CSmtpPage::kSecurityId)->setCurrentIndex(2);
        Click(w, IDOK);
    });
    OpenSmtpPreferences(nullptr);
    EXPECT_EQ(Stored(), 2u);
    WhenShown("sheet_Preferences", [](QWidget* w) {
        auto* box = GetDlgItemAs<QComboBox>(w, CSmtpPage::kSecurityId);
        EXPECT_EQ(box->currentIndex(), 2);
        box->setCurrentIndex(1);
        Click(w, IDCANCEL);
    });
    OpenPreferences(nullptr);
    EXPECT_EQ(Stored(), 2u);

    // A value the page does not know is shown as STARTTLS, which is how it is sent.
    ASSERT_TRUE(CUtils().SetRegistryDword(kKorrinKey, setting::kSmtpSecurity, 9));
    WhenShown("sheet_Preferences", [](QWidget* w) {
        EXPECT_EQ(GetDlgItemAs<QComboBox>(w, CSmtpPage::kSecurityId)->currentIndex(), 1);
        Click(w, IDOK);
    });
    OpenPreferences(nullptr);
    EXPECT_EQ(Stored(), 1u);
}

}  // namespace
