// The registry: HKEY_LOCAL_MACHINE and HKEY_CLASSES_ROOT kept in one SQLite database file.
//
// The database is $KORRIN_REGISTRY, or $XDG_CONFIG_HOME/korrin/registry.db (default
// ~/.config/korrin/registry.db). It is created with mode 0600 because it holds the SMTP
// password. The path is resolved again at every open, so a test may point it elsewhere.
//
// Semantics kept from the system this replaces, because callers rely on them:
//  - key paths use '\' between components and compare without regard to (ASCII) case; the
//    case a key or value was first written with is kept for enumeration and export;
//  - creating a key creates its missing parents; opening a missing key fails with
//    ERROR_FILE_NOT_FOUND; the two roots always exist;
//  - a missing value reports ERROR_FILE_NOT_FOUND, a buffer too small for the data reports
//    ERROR_MORE_DATA with the needed size in *size (a null data pointer asks for the size);
//  - every write is one SQLite transaction: a killed writer leaves the old value or the new
//    one, never part of one. Several threads and processes may use the file at once; writers
//    wait for each other instead of failing, within the one wait of a call (below);
//  - HKEY_CLASSES_ROOT\.ext value "Content Type" falls back to the mime.types file
//    ($KORRIN_MIME_TYPES, default /etc/mime.types) when it is not stored; such a key opens
//    even when nothing is stored under it, as a read-only key (writes: ERROR_ACCESS_DENIED)
//    whose one value is that Content Type. Enumerating a stored key lists stored values only.
//  - a handle whose key has been deleted fails writes with ERROR_KEY_DELETED and reads with
//    ERROR_FILE_NOT_FOUND, even after a key of the same path has been created again;
//  - failures of the file itself: ERROR_CANTOPEN (cannot open or create), ERROR_BADDB (not
//    a registry database, or damaged), ERROR_ACCESS_DENIED (read-only),
//    ERROR_CANTREAD/ERROR_CANTWRITE; RegLastFailure() says why in words.
//
// Waiting: every call waits at most once, for one bound counted from its start (10 s,
// $KORRIN_REGISTRY_WAIT_MS overrides it): for its turn on a connection another thread is
// using, for locks other connections and processes hold, and for retries, all together. When
// the bound runs out the call fails with ERROR_TIMEOUT, which the caller reports like any
// other failure; no call blocks for longer than the bound plus its own work.
//
// Threads: a handle may be used from any thread, also from several at once. A key opened
// from a root holds a connection of its own; keys opened or created from that key share it,
// and calls on handles sharing a connection take turns (each call holds the connection from
// its first use to its end, and waits for its turn within its bound). Closing a handle while
// another thread still uses that same handle is the caller's error. Every handle that a call
// hands out must be closed with RegCloseKey (RegKeyGuard does it). A call on one of the two
// roots opens a connection for that call alone; opening a key with subKey "" from a root
// gives a handle (to be closed) that keeps its connection, for many calls in a row.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Win32Types.h"

namespace korrin::platform {

struct RegKey;
using HKEY = RegKey*;

extern const HKEY HKEY_CLASSES_ROOT;
extern const HKEY HKEY_LOCAL_MACHINE;

// The database file the next open will use.
std::string RegistryPath();

// Why the last call on this thread failed, in words for a message: SQLite's reason ("database
// disk image is malformed"), the system's for a file that cannot be opened ("Permission
// denied", "Not a directory"), or the wait that ran out. Meaningful right after a call failed
// with one of the codes of the file itself or ERROR_TIMEOUT.
std::string RegLastFailure();

// base is a root or an open key; subKey is relative to it ("" opens base itself again).
LONG RegCreateKeyEx(HKEY base, const std::string& subKey, HKEY* result,
                    DWORD* disposition = nullptr);
LONG RegOpenKeyEx(HKEY base, const std::string& subKey, HKEY* result);
LONG RegCloseKey(HKEY key);

// type and size may be null; data may be null to ask for the size only.
LONG RegQueryValueEx(HKEY key, const std::string& name, DWORD* type, std::uint8_t* data,
                     DWORD* size);
LONG RegSetValueEx(HKEY key, const std::string& name, DWORD type, const std::uint8_t* data,
                   DWORD size);
LONG RegDeleteValue(HKEY key, const std::string& name);

// Fails with ERROR_ACCESS_DENIED while the key has subkeys; RegDeleteTree removes them too.
LONG RegDeleteKey(HKEY base, const std::string& subKey);
LONG RegDeleteTree(HKEY base, const std::string& subKey);

// The key's full name as stored, root included ("HKEY_LOCAL_MACHINE\SOFTWARE\Quillion"),
// for messages and export.
LONG RegQueryKeyName(HKEY key, std::string* name);

// Enumeration in name order (case-insensitive); ERROR_NO_MORE_ITEMS past the end.
LONG RegEnumKey(HKEY key, DWORD index, std::string* name);
LONG RegEnumValue(HKEY key, DWORD index, std::string* name, DWORD* type,
                  std::vector<std::uint8_t>* data);

// Reads a REG_DWORD (nullopt when missing or not a 4-byte DWORD), lets update compute the
// new value and writes it back, all in one write transaction: no other thread or process
// can read or write the value in between. *result receives the value written. update may
// be called more than once (the transaction is retried when the file is busy): it must
// only compute.
LONG RegUpdateDword(HKEY key, const std::string& name,
                    const std::function<DWORD(std::optional<DWORD>)>& update, DWORD* result);

// While one lives, a connection no call or key uses any more is kept for the next call
// instead of being closed, so a command reading many values opens the file once. A kept
// connection holds the file open: the write-ahead log is not folded back into the file and
// other programs cannot lock it exclusively until the last RegKeepConnections goes, which
// closes them. Meant for a short-lived process, around its whole work.
class RegKeepConnections {
  public:
    RegKeepConnections();
    ~RegKeepConnections();
    RegKeepConnections(const RegKeepConnections&) = delete;
    RegKeepConnections& operator=(const RegKeepConnections&) = delete;
};

// Closes a key at the end of a scope.
class RegKeyGuard {
  public:
    RegKeyGuard() = default;
    explicit RegKeyGuard(HKEY key) : key_(key) {}
    ~RegKeyGuard() { reset(); }
    RegKeyGuard(const RegKeyGuard&) = delete;
    RegKeyGuard& operator=(const RegKeyGuard&) = delete;
    HKEY* out() {
        reset();
        return &key_;
    }
    HKEY get() const { return key_; }
    void reset() {
        if (key_)
            RegCloseKey(key_);
        key_ = nullptr;
    }

  private:
    HKEY key_ = nullptr;
};

}  // namespace korrin::platform
