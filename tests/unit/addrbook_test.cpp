// The vCard address book as the messaging layer's callers use it: ResolveName on address
// lists, OpenEntry of what it resolved, entry IDs that are damaged or stale.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "helpers/TestSupport.h"
#include "platform/mapi/VCardAddrBook.h"

using namespace korrin;
using namespace korrin::platform;
using namespace korrin::platform::mapi;

namespace {

// An address list of typed names with their recipient types, built as the composer does.
ADRLIST* TypedList(const std::vector<std::pair<std::string, ULONG>>& typed) {
    void* block = nullptr;
    EXPECT_EQ(MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(typed.size())), &block), S_OK);
    auto* list = static_cast<ADRLIST*>(block);
    list->cEntries = static_cast<ULONG>(typed.size());
    for (std::size_t i = 0; i < typed.size(); ++i) {
        void* values = nullptr;
        EXPECT_EQ(MAPIAllocateBuffer(2 * sizeof(SPropValue), &values), S_OK);
        auto* v = static_cast<SPropValue*>(values);
        void* text = nullptr;
        EXPECT_EQ(MAPIAllocateMore(static_cast<ULONG>(typed[i].first.size() + 1), values, &text),
                  S_OK);
        std::memcpy(text, typed[i].first.c_str(), typed[i].first.size() + 1);
        v[0].ulPropTag = PR_DISPLAY_NAME;
        v[0].Value.lpszA = static_cast<char*>(text);
        v[1].ulPropTag = PR_RECIPIENT_TYPE;
        v[1].Value.ul = typed[i].second;
        list->aEntries[i].cValues = 2;
        list->aEntries[i].rgPropVals = v;
    }
    return list;
}

std::string Text(const ADRENTRY& e, ULONG tag) {
    const SPropValue* v = PpropFindProp(e.rgPropVals, e.cValues, tag);
    return v && v->Value.lpszA ? v->Value.lpszA : "(none)";
}

class AddrBookTest : public ::testing::Test {
  protected:
    test::TempDir dir_;
    MapiRef<IAddrBook> book_{NewVCardAddrBook(dir_.path())};
    void SetUp() override {
        test::WriteFile(dir_.file("a.vcf"),
                        "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bob Builder\r\nNICKNAME:bob\r\n"
                        "EMAIL:bob@example.org\r\nEND:VCARD\r\n"
                        "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Carol\r\nEMAIL:c1@example.org\r\n"
                        "EMAIL:c2@example.org\r\nEND:VCARD\r\n");
    }
};

TEST_F(AddrBookTest, ResolveNameOnAnAddressList) {
    struct Case {
        std::string typed;
        ULONG type;
        std::string name, address;  // "(none)": left as typed
    };
    const Case cases[] = {
        {"Bob", MAPI_TO, "Bob Builder", "bob@example.org"},
        {" bob builder", MAPI_CC, "Bob Builder", "bob@example.org"},
        {"Zed <zed@x.org>", MAPI_BCC, "Zed", "zed@x.org"},
        {"dave@x.org", MAPI_TO, "dave@x.org", "dave@x.org"},
        {"carol", MAPI_TO, "carol", "(none)"},  // two addresses
        {"nobody", MAPI_CC, "nobody", "(none)"},
    };
    std::vector<std::pair<std::string, ULONG>> typed;
    for (const auto& c : cases)
        typed.emplace_back(c.typed, c.type);
    ADRLIST* list = TypedList(typed);
    EXPECT_EQ(book_->ResolveName(0, 0, nullptr, list), MAPI_E_AMBIGUOUS_RECIP);
    ASSERT_EQ(list->cEntries, std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const ADRENTRY& e = list->aEntries[i];
        EXPECT_EQ(Text(e, PR_DISPLAY_NAME), cases[i].name) << cases[i].typed;
        EXPECT_EQ(Text(e, PR_EMAIL_ADDRESS), cases[i].address) << cases[i].typed;
        const SPropValue* type = PpropFindProp(e.rgPropVals, e.cValues, PR_RECIPIENT_TYPE);
        ASSERT_NE(type, nullptr);
        EXPECT_EQ(type->Value.ul, cases[i].type);
    }

    // A resolved entry opens as a mail user with the same values.
    const SPropValue* id =
        PpropFindProp(list->aEntries[0].rgPropVals, list->aEntries[0].cValues, PR_ENTRYID);
    ASSERT_NE(id, nullptr);
    ULONG objType = 0;
    IUnknown* object = nullptr;
    ASSERT_EQ(book_->OpenEntry(id->Value.bin.cb, reinterpret_cast<ENTRYID*>(id->Value.bin.lpb),
                               &IID_IMailUser, 0, &objType, &object),
              S_OK);
    MapiRef<IMailUser> user(dynamic_cast<IMailUser*>(object));
    ASSERT_TRUE(user);
    EXPECT_EQ(objType, MAPI_MAILUSER);
    SizedSPropTagArray<4> tags{4, {PR_ENTRYID, PR_DISPLAY_NAME, PR_EMAIL_ADDRESS, PR_SUBJECT}};
    ULONG count = 0;
    SPropValue* props = nullptr;
    EXPECT_EQ(user->GetProps(AsTagArray(tags), 0, &count, &props), MAPI_W_ERRORS_RETURNED);
    ASSERT_EQ(count, 4u);
    EXPECT_EQ(props[0].Value.bin.cb, id->Value.bin.cb);
    EXPECT_STREQ(props[1].Value.lpszA, "Bob Builder");
    EXPECT_STREQ(props[2].Value.lpszA, "bob@example.org");
    EXPECT_EQ(PROP_TYPE(props[3].ulPropTag), PT_ERROR);
    MAPIFreeBuffer(props);

    // The card is edited by another program: its name follows; removed: the entry is gone.
    const std::string entryId(reinterpret_cast<char*>(id->Value.bin.lpb), id->Value.bin.cb);
    FreePadrlist(list);
    test::WriteFile(dir_.file("a.vcf"),
                    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Robert Builder\r\n"
                    "EMAIL:bob@example.org\r\nEND:VCARD\r\n");
    auto open = [&](const std::string& bytes, IUnknown** out) {
        return book_->OpenEntry(static_cast<ULONG>(bytes.size()),
                                reinterpret_cast<const ENTRYID*>(bytes.data()), nullptr, 0, nullptr,
                                out);
    };
    ASSERT_EQ(open(entryId, &object), S_OK);
    user.reset(dynamic_cast<IMailUser*>(object));
    SPropValue* name = nullptr;
    SizedSPropTagArray<1> nameTag{1, {PR_DISPLAY_NAME}};
    ASSERT_EQ(user->GetProps(AsTagArray(nameTag), 0, &count, &name), S_OK);
    EXPECT_STREQ(name->Value.lpszA, "Robert Builder");
    MAPIFreeBuffer(name);
    std::remove(dir_.file("a.vcf").c_str());
    EXPECT_EQ(open(entryId, &object), MAPI_E_NOT_FOUND);
}

TEST_F(AddrBookTest, DamagedEntryIdsFailWithoutCrashing) {
    const std::string good = MakeOneOffEntryId("N", "n@x.org");
    const std::string bad[] = {
        "",
        good.substr(0, 8),
        "XXXX" + good.substr(4),
        good.substr(0, 8) + "\x07" + good.substr(9),
        good.substr(0, good.size() - 7),  // no address
        good + std::string(1, '\0') + "more",
        std::string(3, '\0'),
    };
    for (const auto& b : bad) {
        IUnknown* object = reinterpret_cast<IUnknown*>(1);
        EXPECT_EQ(book_->OpenEntry(static_cast<ULONG>(b.size()),
                                   b.empty() ? nullptr : reinterpret_cast<const ENTRYID*>(b.data()),
                                   nullptr, 0, nullptr, &object),
                  MAPI_E_INVALID_ENTRYID);
        EXPECT_EQ(object, nullptr);
    }
}

TEST_F(AddrBookTest, AddressWithoutDialogSaysSo) {
    SetAddressDialog(nullptr);
    ADRPARM params{};
    ADRLIST* list = nullptr;
    EXPECT_EQ(book_->Address(nullptr, &params, &list), MAPI_E_NO_SUPPORT);
    EXPECT_EQ(list, nullptr);
}

}  // namespace
