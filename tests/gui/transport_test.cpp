// The Transport and zip hint dialogs offscreen, driven by control number, with real settings
// files and a recording stand-in for the desktop's opener.
#include <gtest/gtest.h>

#include <QAbstractButton>

#include "helpers/GuiSupport.h"
#include "helpers/OpenerRecorder.h"
#include "helpers/TestSupport.h"
#include "korrin/app/Defaults.h"
#include "korrin/app/Utils.h"
#include "korrin/ui/TransportDlg.h"
#include "platform/registry/Registry.h"

using namespace korrin;
using namespace korrin::platform;
using namespace korrin::test;

namespace {

class TransportTest : public RegistryTest {
  protected:
    void SetUp() override {
        RegKeyGuard key;
        ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, key.out()), ERROR_SUCCESS);
    }
    std::optional<DWORD> stored(const char* name) {
        DWORD v = 0;
        if (!CUtils().GetRegistryDword(kKorrinKey, name, v))
            return std::nullopt;
        return v;
    }
    bool checked(QWidget* w, int id) { return GetDlgItemAs<QAbstractButton>(w, id)->isChecked(); }
    bool enabled(QWidget* w, int id) { return GetDlgItem(w, id)->isEnabled(); }
    std::vector<std::string> reports() {
        std::vector<std::string> out;
        for (const auto& line : ReadLines(dir_.file("log")))
            out.push_back(JsonField(line, "kind") + ":" + JsonField(line, "text").substr(0, 24));
        return out;
    }
    ScopedEnv log_{"KORRIN_MESSAGE_LOG", dir_.file("log")};
};

TEST_F(TransportTest, WithoutMapiLibraryAolNeedsAYes) {
    ASSERT_EQ(CUtils().SetRegistryDword(kKorrinKey, "Transport", 3), 1);
    ScopedEnv answers("KORRIN_MESSAGE_ANSWERS", "No,Yes");
    CTransportDlg dlg;
    bool openAfterNo = false, mapiShown = false, disabled = false;
    WhenShown("dialog_166", [&](QWidget* w) {
        if (const char* shots = std::getenv("KORRIN_SCREENSHOT_DIR"))
            w->grab().save(QString::fromUtf8(shots) + "/transport.png");
        mapiShown = checked(w, CTransportDlg::kMapiId);
        disabled =
            !enabled(w, CTransportDlg::kMapiId) && !enabled(w, CTransportDlg::kChangeProfileId);
        Click(w, CTransportDlg::kAolId);
        Click(w, IDOK);  // No
        openAfterNo = w->isVisible() && checked(w, CTransportDlg::kAolId) &&
                      !checked(w, CTransportDlg::kMapiId) && stored("Transport") == 3u;
        Click(w, IDOK);  // Yes
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_TRUE(mapiShown);
    EXPECT_TRUE(disabled);
    EXPECT_TRUE(openAfterNo);
    EXPECT_EQ(stored("Transport"), 2u);
}

TEST_F(TransportTest, MapiLibraryOffersProfileAndCancelStoresNothing) {
    int profiles = 0;
    CTransportDlg dlg({[] { return true; }, [&](QWidget*) { ++profiles; }});
    WhenShown("dialog_166", [&](QWidget* w) {
        EXPECT_TRUE(checked(w, CTransportDlg::kSmtpId));  // missing: SMTP
        Click(w, CTransportDlg::kChangeProfileId);
        Click(w, CTransportDlg::kMapiId);
        Click(w, IDCANCEL);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(profiles, 1);
    EXPECT_EQ(stored("Transport"), std::nullopt);
}

TEST_F(TransportTest, HintStoresOnlyOnOkAndOpensTheThreeAddresses) {
    OpenerRecorder opener(dir_);
    {
        CZipHintDlg dlg;
        WhenShown("dialog_165", [&](QWidget* w) {
            EXPECT_NE(GetDlgItemText(w, CZipHintDlg::kTextId).indexOf("pkzip-maker.example"), -1);
            Click(w, CZipHintDlg::kDontShowId);
            Click(w, IDCANCEL);
        });
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
        EXPECT_EQ(stored("Nag Zip"), std::nullopt);
    }
    CZipHintDlg dlg;
    WhenShown("dialog_165", [&](QWidget* w) {
        for (int id : {CZipHintDlg::kCompressionPageId, CZipHintDlg::kWebId, CZipHintDlg::kMailId})
            Click(w, id);
        Click(w, CZipHintDlg::kDontShowId);
        Click(w, IDOK);
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(stored("Nag Zip"), 1u);
    EXPECT_EQ(opener.Opened(3),
              "http://www.quillion.example/\nhttp://www.quillion.example/compression.html\n"
              "mailto:support@quillion.example\n");
}

// A value that cannot be stored is reported and the dialog stays open for another try.
TEST_F(TransportTest, FailedWriteReportsAndStaysOpen) {
    WriteFile(dir_.file("file"), "not a folder");
    ScopedEnv registry("KORRIN_REGISTRY", dir_.file("file/registry.db"));
    ScopedEnv answers("KORRIN_MESSAGE_ANSWERS", "");
    for (int which = 0; which < 2; ++which) {
        std::unique_ptr<CDialog> dlg;
        if (which == 0)
            dlg = std::make_unique<CTransportDlg>();
        else
            dlg = std::make_unique<CZipHintDlg>();
        bool stayed = false;
        WhenShown(dlg->objectName(), [&](QWidget* w) {
            Click(w, IDOK);
            stayed = w->isVisible();
            Click(w, IDCANCEL);
        });
        EXPECT_EQ(dlg->DoModal(), IDCANCEL);
        EXPECT_TRUE(stayed) << which;
    }
    int failures = 0;
    for (const auto& r : reports())
        failures += r == "report:RegSetValueEx failed";
    EXPECT_EQ(failures, 2);
}

}  // namespace
