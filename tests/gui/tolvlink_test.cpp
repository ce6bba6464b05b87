// The MAPI support library loaded by name as the program loads it, over the messaging layer
// with profiles and Maildir folders in the test's own directory: its exports, the profile
// choice through dialog 140, the address lists, and sending a file into the Outbox.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "helpers/GuiSupport.h"
#include "helpers/MapiStandIns.h"
#include "helpers/SmtpServer.h"
#include "helpers/TestSupport.h"
#include "helpers/WaveSupport.h"
#include "korrin/app/Defaults.h"
#include "korrin/app/Utils.h"
#include "korrin/mail/TolvlinkBinding.h"
#include "korrin/store/Trailer.h"
#include "platform/dynlib/DynLib.h"
#include "platform/registry/Registry.h"
#include "platform/ui/ProgramEnd.h"

using namespace korrin;
using namespace korrin::platform;
using namespace korrin::test;

namespace {

constexpr int kProfileDlg = 140, kListId = 1044, kAlwaysId = 1045, kPromptId = 1046;
constexpr const char* kNoProfiles =
    "There are no profiles defined. MAPI requires one to run. Define at least one profile and "
    "try again.";

class TolvlinkTest : public RegistryTest {
  protected:
    void SetUp() override {
        RegKeyGuard key;
        ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, key.out()), ERROR_SUCCESS);
        SetProgramEndHandler([this] { ++endRequests_; });
        binding_ = std::make_unique<CTolvlinkBinding>(nullptr);
        ASSERT_EQ(binding_->Load(), 0) << DynLibLastError();
        // After the load: the library installs the contacts' book when it is loaded.
        SetAddressBookFactory(&StandInAddressBook::Make);
    }
    void TearDown() override {
        WaitForSpooler();
        SetProgramEndHandler({});
        SetAddressBookFactory(nullptr);
    }

    void addProfile(const std::string& name, const std::string& who, bool isDefault,
                    const std::string& submit = "/bin/false") {
        MapiProfile p;
        p.name = name;
        p.displayName = who;
        p.address = name + "@example.org";
        p.storeDir = dir_.file("mail-" + name);
        p.contactsDir = dir_.file("contacts");
        p.submitCommand = submit;  // by default messages stay in the Outbox
        p.isDefault = isDefault;
        ASSERT_EQ(WriteMapiProfile(p), S_OK);
    }
    void setDword(const char* name, DWORD v) { CUtils().SetRegistryDword(kKorrinKey, name, v); }
    std::string stored(const char* name) {
        std::string v;
        CUtils().GetRegistryString(kKorrinKey, name, v, 256);
        return v;
    }
    std::optional<DWORD> storedDword(const char* name) {
        DWORD v = 0;
        if (!CUtils().GetRegistryDword(kKorrinKey, name, v))
            return std::nullopt;
        return v;
    }
    // The identity of the current session, or "" when there is none.
    std::string identity() {
        char name[256] = {}, address[256] = {};
        char* n = name;
        char* a = address;
        binding_->GetMapiIdentity(&n, &a);
        return std::string(name) + " <" + address + ">";
    }
    std::vector<std::string> logged(const char* kind) {
        std::vector<std::string> out;
        for (const auto& line : ReadLines(dir_.file("log")))
            if (JsonField(line, "kind") == kind)
                out.push_back(JsonField(line, "text"));
        return out;
    }
    // Answers dialog 140 with a profile and a prompt choice (0: keep what it shows), or Cancel.
    void answerProfileDialog(const std::string& pick, int radio = 0, bool ok = true,
                             std::string* shown = nullptr) {
        WhenShown(QStringLiteral("dialog_%1").arg(kProfileDlg), [=](QWidget* w) {
            auto* list = GetDlgItemAs<QComboBox>(w, kListId);
            if (shown)
                *shown = list->currentText().toStdString() + "|" +
                         (GetDlgItemAs<QAbstractButton>(w, kPromptId)->isChecked() ? "prompt"
                                                                                   : "always");
            if (!pick.empty())
                list->setCurrentIndex(list->findText(QString::fromStdString(pick)));
            if (radio)
                Click(w, radio);
            Click(w, ok ? IDOK : IDCANCEL);
        });
    }
    void start() { binding_->StartTolvlink(kKorrinKey, nullptr); }

    ScopedEnv log_{"KORRIN_MESSAGE_LOG", dir_.file("log")};
    ScopedEnv answers_{"KORRIN_MESSAGE_ANSWERS", ""};
    std::unique_ptr<CTolvlinkBinding> binding_;
    int endRequests_ = 0;
};

TEST_F(TolvlinkTest, TheLibraryExportsExactlyItsTenFunctions) {
    const RunResult r =
        korrin::test::Run({"/usr/bin/nm", "-D", "--defined-only", BuildDir() + "/libtolvlink.so"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::set<std::string> names;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        const auto blank = line.find_last_of(' ');
        names.insert(line.substr(blank + 1));
    }
    const std::set<std::string> ten = {
        "StartTolvlink",   "GetMapiAddress", "ProcessMapiAdrList", "SendMapiTolvMessage",
        "GetMapiIdentity", "FixMapiAdrList", "GetMapiProfile",     "GetDisplayName",
        "GetProfileNames", "SendDlg"};
    EXPECT_EQ(names, ten);
}

TEST_F(TolvlinkTest, WithoutAStoredChoiceTheDialogAsksAndTheChoiceIsUsed) {
    addProfile("home", "Ann Home", true);
    addProfile("work", "Ann Work", false);
    std::string shown;
    answerProfileDialog("work", 0, true, &shown);
    start();
    EXPECT_EQ(shown, "home|prompt");  // the first entry, and "Prompt Profile" taken as 1
    EXPECT_EQ(identity(), "Ann Work <work@example.org>");
    EXPECT_EQ(stored("Profile"), "work");
    EXPECT_EQ(storedDword("Prompt Profile"), 1u);
}

TEST_F(TolvlinkTest, AStoredProfileWithoutPromptLogsOnWithoutAsking) {
    addProfile("home", "Ann Home", true);
    addProfile("work", "Ann Work", false);
    setDword("Prompt Profile", 0);
    CUtils().SetRegistryString(kKorrinKey, "Profile", "work");
    start();  // a dialog would block here: the test would time out
    EXPECT_EQ(identity(), "Ann Work <work@example.org>");
    EXPECT_EQ(VisibleTopLevelCount(QStringLiteral("dialog_140")), 0);
}

TEST_F(TolvlinkTest, NoStoredProfileAsksAndLogsOnWithTheNameJustChosen) {
    addProfile("home", "Ann Home", true);
    addProfile("work", "Ann Work", false);
    setDword("Prompt Profile", 0);
    answerProfileDialog("work", kAlwaysId);
    start();
    EXPECT_EQ(identity(), "Ann Work <work@example.org>");
    EXPECT_EQ(stored("Profile"), "work");
    EXPECT_EQ(storedDword("Prompt Profile"), 0u);
    EXPECT_EQ(endRequests_, 0);
}

TEST_F(TolvlinkTest, NoStoredProfileAndCancelEndsTheProgramTheOrdinaryWay) {
    addProfile("home", "Ann Home", true);
    setDword("Prompt Profile", 0);
    answerProfileDialog("", 0, false);
    start();
    EXPECT_EQ(endRequests_, 1);  // the process is still here: no exit()
    EXPECT_EQ(stored("Profile"), "");
    EXPECT_EQ(identity(), " <>");  // no logon
}

TEST_F(TolvlinkTest, NoProfileAtAllTellsSoAndEndsTheProgram) {
    start();
    EXPECT_EQ(endRequests_, 1);
    const auto boxes = logged("messagebox");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], kNoProfiles);
}

TEST_F(TolvlinkTest, WithoutANameOrADefaultTheLogonShowsTheProfileList) {
    addProfile("home", "Ann Home", false);
    addProfile("work", "Ann Work", false);
    answerProfileDialog("", 0, false);  // Cancel: the name stays empty
    WhenShown(QStringLiteral("mapi_profile_list"), [](QWidget* w) {
        auto* list = w->findChild<QListWidget*>(QStringLiteral("profiles"));
        list->setCurrentRow(1);
        qobject_cast<QDialog*>(w)->accept();
    });
    start();
    EXPECT_EQ(identity(), "Ann Work <work@example.org>");
}

TEST_F(TolvlinkTest, ChangeProfileWithOneProfileSelectsItAndStoresThePromptChoice) {
    addProfile("only", "Ann Only", true);
    setDword("Prompt Profile", 0);
    CUtils().SetRegistryString(kKorrinKey, "Profile", "gone");
    std::string shown;
    answerProfileDialog("", kPromptId, true, &shown);
    EXPECT_EQ(binding_->GetMapiProfile(kKorrinKey), 0);
    EXPECT_EQ(shown, "only|always");
    EXPECT_EQ(stored("Profile"), "only");
    EXPECT_EQ(storedDword("Prompt Profile"), 1u);
}

TEST_F(TolvlinkTest, IdentityIsCutToItsBufferOnACharacterBoundary) {
    std::string longName;
    for (int i = 0; i < 200; ++i)
        longName += "\xC3\xA9";  // 400 bytes
    addProfile("home", longName, true);
    setDword("Prompt Profile", 0);
    CUtils().SetRegistryString(kKorrinKey, "Profile", "home");
    start();
    char name[256];
    char address[256];
    std::fill(std::begin(name), std::end(name), '#');
    char* n = name;
    char* a = address;
    EXPECT_EQ(binding_->GetMapiIdentity(&n, &a), 0);
    EXPECT_EQ(std::string(name), longName.substr(0, 254));
    EXPECT_EQ(std::string(address), "home@example.org");
}

// The lookup with a logon and an address book of its own: the one entry chosen, its name cut on
// a character boundary, or a cancel that leaves the caller's buffers alone.
TEST_F(TolvlinkTest, TheDisplayNameLookUpGivesTheOneEntryChosen) {
    addProfile("home", "Ann Home", true);
    auto lookUp = reinterpret_cast<GetDisplayNameFn>(
        GetProcAddress(LoadLibrary(kTolvlinkLibrary), "GetDisplayName"));
    ASSERT_TRUE(lookUp);
    std::string longName;
    for (int i = 0; i < 200; ++i)
        longName += "\xC3\xA9";  // 400 bytes
    struct Case {
        std::vector<StandInAddressBook::Pick> choice;
        std::int32_t result;
        std::string name, address;
    } cases[] = {
        {{{MAPI_TO, "Bob", "bob@example.org"}}, 0, "Bob", "bob@example.org"},
        {{{MAPI_TO, longName, "e@example.org"}}, 0, longName.substr(0, 254), "e@example.org"},
        {{}, MAPI_E_USER_CANCEL, "(kept)", "(kept)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StandInAddressBook::choice = c.choice;
        char name[256] = "(kept)", address[256] = "(kept)";
        EXPECT_EQ(lookUp(nullptr, "home", nullptr, name, address), c.result);
        EXPECT_EQ(name, c.name);
        EXPECT_EQ(address, c.address);
        EXPECT_EQ(StandInAddressBook::lastCaption, "Browse Address Book");
        EXPECT_EQ(StandInAddressBook::lastFlags, DIALOG_MODAL | ADDRESS_ONE | AB_RESOLVE);
    }
    EXPECT_EQ(endRequests_, 0);
    EXPECT_TRUE(logged("messagebox").empty());
}

// A store whose folders cannot be made: the start still returns 0, the identity still comes from
// the profile, and a send fails with a report instead of storing or crashing.
TEST_F(TolvlinkTest, AStoreWithoutFoldersFailsTheSendWithAReport) {
    WriteFile(dir_.file("plain"), "not a folder");
    MapiProfile p;
    p.name = "broken";
    p.displayName = "Ann Broken";
    p.address = "broken@example.org";
    p.storeDir = dir_.file("plain/mail");
    p.contactsDir = dir_.file("contacts");
    p.submitCommand = "/bin/false";
    p.isDefault = true;
    ASSERT_EQ(WriteMapiProfile(p), S_OK);
    setDword("Prompt Profile", 0);
    CUtils().SetRegistryString(kKorrinKey, "Profile", "broken");
    EXPECT_EQ(binding_->StartTolvlink(kKorrinKey, nullptr), 0);
    EXPECT_EQ(identity(), "Ann Broken <broken@example.org>");
    const std::string file = dir_.file("KX2O.kx0");
    WriteFile(file, "RIFF....WAVE");
    std::string to = "Bob", cc, bcc;
    binding_->FixMapiAdrList(to.data(), cc.data(), bcc.data());
    EXPECT_NE(binding_->SendMapiTolvMessage("S", "N", file.c_str()), 0);
    const auto reports = logged("report");
    ASSERT_EQ(reports.size(), 1u) << ReadFile(dir_.file("log"));
    EXPECT_NE(reports[0].find("CreateMessage failed"), std::string::npos) << reports[0];
    EXPECT_EQ(ReadFile(file), "RIFF....WAVE");
    EXPECT_EQ(endRequests_, 0);
}

// ---- address lists and sending

class TolvlinkSendTest : public TolvlinkTest {
  protected:
    void SetUp() override {
        TolvlinkTest::SetUp();
        addProfile("home", "Ann Home", true);
        setDword("Prompt Profile", 0);
        CUtils().SetRegistryString(kKorrinKey, "Profile", "home");
        start();
        ASSERT_EQ(identity(), "Ann Home <home@example.org>");
    }
    void fix(std::string to, std::string cc = "", std::string bcc = "") {
        binding_->FixMapiAdrList(to.data(), cc.data(), bcc.data());
    }
    // The six lists; "(kept)" where the library left the pointer alone.
    std::vector<std::string> lists() {
        static char kept[] = "(kept)";
        char* p[6] = {kept, kept, kept, kept, kept, kept};
        binding_->ProcessMapiAdrList(&p[0], &p[1], &p[2], &p[3], &p[4], &p[5]);
        std::vector<std::string> out;
        for (char*& s : p) {
            out.emplace_back(s);
            if (s != kept)
                delete[] s;
        }
        return out;
    }
    std::string store(const char* folder = "") { return dir_.file("mail-home") + folder; }
};

TEST_F(TolvlinkSendTest, TypedRecipientsBecomeTheListsHandedBack) {
    struct Case {
        std::string to, cc, bcc;
        std::vector<std::string> lists;
    } cases[] = {
        {"Bob; carol@example.org, Dave",
         "",
         "",
         {"Bob; carol@example.org; Dave", "bob@example.org; carol@example.org; dave@example.org",
          "", "", "", ""}},
        {"Bob;;",
         ";Dave;",
         "x@example.org,",
         {"Bob", "bob@example.org", "Dave", "dave@example.org", "x@example.org", "x@example.org"}},
        // Unresolved: named, but no address to send to.
        {"Zed", "", "Bob", {"Zed", "", "", "", "Bob", "bob@example.org"}},
        {"", "", "", {"(kept)", "(kept)", "(kept)", "(kept)", "(kept)", "(kept)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.to + "|" + c.cc + "|" + c.bcc);
        fix(c.to, c.cc, c.bcc);
        EXPECT_EQ(lists(), c.lists);
    }
}

TEST_F(TolvlinkSendTest, LongNamesListsEndInDotsButAddressListsStayWhole) {
    std::string to;
    for (int i = 0; i < 300; ++i)
        to += "person" + std::to_string(i) + "@example.org;";
    fix(to);
    const auto l = lists();
    EXPECT_LE(l[0].size(), 4095u);
    EXPECT_EQ(l[0].substr(l[0].size() - 3), "...");
    EXPECT_EQ(std::count(l[1].begin(), l[1].end(), '@'), 300);
    EXPECT_EQ(l[1].substr(l[1].size() - 23), "; person299@example.org");
}

TEST_F(TolvlinkSendTest, AFileGoesIntoTheOutboxWithItsAttachmentAndNoDraftStays) {
    const std::string file = dir_.file("KX7O.kx0");
    std::string bytes;
    for (int i = 0; i < 3000; ++i)
        bytes += static_cast<char>(i * 7);
    WriteFile(file, bytes);
    fix("Bob", "", "Dave");
    EXPECT_EQ(binding_->SendMapiTolvMessage("Hello", "A note", file.c_str()), 0);
    WaitForSpooler();
    const auto outbox = MaildirMessages(store("/.Outbox"));
    ASSERT_EQ(outbox.size(), 1u);
    const std::string mail = ReadFile(outbox[0]);
    EXPECT_NE(mail.find("KX7O.kx0"), std::string::npos);
    EXPECT_NE(mail.find("Subject: Hello"), std::string::npos);
    EXPECT_TRUE(MaildirMessages(store()).empty());  // the draft is gone
    EXPECT_EQ(ReadFile(file), bytes);               // the caller's file is untouched
}

TEST_F(TolvlinkSendTest, FailuresStopBeforeAnythingIsStored) {
    struct Case {
        const char* to;
        bool fileExists;
        std::string box;
    } cases[] = {
        {"Bob", false, "Can't Open File"},
        {"Bob, Zed", true, "No e-mail address for \"Zed\""},
        {"", true, "No recipients specified"},
    };
    const std::string present = dir_.file("present.kx0");
    WriteFile(present, "RIFF");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.to);
        std::remove(dir_.file("log").c_str());
        fix(c.to);
        const std::string path = c.fileExists ? present : dir_.file("missing.kx0");
        EXPECT_NE(binding_->SendMapiTolvMessage("S", "N", path.c_str()), 0);
        const auto boxes = logged("messagebox");
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].substr(0, c.box.size()), c.box);
        WaitForSpooler();
        EXPECT_TRUE(MaildirMessages(store()).empty());
        EXPECT_TRUE(MaildirMessages(store("/.Outbox")).empty());
    }
}

TEST_F(TolvlinkSendTest, TheAddressDialogFillsTheThreeFieldsWhole) {
    QWidget window;
    QLineEdit to(&window), cc(&window), bcc(&window);
    SetControlId(&to, 1022);
    SetControlId(&cc, 1028);
    SetControlId(&bcc, 1030);
    cc.setText("old");
    StandInAddressBook::choice = {{MAPI_TO, "Bob", "bob@example.org"},
                                  {MAPI_TO, "Carol", "carol@example.org"},
                                  {MAPI_BCC, "Dave", "dave@example.org"}};
    fix("Bob");
    binding_->GetMapiAddress(&window, 1022, 1028, 1030);
    EXPECT_EQ(StandInAddressBook::lastCaption, "Address Book");
    EXPECT_EQ(StandInAddressBook::lastFlags, DIALOG_MODAL | AB_RESOLVE);
    EXPECT_EQ(to.text(), "Bob; Carol");
    EXPECT_EQ(cc.text(), "");
    EXPECT_EQ(bcc.text(), "Dave");
    const auto l = lists();
    EXPECT_EQ(l[1], "bob@example.org; carol@example.org");
    EXPECT_EQ(l[5], "dave@example.org");
}

// The library's own test dialog 132, on a session of its own: Send without recipients says so
// and stays; "To:" fills the wells from the address book, "Browse" attaches a file, and Send
// hands the first file over with the fixed subject and body, then closes.
TEST_F(TolvlinkSendTest, TheTestDialogSendsItsFirstFileWithTheFixedTexts) {
    auto sendDlg =
        reinterpret_cast<SendDlgFn>(GetProcAddress(LoadLibrary(kTolvlinkLibrary), "SendDlg"));
    ASSERT_TRUE(sendDlg);
    const std::string file = dir_.file("KX1O.kx0");
    WriteFile(file, "RIFF....WAVE");
    WriteFile(dir_.file("answers"), file + "\n");
    ScopedEnv answers("KORRIN_FILE_ANSWERS", dir_.file("answers"));
    StandInAddressBook::choice = {{MAPI_TO, "Bob", "bob@example.org"},
                                  {MAPI_BCC, "Dave", "dave@example.org"}};
    std::string seen;
    int boxesBeforeTo = -1;
    WhenShown(QStringLiteral("dialog_132"), [&](QWidget* w) {
        seen = w->windowTitle().toStdString();
        Click(w, IDOK);  // no recipients yet
        boxesBeforeTo = static_cast<int>(logged("messagebox").size());
        Click(w, 1017);  // "To:"
        Click(w, 1003);  // "Browse"
        for (int id : {1001, 1004, 1002})
            seen += "|" + GetDlgItemAs<QLineEdit>(w, id)->text().toStdString();
        seen += "|" + std::to_string(GetDlgItemAs<QListWidget>(w, 1027)->count());
        Click(w, IDOK);
    });
    EXPECT_EQ(sendDlg(kKorrinKey), 0);
    EXPECT_EQ(seen, "Send Message via MAPI Transport|Bob||Dave|1");
    EXPECT_EQ(boxesBeforeTo, 1);
    const auto boxes = logged("messagebox");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind("No recipients specified", 0), 0u) << boxes[0];
    EXPECT_EQ(VisibleTopLevelCount(QStringLiteral("dialog_132")), 0);
    WaitForSpooler();
    const auto outbox = MaildirMessages(store("/.Outbox"));
    ASSERT_EQ(outbox.size(), 1u);
    const std::string mail = ReadFile(outbox[0]);
    for (const char* part : {"Subject: A great subject", "A great body", "KX1O.kx0"})
        EXPECT_NE(mail.find(part), std::string::npos) << part;
    EXPECT_TRUE(MaildirMessages(store()).empty());
}

// The whole way: typed recipients resolved, the file attached, the message submitted through
// msmtp to a real SMTP server, and filed into Sent.
TEST_F(TolvlinkTest, AMessageReachesTheServerOnceAndIsFiledInSent) {
    TempDir received;
    SmtpServer server(received.path());
    ASSERT_GT(server.port(), 0);
    addProfile("home", "Ann Home", true,
               "/usr/bin/msmtp --host=127.0.0.1 --port=" + std::to_string(server.port()) +
                   " --read-envelope-from -t -oi");
    setDword("Prompt Profile", 0);
    CUtils().SetRegistryString(kKorrinKey, "Profile", "home");
    start();
    // A message file as the program makes it: GSM audio and its envelope. The settings ask for
    // the copy that plays everywhere (the default), so it travels beside the file.
    const std::string file = dir_.file("KX9O.kx0");
    const std::vector<std::uint8_t> wave = GsmWave(2000);
    ASSERT_FALSE(wave.empty());
    WriteFile(file, std::string(wave.begin(), wave.end()));
    CMessageTrailer record;
    record.subject = "Voice";
    ASSERT_EQ(
        record.WriteNew(file, "Ann Home", "home@example.org", "Bob", "bob@example.org", "", ""), 0);
    std::string to = "Bob; carol@example.org", cc, bcc = "dave";
    binding_->FixMapiAdrList(to.data(), cc.data(), bcc.data());
    ASSERT_EQ(binding_->SendMapiTolvMessage("Voice", "Listen", file.c_str()), 0)
        << ReadFile(dir_.file("log"));
    const std::string store = dir_.file("mail-home");
    for (int i = 0; i < 300 && MaildirMessages(store + "/.Sent").empty(); ++i) {
        WaitForSpooler();
        usleep(100 * 1000);
    }
    const std::string envelope = ReadFile(received.file("mail1.json"));
    EXPECT_NE(envelope.find("\"home@example.org\""), std::string::npos) << envelope;
    for (const char* rcpt : {"bob@example.org", "carol@example.org", "dave@example.org"})
        EXPECT_NE(envelope.find(rcpt), std::string::npos) << rcpt;
    EXPECT_FALSE(std::ifstream(received.file("mail2.eml")).good());  // one mail only
    const RunResult mail = CheckMail(received.file("mail1.eml"), file);
    EXPECT_EQ(JsonField(mail.out, "same"), "same") << mail.out;
    EXPECT_EQ(JsonField(mail.out, "names"), "KX9O.kx0|KX9O.opus") << mail.out;
    EXPECT_EQ(JsonField(mail.out, "types").substr(JsonField(mail.out, "types").find('|') + 1),
              "audio/ogg")
        << mail.out;
    EXPECT_NE(JsonField(mail.out, "to").find("bob@example.org"), std::string::npos);
    EXPECT_EQ(mail.out.find("dave"), std::string::npos);  // Dave in the envelope only
    const RunResult folders =
        korrin::test::Run({kSystemPython, "-c",
                           "import mailbox,sys\n"
                           "m=mailbox.Maildir(sys.argv[1],create=False)\n"
                           "print(len(m),len(m.get_folder('Outbox')),len(m.get_folder('Sent')))",
                           store});
    EXPECT_EQ(folders.out, "0 0 1\n") << folders.err;
}

// The command line hands a file over by the same calls, with the profile's own contacts, and
// keeps the file whatever happens.
TEST_F(TolvlinkTest, KorrinctlHandsAFileOverAndKeepsIt) {
    addProfile("home", "Ann Home", true);
    ASSERT_EQ(system(("mkdir -p " + dir_.file("contacts")).c_str()), 0);
    WriteFile(dir_.file("contacts/bob.vcf"),
              "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Bob\r\nEMAIL:bob@example.org\r\nEND:VCARD\r\n");
    const std::string file = dir_.file("KX3O.kx0");
    WriteFile(file, "RIFF....WAVE");
    auto send = [&](const std::string& to, const std::string& path) {
        return korrin::test::Run({BuildDir() + "/korrinctl", "mapi", "send", "--to", to,
                                  "--subject", "S", path, "--profile", "home"});
    };
    const RunResult ok = send("Bob; carol@example.org", file);
    EXPECT_EQ(ok.exitCode, 0) << ok.err << ReadFile(dir_.file("log"));
    EXPECT_EQ(ok.out, "handed over\t" + file + "\n");
    const RunResult missing = send("Bob", dir_.file("gone.kx0"));
    EXPECT_EQ(missing.exitCode, 3);
    const RunResult unknown = send("Nobody", file);
    EXPECT_EQ(unknown.exitCode, 3);
    const auto boxes = logged("messagebox");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].rfind("Can't Open File", 0), 0u) << boxes[0];
    EXPECT_EQ(boxes[1].rfind("No e-mail address for \"Nobody\"", 0), 0u) << boxes[1];
    EXPECT_EQ(ReadFile(file), "RIFF....WAVE");
    EXPECT_EQ(MaildirMessages(dir_.file("mail-home/.Outbox")).size(), 1u);
    EXPECT_TRUE(MaildirMessages(dir_.file("mail-home")).empty());
}

}  // namespace
