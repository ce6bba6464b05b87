// The registry over one SQLite file. Keys are rows of `keys` (parent, name) and values rows
// of `vals` (key, name, type, data); both names use SQLite's NOCASE collation, which folds
// ASCII letters only, matching how key and value names have always compared.
//
// Key ids come from AUTOINCREMENT so that an id is never handed out twice: a handle to a
// deleted key must not wake up pointing at a new key created under the same path.
#include "platform/registry/Registry.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "platform/Endian.h"
#include "platform/Text.h"
#include "platform/files/Files.h"
#include "platform/registry/MimeTypes.h"
#include "platform/registry/RegistryDb.h"
#include "platform/secret/Secret.h"

namespace korrin::platform {

namespace {

using namespace regdb;

constexpr std::int64_t kLocalMachineId = 1;
constexpr std::int64_t kClassesRootId = 2;
// Windows' own limit on one key name; longer ones are refused rather than stored.
constexpr std::size_t kMaxKeyNameLength = 255;

RegKey gLocalMachine{KeyKind::Root, false, kLocalMachineId, {}, nullptr};
RegKey gClassesRoot{KeyKind::Root, true, kClassesRootId, {}, nullptr};

// The preamble every entry point shares: nothing escapes as an exception (an allocation
// failing, say), a null handle is refused, and the call gets its one bounded wait.
template <class F>
LONG entry(HKEY key, bool writing, F&& body) noexcept {
    try {
        if (!key)
            return ERROR_INVALID_HANDLE;
        Call call(writing);
        LONG r = body(call);
        // Busy is only ever waited for, never handed out.
        return r == kRetry ? timedOut(waitLimit()) : r;
    } catch (const std::exception& e) {
        return recordFailure(writing ? ERROR_CANTWRITE : ERROR_CANTREAD, e.what());
    } catch (...) {
        return recordFailure(writing ? ERROR_CANTWRITE : ERROR_CANTREAD, "unexpected failure");
    }
}

LONG splitPath(const std::string& subKey, std::vector<std::string>* out) {
    std::size_t start = 0;
    while (start <= subKey.size()) {
        std::size_t end = subKey.find('\\', start);
        if (end == std::string::npos)
            end = subKey.size();
        if (end > start) {
            if (end - start > kMaxKeyNameLength)
                return ERROR_INVALID_PARAMETER;
            out->push_back(subKey.substr(start, end - start));
        }
        start = end + 1;
    }
    return ERROR_SUCCESS;
}

// HKEY_CLASSES_ROOT\.ext: the extension whose content type mime.types may supply.
std::optional<std::string> extensionKey(bool classesRoot, const std::vector<std::string>& path) {
    if (!classesRoot || path.size() != 1 || path[0].size() < 2 || path[0][0] != '.')
        return std::nullopt;
    return path[0].substr(1);
}

std::int64_t rootId(HKEY key) {
    return key->classesRoot ? kClassesRootId : kLocalMachineId;
}

// Where a path given relative to key starts: the key's own row, except for a virtual key,
// which has no row, so its path is walked again from the root.
std::int64_t startOf(HKEY key, std::vector<std::string>* comps) {
    if (key->kind != KeyKind::Virtual)
        return key->id;
    comps->insert(comps->begin(), key->path.begin(), key->path.end());
    return rootId(key);
}

// The path of a key found from key by names (which startOf made absolute for a virtual key).
std::vector<std::string> pathBelow(HKEY key, const std::vector<std::string>& names) {
    std::vector<std::string> path;
    if (key->kind != KeyKind::Virtual)
        path = key->path;
    path.insert(path.end(), names.begin(), names.end());
    return path;
}

LONG keyExists(sqlite3* db, std::int64_t id, bool* exists) {
    Stmt s(db, "SELECT 1 FROM keys WHERE id = ?1");
    int rc = s.bind(1, id).step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        return fromSqlite(rc, false);
    *exists = rc == SQLITE_ROW;
    return ERROR_SUCCESS;
}

// Past the last entry of a list: its end, or for a key deleted meanwhile, not found.
LONG endOfList(sqlite3* db, HKEY key) {
    bool live = true;
    if (key->kind == KeyKind::Stored) {
        if (LONG r = keyExists(db, key->id, &live))
            return r;
    }
    return live ? ERROR_NO_MORE_ITEMS : ERROR_FILE_NOT_FOUND;
}

// Writes through a handle whose key has been deleted fail with ERROR_KEY_DELETED.
LONG requireLive(sqlite3* db, HKEY key) {
    if (key->kind != KeyKind::Stored)
        return ERROR_SUCCESS;
    bool exists = false;
    if (LONG r = keyExists(db, key->id, &exists))
        return r;
    return exists ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

LONG findChild(sqlite3* db, std::int64_t parent, const std::string& name, std::int64_t* id,
               std::string* stored) {
    Stmt s(db, "SELECT id, name FROM keys WHERE parent = ?1 AND name = ?2");
    int rc = s.bind(1, parent).bind(2, name).step();
    if (rc == SQLITE_DONE)
        return ERROR_FILE_NOT_FOUND;
    if (rc != SQLITE_ROW)
        return fromSqlite(rc, false);
    *id = s.integer(0);
    if (stored)
        *stored = s.text(1);
    return ERROR_SUCCESS;
}

LONG findPath(sqlite3* db, std::int64_t start, const std::vector<std::string>& comps,
              std::int64_t* id, std::vector<std::string>* names) {
    *id = start;
    for (const auto& c : comps) {
        std::string stored;
        if (LONG r = findChild(db, *id, c, id, &stored))
            return r;
        names->push_back(std::move(stored));
    }
    return ERROR_SUCCESS;
}

LONG deliver(DWORD type, const std::vector<std::uint8_t>& bytes, DWORD* outType, std::uint8_t* data,
             DWORD* size) {
    if (outType)
        *outType = type;
    const auto need = static_cast<DWORD>(bytes.size());
    if (data) {
        if (*size < need) {
            *size = need;
            return ERROR_MORE_DATA;
        }
        if (need)
            std::memcpy(data, bytes.data(), need);
    }
    if (size)
        *size = need;
    return ERROR_SUCCESS;
}

// Content Type of HKEY_CLASSES_ROOT\.ext from mime.types, as the REG_SZ Windows would give:
// with its terminating zero byte counted.
std::optional<std::vector<std::uint8_t>> mimeContentType(HKEY key, const std::string& name) {
    auto ext = extensionKey(key->classesRoot, key->path);
    if (!ext || !EqualsNoCase(name, "Content Type"))
        return std::nullopt;
    auto type = SystemMimeTypeForExtension(*ext);
    if (!type)
        return std::nullopt;
    std::vector<std::uint8_t> bytes(type->begin(), type->end());
    bytes.push_back(0);
    return bytes;
}

// Deletes the key and everything below it, or with keepKey only what is below it and its
// values. Done with a recursive query rather than cascades, which stop at a depth of 1000.
LONG deleteTree(sqlite3* db, std::int64_t id, bool keepKey) {
    const char* seed = keepKey ? "SELECT id FROM keys WHERE parent = ?1" : "SELECT ?1";
    for (const char* target :
         {"DELETE FROM vals WHERE key IN t", "DELETE FROM keys WHERE id IN t"}) {
        std::string sql = std::string("WITH RECURSIVE t(id) AS (") + seed +
                          " UNION ALL SELECT k.id FROM keys k JOIN t ON k.parent = t.id) " + target;
        Stmt s(db, sql.c_str());
        int rc = s.bind(1, id).step();
        if (rc != SQLITE_DONE)
            return fromSqlite(rc, true);
    }
    if (keepKey) {
        Stmt s(db, "DELETE FROM vals WHERE key = ?1");
        int rc = s.bind(1, id).step();
        if (rc != SQLITE_DONE)
            return fromSqlite(rc, true);
    }
    return ERROR_SUCCESS;
}

LONG deleteKeyImpl(HKEY base, const std::string& subKey, bool tree) {
    return entry(base, true, [&](Call& call) -> LONG {
        std::vector<std::string> comps;
        if (LONG r = splitPath(subKey, &comps))
            return r;
        const bool keyItself = comps.empty();
        if (keyItself && !tree && (base->kind == KeyKind::Root || base->id == rootId(base)))
            return ERROR_ACCESS_DENIED;
        const std::int64_t start = startOf(base, &comps);
        return call.run(base, [&](sqlite3* db) -> LONG {
            if (LONG r = requireLive(db, base))
                return r;
            std::int64_t id = 0;
            std::vector<std::string> names;
            if (LONG r = findPath(db, start, comps, &id, &names))
                return r;
            if (tree)
                return deleteTree(db, id, keyItself);
            Stmt children(db, "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1");
            int rc = children.bind(1, id).step();
            if (rc == SQLITE_ROW)
                return ERROR_ACCESS_DENIED;
            if (rc != SQLITE_DONE)
                return fromSqlite(rc, true);
            return deleteTree(db, id, false);
        });
    });
}

// The path below base that opening or creating a key walks, made absolute for a virtual
// base, and the row the walk starts from.
LONG beginWalk(HKEY base, const std::string& subKey, HKEY* result, std::vector<std::string>* comps,
               std::int64_t* start) {
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (LONG r = splitPath(subKey, comps))
        return r;
    *start = startOf(base, comps);
    return ERROR_SUCCESS;
}

constexpr const char* kUpsertValue =
    "INSERT INTO vals(key, name, type, data) VALUES(?1, ?2, ?3, ?4) "
    "ON CONFLICT(key, name) DO UPDATE SET type = excluded.type, data = excluded.data";

}  // namespace

const HKEY HKEY_CLASSES_ROOT = &gClassesRoot;
const HKEY HKEY_LOCAL_MACHINE = &gLocalMachine;

std::string RegistryPath() {
    if (auto path = envValue("KORRIN_REGISTRY"))
        return *path;
    std::string base;
    // The XDG rules ignore a relative XDG_CONFIG_HOME.
    if (auto xdg = envValue("XDG_CONFIG_HOME"); xdg && (*xdg)[0] == '/') {
        base = *xdg;
    } else {
        std::string home = GetHomeDirectory();
        if (home.empty())
            return {};
        base = (home == "/" ? "" : home) + "/.config";
    }
    return base + "/korrin/registry.db";
}

std::string RegLastFailure() {
    return tFailure;
}

LONG RegCreateKeyEx(HKEY base, const std::string& subKey, HKEY* result, DWORD* disposition) {
    return entry(base, true, [&](Call& call) -> LONG {
        std::vector<std::string> comps;
        std::int64_t start = 0;
        if (LONG r = beginWalk(base, subKey, result, &comps, &start))
            return r;
        std::int64_t id = 0;
        std::vector<std::string> names;
        bool created = false;
        LONG r = call.run(base, [&](sqlite3* db) -> LONG {
            names.clear();
            created = false;
            if (LONG e = requireLive(db, base))
                return e;
            id = start;
            for (const auto& c : comps) {
                std::string stored;
                LONG e = findChild(db, id, c, &id, &stored);
                if (e == ERROR_FILE_NOT_FOUND) {
                    Stmt ins(db, "INSERT INTO keys(parent, name) VALUES(?1, ?2)");
                    int rc = ins.bind(1, id).bind(2, c).step();
                    if (rc != SQLITE_DONE)
                        return fromSqlite(rc, true);
                    id = sqlite3_last_insert_rowid(db);
                    stored = c;
                    created = true;
                } else if (e != ERROR_SUCCESS) {
                    return e;
                }
                names.push_back(std::move(stored));
            }
            return ERROR_SUCCESS;
        });
        if (r != ERROR_SUCCESS)
            return r;
        *result = new RegKey{KeyKind::Stored, base->classesRoot, id, pathBelow(base, names),
                             call.connection()};
        if (disposition)
            *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        return ERROR_SUCCESS;
    });
}

LONG RegOpenKeyEx(HKEY base, const std::string& subKey, HKEY* result) {
    return entry(base, false, [&](Call& call) -> LONG {
        std::vector<std::string> comps;
        std::int64_t start = 0;
        if (LONG r = beginWalk(base, subKey, result, &comps, &start))
            return r;
        std::int64_t id = 0;
        std::vector<std::string> names;
        LONG r = call.run(base, [&](sqlite3* db) -> LONG {
            names.clear();
            return findPath(db, start, comps, &id, &names);
        });
        if (r == ERROR_SUCCESS) {
            *result = new RegKey{KeyKind::Stored, base->classesRoot, id, pathBelow(base, names),
                                 call.connection()};
            return ERROR_SUCCESS;
        }
        if (r != ERROR_FILE_NOT_FOUND)
            return r;
        // Not stored: HKEY_CLASSES_ROOT\.ext still opens when mime.types knows the extension.
        auto path = pathBelow(base, comps);
        auto ext = extensionKey(base->classesRoot, path);
        if (!ext || !SystemMimeTypeForExtension(*ext))
            return ERROR_FILE_NOT_FOUND;
        *result = new RegKey{KeyKind::Virtual, true, 0, std::move(path), call.connection()};
        return ERROR_SUCCESS;
    });
}

LONG RegCloseKey(HKEY key) {
    if (!key)
        return ERROR_INVALID_HANDLE;
    if (key->kind != KeyKind::Root)
        delete key;
    return ERROR_SUCCESS;
}

LONG RegQueryKeyName(HKEY key, std::string* name) {
    return entry(key, false, [&](Call&) -> LONG {
        if (!name)
            return ERROR_INVALID_PARAMETER;
        *name = key->classesRoot ? "HKEY_CLASSES_ROOT" : "HKEY_LOCAL_MACHINE";
        for (const auto& c : key->path)
            *name += "\\" + c;
        return ERROR_SUCCESS;
    });
}

LONG RegQueryValueEx(HKEY key, const std::string& name, DWORD* type, std::uint8_t* data,
                     DWORD* size) {
    return entry(key, false, [&](Call& call) -> LONG {
        if (data && !size)
            return ERROR_INVALID_PARAMETER;
        bool found = false;
        bool live = true;
        DWORD storedType = REG_NONE;
        std::vector<std::uint8_t> bytes;
        if (key->kind != KeyKind::Virtual) {
            LONG r = call.run(key, [&](sqlite3* db) -> LONG {
                Stmt s(db, "SELECT type, data FROM vals WHERE key = ?1 AND name = ?2");
                int rc = s.bind(1, key->id).bind(2, name).step();
                found = rc == SQLITE_ROW;
                if (found) {
                    storedType = static_cast<DWORD>(s.integer(0));
                    bytes = s.blob(1);
                    return ERROR_SUCCESS;
                }
                if (rc != SQLITE_DONE)
                    return fromSqlite(rc, false);
                return key->kind == KeyKind::Stored ? keyExists(db, key->id, &live) : ERROR_SUCCESS;
            });
            if (r != ERROR_SUCCESS)
                return r;
        }
        if (found) {
            LONG r = deliver(storedType, bytes, type, data, size);
            // The value may be the password: no copy of it is left behind.
            WipeMemory(bytes.data(), bytes.size());
            return r;
        }
        if (!live)
            return ERROR_FILE_NOT_FOUND;
        auto fallback = mimeContentType(key, name);
        if (!fallback)
            return ERROR_FILE_NOT_FOUND;
        return deliver(REG_SZ, *fallback, type, data, size);
    });
}

LONG RegSetValueEx(HKEY key, const std::string& name, DWORD type, const std::uint8_t* data,
                   DWORD size) {
    return entry(key, true, [&](Call& call) -> LONG {
        if (!data && size)
            return ERROR_INVALID_PARAMETER;
        if (key->kind == KeyKind::Virtual)
            return ERROR_ACCESS_DENIED;
        return call.run(key, [&](sqlite3* db) -> LONG {
            if (LONG r = requireLive(db, key))
                return r;
            // The upsert keeps the spelling the value was first written with.
            Stmt s(db, kUpsertValue);
            int rc = s.bind(1, key->id)
                         .bind(2, name)
                         .bind(3, std::int64_t{type})
                         .bindBlob(4, data, size)
                         .step();
            return rc == SQLITE_DONE ? ERROR_SUCCESS : fromSqlite(rc, true);
        });
    });
}

LONG RegDeleteValue(HKEY key, const std::string& name) {
    return entry(key, true, [&](Call& call) -> LONG {
        if (key->kind == KeyKind::Virtual)
            return ERROR_ACCESS_DENIED;
        return call.run(key, [&](sqlite3* db) -> LONG {
            if (LONG r = requireLive(db, key))
                return r;
            Stmt s(db, "DELETE FROM vals WHERE key = ?1 AND name = ?2");
            int rc = s.bind(1, key->id).bind(2, name).step();
            if (rc != SQLITE_DONE)
                return fromSqlite(rc, true);
            return sqlite3_changes(db) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
        });
    });
}

LONG RegDeleteKey(HKEY base, const std::string& subKey) {
    return deleteKeyImpl(base, subKey, false);
}

LONG RegDeleteTree(HKEY base, const std::string& subKey) {
    return deleteKeyImpl(base, subKey, true);
}

LONG RegEnumKey(HKEY key, DWORD index, std::string* name) {
    return entry(key, false, [&](Call& call) -> LONG {
        if (!name)
            return ERROR_INVALID_PARAMETER;
        if (key->kind == KeyKind::Virtual)
            return ERROR_NO_MORE_ITEMS;
        return call.run(key, [&](sqlite3* db) -> LONG {
            Stmt s(db, "SELECT name FROM keys WHERE parent = ?1 ORDER BY name LIMIT 1 OFFSET ?2");
            int rc = s.bind(1, key->id).bind(2, std::int64_t{index}).step();
            if (rc == SQLITE_ROW) {
                *name = s.text(0);
                return ERROR_SUCCESS;
            }
            if (rc != SQLITE_DONE)
                return fromSqlite(rc, false);
            return endOfList(db, key);
        });
    });
}

LONG RegEnumValue(HKEY key, DWORD index, std::string* name, DWORD* type,
                  std::vector<std::uint8_t>* data) {
    return entry(key, false, [&](Call& call) -> LONG {
        if (!name)
            return ERROR_INVALID_PARAMETER;
        if (key->kind == KeyKind::Virtual) {
            auto bytes = index == 0 ? mimeContentType(key, "Content Type") : std::nullopt;
            if (!bytes)
                return ERROR_NO_MORE_ITEMS;
            *name = "Content Type";
            if (type)
                *type = REG_SZ;
            if (data)
                *data = std::move(*bytes);
            return ERROR_SUCCESS;
        }
        return call.run(key, [&](sqlite3* db) -> LONG {
            Stmt s(db,
                   "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY name "
                   "LIMIT 1 OFFSET ?2");
            int rc = s.bind(1, key->id).bind(2, std::int64_t{index}).step();
            if (rc == SQLITE_ROW) {
                *name = s.text(0);
                if (type)
                    *type = static_cast<DWORD>(s.integer(1));
                if (data) {
                    // The value read before may have been the password.
                    WipeMemory(data->data(), data->size());
                    *data = s.blob(2);
                }
                return ERROR_SUCCESS;
            }
            if (rc != SQLITE_DONE)
                return fromSqlite(rc, false);
            return endOfList(db, key);
        });
    });
}

LONG RegUpdateDword(HKEY key, const std::string& name,
                    const std::function<DWORD(std::optional<DWORD>)>& update, DWORD* result) {
    return entry(key, true, [&](Call& call) -> LONG {
        if (!update)
            return ERROR_INVALID_PARAMETER;
        if (key->kind == KeyKind::Virtual)
            return ERROR_ACCESS_DENIED;
        DWORD written = 0;
        LONG r = call.run(key, [&](sqlite3* db) -> LONG {
            if (LONG e = requireLive(db, key))
                return e;
            std::optional<DWORD> current;
            {
                Stmt s(db, "SELECT type, data FROM vals WHERE key = ?1 AND name = ?2");
                int rc = s.bind(1, key->id).bind(2, name).step();
                if (rc == SQLITE_ROW) {
                    auto bytes = s.blob(1);
                    if (s.integer(0) == REG_DWORD && bytes.size() == 4)
                        current = LoadLE32(bytes.data());
                } else if (rc != SQLITE_DONE) {
                    return fromSqlite(rc, false);
                }
            }
            written = update(current);
            std::uint8_t bytes[4];
            StoreLE32(bytes, written);
            Stmt s(db, kUpsertValue);
            int rc = s.bind(1, key->id)
                         .bind(2, name)
                         .bind(3, std::int64_t{REG_DWORD})
                         .bindBlob(4, bytes, sizeof bytes)
                         .step();
            return rc == SQLITE_DONE ? ERROR_SUCCESS : fromSqlite(rc, true);
        });
        if (r == ERROR_SUCCESS && result)
            *result = written;
        return r;
    });
}

}  // namespace korrin::platform
