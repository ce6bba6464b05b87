// The program's binding to the MAPI support library: loading by name (a library that lacks an
// entry point counts as missing), the composer's load and single logon, the Transport dialog's
// MAPI choices, and Send handing a message to the library's Outbox.
#include <gtest/gtest.h>

#include <QAbstractButton>

#include "helpers/GuiSupport.h"
#include "helpers/MapiStandIns.h"
#include "helpers/PlayerOwnerStandIn.h"
#include "helpers/TestSupport.h"
#include "korrin/app/Defaults.h"
#include "korrin/app/Utils.h"
#include "korrin/mail/TolvlinkBinding.h"
#include "korrin/ui/Player.h"
#include "korrin/ui/TransportDlg.h"
#include "platform/registry/Registry.h"

using namespace korrin;
using namespace korrin::platform;
using namespace korrin::test;

namespace {

class BindingTest : public RegistryTest {
  protected:
    void SetUp() override {
        RegKeyGuard key;
        ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, key.out()), ERROR_SUCCESS);
    }
    void set(const char* name, DWORD v) { CUtils().SetRegistryDword(kKorrinKey, name, v); }
    // Kind and text of every log line, in order.
    std::vector<std::string> log() {
        std::vector<std::string> out;
        for (const auto& line : ReadLines(dir_.file("log")))
            out.push_back(JsonField(line, "kind") + ":" + JsonField(line, "text"));
        return out;
    }
    // Opens a composer and closes it again at once.
    void openComposer() {
        const int result = owner_.NewMessage([](CPlayer& p) { p.EndDialog(IDCANCEL); });
        EXPECT_NE(result, -1);
    }
    std::string partialDir() { return BuildDir() + "/tolvlink-partial"; }

    ScopedEnv log_{"KORRIN_MESSAGE_LOG", dir_.file("log")};
    ScopedEnv answers_{"KORRIN_MESSAGE_ANSWERS", ""};
    ScopedEnv audio_{"KORRIN_AUDIO", "virtual"};
    StandInOwner owner_;
};

TEST_F(BindingTest, ALibraryLackingAnEntryPointIsNoLibrary) {
    struct Case {
        const char* library;
        bool partialDir;
        int result;
    } cases[] = {
        {"/nonexistent/Tolvlink.DLL", false, 1},
        {kTolvlinkLibrary, true, 1},
        {kTolvlinkLibrary, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.library);
        ScopedEnv libdir("KORRIN_LIBDIR",
                         c.partialDir ? std::optional<std::string>(partialDir()) : std::nullopt);
        CTolvlinkBinding binding(nullptr, c.library);
        EXPECT_EQ(binding.Load(), c.result);
        if (c.result == 0) {
            EXPECT_TRUE(binding.StartTolvlink && binding.GetMapiAddress &&
                        binding.ProcessMapiAdrList && binding.SendMapiTolvMessage &&
                        binding.GetMapiIdentity && binding.FixMapiAdrList &&
                        binding.GetMapiProfile);
        }
    }
}

TEST_F(BindingTest, WithoutAUsableLibraryTheComposerSaysSoAndTheMapiChoicesAreOff) {
    ScopedEnv libdir("KORRIN_LIBDIR", partialDir());
    set(setting::kTransport, 3);
    openComposer();
    const auto lines = log();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("messagebox:Could not load Mapi support", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1], "report:debug");
    EXPECT_FALSE(owner_.mapiLoaded);
    EXPECT_FALSE(owner_.mapiStarted);
    for (const auto& l : lines)
        EXPECT_NE(l.rfind("called:", 0), 0u) << l;  // nothing of the library was called

    QWidget parent;
    CTransportDlg dlg(TolvlinkProfileAccess(owner_.MapiBinding(), owner_.mapiLoaded, &parent));
    bool mapiOff = false, profileOff = false, mapiShown = false;
    WhenShown("dialog_166", [&](QWidget* w) {
        mapiOff = !GetDlgItem(w, CTransportDlg::kMapiId)->isEnabled();
        profileOff = !GetDlgItem(w, CTransportDlg::kChangeProfileId)->isEnabled();
        mapiShown = GetDlgItemAs<QAbstractButton>(w, CTransportDlg::kMapiId)->isChecked();
        Click(w, IDCANCEL);
    });
    dlg.DoModal();
    EXPECT_TRUE(mapiOff);
    EXPECT_TRUE(profileOff);
    EXPECT_TRUE(mapiShown);  // a stored 3 is still shown
}

TEST_F(BindingTest, WithSmtpAndWabTheComposerNeverLoadsTheLibrary) {
    set(setting::kTransport, 1);
    set(setting::kAddressBook, 1);
    openComposer();
    EXPECT_FALSE(owner_.MapiBinding());
    // Nothing of the library was loaded or called, and nothing said it was missing.
    for (const auto& l : log()) {
        EXPECT_EQ(l.find("Mapi"), std::string::npos) << l;
        EXPECT_NE(l.rfind("called:", 0), 0u) << l;
    }
}

TEST_F(BindingTest, TheComposerOpenedTwiceLogsOnOnce) {
    set(setting::kAddressBook, 3);
    // "Prompt Profile" is absent: every logon would ask with dialog 140.
    MapiProfile p;
    p.name = "home";
    p.displayName = "Ann Home";
    p.address = "ann@example.org";
    p.storeDir = dir_.file("mail");
    p.isDefault = true;
    ASSERT_EQ(WriteMapiProfile(p), S_OK);
    int asked = 0;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->objectName() == "dialog_140") {
                ++asked;
                Click(w, IDOK);
            }
    });
    answer.start(20);
    openComposer();
    openComposer();
    answer.stop();
    WaitForSpooler();
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(owner_.mapiLoaded);
    EXPECT_TRUE(owner_.mapiStarted);
}

}  // namespace
