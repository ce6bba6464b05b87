// korrinctl reg with the SMTP settings: the password shown only on request, the security
// choice there like any other value.
#include "helpers/TestSupport.h"

namespace {

using korrin::test::BuildDir;
using korrin::test::RunResult;

const std::string kKey = "HKLM\\SOFTWARE\\Quillion\\Korrin";

class KorrinctlSecrets : public korrin::test::RegistryTest {
  protected:
    RunResult reg(std::vector<std::string> args) {
        args.insert(args.begin(), {BuildDir() + "/korrinctl", "reg"});
        return korrin::test::Run(args);
    }
};

TEST_F(KorrinctlSecrets, PasswordIsMaskedInQueryAndExportUnlessAskedFor) {
    ASSERT_EQ(reg({"set", kKey, "Password", "REG_SZ", "--show-secrets"}).exitCode, 0);
    ASSERT_EQ(reg({"set", kKey, "Account", "REG_SZ", "jo"}).exitCode, 0);
    ASSERT_EQ(reg({"set", kKey, "SMTP Security", "REG_DWORD", "2"}).exitCode, 0);

    auto one = reg({"query", kKey, "password"});
    EXPECT_EQ(one.exitCode, 0) << one.err;
    EXPECT_EQ(one.out,
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillion\\Korrin\n"
              "    Password    REG_SZ    ********\n");
    auto all = reg({"query", kKey});
    EXPECT_NE(all.out.find("    Account    REG_SZ    jo\n"), std::string::npos) << all.out;
    EXPECT_NE(all.out.find("    Password    REG_SZ    ********\n"), std::string::npos) << all.out;
    EXPECT_NE(all.out.find("    SMTP Security    REG_DWORD    0x2\n"), std::string::npos)
        << all.out;

    auto exported = reg({"export"});
    EXPECT_EQ(exported.exitCode, 0) << exported.err;
    EXPECT_NE(exported.out.find("\"Password\"=\"********\"\n"), std::string::npos) << exported.out;
    EXPECT_NE(exported.out.find("\"SMTP Security\"=dword:00000002\n"), std::string::npos)
        << exported.out;
    for (const auto& r : {one, all, exported})
        EXPECT_EQ(r.out.find("--show-secrets"), std::string::npos) << r.out;

    // Asked for, before or after the command: the stored text (which set took as data).
    auto shown = reg({"--show-secrets", "query", kKey, "Password"});
    EXPECT_NE(shown.out.find("    Password    REG_SZ    --show-secrets\n"), std::string::npos)
        << shown.out << shown.err;
    auto shownExport = reg({"export", kKey, "--show-secrets"});
    EXPECT_NE(shownExport.out.find("\"Password\"=\"--show-secrets\"\n"), std::string::npos)
        << shownExport.out << shownExport.err;
}

}  // namespace
