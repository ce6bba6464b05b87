// The composer's address book through the real libwab32.so loaded by name, over a real folder
// of cards, and the "Address Book" choice dialog, offscreen.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QLineEdit>

#include "helpers/GuiSupport.h"
#include "helpers/TestSupport.h"
#include "korrin/app/Defaults.h"
#include "korrin/app/Utils.h"
#include "korrin/mail/mailutil.h"
#include "korrin/ui/IEAddrBk.h"
#include "platform/mapi/Mapi.h"
#include "platform/registry/Registry.h"
#include "platform/ui/AddressDlg.h"

using namespace korrin;
using namespace korrin::platform;
using namespace korrin::test;

namespace {

class WabTest : public RegistryTest {
  protected:
    ScopedEnv data_{"XDG_DATA_HOME", dir_.file("data")};
    ScopedEnv log_{"KORRIN_MESSAGE_LOG", dir_.file("log")};
    std::string book_ = dir_.file("data/korrin/contacts");
    void SetUp() override {
        for (const auto& d : {dir_.file("data"), dir_.file("data/korrin"), book_})
            ASSERT_EQ(mkdir(d.c_str(), 0700), 0);
        WriteFile(book_ + "/a.vcf",
                  "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bob Builder\r\nEMAIL:bob@example.org\r\n"
                  "END:VCARD\r\n");
    }
    void SetDllPath(const std::string& value) {
        RegKeyGuard key;
        ASSERT_EQ(
            RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\WAB\\DLLPath", key.out()),
            ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueEx(key.get(), "", REG_SZ,
                                reinterpret_cast<const std::uint8_t*>(value.c_str()),
                                static_cast<DWORD>(value.size() + 1)),
                  ERROR_SUCCESS);
    }
    static std::vector<std::string> Names(const ADRLIST* list) {
        std::vector<std::string> out;
        for (ULONG i = 0; list && i < list->cEntries; ++i) {
            const ADRENTRY& e = list->aEntries[i];
            const SPropValue* n = PpropFindProp(e.rgPropVals, e.cValues, PR_DISPLAY_NAME);
            const SPropValue* t = PpropFindProp(e.rgPropVals, e.cValues, PR_RECIPIENT_TYPE);
            out.push_back(std::string(n ? n->Value.lpszA : "?") + "|" +
                          std::to_string(t ? t->Value.ul : 0));
        }
        return out;
    }
};

TEST_F(WabTest, LibraryFoundByNameOrPathAndRefusedWhenWrong) {
    struct Case {
        std::optional<std::string> dllPath;
        HRESULT result;
    };
    const Case cases[] = {
        {std::nullopt, S_OK},                           // no key: "WAB32.dll" by name
        {"", S_OK},                                     // empty value: the same
        {BuildDir() + "/libwab32.so", S_OK},            // a path
        {dir_.file("missing.so"), E_FAIL},              // no such library
        {BuildDir() + "/libplatform_core.so", E_FAIL},  // no WABOpen in it
    };
    for (const auto& c : cases) {
        if (c.dllPath)
            SetDllPath(*c.dllPath);
        WabAddressBook wab;
        EXPECT_EQ(wab.OpenWab(), c.result) << c.dllPath.value_or("(no key)");
        EXPECT_EQ(wab.IsOpen(), c.result == S_OK);
    }
}

TEST_F(WabTest, LibraryExportsWabOpenAlone) {
    const auto r = test::Run({"/usr/bin/nm", "-D", "--defined-only", BuildDir() + "/libwab32.so"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.substr(r.out.find(' ') + 1), "T WABOpen\n");
}

TEST_F(WabTest, TextsToListResolvedThenJoinedBack) {
    WabAddressBook wab;
    ASSERT_EQ(wab.OpenWab(), S_OK);
    ADRLIST* list = reinterpret_cast<ADRLIST*>(1);
    ASSERT_TRUE(wab.BuildAdrList(nullptr, "", "", "", &list));
    EXPECT_EQ(list, nullptr);  // three empty texts: no list

    ASSERT_TRUE(wab.BuildAdrList(nullptr, "ann; zed", "", "", &list));
    EXPECT_EQ(Names(list), (std::vector<std::string>{"ann|1", " zed|1"}));
    wab.FreeAdrList(list);

    ASSERT_TRUE(wab.BuildAdrList(nullptr, "bob,,", "x@y.org;\t", "Zed <z@y.org>", &list));
    EXPECT_EQ(Names(list), (std::vector<std::string>{"Bob Builder|1", "x@y.org|2", "Zed|3"}));
    EXPECT_EQ(WabAddressBook::JoinRecipients(list, PR_EMAIL_ADDRESS, MAPI_TO, 511),
              "bob@example.org");

    CMailUtil mail;
    WabAddressBook::AddRecipientsToMail(mail, list);
    EXPECT_EQ(mail.recipients(), "bob@example.org,x@y.org,z@y.org");
    wab.FreeAdrList(list);

    // Never past the capacity: the field ends with "..." inside it.
    std::string many;
    for (int i = 0; i < 60; ++i)
        many += "someone" + std::to_string(i) + "; ";
    ASSERT_TRUE(wab.BuildAdrList(nullptr, many, "", "", &list));
    const std::string joined = WabAddressBook::JoinRecipients(list, PR_DISPLAY_NAME, MAPI_TO, 511);
    EXPECT_LE(joined.size(), 511u);
    EXPECT_EQ(joined.substr(joined.size() - 3), "...");
    EXPECT_EQ(WabAddressBook::JoinRecipients(list, PR_DISPLAY_NAME, MAPI_TO, 0).find("..."),
              std::string::npos);
    wab.FreeAdrList(list);
}

TEST_F(WabTest, AddressDialogOpensEmptyForNoListAndFillsIt) {
    WabAddressBook wab;
    ASSERT_EQ(wab.OpenWab(), S_OK);
    ADRLIST* list = nullptr;
    bool empty = false;
    WhenShown("dialog_201", [&](QWidget* w) {
        EXPECT_EQ(w->windowTitle(), "Address Book");
        empty = GetDlgItemText(w, CAddressDlg::kWellId).isEmpty() &&
                GetDlgItemText(w, CAddressDlg::kWellId + 1).isEmpty() &&
                GetDlgItemText(w, CAddressDlg::kWellId + 2).isEmpty();
        Click(w, CAddressDlg::kWellButtonId + 1);  // the first contact to Cc
        Click(w, IDOK);
    });
    ASSERT_TRUE(wab.ShowAddressDialog(nullptr, &list));
    EXPECT_TRUE(empty);
    EXPECT_EQ(WabAddressBook::JoinRecipients(list, PR_DISPLAY_NAME, MAPI_CC, 511), "Bob Builder");
    EXPECT_EQ(WabAddressBook::JoinRecipients(list, PR_DISPLAY_NAME, MAPI_TO, 511), "");
    wab.FreeAdrList(list);
}

TEST_F(WabTest, AddressBookChoiceDialog) {
    RegKeyGuard key;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, key.out()), ERROR_SUCCESS);
    auto stored = [] {
        DWORD v = 0;
        return CUtils().GetRegistryDword(kKorrinKey, setting::kAddressBook, v) ? v : 0u;
    };
    auto checked = [](QWidget* w, int id) {
        return GetDlgItemAs<QAbstractButton>(w, id)->isChecked();
    };
    struct Case {
        bool mapiLoads;
        int click;
        int button;
        DWORD stored;
    };
    const Case cases[] = {
        {false, CAddressBookDlg::kMapiId, IDOK, 1},  // disabled: the click does nothing
        {true, CAddressBookDlg::kMapiId, IDOK, 3},
        {true, CAddressBookDlg::kWabId, IDCANCEL, 3},
        {true, CAddressBookDlg::kWabId, IDOK, 1},
    };
    for (const auto& c : cases) {
        CAddressBookDlg dlg([&] { return c.mapiLoads; });
        WhenShown("dialog_203", [&](QWidget* w) {
            EXPECT_FALSE(GetDlgItem(w, CAddressBookDlg::kNetscapeId)->isEnabled());
            EXPECT_EQ(GetDlgItem(w, CAddressBookDlg::kMapiId)->isEnabled(), c.mapiLoads);
            EXPECT_TRUE(
                checked(w, stored() == 3 ? CAddressBookDlg::kMapiId : CAddressBookDlg::kWabId));
            Click(w, c.click);
            Click(w, c.button);
        });
        EXPECT_EQ(dlg.DoModal(), c.button);
        EXPECT_EQ(stored(), c.stored);
    }
}

}  // namespace
