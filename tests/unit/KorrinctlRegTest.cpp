// korrinctl reg, run as the built program the way scripts run it.
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "helpers/TestSupport.h"
#include "platform/registry/Registry.h"

namespace {

using namespace korrin::platform;
using korrin::test::BuildDir;
using korrin::test::RegistryTest;
using korrin::test::RunResult;

const std::string kInstallKey = "HKLM\\SOFTWARE\\Quillion\\Quillion EMail for Windows (tm)";

class KorrinctlReg : public RegistryTest {
  protected:
    RunResult reg(std::vector<std::string> args) {
        args.insert(args.begin(), {BuildDir() + "/korrinctl", "reg"});
        return korrin::test::Run(args);
    }
};

TEST_F(KorrinctlReg, QueryOrSetAsTheMakefileDoes) {
    auto missing = reg({"query", kInstallKey, "InstallDir"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("key not found"), std::string::npos) << missing.err;

    ASSERT_EQ(reg({"set", kInstallKey, "InstallDir", "REG_SZ", "/opt/korrin"}).exitCode, 0);
    auto found =
        reg({"query", "hklm\\software\\quillion\\quillion email for windows (tm)", "installdir"});
    EXPECT_EQ(found.exitCode, 0) << found.err;
    EXPECT_EQ(found.out,
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillion\\Quillion EMail for Windows (tm)\n"
              "    InstallDir    REG_SZ    /opt/korrin\n");
    EXPECT_EQ(reg({"query", kInstallKey, "Nope"}).exitCode, 1);

    // Stored as the program's own SetRegistryString stores text: no terminating zero byte.
    RegKeyGuard key;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kInstallKey.substr(5), key.out()), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueEx(key.get(), "InstallDir", &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 11u);
}

TEST_F(KorrinctlReg, QueryListsValuesThenSubkeys) {
    const std::string key = "HKLM\\SOFTWARE\\Quillion\\Korrin";
    ASSERT_EQ(reg({"set", key, "File ID", "REG_DWORD", "0x1f"}).exitCode, 0);
    ASSERT_EQ(reg({"set", key, "Wave Format", "REG_BINARY", "01,00,ff"}).exitCode, 0);
    ASSERT_EQ(reg({"set", key, "", "REG_SZ", "default"}).exitCode, 0);
    ASSERT_EQ(reg({"set", key + "\\Sub", "X", "REG_DWORD", "1"}).exitCode, 0);
    auto listed = reg({"query", key});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(listed.out,
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillion\\Korrin\n"
              "    (Default)    REG_SZ    default\n"
              "    File ID    REG_DWORD    0x1f\n"
              "    Wave Format    REG_BINARY    0100FF\n"
              "\n"
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillion\\Korrin\\Sub\n");
}

TEST_F(KorrinctlReg, BadInputExitsTwoAndWritesNothing) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"query"},
        {"set", "HKCU\\Software", "V", "REG_SZ", "x"},
        {"set", "HKLM\\K", "V", "REG_QWORD", "1"},
        {"set", "HKLM\\K", "V", "REG_DWORD", "4294967296"},
        {"set", "HKLM\\K", "V", "REG_DWORD", "-1"},
        {"set", "HKLM\\K", "V", "REG_BINARY", "0g"},
        {"set", "HKLM\\K", "V", "REG_SZ"},
        {"set", "HKLM\\K", "V\r\nW", "REG_SZ", "x"},
        {"set", "HKLM\\K\nL", "V", "REG_SZ", "x"},
        {"set", "hklm/K", "V", "REG_SZ", "x"},
        {"delete", "HKLM"},
        {"export", "HKLM", "HKCR"},
    };
    for (const auto& args : cases) {
        auto r = reg(args);
        std::string shown;
        for (const auto& a : args)
            shown += a + " ";
        EXPECT_EQ(r.exitCode, 2) << shown;
        EXPECT_NE(r.err.find("korrinctl reg: "), std::string::npos) << shown << r.err;
        EXPECT_TRUE(r.out.empty()) << shown;
    }
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "K", &key), ERROR_FILE_NOT_FOUND);

    auto unknownArea = korrin::test::Run({BuildDir() + "/korrinctl", "nosuch"});
    EXPECT_EQ(unknownArea.exitCode, 2);
    auto help = korrin::test::Run({BuildDir() + "/korrinctl", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("korrinctl reg export [<KEY>]"), std::string::npos) << help.out;
}

TEST_F(KorrinctlReg, HelpThatCannotBeWrittenFailsLikeAnyOtherOutput) {
    const std::string ctl = BuildDir() + "/korrinctl";
    for (const char* args : {" --help", " reg --help"}) {
        auto full =
            korrin::test::Run({"/bin/sh", "-c", "exec '" + ctl + "'" + args + " >/dev/full"});
        EXPECT_EQ(full.exitCode, 3) << args;
    }
}

TEST_F(KorrinctlReg, DeleteValueOrWholeKey) {
    ASSERT_EQ(reg({"set", "HKLM\\A\\B", "V", "REG_SZ", "x"}).exitCode, 0);
    ASSERT_EQ(reg({"set", "HKLM\\A", "W", "REG_SZ", "y"}).exitCode, 0);
    EXPECT_EQ(reg({"delete", "HKLM\\A\\B", "v"}).exitCode, 0);
    EXPECT_EQ(reg({"delete", "HKLM\\A\\B", "V"}).exitCode, 1);
    EXPECT_EQ(reg({"query", "HKLM\\A\\B"}).exitCode, 0);
    EXPECT_EQ(reg({"delete", "HKLM\\a"}).exitCode, 0);
    EXPECT_EQ(reg({"query", "HKLM\\A\\B"}).exitCode, 1);
    EXPECT_EQ(reg({"delete", "HKLM\\A"}).exitCode, 1);
    EXPECT_EQ(reg({"delete", "HKLM\\A", "W"}).exitCode, 1);
}

TEST_F(KorrinctlReg, ExportWritesTheRegFormat) {
    const std::string korrin = "HKLM\\SOFTWARE\\Quillion\\Korrin";
    ASSERT_EQ(reg({"set", korrin, "File ID", "REG_DWORD", "10"}).exitCode, 0);
    ASSERT_EQ(reg({"set", korrin, "Wave Format", "REG_BINARY",
                   "01,00,01,00,40,1f,00,00,40,1f,00,00,01,00,08,00,00,00"})
                  .exitCode,
              0);
    ASSERT_EQ(reg({"set", korrin, "", "REG_SZ", "say \"hi\" \\ bye"}).exitCode, 0);
    ASSERT_EQ(reg({"set", kInstallKey, "InstallDir", "REG_SZ", "/opt/korrin"}).exitCode, 0);
    RegKeyGuard key;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillion\\Korrin", key.out()),
              ERROR_SUCCESS);
    const std::uint8_t odd[] = {1, 2};
    ASSERT_EQ(RegSetValueEx(key.get(), "Odd", 11, odd, 2), ERROR_SUCCESS);

    auto exported = reg({"export", "hklm\\software\\QUILLION"});
    EXPECT_EQ(exported.exitCode, 0) << exported.err;
    EXPECT_EQ(exported.out,
              "Windows Registry Editor Version 5.00\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillion]\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillion\\Korrin]\n"
              "@=\"say \\\"hi\\\" \\\\ bye\"\n"
              "\"File ID\"=dword:0000000a\n"
              "\"Odd\"=hex(b):01,02\n"
              "\"Wave Format\"=hex:01,00,01,00,40,1f,00,00,40,1f,00,00,01,00,08,00,00,00\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillion\\Quillion EMail for Windows (tm)]\n"
              "\"InstallDir\"=\"/opt/korrin\"\n"
              "\n");

    auto all = reg({"export"});
    EXPECT_EQ(all.exitCode, 0);
    EXPECT_EQ(all.out.rfind("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE]\n", 0),
              0u);
    EXPECT_NE(all.out.find("\n[HKEY_CLASSES_ROOT]\n"), std::string::npos);
    EXPECT_EQ(reg({"export", "HKLM\\Nope"}).exitCode, 1);
}

}  // namespace

namespace {

// Damages the root page of the index that finds keys by parent and name, as a disk fault
// would, with dd.
void damageKeysPage(const std::string& path) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    ASSERT_EQ(
        sqlite3_prepare_v2(
            db, "SELECT rootpage FROM sqlite_schema WHERE type = 'index' AND tbl_name = 'keys'", -1,
            &s, nullptr),
        SQLITE_OK);
    ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
    const int page = sqlite3_column_int(s, 0);
    sqlite3_finalize(s);
    sqlite3_close(db);
    ASSERT_GT(page, 1);
    auto dd = korrin::test::Run({"/bin/dd", "if=/dev/zero", "of=" + path, "bs=4096",
                                 "seek=" + std::to_string(page - 1), "count=1", "conv=notrunc"});
    ASSERT_EQ(dd.exitCode, 0) << dd.err;
}

TEST_F(KorrinctlReg, ADamagedDatabaseFailsInsteadOfPrintingAnEmptyRegistry) {
    {
        RegKeyGuard key;
        ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillion\\Korrin", key.out()),
                  ERROR_SUCCESS);
        for (int i = 0; i < 300; ++i) {
            RegKeyGuard sub;
            ASSERT_EQ(RegCreateKeyEx(key.get(), "Mailbox " + std::to_string(i), sub.out()),
                      ERROR_SUCCESS);
        }
        const std::uint8_t one[4] = {1, 0, 0, 0};
        ASSERT_EQ(RegSetValueEx(HKEY_LOCAL_MACHINE, "Version", REG_DWORD, one, 4), ERROR_SUCCESS);
    }  // the last connection closed: everything is in the file itself
    damageKeysPage(dbPath());

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"export"}, {"query", "HKLM"}}) {
        SCOPED_TRACE(args[0]);
        auto r = reg(args);
        EXPECT_EQ(r.exitCode, 3) << r.out;
        EXPECT_EQ(r.out, "") << "nothing that looks like a complete backup";
        EXPECT_NE(r.err.find(dbPath()), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("database disk image is malformed"), std::string::npos) << r.err;
    }
}

TEST_F(KorrinctlReg, ADatabaseThatCannotBeOpenedSaysWhy) {
    korrin::test::WriteFile(dir_.file("plain"), "not a folder");
    const std::pair<std::string, std::string> cases[] = {
        {dir_.file("plain/registry.db"), "Not a directory"},
        {dir_.path(), "Is a directory"},
    };
    for (const auto& [path, why] : cases) {
        SCOPED_TRACE(path);
        auto r = korrin::test::Run({BuildDir() + "/korrinctl", "reg", "export"},
                                   {{"KORRIN_REGISTRY", path}});
        EXPECT_EQ(r.exitCode, 3);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(path + ": the database cannot be opened (" + why + ")"),
                  std::string::npos)
            << r.err;
    }

    // A folder the user may not enter. Root may enter any, so then the tool runs as nobody.
    std::vector<std::string> argv = {BuildDir() + "/korrinctl", "reg", "query", "HKLM"};
    if (geteuid() == 0) {
        if (access("/usr/bin/setpriv", X_OK) != 0) {
            GTEST_SKIP() << "no setpriv to drop root for the permission case";
        }
        argv.insert(argv.begin(),
                    {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    }
    ASSERT_EQ(mkdir(dir_.file("private").c_str(), 0700), 0);
    const std::string locked = dir_.file("private/registry.db");
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(dir_.file("private").c_str(), 0), 0);
    }
    auto r = korrin::test::Run(argv, {{"KORRIN_REGISTRY", locked}});
    chmod(dir_.file("private").c_str(), 0700);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("(Permission denied)"), std::string::npos) << r.err;
}

}  // namespace
