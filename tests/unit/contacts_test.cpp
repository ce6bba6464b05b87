// The address book's contents: vCard files as other programs write them, typed recipients,
// resolution, and the folder kept up to date while others change it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "helpers/TestSupport.h"
#include "platform/mapi/Contacts.h"
#include "platform/mapi/TypedRecipients.h"
#include "platform/mapi/VCard.h"

using namespace korrin::platform::mapi;

namespace {

struct TempFolder {
    std::string path;
    TempFolder() {
        char tmpl[] = "/tmp/contacts_test_XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempFolder() { std::system(("rm -rf '" + path + "'").c_str()); }
    void Write(const std::string& name, const std::string& text) const {
        std::ofstream(path + "/" + name, std::ios::binary) << text;
    }
};

std::string Card(const std::string& body, const std::string& version = "3.0") {
    return "BEGIN:VCARD\r\nVERSION:" + version + "\r\n" + body + "END:VCARD\r\n";
}

TEST(VCardRead, ValuesAsOtherProgramsWriteThem) {
    struct Case {
        const char* what;
        std::string text;
        std::string name;
        std::string address;
        std::string type;
    };
    const Case cases[] = {
        {"plain 3.0", Card("FN:Bob Builder\r\nEMAIL;TYPE=INTERNET,WORK:bob@example.org\r\n"),
         "Bob Builder", "bob@example.org", "WORK"},
        {"4.0 with a labelled group",
         Card("FN:Carol\r\nitem1.EMAIL;TYPE=X-other:c@example.org\r\nitem1.X-ABLABEL:other\r\n",
              "4.0"),
         "Carol", "c@example.org", "other"},
        {"label without type",
         Card("FN:Carol\r\nitem1.EMAIL:c@example.org\r\nITEM1.X-ABLABEL:Verein\r\n", "4.0"),
         "Carol", "c@example.org", "Verein"},
        {"folded line, LF ends",
         "BEGIN:VCARD\nVERSION:4.0\nFN:Ann\n  Marie\nEMAIL:a@x.org\nEND:VCARD\n", "Ann Marie",
         "a@x.org", ""},
        {"escapes", Card("FN:Doe\\, Jane\\; Dr.\\\\x\r\nEMAIL:j@x.org\r\n"), "Doe, Jane; Dr.\\x",
         "j@x.org", ""},
        {"quoted-printable with soft break",
         Card("FN;ENCODING=QUOTED-PRINTABLE;CHARSET=UTF-8:J=C3=B6rg M=\r\n=C3=BCller\r\n"
              "EMAIL;INTERNET;HOME:j@x.org\r\n",
              "2.1"),
         "Jörg Müller", "j@x.org", "HOME"},
        {"Latin-1 charset", Card("FN;CHARSET=ISO-8859-1:J\xF6rg\r\nEMAIL:j@x.org\r\n"), "Jörg",
         "j@x.org", ""},
        {"no FN: N's parts", Card("N:Builder;Bob;;Mr.;\r\nEMAIL:b@x.org\r\n"), "Mr. Bob Builder",
         "b@x.org", ""},
        {"newline escape and control characters become blanks",
         Card("FN:Eve\\nBcc: x@evil.example\x01\r\nEMAIL:eve@x.org\r\n"), "Eve Bcc: x@evil.example",
         "eve@x.org", ""},
        {"mailto and quoted parameter",
         Card("FN:M\r\nEMAIL;TYPE=\"work,voice\":mailto:m@x.org\r\n"), "M", "m@x.org",
         "work,voice"},
        {"byte order mark", "\xEF\xBB\xBF" + Card("FN:B\r\nEMAIL:b@x.org\r\n"), "B", "b@x.org", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const VCardFile f = ParseVCards(c.text);
        ASSERT_EQ(f.error, "");
        ASSERT_EQ(f.cards.size(), 1u);
        ASSERT_EQ(f.cards[0].emails.size(), 1u);
        EXPECT_EQ(f.cards[0].formattedName, c.name);
        EXPECT_EQ(f.cards[0].emails[0].address, c.address);
        EXPECT_EQ(f.cards[0].emails[0].type, c.type);
    }
}

TEST(VCardRead, DamagedFilesGiveNoCard) {
    const std::string good = Card("FN:A\r\nEMAIL:a@x.org\r\n");
    const std::string damaged[] = {
        "",
        "\r\n\r\n",
        "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:A\r\n",              // no END
        good + "BEGIN:VCARD\r\nBEGIN:VCARD\r\nEND:VCARD\r\n",  // card in a card
        good + "garbage\r\n",                                  // line without ':'
        "FN:outside\r\n" + good,                               // text outside a card
        Card("FN:A\r\n", "5.0"),                               // unknown version
        good.substr(0, 10) + std::string(1, '\0') + good,      // NUL byte
        "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n",
    };
    for (const auto& text : damaged) {
        const VCardFile f = ParseVCards(text);
        EXPECT_NE(f.error, "") << text;
        EXPECT_TRUE(f.cards.empty()) << text;
    }
}

TEST(VCardRead, SeveralCardsAndAddresses) {
    const VCardFile f =
        ParseVCards(Card("FN:A\r\nEMAIL:a1@x.org\r\nEMAIL:a2@x.org\r\nNICKNAME:ace,Al\r\n") +
                    "\r\n" + Card("FN:B\r\n", "4.0"));
    ASSERT_EQ(f.error, "");
    ASSERT_EQ(f.cards.size(), 2u);
    EXPECT_EQ(f.cards[0].emails.size(), 2u);
    EXPECT_EQ(f.cards[0].nicknames, (std::vector<std::string>{"ace", "Al"}));
    EXPECT_TRUE(f.cards[1].emails.empty());
}

TEST(VCardWrite, LongAndHostileValuesReadBack) {
    const std::string name = "Ünïcödé " + std::string(100, 'x') + ", Jr.; \\ \r\nBcc: e@x";
    const std::string text = WriteVCard4("urn:uuid:1", name, "u@x.org");
    for (std::size_t start = 0; start < text.size();) {
        const auto end = text.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        EXPECT_LE(end - start, 75u);
        start = end + 2;
    }
    const VCardFile f = ParseVCards(text);
    ASSERT_EQ(f.error, "");
    ASSERT_EQ(f.cards.size(), 1u);
    EXPECT_EQ(f.cards[0].formattedName,
              "Ünïcödé " + std::string(100, 'x') + ", Jr.; \\   Bcc: e@x");
    EXPECT_EQ(f.cards[0].emails.at(0).address, "u@x.org");
}

TEST(TypedRecipients, SplitAndNameAddressForms) {
    struct Case {
        std::string text;
        std::vector<std::string> pieces;
    };
    const Case cases[] = {
        {"Bob; carol@example.org", {"Bob", "carol@example.org"}},
        {"a,,b;;\tc;", {"a", "b", "c"}},
        {"\"Doe, Jane\" <jane@x.org>, Bob", {"\"Doe, Jane\" <jane@x.org>", "Bob"}},
        {"Odd <a,b@x.org>; c", {"Odd <a,b@x.org>", "c"}},
        {"\"unclosed, quote", {"\"unclosed, quote"}},
        {"  ", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplitTypedRecipients(c.text), c.pieces) << c.text;

    struct NameCase {
        std::string piece;
        bool ok;
        std::string name, address;
    };
    const NameCase names[] = {
        {"Carol Singer <carol@x.org>", true, "Carol Singer", "carol@x.org"},
        {"\"Doe, \\\"J\\\"\" <j@x.org>", true, "Doe, \"J\"", "j@x.org"},
        {"<only@x.org>", true, "", "only@x.org"},
        {"bare@x.org", false, "", ""},
        {"Name <>", false, "", ""},
        {"Name <a@x.org> tail", false, "", ""},
        {"Name <a b@x.org>", false, "", ""},
    };
    for (const auto& c : names) {
        std::string name, address;
        EXPECT_EQ(ParseNameAddress(c.piece, &name, &address), c.ok) << c.piece;
        if (c.ok) {
            EXPECT_EQ(name, c.name);
            EXPECT_EQ(address, c.address);
        }
    }
}

class ContactFolderTest : public ::testing::Test {
  protected:
    TempFolder dir;
    void SetUp() override {
        dir.Write("bob.vcf", Card("FN:Bob Builder\r\nNICKNAME:bobby\r\nEMAIL:bob@example.org\r\n"));
        dir.Write("bobs.vcf", Card("FN:Bobby Tables\r\nEMAIL:tables@example.org\r\n") +
                                  Card("FN:Bo\r\nEMAIL:bo@example.org\r\n", "4.0"));
        dir.Write("carol.VCF", Card("FN:Carol Ängström\r\nEMAIL;TYPE=work:carol@example.org\r\n"
                                    "EMAIL;TYPE=home:carol@home.example\r\n",
                                    "4.0"));
        dir.Write("dave.vcf", Card("FN:Dave\r\nEMAIL:dave@example.org\r\n"));
        dir.Write("notes.txt", Card("FN:Not A Card File\r\nEMAIL:n@x.org\r\n"));
    }
};

TEST_F(ContactFolderTest, ResolveName) {
    ContactFolder folder(dir.path);
    folder.Refresh();
    struct Case {
        std::string typed;
        Resolution::Kind kind;
        std::string address;
    };
    const Case cases[] = {
        {"Someone <someone@x.org>", Resolution::kItself, "someone@x.org"},
        {"stranger@x.org", Resolution::kItself, "stranger@x.org"},
        {"dave", Resolution::kContact, "dave@example.org"},       // exact name, any case
        {"  DAVE ", Resolution::kContact, "dave@example.org"},    // typed blanks ignored
        {"BOBBY", Resolution::kContact, "bob@example.org"},       // exact nickname beats
                                                                  // prefix of Bobby Tables
        {"bo", Resolution::kContact, "bo@example.org"},           // exact beats prefixes
        {"bob b", Resolution::kContact, "bob@example.org"},       // one prefix
        {"tables@", Resolution::kContact, "tables@example.org"},  // address prefix
        {"carol ängström", Resolution::kAmbiguous, ""},           // two addresses
        {"CAROL ÄNG", Resolution::kAmbiguous, ""},
        {"b", Resolution::kAmbiguous, ""},
        {"zed", Resolution::kNone, ""},
        {"not a card file", Resolution::kNone, ""},  // .txt is not read
        {"", Resolution::kNone, ""},
    };
    for (const auto& c : cases) {
        const Resolution r = folder.Resolve(c.typed);
        EXPECT_EQ(r.kind, c.kind) << c.typed;
        EXPECT_EQ(r.address, c.address) << c.typed;
    }
    EXPECT_EQ(folder.Resolve("dave").name, "Dave");
    EXPECT_EQ(folder.Resolve("Jo <j@x.org>").name, "Jo");
}

TEST_F(ContactFolderTest, SearchAndOrder) {
    ContactFolder folder(dir.path);
    folder.Refresh();
    std::vector<std::string> all;
    for (const auto* e : folder.Search(""))
        all.push_back(e->address);
    EXPECT_EQ(all, (std::vector<std::string>{"bo@example.org", "bob@example.org",
                                             "tables@example.org", "carol@home.example",
                                             "carol@example.org", "dave@example.org"}));
    EXPECT_EQ(folder.Search("ÄNGS").size(), 2u);
    EXPECT_EQ(folder.Search("obby").size(), 2u);  // a nickname and a name
    EXPECT_TRUE(folder.Search("nobody").empty());
}

TEST_F(ContactFolderTest, ChangesOfOthersAreSeenAtTheNextUse) {
    ContactFolder folder(dir.path);
    folder.Refresh();
    ASSERT_EQ(folder.Entries().size(), 6u);

    // Rewritten in place, added by rename, removed, damaged, grown beyond 4 MiB.
    dir.Write("dave.vcf", Card("FN:David\r\nEMAIL:dave@example.org\r\n"));
    dir.Write(".tmp-new", Card("FN:Eve\r\nEMAIL:eve@example.org\r\n"));
    ASSERT_EQ(rename((dir.path + "/.tmp-new").c_str(), (dir.path + "/eve.vcf").c_str()), 0);
    ASSERT_EQ(unlink((dir.path + "/bobs.vcf").c_str()), 0);
    dir.Write("carol.VCF", "BEGIN:VCARD\r\nFN:half written");
    dir.Write(
        "huge.vcf",
        Card("FN:Huge\r\nEMAIL:h@x.org\r\nNOTE:" + std::string(kMaxVCardFileSize, 'x') + "\r\n"));
    folder.Refresh();
    EXPECT_EQ(folder.Resolve("david").address, "dave@example.org");
    EXPECT_EQ(folder.Resolve("eve").address, "eve@example.org");
    EXPECT_EQ(folder.Resolve("bo").kind, Resolution::kContact);  // Bob Builder alone now
    EXPECT_EQ(folder.Entries().size(), 3u);
    const auto skipped = folder.Skipped();
    ASSERT_EQ(skipped.size(), 2u);
    EXPECT_EQ(skipped[0].file, "carol.VCF");
    EXPECT_NE(skipped[0].reason.find("damaged"), std::string::npos);
    EXPECT_EQ(skipped[1].file, "huge.vcf");
    EXPECT_EQ(skipped[1].reason, "larger than 4 MiB");

    // Mended: read again.
    dir.Write("carol.VCF", Card("FN:Carol\r\nEMAIL:carol@example.org\r\n"));
    folder.Refresh();
    EXPECT_EQ(folder.Resolve("carol").address, "carol@example.org");
    EXPECT_EQ(folder.Skipped().size(), 1u);
}

TEST(ContactFolder, MissingFolderThenCreated) {
    TempFolder dir;
    const std::string sub = dir.path + "/later/contacts";
    ContactFolder folder(sub);
    folder.Refresh();
    EXPECT_TRUE(folder.Entries().empty());
    std::string path, error;
    ASSERT_TRUE(folder.AddContact("New Person", " new@x.org ", &path, &error)) << error;
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    folder.Refresh();
    const Resolution r = folder.Resolve("new person");
    EXPECT_EQ(r.kind, Resolution::kContact);
    EXPECT_EQ(r.address, "new@x.org");

    EXPECT_FALSE(folder.AddContact("  ", "a@x.org", &path, &error));
    EXPECT_FALSE(folder.AddContact("A", "not an address", &path, &error));
    EXPECT_NE(error.find("not an e-mail address"), std::string::npos);
}

}  // namespace
