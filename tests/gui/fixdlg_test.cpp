// The "Fixing Old Messages" window offscreen over a real folder, with the real launchers over
// Info-ZIP and a stand-in for the main window's list and status line.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QProgressBar>
#include <QThread>

#include <filesystem>

#include "gui/FixFolderFixture.h"
#include "helpers/GuiSupport.h"
#include "korrin/app/Zip.h"
#include "korrin/ui/FixDlg.h"
#include "unit/store/StoreFixture.h"

using namespace korrin;
using namespace korrin::test;
namespace fs = std::filesystem;

namespace {

// Records what the dialog asked of the main window, and on which thread.
class HostStandIn : public IFixListHost {
  public:
    void ClearMessageList() override {
        ++clears;
        onUiThread = onUiThread && QThread::currentThread() == qApp->thread();
    }
    void SetStatusLine(const std::string& text) override {
        status.push_back(text);
        onUiThread = onUiThread && QThread::currentThread() == qApp->thread();
    }
    int clears = 0;
    std::vector<std::string> status;
    bool onUiThread = true;
};

using FixDlgTest = FixFolderTest;

TEST_F(FixDlgTest, FixesEveryOldFileThenCloses) {
    const std::string a = makeOld("KX1O.kx1"), b = makeOld("KX2O.kx1");
    const std::string current = box_ + "/KX3O.kx1", damaged = box_ + "/KX4O.kx1";
    makeMessage(current, "PK\x03\x04 current", "To", "Current");
    WriteFile(damaged, "not an archive");
    const std::string currentBytes = ReadFile(current);

    HostStandIn host;
    CFixDlg dlg(box_, &host);
    int sawProgress = -1;
    WhenShown("dialog_168", [&](QWidget* w) {
        auto* bar = platform::GetDlgItemAs<QProgressBar>(w, CFixDlg::kProgressId);
        sawProgress = bar->maximum();
    });
    EXPECT_EQ(dlg.DoModal(), platform::IDOK);
    EXPECT_EQ(sawProgress, CFixDlg::kProgressEnd);
    EXPECT_EQ(host.clears, 1);
    EXPECT_TRUE(host.onUiThread);
    for (const auto& path : {a, b}) {
        CMessageTrailer t;
        EXPECT_EQ(t.ReadForList(path), 0) << path;
        EXPECT_EQ(t.subject, "Subject " + fs::path(path).filename().string());
        EXPECT_NE(std::find(host.status.begin(), host.status.end(), path), host.status.end());
    }
    EXPECT_EQ(host.status.back(), "");
    EXPECT_EQ(ReadFile(current), currentBytes);
    EXPECT_EQ(ReadFile(damaged), "not an archive");
    // The damaged file has no readable trailer, so it is tried, left as it is and named once.
    ASSERT_EQ(dlg.results().size(), 3u);
    for (const auto& [path, result] : dlg.results())
        EXPECT_EQ(result.outcome == FixOutcome::kFixed, path != damaged) << path;
    EXPECT_EQ(reports(), std::vector<std::string>{"Cannot fix " + damaged + ": not an archive"});
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(box_))
        ++files;
    EXPECT_EQ(files, 4u);
}

TEST_F(FixDlgTest, FolderWithoutOldFilesClosesAtOnce) {
    makeMessage(box_ + "/KX3O.kx1", "PK\x03\x04 current", "To", "Current");
    HostStandIn host;
    CFixDlg dlg(box_, &host);
    EXPECT_EQ(dlg.DoModal(), platform::IDOK);
    EXPECT_TRUE(dlg.results().empty());
    EXPECT_TRUE(host.status.empty());
}

}  // namespace
