// The registry used from several threads: handles shared between them, and the one bounded
// wait of a call while another connection or process holds the database.
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "helpers/TestSupport.h"
#include "platform/Endian.h"
#include "platform/registry/Registry.h"

namespace {

using namespace korrin::platform;
using korrin::test::RegistryTest;
using korrin::test::ScopedEnv;
using Clock = std::chrono::steady_clock;

const char* kKorrinKey = "SOFTWARE\\Quillion\\Korrin";

LONG setDword(HKEY key, const std::string& name, DWORD value) {
    std::uint8_t bytes[4];
    StoreLE32(bytes, value);
    return RegSetValueEx(key, name, REG_DWORD, bytes, 4);
}

std::optional<DWORD> getDword(HKEY key, const std::string& name) {
    std::uint8_t bytes[4] = {};
    DWORD size = sizeof bytes;
    if (RegQueryValueEx(key, name, nullptr, bytes, &size) != ERROR_SUCCESS || size != 4)
        return std::nullopt;
    return LoadLE32(bytes);
}

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

using RegistryThreads = RegistryTest;

TEST_F(RegistryThreads, OneHandleServesSeveralThreadsAtOnce) {
    RegKeyGuard key;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, key.out()), ERROR_SUCCESS);
    constexpr int kThreads = 4, kEach = 60;
    std::vector<std::thread> threads;
    std::vector<std::vector<DWORD>> taken(kThreads);
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const std::string own = "Thread " + std::to_string(t);
            for (int i = 0; i < kEach; ++i) {
                DWORD n = 0;
                if (RegUpdateDword(
                        key.get(), "File ID",
                        [](std::optional<DWORD> v) { return v.value_or(0) + 1; },
                        &n) != ERROR_SUCCESS ||
                    setDword(key.get(), own, DWORD(i)) != ERROR_SUCCESS ||
                    getDword(key.get(), own) != DWORD(i))
                    ++failures;
                taken[t].push_back(n);
                // Subkeys opened from the shared handle share its connection too.
                RegKeyGuard sub;
                if (RegCreateKeyEx(key.get(), own, sub.out()) != ERROR_SUCCESS ||
                    setDword(sub.get(), "Round", DWORD(i)) != ERROR_SUCCESS)
                    ++failures;
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures.load(), 0);
    std::set<DWORD> all;
    for (const auto& list : taken)
        all.insert(list.begin(), list.end());
    EXPECT_EQ(all.size(), std::size_t{kThreads * kEach});
    EXPECT_EQ(getDword(key.get(), "File ID"), DWORD{kThreads * kEach});
}

TEST_F(RegistryThreads, AHandleOutlivesTheThreadThatOpenedIt) {
    HKEY opened = nullptr;
    std::thread([&] {
        ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, &opened), ERROR_SUCCESS);
        ASSERT_EQ(setDword(opened, "Outbox Count", 3), ERROR_SUCCESS);
    }).join();
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(getDword(opened, "Outbox Count"), 3u);
    std::thread([&] { EXPECT_EQ(RegCloseKey(opened), ERROR_SUCCESS); }).join();
}

// Another program holding the database: a plain SQLite connection with a write transaction
// open, in exclusive locking mode when readers are to be kept out as well.
class Holder {
  public:
    Holder(const std::string& path, bool exclusive) {
        EXPECT_EQ(sqlite3_open(path.c_str(), &db_), SQLITE_OK);
        if (exclusive)
            exec("PRAGMA locking_mode=EXCLUSIVE");
        exec("BEGIN IMMEDIATE");
        exec("INSERT INTO vals(key, name, type, data) VALUES(1, 'held', 4, x'01000000')");
        if (exclusive) {
            exec("COMMIT");  // in exclusive mode the lock stays after the commit
            exec("BEGIN IMMEDIATE");
        }
    }
    ~Holder() {
        exec("ROLLBACK");
        sqlite3_close(db_);
    }

  private:
    void exec(const char* sql) {
        EXPECT_EQ(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr), SQLITE_OK)
            << sql << ": " << sqlite3_errmsg(db_);
    }
    sqlite3* db_ = nullptr;
};

class RegistryWait : public RegistryTest {
  protected:
    static constexpr int kLimitMs = 1000;
    ScopedEnv wait_{"KORRIN_REGISTRY_WAIT_MS", std::to_string(kLimitMs)};
    void SetUp() override {
        RegKeyGuard key;
        ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, key.out()), ERROR_SUCCESS);
        ASSERT_EQ(setDword(key.get(), "Beep", 1), ERROR_SUCCESS);
    }
};

TEST_F(RegistryWait, ASettingsReadGivesUpAfterTheBoundAndSaysWhy) {
    Holder holder(dbPath(), true);
    const auto start = Clock::now();
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, &key), ERROR_TIMEOUT);
    const auto took = msSince(start);
    EXPECT_EQ(key, nullptr);
    EXPECT_NE(RegLastFailure().find("locked"), std::string::npos) << RegLastFailure();
    EXPECT_GE(took, kLimitMs - 50);
    EXPECT_LT(took, 3 * kLimitMs) << "one wait, not several in a row";
}

TEST_F(RegistryWait, ThreadsSharingAKeyWaitWithinTheirOwnBound) {
    RegKeyGuard key;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, key.out()), ERROR_SUCCESS);
    Holder holder(dbPath(), false);
    // The first writer waits for the other program while it holds the shared connection; the
    // second waits for the first, but no longer than its own bound in all.
    std::atomic<LONG> first{-1};
    std::thread writer([&] { first = setDword(key.get(), "Beep", 2); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto start = Clock::now();
    EXPECT_EQ(setDword(key.get(), "Beep", 3), ERROR_TIMEOUT);
    const auto took = msSince(start);
    writer.join();
    EXPECT_EQ(first.load(), ERROR_TIMEOUT);
    EXPECT_LT(took, kLimitMs + kLimitMs / 2)
        << "the second call waited out the first one's bound too";
}

TEST_F(RegistryWait, TheDatabaseServesAgainOnceReleased) {
    {
        Holder holder(dbPath(), false);
        RegKeyGuard key;
        ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, key.out()), ERROR_SUCCESS);
        EXPECT_EQ(getDword(key.get(), "Beep"), 1u) << "readers pass a writer";
        EXPECT_EQ(setDword(key.get(), "Beep", 5), ERROR_TIMEOUT);
    }
    RegKeyGuard key;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, key.out()), ERROR_SUCCESS);
    EXPECT_EQ(setDword(key.get(), "Beep", 6), ERROR_SUCCESS);
    EXPECT_EQ(getDword(key.get(), "Beep"), 6u);
    EXPECT_EQ(getDword(key.get(), "held"), std::nullopt) << "the other program rolled back";
}

}  // namespace
