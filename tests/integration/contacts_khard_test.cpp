// The address book against a real contacts program: cards made with khard are found and
// listed as khard lists them, and a card the address book writes is listed by khard.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "helpers/TestSupport.h"
#include "platform/mapi/Contacts.h"

using namespace korrin;
using namespace korrin::platform::mapi;

namespace {

class ContactsKhardTest : public ::testing::Test {
  protected:
    test::TempDir dir_;
    std::string data_ = dir_.file("data");
    std::string book_ = data_ + "/korrin/contacts";
    std::map<std::string, std::string> env_{{"XDG_CONFIG_HOME", dir_.file("config")},
                                            {"XDG_DATA_HOME", data_},
                                            {"KORRIN_REGISTRY", dir_.file("registry.db")}};
    test::ScopedEnv dataHome_{"XDG_DATA_HOME", data_};

    void SetUp() override {
        struct stat st {};
        ASSERT_EQ(stat("/usr/bin/khard", &st), 0) << "khard is missing: scripts/install-deps.sh";
        for (const auto& d :
             {dir_.file("config"), dir_.file("config/khard"), data_, data_ + "/korrin", book_})
            ASSERT_EQ(mkdir(d.c_str(), 0700), 0) << d;
        test::WriteFile(
            dir_.file("config/khard/khard.conf"),
            "[addressbooks]\n[[book]]\npath = " + book_ + "\n[general]\ndefault_action = list\n");
    }

    void KhardNew(const std::string& yaml, const std::string& version) {
        test::WriteFile(dir_.file("new.yaml"), yaml);
        const auto r = test::Run({"/usr/bin/khard", "new", "-a", "book", "--vcard-version", version,
                                  "-i", dir_.file("new.yaml")},
                                 env_);
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    }

    // khard's rows, without the line that says what it searched for.
    std::string KhardRows(const std::string& text = "") {
        std::vector<std::string> argv{"/usr/bin/khard", "email", "--parsable"};
        if (!text.empty())
            argv.push_back(text);
        const auto r = test::Run(argv, env_);
        std::string rows;
        std::size_t start = 0;
        while (start < r.out.size()) {
            auto end = r.out.find('\n', start);
            if (end == std::string::npos)
                end = r.out.size();
            const std::string line = r.out.substr(start, end - start);
            if (!line.empty() && line.rfind("searching for", 0) != 0)
                rows += line + "\n";
            start = end + 1;
        }
        return rows;
    }

    test::RunResult Korrinctl(const std::vector<std::string>& args) {
        std::vector<std::string> argv{test::BuildDir() + "/korrinctl", "mapi", "contacts"};
        argv.insert(argv.end(), args.begin(), args.end());
        return test::Run(argv, env_);
    }
};

TEST_F(ContactsKhardTest, KhardCardsAreFoundAndListedAlike) {
    KhardNew(
        "First name : Bob\nLast name : Builder\nNickname : bobby\nEmail :\n"
        "    work : bob@example.org\n    home : bob.b@home.example\n",
        "3.0");
    KhardNew(
        "First name : Carol\nLast name : Ängström\nEmail :\n    work : carol@example.org\n"
        "    other : c2@example.org\n",
        "4.0");
    KhardNew("First name : Dave\nEmail :\n    work : dave@example.org\n", "3.0");
    const auto all = Korrinctl({});
    EXPECT_EQ(all.exitCode, 0) << all.err;
    EXPECT_EQ(all.out, KhardRows());
    EXPECT_EQ(all.err, "");
    EXPECT_NE(all.out.find("carol@example.org\tCarol Ängström\twork\n"), std::string::npos);

    const auto carol = Korrinctl({"ÄNGSTRÖM"});
    EXPECT_EQ(carol.exitCode, 0);
    EXPECT_EQ(carol.out, KhardRows("Ängström"));

    EXPECT_EQ(Korrinctl({"nobody"}).exitCode, 1);
    EXPECT_EQ(Korrinctl({"a", "b"}).exitCode, 2);

    ContactFolder folder(book_);
    folder.Refresh();
    EXPECT_EQ(folder.Resolve("bobby").kind, Resolution::kAmbiguous);  // two addresses
    EXPECT_EQ(folder.Resolve("dave").address, "dave@example.org");
    EXPECT_EQ(folder.Resolve("c2@").address, "c2@example.org");

    // khard refuses to list a folder with a damaged card; we list the rest and name it.
    test::WriteFile(book_ + "/broken.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Half\r\n");
    const auto damaged = Korrinctl({});
    EXPECT_EQ(damaged.exitCode, 0);
    EXPECT_EQ(damaged.out, all.out);
    EXPECT_NE(damaged.err.find(book_ + "/broken.vcf: damaged"), std::string::npos) << damaged.err;
}

TEST_F(ContactsKhardTest, CardWrittenHereIsListedByKhard) {
    ContactFolder folder(book_);
    std::string path, error;
    ASSERT_TRUE(folder.AddContact("Erin Q. Public, Jr.", "erin@example.org", &path, &error))
        << error;
    EXPECT_EQ(KhardRows(), "erin@example.org\tErin Q. Public, Jr.\tinternet\n");
}

}  // namespace
