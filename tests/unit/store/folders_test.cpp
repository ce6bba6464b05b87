// The three folders on disk: names, filing into the Outbox, moves, emptying, counting.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "korrin/store/FolderList.h"
#include "korrin/store/Folders.h"
#include "unit/store/StoreFixture.h"

namespace korrin {
namespace {

using namespace test;
namespace fs = std::filesystem;

class FoldersTest : public StoreTest {
  protected:
    DWORD fileId() const {
        DWORD id = 0;
        CUtils().GetRegistryDword(kKorrinKey, setting::kFileId, id);
        return id;
    }
};

TEST_F(FoldersTest, NamesFollowTheFolderLetters) {
    EXPECT_EQ(MessageFileName("/i", kOutbox, 7, "kx0"), "/i/OUTBOX/KX7O.kx0");
    EXPECT_EQ(MessageFileName("/i/", kSentItems, 10000000, "kx1"), "/i/SENT/KX10000000S.kx1");
    EXPECT_EQ(MessageFileName("/i", kDeletedItems, 1, "KX0"), "/i/DELETED/KX1D.KX0");
}

TEST_F(FoldersTest, FilingRecreatesAMissingOutboxWithoutAReport) {
    const std::string src = dir_.file("V3L.kx0");
    makeMessage(src, "wave", "Bob", "S");
    CFolderLists lists;
    std::string placed;
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(FileIntoOutbox(src, &lists, &placed), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(placed, folder("OUTBOX") + "/KX1O.kx0");
    EXPECT_FALSE(fs::exists(src));
    EXPECT_TRUE(fs::exists(placed));
    EXPECT_TRUE(lists.IsOutOfDate(kOutbox));
    EXPECT_EQ(fileId(), 1u);
    EXPECT_TRUE(reports().empty());
}

TEST_F(FoldersTest, MovingFromSentToOutboxKeepsTheExtensionAndTheLists) {
    makeFolder("SENT");
    const std::string older = folder("SENT") + "/KX1S.kx1";
    const std::string moved = folder("SENT") + "/KX2S.kx1";
    makeMessage(older, "zip", "Old", "older", utcTime(2000, 1, 1, 8, 0));
    makeMessage(moved, "zip", "Bob", "moved", utcTime(2001, 1, 1, 8, 0));
    CUtils().SetRegistryDword(kKorrinKey, setting::kFileId, 41);
    CFolderLists lists;
    lists.StartScan();
    lists.WaitForScan();
    ASSERT_EQ(lists.Count(kSentItems), 2u);
    ASSERT_EQ(lists.Count(kOutbox), 0u);
    makeFolder("OUTBOX");
    const std::string waiting = folder("OUTBOX") + "/KX9O.kx0";
    makeMessage(waiting, "wave", "W", "waiting");
    lists.AddEntry(kOutbox, waiting);
    fs::remove(waiting);
    fs::remove(folder("OUTBOX"));  // removed by hand: recreated by the move

    std::string placed;
    ASSERT_EQ(MoveMessage(moved, kOutbox, kSentItems, &lists, &placed), 0);
    EXPECT_EQ(placed, folder("OUTBOX") + "/KX42O.kx1");
    EXPECT_TRUE(fs::exists(placed));
    EXPECT_FALSE(fs::exists(moved));
    auto sent = lists.Entries(kSentItems);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].subject, "older");
    auto outbox = lists.Entries(kOutbox);
    ASSERT_EQ(outbox.size(), 2u);
    EXPECT_EQ(outbox[0].path, placed);
    EXPECT_EQ(outbox[0].subject, "moved");
    EXPECT_TRUE(reports().empty());
}

TEST_F(FoldersTest, AReadOnlyMessageStillMoves) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may open any file for writing";
    makeFolder("SENT");
    const std::string src = folder("SENT") + "/KX1S.kx0";
    makeMessage(src, "w", "T", "read only");
    fs::permissions(src, fs::perms::owner_read);
    std::string placed;
    ASSERT_EQ(MoveMessage(src, kDeletedItems, kSentItems, nullptr, &placed), 0);
    EXPECT_TRUE(fs::exists(placed));
    EXPECT_TRUE(reports().empty());
}

TEST_F(FoldersTest, AStoredMessageIsNeverReplaced) {
    makeFolder("OUTBOX");
    const std::string existing = folder("OUTBOX") + "/KX5O.kx0";
    WriteFile(existing, "an older message");
    WriteFile(folder("OUTBOX") + "/KX6O.kx0", "another");
    CUtils().SetRegistryDword(kKorrinKey, setting::kFileId, 4);
    const std::string src = dir_.file("new.kx0");
    WriteFile(src, "new message");
    std::string placed;
    ASSERT_EQ(FileIntoOutbox(src, nullptr, &placed), 0);
    EXPECT_EQ(placed, folder("OUTBOX") + "/KX7O.kx0");
    EXPECT_EQ(ReadFile(existing), "an older message");
    EXPECT_EQ(ReadFile(folder("OUTBOX") + "/KX6O.kx0"), "another");
    EXPECT_EQ(ReadFile(placed), "new message");
    EXPECT_EQ(fileId(), 7u);
}

TEST_F(FoldersTest, AHeldSourceGivesUpAfter21TriesAndStays) {
    makeFolder("SENT");
    const std::string src = folder("SENT") + "/KX1S.kx0";
    WriteFile(src, "held");
    int held = ::open(src.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_SH), 0);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(MoveMessage(src, kDeletedItems, kSentItems, nullptr), 1);
    auto waited = std::chrono::steady_clock::now() - start;
    ::close(held);
    EXPECT_GE(waited, std::chrono::milliseconds(20 * 250));
    EXPECT_EQ(ReadFile(src), "held");
    EXPECT_EQ(reports(), std::vector<std::string>{"MoveFile failed"});
    EXPECT_TRUE(fs::is_directory(folder("DELETED")));
}

TEST_F(FoldersTest, EmptyingAFolderTakesBothPatternsInAnyCaseOnly) {
    makeFolder("DELETED");
    for (const char* name : {"KX1D.kx0", "KX2D.KX1", "KX3D.Kx0", "x.kX1"})
        WriteFile(folder("DELETED") + "/" + name, "m");
    for (const char* name : {"notes.txt", "KX4D.kx2", "kx0", "KX5D.kx0.new"})
        WriteFile(folder("DELETED") + "/" + name, "other");
    fs::create_directory(folder("DELETED") + "/sub.kx0");
    DWORD count = 0;
    ASSERT_EQ(CountMessages(kDeletedItems, &count), 0);
    EXPECT_EQ(count, 4u);
    ASSERT_EQ(DeleteFolderContents(kDeletedItems), 0);
    ASSERT_EQ(CountMessages(kDeletedItems, &count), 0);
    EXPECT_EQ(count, 0u);
    int left = 0;
    for (auto& e : fs::directory_iterator(folder("DELETED")))
        left += e.is_regular_file();
    EXPECT_EQ(left, 4);
    // A missing folder holds nothing and is not an error.
    ASSERT_EQ(CountMessages(kSentItems, &count), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(reports().empty());
}

TEST_F(FoldersTest, DeletingOneMessageDropsItsEntryThenTheFile) {
    makeFolder("DELETED");
    const SYSTEMTIME same = utcTime(2003, 3, 3, 3, 3, 3);
    const std::string first = folder("DELETED") + "/KX1D.kx0";
    const std::string second = folder("DELETED") + "/KX2D.kx0";
    makeMessage(first, "w", "T", "first", same);
    makeMessage(second, "w", "T", "second", same);
    CFolderLists lists;
    lists.LoadFolder(kDeletedItems);
    ASSERT_EQ(lists.Count(kDeletedItems), 2u);
    // The entry of this very file goes, even when another has the same date.
    const std::string victim = lists.Entries(kDeletedItems)[1].path;
    DeleteMessage(victim, &lists);
    EXPECT_FALSE(fs::exists(victim));
    auto rows = lists.Entries(kDeletedItems);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_NE(rows[0].path, victim);
    EXPECT_TRUE(reports().empty());
}

TEST_F(FoldersTest, MissingInstallDirIsReportedAndNothingMoves) {
    CUtils().SetRegistryString(kInstallKey, kInstallDirValue, "");
    platform::RegKeyGuard key;
    ASSERT_EQ(platform::RegOpenKeyEx(platform::HKEY_LOCAL_MACHINE, kInstallKey, key.out()),
              platform::ERROR_SUCCESS);
    ASSERT_EQ(platform::RegDeleteValue(key.get(), kInstallDirValue), platform::ERROR_SUCCESS);
    const std::string src = dir_.file("a.kx0");
    WriteFile(src, "m");
    DWORD count = 9;
    EXPECT_EQ(CountMessages(kOutbox, &count), 1);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(DeleteFolderContents(kDeletedItems), 1);
    EXPECT_EQ(FileIntoOutbox(src, nullptr), 1);
    EXPECT_TRUE(fs::exists(src));
    EXPECT_EQ(reports(), std::vector<std::string>(3, "GetRegistryString failed."));
}

}  // namespace
}  // namespace korrin
