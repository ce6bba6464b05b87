// The messaging layer's building blocks one by one: tables with their restrictions and
// positions, streams over memory and files, what messages keep across CopyTo, objects that
// outlive their session, stale Maildir temporaries, and the profile commands of korrinctl.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "helpers/TestSupport.h"
#include "platform/mapi/EntryId.h"
#include "platform/mapi/Maildir.h"
#include "platform/mapi/Mapi.h"
#include "platform/mapi/PropBag.h"

namespace korrin::platform {
namespace {

using mapi_detail::PropBag;
using mapi_detail::RowTable;
using test::ScopedEnv;
using test::TempDir;
namespace fs = std::filesystem;

SPropValue stringValue(ULONG tag, const char* s) {
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.lpszA = const_cast<char*>(s);
    return v;
}

SPropValue longValue(ULONG tag, std::int32_t l) {
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.l = l;
    return v;
}

std::vector<std::string> names(IMAPITable* t, const SRestriction* r) {
    SizedSPropTagArray<1> cols{1, {PR_DISPLAY_NAME}};
    SRowSet* rows = nullptr;
    std::vector<std::string> out;
    if (FAILED(HrQueryAllRows(t, AsTagArray(cols), r, nullptr, 0, &rows)))
        return {"failed"};
    for (ULONG i = 0; i < rows->cRows; ++i)
        out.push_back(PROP_TYPE(rows->aRow[i].lpProps[0].ulPropTag) == PT_STRING8
                          ? rows->aRow[i].lpProps[0].Value.lpszA
                          : "?");
    FreeProws(rows);
    return out;
}

TEST(MapiTable, RestrictionsSelectRows) {
    std::vector<PropBag> rows(4);
    const char* n[] = {"ann", "bob", "cid", "dee"};
    for (int i = 0; i < 4; ++i) {
        rows[i].SetString(PR_DISPLAY_NAME, n[i]);
        if (i != 3)
            rows[i].SetLong(PR_RECIPIENT_TYPE, i % 2 ? MAPI_CC : MAPI_TO);
    }
    MapiRef<IMAPITable> t(new RowTable(rows, {PR_DISPLAY_NAME}));
    SPropValue to = longValue(PR_RECIPIENT_TYPE, MAPI_TO);
    SPropValue bob = stringValue(PR_DISPLAY_NAME, "bob");
    SRestriction eqTo{}, neTo{}, exists{}, isBob{}, notBob{}, either{}, both{}, size{};
    eqTo.rt = RES_PROPERTY;
    eqTo.res.resProperty = {RELOP_EQ, PR_RECIPIENT_TYPE, &to};
    neTo.rt = RES_PROPERTY;
    neTo.res.resProperty = {RELOP_NE, PR_RECIPIENT_TYPE, &to};
    exists.rt = RES_EXIST;
    exists.res.resExist = {0, PR_RECIPIENT_TYPE, 0};
    isBob.rt = RES_PROPERTY;
    isBob.res.resProperty = {RELOP_EQ, PR_DISPLAY_NAME, &bob};
    notBob.rt = RES_NOT;
    notBob.res.resNot = {0, &isBob};
    SRestriction pair[2] = {eqTo, isBob};
    either.rt = RES_OR;
    either.res.resAnd = {2, pair};
    both.rt = RES_AND;
    both.res.resAnd = {2, pair};
    size.rt = 7;  // a size restriction: not offered
    struct Case {
        const char* what;
        const SRestriction* r;
        std::vector<std::string> expected;
    } cases[] = {
        {"none", nullptr, {"ann", "bob", "cid", "dee"}},
        {"equal", &eqTo, {"ann", "cid"}},
        {"not equal (and present)", &neTo, {"bob"}},
        {"exists", &exists, {"ann", "bob", "cid"}},
        {"not", &notBob, {"ann", "cid", "dee"}},
        {"or", &either, {"ann", "bob", "cid"}},
        {"and", &both, {}},
        {"unknown kind", &size, {"failed"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(names(t.get(), c.r), c.expected) << c.what;
}

TEST(MapiTable, RowsComeInPagesAndMissingColumnsAreMarked) {
    std::vector<PropBag> rows(5);
    for (int i = 0; i < 5; ++i)
        rows[i].SetLong(PR_ROWID, i);
    MapiRef<IMAPITable> t(new RowTable(rows, {PR_ROWID, PR_DISPLAY_NAME}));
    ULONG count = 0;
    ASSERT_EQ(t->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 5u);
    SRowSet* page = nullptr;
    ASSERT_EQ(t->QueryRows(2, 0, &page), S_OK);
    ASSERT_EQ(page->cRows, 2u);
    EXPECT_EQ(page->aRow[1].lpProps[0].Value.l, 1);
    EXPECT_EQ(page->aRow[1].lpProps[1].ulPropTag, CHANGE_PROP_TYPE(PR_DISPLAY_NAME, PT_ERROR));
    EXPECT_EQ(page->aRow[1].lpProps[1].Value.err, MAPI_E_NOT_FOUND);
    FreeProws(page);
    std::int32_t moved = 0;
    ASSERT_EQ(t->SeekRow(BOOKMARK_CURRENT, 10, &moved), S_OK);
    EXPECT_EQ(moved, 3);  // cut at the end
    ASSERT_EQ(t->QueryRows(2, 0, &page), S_OK);
    EXPECT_EQ(page->cRows, 0u);
    FreeProws(page);
    ASSERT_EQ(t->SeekRow(BOOKMARK_END, -1, &moved), S_OK);
    ASSERT_EQ(t->QueryRows(9, 0, &page), S_OK);
    ASSERT_EQ(page->cRows, 1u);
    EXPECT_EQ(page->aRow[0].lpProps[0].Value.l, 4);
    FreeProws(page);
    EXPECT_EQ(t->SeekRow(99, 0, nullptr), MAPI_E_INVALID_PARAMETER);
}

TEST(MapiProps, TypesKeptRefusedOrSkipped) {
    PropBag bag;
    SPropValue wide{};
    wide.ulPropTag = CHANGE_PROP_TYPE(PR_SUBJECT, PT_UNICODE);
    EXPECT_EQ(bag.Set(wide), MAPI_E_BAD_CHARWIDTH);
    SPropValue err{};
    err.ulPropTag = CHANGE_PROP_TYPE(PR_SUBJECT, PT_ERROR);
    EXPECT_EQ(bag.Set(err), S_FALSE);
    SPropValue badBin{};
    badBin.ulPropTag = PR_ENTRYID;
    badBin.Value.bin = {4, nullptr};
    EXPECT_EQ(bag.Set(badBin), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(bag.Set(stringValue(PR_SUBJECT, "één")), S_OK);
    EXPECT_EQ(bag.Set(stringValue(PR_SUBJECT, "twee")), S_OK);  // replaces
    ASSERT_EQ(bag.all().size(), 1u);
    ULONG n = 0;
    SPropValue* all = nullptr;
    ASSERT_EQ(bag.GetProps(nullptr, &n, &all), S_OK);
    ASSERT_EQ(n, 1u);
    EXPECT_STREQ(all[0].Value.lpszA, "twee");
    MAPIFreeBuffer(all);
}

TEST(MapiStreams, MemoryAndFile) {
    MapiRef<IStream> m;
    ASSERT_EQ(CreateMemoryStream(m.out()), S_OK);
    ULONG done = 0;
    ASSERT_EQ(m->Write("hello world", 11, &done), S_OK);
    std::uint64_t pos = 0;
    ASSERT_EQ(m->Seek(-5, STREAM_SEEK_END, &pos), S_OK);
    EXPECT_EQ(pos, 6u);
    char buf[16] = {};
    ASSERT_EQ(m->Read(buf, sizeof buf, &done), S_OK);
    EXPECT_EQ(std::string(buf, done), "world");
    EXPECT_EQ(m->Seek(-1, STREAM_SEEK_SET, &pos), MAPI_E_INVALID_PARAMETER);
    ASSERT_EQ(m->Seek(20, STREAM_SEEK_SET, &pos), S_OK);  // past the end: reads nothing
    ASSERT_EQ(m->Read(buf, 4, &done), S_OK);
    EXPECT_EQ(done, 0u);
    ASSERT_EQ(m->SetSize(5), S_OK);
    STATSTG st{};
    ASSERT_EQ(m->Stat(&st, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(st.cbSize, 5u);

    TempDir dir;
    MapiRef<IStream> f;
    ASSERT_EQ(OpenStreamOnFile(MAPIAllocateBuffer, MAPIFreeBuffer, STGM_CREATE | STGM_READWRITE,
                               dir.file("out").c_str(), nullptr, f.out()),
              S_OK);
    ASSERT_EQ(m->Seek(0, STREAM_SEEK_SET, nullptr), S_OK);
    std::uint64_t read = 0, written = 0;
    ASSERT_EQ(m->CopyTo(f.get(), 100, &read, &written), S_OK);
    EXPECT_EQ(read, 5u);
    EXPECT_EQ(written, 5u);
    ASSERT_EQ(f->Commit(0), S_OK);
    ASSERT_EQ(f->Stat(&st, STATFLAG_DEFAULT), S_OK);
    EXPECT_EQ(st.cbSize, 5u);
    EXPECT_STREQ(st.pwcsName, dir.file("out").c_str());
    MAPIFreeBuffer(st.pwcsName);
    EXPECT_EQ(test::ReadFile(dir.file("out")), "hello");

    struct Case {
        std::string path;
        HRESULT expected;
    } cases[] = {{dir.file("missing"), MAPI_E_NOT_FOUND},
                 {dir.path(), MAPI_E_NO_ACCESS},
                 {"", MAPI_E_INVALID_PARAMETER}};
    for (const auto& c : cases) {
        MapiRef<IStream> s;
        EXPECT_EQ(OpenStreamOnFile(MAPIAllocateBuffer, MAPIFreeBuffer, STGM_READ, c.path.c_str(),
                                   nullptr, s.out()),
                  c.expected)
            << c.path;
        EXPECT_FALSE(s);
    }
}

bool noWriter(const OutgoingMail&, int, std::string* why) {
    *why = "refused";
    return false;
}

class MapiObjectsTest : public test::RegistryTest {
  protected:
    void SetUp() override {
        MapiProfile p;
        p.name = "p";
        p.displayName = "P";
        p.address = "p@example.org";
        p.storeDir = dir_.file("store");
        p.submitCommand = "/bin/false";
        p.isDefault = true;
        ASSERT_EQ(WriteMapiProfile(p), S_OK);
        ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
        ASSERT_EQ(MAPILogonEx(0, "p", nullptr, 0, session_.out()), S_OK);
        std::string id = mapi_detail::EncodeEntryId({mapi_detail::EntryKind::kFolder, "p", "", ""});
        MapiRef<IUnknown> obj;
        ULONG type = 0;
        ASSERT_EQ(session_->OpenEntry(static_cast<ULONG>(id.size()),
                                      reinterpret_cast<const ENTRYID*>(id.data()), nullptr,
                                      MAPI_MODIFY, &type, obj.out()),
                  S_OK);
        folder_.reset(dynamic_cast<IMAPIFolder*>(obj.release()));
    }
    void TearDown() override {
        folder_.reset();
        session_.reset();
        WaitForSpooler();
        SetMailWriter(nullptr);
        MAPIUninitialize();
    }
    MapiRef<IMAPISession> session_;
    MapiRef<IMAPIFolder> folder_;
};

TEST_F(MapiObjectsTest, CopyToCarriesAttachmentsUnlessExcluded) {
    MapiRef<IMessage> a, b, c;
    ASSERT_EQ(folder_->CreateMessage(nullptr, 0, a.out()), S_OK);
    {
        MapiRef<IAttach> att;
        ASSERT_EQ(a->CreateAttach(nullptr, 0, nullptr, att.out()), S_OK);
        SPropValue v[2] = {stringValue(PR_ATTACH_FILENAME, "x.kx0"), {}};
        v[1].ulPropTag = PR_ATTACH_DATA_BIN;
        v[1].Value.bin = {3, reinterpret_cast<BYTE*>(const_cast<char*>("abc"))};
        ASSERT_EQ(att->SetProps(2, v, nullptr), S_OK);
        ASSERT_EQ(att->SaveChanges(0), S_OK);
    }
    {
        // An attachment never saved is not part of the message.
        MapiRef<IAttach> dropped;
        ASSERT_EQ(a->CreateAttach(nullptr, 0, nullptr, dropped.out()), S_OK);
    }
    SPropValue subject = stringValue(PR_SUBJECT, "s");
    ASSERT_EQ(a->SetProps(1, &subject, nullptr), S_OK);
    ASSERT_EQ(folder_->CreateMessage(nullptr, 0, b.out()), S_OK);
    ASSERT_EQ(folder_->CreateMessage(nullptr, 0, c.out()), S_OK);
    ASSERT_EQ(a->CopyTo(0, nullptr, nullptr, 0, nullptr, &IID_IMessage, b.get(), 0, nullptr), S_OK);
    SizedSPropTagArray<2> skip{2, {PROP_TAG(PT_OBJECT, 0x0E13), PR_SUBJECT}};
    ASSERT_EQ(
        a->CopyTo(0, nullptr, AsTagArray(skip), 0, nullptr, &IID_IMessage, c.get(), 0, nullptr),
        S_OK);
    struct Case {
        IMessage* m;
        ULONG attachments;
        bool subject;
    } cases[] = {{b.get(), 1, true}, {c.get(), 0, false}};
    for (const auto& k : cases) {
        MapiRef<IMAPITable> t;
        ASSERT_EQ(k.m->GetAttachmentTable(0, t.out()), S_OK);
        ULONG n = 0;
        t->GetRowCount(0, &n);
        EXPECT_EQ(n, k.attachments);
        SPropValue* v = nullptr;
        EXPECT_EQ(SUCCEEDED(HrGetOneProp(k.m, PR_SUBJECT, &v)), k.subject);
        MAPIFreeBuffer(v);
    }
    MapiRef<IAttach> back;
    ASSERT_EQ(b->OpenAttach(0, nullptr, 0, back.out()), S_OK);
    SPropValue* data = nullptr;
    ASSERT_EQ(HrGetOneProp(back.get(), PR_ATTACH_DATA_BIN, &data), S_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data->Value.bin.lpb), data->Value.bin.cb), "abc");
    MAPIFreeBuffer(data);
    // Opened without MAPI_MODIFY it stays as it is.
    EXPECT_EQ(back->SetProps(1, &subject, nullptr), MAPI_E_NO_ACCESS);
    EXPECT_EQ(b->OpenAttach(5, nullptr, 0, back.out()), MAPI_E_NOT_FOUND);
}

TEST_F(MapiObjectsTest, AFailedWriteLeavesNoFileAndObjectsOutliveTheirSession) {
    SetMailWriter(&noWriter);
    MapiRef<IMessage> m;
    ASSERT_EQ(folder_->CreateMessage(nullptr, 0, m.out()), S_OK);
    EXPECT_EQ(m->SaveChanges(0), MAPI_E_CALL_FAILED);
    for (const char* sub : {"/tmp", "/new", "/cur"})
        EXPECT_TRUE(fs::is_empty(dir_.file("store") + sub)) << sub;
    session_->Logoff(0, MAPI_LOGOFF_UI, 0);
    MapiRef<IMAPITable> t;
    EXPECT_EQ(folder_->GetContentsTable(0, t.out()), MAPI_E_END_OF_SESSION);
    EXPECT_EQ(m->SubmitMessage(0), MAPI_E_END_OF_SESSION);
}

TEST(MapiMaildirTemp, OnlyStaleTemporariesGo) {
    TempDir dir;
    ASSERT_TRUE(mapi_detail::EnsureMaildir(dir.file("m")));
    std::string tmp = dir.file("m") + "/.Outbox/tmp/";
    test::WriteFile(tmp + "old", "x");
    test::WriteFile(tmp + "new", "x");
    struct timeval twoDays[2] = {{std::time(nullptr) - 2 * 86400, 0},
                                 {std::time(nullptr) - 2 * 86400, 0}};
    ASSERT_EQ(::utimes((tmp + "old").c_str(), twoDays), 0);
    EXPECT_EQ(mapi_detail::RemoveStaleMaildirTemp(dir.file("m") + "/.Outbox", 36 * 3600), 1);
    EXPECT_FALSE(fs::exists(tmp + "old"));
    EXPECT_TRUE(fs::exists(tmp + "new"));
}

class KorrinctlMapiTest : public test::RegistryTest {
  protected:
    test::RunResult ctl(std::vector<std::string> args) {
        args.insert(args.begin(), {test::BuildDir() + "/korrinctl", "mapi"});
        return test::Run(args,
                         {{"KORRIN_REGISTRY", dbPath()}, {"XDG_DATA_HOME", dir_.file("data")}});
    }
};

TEST_F(KorrinctlMapiTest, ProfilesAddedListedAndRemoved) {
    struct Case {
        std::vector<std::string> args;
        int status;
    } refused[] = {
        {{"profile", "add", "x", "--name", "X"}, 2},
        {{"profile", "add", "x", "--name", "X", "--address", "no-at-sign"}, 2},
        {{"profile", "add", "x", "--name", "X", "--address", "x@e.org", "--store", "rel"}, 2},
        {{"profile", "add", "a\\b", "--name", "X", "--address", "x@e.org"}, 2},
        {{"profile", "add", "x", "--name", "X", "--address", "x@e.org", "--bogus", "1"}, 2},
        {{"profile", "remove", "nobody"}, 1},
        {{"outbox", "list"}, 1},  // no default profile yet
        {{"outbox", "list", "--profile"}, 2},
        {{"nothing"}, 2},
    };
    for (const auto& c : refused)
        EXPECT_EQ(ctl(c.args).exitCode, c.status) << c.args[0] << " " << c.args.back();

    ASSERT_EQ(ctl({"profile", "add", "work", "--name", "Ann", "--address", "ann@example.org",
                   "--submit", "/bin/true"})
                  .exitCode,
              0);
    ASSERT_EQ(ctl({"profile", "add", "home", "--name", "Ann", "--address", "a@home.example",
                   "--store", dir_.file("home-mail")})
                  .exitCode,
              0);
    auto list = ctl({"profile", "list"});
    EXPECT_EQ(list.out, "home\t\tAnn\ta@home.example\t" + dir_.file("data") + "/korrin/contacts\t" +
                            dir_.file("home-mail") + "\t/usr/sbin/sendmail -t -oi\n" +
                            "work\tdefault\tAnn\tann@example.org\t" + dir_.file("data") +
                            "/korrin/contacts\t" + dir_.file("data") + "/korrin/mail\t/bin/true\n");
    auto flushed = ctl({"outbox", "flush"});
    EXPECT_EQ(flushed.exitCode, 0) << flushed.err;
    EXPECT_EQ(flushed.out, "sent 0, failed 0, left 0\n");
    EXPECT_TRUE(fs::is_directory(dir_.file("data") + "/korrin/mail/.Outbox/new"));
    ASSERT_EQ(ctl({"profile", "remove", "work"}).exitCode, 0);
    // Its folders stay.
    EXPECT_TRUE(fs::is_directory(dir_.file("data") + "/korrin/mail/.Sent"));
    EXPECT_EQ(ctl({"profile", "list"}).out.find("work"), std::string::npos);
}

}  // namespace
}  // namespace korrin::platform
