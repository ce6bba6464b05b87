// The messaging layer without the mail writer of the core: a stand-in writer puts a few header
// lines on disk so the store's own behaviour (where files land, when, with which flags) and
// the spooler's (what it runs, moves, reports) can be checked here. The real writer, msmtp and
// an SMTP server are in the integration test.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "helpers/MapiStandIns.h"
#include "helpers/TestSupport.h"
#include "platform/dynlib/DynLib.h"
#include "platform/fileio/LockFile.h"
#include "platform/files/Files.h"
#include "platform/mapi/EntryId.h"
#include "platform/mapi/Maildir.h"
#include "platform/mapi/Mapi.h"

namespace korrin::platform {
namespace {

using mapi_detail::DecodeEntryId;
using mapi_detail::EncodeEntryId;
using mapi_detail::EntryKind;
using mapi_detail::EntryRef;
using test::ScopedEnv;
using test::TempDir;

namespace fs = std::filesystem;

std::vector<OutgoingMail> written;  // what the stand-in writer was given

bool standInWriter(const OutgoingMail& mail, int fd, std::string*) {
    written.push_back(mail);
    std::string text =
        "From: " + mail.fromAddress + "\nSubject: " + mail.subject + "\n\n" + mail.body + "\n";
    return WriteAll(fd, text.data(), text.size());
}

std::size_t filesIn(const std::string& dir) {
    std::size_t n = 0;
    if (fs::exists(dir))
        for (auto& e : fs::directory_iterator(dir))
            n += e.is_regular_file() ? 1 : 0;
    return n;
}

class MapiTest : public test::RegistryTest {
  protected:
    void SetUp() override {
        written.clear();
        SetMailWriter(&standInWriter);
        ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
    }
    void TearDown() override {
        WaitForSpooler();
        SetMailWriter(nullptr);
        SetProfilePrompt(nullptr);
        MAPIUninitialize();
    }
    MapiProfile addProfile(const std::string& name, const std::string& submit, bool isDefault) {
        MapiProfile p;
        p.name = name;
        p.displayName = "Åsa Öberg";
        p.address = "asa@example.org";
        p.storeDir = dir_.file("mail-" + name);
        p.submitCommand = submit;
        p.isDefault = isDefault;
        EXPECT_EQ(WriteMapiProfile(p), S_OK);
        MapiProfile back;
        EXPECT_EQ(ReadMapiProfile(name, &back), S_OK);
        return back;
    }
    std::string root(const std::string& name) { return dir_.file("mail-" + name); }
    ScopedEnv data_{"XDG_DATA_HOME", dir_.file("data")};
};

TEST(MapiAllocation, LinkedBlocksGoWithTheirFirstBlock) {
    void* root = nullptr;
    ASSERT_EQ(MAPIAllocateBuffer(64, &root), S_OK);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(root) % alignof(std::max_align_t), 0u);
    EXPECT_EQ(static_cast<char*>(root)[63], 0);
    void* parent = root;
    for (int i = 0; i < 100; ++i) {
        void* more = nullptr;
        // On the first block and on blocks hanging on it alike.
        ASSERT_EQ(MAPIAllocateMore(static_cast<ULONG>(i + 1), parent, &more), S_OK);
        std::memset(more, 0xAB, static_cast<std::size_t>(i + 1));
        parent = i % 2 ? more : root;
    }
    // A linked block is not freed on its own: its first block owns it.
    EXPECT_EQ(MAPIFreeBuffer(parent), static_cast<ULONG>(MAPI_E_INVALID_PARAMETER));
    EXPECT_EQ(MAPIFreeBuffer(root), static_cast<ULONG>(S_OK));  // the sanitizer run checks leaks
    EXPECT_EQ(MAPIFreeBuffer(nullptr), static_cast<ULONG>(S_OK));
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(MAPIAllocateMore(8, nullptr, &out), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(MAPIAllocateBuffer(0xFFFFFFFFu, &out), MAPI_E_NOT_ENOUGH_MEMORY);
}

TEST(MapiAllocation, RowsAndAddressListsFreeEachEntry) {
    void* block = nullptr;
    ASSERT_EQ(MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(3)), &block), S_OK);
    auto* list = static_cast<ADRLIST*>(block);
    list->cEntries = 3;
    for (ULONG i = 0; i < 3; ++i) {
        SPropValue v[2] = {};
        v[0].ulPropTag = PR_DISPLAY_NAME;
        v[0].Value.lpszA = const_cast<char*>("Zoë");
        v[1].ulPropTag = PR_RECIPIENT_TYPE;
        v[1].Value.l = MAPI_TO;
        ASSERT_EQ(ScDupPropset(2, v, nullptr, &list->aEntries[i].rgPropVals), S_OK);
        list->aEntries[i].cValues = 2;
    }
    EXPECT_STREQ(PpropFindProp(list->aEntries[2].rgPropVals, 2, PR_DISPLAY_NAME)->Value.lpszA,
                 "Zoë");
    FreePadrlist(list);
    FreePadrlist(nullptr);
    FreeProws(nullptr);
}

TEST(MapiEntryIds, OursRoundTripAndAnythingElseIsRefused) {
    const EntryRef good[] = {{EntryKind::kStore, "work", "", ""},
                             {EntryKind::kFolder, "work", "Outbox", ""},
                             {EntryKind::kFolder, "work", "", ""},
                             {EntryKind::kMessage, "w o", "Sent", "1.M2P3R4.host"},
                             {EntryKind::kIdentity, "work", "", ""}};
    for (const auto& ref : good) {
        std::string id = EncodeEntryId(ref);
        EntryRef back;
        ASSERT_TRUE(DecodeEntryId(id.data(), id.size(), &back)) << ref.folder;
        EXPECT_EQ(back.kind, ref.kind);
        EXPECT_EQ(back.profile, ref.profile);
        EXPECT_EQ(back.folder, ref.folder);
        EXPECT_EQ(back.message, ref.message);
    }
    std::string valid = EncodeEntryId({EntryKind::kMessage, "work", "Sent", "abc"});
    std::vector<std::pair<const char*, std::string>> bad = {
        {"empty", ""},
        {"flags only", std::string(4, '\0')},
        {"cut short", valid.substr(0, valid.size() - 1)},
        {"a byte too many", valid + "x"},
        {"flag byte set", "\x01" + valid.substr(1)},
        {"other magic", valid.substr(0, 4) + "XXXX" + valid.substr(8)},
        {"kind 0", valid.substr(0, 8) + '\0' + valid.substr(9)},
        {"kind 9", valid.substr(0, 8) + '\x09' + valid.substr(9)},
        {"folder leaving the store", EncodeEntryId({EntryKind::kFolder, "work", "../x", ""})},
        {"unknown folder", EncodeEntryId({EntryKind::kFolder, "work", "Drafts", ""})},
        {"message with a slash", EncodeEntryId({EntryKind::kMessage, "work", "", "a/b"})},
        {"message hidden", EncodeEntryId({EntryKind::kMessage, "work", "", ".lock"})},
        {"message missing", EncodeEntryId({EntryKind::kMessage, "work", "", ""})},
        {"store with a folder", EncodeEntryId({EntryKind::kStore, "work", "Sent", ""})},
        {"no profile", EncodeEntryId({EntryKind::kStore, "", "", ""})},
        {"profile with a backslash", EncodeEntryId({EntryKind::kStore, "a\\b", "", ""})},
        {"length past the end", valid.substr(0, 9) + "\xff\xff"},
    };
    for (const auto& [what, bytes] : bad) {
        EntryRef r;
        EXPECT_FALSE(DecodeEntryId(bytes.data(), bytes.size(), &r)) << what;
    }
    EntryRef r;
    EXPECT_FALSE(DecodeEntryId(nullptr, 20, &r));
}

TEST(MapiMaildir, FileNamesAndFlags) {
    struct Case {
        const char* name;
        bool ok;
        const char* unique;
        const char* flags;
    } cases[] = {
        {"1733650000.M1P2R3.host", true, "1733650000.M1P2R3.host", ""},
        {"u1:2,SD", true, "u1", "DS"},
        {"u1:2,", true, "u1", ""},
        {"u1:2,SS", true, "u1", "S"},
        {"u1:2,Sa", true, "u1", "S"},  // lower-case letters are others' private flags
        {".hidden", false, "", ""},
        {"", false, "", ""},
        {"u1:1,S", false, "", ""},
        {"u1:2,S1", false, "", ""},
        {"u1:2", false, "", ""},
        {"a b", false, "", ""},
    };
    for (const auto& c : cases) {
        std::string unique, flags;
        EXPECT_EQ(mapi_detail::ParseMaildirName(c.name, &unique, &flags), c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(unique, c.unique) << c.name;
            EXPECT_EQ(flags, c.flags) << c.name;
        }
    }
    EXPECT_TRUE(mapi_detail::IsUniqueName(mapi_detail::NewUniqueName()));
}

TEST(MapiMaildir, HeadersAreReadUnfoldedUpToTheBody) {
    const std::string mail =
        "from: Ann <ann@example.org>\r\nSubject: one\r\n two\r\n\tthree\r\nTo: b@example.org\r\n"
        "Subject: later\r\n\r\nTo: body@example.org\r\n";
    std::vector<std::string> v;
    ReadMailHeaders(mail, {"From", "Subject", "To", "Cc"}, &v);
    EXPECT_EQ(v, (std::vector<std::string>{"Ann <ann@example.org>", "one two three",
                                           "b@example.org", ""}));
}

TEST_F(MapiTest, ProfilesKeepTheirValuesAndOneDefault) {
    MapiProfile a = addProfile("Work", "", true);
    EXPECT_EQ(a.displayName, "Åsa Öberg");
    EXPECT_EQ(a.submitCommand, "/usr/sbin/sendmail -t -oi");
    EXPECT_EQ(a.contactsDir, dir_.file("data") + "/korrin/contacts");
    EXPECT_TRUE(a.isDefault);
    addProfile("home", "/bin/true", true);
    std::vector<MapiProfile> list;
    ASSERT_EQ(ListMapiProfiles(&list), S_OK);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "home");
    EXPECT_TRUE(list[0].isDefault);
    EXPECT_FALSE(list[1].isDefault);

    MapiProfile d;
    ASSERT_EQ(ReadDefaultMapiProfile(&d), S_OK);
    EXPECT_EQ(d.name, "home");
    ASSERT_EQ(DeleteMapiProfile("HOME"), S_OK);
    EXPECT_EQ(ReadDefaultMapiProfile(&d), MAPI_E_NOT_FOUND);
    EXPECT_EQ(DeleteMapiProfile("home"), MAPI_E_NOT_FOUND);

    for (const char* name : {"", "a\\b", "line\nbreak",
                             "0123456789012345678901234567890123456789"
                             "012345678901234567890123456789"}) {
        MapiProfile p;
        p.name = name;
        EXPECT_EQ(WriteMapiProfile(p), MAPI_E_INVALID_PARAMETER) << name;
    }
}

TEST_F(MapiTest, LogonTakesTheNamedOrDefaultProfileOrAsks) {
    addProfile("work", "/bin/true", false);
    IMAPISession* s = nullptr;
    // Without a default profile the caller's prompt decides.
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, 0, &s), MAPI_E_LOGON_FAILED);
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_LOGON_UI, &s), MAPI_E_LOGON_FAILED);
    SetProfilePrompt([](ULONG_PTR, std::string*) { return MAPI_E_USER_CANCEL; });
    EXPECT_EQ(MAPILogonEx(0, "", nullptr, MAPI_LOGON_UI | MAPI_NEW_SESSION, &s),
              MAPI_E_USER_CANCEL);
    SetProfilePrompt([](ULONG_PTR, std::string* name) {
        *name = "work";
        return S_OK;
    });
    ASSERT_EQ(MAPILogonEx(0, "", nullptr, MAPI_LOGON_UI | MAPI_NEW_SESSION, &s), S_OK);
    s->Release();
    EXPECT_EQ(MAPILogonEx(0, "nobody", nullptr, MAPI_LOGON_UI, &s), MAPI_E_LOGON_FAILED);
    EXPECT_EQ(MAPILogonEx(0, "work", nullptr, MAPI_UNICODE, &s), MAPI_E_BAD_CHARWIDTH);
    addProfile("home", "/bin/true", true);
    ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, 0, &s), S_OK);
    s->Release();
    MAPIUninitialize();
    EXPECT_EQ(MAPILogonEx(0, "work", nullptr, 0, &s), MAPI_E_NOT_INITIALIZED);
    EXPECT_EQ(s, nullptr);
    MAPIInitialize(nullptr);

    IProfAdmin* admin = nullptr;
    ASSERT_EQ(MAPIAdminProfiles(0, &admin), S_OK);
    IMAPITable* table = nullptr;
    ASSERT_EQ(admin->GetProfileTable(0, &table), S_OK);
    SizedSPropTagArray<2> cols{2, {PR_DISPLAY_NAME, PR_DEFAULT_PROFILE}};
    SRowSet* rows = nullptr;
    ASSERT_EQ(HrQueryAllRows(table, AsTagArray(cols), nullptr, nullptr, 0, &rows), S_OK);
    ASSERT_EQ(rows->cRows, 2u);
    EXPECT_STREQ(rows->aRow[0].lpProps[0].Value.lpszA, "home");
    EXPECT_TRUE(rows->aRow[0].lpProps[1].Value.b);
    EXPECT_FALSE(rows->aRow[1].lpProps[1].Value.b);
    FreeProws(rows);
    table->Release();
    admin->Release();
}

// The opening sequence of a client: default store by restriction, its special folders, the
// receive folder, then each opened as a folder; and the identity.
TEST_F(MapiTest, StoreFoldersAndIdentityOpenByTheirEntryIds) {
    addProfile("work", "/bin/true", true);
    MapiRef<IMAPISession> s;
    ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_LOGON_UI | MAPI_NEW_SESSION, s.out()), S_OK);
    MapiRef<IMAPITable> stores;
    ASSERT_EQ(s->GetMsgStoresTable(0, stores.out()), S_OK);
    SizedSPropTagArray<2> cols{2, {PR_ENTRYID, PR_DEFAULT_STORE}};
    SPropValue yes{};
    yes.ulPropTag = PR_DEFAULT_STORE;
    yes.Value.b = 1;
    SRestriction r{};
    r.rt = RES_PROPERTY;
    r.res.resProperty = {RELOP_EQ, PR_DEFAULT_STORE, &yes};
    SRowSet* rows = nullptr;
    ASSERT_EQ(HrQueryAllRows(stores.get(), AsTagArray(cols), &r, nullptr, 0, &rows), S_OK);
    ASSERT_EQ(rows->cRows, 1u);
    ASSERT_EQ(rows->aRow[0].lpProps[0].ulPropTag, PR_ENTRYID);
    MapiRef<IMsgStore> store;
    const SBinary& sid = rows->aRow[0].lpProps[0].Value.bin;
    ASSERT_EQ(s->OpenMsgStore(0, sid.cb, reinterpret_cast<ENTRYID*>(sid.lpb), nullptr, MDB_WRITE,
                              store.out()),
              S_OK);
    FreeProws(rows);

    SizedSPropTagArray<4> tags{
        4, {PR_NULL, PR_IPM_OUTBOX_ENTRYID, PR_IPM_WASTEBASKET_ENTRYID, PR_IPM_SENTMAIL_ENTRYID}};
    ULONG n = 0;
    SPropValue* v = nullptr;
    ASSERT_EQ(store->GetProps(AsTagArray(tags), 0, &n, &v), MAPI_W_ERRORS_RETURNED);
    ASSERT_EQ(n, 4u);
    ULONG cb = 0;
    ENTRYID* inbox = nullptr;
    ASSERT_EQ(store->GetReceiveFolder("IPM.Note", 0, &cb, &inbox, nullptr), S_OK);
    v[0].ulPropTag = PR_ENTRYID;
    v[0].Value.bin = {cb, reinterpret_cast<BYTE*>(inbox)};
    const char* names[] = {"Inbox", "Outbox", "Deleted Items", "Sent Items"};
    for (int i = 0; i < 4; ++i) {
        ULONG type = 0;
        MapiRef<IUnknown> obj;
        ASSERT_EQ(s->OpenEntry(v[i].Value.bin.cb, reinterpret_cast<ENTRYID*>(v[i].Value.bin.lpb),
                               nullptr, MAPI_MODIFY, &type, obj.out()),
                  S_OK)
            << i;
        EXPECT_EQ(type, MAPI_FOLDER);
        auto* folder = dynamic_cast<IMAPIFolder*>(obj.get());
        ASSERT_NE(folder, nullptr);
        SPropValue* name = nullptr;
        ASSERT_EQ(HrGetOneProp(folder, PR_DISPLAY_NAME, &name), S_OK);
        EXPECT_STREQ(name->Value.lpszA, names[i]);
        MAPIFreeBuffer(name);
    }
    MAPIFreeBuffer(inbox);
    MAPIFreeBuffer(v);
    // Maildir++ as mail readers know it.
    for (const char* d : {"/cur", "/.Outbox/new", "/.Sent/cur", "/.Trash/tmp"})
        EXPECT_TRUE(fs::is_directory(root("work") + d)) << d;
    EXPECT_TRUE(fs::exists(root("work") + "/.Sent/maildirfolder"));

    ENTRYID* me = nullptr;
    ASSERT_EQ(s->QueryIdentity(&cb, &me), S_OK);
    MapiRef<IUnknown> obj;
    ULONG type = 0;
    ASSERT_EQ(s->OpenEntry(cb, me, &IID_IMailUser, 0, &type, obj.out()), S_OK);
    EXPECT_EQ(type, MAPI_MAILUSER);
    auto* user = dynamic_cast<IMailUser*>(obj.get());
    ASSERT_NE(user, nullptr);
    SizedSPropTagArray<2> who{2, {PR_DISPLAY_NAME, PR_EMAIL_ADDRESS}};
    ASSERT_EQ(user->GetProps(AsTagArray(who), 0, &n, &v), S_OK);
    EXPECT_STREQ(v[0].Value.lpszA, "Åsa Öberg");
    EXPECT_STREQ(v[1].Value.lpszA, "asa@example.org");
    MAPIFreeBuffer(v);
    MAPIFreeBuffer(me);
    // The address book is the address-book module's; none is registered here.
    MapiRef<IAddrBook> book;
    EXPECT_EQ(s->OpenAddressBook(0, nullptr, 0, book.out()), MAPI_E_NO_SUPPORT);
}

TEST_F(MapiTest, BadEntryIdsFailWithoutHarm) {
    addProfile("work", "/bin/true", true);
    addProfile("other", "/bin/true", false);
    MapiRef<IMAPISession> s;
    ASSERT_EQ(MAPILogonEx(0, "work", nullptr, 0, s.out()), S_OK);
    std::string otherStore = EncodeEntryId({EntryKind::kStore, "other", "", ""});
    std::string gone = EncodeEntryId({EntryKind::kMessage, "work", "Outbox", "12.M3P4R5.h"});
    struct Case {
        const char* what;
        std::string id;
        HRESULT expected;
    } cases[] = {
        {"garbage", "\x01\x02\x03", MAPI_E_INVALID_ENTRYID},
        {"empty", "", MAPI_E_INVALID_ENTRYID},
        {"another profile's store", otherStore, MAPI_E_NOT_FOUND},
        {"a message that is not there", gone, MAPI_E_NOT_FOUND},
    };
    for (const auto& c : cases) {
        MapiRef<IUnknown> obj;
        ULONG type = 0;
        EXPECT_EQ(s->OpenEntry(static_cast<ULONG>(c.id.size()),
                               reinterpret_cast<const ENTRYID*>(c.id.data()), nullptr, 0, &type,
                               obj.out()),
                  c.expected)
            << c.what;
        EXPECT_FALSE(obj) << c.what;
    }
    MapiRef<IMsgStore> store;
    EXPECT_EQ(
        s->OpenMsgStore(0, 3, reinterpret_cast<const ENTRYID*>("abc"), nullptr, 0, store.out()),
        MAPI_E_INVALID_ENTRYID);
    EXPECT_EQ(s->OpenMsgStore(0, static_cast<ULONG>(otherStore.size()),
                              reinterpret_cast<const ENTRYID*>(otherStore.data()), nullptr, 0,
                              store.out()),
              MAPI_E_NOT_FOUND);
}

class MapiMessageTest : public MapiTest {
  protected:
    void SetUp() override {
        MapiTest::SetUp();
        addProfile("work", submit(), true);
        ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, 0, session_.out()), S_OK);
        inbox_.reset(openFolder(""));
        outbox_.reset(openFolder("Outbox"));
    }
    void TearDown() override {
        inbox_.reset();
        outbox_.reset();
        session_.reset();
        MapiTest::TearDown();
    }
    virtual std::string submit() { return "/bin/true"; }
    IMAPIFolder* openFolder(const std::string& name) {
        std::string id = EncodeEntryId({EntryKind::kFolder, "work", name, ""});
        IUnknown* obj = nullptr;
        ULONG type = 0;
        EXPECT_EQ(session_->OpenEntry(static_cast<ULONG>(id.size()),
                                      reinterpret_cast<const ENTRYID*>(id.data()), nullptr,
                                      MAPI_MODIFY, &type, &obj),
                  S_OK);
        return dynamic_cast<IMAPIFolder*>(obj);
    }
    void setRecipients(IMessage* m, const std::vector<std::pair<std::string, ULONG>>& people) {
        ASSERT_EQ(test::SetTypedRecipients(m, people), S_OK);
    }
    std::string inboxDir() { return root("work"); }
    std::string outboxDir() { return root("work") + "/.Outbox"; }
    std::string sentDir() { return root("work") + "/.Sent"; }
    MapiRef<IMAPISession> session_;
    MapiRef<IMAPIFolder> inbox_;
    MapiRef<IMAPIFolder> outbox_;
};

// A draft with an attachment copied to the Outbox and submitted, the draft deleted: nothing is
// on disk before SaveChanges, the attachment's bytes reach the writer whole, the draft goes.
TEST_F(MapiMessageTest, DraftCopiedSubmittedAndDeleted) {
    std::string payload(70000, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<char>(i * 7 + 3);
    test::WriteFile(dir_.file("voice.kx1"), payload);

    MapiRef<IMessage> draft;
    ASSERT_EQ(inbox_->CreateMessage(nullptr, 0, draft.out()), S_OK);
    MapiRef<IStream> file;
    ASSERT_EQ(OpenStreamOnFile(MAPIAllocateBuffer, MAPIFreeBuffer, STGM_READ,
                               dir_.file("voice.kx1").c_str(), nullptr, file.out()),
              S_OK);
    MapiRef<IAttach> att;
    ULONG num = 0;
    ASSERT_EQ(draft->CreateAttach(nullptr, 0, &num, att.out()), S_OK);
    MapiRef<IUnknown> unk;
    ASSERT_EQ(att->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY,
                                unk.out()),
              S_OK);
    auto* data = dynamic_cast<IStream*>(unk.get());
    STATSTG st{};
    ASSERT_EQ(file->Stat(&st, STATFLAG_NONAME), S_OK);
    ASSERT_EQ(st.cbSize, payload.size());
    ASSERT_EQ(file->CopyTo(data, st.cbSize, nullptr, nullptr), S_OK);
    SPropValue ap[4] = {};
    ap[0].ulPropTag = PR_ATTACH_FILENAME;
    ap[0].Value.lpszA = const_cast<char*>("voice.kx1");
    ap[1].ulPropTag = PR_ATTACH_PATHNAME;
    ap[1].Value.lpszA = const_cast<char*>("/x/voice.kx1");
    ap[2].ulPropTag = PR_ATTACH_METHOD;
    ap[2].Value.l = ATTACH_BY_VALUE;
    ap[3].ulPropTag = PR_RENDERING_POSITION;
    ap[3].Value.l = -1;
    ASSERT_EQ(att->SetProps(4, ap, nullptr), S_OK);
    ASSERT_EQ(att->SaveChanges(0), S_OK);
    unk.reset();
    att.reset();
    setRecipients(draft.get(), {{"Bob <bob@example.org>", MAPI_TO},
                                {"carol@example.org", MAPI_TO},
                                {"dave@example.org", MAPI_BCC}});
    EXPECT_EQ(filesIn(inboxDir() + "/cur") + filesIn(inboxDir() + "/new"), 0u);

    SPropValue mp[3] = {};
    mp[0].ulPropTag = PR_SUBJECT;
    mp[0].Value.lpszA = const_cast<char*>("Grüße");
    mp[1].ulPropTag = PR_BODY;
    mp[1].Value.lpszA = const_cast<char*>("a note");
    mp[2].ulPropTag = PR_MESSAGE_FLAGS;
    mp[2].Value.l = MSGFLAG_READ | MSGFLAG_SUBMIT;
    ASSERT_EQ(draft->SetProps(3, mp, nullptr), S_OK);
    ASSERT_EQ(draft->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    EXPECT_EQ(filesIn(inboxDir() + "/cur"), 1u);  // a draft, flagged D
    EXPECT_EQ(filesIn(inboxDir() + "/tmp"), 0u);

    MapiRef<IMessage> out;
    ASSERT_EQ(outbox_->CreateMessage(nullptr, 0, out.out()), S_OK);
    ASSERT_EQ(draft->CopyTo(0, nullptr, nullptr, 0, nullptr, &IID_IMessage, out.get(), 0, nullptr),
              S_OK);
    written.clear();
    ASSERT_EQ(out->SubmitMessage(0), S_OK);
    ASSERT_EQ(written.size(), 1u);
    const OutgoingMail& m = written[0];
    EXPECT_EQ(m.fromAddress, "asa@example.org");
    EXPECT_EQ(m.subject, "Grüße");
    ASSERT_EQ(m.recipients.size(), 3u);
    EXPECT_EQ(m.recipients[0].name, "Bob");
    EXPECT_EQ(m.recipients[0].address, "bob@example.org");
    EXPECT_EQ(m.recipients[2].type, MAPI_BCC);
    ASSERT_EQ(m.attachments.size(), 1u);
    EXPECT_EQ(m.attachments[0].fileName, "voice.kx1");
    EXPECT_TRUE(m.attachments[0].data == payload);
    EXPECT_NE(m.messageId.find("@example.org>"), std::string::npos);

    SPropValue* eid = nullptr;
    ASSERT_EQ(HrGetOneProp(draft.get(), PR_ENTRYID, &eid), S_OK);
    draft.reset();
    ENTRYLIST one{1, &eid->Value.bin};
    EXPECT_EQ(inbox_->DeleteMessages(&one, 0, nullptr, MESSAGE_DIALOG), S_OK);
    EXPECT_EQ(inbox_->DeleteMessages(&one, 0, nullptr, MESSAGE_DIALOG), MAPI_E_NOT_FOUND);
    // The Outbox may not delete what is the Inbox's.
    EXPECT_EQ(outbox_->DeleteMessages(&one, 0, nullptr, 0), MAPI_E_NOT_FOUND);
    MAPIFreeBuffer(eid);
    EXPECT_EQ(filesIn(inboxDir() + "/cur"), 0u);
    WaitForSpooler();
    EXPECT_EQ(filesIn(sentDir() + "/cur"), 1u);  // /bin/true took it
    EXPECT_EQ(filesIn(outboxDir() + "/new"), 0u);
}

TEST_F(MapiMessageTest, SubmitRefusesWhatCannotBeSentAndLeavesNothing) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, ULONG>> people;
        HRESULT expected;
    } cases[] = {
        {"no recipients", {}, MAPI_E_NO_RECIPIENTS},
        {"a name without an address",
         {{"Bob", MAPI_TO}, {"c@example.org", MAPI_CC}},
         MAPI_E_NOT_FOUND},
    };
    for (const auto& c : cases) {
        MapiRef<IMessage> m;
        ASSERT_EQ(outbox_->CreateMessage(nullptr, 0, m.out()), S_OK);
        if (!c.people.empty())
            setRecipients(m.get(), c.people);
        EXPECT_EQ(m->SubmitMessage(0), c.expected) << c.what;
    }
    SetMailWriter(nullptr);
    MapiRef<IMessage> m;
    ASSERT_EQ(outbox_->CreateMessage(nullptr, 0, m.out()), S_OK);
    setRecipients(m.get(), {{"c@example.org", MAPI_TO}});
    EXPECT_EQ(m->SubmitMessage(0), MAPI_E_NO_SUPPORT);
    EXPECT_EQ(filesIn(outboxDir() + "/new") + filesIn(outboxDir() + "/tmp"), 0u);
}

class MapiSpoolTest : public MapiMessageTest {
  protected:
    std::string submit() override { return "/bin/sh " + dir_.file("submit.sh"); }
    void SetUp() override {
        test::WriteFile(dir_.file("submit.sh"), "cat > /dev/null; exit 0\n");
        MapiMessageTest::SetUp();
        WaitForSpooler();
    }
    void queue(int count) {
        for (int i = 0; i < count; ++i) {
            MapiRef<IMessage> m;
            ASSERT_EQ(outbox_->CreateMessage(nullptr, 0, m.out()), S_OK);
            setRecipients(m.get(), {{"c@example.org", MAPI_TO}});
            ASSERT_EQ(m->SubmitMessage(0), S_OK);
        }
        WaitForSpooler();
    }
};

std::vector<std::string> reports;

TEST_F(MapiSpoolTest, FailuresStayInTheOutboxReportedOnceThenGoOut) {
    struct Case {
        const char* script;
        const char* timeoutMs;
        const char* expected;
    } cases[] = {
        {"cat > /dev/null; echo 'msmtp: cannot connect' >&2; echo more >&2; exit 75\n", nullptr,
         "not sent: /bin/sh exited with status 75: msmtp: cannot connect"},
        {"exec sleep 30\n", "1000", "not sent: /bin/sh did not finish within 1 s"},
        {"exec /nonexistent/program\n", nullptr, "exited with status 127"},
    };
    SetSpoolReporter([](const std::string& text) { reports.push_back(text); });
    MapiProfile p;
    ASSERT_EQ(ReadMapiProfile("work", &p), S_OK);
    for (const auto& c : cases) {
        reports.clear();
        test::WriteFile(dir_.file("submit.sh"), c.script);
        ScopedEnv timeout("KORRIN_SUBMIT_TIMEOUT_MS",
                          c.timeoutMs ? std::optional<std::string>(c.timeoutMs) : std::nullopt);
        queue(1);  // the pass the submission starts fails and reports
        ASSERT_EQ(reports.size(), 1u) << c.script;
        EXPECT_NE(reports[0].find(c.expected), std::string::npos) << reports[0];
        SpoolResult again;
        ASSERT_EQ(SpoolOutbox(p, &again), S_OK);
        EXPECT_EQ(again.failed, 1u);
        EXPECT_EQ(again.left, 1u);
        EXPECT_EQ(reports.size(), 1u) << "reported a second time";

        test::WriteFile(dir_.file("submit.sh"), "cat > /dev/null; exit 0\n");
        SpoolResult done;
        ASSERT_EQ(SpoolOutbox(p, &done), S_OK);
        EXPECT_EQ(done.sent, 1u);
        EXPECT_EQ(done.left, 0u);
    }
    SetSpoolReporter(nullptr);
    std::vector<FolderEntry> sent;
    ASSERT_EQ(ListMapiFolder(p, "Sent", &sent), S_OK);
    ASSERT_EQ(sent.size(), 3u);
    for (const auto& e : sent)
        EXPECT_EQ(e.flags, "S");
}

TEST_F(MapiSpoolTest, TheCommandGetsTheMessageAndNoRecipients) {
    test::WriteFile(dir_.file("submit.sh"),
                    "cat > " + dir_.file("got") + "; echo \"$#\" > " + dir_.file("args") + "\n");
    queue(1);
    EXPECT_EQ(test::ReadFile(dir_.file("args")), "0\n");
    EXPECT_NE(test::ReadFile(dir_.file("got")).find("From: asa@example.org"), std::string::npos);
}

// A command that leaves a helper holding its error output (a mail system's queue runner) is
// done when it exits, not when the helper lets go.
TEST_F(MapiSpoolTest, TheCommandsEndCountsNotItsHelpers) {
    test::WriteFile(dir_.file("submit.sh"),
                    "sleep 30 & echo $! > " + dir_.file("helper") + "\ncat > /dev/null\n");
    ScopedEnv timeout("KORRIN_SUBMIT_TIMEOUT_MS", "20000");
    auto start = std::chrono::steady_clock::now();
    queue(1);
    auto took = std::chrono::steady_clock::now() - start;
    ::kill(std::stoi(test::ReadFile(dir_.file("helper"))), SIGKILL);
    EXPECT_LT(took, std::chrono::seconds(10));
    EXPECT_EQ(filesIn(sentDir() + "/cur"), 1u);
}

TEST_F(MapiSpoolTest, ASecondSpoolerKeepsOut) {
    MapiProfile p;
    ASSERT_EQ(ReadMapiProfile("work", &p), S_OK);
    LockFile other;
    ASSERT_TRUE(other.TryLock(root("work") + "/.korrin-spool.lock"));
    queue(1);
    SpoolResult r;
    ASSERT_EQ(SpoolOutbox(p, &r), S_OK);
    EXPECT_TRUE(r.locked);
    EXPECT_EQ(filesIn(outboxDir() + "/new"), 1u);
    other.Unlock();
    ASSERT_EQ(SpoolOutbox(p, &r), S_OK);
    EXPECT_EQ(r.sent, 1u);
}

TEST(DynLib, NamesAndLoading) {
    const std::pair<const char*, const char*> names[] = {
        {"Tolvlink.DLL", "libtolvlink.so"}, {"WAB32.dll", "libwab32.so"},
        {"Plain", "libplain.so"},           {"dir/Some.Dll", "libsome.so"},
        {"name.v2.DLL", "libname.v2.so"},
    };
    for (const auto& [in, out] : names)
        EXPECT_EQ(LibraryFileName(in), out) << in;

    TempDir dir;
    ASSERT_EQ(::symlink("/lib/x86_64-linux-gnu/libm.so.6", dir.file("libm.so").c_str()), 0);
    ScopedEnv libdir("KORRIN_LIBDIR", dir.path());
    HMODULE m = LoadLibrary("M.DLL");
    ASSERT_NE(m, nullptr) << DynLibLastError();
    EXPECT_EQ(LoadLibrary("m.dll"), m);
    auto cosine = reinterpret_cast<double (*)(double)>(GetProcAddress(m, "cos"));
    ASSERT_NE(cosine, nullptr);
    EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
    EXPECT_EQ(GetProcAddress(m, "NoSuchExport"), nullptr);
    EXPECT_FALSE(DynLibLastError().empty());
    EXPECT_EQ(LoadLibrary("Tolvlink-not-here.DLL"), nullptr);
    EXPECT_FALSE(DynLibLastError().empty());
}

}  // namespace
}  // namespace korrin::platform
