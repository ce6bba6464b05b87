// The message builder: headers, recipients and address files, the two encodings, content
// types, the date and the whole MIME text, written to memory.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <future>
#include <set>

#include "helpers/TestSupport.h"
#include "korrin/mail/mailutil.h"
#include "platform/registry/Registry.h"

using namespace korrin;
using korrin::test::JsonField;
using korrin::test::ReadLines;
using korrin::test::ScopedEnv;
using korrin::test::WriteFile;

namespace {

class MailTest : public korrin::test::RegistryTest {
  protected:
    ScopedEnv log_{"KORRIN_MESSAGE_LOG", dir_.file("log")};
    ScopedEnv answers_{"KORRIN_MESSAGE_ANSWERS", "OK"};
    ScopedEnv mime_{"KORRIN_MIME_TYPES", dir_.file("mime.types")};
    ScopedEnv charset_{"MM_CHARSET", std::nullopt};
    ScopedEnv tmp_{"TMPDIR", dir_.path()};

    void SetUp() override { WriteFile(dir_.file("mime.types"), "audio/x-wav wav\n"); }

    static std::string Written(CMailUtil& m, int* rc = nullptr) {
        char* buf = nullptr;
        std::size_t size = 0;
        std::FILE* f = open_memstream(&buf, &size);
        int r = m.WriteOutMessage(f);
        std::fclose(f);
        std::string out(buf, size);
        std::free(buf);
        if (rc)
            *rc = r;
        return out;
    }
    std::vector<std::string> logLines() const { return ReadLines(dir_.file("log")); }
};

TEST_F(MailTest, HeadersReplaceInPlaceAppendAndFoldAfterSeventyFiveCharacters) {
    CMailUtil m;
    m.AddHeader("X-Sender", "a@b");
    m.SetSubject("first");
    m.AddHeader("x-sender", "c@d");  // names compare without regard to case
    m.SetSubject("second");
    ASSERT_EQ(m.headers().size(), 2u);
    EXPECT_EQ(m.headers()[0].second, "c@d");
    EXPECT_EQ(m.FindHeader("SUBJECT"), "second");
    EXPECT_EQ(m.FindHeader("Nope", "dflt"), "dflt");

    std::string longValue(76, 'x');
    m.AddHeader("Keywords", std::string(75, 'y'), HeaderMode::kAppend);
    m.AddHeader("Keywords", "z", HeaderMode::kAppend);  // 75 long: plain comma
    m.AddHeader("Keywords", "w", HeaderMode::kAppend);  // now 77: folded
    EXPECT_EQ(m.FindHeader("Keywords"), std::string(75, 'y') + ",z,\r\n\tw");
}

TEST_F(MailTest, SubjectAndHeaderValuesCannotStartHeadersOfTheirOwn) {
    CMailUtil m;
    m.SetSubject("Hi\r\nBcc: victim@x\nX-Evil: 1\r\r\n\r\nbody");
    EXPECT_EQ(m.FindHeader("Subject"), "Hi Bcc: victim@x X-Evil: 1 body");
    m.AddHeader("X-Mailer", "line one\r\n\tline two");  // a real fold stays
    EXPECT_EQ(m.FindHeader("X-Mailer"), "line one\r\n\tline two");
    m.AddHeader("Bad\r\nName:", "v");
    EXPECT_EQ(m.FindHeader("BadName"), "v");
    m.AddTextPart("body");
    std::string text = Written(m);
    EXPECT_EQ(text.find("\nBcc:"), std::string::npos);
    EXPECT_EQ(text.find("\nX-Evil"), std::string::npos);
}

TEST_F(MailTest, RecipientsFillHeadersAndTheBareAddressList) {
    CMailUtil m;
    EXPECT_EQ(m.AddTo("a1", "a1"), 0);
    EXPECT_EQ(m.AddTo(" b2", " b2"), 0);  // a piece of "a1; b2" keeps its blank in the name
    EXPECT_EQ(m.AddCc("", "Jo <jo1@x>"), 0);
    EXPECT_EQ(m.AddBcc("hidden@x"), 0);
    EXPECT_EQ(m.AddTo("Say \"hi\"", "q@x"), 0);
    m.AddTextPart("body");
    EXPECT_EQ(m.FindHeader("To"), "\"a1\" <a1>,\" b2\" <b2>,\"Say \\\"hi\\\"\" <q@x>");
    EXPECT_EQ(m.FindHeader("Cc"), "Jo <jo1@x>");
    EXPECT_EQ(m.recipients(), "a1,b2,jo1@x,hidden@x,q@x");
    EXPECT_EQ(Written(m).find("hidden"), std::string::npos);  // Bcc reaches no header
    EXPECT_EQ(m.SetSenderAddress("Jo <jo1>"), 0);
    EXPECT_EQ(m.FindHeader("X-Sender"), "jo1");
}

TEST_F(MailTest, RecipientsWithLineBreaksAreRefusedWhole) {
    CMailUtil m;
    EXPECT_EQ(m.AddTo("x", "a@b\r\nRCPT TO:<evil@x>"), CSMTPError::kLineBreak);
    EXPECT_EQ(m.AddCc("Name\nBcc: y", "c@d"), CSMTPError::kLineBreak);
    EXPECT_EQ(m.AddBcc("e@f\r"), CSMTPError::kLineBreak);
    EXPECT_EQ(m.SetSenderAddress("me@x\r\nRCPT TO:<z>"), CSMTPError::kLineBreak);
    EXPECT_EQ(m.error(), CSMTPError::kLineBreak);
    EXPECT_TRUE(m.recipients().empty());
    EXPECT_EQ(m.FindHeader("To", "none"), "none");
    EXPECT_EQ(m.FindHeader("X-Sender", "none"), "none");
    auto log = logLines();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(JsonField(log[0], "text"), "A recipient holds a line break and was refused.");
    EXPECT_EQ(JsonField(log[0], "source"), "mailutil");
}

TEST_F(MailTest, AddressFilesAddOneRecipientPerLineCutAtTheFirstStrangeCharacter) {
    WriteFile(dir_.file("list.txt"),
              "one@x\r\n"
              "Two Person <two@x>; comment\n"
              "\n"
              "   \n" +
                  std::string(130, 'l') + "\n" + "three@x\x01tail\n" + "@inner.txt\n");
    WriteFile(dir_.file("inner.txt"), "four@x\n");
    // A nested file is named without a folder (a '/' ends the line), so from the current one.
    std::string cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    CMailUtil m;
    EXPECT_EQ(m.AddTo("ignored", "@" + dir_.file("list.txt")), 0);
    EXPECT_EQ(m.recipients(), "one@x,two@x," + std::string(126, 'l') + ",three@x,four@x");
    EXPECT_EQ(m.FindHeader("To").substr(0, 31), "one@x,Two Person <two@x>,llllll");

    EXPECT_EQ(m.AddCc("", "@" + dir_.file("missing.txt")), CSMTPError::kAddressFile);
    WriteFile(dir_.file("self.txt"), "@self.txt\n");
    EXPECT_EQ(m.AddBcc("@self.txt"), CSMTPError::kAddressFile);  // names itself: ends
    std::filesystem::current_path(cwd);
}

// A folder or a pipe named as an address file is no list of addresses: the entry is refused
// (1), never taken as a list that adds nobody, and a pipe nobody writes to cannot hold the
// sender up.
TEST_F(MailTest, AddressFileThatIsAFolderOrAPipeIsRefused) {
    CMailUtil m;
    EXPECT_EQ(m.AddTo("", "@" + dir_.path()), CSMTPError::kAddressFile);
    EXPECT_EQ(m.error(), CSMTPError::kAddressFile);

    const std::string fifo = dir_.file("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Held open for writing here, so a reader that waits for lines waits until this closes.
    int writer = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    CMailUtil p;
    auto added = std::async(std::launch::async, [&] { return p.AddCc("", "@" + fifo); });
    const bool quick = added.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    ::close(writer);
    EXPECT_TRUE(quick) << "reading the pipe waited for a writer";
    EXPECT_EQ(added.get(), CSMTPError::kAddressFile);
    EXPECT_TRUE(p.recipients().empty());
}

// An address file is read whole or not at all: one over 1 MB is refused with a report, never
// cut, which would leave the people on its last lines out without a word.
TEST_F(MailTest, AddressFilesOverOneMegabyteAreRefusedWithAReport) {
    const std::size_t kMegabyte = 1 << 20;
    const std::string last = "last@x.test";
    struct Case {
        std::size_t size;
        int rc;
        const char* recipients;
    } cases[] = {
        {kMegabyte, 0, "last@x.test"},
        {kMegabyte + 1, CSMTPError::kAddressFile, ""},
        {3 * kMegabyte, CSMTPError::kAddressFile, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        WriteFile(dir_.file("big.txt"), std::string(c.size - last.size(), '\n') + last);
        CMailUtil m;
        EXPECT_EQ(m.AddTo("", "@" + dir_.file("big.txt")), c.rc);
        EXPECT_EQ(m.recipients(), c.recipients);
        if (c.rc != 0) {
            auto lines = logLines();
            ASSERT_FALSE(lines.empty());
            EXPECT_NE(JsonField(lines.back(), "text").find("larger than 1 MB"), std::string::npos)
                << lines.back();
        }
    }
}

TEST_F(MailTest, QuotedPrintableFollowsTheLineRules) {
    using mail::QuotedPrintable;
    EXPECT_EQ(QuotedPrintable("a=b\xE9\x01\tc"), "a=3Db=E9=01\tc=\r\n");
    std::string hundred(100, 'p');
    EXPECT_EQ(QuotedPrintable(hundred),
              std::string(73, 'p') + "=\r\n" + std::string(27, 'p') + "=\r\n");
    // Encoded bytes count three columns; the break comes once 73 is reached.
    EXPECT_EQ(QuotedPrintable(std::string(72, 'p') + "=="),
              std::string(72, 'p') + "=3D=\r\n=3D=\r\n");
    // CR LF passes; a lone LF becomes CR LF; a lone CR is encoded; blanks before a line end
    // are kept by a soft break.
    EXPECT_EQ(QuotedPrintable("x\r\ny\nz\rw"), "x\r\ny\r\nz=0Dw=\r\n");
    EXPECT_EQ(QuotedPrintable("end \r\nnext\t\n"), "end =\r\n\r\nnext\t=\r\n\r\n");
    EXPECT_EQ(QuotedPrintable(".\r\n"), ".\r\n");
    EXPECT_EQ(QuotedPrintable(""), "");
}

TEST_F(MailTest, Base64MakesLinesOfSeventySixCharacters) {
    auto enc = [](const std::string& in) {
        std::string out(mail::Base64OutputSize(in.size()), '\0');
        out.resize(mail::Base64Lines(reinterpret_cast<const std::uint8_t*>(in.data()), in.size(),
                                     out.data()));
        return out;
    };
    EXPECT_EQ(enc("abcd"), "YWJjZA==\r\n");
    EXPECT_EQ(enc("abcde"), "YWJjZGU=\r\n");
    EXPECT_EQ(enc(""), "");
    std::string bytes;
    for (int i = 0; i < 57 * 2 + 1; ++i)
        bytes += static_cast<char>(i * 7);
    std::string out = enc(bytes);
    ASSERT_EQ(out.size(), 76u + 2 + 76 + 2 + 4 + 2);
    EXPECT_EQ(out.substr(76, 2), "\r\n");
    EXPECT_EQ(out.substr(0, 8), "AAcOFRwj");
    EXPECT_EQ(out.substr(out.size() - 6), "Hg==\r\n");  // the last byte, 114 * 7 % 256 = 0x1E
}

TEST_F(MailTest, ContentTypesComeFromTheRegistryOrTheImageRule) {
    {
        platform::RegKeyGuard k;
        ASSERT_EQ(platform::RegCreateKeyEx(platform::HKEY_CLASSES_ROOT, ".kx1", k.out()), 0);
        std::string v = "application/x-korrin";
        ASSERT_EQ(platform::RegSetValueEx(k.get(), "Content Type", platform::REG_SZ,
                                          reinterpret_cast<const std::uint8_t*>(v.data()),
                                          static_cast<platform::DWORD>(v.size() + 1)),
                  0);
    }
    EXPECT_EQ(mail::ContentTypeFor("/o/KX1O.kx1"), "application/x-korrin; name=\"KX1O.kx1\"");
    EXPECT_EQ(mail::ContentTypeFor("/o/v.WAV"), "audio/x-wav; name=\"v.WAV\"");  // mime.types
    EXPECT_EQ(mail::ContentTypeFor("/o/KX2O.kx0"), "unknown/kx0; name=\"KX2O.kx0\"");
    EXPECT_EQ(mail::ContentTypeFor("/o/pic.JPEG"), "image/JPEG; name=\"pic.JPEG\"");
    EXPECT_EQ(mail::ContentTypeFor("/a.b/noext"), "unknown/unknown; name=\"noext\"");

    EXPECT_EQ(mail::ContentTypeLines("unknown/kx0; name=\"KX2O.kx0\""),
              "Content-type: unknown/kx0;\r\n\tname=\"KX2O.kx0\"\r\n");
    EXPECT_EQ(mail::ContentTypeLines("text;  a=b\"c\\; b=\"open"),
              "Content-type: text/unknown;\r\n\ta=\"b\\\"c\\\\\";\r\n\tb=\"open\"\r\n");
}

TEST_F(MailTest, DateFollowsTheZoneRuleAcrossTheDateLine) {
    const std::time_t t = 920387107;  // 2 Mar 1999 15:05:07 UTC
    auto at = [&](const char* tz) {
        ScopedEnv env("TZ", tz);
        tzset();
        std::string d = mail::Rfc822Date(t);
        return d;
    };
    EXPECT_EQ(at("CET-1"), "Tue, 2 Mar 1999 16:05:07 +0100");
    EXPECT_EQ(at("UTC0"), "Tue, 2 Mar 1999 15:05:07 GMT");
    EXPECT_EQ(at("EST5"), "Tue, 2 Mar 1999 10:05:07 -0500");
    EXPECT_EQ(at("XST-14"), "Wed, 3 Mar 1999 05:05:07 +1400");
    EXPECT_EQ(at("YST11:30"), "Tue, 2 Mar 1999 03:35:07 -1130");
    tzset();
}

TEST_F(MailTest, WrittenMessageHasHeadersPreamblePartsAndBoundaries) {
    WriteFile(dir_.file("KX7O.kx0"), "abcd");
    ScopedEnv cs("MM_CHARSET", "utf-8");
    CMailUtil m;
    m.SetSenderAddress("me@here");
    m.AddTo("a1", "a1");
    m.SetSubject("Hello");
    m.AddTextPart("Banner\r\n.\r\nnote");
    m.AddFilePart(dir_.file("KX7O.kx0"));
    int rc = -2;
    std::string text = Written(m, &rc);
    ASSERT_EQ(rc, 0);
    const std::string& b = m.boundary();
    ASSERT_EQ(b.rfind("PART.BOUNDARY.MU.", 0), 0u);
    std::string expected =
        "X-Sender: me@here\r\nTo: \"a1\" <a1>\r\nSubject: Hello\r\nMIME-Version: 1.0\r\n"
        "X-MailLibrary: Quillion mail library v6.0 (Korrin)\r\nFrom: me@here\r\n"
        "Content-type: multipart/mixed;\r\n\tboundary=" +
        b +
        "\r\n\r\n\r\n"
        "> THIS IS A MESSAGE IN 'MIME' FORMAT.  Your mail reader does not support MIME.\r\n"
        "> Some parts of this will be readable as plain text.\r\n"
        "> To see the rest, you will need to upgrade your mail reader.\r\n"
        "\r\n--" +
        b +
        "\r\nContent-type: text/plain; charset=utf-8\r\n"
        "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
        "Banner\r\n.\r\nnote=\r\n"
        "\r\n--" +
        b +
        "\r\nContent-type: unknown/kx0;\r\n\tname=\"KX7O.kx0\"\r\n"
        "Content-Disposition: attachment; filename=\"KX7O.kx0\"\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\nYWJjZA==\r\n"
        "\r\n--" +
        b + "--\r\n";
    EXPECT_EQ(text, expected);
}

TEST_F(MailTest, WritingFailsWithCodesAndNothingButHeadersWithoutParts) {
    CMailUtil empty;
    int rc = -2;
    std::string text = Written(empty, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(text, "");  // no parts: nothing written
    EXPECT_EQ(empty.FindHeader("From"), "(NULL)");

    CMailUtil m;
    m.AddFilePart(dir_.file("gone.kx0"));
    Written(m, &rc);
    EXPECT_EQ(rc, CSMTPError::kFileOpen);
    EXPECT_EQ(m.error(), CSMTPError::kFileOpen);

    // A stream that refuses writes: the failure is reported, not taken for success.
    WriteFile(dir_.file("a.kx0"), std::string(100000, 'a'));
    CMailUtil w;
    w.AddFilePart(dir_.file("a.kx0"));
    std::FILE* full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(w.WriteOutMessage(full), CSMTPError::kOther);
    std::fclose(full);
}

TEST_F(MailTest, TemporaryMessageFilesAreUniqueInTheTempFolder) {
    std::set<std::string> names;
    std::vector<std::FILE*> files;
    for (int i = 0; i < 5; ++i) {
        std::string path;
        std::FILE* f = CMailUtil::OpenTempMessageFile(path);
        ASSERT_NE(f, nullptr);
        files.push_back(f);
        EXPECT_EQ(path.rfind(dir_.path() + "/~mail", 0), 0u) << path;
        names.insert(path);
    }
    EXPECT_EQ(names.size(), 5u);
    for (auto* f : files)
        std::fclose(f);
    ScopedEnv gone("TMPDIR", dir_.file("no-such-folder"));
    std::string path;
    EXPECT_EQ(CMailUtil::OpenTempMessageFile(path), nullptr);
    EXPECT_EQ(JsonField(logLines().back(), "text"), "No temp path exists");
}

}  // namespace
