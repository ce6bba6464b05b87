// Submitting through the messaging layer as a user's mail setup does it: msmtp reads the
// recipients from the headers (-t) and hands the mail to a real SMTP server on 127.0.0.1; the
// store is read back with Python's mailbox module.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "helpers/MapiStandIns.h"
#include "helpers/SmtpServer.h"
#include "helpers/TestSupport.h"
#include "korrin/mail/MapiMail.h"
#include "platform/files/Files.h"
#include "platform/mapi/Mapi.h"

namespace korrin {
namespace {

using namespace platform;
using test::ScopedEnv;
using test::TempDir;
namespace fs = std::filesystem;

std::vector<std::string> reports;

std::string msmtp(int port) {
    return "msmtp --host=127.0.0.1 --port=" + std::to_string(port) + " --read-envelope-from -t -oi";
}

class MapiSubmitTest : public test::RegistryTest {
  protected:
    void SetUp() override {
        ASSERT_EQ(::access("/usr/bin/msmtp", X_OK), 0) << "msmtp is missing (install-deps)";
        InstallMapiMailWriter();
        reports.clear();
        SetSpoolReporter([](const std::string& t) { reports.push_back(t); });
        ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
    }
    void TearDown() override {
        WaitForSpooler();
        SetSpoolReporter(nullptr);
        SetMailWriter(nullptr);
        MAPIUninitialize();
    }
    void setProfile(const std::string& submit) {
        MapiProfile p;
        p.name = "mail";
        p.displayName = "Ann Example";
        p.address = "ann@example.org";
        p.storeDir = store();
        p.submitCommand = submit;
        p.isDefault = true;
        ASSERT_EQ(WriteMapiProfile(p), S_OK);
    }
    std::string store() { return dir_.file("mail"); }

    // The sequence a sending client runs: a draft in the receive folder with the file
    // attached, copied into a message of the Outbox, submitted, the draft deleted.
    void send(const std::vector<std::pair<std::string, ULONG>>& people, const std::string& subject,
              const std::string& file) {
        MapiRef<IMAPISession> s;
        ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_LOGON_UI | MAPI_NEW_SESSION, s.out()),
                  S_OK);
        MapiRef<IMsgStore> store;
        {
            MapiRef<IMAPITable> t;
            ASSERT_EQ(s->GetMsgStoresTable(0, t.out()), S_OK);
            SRowSet* rows = nullptr;
            ASSERT_EQ(HrQueryAllRows(t.get(), nullptr, nullptr, nullptr, 0, &rows), S_OK);
            const SBinary& id = rows->aRow[0].lpProps[0].Value.bin;
            ASSERT_EQ(s->OpenMsgStore(0, id.cb, reinterpret_cast<ENTRYID*>(id.lpb), nullptr,
                                      MDB_WRITE, store.out()),
                      S_OK);
            FreeProws(rows);
        }
        auto open = [&](ULONG tag) {
            SPropValue* v = nullptr;
            IUnknown* obj = nullptr;
            ULONG type = 0;
            if (tag == PR_NULL) {
                ULONG cb = 0;
                ENTRYID* id = nullptr;
                EXPECT_EQ(store->GetReceiveFolder("IPM.Note", 0, &cb, &id, nullptr), S_OK);
                EXPECT_EQ(s->OpenEntry(cb, id, nullptr, MAPI_MODIFY, &type, &obj), S_OK);
                MAPIFreeBuffer(id);
            } else {
                EXPECT_EQ(HrGetOneProp(store.get(), tag, &v), S_OK);
                EXPECT_EQ(
                    s->OpenEntry(v->Value.bin.cb, reinterpret_cast<ENTRYID*>(v->Value.bin.lpb),
                                 nullptr, MAPI_MODIFY, &type, &obj),
                    S_OK);
                MAPIFreeBuffer(v);
            }
            return dynamic_cast<IMAPIFolder*>(obj);
        };
        MapiRef<IMAPIFolder> inbox(open(PR_NULL));
        MapiRef<IMAPIFolder> outbox(open(PR_IPM_OUTBOX_ENTRYID));
        ASSERT_TRUE(inbox && outbox);

        MapiRef<IMessage> draft;
        ASSERT_EQ(inbox->CreateMessage(nullptr, 0, draft.out()), S_OK);
        {
            MapiRef<IStream> in;
            ASSERT_EQ(OpenStreamOnFile(MAPIAllocateBuffer, MAPIFreeBuffer, STGM_READ, file.c_str(),
                                       nullptr, in.out()),
                      S_OK);
            MapiRef<IAttach> att;
            ULONG num = 0;
            ASSERT_EQ(draft->CreateAttach(nullptr, 0, &num, att.out()), S_OK);
            MapiRef<IUnknown> unk;
            ASSERT_EQ(att->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, 0,
                                        MAPI_CREATE | MAPI_MODIFY, unk.out()),
                      S_OK);
            STATSTG st{};
            ASSERT_EQ(in->Stat(&st, STATFLAG_NONAME), S_OK);
            ASSERT_EQ(in->CopyTo(dynamic_cast<IStream*>(unk.get()), st.cbSize, nullptr, nullptr),
                      S_OK);
            std::string name = FileNamePart(file);
            SPropValue ap[2] = {};
            ap[0].ulPropTag = PR_ATTACH_FILENAME;
            ap[0].Value.lpszA = name.data();
            ap[1].ulPropTag = PR_ATTACH_METHOD;
            ap[1].Value.l = ATTACH_BY_VALUE;
            ASSERT_EQ(att->SetProps(2, ap, nullptr), S_OK);
            ASSERT_EQ(att->SaveChanges(0), S_OK);
        }
        ASSERT_EQ(test::SetTypedRecipients(draft.get(), people), S_OK);
        SPropValue mp[2] = {};
        mp[0].ulPropTag = PR_SUBJECT;
        mp[0].Value.lpszA = const_cast<char*>(subject.c_str());
        mp[1].ulPropTag = PR_BODY;
        mp[1].Value.lpszA = const_cast<char*>("A voice message.");
        ASSERT_EQ(draft->SetProps(2, mp, nullptr), S_OK);
        ASSERT_EQ(draft->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
        MapiRef<IMessage> out;
        ASSERT_EQ(outbox->CreateMessage(nullptr, 0, out.out()), S_OK);
        ASSERT_EQ(
            draft->CopyTo(0, nullptr, nullptr, 0, nullptr, &IID_IMessage, out.get(), 0, nullptr),
            S_OK);
        ASSERT_EQ(out->SubmitMessage(0), S_OK);
        SPropValue* eid = nullptr;
        ASSERT_EQ(HrGetOneProp(draft.get(), PR_ENTRYID, &eid), S_OK);
        draft.reset();
        ENTRYLIST one{1, &eid->Value.bin};
        EXPECT_EQ(inbox->DeleteMessages(&one, 0, nullptr, MESSAGE_DIALOG), S_OK);
        MAPIFreeBuffer(eid);
    }

    // Python's view of the store.
    std::string summary() {
        auto r = test::Run({test::kSystemPython, test::MailScript("maildir_summary.py"), store()});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return r.out;
    }
    std::string korrinctl(const std::vector<std::string>& args, int* status) {
        std::vector<std::string> argv = {test::BuildDir() + "/korrinctl", "mapi"};
        argv.insert(argv.end(), args.begin(), args.end());
        auto r = test::Run(argv, {{"KORRIN_REGISTRY", dbPath()}, {"HOME", dir_.path()}});
        *status = r.exitCode;
        return r.out + r.err;
    }

    ScopedEnv home_{"HOME", dir_.path()};  // no msmtp configuration of the user's
};

std::string attachmentFile(const TempDir& dir, std::size_t size) {
    std::string bytes(size, '\0');
    std::mt19937 rng(7);
    for (auto& c : bytes)
        c = static_cast<char>(rng());
    test::WriteFile(dir.file("memo.kx1"), bytes);
    return dir.file("memo.kx1");
}

TEST_F(MapiSubmitTest, OneMailFromTheIdentityBccInTheEnvelopeOnlyFiledInSent) {
    TempDir got;
    test::SmtpServer server(got.path());
    ASSERT_GT(server.port(), 0);
    setProfile(msmtp(server.port()));
    std::string file = attachmentFile(dir_, 150000);
    send({{"Bob <bob@example.org>", MAPI_TO},
          {"carol@example.org", MAPI_TO},
          {"dave@example.org", MAPI_BCC}},
         "Voice memo", file);
    WaitForSpooler();
    EXPECT_TRUE(reports.empty()) << reports[0];

    ASSERT_TRUE(fs::exists(got.file("mail1.eml")));
    EXPECT_FALSE(fs::exists(got.file("mail2.eml")));
    std::string envelope = test::ReadFile(got.file("mail1.json"));
    EXPECT_NE(envelope.find("\"from\": \"ann@example.org\""), std::string::npos) << envelope;
    for (const char* who : {"bob@example.org", "carol@example.org", "dave@example.org"})
        EXPECT_NE(envelope.find(who), std::string::npos) << who;
    std::string mail = test::ReadFile(got.file("mail1.eml"));
    EXPECT_EQ(mail.find("dave"), std::string::npos) << "Bcc left in the mail";
    auto check = test::CheckMail(got.file("mail1.eml"), file);
    ASSERT_EQ(check.exitCode, 0) << check.err;
    EXPECT_NE(check.out.find("\"same\""), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("Bob"), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("\"subject\":\"Voice memo\""), std::string::npos) << check.out;
    EXPECT_NE(mail.find("From: \"Ann Example\" <ann@example.org>"), std::string::npos);
    EXPECT_NE(mail.find("Message-ID: <"), std::string::npos);

    std::string s = summary();
    EXPECT_NE(s.find("\"folders\": [\"Outbox\", \"Sent\", \"Trash\"]"), std::string::npos) << s;
    EXPECT_NE(s.find("\"Sent\": [{\"flags\": \"S\", \"subject\": \"Voice memo\"}]"),
              std::string::npos)
        << s;
    EXPECT_NE(s.find("\"Inbox\": []"), std::string::npos) << s;
    EXPECT_NE(s.find("\"Outbox\": []"), std::string::npos) << s;
}

TEST_F(MapiSubmitTest, ServerDownStaysInOutboxWithOneReportThenAFlushDelivers) {
    auto down = std::make_unique<test::LoopbackSocket>(false);
    setProfile(msmtp(down->port()));
    send({{"carol@example.org", MAPI_TO}}, "Later", attachmentFile(dir_, 1000));
    WaitForSpooler();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("not sent: msmtp exited with status"), std::string::npos)
        << reports[0];
    EXPECT_NE(reports[0].find("msmtp: cannot connect to 127.0.0.1"), std::string::npos)
        << reports[0];
    // A second logon retries, and does not report the same message again.
    {
        MapiRef<IMAPISession> s;
        ASSERT_EQ(MAPILogonEx(0, "mail", nullptr, 0, s.out()), S_OK);
        WaitForSpooler();
    }
    EXPECT_EQ(reports.size(), 1u);
    EXPECT_NE(summary().find("\"Outbox\": [{\"flags\": \"\", \"subject\": \"Later\"}]"),
              std::string::npos);
    int status = 0;
    std::string listed = korrinctl({"outbox", "list"}, &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(listed.find("\tcarol@example.org\tLater\n"), std::string::npos) << listed;

    TempDir got;
    test::SmtpServer server(got.path());
    ASSERT_GT(server.port(), 0);
    setProfile(msmtp(server.port()));
    std::string out = korrinctl({"outbox", "flush", "--profile", "mail"}, &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("sent 1, failed 0, left 0"), std::string::npos) << out;
    EXPECT_TRUE(fs::exists(got.file("mail1.eml")));
    EXPECT_NE(summary().find("\"Sent\": [{\"flags\": \"S\", \"subject\": \"Later\"}]"),
              std::string::npos);
}

pid_t spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

// Flushes killed at random moments, half of the time together with the submit command they
// were running: afterwards every message is in the Outbox or in Sent exactly once, whole, and
// one more flush delivers all of them at least once.
TEST_F(MapiSubmitTest, KilledFlushesLoseAndBreakNothing) {
    TempDir got;
    test::SmtpServer server(got.path());
    ASSERT_GT(server.port(), 0);
    constexpr int kMessages = 12;
    setProfile("/bin/false");  // queue without sending
    for (int i = 0; i < kMessages; ++i)
        send({{"carol@example.org", MAPI_TO}}, "kill " + std::to_string(i),
             attachmentFile(dir_, 20000 + static_cast<std::size_t>(i)));
    WaitForSpooler();
    std::map<std::string, std::string> original;  // unique name -> bytes
    MapiProfile p;
    ASSERT_EQ(ReadMapiProfile("mail", &p), S_OK);
    std::vector<FolderEntry> queued;
    ASSERT_EQ(ListMapiFolder(p, "Outbox", &queued), S_OK);
    ASSERT_EQ(queued.size(), static_cast<std::size_t>(kMessages));
    for (const auto& e : queued)
        original[e.unique] = test::ReadFile(e.path);

    const std::string pids = dir_.file("pids");
    test::WriteFile(dir_.file("submit.sh"),
                    "echo $$ >> " + pids + "\nexec " + msmtp(server.port()) + "\n");
    setProfile("/bin/sh " + dir_.file("submit.sh"));
    ScopedEnv reg("KORRIN_REGISTRY", dbPath());
    std::mt19937 rng(2026);
    const std::vector<std::string> flush = {test::BuildDir() + "/korrinctl", "mapi", "outbox",
                                            "flush"};
    for (int i = 0; i < 100; ++i) {
        pid_t pid = spawn(flush);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 40));
        if (i % 2) {
            std::string all = test::ReadFile(pids);
            auto nl = all.find_last_of('\n', all.size() >= 2 ? all.size() - 2 : 0);
            std::string last = all.substr(nl == std::string::npos ? 0 : nl + 1);
            if (!last.empty())
                ::kill(std::stoi(last), SIGKILL);
        }
        ::kill(pid, SIGKILL);
        int st = 0;
        ::waitpid(pid, &st, 0);
    }
    // Submit commands of killed flushes may still be finishing.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    int status = 0;
    std::string out = korrinctl({"outbox", "flush"}, &status);
    EXPECT_EQ(status, 0) << out;

    std::vector<FolderEntry> sent, left;
    ASSERT_EQ(ListMapiFolder(p, "Sent", &sent), S_OK);
    ASSERT_EQ(ListMapiFolder(p, "Outbox", &left), S_OK);
    EXPECT_TRUE(left.empty());
    std::set<std::string> seen;
    for (const auto& e : sent) {
        EXPECT_TRUE(seen.insert(e.unique).second) << "twice in Sent: " << e.unique;
        ASSERT_TRUE(original.count(e.unique)) << e.unique;
        EXPECT_TRUE(test::ReadFile(e.path) == original[e.unique]) << "changed: " << e.unique;
    }
    EXPECT_EQ(seen.size(), original.size());
    std::string received;
    for (auto& f : fs::directory_iterator(got.path()))
        if (f.path().extension() == ".eml")
            received += test::ReadFile(f.path());
    for (const auto& [unique, bytes] : original) {
        std::vector<std::string> id;
        ReadMailHeaders(bytes, {"Message-ID"}, &id);
        ASSERT_FALSE(id[0].empty());
        EXPECT_NE(received.find(id[0]), std::string::npos) << "never delivered: " << unique;
    }
}

// Sends through the support library killed at random moments. A send's logon also flushes the
// Outbox, so submits are cut too. Afterwards every message is in the Outbox or in Sent once,
// whole; every send that finished is there; the caller's file is untouched; and one more flush
// delivers them all.
TEST_F(MapiSubmitTest, KilledSendsLoseAndBreakNothing) {
    TempDir got;
    test::SmtpServer server(got.path());
    ASSERT_GT(server.port(), 0);
    setProfile(msmtp(server.port()));
    ScopedEnv reg("KORRIN_REGISTRY", dbPath());
    std::mt19937 rng(2027);
    std::map<std::string, std::string> files;  // subject -> the file sent
    std::set<std::string> finished;
    // Sends killed after up to 1.5 times what one whole send takes here (far longer under the
    // sanitizers), so that some end before the kill and most are cut somewhere.
    auto sendOne = [&](int i, int killAfterMs) {
        const std::string subject = "send " + std::to_string(i);
        const std::string file = dir_.file("memo" + std::to_string(i) + ".kx1");
        std::string bytes(3000 + static_cast<std::size_t>(i) * 37, '\0');
        for (auto& c : bytes)
            c = static_cast<char>(rng());
        test::WriteFile(file, bytes);
        files[subject] = file;
        pid_t pid = spawn({test::BuildDir() + "/korrinctl", "mapi", "send", "--to",
                           "carol@example.org", "--subject", subject, file, "--profile", "mail"});
        ASSERT_GT(pid, 0);
        int st = 0;
        if (killAfterMs >= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(killAfterMs));
            ::kill(pid, SIGKILL);
        }
        ::waitpid(pid, &st, 0);
        if (WIFEXITED(st) && WEXITSTATUS(st) == 0)
            finished.insert(subject);
        EXPECT_TRUE(test::ReadFile(file) == bytes) << "the file of " << subject << " changed";
    };
    sendOne(0, -1);  // the first start also warms the caches
    const auto start = std::chrono::steady_clock::now();
    sendOne(1, -1);
    const auto whole = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
    ASSERT_EQ(finished.size(), 2u) << "a send that is not killed must hand over";
    for (int i = 2; i < 2 + test::KillRuns(100); ++i)
        sendOne(i, static_cast<int>(rng() % static_cast<unsigned>(whole * 3 / 2 + 1)));
    std::this_thread::sleep_for(std::chrono::seconds(2));  // submits of killed sends
    int status = 0;
    std::string out = korrinctl({"outbox", "flush", "--profile", "mail"}, &status);
    EXPECT_EQ(status, 0) << out;

    MapiProfile p;
    ASSERT_EQ(ReadMapiProfile("mail", &p), S_OK);
    std::vector<FolderEntry> sent, left;
    ASSERT_EQ(ListMapiFolder(p, "Sent", &sent), S_OK);
    ASSERT_EQ(ListMapiFolder(p, "Outbox", &left), S_OK);
    EXPECT_TRUE(left.empty());
    std::string received;
    for (auto& f : fs::directory_iterator(got.path()))
        if (f.path().extension() == ".eml")
            received += test::ReadFile(f.path());
    std::set<std::string> seen;
    for (const auto& e : sent) {
        SCOPED_TRACE(e.subject);
        EXPECT_TRUE(seen.insert(e.subject).second) << "twice in Sent";
        ASSERT_TRUE(files.count(e.subject));
        const auto check = test::CheckMail(e.path, files[e.subject]);
        EXPECT_EQ(test::JsonField(check.out, "same"), "same") << check.out << check.err;
        std::vector<std::string> id;
        ReadMailHeaders(test::ReadFile(e.path), {"Message-ID"}, &id);
        ASSERT_FALSE(id[0].empty());
        EXPECT_NE(received.find(id[0]), std::string::npos) << "never delivered";
    }
    for (const auto& subject : finished)
        EXPECT_TRUE(seen.count(subject)) << "handed over but lost: " << subject;
    std::printf("killed sends: %zu of %zu ended before the kill (one whole send: %lld ms)\n",
                finished.size(), files.size(), static_cast<long long>(whole));
    // Most runs must be cut, or the test proves nothing.
    EXPECT_LT(finished.size(), files.size() * 3 / 4);
}

}  // namespace
}  // namespace korrin
