// The folder lists: filling, order, the entries that follow moves, the start-up scan and
// the lists shared by two threads.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "korrin/store/FolderList.h"
#include "korrin/store/Folders.h"
#include "unit/store/StoreFixture.h"

namespace korrin {
namespace {

using namespace test;
namespace fs = std::filesystem;

class FolderListTest : public StoreTest {};

TEST_F(FolderListTest, SizeAndStatusTexts) {
    EXPECT_EQ(SizeText(1499), "1K");
    EXPECT_EQ(SizeText(1500), "2K");
    EXPECT_EQ(SizeText(400), "0K");
    EXPECT_EQ(SizeText(0xFFFFFFFF), "4294967K");
    EXPECT_EQ(StatusLineText(kOutbox, 0), "OUTBOX - 0 Quillion EMail for Windows(tm) Messages");
    EXPECT_EQ(StatusLineText(kSentItems, 3), "SENT - 3 Quillion EMail for Windows(tm) Messages");
    EXPECT_EQ(StatusLineText(kDeletedItems, 1),
              "DELETED - 1 Quillion EMail for Windows(tm) Messages");
}

TEST_F(FolderListTest, NewestFirstAndEqualDatesKeepFileSystemOrder) {
    makeFolder("SENT");
    const SYSTEMTIME same = utcTime(2005, 5, 5, 5, 5, 5);
    for (int i = 1; i <= 6; ++i) {
        SYSTEMTIME date = i <= 3 ? same : utcTime(2000 + i, 1, 1, 0, 0);
        date.wMilliseconds = static_cast<WORD>(i * 100);  // only whole seconds count
        makeMessage(folder("SENT") + "/KX" + std::to_string(i) + "S.kx0", std::string(i, 'w'),
                    "To" + std::to_string(i), "S" + std::to_string(i), date);
    }
    std::vector<std::string> kx0, kx1;
    ASSERT_EQ(FindMessageFiles(kSentItems, &kx0, &kx1), 0);
    std::vector<std::string> sameInFsOrder;
    for (const auto& p : kx0)
        if (p.find("KX1S") != std::string::npos || p.find("KX2S") != std::string::npos ||
            p.find("KX3S") != std::string::npos)
            sameInFsOrder.push_back(p);

    CFolderLists lists;
    lists.StartScan();
    lists.WaitForScan();
    auto rows = lists.Entries(kSentItems);
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[0].subject, "S6");    // 2006
    std::vector<std::string> sameShown;  // 2005-05-05, to the second
    for (int i = 1; i <= 3; ++i)
        sameShown.push_back(rows[i].path);
    EXPECT_EQ(sameShown, sameInFsOrder);
    EXPECT_EQ(rows[4].subject, "S5");  // 2005-01-01
    EXPECT_EQ(rows.back().subject, "S4");
}

TEST_F(FolderListTest, FileWithoutTrailerIsListedWithEmptyTexts) {
    makeFolder("OUTBOX");
    WriteFile(folder("OUTBOX") + "/KX1O.kx0", std::string(1499, 'a'));
    std::vector<MessageEntry> entries;
    ASSERT_EQ(FillEntries(kOutbox, &entries), 0);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].toNames, "");
    EXPECT_EQ(entries[0].subject, "");
    EXPECT_EQ(entries[0].sentText, "");
    EXPECT_EQ(entries[0].size, 1499u);
}

// Without a fixer (korrinctl) an old file is listed without texts and left as it is; the
// files after it are listed too, and the folder is named once however often it is read.
TEST_F(FolderListTest, OldZippedMessageWithoutFixerIsListedAndLeftUntouched) {
    makeFolder("SENT");
    makeMessage(folder("SENT") + "/KX1S.kx1", "zip", "Bob", "current");
    const std::string old = folder("SENT") + "/KX2S.kx1";
    WriteFile(old, "PK old archive without a trailer" + std::string(4, '\0'));
    makeMessage(folder("SENT") + "/KX3S.kx1", "zip", "Eve", "after");
    std::vector<MessageEntry> entries;
    EXPECT_EQ(FillEntries(kSentItems, &entries), 2);
    EXPECT_EQ(entries.size(), 3u);
    const std::set<std::string> leftAlone{old};
    EXPECT_EQ(FillEntries(kSentItems, &entries, &leftAlone), 0);

    CFolderLists lists;
    EXPECT_EQ(lists.LoadFolder(kSentItems), 2);
    EXPECT_EQ(lists.LoadFolder(kSentItems), 2);
    const auto rows = lists.Entries(kSentItems);
    ASSERT_EQ(rows.size(), 3u);
    for (const auto& row : rows)
        EXPECT_EQ(row.subject.empty(), row.path == old) << row.path;
    EXPECT_EQ(ReadFile(old), "PK old archive without a trailer" + std::string(4, '\0'));
    auto r = reports();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_NE(r[0].find("left untouched"), std::string::npos);
}

// The fixer is asked from the thread that reads the folder, once per reading that meets old
// files; what it fixed is read again, what it left for good is not offered to it again, and
// a file it could not get at this time is offered at the next reading.
TEST_F(FolderListTest, OldMessagesGoToTheFixerAndTheFolderIsReadAgain) {
    makeFolder("OUTBOX");
    const std::string fixable = folder("OUTBOX") + "/KX1O.kx1";
    const std::string unfixable = folder("OUTBOX") + "/KX2O.kx1";
    const std::string later = folder("OUTBOX") + "/KX3O.kx1";
    for (const auto& path : {fixable, unfixable, later})
        WriteFile(path, "PK old archive without a trailer" + std::string(4, '\0'));
    makeMessage(folder("OUTBOX") + "/KX4O.kx0", "wave", "Ann", "plain");

    struct Fixer : IOldMessageFixer {
        FixResults FixOldMessages(const std::string& dir, const std::set<std::string>& skip,
                                  const std::atomic<bool>&) override {
            std::lock_guard lock(mutex);
            calls.push_back({dir, skip, std::this_thread::get_id()});
            FixResults results;
            results.push_back({fixable, FixResult{FixOutcome::kFixed, "", false}});
            StoreTest::makeMessage(fixable, "zip", "Bob", "fixed");
            results.push_back({unfixable, FixResult{FixOutcome::kLeft, "not an archive", false}});
            results.push_back({later, FixResult{FixOutcome::kLeft, "busy", true}});
            return results;
        }
        std::string fixable, unfixable, later;
        struct Call {
            std::string dir;
            std::set<std::string> skip;
            std::thread::id thread;
        };
        std::mutex mutex;
        std::vector<Call> calls;
    } fixer;
    fixer.fixable = fixable;
    fixer.unfixable = unfixable;
    fixer.later = later;

    CFolderLists lists;
    lists.SetFixer(&fixer);
    lists.StartScan();
    lists.WaitForScan();
    ASSERT_EQ(fixer.calls.size(), 1u);
    EXPECT_EQ(fixer.calls[0].dir, folder("OUTBOX"));
    EXPECT_TRUE(fixer.calls[0].skip.empty());
    EXPECT_NE(fixer.calls[0].thread, std::this_thread::get_id()) << "on the scan thread";
    auto rows = lists.Entries(kOutbox);
    ASSERT_EQ(rows.size(), 4u);
    std::set<std::string> subjects;
    for (const auto& row : rows)
        subjects.insert(row.subject);
    EXPECT_EQ(subjects, (std::set<std::string>{"fixed", "plain", ""}));

    // The next reading offers only the file that may still be fixed.
    EXPECT_EQ(lists.LoadFolder(kOutbox), 2);
    ASSERT_EQ(fixer.calls.size(), 2u);
    EXPECT_EQ(fixer.calls[1].skip, std::set<std::string>{unfixable});
    EXPECT_TRUE(reports().empty()) << "the fixer names what it leaves";
}

TEST_F(FolderListTest, RemoveByDateTakesTheFirstOfEqualDates) {
    makeFolder("SENT");
    const SYSTEMTIME same = utcTime(2010, 1, 1, 1, 1, 1);
    for (int i = 1; i <= 3; ++i)
        makeMessage(folder("SENT") + "/KX" + std::to_string(i) + "S.kx0", "w", "T",
                    "S" + std::to_string(i), i == 3 ? utcTime(2011, 1, 1, 0, 0) : same);
    CFolderLists lists;
    lists.LoadFolder(kSentItems);
    auto before = lists.Entries(kSentItems);
    ASSERT_EQ(before.size(), 3u);
    // A copy of the message elsewhere: found by its date alone.
    const std::string copy = dir_.file("copy.kx0");
    makeMessage(copy, "w", "T", "x", same);
    ASSERT_EQ(lists.RemoveEntry(kSentItems, copy), 0);
    auto after = lists.Entries(kSentItems);
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[0].path, before[0].path);
    EXPECT_EQ(after[1].path, before[2].path);

    makeMessage(copy, "w", "T", "x", utcTime(1990, 1, 1, 0, 0));
    EXPECT_EQ(lists.RemoveEntry(kSentItems, copy), 1);
    EXPECT_EQ(reports(), std::vector<std::string>{"Message Object not found : " + copy});
}

TEST_F(FolderListTest, AddingAFileWithoutTrailerReportsAndListsItEmpty) {
    const std::string plain = dir_.file("plain.kx0");
    WriteFile(plain, std::string(2600, 'x'));
    CFolderLists lists;
    EXPECT_EQ(lists.AddEntry(kDeletedItems, plain), 0);
    auto rows = lists.Entries(kDeletedItems);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].subject, "");
    EXPECT_EQ(rows[0].size, 2600u);
    EXPECT_EQ(reports(), std::vector<std::string>{"Old File Found failed"});
}

TEST_F(FolderListTest, SentFromAnOutOfDateOutboxIsNotLookedFor) {
    makeFolder("OUTBOX");
    const std::string msg = folder("OUTBOX") + "/KX1O.kx0";
    makeMessage(msg, "w", "T", "sending", utcTime(2010, 1, 1, 0, 0));
    CFolderLists lists;
    lists.StartScan();
    lists.WaitForScan();
    // The worker marks the Outbox, rewrites the date and moves the sent message.
    lists.MarkOutOfDate(kOutbox);
    CMessageTrailer t;
    ASSERT_EQ(t.ReadForSending(msg, true, false), 0);
    t.date = utcTime(2012, 1, 1, 0, 0);
    ASSERT_EQ(t.ReplaceTrailer(msg), 0);
    ASSERT_EQ(MoveMessage(msg, kSentItems, kOutbox, &lists), 0);
    EXPECT_EQ(lists.Count(kSentItems), 1u);
    EXPECT_TRUE(reports().empty());
    std::vector<MessageEntry> rows;
    ASSERT_TRUE(lists.EntriesForShow(kOutbox, &rows));
    EXPECT_TRUE(rows.empty());
    EXPECT_FALSE(lists.IsOutOfDate(kOutbox));

    lists.AfterMove(folder("SENT") + "/nothing.kx0", kOutbox, 7);
    EXPECT_EQ(reports().back(), "Removing from unknown folder.  This should never happen.");
}

// A held file gets a busy entry at once; the list stays out of date, and the first show
// after the holder let go reads the file's texts.
TEST_F(FolderListTest, AHeldFileIsListedBusyAndReadAgainAtTheNextShow) {
    makeFolder("OUTBOX");
    const std::string path = folder("OUTBOX") + "/KX1O.kx0";
    makeMessage(path, "payload", "To", "subject", utcTime(2001, 1, 1, 0, 30));
    CFolderLists lists;
    lists.StartScan();
    lists.WaitForScan();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    lists.MarkOutOfDate(kOutbox);
    std::vector<MessageEntry> rows;
    ASSERT_TRUE(lists.EntriesForShow(kOutbox, &rows));
    ::close(fd);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(rows[0].busy);
    EXPECT_EQ(rows[0].subject, "");
    EXPECT_TRUE(lists.IsOutOfDate(kOutbox));
    ASSERT_TRUE(lists.EntriesForShow(kOutbox, &rows));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_FALSE(rows[0].busy);
    EXPECT_EQ(rows[0].subject, "subject");
    EXPECT_FALSE(lists.IsOutOfDate(kOutbox));
}

// The window's show never reads the disk: it gets the list as it is, a reread runs on a thread
// of its own and asks the view to show the folder again; that show starts no further reread,
// so an empty folder does not loop.
TEST_F(FolderListTest, AnOutOfDateListIsReadOffTheShowersThreadOnce) {
    makeFolder("SENT");
    makeFolder("OUTBOX");
    makeMessage(folder("SENT") + "/KX1S.kx0", "w", "A", "one", utcTime(2001, 1, 1, 0, 0));
    CFolderLists lists;
    lists.StartScan();
    lists.WaitForScan();
    struct CountingView : IFolderView {
        std::atomic<int> shows{0};
        void ShowFolder(int) override { ++shows; }
    } view;
    lists.SetView(&view);
    lists.SetCurrentFolder(kSentItems);
    makeMessage(folder("SENT") + "/KX2S.kx0", "w", "B", "two", utcTime(2002, 1, 1, 0, 0));
    lists.MarkOutOfDate(kSentItems);

    const struct {
        int folder;
        std::size_t knownRows;
        bool rereads;
        int showsAfter;
    } steps[] = {
        {kSentItems, 1, true, 1},   // marked: what is known, and a reread
        {kSentItems, 2, false, 1},  // the show the reread asked for
        {kSentItems, 2, false, 1},  // up to date
        {kOutbox, 0, true, 2},      // empty: read once
        {kOutbox, 0, false, 2},     // and not again for the show that follows
    };
    for (const auto& step : steps) {
        lists.SetCurrentFolder(step.folder);
        std::vector<MessageEntry> rows;
        bool rereading = false;
        ASSERT_TRUE(lists.EntriesKnown(step.folder, &rows, &rereading));
        EXPECT_EQ(rows.size(), step.knownRows) << step.folder;
        EXPECT_EQ(rereading, step.rereads) << step.folder;
        lists.WaitForScan();
        EXPECT_EQ(view.shows.load(), step.showsAfter) << step.folder;
    }
    lists.SetView(nullptr);
}

TEST_F(FolderListTest, NothingIsShownBeforeTheScanHasFinished) {
    CFolderLists lists;
    std::vector<MessageEntry> rows;
    EXPECT_FALSE(lists.EntriesForShow(kOutbox, &rows));
    lists.StartScan();
    lists.WaitForScan();
    EXPECT_TRUE(lists.IsLoaded());
    EXPECT_TRUE(lists.EntriesForShow(kOutbox, &rows));
    EXPECT_TRUE(rows.empty());
}

// The stable sort gives exactly the order of the neighbour-swapping passes.
TEST_F(FolderListTest, SortMatchesThePassesOfNeighbourSwaps) {
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        std::vector<MessageEntry> entries(150);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            entries[i].path = std::to_string(i);
            entries[i].date = utcTime(2000, 1, 1 + static_cast<int>(random() % 5),
                                      static_cast<int>(random() % 2), 0);
            if (random() % 10 == 0)
                entries[i].date.wMonth = 13;  // out of range: counts as the oldest
        }
        auto bubbled = entries;
        auto seconds = [](const MessageEntry& e) {
            std::int64_t s;
            platform::SystemTimeToSeconds(e.date, &s);
            return s;
        };
        for (std::size_t pass = 0; pass < bubbled.size(); ++pass)
            for (std::size_t i = 0; i + 1 < bubbled.size(); ++i)
                if (seconds(bubbled[i]) < seconds(bubbled[i + 1]))
                    std::swap(bubbled[i], bubbled[i + 1]);
        SortNewestFirst(entries);
        for (std::size_t i = 0; i < entries.size(); ++i)
            ASSERT_EQ(entries[i].path, bubbled[i].path) << "round " << round << " row " << i;
    }
}

// The transmission worker moves sent messages while the user-interface thread shows and
// changes the lists. Run under ThreadSanitizer in CI.
TEST_F(FolderListTest, WorkerMovesWhileTheWindowShows) {
    makeFolder("OUTBOX");
    makeFolder("SENT");
    std::vector<std::string> outbox;
    for (int i = 1; i <= 12; ++i) {
        outbox.push_back(folder("OUTBOX") + "/KX" + std::to_string(i) + "O.kx0");
        makeMessage(outbox.back(), "w", "T", "m" + std::to_string(i), utcTime(2010, 1, i, 0, 0));
    }
    CUtils().SetRegistryDword(kKorrinKey, setting::kFileId, 100);
    CFolderLists lists;
    lists.StartScan();
    std::atomic<bool> done{false};
    std::thread worker([&] {
        lists.WaitForScan();
        for (const auto& path : outbox)
            EXPECT_EQ(MoveMessage(path, kSentItems, kOutbox, &lists), 0);
        done = true;
    });
    std::vector<MessageEntry> rows;
    while (!done) {
        lists.EntriesForShow(kSentItems, &rows);
        lists.EntriesForShow(kOutbox, &rows);
        lists.SetCurrentFolder(kOutbox);
        lists.Refresh();
    }
    worker.join();
    ASSERT_TRUE(lists.EntriesForShow(kSentItems, &rows));
    EXPECT_EQ(rows.size(), 12u);
    EXPECT_EQ(lists.Count(kOutbox), 0u);
    EXPECT_EQ(lists.Entries(kSentItems).front().subject, "m12");
    EXPECT_TRUE(reports().empty());
}

}  // namespace
}  // namespace korrin
