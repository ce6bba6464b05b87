// Report texts, the message seam and the command line rules, without any window.
#include <gtest/gtest.h>

#include "helpers/TestSupport.h"
#include "korrin/app/EventReport.h"
#include "korrin/app/StartLine.h"
#include "platform/seam/MessageSeam.h"

using namespace korrin;
using namespace korrin::platform;
using korrin::test::JsonField;
using korrin::test::ReadLines;
using korrin::test::ScopedEnv;
using korrin::test::TempDir;

namespace {

TEST(ReportText, ReportLineNamesProductVersionMessageModuleAndLine) {
    ReportRecord r{"RegOpenKeyEx failed", "Utils", 57, ReportRecord::kError, {}, {}};
    EXPECT_EQ(FormatReportLine(vendor::kProductLabel, r),
              "Quillion EMail for Windows(tm) V6.0, RegOpenKeyEx failed,Utils:57");
    r.message.clear();
    EXPECT_EQ(FormatReportLine(vendor::kLibraryProductLabel, r),
              "Quillion EMail(tm) Mapi support V6.0, ,Utils:57");
    EXPECT_EQ(CEventReport::PlainBoxText("Can't Open File"),
              "Can't Open File. Questions: support@quillion.example, http://www.quillion.example/");
    EXPECT_EQ(ModuleName("/work/src/korrin/app/Utils.cpp"), "Utils");
    EXPECT_EQ(ModuleName("mailutil.cpp"), "mailutil");
    EXPECT_EQ(ModuleName("Session"), "Session");
}

class SeamTest : public ::testing::Test {
  protected:
    TempDir dir_;
    ScopedEnv log_{"KORRIN_MESSAGE_LOG", dir_.file("log")};
    std::vector<std::string> lines() const { return ReadLines(dir_.file("log")); }
};

TEST_F(SeamTest, ScriptedAnswersAreTakenInOrderThenDefaultsApply) {
    ScopedEnv answers("KORRIN_MESSAGE_ANSWERS", "Yes, no,Cancel,Retry");
    EXPECT_EQ(AppMessageBox(nullptr, "first?", "c", MB_YESNO | MB_ICONQUESTION), IDYES);
    EXPECT_EQ(AppMessageBox(nullptr, "second?", "c", MB_YESNO | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(AppMessageBox(nullptr, "third?", "c", MB_YESNOCANCEL), IDCANCEL);
    // "Retry" is no button of a Yes/No box: the default button answers instead.
    EXPECT_EQ(AppMessageBox(nullptr, "fourth?", "c", MB_YESNO | MB_DEFBUTTON2), IDNO);
    // The list is used up: defaults from here on.
    EXPECT_EQ(AppMessageBox(nullptr, "fifth?", "c", MB_YESNO | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(AppMessageBox(nullptr, "sixth?", "c", MB_YESNO), IDYES);

    auto l = lines();
    ASSERT_EQ(l.size(), 6u);
    EXPECT_EQ(JsonField(l[0], "kind"), "messagebox");
    EXPECT_EQ(JsonField(l[0], "icon"), "question");
    EXPECT_EQ(JsonField(l[0], "buttons"), "YesNo");
    EXPECT_EQ(JsonField(l[0], "text"), "first?");
    EXPECT_EQ(JsonField(l[0], "source"), "report_test");
    EXPECT_NE(JsonField(l[0], "line"), "0");
    EXPECT_EQ(JsonField(l[2], "answer"), "Cancel");
    EXPECT_EQ(JsonField(l[3], "answer"), "No");
}

TEST_F(SeamTest, ReportsAndTipsAreLoggedWithTheirReportLine) {
    ScopedEnv answers("KORRIN_MESSAGE_ANSWERS", "");
    KORRIN_REPORT("MoveFile failed");
    CEventReport().ReportTip("Send failed", "mailutil", 12, std::string("More info from the Web"),
                             std::string("http://www.quillion.example/smtp.html"));
    CEventReport().ShowInformation("Nothing to send");

    auto l = lines();
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(JsonField(l[0], "kind"), "report");
    EXPECT_EQ(JsonField(l[0], "caption"), "Quillion - Unexpected Event");
    EXPECT_EQ(JsonField(l[0], "source"), "report_test");
    const std::string line = JsonField(l[0], "line");
    EXPECT_EQ(JsonField(l[0], "detail"),
              "Quillion EMail for Windows(tm) V6.0, MoveFile failed,report_test:" + line);

    EXPECT_EQ(JsonField(l[1], "kind"), "tip");
    EXPECT_EQ(JsonField(l[1], "caption"), "Quillion EMail for Windows(tm) Tuning Agent");
    EXPECT_NE(JsonField(l[1], "detail").find("http://www.quillion.example/smtp.html"),
              std::string::npos);

    EXPECT_EQ(JsonField(l[2], "icon"), "information");
    EXPECT_EQ(JsonField(l[2], "caption"), "Quillion Email for Windows(tm)");
    EXPECT_EQ(JsonField(l[2], "text"),
              "Nothing to send. Questions: support@quillion.example, http://www.quillion.example/");
}

TEST_F(SeamTest, LogEscapesQuotesAndControlCharacters) {
    ScopedEnv answers("KORRIN_MESSAGE_ANSWERS", "");
    AppMessageBox(nullptr, "a \"quoted\" \\ path\nline\x01", "cap", MB_OK);
    auto l = lines();
    ASSERT_EQ(l.size(), 1u);
    EXPECT_NE(l[0].find("\\u0001"), std::string::npos);
    EXPECT_EQ(JsonField(l[0], "text"), "a \"quoted\" \\ path\nline\x01");
}

TEST_F(SeamTest, LogLinesStayValidJsonWhateverTheBytes) {
    // Well-formed UTF-8 up to four bytes stays as it is.
    EXPECT_EQ(JsonEscape("Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9D\x84\x9E"),
              "Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9D\x84\x9E");
    // A legacy 8-bit name, a stray continuation byte, a cut-off sequence, an overlong '/', a
    // surrogate and a code point past U+10FFFF: each byte escaped on its own.
    EXPECT_EQ(JsonEscape("\xE9t\xE9"), "\\u00e9t\\u00e9");
    EXPECT_EQ(JsonEscape("\x80|\xE2\x82|\xC0\xAF|\xED\xA0\x80|\xF4\x90\x80\x80|\xFF"),
              "\\u0080|\\u00e2\\u0082|\\u00c0\\u00af|\\u00ed\\u00a0\\u0080|"
              "\\u00f4\\u0090\\u0080\\u0080|\\u00ff");
    EXPECT_EQ(JsonEscape("\xE2\x82"), "\\u00e2\\u0082") << "cut off at the end";

    ScopedEnv answers("KORRIN_MESSAGE_ANSWERS", "");
    AppMessageBox(nullptr, "Can't play \xC9t\xE9 \xE2\x82\xAC.kx0", "cap", MB_OK);
    auto l = lines();
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(JsonField(l[0], "text"), "Can't play \xC9t\xE9 \xE2\x82\xAC.kx0");
    // A strict reader accepts the line.
    const auto r = korrin::test::Run(
        {"/usr/bin/python3", "-c",
         "import json,sys; json.loads(open(sys.argv[1], 'rb').read().decode('utf-8'))",
         dir_.file("log")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
}

TEST(CommandLineRules, EmptyUsageQuotedAndPlainPaths) {
    EXPECT_EQ(ParseCommandLine("").kind, CommandLine::kNone);
    EXPECT_EQ(ParseCommandLine("?").kind, CommandLine::kUsage);
    EXPECT_EQ(ParseCommandLine("?anything at all").kind, CommandLine::kUsage);

    auto quoted = ParseCommandLine("\"/home/me/My Messages/KX12S.kx1\"");
    EXPECT_EQ(quoted.kind, CommandLine::kFile);
    EXPECT_EQ(quoted.path, "/home/me/My Messages/KX12S.kx1");

    // What a shell or a desktop file passes: the path without quotes, kept whole.
    EXPECT_EQ(ParseCommandLine("/tmp/a b.kx0").path, "/tmp/a b.kx0");
    EXPECT_EQ(ParseCommandLine("\"").path, "\"");
    EXPECT_EQ(ParseCommandLine("\"\"").path, "");

    char prog[] = "korrin", a[] = "/tmp/a", b[] = "b.kx0";
    char* argv[] = {prog, a, b};
    EXPECT_EQ(JoinArguments(3, argv), "/tmp/a b.kx0");
    EXPECT_EQ(JoinArguments(1, argv), "");
}

}  // namespace
