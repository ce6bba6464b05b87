#include "tools/RegCommand.h"

#include <cstdio>
#include <ostream>
#include <sstream>

#include "platform/Endian.h"
#include "platform/registry/Registry.h"
#include "platform/secret/Secret.h"
#include "tools/RegText.h"

namespace korrin::tools {

using namespace korrin::platform;

const char kRegUsage[] =
    R"(korrinctl reg query <KEY> [<NAME>]
    Print the values and subkeys of KEY, or only its value NAME.
korrinctl reg set <KEY> <NAME> <TYPE> <DATA>
    Store a value, creating KEY and the keys above it as needed.
korrinctl reg delete <KEY> [<NAME>]
    Delete the value NAME, or KEY with everything below it.
korrinctl reg export [<KEY>]
    Write KEY and everything below it (default: both roots) to standard output in the
    .reg format ("Windows Registry Editor Version 5.00").

  query and export show every value named Password as ******** unless --show-secrets is
  given (anywhere after "reg"); an exported file so masked does not restore the password.

  KEY   HKLM\path or HKEY_LOCAL_MACHINE\path, HKCR\path or HKEY_CLASSES_ROOT\path, in any
        case, with '\' between names (quote it from the shell)
  NAME  a value name; "" is the key's default value
  TYPE  REG_SZ      text, stored without a terminating zero byte
        REG_DWORD   0 to 4294967295, decimal or 0x-hex
        REG_BINARY  hex bytes: 01,00,ff or 0100ff

  Exit status: 0 done, 1 key or value not found, 2 bad usage or input,
  3 the registry database could not be used.
  The database is $KORRIN_REGISTRY, else $XDG_CONFIG_HOME/korrin/registry.db,
  else ~/.config/korrin/registry.db.
)";

namespace {

struct Context {
    std::ostream& out;
    std::ostream& err;
    bool showSecrets = false;

    int fail(int status, const std::string& message) {
        err << "korrinctl reg: " << message << "\n";
        return status;
    }
    int usage(const std::string& message) {
        err << "korrinctl reg: " << message << "\nRun 'korrinctl reg --help' for the syntax.\n";
        return kExitUsage;
    }
    // A registry failure other than "not found", with the reason the registry gave for it.
    int registryFailure(LONG code, const std::string& what) {
        std::string why;
        switch (code) {
            case ERROR_CANTOPEN:
                why = "the database cannot be opened";
                break;
            case ERROR_BADDB:
                why = "the file is not a registry database or is damaged";
                break;
            case ERROR_TIMEOUT:
                why = "the database is busy";
                break;
            case ERROR_CANTREAD:
                why = "the database cannot be read";
                break;
            case ERROR_CANTWRITE:
                why = "the database cannot be written";
                break;
            case ERROR_ACCESS_DENIED:
                why = "access denied";
                break;
            case ERROR_INVALID_PARAMETER:
                why = "invalid name or data";
                break;
            default:
                why = "error " + std::to_string(code);
        }
        if (std::string detail = RegLastFailure(); !detail.empty())
            why += " (" + detail + ")";
        return fail(kExitFailed, what + ": " + RegistryPath() + ": " + why);
    }
};

// Values whose data is shown only on request.
bool IsSecret(const std::string& name) {
    return SameRegName(name, "Password");
}

// What query and export show of a value: secrets as ******** (a text whatever they hold).
void Shown(const Context& c, const std::string& name, DWORD& type,
           std::vector<std::uint8_t>& data) {
    if (c.showSecrets || !IsSecret(name))
        return;
    static const std::string kMask = "********";
    WipeMemory(data.data(), data.size());
    type = REG_SZ;
    data.assign(kMask.begin(), kMask.end());
}

HKEY rootHandle(RegRoot root) {
    return root == RegRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CLASSES_ROOT;
}

std::string hexUpper(const std::vector<std::uint8_t>& data) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (auto b : data) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

// One value as "query" prints it, in the layout the Windows tool uses.
std::string queryLine(const std::string& name, DWORD type, const std::vector<std::uint8_t>& data) {
    std::string shown;
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        shown.assign(data.begin(), data.end());
        shown = shown.substr(0, shown.find('\0'));
    } else if (type == REG_DWORD && data.size() == 4) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%x", LoadLE32(data.data()));
        shown = buf;
    } else {
        shown = hexUpper(data);
    }
    return "    " + (name.empty() ? std::string("(Default)") : name) + "    " + RegTypeName(type) +
           "    " + shown + "\n";
}

// The spelling the value was stored with, found among the key's values (the name as given
// for a value that is not stored, such as a content type from mime.types).
LONG storedValueName(HKEY key, const std::string& name, std::string* stored) {
    *stored = name;
    std::string entry;
    LONG r;
    for (DWORD i = 0; (r = RegEnumValue(key, i, &entry, nullptr, nullptr)) == ERROR_SUCCESS; ++i) {
        if (SameRegName(entry, name)) {
            *stored = entry;
            return ERROR_SUCCESS;
        }
    }
    return r == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : r;
}

std::optional<RegKeyName> parseKey(Context& c, const std::string& text) {
    std::string error;
    auto key = ParseRegKeyName(text, &error);
    if (!key)
        c.usage("bad key '" + text + "': " + error);
    return key;
}

// Opens the key; on failure reports it and gives the exit status through *status.
HKEY openKey(Context& c, const RegKeyName& name, int* status) {
    HKEY key = nullptr;
    LONG r = RegOpenKeyEx(rootHandle(name.root), JoinRegPath(name.path), &key);
    if (r == ERROR_SUCCESS)
        return key;
    if (r == ERROR_FILE_NOT_FOUND)
        *status = c.fail(kExitNotFound, "key not found: " + FullRegKeyName(name));
    else
        *status = c.registryFailure(r, "cannot open " + FullRegKeyName(name));
    return nullptr;
}

int query(Context& c, const std::vector<std::string>& args) {
    if (args.size() < 2 || args.size() > 3)
        return c.usage("query takes <KEY> [<NAME>]");
    auto name = parseKey(c, args[1]);
    if (!name)
        return kExitUsage;
    int status = kExitOk;
    RegKeyGuard key(openKey(c, *name, &status));
    if (!key.get())
        return status;
    std::string header;
    RegQueryKeyName(key.get(), &header);
    if (args.size() == 3) {
        DWORD type = 0, size = 0;
        std::vector<std::uint8_t> data;
        LONG r;
        do {  // the value may grow between asking for its size and reading it
            r = RegQueryValueEx(key.get(), args[2], &type, nullptr, &size);
            if (r != ERROR_SUCCESS)
                break;
            data.resize(size);
            r = RegQueryValueEx(key.get(), args[2], &type, data.data(), &size);
        } while (r == ERROR_MORE_DATA);
        if (r == ERROR_FILE_NOT_FOUND)
            return c.fail(kExitNotFound, "value not found: " + header + " \"" + args[2] + "\"");
        if (r != ERROR_SUCCESS)
            return c.registryFailure(r, "cannot read " + header);
        data.resize(size);
        std::string stored;
        r = storedValueName(key.get(), args[2], &stored);
        if (r != ERROR_SUCCESS)
            return c.registryFailure(r, "cannot list the values of " + header);
        Shown(c, stored, type, data);
        c.out << header << "\n" << queryLine(stored, type, data);
        return kExitOk;
    }
    // Gathered first, so that a failure part way prints nothing but the message.
    std::ostringstream text;
    text << header << "\n";
    std::string entry;
    DWORD type = 0;
    std::vector<std::uint8_t> data;
    LONG r;
    for (DWORD i = 0; (r = RegEnumValue(key.get(), i, &entry, &type, &data)) == ERROR_SUCCESS;
         ++i) {
        Shown(c, entry, type, data);
        text << queryLine(entry, type, data);
    }
    if (r != ERROR_NO_MORE_ITEMS)
        return c.registryFailure(r, "cannot list the values of " + header);
    for (DWORD i = 0; (r = RegEnumKey(key.get(), i, &entry)) == ERROR_SUCCESS; ++i)
        text << (i == 0 ? "\n" : "") << header << "\\" << entry << "\n";
    if (r != ERROR_NO_MORE_ITEMS)
        return c.registryFailure(r, "cannot list the subkeys of " + header);
    c.out << text.str();
    return kExitOk;
}

int set(Context& c, const std::vector<std::string>& args) {
    if (args.size() != 5)
        return c.usage("set takes <KEY> <NAME> <TYPE> <DATA>");
    auto name = parseKey(c, args[1]);
    if (!name)
        return kExitUsage;
    if (RegNameHasControl(args[2]))
        return c.usage(
            "bad value name: it holds a control character, which a .reg file cannot "
            "carry");
    auto type = ParseRegType(args[3]);
    if (!type)
        return c.usage("unknown type '" + args[3] + "' (use REG_SZ, REG_DWORD or REG_BINARY)");
    std::vector<std::uint8_t> data;
    // A secret's text goes to the registry from a Secret, never through a plain copy.
    Secret secret;
    if (*type == REG_SZ && IsSecret(args[2])) {
        secret.assign(args[4]);
    } else if (*type == REG_SZ) {
        data.assign(args[4].begin(), args[4].end());
    } else if (*type == REG_DWORD) {
        auto value = ParseRegDword(args[4]);
        if (!value)
            return c.usage("'" + args[4] + "' is not a DWORD (0 to 4294967295, decimal or 0x-hex)");
        data.resize(4);
        StoreLE32(data.data(), *value);
    } else {
        auto bytes = ParseRegHex(args[4]);
        if (!bytes)
            return c.usage("'" + args[4] + "' is not hex bytes (such as 01,00,ff or 0100ff)");
        data = std::move(*bytes);
    }
    RegKeyGuard key;
    LONG r = RegCreateKeyEx(rootHandle(name->root), JoinRegPath(name->path), key.out());
    if (r != ERROR_SUCCESS)
        return c.registryFailure(r, "cannot create " + FullRegKeyName(*name));
    if (!secret.empty())
        r = RegSetValueEx(key.get(), args[2], *type,
                          reinterpret_cast<const std::uint8_t*>(secret.data()),
                          static_cast<DWORD>(secret.size()));
    else
        r = RegSetValueEx(key.get(), args[2], *type, data.data(), static_cast<DWORD>(data.size()));
    if (r != ERROR_SUCCESS)
        return c.registryFailure(r, "cannot set \"" + args[2] + "\" in " + FullRegKeyName(*name));
    return kExitOk;
}

int remove(Context& c, const std::vector<std::string>& args) {
    if (args.size() < 2 || args.size() > 3)
        return c.usage("delete takes <KEY> [<NAME>]");
    auto name = parseKey(c, args[1]);
    if (!name)
        return kExitUsage;
    if (args.size() == 2) {
        if (name->path.empty())
            return c.usage("a root key cannot be deleted");
        LONG r = RegDeleteTree(rootHandle(name->root), JoinRegPath(name->path));
        if (r == ERROR_FILE_NOT_FOUND)
            return c.fail(kExitNotFound, "key not found: " + FullRegKeyName(*name));
        if (r != ERROR_SUCCESS)
            return c.registryFailure(r, "cannot delete " + FullRegKeyName(*name));
        return kExitOk;
    }
    int status = kExitOk;
    RegKeyGuard key(openKey(c, *name, &status));
    if (!key.get())
        return status;
    LONG r = RegDeleteValue(key.get(), args[2]);
    if (r == ERROR_FILE_NOT_FOUND)
        return c.fail(kExitNotFound,
                      "value not found: " + FullRegKeyName(*name) + " \"" + args[2] + "\"");
    if (r != ERROR_SUCCESS)
        return c.registryFailure(r,
                                 "cannot delete \"" + args[2] + "\" in " + FullRegKeyName(*name));
    return kExitOk;
}

// One section per key, the key first, then its subkeys in name order. Any failure ends the
// export: a backup must not come out shorter than the registry without a word.
int exportTree(Context& c, std::ostream& out, HKEY key, const std::string& name) {
    out << "[" << name << "]\n";
    std::string entry;
    DWORD type = 0;
    std::vector<std::uint8_t> data;
    LONG r;
    for (DWORD i = 0; (r = RegEnumValue(key, i, &entry, &type, &data)) == ERROR_SUCCESS; ++i) {
        Shown(c, entry, type, data);
        out << RegFileValue(entry, type, data);
    }
    if (r != ERROR_NO_MORE_ITEMS)
        return c.registryFailure(r, "cannot list the values of " + name);
    out << "\n";
    for (DWORD i = 0; (r = RegEnumKey(key, i, &entry)) == ERROR_SUCCESS; ++i) {
        RegKeyGuard child;
        LONG opened = RegOpenKeyEx(key, entry, child.out());
        // A subkey deleted meanwhile by someone else is left out.
        if (opened == ERROR_FILE_NOT_FOUND)
            continue;
        if (opened != ERROR_SUCCESS)
            return c.registryFailure(opened, "cannot open " + name + "\\" + entry);
        if (int status = exportTree(c, out, child.get(), name + "\\" + entry))
            return status;
    }
    if (r != ERROR_NO_MORE_ITEMS)
        return c.registryFailure(r, "cannot list the subkeys of " + name);
    return kExitOk;
}

int exportKeys(Context& c, const std::vector<std::string>& args) {
    if (args.size() > 2)
        return c.usage("export takes [<KEY>]");
    std::vector<RegKeyName> names;
    if (args.size() == 2) {
        auto name = parseKey(c, args[1]);
        if (!name)
            return kExitUsage;
        names.push_back(*name);
    } else {
        names = {RegKeyName{RegRoot::LocalMachine, {}}, RegKeyName{RegRoot::ClassesRoot, {}}};
    }
    // Everything opened before the first line, so that a failure prints no half file.
    std::vector<HKEY> keys;
    int status = kExitOk;
    for (const auto& name : names) {
        HKEY key = openKey(c, name, &status);
        if (!key)
            break;
        keys.push_back(key);
    }
    if (keys.size() == names.size()) {
        // Written out only when all of it could be read.
        std::ostringstream text;
        text << "Windows Registry Editor Version 5.00\n\n";
        for (HKEY key : keys) {
            std::string full;
            RegQueryKeyName(key, &full);
            status = exportTree(c, text, key, full);
            if (status != kExitOk)
                break;
        }
        if (status == kExitOk)
            c.out << text.str();
    }
    for (HKEY key : keys)
        RegCloseKey(key);
    return status;
}

}  // namespace

int RunRegCommand(const std::vector<std::string>& given, std::ostream& out, std::ostream& err) {
    Context c{out, err};
    // The option belongs to query and export only: for set, the same text may be data (and
    // set's arguments, which may hold the password, are not copied).
    std::size_t first = 0;
    while (first < given.size() && given[first] == "--show-secrets")
        ++first;
    const bool reading =
        first < given.size() && (given[first] == "query" || given[first] == "export");
    std::vector<std::string> filtered;
    if (reading)
        for (const auto& a : given)
            if (a != "--show-secrets")
                filtered.push_back(a);
    c.showSecrets = reading && filtered.size() != given.size();
    const std::vector<std::string>& args = reading ? filtered : given;
    if (args.empty())
        return c.usage("no command given");
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        out << kRegUsage;
        return kExitOk;
    }
    if (command == "query")
        return query(c, args);
    if (command == "set")
        return set(c, args);
    if (command == "delete")
        return remove(c, args);
    if (command == "export")
        return exportKeys(c, args);
    return c.usage("unknown command '" + command + "'");
}

namespace {
const KorrinctlArea kRegArea({10, "reg", "read and change the registry database", kRegUsage,
                              RunRegCommand});
}  // namespace

}  // namespace korrin::tools
