// Message files: the trailer's bytes, the read results at their boundaries, strip and
// rewrite, the date texts, the locks and the crash-safe replacement.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "korrin/store/Trailer.h"
#include "platform/Endian.h"
#include "platform/seam/MessageSeam.h"
#include "unit/store/StoreFixture.h"

extern char** environ;

namespace korrin {
namespace {

using namespace test;

std::string bytesOf(std::initializer_list<int> list) {
    std::string s;
    for (int b : list)
        s.push_back(static_cast<char>(b));
    return s;
}

std::string le32(std::uint32_t v) {
    std::uint8_t b[4];
    platform::StoreLE32(b, v);
    return std::string(reinterpret_cast<char*>(b), 4);
}

std::string textField(const std::string& text) {
    return le32(static_cast<std::uint32_t>(text.size() + 1)) + text + std::string(1, '\0');
}

std::uint64_t fileSize(const std::string& path) {
    return std::filesystem::file_size(path);
}

class TrailerTest : public StoreTest {
  protected:
    std::string path() const { return dir_.file("m.kx0"); }

    // Payload followed by closing words (and whatever lies before them).
    void writeRaw(const std::string& bytes) const { WriteFile(path(), "RIFF-payload" + bytes); }

    CMessageTrailer knownFields() const {
        CMessageTrailer t;
        t.senderName = "Ann";
        t.senderAddress = "a@x";
        t.subject = "Hi";
        t.note = "BANNER\r\nhello";
        t.bannerLength = 8;
        t.date = utcTime(1999, 3, 2, 21, 5);
        t.toNames = "Bob";
        t.toAddresses = "b@y";
        return t;
    }
};

// ---- bytes

TEST_F(TrailerTest, LayoutMatchesTheTableByteForByte) {
    const std::string expected = textField("Ann") + textField("a@x") + textField("Hi") + le32(14) +
                                 bytesOf({8, 0}) + "BANNER\r\nhello" + std::string(1, '\0') +
                                 bytesOf({0xCF, 0x07, 3, 0, 2, 0, 2, 0, 21, 0, 5, 0, 0, 0, 0, 0}) +
                                 textField("Bob") + textField("b@y") + bytesOf({1, 0, 0, 0, 0}) +
                                 bytesOf({1, 0, 0, 0, 0});
    ASSERT_EQ(expected.size(), 85u);
    writeRaw("");
    CMessageTrailer t = knownFields();
    ASSERT_EQ(t.Rewrite(path()), 0);
    EXPECT_EQ(ReadFile(path()), "RIFF-payload" + expected + le32(85) + le32(2));
}

TEST_F(TrailerTest, WriteNewStoresEnvelopeAndCurrentDate) {
    writeRaw("");
    CMessageTrailer t;
    t.SetSubjectFromEdit("Hi\r\nsecond line is not part of it");
    t.SetNoteFromEdit("line one\nline two");
    SYSTEMTIME before;
    platform::GetSystemTime(&before);
    ASSERT_EQ(t.WriteNew(path(), "Ann", "a@x", "Bob", "b@y", "Cy", "c@z"), 0);

    CMessageTrailer r;
    ASSERT_EQ(r.ReadForSending(path(), true, false), trailer::kRead);
    EXPECT_EQ(r.senderName, "Ann");
    EXPECT_EQ(r.senderAddress, "a@x");
    EXPECT_EQ(r.subject, "Hi");
    EXPECT_EQ(r.note, NoteBanner() + "line one\r\nline two");
    EXPECT_EQ(r.bannerLength, NoteBanner().size());
    EXPECT_EQ(r.toNames, "Bob");
    EXPECT_EQ(r.toAddresses, "b@y");
    EXPECT_EQ(r.ccNames, "Cy");
    EXPECT_EQ(r.ccAddresses, "c@z");
    std::int64_t a, b;
    platform::SystemTimeToSeconds(before, &a);
    platform::SystemTimeToSeconds(r.date, &b);
    EXPECT_LE(a, b);
    EXPECT_LE(b - a, 5);
    EXPECT_TRUE(r.bccNames.empty());

    CMessageTrailer display;
    ASSERT_EQ(display.ReadForDisplay(path(), false), trailer::kRead);
    EXPECT_EQ(display.note, "line one\r\nline two");
}

TEST_F(TrailerTest, StripThenRewriteGivesTheSameFile) {
    makeMessage(path(), std::string(5000, 'w'), "Bob; Cy", "");
    const std::string written = ReadFile(path());
    CMessageTrailer t;
    ASSERT_EQ(t.ReadAllAndStrip(path()), trailer::kRead);
    EXPECT_EQ(fileSize(path()), written.size() - t.length - 8);
    EXPECT_EQ(ReadFile(path()), std::string(5000, 'w'));
    ASSERT_EQ(t.Rewrite(path()), 0);
    EXPECT_EQ(ReadFile(path()), written);
    EXPECT_EQ(t.subject, "");  // stored as count 1 and one NUL
    EXPECT_NE(written.find(textField("") + le32(NoteBanner().size() + 11)), std::string::npos);
}

TEST_F(TrailerTest, ListAndDateReadsLoadOnlyTheirFields) {
    makeMessage(path(), "payload", "Bob", "Subject");
    CMessageTrailer list;
    ASSERT_EQ(list.ReadForList(path()), trailer::kRead);
    EXPECT_EQ(list.toNames, "Bob");
    EXPECT_EQ(list.subject, "Subject");
    EXPECT_TRUE(list.senderName.empty());
    EXPECT_TRUE(list.note.empty());
    EXPECT_FALSE(list.shortDate.empty());

    CMessageTrailer dateOnly;
    SYSTEMTIME date;
    ASSERT_EQ(dateOnly.ReadDate(path(), &date), trailer::kRead);
    EXPECT_EQ(date, list.date);
    EXPECT_TRUE(dateOnly.subject.empty());
    EXPECT_EQ(dateOnly.longDate, list.longDate);
}

// ---- results at their boundaries

TEST_F(TrailerTest, RevisionWordDecidesBeforeAnythingElse) {
    struct Case {
        std::uint32_t revision;
        int result;
    };
    for (Case c : {Case{0, 2}, Case{1, 2}, Case{501, 3}, Case{0xFFFFFFFF, 3}}) {
        writeRaw(le32(4) + le32(c.revision));
        const std::string before = ReadFile(path());
        CMessageTrailer t;
        t.selection = trailer::kAllText | trailer::kStrip;
        EXPECT_EQ(t.Read(path()), c.result) << c.revision;
        EXPECT_EQ(ReadFile(path()), before) << "a file without a good trailer stays as it was";
    }
    EXPECT_TRUE(reports().empty());
}

TEST_F(TrailerTest, LengthWordBoundaries) {
    // The largest trailer that is still read: L exactly 1,048,576.
    CMessageTrailer big = knownFields();
    big.note.clear();
    big.bannerLength = 0;
    const std::size_t base = big.Serialize().size() - 8;
    big.note.assign(trailer::kMaxLength - base, 'n');
    writeRaw("");
    ASSERT_EQ(big.Rewrite(path()), 0);
    CMessageTrailer t;
    ASSERT_EQ(t.ReadForDisplay(path(), false), trailer::kRead);
    EXPECT_EQ(t.length, trailer::kMaxLength);
    EXPECT_EQ(t.note.size(), big.note.size());

    writeRaw(std::string(64, 'x') + le32(trailer::kMaxLength + 1) + le32(2));
    EXPECT_EQ(t.ReadForList(path()), trailer::kDamaged);

    // A length larger than the file: no trailer, and nothing reported.
    writeRaw(le32(1000) + le32(2));
    EXPECT_EQ(t.ReadForList(path()), trailer::kNoTrailer);
    // One byte short of fitting, and exactly fitting (an empty payload).
    CMessageTrailer exact = knownFields();
    WriteFile(path(), "");
    ASSERT_EQ(exact.Rewrite(path()), 0);
    EXPECT_EQ(t.ReadForList(path()), trailer::kRead);
    EXPECT_TRUE(reports().empty());
}

TEST_F(TrailerTest, FieldsRunningPastTheTrailerAreDamaged) {
    // A subject count that claims more bytes than the trailer holds.
    const std::string fields = textField("Ann") + textField("a@x") + le32(5000) + "Hi";
    writeRaw(fields + le32(static_cast<std::uint32_t>(fields.size())) + le32(2));
    const std::string before = ReadFile(path());
    CMessageTrailer t;
    EXPECT_EQ(t.ReadAllAndStrip(path()), trailer::kDamaged);
    EXPECT_EQ(ReadFile(path()), before) << "a damaged trailer is not cut off";
    // A banner longer than its note.
    const std::string note = textField("") + textField("") + textField("") + le32(3) +
                             bytesOf({9, 0}) + "ab" + std::string(1, '\0');
    writeRaw(note + le32(static_cast<std::uint32_t>(note.size())) + le32(2));
    EXPECT_EQ(t.ReadForDisplay(path(), false), trailer::kDamaged);
}

// A reader takes a length word past 1,048,576 for damage, so a writer must never store one:
// an envelope that long is refused and the file keeps what it had.
TEST_F(TrailerTest, AnEnvelopeTooLongToBeReadBackIsNotWritten) {
    const std::string longNote(trailer::kMaxLength, 'n');
    writeRaw("");
    const std::string payloadOnly = ReadFile(path());
    CMessageTrailer t;
    t.SetNoteFromEdit(longNote);
    EXPECT_EQ(t.WriteNew(path(), "Ann", "a@x", "Bob", "b@y", "", ""), 1);
    EXPECT_TRUE(ReadFile(path()) == payloadOnly);
    EXPECT_EQ(t.Rewrite(path()), 1);
    EXPECT_TRUE(ReadFile(path()) == payloadOnly);

    makeMessage(path(), "payload", "Bob", "S");
    const std::string whole = ReadFile(path());
    CMessageTrailer r;
    ASSERT_EQ(r.ReadForSending(path(), true, false), trailer::kRead);
    r.toNames = std::string(trailer::kMaxLength, 't');
    EXPECT_EQ(r.ReplaceTrailer(path()), 1);
    EXPECT_TRUE(ReadFile(path()) == whole);
    EXPECT_EQ(reports(),
              (std::vector<std::string>{"_write failed", "_write failed", "_write failed"}));

    // The longest envelope that is still allowed reads back.
    CMessageTrailer most;
    most.subject = "S";
    most.note = "n";
    const std::size_t room = trailer::kMaxLength - (most.Serialize().size() - 8);
    most.toNames = std::string(room, 't');
    WriteFile(path(), "payload");
    ASSERT_EQ(most.Rewrite(path()), 0);
    CMessageTrailer back;
    ASSERT_EQ(back.ReadForList(path()), trailer::kRead);
    EXPECT_EQ(back.length, trailer::kMaxLength);
    EXPECT_EQ(back.toNames.size(), room);
}

TEST_F(TrailerTest, TooShortFilesAreReportedAsInputOutputFailures) {
    WriteFile(path(), "ab");
    CMessageTrailer t;
    EXPECT_EQ(t.ReadForList(path()), trailer::kIoFailure);
    WriteFile(path(), bytesOf({1, 1, 2, 0, 0, 0}));  // revision 2 fits, the length word not
    EXPECT_EQ(t.ReadForList(path()), trailer::kIoFailure);
    EXPECT_EQ(reports(), (std::vector<std::string>{"_lseek failed", "_lseek failed"}));
}

TEST_F(TrailerTest, NewerRevisionIsReadQuietlyUpToTheStoredRevision) {
    CMessageTrailer t = knownFields();
    std::vector<std::uint8_t> bytes = t.Serialize();
    platform::StoreLE32(bytes.data() + bytes.size() - 4, 3);
    writeRaw(std::string(bytes.begin(), bytes.end()));
    ASSERT_EQ(CUtils().SetRegistryDword(kKorrinKey, setting::kRevision, 3), 1);
    CMessageTrailer r;
    EXPECT_EQ(r.ReadForList(path()), trailer::kRead);
    EXPECT_EQ(r.subject, "Hi");
    EXPECT_TRUE(boxes().empty());

    // Without the value, the notice is asked (Continue is the default) and the read goes on.
    ASSERT_EQ(CUtils().SetRegistryDword(kKorrinKey, setting::kRevision, 2), 1);
    EXPECT_EQ(r.ReadForList(path()), trailer::kRead);
    EXPECT_EQ(boxes(), (std::vector<std::string>{"New Version Available|Continue"}));
}

class TickedNotice : public INewVersionNotice {
  public:
    int Ask(DWORD revision, bool* dontBug) override {
        asked = revision;
        *dontBug = true;
        return platform::IDCONTINUE;
    }
    DWORD asked = 0;
};

TEST_F(TrailerTest, TickedNoticeStoresTheFileRevision) {
    CMessageTrailer t = knownFields();
    std::vector<std::uint8_t> bytes = t.Serialize();
    platform::StoreLE32(bytes.data() + bytes.size() - 4, 7);
    writeRaw(std::string(bytes.begin(), bytes.end()));
    TickedNotice notice;
    InstallNewVersionNotice(&notice);
    CMessageTrailer r;
    EXPECT_EQ(r.ReadForList(path()), trailer::kRead);
    InstallNewVersionNotice(nullptr);
    EXPECT_EQ(notice.asked, 7u);
    DWORD stored = 0;
    ASSERT_EQ(CUtils().GetRegistryDword(kKorrinKey, setting::kRevision, stored), 1);
    EXPECT_EQ(stored, 7u);
}

TEST_F(TrailerTest, AbortOnTheNoticeEndsTheProgramWithZero) {
    CMessageTrailer t = knownFields();
    std::vector<std::uint8_t> bytes = t.Serialize();
    platform::StoreLE32(bytes.data() + bytes.size() - 4, 4);
    writeRaw(std::string(bytes.begin(), bytes.end()));
    RunResult r = test::Run({BuildDir() + "/trailer_worker", "read", path()},
                            {{"KORRIN_MESSAGE_ANSWERS", "Abort"}});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "") << "the read never returned";
    r = test::Run({BuildDir() + "/trailer_worker", "read", path()},
                  {{"KORRIN_MESSAGE_ANSWERS", "Continue"}});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "0 Hi\n");
}

// ---- date texts

TEST_F(TrailerTest, DateTextsInLocalTime) {
    struct Case {
        SYSTEMTIME utc;
        const char* tz;
        const char* longText;
        const char* shortText;
    };
    const Case cases[] = {
        {utcTime(1999, 3, 2, 16, 5), "UTC", "Tuesday, March 2, 1999 4:05 PM",
         "Tue 3/2/1999 4:05 PM"},
        {utcTime(1999, 3, 2, 21, 5), "EST5EDT", "Tuesday, March 2, 1999 4:05 PM",
         "Tue 3/2/1999 4:05 PM"},
        {utcTime(1999, 3, 3, 0, 30), "UTC", "Wednesday, March 3, 1999 12:30 AM",
         "Wed 3/3/1999 12:30 AM"},
        {utcTime(1999, 3, 3, 12, 0), "UTC", "Wednesday, March 3, 1999 12:00 PM",
         "Wed 3/3/1999 12:00 PM"},
        {utcTime(2024, 12, 31, 23, 59), "Asia/Tokyo", "Wednesday, January 1, 2025 8:59 AM",
         "Wed 1/1/2025 8:59 AM"},
        {utcTime(2000, 7, 4, 11, 7), "UTC", "Tuesday, July 4, 2000 11:07 AM",
         "Tue 7/4/2000 11:07 AM"},
    };
    for (const Case& c : cases) {
        ScopedEnv tz("TZ", c.tz);
        std::string longText, shortText;
        MakeDateTexts(c.utc, &longText, &shortText);
        EXPECT_EQ(longText, c.longText);
        EXPECT_EQ(shortText, c.shortText);
    }
    // A stored day of the week does not matter; a date out of range gives no text.
    SYSTEMTIME wrong = utcTime(1999, 3, 2, 16, 5);
    wrong.wDayOfWeek = 6;
    std::string longText, shortText;
    MakeDateTexts(wrong, &longText, &shortText);
    EXPECT_EQ(shortText, "Tue 3/2/1999 4:05 PM");
    for (WORD month : {0, 13}) {
        wrong.wMonth = month;
        MakeDateTexts(wrong, &longText, &shortText);
        EXPECT_EQ(longText, "");
        EXPECT_EQ(shortText, "");
    }
}

// ---- edit boxes and prefixes

TEST_F(TrailerTest, SubjectPrefixes) {
    CMessageTrailer t;
    t.subject = "RE: hello";
    t.PrefixSubject("FW:");
    EXPECT_EQ(t.subject, "FW: hello");
    t.subject = "Hello";
    t.PrefixSubject("RE:");
    EXPECT_EQ(t.subject, "RE:Hello");
    t.subject = "ab";
    t.PrefixSubject("RE:");
    EXPECT_EQ(t.subject, "RE:ab");
    t.subject = "";
    t.PrefixSubject("FW:");
    EXPECT_EQ(t.subject, "FW:");
}

TEST_F(TrailerTest, NoteBannerIsTheFixedText) {
    const std::string& b = NoteBanner();
    EXPECT_EQ(b.rfind("\r\nQuillion EMail for Windows(tm) message\r\n", 0), 0u);
    EXPECT_NE(b.find("\r\n\r\n\r\nThe sender of this message has sent you an Quillion EMail for "
                     "Windows(tm) message.  Special software"),
              std::string::npos);
    EXPECT_NE(b.find("Download_Now.html.\r\n\r\n"), std::string::npos);
    EXPECT_EQ(b.substr(b.size() - 4), "\r\n\r\n");
}

// ---- locks

TEST_F(TrailerTest, ReadWaitsForAnotherOpenerAndGivesUpAfter29Tries) {
    makeMessage(path(), "payload", "Bob", "S");
    int held = ::open(path().c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_SH), 0);
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        ::close(held);
    });
    CMessageTrailer t;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(t.ReadForDisplay(path(), false), trailer::kRead);
    release.join();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));

    held = ::open(path().c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_SH), 0);
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(t.ReadForDisplay(path(), false), trailer::kIoFailure);
    auto waited = std::chrono::steady_clock::now() - start;
    ::close(held);
    EXPECT_GE(waited, std::chrono::milliseconds(28 * 250));
    EXPECT_EQ(reports(), std::vector<std::string>{"_open file failed"});

    // The read that fills a list never waits: a held file is busy, and nothing is reported.
    held = ::open(path().c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_SH), 0);
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(t.ReadForList(path()), trailer::kBusy);
    waited = std::chrono::steady_clock::now() - start;
    ::close(held);
    EXPECT_LT(waited, std::chrono::milliseconds(200));
    EXPECT_EQ(reports().size(), 1u);

    // A file that is not there fails at once.
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(t.ReadForList(dir_.file("missing.kx0")), trailer::kIoFailure);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));

    // A writer gets one try.
    held = ::open(path().c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_SH), 0);
    EXPECT_EQ(t.Rewrite(path()), 1);
    ::close(held);
}

// ---- replacing the trailer

TEST_F(TrailerTest, ReplaceTrailerKeepsPayloadAndLeavesNoLitter) {
    const std::string payload(100000, 'p');
    makeMessage(path(), payload, "Bob", "S");
    CMessageTrailer t;
    ASSERT_EQ(t.ReadForSending(path(), true, false), trailer::kRead);
    t.date = utcTime(2001, 9, 8, 7, 6, 5);
    ASSERT_EQ(t.ReplaceTrailer(path()), 0);
    CMessageTrailer r;
    ASSERT_EQ(r.ReadAllAndStrip(path()), trailer::kRead);
    EXPECT_EQ(r.date, t.date);
    EXPECT_EQ(r.note, t.note);
    EXPECT_EQ(ReadFile(path()), payload);
    int files = 0;
    for (auto& e : std::filesystem::directory_iterator(dir_.path()))
        files += e.path().extension() == ".new";
    EXPECT_EQ(files, 0);

    // A file without a trailer is taken whole; a damaged one is left alone.
    WriteFile(path(), "plain");
    ASSERT_EQ(t.ReplaceTrailer(path()), 0);
    ASSERT_EQ(r.ReadAllAndStrip(path()), trailer::kRead);
    EXPECT_EQ(ReadFile(path()), "plain");
    writeRaw(le32(9) + le32(900));
    EXPECT_EQ(t.ReplaceTrailer(path()), trailer::kDamaged);
    EXPECT_EQ(ReadFile(path()), "RIFF-payload" + le32(9) + le32(900));
}

// A helper process replaces the trailer over and over; it is killed at random moments. After
// every kill the message is whole: the same payload with a complete trailer.
TEST_F(TrailerTest, KilledDuringStripAndRewriteNeverLosesTheEnvelope) {
    std::string payload(1 << 20, '\0');
    std::mt19937 random(20261207);
    for (auto& c : payload)
        c = static_cast<char>(random());
    makeMessage(path(), payload, "Bob", "Kept");
    const std::string worker = BuildDir() + "/trailer_worker";
    const std::string file = path();
    int killedWhileRunning = 0;
    for (int round = 0; round < 200; ++round) {
        int out[2];
        ASSERT_EQ(::pipe(out), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        pid_t pid;
        const char* argv[] = {worker.c_str(), "replace", file.c_str(), nullptr};
        ASSERT_EQ(::posix_spawn(&pid, worker.c_str(), &actions, nullptr, const_cast<char**>(argv),
                                environ),
                  0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        char ready[6] = {};
        ASSERT_EQ(::read(out[0], ready, 6), 6) << "the worker did not start";
        ::close(out[0]);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        killedWhileRunning += WIFSIGNALED(status);

        CMessageTrailer r;
        ASSERT_EQ(r.ReadForSending(path(), true, false), trailer::kRead) << "round " << round;
        ASSERT_EQ(r.subject, "Kept");
        ASSERT_EQ(fileSize(path()), payload.size() + r.length + 8) << "round " << round;
        const std::string now = ReadFile(path());
        ASSERT_EQ(now.compare(0, payload.size(), payload), 0) << "round " << round;
    }
    EXPECT_EQ(killedWhileRunning, 200) << "every round ends inside the loop";
    EXPECT_TRUE(reports().empty());
}

}  // namespace
}  // namespace korrin
