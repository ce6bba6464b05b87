// The main window's start-up: on a file named on the command line it stays hidden and works on
// a numbered temporary copy; without one it shows itself.
#include <gtest/gtest.h>

#include "helpers/GuiSupport.h"
#include "helpers/TestSupport.h"
#include "korrin/app/Defaults.h"
#include "korrin/ui/KorrinDlg.h"
#include "platform/files/Files.h"
#include "platform/registry/Registry.h"

using namespace korrin;
using namespace korrin::platform;
using namespace korrin::test;

namespace {

class MainWindowTest : public RegistryTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(CreateDirectory(tmp_));
        RegKeyGuard key;
        ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, key.out()), ERROR_SUCCESS);
    }
    std::string tmp_ = dir_.file("tmp");
    ScopedEnv tmpdir_{"TMPDIR", tmp_};
    ScopedEnv log_{"KORRIN_MESSAGE_LOG", dir_.file("log")};
};

TEST_F(MainWindowTest, StartedOnAFileStaysHiddenAndOpensATemporaryCopy) {
    ScopedEnv noScript("KORRIN_MESSAGE_ANSWERS", std::nullopt);
    const std::string original = dir_.file("my message.kx0");
    WriteFile(original, "RIFF-and-trailer");

    for (int run = 1; run <= 2; ++run) {
        CKorrinDlg dlg;
        dlg.SetFileToOpen(original);
        const std::string copy = tmp_ + "/V" + std::to_string(run) + "L.kx0";
        bool seen = false;
        WhenShown(QStringLiteral("messagebox"), [&](QWidget* box) {
            seen = true;
            // The message is being opened: the main window is not shown meanwhile.
            EXPECT_FALSE(dlg.isVisible());
            EXPECT_EQ(dlg.fileToOpen(), copy);
            EXPECT_EQ(dlg.fileName(), "V" + std::to_string(run) + "L.kx0");
            EXPECT_EQ(dlg.title(), "V" + std::to_string(run) + "L");
            EXPECT_EQ(ReadFile(copy), "RIFF-and-trailer");
            EXPECT_NE(
                GetDlgItemText(box, 0xFFFF).toStdString().find("V" + std::to_string(run) + "L.kx0"),
                std::string::npos);
            Click(box, IDOK);
        });
        dlg.DoModal();
        EXPECT_TRUE(seen);
        EXPECT_FALSE(FileExists(copy)) << "the start-up copy is removed";
    }
    EXPECT_EQ(ReadFile(original), "RIFF-and-trailer");
}

TEST_F(MainWindowTest, MissingFileReportsTheCopyAndTheOpenFailures) {
    ScopedEnv answers("KORRIN_MESSAGE_ANSWERS", "");
    CKorrinDlg dlg;
    dlg.SetFileToOpen(dir_.file("gone.kx1"));
    dlg.DoModal();
    auto lines = ReadLines(dir_.file("log"));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(JsonField(lines[0], "kind"), "report");
    EXPECT_EQ(JsonField(lines[0], "text"), "CopyFile failed");
    EXPECT_EQ(JsonField(lines[0], "source"), "KorrinDlg");
    EXPECT_EQ(JsonField(lines[1], "kind"), "messagebox");
    EXPECT_EQ(JsonField(lines[1], "icon"), "stop");
    EXPECT_EQ(JsonField(lines[1], "text").rfind("Can't Open File. Questions: ", 0), 0u);
}

// Two starts must never share a copy: without a File ID number there is no copy at all.
TEST_F(MainWindowTest, NoFileIdNumberStopsTheOpenAndShowsTheFolders) {
    ScopedEnv answers("KORRIN_MESSAGE_ANSWERS", "");
    const std::string original = dir_.file("m.kx0");
    WriteFile(original, "RIFF");
    ASSERT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, kKorrinKey), ERROR_SUCCESS);
    CKorrinDlg dlg;
    dlg.SetFileToOpen(original);
    WhenShown(QStringLiteral("dialog_102"), [&](QWidget*) { dlg.EndDialog(IDCANCEL); });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_FALSE(FileExists(tmp_ + "/V0L.kx0"));
    auto lines = ReadLines(dir_.file("log"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(JsonField(lines[0], "text"), "RegOpenKeyEx failed");
    EXPECT_EQ(ReadFile(original), "RIFF");
}

TEST_F(MainWindowTest, WithoutAFileTheWindowShowsAndAnswersItsRequests) {
    ScopedEnv noScript("KORRIN_MESSAGE_ANSWERS", std::nullopt);
    CKorrinDlg dlg;
    dlg.SetFileToOpen("");
    bool aboutSeen = false;
    WhenShown(QStringLiteral("dialog_102"), [&](QWidget* w) {
        EXPECT_EQ(w->windowTitle(),
                  "Quillion EMail for Windows (tm) - http://www.quillion.example/");
        EXPECT_EQ(SendMessage(&dlg, CKorrinDlg::kRestoreRequest), 1);
        WhenShown(QStringLiteral("dialog_164"), [&](QWidget* about) {
            aboutSeen = true;
            Click(about, IDOK);
            dlg.EndDialog(IDCANCEL);
        });
        dlg.OnCommand(CKorrinDlg::kAboutCommand);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_TRUE(aboutSeen);
}

}  // namespace
