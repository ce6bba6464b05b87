// The address dialog offscreen, reached as callers reach it (the vCard address book's
// Address()), over a real folder of cards; "New" writes a card khard lists.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QGroupBox>
#include <QLineEdit>
#include <QListView>

#include <cstring>

#include "helpers/GuiSupport.h"
#include "helpers/TestSupport.h"
#include "platform/ui/AddressDlg.h"

using namespace korrin;
using namespace korrin::platform;
using namespace korrin::test;

namespace {

std::string Text(const ADRENTRY& e, ULONG tag) {
    const SPropValue* v = PpropFindProp(e.rgPropVals, e.cValues, tag);
    return v && PROP_TYPE(v->ulPropTag) == PT_STRING8 ? v->Value.lpszA : "(none)";
}

ULONG Type(const ADRENTRY& e) {
    const SPropValue* v = PpropFindProp(e.rgPropVals, e.cValues, PR_RECIPIENT_TYPE);
    return v ? v->Value.ul : 0;
}

// The list's rows as "name|address|type".
std::vector<std::string> Rows(const ADRLIST* list) {
    std::vector<std::string> rows;
    for (ULONG i = 0; list && i < list->cEntries; ++i)
        rows.push_back(Text(list->aEntries[i], PR_DISPLAY_NAME) + "|" +
                       Text(list->aEntries[i], PR_EMAIL_ADDRESS) + "|" +
                       std::to_string(Type(list->aEntries[i])));
    return rows;
}

class AddressDlgTest : public ::testing::Test {
  protected:
    TempDir dir_;
    std::string book_ = dir_.file("contacts");
    ScopedEnv log_{"KORRIN_MESSAGE_LOG", dir_.file("log")};
    MapiRef<IAddrBook> ab_;
    void SetUp() override {
        ASSERT_EQ(mkdir(book_.c_str(), 0700), 0);
        WriteFile(book_ + "/a.vcf",
                  "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bob Builder\r\nEMAIL:bob@example.org\r\n"
                  "END:VCARD\r\nBEGIN:VCARD\r\nVERSION:4.0\r\nFN:Carol\r\nEMAIL:c1@example.org\r\n"
                  "EMAIL:c2@example.org\r\nEND:VCARD\r\n");
        InstallAddressDialog();
        ab_.reset(mapi::NewVCardAddrBook(book_));
    }
    ADRPARM Params(ULONG flags, ULONG wells) {
        ADRPARM p{};
        p.ulFlags = flags;
        p.lpszCaption = const_cast<char*>("Address Book");
        p.lpszNewEntryTitle = const_cast<char*>("New");
        p.lpszDestWellsTitle = const_cast<char*>("Send Note To");
        p.cDestFields = wells;
        return p;
    }
    std::vector<std::string> Boxes() {
        std::vector<std::string> out;
        for (const auto& line : ReadLines(dir_.file("log")))
            out.push_back(JsonField(line, "text"));
        return out;
    }
};

TEST_F(AddressDlgTest, WellsSearchAndResolveKeepsItOpenOnAnUnresolvedEntry) {
    // The composer's list: one typed To entry, resolved by name first.
    void* block = nullptr;
    ASSERT_EQ(MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(1)), &block), S_OK);
    auto* list = static_cast<ADRLIST*>(block);
    list->cEntries = 1;
    void* values = nullptr;
    ASSERT_EQ(MAPIAllocateBuffer(2 * sizeof(SPropValue), &values), S_OK);
    auto* v = static_cast<SPropValue*>(values);
    v[0].ulPropTag = PR_DISPLAY_NAME;
    v[0].Value.lpszA = const_cast<char*>("bob");  // a literal: never freed on its own
    v[1].ulPropTag = PR_RECIPIENT_TYPE;
    v[1].Value.ul = MAPI_TO;
    list->aEntries[0] = {0, 2, v};
    ASSERT_EQ(ab_->ResolveName(0, 0, nullptr, list), S_OK);

    ADRPARM params = Params(DIALOG_MODAL | AB_RESOLVE, 3);
    ScopedEnv answers("KORRIN_MESSAGE_ANSWERS", "OK");
    bool checked = false, stayedOpen = false;
    WhenShown("dialog_201", [&](QWidget* w) {
        EXPECT_EQ(w->windowTitle(), "Address Book");
        EXPECT_EQ(GetDlgItemAs<QGroupBox>(w, CAddressDlg::kWellsTitleId)->title(), "Send Note To");
        EXPECT_EQ(GetDlgItemText(w, CAddressDlg::kWellId), "Bob Builder <bob@example.org>");
        for (QWidget* c : w->findChildren<QWidget*>()) {
            if (qobject_cast<QAbstractButton*>(c) || qobject_cast<QLineEdit*>(c) ||
                qobject_cast<QListView*>(c)) {
                EXPECT_FALSE(c->accessibleName().isEmpty()) << ControlId(c);
            }
        }
        auto* view = GetDlgItemAs<QListView>(w, CAddressDlg::kListId);
        SetDlgItemText(w, CAddressDlg::kSearchId, "C2@");
        EXPECT_EQ(view->model()->rowCount(), 1);
        Click(w, CAddressDlg::kWellButtonId + 2);  // Bcc ->
        SetDlgItemText(w, CAddressDlg::kWellId + 1, "\"Doe, Jane\" <jane@x.org>; carol");
        Click(w, IDOK);
        stayedOpen = w->isVisible();
        SetDlgItemText(w, CAddressDlg::kWellId + 1, "\"Doe, Jane\" <jane@x.org>");
        checked = true;
        Click(w, IDOK);
    });
    ULONG_PTR parent = 0;
    ASSERT_EQ(ab_->Address(&parent, &params, &list), S_OK);
    EXPECT_TRUE(checked);
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(Boxes(),
              (std::vector<std::string>{"\"carol\" matches more than one address book entry."}));
    EXPECT_EQ(Rows(list),
              (std::vector<std::string>{"Bob Builder|bob@example.org|1", "Doe, Jane|jane@x.org|2",
                                        "Carol|c2@example.org|3"}));
    FreePadrlist(list);
}

TEST_F(AddressDlgTest, WithoutResolveUnresolvedEntriesComeBackAsTyped) {
    ADRPARM params = Params(DIALOG_MODAL, 3);
    ADRLIST* list = nullptr;
    WhenShown("dialog_201", [&](QWidget* w) {
        SetDlgItemText(w, CAddressDlg::kWellId, "nobody, Bob Builder");
        Click(w, IDOK);
    });
    ASSERT_EQ(ab_->Address(nullptr, &params, &list), S_OK);
    EXPECT_EQ(Rows(list),
              (std::vector<std::string>{"nobody|(none)|1", "Bob Builder|bob@example.org|1"}));
    FreePadrlist(list);

    // Cancel leaves the list as it was.
    list = nullptr;
    WhenShown("dialog_201", [&](QWidget* w) { Click(w, IDCANCEL); });
    EXPECT_EQ(ab_->Address(nullptr, &params, &list), MAPI_E_USER_CANCEL);
    EXPECT_EQ(list, nullptr);
}

TEST_F(AddressDlgTest, AddressOneAndNewContactListedByKhard) {
    struct stat st {};
    ASSERT_EQ(stat("/usr/bin/khard", &st), 0) << "khard is missing: scripts/install-deps.sh";
    ADRPARM params = Params(DIALOG_MODAL | ADDRESS_ONE | AB_RESOLVE, 0);
    params.lpszCaption = const_cast<char*>("Browse Address Book");
    params.lpszNewEntryTitle = const_cast<char*>("Find Email Address");
    ScopedEnv answers("KORRIN_MESSAGE_ANSWERS", "OK");
    ADRLIST* list = nullptr;
    WhenShown("dialog_201", [&](QWidget* w) {
        EXPECT_EQ(w->windowTitle(), "Browse Address Book");
        EXPECT_EQ(GetDlgItem(w, CAddressDlg::kWellId), nullptr);
        WhenShown("dialog_202", [&](QWidget* n) {
            EXPECT_EQ(n->windowTitle(), "Find Email Address");
            SetDlgItemText(n, CNewContactDlg::kNameId, "Erin Public");
            SetDlgItemText(n, CNewContactDlg::kAddressId, "not an address");
            Click(n, IDOK);  // refused, named; stays open
            SetDlgItemText(n, CNewContactDlg::kAddressId, "erin@example.org");
            Click(n, IDOK);
        });
        Click(w, CAddressDlg::kNewId);
        // The new contact is found and chosen.
        EXPECT_EQ(GetDlgItemAs<QListView>(w, CAddressDlg::kListId)->model()->rowCount(), 1);
        Click(w, IDOK);
    });
    ASSERT_EQ(ab_->Address(nullptr, &params, &list), S_OK);
    EXPECT_EQ(Rows(list), (std::vector<std::string>{"Erin Public|erin@example.org|1"}));
    FreePadrlist(list);
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"\"not an address\" is not an e-mail address."}));

    WriteFile(dir_.file("khard.conf"),
              "[addressbooks]\n[[book]]\npath = " + book_ + "\n[general]\ndefault_action = list\n");
    const auto r =
        test::Run({"/usr/bin/khard", "-c", dir_.file("khard.conf"), "email", "--parsable", "erin"});
    EXPECT_NE(r.out.find("erin@example.org\tErin Public\tinternet"), std::string::npos)
        << r.out << r.err;
}

}  // namespace
