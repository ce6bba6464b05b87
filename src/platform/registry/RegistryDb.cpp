#include "platform/registry/RegistryDb.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/files/Files.h"

namespace korrin::platform::regdb {

namespace {

constexpr int kSchemaVersion = 1;
// The one wait of a call: for its turn on a shared connection, for other connections' locks
// (SQLite's busy handler) and for retries, all counted from the start of the call. Long enough
// for writers queued behind each other on a slow disk; short enough that a settings read on
// the user-interface thread gives up and is reported instead of freezing the program.
// KORRIN_REGISTRY_WAIT_MS overrides it.
constexpr std::chrono::milliseconds kDefaultWait{10000};

constexpr const char* kSchemaSql = R"sql(
CREATE TABLE keys(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    parent INTEGER,
    name TEXT NOT NULL COLLATE NOCASE,
    UNIQUE(parent, name));
CREATE TABLE vals(
    key INTEGER NOT NULL,
    name TEXT NOT NULL COLLATE NOCASE,
    type INTEGER NOT NULL,
    data BLOB NOT NULL,
    PRIMARY KEY(key, name)) WITHOUT ROWID;
INSERT INTO keys(id, parent, name) VALUES(1, NULL, 'HKEY_LOCAL_MACHINE');
INSERT INTO keys(id, parent, name) VALUES(2, NULL, 'HKEY_CLASSES_ROOT');
PRAGMA user_version = 1;
)sql";

}  // namespace

thread_local std::string tFailure;

LONG recordFailure(LONG code, std::string why) {
    tFailure = std::move(why);
    return code;
}

LONG fromSqlite(int rc, bool writing) {
    switch (rc & 0xff) {
        case SQLITE_OK:
        case SQLITE_ROW:
        case SQLITE_DONE:
            return ERROR_SUCCESS;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
        case SQLITE_PROTOCOL:
            return kRetry;
        default:
            break;
    }
    tFailure = sqlite3_errstr(rc);
    switch (rc & 0xff) {
        case SQLITE_NOTADB:
        case SQLITE_CORRUPT:
            return ERROR_BADDB;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return ERROR_ACCESS_DENIED;
        case SQLITE_CANTOPEN:
            return ERROR_CANTOPEN;
        case SQLITE_TOOBIG:
            return ERROR_INVALID_PARAMETER;
        default:
            return writing ? ERROR_CANTWRITE : ERROR_CANTREAD;
    }
}

LONG exec(sqlite3* db, const char* sql, bool writing) {
    return fromSqlite(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), writing);
}

std::optional<std::string> envValue(const char* name) {
    const char* v = std::getenv(name);
    if (v && *v)
        return std::string(v);
    return std::nullopt;
}

std::chrono::milliseconds waitLimit() {
    if (auto text = envValue("KORRIN_REGISTRY_WAIT_MS")) {
        char* end = nullptr;
        errno = 0;
        const unsigned long ms = std::strtoul(text->c_str(), &end, 10);
        if (errno == 0 && *end == '\0' && (*text)[0] != '-' && ms <= 3600000)
            return std::chrono::milliseconds(ms);
    }
    return kDefaultWait;
}

LONG timedOut(std::chrono::milliseconds limit) {
    return recordFailure(ERROR_TIMEOUT, "the database stayed locked by another connection for " +
                                            std::to_string(limit.count()) + " ms");
}

// Sleeps a little before the next try, never past the deadline; false once it has passed.
bool pause(int round, Clock::time_point deadline) {
    const auto now = Clock::now();
    if (now >= deadline)
        return false;
    const auto step = std::chrono::milliseconds(std::min(round, 20));
    std::this_thread::sleep_for(std::min<Clock::duration>(step, deadline - now));
    return true;
}

// SQLite's busy handler: it waits for other connections' locks until the call's deadline.
int busyHandler(void* db, int count) {
    return pause(count + 1, static_cast<Db*>(db)->deadline) ? 1 : 0;
}

LONG readUserVersion(sqlite3* db, int* version) {
    Stmt s(db, "PRAGMA user_version");
    int rc = s.step();
    if (rc != SQLITE_ROW)
        return fromSqlite(rc, false);
    *version = static_cast<int>(s.integer(0));
    return ERROR_SUCCESS;
}

// Many processes may meet a brand-new file at once: the version is checked again under the
// write lock so that exactly one of them creates the tables.
LONG ensureSchema(Db& db) {
    int version = 0;
    LONG r = retrying(db, [&] { return readUserVersion(db.handle, &version); });
    if (r != ERROR_SUCCESS)
        return r;
    if (version == kSchemaVersion)
        return ERROR_SUCCESS;
    if (version != 0)
        return ERROR_BADDB;
    // WAL keeps readers going while a writer commits; it is a property of the file.
    r = retrying(db, [&] { return exec(db.handle, "PRAGMA journal_mode=WAL", true); });
    if (r != ERROR_SUCCESS)
        return r;
    return transact(db, true, [&]() -> LONG {
        if (LONG e = readUserVersion(db.handle, &version))
            return e;
        if (version == kSchemaVersion)
            return ERROR_SUCCESS;
        if (version != 0)
            return ERROR_BADDB;
        int rc = sqlite3_exec(db.handle, kSchemaSql, nullptr, nullptr, nullptr);
        // Tables of the same names already there: some other program's database.
        return rc == SQLITE_ERROR ? ERROR_BADDB : fromSqlite(rc, true);
    });
}

// Missing folders on the way are made private: the file will hold the SMTP password.
void makeParentFolders(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        ::mkdir(path.substr(0, slash).c_str(), 0700);
    }
}

// Cannot open or create the file: says why (no permission, not a folder, ...).
LONG cannotOpen(int error) {
    return recordFailure(ERROR_CANTOPEN, error ? std::strerror(error)
                                               : std::string(sqlite3_errstr(SQLITE_CANTOPEN)));
}

// Connections no call or key uses any more, kept while a RegKeepConnections lives. Opening
// one costs a file open, the WAL's shared memory and the schema check, which a command reading
// a few settings would pay for each value. A kept connection is handed out again only in the
// process that opened it and while its path still names the file it was opened on (a test
// points KORRIN_REGISTRY elsewhere, another program replaces the file); as the connection holds
// the file open, its inode cannot have been given to another file meanwhile.
struct Pool {
    std::mutex mutex;
    std::vector<Db*> idle;
    int keepers = 0;  // live RegKeepConnections
};
constexpr std::size_t kKeptConnections = 4;

// Never destroyed: keys may be closed while the process exits.
Pool& pool() {
    static Pool* p = [] {
        auto* made = new Pool;
        made->idle.reserve(kKeptConnections);
        return made;
    }();
    return *p;
}

// The deleter of every connection: kept for the next call, the longest kept one closed when
// there are too many.
void keep(Db* db) {
    Pool& kept = pool();
    Db* close = db;
    {
        std::lock_guard lock(kept.mutex);
        if (kept.keepers > 0 && db->ready && db->process == ::getpid() &&
            sqlite3_get_autocommit(db->handle)) {
            close = nullptr;
            if (kept.idle.size() == kKeptConnections) {
                close = kept.idle.front();
                kept.idle.erase(kept.idle.begin());
            }
            kept.idle.push_back(db);
        }
    }
    // Closing a connection a parent process opened would disturb the parent's.
    if (close && close->process == ::getpid())
        delete close;
}

std::shared_ptr<Db> takeKept(const std::string& path, const struct stat& st) {
    Pool& kept = pool();
    std::lock_guard lock(kept.mutex);
    for (auto it = kept.idle.begin(); it != kept.idle.end(); ++it) {
        Db* db = *it;
        if (db->path == path && db->device == st.st_dev && db->inode == st.st_ino &&
            db->process == ::getpid()) {
            kept.idle.erase(it);
            return std::shared_ptr<Db>(db, keep);
        }
    }
    return nullptr;
}

// A new connection for a call whose wait ends at deadline.
LONG openDb(Clock::time_point deadline, std::chrono::milliseconds limit, std::shared_ptr<Db>* out) {
    const std::string path = RegistryPath();
    if (path.empty())
        return recordFailure(ERROR_CANTOPEN, "no home folder to keep it in");
    // Made here, not by SQLite, so that the mode is 0600 whatever the umask; SQLite gives
    // the -wal and -shm files the mode of the database.
    const int flags = O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC;
    int fd = ::open(path.c_str(), flags, 0600);
    if (fd < 0 && errno == ENOENT) {
        makeParentFolders(path);
        fd = ::open(path.c_str(), flags, 0600);
    }
    if (fd >= 0) {
        ::fchmod(fd, 0600);
        ::close(fd);
    } else if (errno != EEXIST) {
        // Neither made nor there (a file where a folder should be, no permission, ...).
        return cannotOpen(errno);
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return cannotOpen(EISDIR);
    if (auto db = takeKept(path, st)) {
        db->deadline = deadline;
        db->limit = limit;
        *out = std::move(db);
        return ERROR_SUCCESS;
    }
    std::shared_ptr<Db> db(new Db, keep);
    db->deadline = deadline;
    db->limit = limit;
    db->path = path;
    db->device = st.st_dev;
    db->inode = st.st_ino;
    db->process = ::getpid();
    // No SQLITE_OPEN_CREATE: if the file vanished meanwhile, failing beats a 0644 file.
    int rc = sqlite3_open_v2(path.c_str(), &db->handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc != SQLITE_OK)
        return cannotOpen(db->handle ? sqlite3_system_errno(db->handle) : 0);
    sqlite3_busy_handler(db->handle, busyHandler, db.get());
    LONG r = retrying(*db, [&] { return exec(db->handle, "PRAGMA synchronous=FULL", false); });
    if (r == ERROR_SUCCESS)
        r = ensureSchema(*db);
    if (r == ERROR_CANTREAD || r == ERROR_CANTWRITE)
        r = ERROR_CANTOPEN;
    if (r != ERROR_SUCCESS)
        return r;
    db->ready = true;
    *out = std::move(db);
    return ERROR_SUCCESS;
}

}  // namespace korrin::platform::regdb

namespace korrin::platform {

RegKeepConnections::RegKeepConnections() {
    regdb::Pool& kept = regdb::pool();
    std::lock_guard lock(kept.mutex);
    ++kept.keepers;
}

RegKeepConnections::~RegKeepConnections() {
    regdb::Pool& kept = regdb::pool();
    std::vector<Db*> close;
    {
        std::lock_guard lock(kept.mutex);
        if (--kept.keepers == 0)
            close.swap(kept.idle);
        kept.idle.reserve(regdb::kKeptConnections);
    }
    for (Db* db : close)
        if (db->process == ::getpid())
            delete db;
}

}  // namespace korrin::platform
