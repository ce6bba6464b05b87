// The registry layer in one process: keys, values, deletion, the file itself, the
// mime.types fallback and the atomic counter update.
#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <thread>

#include "helpers/TestSupport.h"
#include "platform/registry/Registry.h"

namespace {

using namespace korrin::platform;
using korrin::test::RegistryTest;
using korrin::test::ScopedEnv;
using korrin::test::TempDir;
using korrin::test::WriteFile;

using Bytes = std::vector<std::uint8_t>;

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

LONG set(HKEY key, const std::string& name, DWORD type, const Bytes& data) {
    return RegSetValueEx(key, name, type, data.data(), static_cast<DWORD>(data.size()));
}

// The value's type and bytes, or the failure code as the type when it cannot be read.
std::pair<LONG, Bytes> get(HKEY key, const std::string& name, DWORD* type = nullptr) {
    DWORD size = 0;
    LONG r = RegQueryValueEx(key, name, type, nullptr, &size);
    if (r != ERROR_SUCCESS)
        return {r, {}};
    Bytes data(size);
    r = RegQueryValueEx(key, name, type, data.data(), &size);
    return {r, data};
}

std::vector<std::string> subkeys(HKEY key) {
    std::vector<std::string> names;
    std::string name;
    while (RegEnumKey(key, static_cast<DWORD>(names.size()), &name) == ERROR_SUCCESS)
        names.push_back(name);
    return names;
}

std::vector<std::string> valueNames(HKEY key) {
    std::vector<std::string> names;
    std::string name;
    while (RegEnumValue(key, static_cast<DWORD>(names.size()), &name, nullptr, nullptr) ==
           ERROR_SUCCESS)
        names.push_back(name);
    return names;
}

DWORD nextNumber(HKEY key) {
    DWORD n = 0;
    EXPECT_EQ(RegUpdateDword(
                  key, "File ID", [](std::optional<DWORD> v) { return v.value_or(0) + 1; }, &n),
              ERROR_SUCCESS);
    return n;
}

using RegistryKeys = RegistryTest;

TEST_F(RegistryKeys, PathsCompareWithoutCaseAndKeepTheirFirstSpelling) {
    RegKeyGuard key;
    DWORD disposition = 0;
    ASSERT_EQ(
        RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillion\\Korrin", key.out(), &disposition),
        ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);

    RegKeyGuard again;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "\\software\\\\QUILLION\\korrin\\", again.out(),
                             &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    std::string name;
    ASSERT_EQ(RegQueryKeyName(again.get(), &name), ERROR_SUCCESS);
    EXPECT_EQ(name, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillion\\Korrin");

    // The parents were made on the way, and a value set through one handle shows in the other.
    RegKeyGuard parent;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software", parent.out()), ERROR_SUCCESS);
    EXPECT_EQ(subkeys(parent.get()), std::vector<std::string>{"Quillion"});
    ASSERT_EQ(set(key.get(), "Name", REG_SZ, text("Jo")), ERROR_SUCCESS);
    EXPECT_EQ(get(again.get(), "NAME").second, text("Jo"));

    // Relative opens, and the two roots are separate trees.
    RegKeyGuard child;
    EXPECT_EQ(RegOpenKeyEx(parent.get(), "quillion\\KORRIN", child.out()), ERROR_SUCCESS);
    HKEY missing = HKEY_LOCAL_MACHINE;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "SOFTWARE", &missing), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing, nullptr);
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nope", &missing), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, std::string(256, 'k'), &missing),
              ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryKeys, EnumerationIsInCaseInsensitiveOrder) {
    RegKeyGuard key;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "K", key.out()), ERROR_SUCCESS);
    for (const char* n : {"beta", "Alpha", "gamma", "ALPHA2"}) {
        RegKeyGuard sub;
        ASSERT_EQ(RegCreateKeyEx(key.get(), n, sub.out()), ERROR_SUCCESS);
        ASSERT_EQ(set(key.get(), n, REG_SZ, text(n)), ERROR_SUCCESS);
    }
    const std::vector<std::string> sorted = {"Alpha", "ALPHA2", "beta", "gamma"};
    EXPECT_EQ(subkeys(key.get()), sorted);
    EXPECT_EQ(valueNames(key.get()), sorted);
    std::string name;
    EXPECT_EQ(RegEnumKey(key.get(), 4, &name), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegEnumValue(key.get(), 4, &name, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
}

using RegistryValues = RegistryTest;

TEST_F(RegistryValues, EveryTypeKeepsItsBytes) {
    RegKeyGuard key;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "K", key.out()), ERROR_SUCCESS);
    const Bytes dword = {10, 0, 0, 0};
    const Bytes binary = {1, 0, 0xff, 0};
    const Bytes qword = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(set(key.get(), "Name", REG_SZ, text("no terminator")), ERROR_SUCCESS);
    ASSERT_EQ(set(key.get(), "File ID", REG_DWORD, dword), ERROR_SUCCESS);
    ASSERT_EQ(set(key.get(), "Wave Format", REG_BINARY, binary), ERROR_SUCCESS);
    ASSERT_EQ(set(key.get(), "Odd", 11, qword), ERROR_SUCCESS);
    ASSERT_EQ(set(key.get(), "Empty", REG_BINARY, {}), ERROR_SUCCESS);
    ASSERT_EQ(set(key.get(), "", REG_SZ, text("default")), ERROR_SUCCESS);

    DWORD type = 0;
    EXPECT_EQ(get(key.get(), "Name", &type).second, text("no terminator"));
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(get(key.get(), "File ID", &type).second, dword);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(get(key.get(), "Wave Format", &type).second, binary);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(get(key.get(), "Odd", &type).second, qword);
    EXPECT_EQ(type, 11u);
    auto [emptyResult, empty] = get(key.get(), "Empty");
    EXPECT_EQ(emptyResult, ERROR_SUCCESS);
    EXPECT_TRUE(empty.empty());
    EXPECT_EQ(get(key.get(), "").second, text("default"));

    // Rewriting under another spelling changes the data, not the name.
    ASSERT_EQ(set(key.get(), "FILE id", REG_BINARY, binary), ERROR_SUCCESS);
    EXPECT_EQ(get(key.get(), "file ID", &type).second, binary);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(valueNames(key.get()),
              (std::vector<std::string>{"", "Empty", "File ID", "Name", "Odd", "Wave Format"}));
}

TEST_F(RegistryValues, MissingValueAndShortBufferAreTold) {
    RegKeyGuard key;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "K", key.out()), ERROR_SUCCESS);
    ASSERT_EQ(set(key.get(), "Host", REG_SZ, text("mail.example")), ERROR_SUCCESS);

    std::uint8_t buf[32] = {};
    DWORD size = sizeof buf;
    EXPECT_EQ(RegQueryValueEx(key.get(), "Nope", nullptr, buf, &size), ERROR_FILE_NOT_FOUND);

    DWORD type = 0;
    size = 0;
    EXPECT_EQ(RegQueryValueEx(key.get(), "Host", &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 12u);
    EXPECT_EQ(type, REG_SZ);

    size = 4;
    EXPECT_EQ(RegQueryValueEx(key.get(), "Host", nullptr, buf, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 12u);
    EXPECT_EQ(buf[0], 0) << "nothing is copied into a short buffer";

    size = 12;
    EXPECT_EQ(RegQueryValueEx(key.get(), "Host", nullptr, buf, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), size), "mail.example");

    EXPECT_EQ(RegQueryValueEx(key.get(), "Host", nullptr, buf, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueEx(key.get(), "X", REG_BINARY, nullptr, 3), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueEx(nullptr, "Host", nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
}

using RegistryDelete = RegistryTest;

TEST_F(RegistryDelete, ValuesKeysAndTrees) {
    RegKeyGuard top, leaf;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Top", top.out()), ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyEx(top.get(), "Mid\\Leaf", leaf.out()), ERROR_SUCCESS);
    ASSERT_EQ(set(leaf.get(), "V", REG_SZ, text("x")), ERROR_SUCCESS);
    ASSERT_EQ(set(top.get(), "T", REG_SZ, text("y")), ERROR_SUCCESS);

    EXPECT_EQ(RegDeleteValue(leaf.get(), "v"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValue(leaf.get(), "V"), ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "Top\\Mid"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "top\\mid\\leaf"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "Top\\Mid\\Leaf"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);

    // A tree of some depth goes at once; with no subkey only what is below the key goes.
    RegKeyGuard deep;
    ASSERT_EQ(RegCreateKeyEx(top.get(), "A\\B\\C\\D", deep.out()), ERROR_SUCCESS);
    ASSERT_EQ(set(deep.get(), "V", REG_SZ, text("x")), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTree(top.get(), ""), ERROR_SUCCESS);
    EXPECT_TRUE(subkeys(top.get()).empty());
    EXPECT_TRUE(valueNames(top.get()).empty());
    RegKeyGuard reopened;
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Top", reopened.out()), ERROR_SUCCESS);

    ASSERT_EQ(RegCreateKeyEx(top.get(), "A\\B", deep.out()), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, "TOP"), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Top", reopened.out()), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, "Top"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryDelete, HandleToADeletedKeyStaysDeleted) {
    RegKeyGuard key;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillion\\Korrin", key.out()),
              ERROR_SUCCESS);
    ASSERT_EQ(set(key.get(), "File ID", REG_DWORD, {1, 0, 0, 0}), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillion"), ERROR_SUCCESS);

    // Recreating the path makes a new key; the old handle does not follow it.
    RegKeyGuard fresh;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillion\\Korrin", fresh.out()),
              ERROR_SUCCESS);
    ASSERT_EQ(set(fresh.get(), "File ID", REG_DWORD, {2, 0, 0, 0}), ERROR_SUCCESS);

    EXPECT_EQ(set(key.get(), "File ID", REG_DWORD, {3, 0, 0, 0}), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteValue(key.get(), "File ID"), ERROR_KEY_DELETED);
    DWORD n = 0;
    EXPECT_EQ(RegUpdateDword(
                  key.get(), "File ID", [](std::optional<DWORD>) { return 9u; }, &n),
              ERROR_KEY_DELETED);
    RegKeyGuard sub;
    EXPECT_EQ(RegCreateKeyEx(key.get(), "Sub", sub.out()), ERROR_KEY_DELETED);
    EXPECT_EQ(get(key.get(), "File ID").first, ERROR_FILE_NOT_FOUND);
    std::string name;
    EXPECT_EQ(RegEnumValue(key.get(), 0, &name, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(get(fresh.get(), "File ID").second, (Bytes{2, 0, 0, 0}));
}

using RegistryFile = RegistryTest;

TEST_F(RegistryFile, IsPrivateWhateverTheUmask) {
    const std::string path = dir_.file("a/b/registry.db");
    ScopedEnv env("KORRIN_REGISTRY", path);
    const mode_t old = umask(0);
    RegKeyGuard key;
    LONG r = RegCreateKeyEx(HKEY_LOCAL_MACHINE, "K", key.out());
    umask(old);
    ASSERT_EQ(r, ERROR_SUCCESS);
    ASSERT_EQ(set(key.get(), "Password", REG_SZ, text("secret")), ERROR_SUCCESS);

    auto mode = [](const std::string& p) {
        struct stat st {};
        return stat(p.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
    };
    EXPECT_EQ(mode(path), 0600);
    EXPECT_EQ(mode(path + "-wal"), 0600) << "the connection is open, so the WAL file is there";
    EXPECT_EQ(mode(dir_.file("a")), 0700);
    EXPECT_EQ(mode(dir_.file("a/b")), 0700);
}

TEST(RegistryPath, FollowsTheEnvironment) {
    ScopedEnv reg("KORRIN_REGISTRY", "/x/r.db");
    ScopedEnv xdg("XDG_CONFIG_HOME", "/cfg");
    ScopedEnv home("HOME", "/home/jo");
    EXPECT_EQ(RegistryPath(), "/x/r.db");
    ScopedEnv noReg("KORRIN_REGISTRY", std::nullopt);
    EXPECT_EQ(RegistryPath(), "/cfg/korrin/registry.db");
    ScopedEnv relative("XDG_CONFIG_HOME", "cfg");
    EXPECT_EQ(RegistryPath(), "/home/jo/.config/korrin/registry.db");
}

TEST_F(RegistryFile, UnusableDatabaseFailsWithACode) {
    WriteFile(dir_.file("plain"), "not a folder");
    WriteFile(dir_.file("garbage.db"), std::string(4096, 'x'));
    const std::pair<std::string, LONG> cases[] = {
        {dir_.file("plain/registry.db"), ERROR_CANTOPEN},
        {dir_.path(), ERROR_CANTOPEN},
        {dir_.file("garbage.db"), ERROR_BADDB},
    };
    for (const auto& [path, expected] : cases) {
        SCOPED_TRACE(path);
        ScopedEnv env("KORRIN_REGISTRY", path);
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "K", &key), expected);
        EXPECT_EQ(key, nullptr);
        EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "K", &key), expected);
        DWORD size = 0;
        EXPECT_EQ(RegQueryValueEx(HKEY_LOCAL_MACHINE, "V", nullptr, nullptr, &size), expected);
    }
}

class RegistryMime : public RegistryTest {
  protected:
    TempDir mimeDir_;
    std::string mimePath_ = mimeDir_.file("mime.types");
    ScopedEnv mime_{"KORRIN_MIME_TYPES", mimePath_};
    void SetUp() override {
        WriteFile(mimePath_, "# comment wav\naudio/x-wav\t\twav\r\naudio/basic au snd\n");
    }
};

TEST_F(RegistryMime, ContentTypeComesFromMimeTypesWhenNotStored) {
    RegKeyGuard wav;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, ".WAV", wav.out()), ERROR_SUCCESS);
    DWORD type = 0;
    auto [r, data] = get(wav.get(), "content type", &type);
    EXPECT_EQ(r, ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(data, text(std::string("audio/x-wav", 12))) << "counted with its zero byte";
    EXPECT_EQ(valueNames(wav.get()), std::vector<std::string>{"Content Type"});
    EXPECT_EQ(get(wav.get(), "Other").first, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(set(wav.get(), "Content Type", REG_SZ, text("x/y")), ERROR_ACCESS_DENIED);

    HKEY none = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, ".xyz", &none), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, ".wav", &none), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "wav", &none), ERROR_FILE_NOT_FOUND);

    // The file is read again at each call.
    WriteFile(mimePath_, "audio/wav wav\n");
    EXPECT_EQ(get(wav.get(), "Content Type").second, text(std::string("audio/wav", 10)));
}

TEST_F(RegistryMime, StoredKeysAndValuesComeFirst) {
    RegKeyGuard au, snd;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, ".au", au.out()), ERROR_SUCCESS);
    ASSERT_EQ(set(au.get(), "Content Type", REG_SZ, text("audio/x-au")), ERROR_SUCCESS);
    EXPECT_EQ(get(au.get(), "CONTENT TYPE").second, text("audio/x-au"));
    // A stored key without the value still falls back.
    ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, ".snd", snd.out()), ERROR_SUCCESS);
    EXPECT_EQ(get(snd.get(), "Content Type").second, text(std::string("audio/basic", 12)));
}

using RegistryCounter = RegistryTest;

TEST_F(RegistryCounter, UpdateSeesOnlyAFourByteDwordAsAValue) {
    RegKeyGuard key;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "K", key.out()), ERROR_SUCCESS);
    const std::pair<DWORD, Bytes> stored[] = {
        {REG_SZ, text("12")}, {REG_BINARY, {1, 0, 0, 0}}, {REG_DWORD, {1, 0}}};
    for (const auto& [type, data] : stored) {
        ASSERT_EQ(set(key.get(), "File ID", type, data), ERROR_SUCCESS);
        std::optional<DWORD> seen = 7;
        DWORD written = 0;
        ASSERT_EQ(RegUpdateDword(
                      key.get(), "File ID",
                      [&](std::optional<DWORD> v) {
                          seen = v;
                          return 10000000u;
                      },
                      &written),
                  ERROR_SUCCESS);
        EXPECT_EQ(seen, std::nullopt);
        EXPECT_EQ(written, 10000000u);
    }
    DWORD type = 0;
    EXPECT_EQ(get(key.get(), "File ID", &type).second, (Bytes{0x80, 0x96, 0x98, 0x00}));
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(nextNumber(key.get()), 10000001u);
}

TEST_F(RegistryCounter, UpdatesFromManyThreadsNeverRepeatANumber) {
    constexpr int kThreads = 4, kEach = 150;
    std::vector<std::vector<DWORD>> taken(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&taken, t] {
            for (int i = 0; i < kEach; ++i) {
                RegKeyGuard key;
                ASSERT_EQ(
                    RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillion\\Korrin", key.out()),
                    ERROR_SUCCESS);
                taken[t].push_back(nextNumber(key.get()));
            }
        });
    }
    for (auto& th : threads)
        th.join();
    std::set<DWORD> all;
    for (const auto& list : taken)
        all.insert(list.begin(), list.end());
    EXPECT_EQ(all.size(), std::size_t{kThreads * kEach});
    EXPECT_EQ(*all.rbegin(), DWORD{kThreads * kEach});
}

}  // namespace
