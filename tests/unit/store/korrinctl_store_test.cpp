// korrinctl show and korrinctl folder list, run as a user would.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "korrin/store/Trailer.h"
#include "platform/Endian.h"
#include "unit/store/StoreFixture.h"

namespace korrin {
namespace {

using namespace test;

class KorrinctlStoreTest : public StoreTest {
  protected:
    RunResult ctl(const std::vector<std::string>& args,
                  const std::map<std::string, std::string>& env = {}) {
        std::vector<std::string> argv{BuildDir() + "/korrinctl"};
        argv.insert(argv.end(), args.begin(), args.end());
        return test::Run(argv, env);
    }
};

TEST_F(KorrinctlStoreTest, ShowPrintsTheEnvelope) {
    const std::string path = dir_.file("m.kx0");
    WriteFile(path, "RIFF");
    CMessageTrailer t;
    t.SetSubjectFromEdit("Caf\xE9");
    t.SetNoteFromEdit("call me");
    ASSERT_EQ(t.WriteNew(path, "Ann", "a@x", "Bob", "b@y", "Cy", "c@z"), 0);
    CMessageTrailer r;
    ASSERT_EQ(r.ReadAllAndStrip(path), 0);
    r.date = utcTime(1999, 3, 2, 16, 5);
    ASSERT_EQ(r.Rewrite(path), 0);

    RunResult out = ctl({"show", path});
    EXPECT_EQ(out.exitCode, 0) << out.err;
    for (const char* part : {"\"result\": 0", "\"revision\": 2", "\"senderName\": \"Ann\"",
                             "\"subject\": \"Caf\xC3\xA9\"", "\"note\": \"call me\"",
                             "\"date\": \"1999-03-02T16:05:00.000Z\"",
                             "\"longDate\": \"Tuesday, March 2, 1999 4:05 PM\"",
                             "\"shortDate\": \"Tue 3/2/1999 4:05 PM\"", "\"ccAddresses\": \"c@z\""})
        EXPECT_NE(out.out.find(part), std::string::npos) << part << "\n" << out.out;
    EXPECT_NE(out.out.find("\"length\": " + std::to_string(r.length)), std::string::npos);

    WriteFile(path, "plain audio" + std::string(4, '\0'));
    out = ctl({"show", path});
    EXPECT_EQ(out.exitCode, 1);
    EXPECT_NE(out.out.find("\"result\": 2"), std::string::npos);
}

// The file name is the user's own (UTF-8 on this system) and is printed as it is; only the
// texts inside the message are in the 8-bit code page.
TEST_F(KorrinctlStoreTest, ShowPrintsANonAsciiFileNameUnchanged) {
    const std::string path = dir_.file("M\xC3\xBCll.kx0");
    makeMessage(path, "RIFF", "Bob", "S");
    RunResult out = ctl({"show", path});
    EXPECT_EQ(out.exitCode, 0) << out.err;
    EXPECT_NE(out.out.find("\"file\": \"" + path + "\""), std::string::npos) << out.out;
}

TEST_F(KorrinctlStoreTest, AbortOnANewerFileEndsWithZeroAndPrintsNothing) {
    const std::string path = dir_.file("m.kx0");
    CMessageTrailer t;
    auto bytes = t.Serialize();
    platform::StoreLE32(bytes.data() + bytes.size() - 4, 9);
    WriteFile(path, std::string(bytes.begin(), bytes.end()));
    RunResult out = ctl({"show", path}, {{"KORRIN_MESSAGE_ANSWERS", "Abort"}});
    EXPECT_EQ(out.exitCode, 0);
    EXPECT_EQ(out.out, "");
    EXPECT_NE(ReadFile(logPath()).find("New Version Available"), std::string::npos);
}

TEST_F(KorrinctlStoreTest, FolderListShowsRowsNewestFirst) {
    makeFolder("OUTBOX");
    makeMessage(folder("OUTBOX") + "/KX1O.kx0", std::string(1000, 'a'), "Old", "first",
                utcTime(2001, 1, 1, 0, 30));
    makeMessage(folder("OUTBOX") + "/KX2O.KX1", std::string(3000, 'b'), "New", "second",
                utcTime(2002, 2, 2, 12, 0));
    RunResult out = ctl({"folder", "list", "outbox"});
    EXPECT_EQ(out.exitCode, 0) << out.err;
    auto lines = out.out;
    EXPECT_EQ(lines.substr(0, lines.find('\n')), "From\tSubject\tSent\tSize");
    const auto second = lines.find("New\tsecond\tSat 2/2/2002 12:00 PM\t");
    const auto first = lines.find("Old\tfirst\tMon 1/1/2001 12:30 AM\t");
    EXPECT_NE(second, std::string::npos) << lines;
    EXPECT_NE(first, std::string::npos) << lines;
    EXPECT_LT(second, first);
    EXPECT_NE(lines.find("OUTBOX - 2 Quillion EMail for Windows(tm) Messages\n"),
              std::string::npos);

    EXPECT_EQ(ctl({"folder", "list", "inbox"}).exitCode, 2);

    // Texts from a message cannot add rows or columns: a tab or a line break in them is shown
    // as a blank, so every row keeps its own file name.
    const std::string forged = "Eve\t\t\t0K\t/home/someone/keep.kx0\r\nMal";
    makeMessage(folder("OUTBOX") + "/KX3O.kx0", "c", forged, "a\nb", utcTime(2000, 1, 1, 0, 0));
    out = ctl({"folder", "list", "outbox", "--paths"});
    EXPECT_EQ(out.exitCode, 0) << out.err;
    std::vector<std::string> rows;
    for (std::size_t at = 0, end; (end = out.out.find('\n', at)) != std::string::npos; at = end + 1)
        rows.push_back(out.out.substr(at, end - at));
    ASSERT_EQ(rows.size(), 5u) << out.out;
    for (std::size_t i = 0; i + 1 < rows.size(); ++i)
        EXPECT_EQ(std::count(rows[i].begin(), rows[i].end(), '\t'), 4) << rows[i];
    EXPECT_EQ(rows[3].substr(0, rows[3].find("AM\t") + 3),
              "Eve   0K /home/someone/keep.kx0  Mal\ta b\tSat 1/1/2000 12:00 AM\t");
    EXPECT_EQ(rows[3].substr(rows[3].rfind('\t') + 1), folder("OUTBOX") + "/KX3O.kx0");
    out = ctl({"folder", "list", "sent"});
    EXPECT_EQ(out.exitCode, 0);
    EXPECT_NE(out.out.find("SENT - 0 Quillion"), std::string::npos);
}

// A file another program holds is neither waited for (the reads of a list would wait seven
// seconds for it) nor shown as an empty row.
TEST_F(KorrinctlStoreTest, FolderListMarksAFileAnotherProgramHoldsAsBusy) {
    makeFolder("OUTBOX");
    const std::string held = folder("OUTBOX") + "/KX1O.kx0";
    makeMessage(held, std::string(2000, 'a'), "Held", "locked", utcTime(2001, 1, 1, 0, 30));
    makeMessage(folder("OUTBOX") + "/KX2O.kx0", "b", "Free", "open", utcTime(2002, 1, 1, 0, 30));
    const int fd = ::open(held.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    const auto start = std::chrono::steady_clock::now();
    RunResult out = ctl({"folder", "list", "outbox"});
    const auto took = std::chrono::steady_clock::now() - start;
    ::close(fd);
    EXPECT_EQ(out.exitCode, 0) << out.err;
    EXPECT_LT(took, std::chrono::seconds(5)) << "waited for the held file";
    EXPECT_NE(out.out.find("Free\topen\t"), std::string::npos) << out.out;
    const auto busy = out.out.find("\t(busy)\t\t");
    ASSERT_NE(busy, std::string::npos) << out.out;
    EXPECT_NE(out.out.substr(busy, out.out.find('\n', busy) - busy), "\t(busy)\t\t0K");
    EXPECT_NE(out.out.find("OUTBOX - 2 Quillion"), std::string::npos);
    EXPECT_TRUE(reports().empty());
}

}  // namespace
}  // namespace korrin
