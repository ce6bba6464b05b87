// The registry's SQLite plumbing: connections, statements, bounded waits and transactions.
#pragma once

#include <sqlite3.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/Registry.h"

namespace korrin::platform {

using Clock = std::chrono::steady_clock;

// One SQLite connection. Keys opened from one another share it and may be used from
// different threads: a call holds the mutex from its first use of the connection to its end.
struct Db {
    sqlite3* handle = nullptr;
    std::mutex mutex;
    // The file it was opened on, so that a kept connection is only handed out again for it.
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    pid_t process = 0;
    bool ready = false;  // opened and checked: it may be kept
    // The wait of the call that holds the mutex: SQLite's busy handler stops at its deadline.
    Clock::time_point deadline;
    std::chrono::milliseconds limit{0};
    Db() = default;
    Db(const Db&) = delete;
    Db& operator=(const Db&) = delete;
    ~Db() { sqlite3_close_v2(handle); }
};

enum class KeyKind {
    Root,     // the two sentinels; each call on them opens a connection of its own
    Stored,   // a row of `keys`
    Virtual,  // HKEY_CLASSES_ROOT\.ext known only from mime.types: read-only
};

struct RegKey {
    KeyKind kind;
    bool classesRoot;
    std::int64_t id;                // row of `keys`; the roots are rows 1 and 2
    std::vector<std::string> path;  // components below the root, as stored (or as asked)
    std::shared_ptr<Db> db;
};

namespace regdb {

// Internal result: SQLite was busy in a way its busy handler does not wait for.
constexpr LONG kRetry = -1;

// Why the last failing call on this thread failed, for RegLastFailure.
extern thread_local std::string tFailure;

LONG recordFailure(LONG code, std::string why);

LONG fromSqlite(int rc, bool writing);

class Stmt {
  public:
    Stmt(sqlite3* db, const char* sql) : rc_(sqlite3_prepare_v2(db, sql, -1, &s_, nullptr)) {}
    ~Stmt() { sqlite3_finalize(s_); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;

    Stmt& bind(int i, std::int64_t v) {
        if (rc_ == SQLITE_OK)
            rc_ = sqlite3_bind_int64(s_, i, v);
        return *this;
    }
    Stmt& bind(int i, std::string_view text) {
        // A null pointer would bind NULL, and the default value's name is "".
        const char* p = text.data() ? text.data() : "";
        if (rc_ == SQLITE_OK)
            rc_ = sqlite3_bind_text64(s_, i, p, text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
        return *this;
    }
    // The bytes must outlive the statement: they are not copied, so a value (the password)
    // leaves no copy behind in memory freed unwiped.
    Stmt& bindBlob(int i, const std::uint8_t* data, std::size_t size) {
        if (rc_ != SQLITE_OK)
            return *this;
        rc_ = size == 0 ? sqlite3_bind_zeroblob(s_, i, 0)
                        : sqlite3_bind_blob64(s_, i, data, size, SQLITE_STATIC);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or the failure (of preparing, binding or stepping).
    int step() {
        if (rc_ != SQLITE_OK && rc_ != SQLITE_ROW)
            return rc_;
        rc_ = sqlite3_step(s_);
        return rc_;
    }
    std::int64_t integer(int col) { return sqlite3_column_int64(s_, col); }
    std::string text(int col) {
        auto p = reinterpret_cast<const char*>(sqlite3_column_text(s_, col));
        return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(s_, col)))
                 : std::string();
    }
    std::vector<std::uint8_t> blob(int col) {
        auto p = static_cast<const std::uint8_t*>(sqlite3_column_blob(s_, col));
        return p ? std::vector<std::uint8_t>(p, p + sqlite3_column_bytes(s_, col))
                 : std::vector<std::uint8_t>();
    }

  private:
    sqlite3_stmt* s_ = nullptr;
    int rc_;
};

LONG exec(sqlite3* db, const char* sql, bool writing);

std::optional<std::string> envValue(const char* name);

std::chrono::milliseconds waitLimit();

LONG timedOut(std::chrono::milliseconds limit);

// Sleeps a little before the next try, never past the deadline; false once it has passed.
bool pause(int round, Clock::time_point deadline);

// Runs attempt until it gives something other than kRetry, until the call's deadline.
// SQLite's busy handler covers writers waiting for writers; this covers the rest (a WAL
// index being rebuilt by a connection that just opened, a checkpoint racing a close).
template <class F>
LONG retrying(Db& db, F&& attempt) {
    for (int round = 1;; ++round) {
        LONG r = attempt();
        if (r != kRetry)
            return r;
        if (!pause(round, db.deadline))
            return timedOut(db.limit);
    }
}

// body runs inside one transaction that is committed when it returns ERROR_SUCCESS and
// rolled back otherwise. Writers take the write lock up front (BEGIN IMMEDIATE): a reader
// that upgrades later can find its snapshot stale, which no amount of waiting mends.
// body may run more than once.
template <class F>
LONG transact(Db& db, bool writing, F&& body) {
    return retrying(db, [&]() -> LONG {
        LONG r = exec(db.handle, writing ? "BEGIN IMMEDIATE" : "BEGIN", writing);
        try {
            if (r == ERROR_SUCCESS) {
                r = body();
                if (r == ERROR_SUCCESS)
                    r = exec(db.handle, "COMMIT", writing);
            }
        } catch (...) {
            // A transaction left open would hold the write lock for as long as the key.
            if (!sqlite3_get_autocommit(db.handle))
                exec(db.handle, "ROLLBACK", writing);
            throw;
        }
        if (!sqlite3_get_autocommit(db.handle))
            exec(db.handle, "ROLLBACK", writing);
        return r;
    });
}

// A new connection for a call whose wait ends at deadline.
// A connection for a call whose wait ends at deadline: one this process kept from an earlier
// call or key when it was opened on the file the path names now, else a new one. When its
// last user lets it go it is kept for the next call while a RegKeepConnections lives.
LONG openDb(Clock::time_point deadline, std::chrono::milliseconds limit, std::shared_ptr<Db>* out);

// One call of an entry point: its one bounded wait, and once it needs the database, the
// connection it works through with its turn on it, held until the call returns.
class Call {
  public:
    explicit Call(bool writing)
        : writing_(writing), limit_(waitLimit()), deadline_(Clock::now() + limit_) {
        tFailure.clear();
    }

    // Takes key's connection (for a root, opens one for this call alone), waiting for the
    // turn on it no longer than the call's wait, then runs body(sqlite3*) in one transaction
    // (body may run more than once).
    template <class F>
    LONG run(HKEY key, F&& body) {
        if (LONG r = connect(key))
            return r;
        return transact(*db_, writing_, [&] { return body(db_->handle); });
    }

    // The connection run took, for the handles the call hands out.
    const std::shared_ptr<Db>& connection() const { return db_; }

  private:
    LONG connect(HKEY key) {
        if (db_)
            return ERROR_SUCCESS;
        if (!key->db) {
            if (LONG r = openDb(deadline_, limit_, &db_))
                return r;
            turn_ = std::unique_lock(db_->mutex);
            return ERROR_SUCCESS;
        }
        // Polled rather than a timed lock, which ThreadSanitizer cannot follow.
        std::unique_lock turn(key->db->mutex, std::try_to_lock);
        for (int round = 1; !turn.owns_lock(); ++round) {
            if (!pause(std::min(round, 2), deadline_))
                return timedOut(limit_);
            turn.try_lock();
        }
        db_ = key->db;
        turn_ = std::move(turn);
        db_->deadline = deadline_;
        db_->limit = limit_;
        return ERROR_SUCCESS;
    }

    bool writing_;
    std::chrono::milliseconds limit_;
    Clock::time_point deadline_;
    std::shared_ptr<Db> db_;  // before turn_: the turn ends before the last reference goes
    std::unique_lock<std::mutex> turn_;
};

}  // namespace regdb

}  // namespace korrin::platform
