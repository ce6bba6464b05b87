// The file properties sheet offscreen, read by control number: the Voice page's figures for
// PCM, GSM 6.10 and empty data, the File page's facts, reloading on activation, and the Preview
// button while no message window can play it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include <QTabWidget>

#include "helpers/GuiSupport.h"
#include "helpers/TestSupport.h"
#include "helpers/WaveSupport.h"
#include "korrin/ui/FileProp.h"

using namespace korrin;
using namespace korrin::platform;
using namespace korrin::test;

namespace {

class FilePropTest : public RegistryTest {
  protected:
    ScopedEnv log_{"KORRIN_MESSAGE_LOG", dir_.file("log")};
    ScopedEnv answers_{"KORRIN_MESSAGE_ANSWERS", ""};

    struct Shown {
        std::map<int, QString> text;
        std::set<int> hidden;
        int pages = 0;
    };
    // Runs the sheet on path, shows page `page`, and reads every numbered field there.
    Shown show(const std::string& path, int page, bool preview = false,
               std::function<void(QWidget*)> more = nullptr) {
        Shown shown;
        WhenShown(QString::fromLatin1(kFilePropCaption).prepend("sheet_"), [&](QWidget* w) {
            auto* tabs = GetDlgItemAs<QTabWidget>(w, CPropertySheet::kTabControlId);
            shown.pages = tabs->count();
            tabs->setCurrentIndex(page);
            for (int id = 1008; id <= 1028; ++id)
                if (QWidget* c = GetDlgItem(tabs->widget(page), id)) {
                    shown.text[id] = GetDlgItemText(w, id);
                    if (!c->isVisibleTo(tabs->widget(page)))
                        shown.hidden.insert(id);
                }
            if (more)
                more(w);
            Click(w, IDCANCEL);
        });
        EXPECT_EQ(ShowFileProperties(path, preview), IDCANCEL);
        return shown;
    }
};

TEST_F(FilePropTest, VoicePageFigures) {
    const std::string pcm = dir_.file("pcm.wav"), empty = dir_.file("empty.wav"),
                      gsm = dir_.file("gsm.wav");
    WriteWave(pcm, PcmFormat{}, std::vector<std::uint8_t>(16000, 0x80));
    WriteWave(empty, PcmFormat{}, {});
    WriteFile(gsm, [] {
        auto b = GsmWave(2000);
        return std::string(b.begin(), b.end());
    }());

    Shown s = show(pcm, 0);
    EXPECT_EQ(s.pages, 2);
    EXPECT_EQ(s.text[CDetailsVoice::kDataSizeId], "16000 bytes");
    EXPECT_EQ(s.text[CDetailsVoice::kPlayTimeBytesId], "2.000 seconds");
    EXPECT_EQ(s.text[CDetailsVoice::kTotalSamplesId], "16000 bytes");
    EXPECT_EQ(s.text[CDetailsVoice::kPlayTimeSamplesId], "2.000 seconds");
    EXPECT_EQ(s.text[CDetailsVoice::kSamplesPerSecId], "8000");
    EXPECT_EQ(s.text[CDetailsVoice::kBitsId], "8");
    EXPECT_TRUE(s.hidden.empty());

    s = show(gsm, 0);
    EXPECT_EQ(s.text[CDetailsVoice::kFormatTagId], "49");
    EXPECT_EQ(s.text[CDetailsVoice::kBlockAlignId], "65");
    EXPECT_EQ(s.text[CDetailsVoice::kPlayTimeBytesId], "2.000 seconds");
    EXPECT_EQ(s.hidden, (std::set<int>{1017, 1018, 1024, 1025, 1026, 1027}));

    s = show(empty, 0);
    EXPECT_EQ(s.text[CDetailsVoice::kDataSizeId], "0 bytes");
    EXPECT_EQ(s.text[CDetailsVoice::kPlayTimeBytesId], "0.000 seconds");
    EXPECT_EQ(s.text[CDetailsVoice::kPlayTimeSamplesId], "0.000 seconds");
    EXPECT_TRUE(s.hidden.empty());
}

TEST_F(FilePropTest, FilePageFacts) {
    const std::string readOnly = dir_.file("ro.wav"), hidden = dir_.file(".hidden.wav");
    WriteWave(readOnly, PcmFormat{}, std::vector<std::uint8_t>(800, 0x80));
    WriteWave(hidden, PcmFormat{}, std::vector<std::uint8_t>(800, 0x80));
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
    // 1 January 1975, 12:00:01 UTC: before 1980, odd second.
    const timespec times[2] = {{157809601, 0}, {157809601, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, readOnly.c_str(), times, 0), 0);

    ScopedEnv tz("TZ", "America/New_York");
    tzset();
    Shown s = show(readOnly, 1);
    EXPECT_EQ(s.text[CDetailsPage::kTitleId], "ro.wav");
    EXPECT_EQ(s.text[CDetailsPage::kFullPathId], QString::fromStdString(readOnly));
    EXPECT_EQ(s.text[CDetailsPage::kSizeId],
              QString("%1 bytes").arg(qulonglong(std::filesystem::file_size(readOnly))));
    EXPECT_EQ(s.text[CDetailsPage::kAttributesId], "- --a- ---r (00000021h)");
    EXPECT_EQ(s.text[CDetailsPage::kChangeId], "01/01/1975, 07:00:00");
    s = show(hidden, 1);
    EXPECT_EQ(s.text[CDetailsPage::kAttributesId], "- --a- --h- (00000022h)");

    // Sizes over 2 GB and over 4 GB are kept whole (a sparse file; the sheet is not run on
    // it, as reading its wave description would read all of it).
    const std::string big = dir_.file("big.wav");
    WriteFile(big, "");
    ASSERT_EQ(::truncate(big.c_str(), 5'000'000'000LL), 0);
    FileFacts facts;
    ASSERT_TRUE(GetFileFacts(big, &facts));
    EXPECT_EQ(facts.size, 5'000'000'000ULL);
    ASSERT_TRUE(GetFileFacts(dir_.path(), &facts));
    EXPECT_EQ(AttributeText(facts.attributes), "- ---d ---- (00000010h)");
    tzset();
}

// The page reads the file afresh each time it becomes active.
TEST_F(FilePropTest, PagesReloadOnActivation) {
    const std::string pcm = dir_.file("pcm.wav");
    WriteWave(pcm, PcmFormat{}, std::vector<std::uint8_t>(8000, 0x80));
    QString before, after;
    show(pcm, 0, false, [&](QWidget* w) {
        before = GetDlgItemText(w, CDetailsVoice::kDataSizeId);
        WriteWave(pcm, PcmFormat{}, std::vector<std::uint8_t>(24000, 0x80));
        auto* tabs = GetDlgItemAs<QTabWidget>(w, CPropertySheet::kTabControlId);
        tabs->setCurrentIndex(1);
        tabs->setCurrentIndex(0);
        after = GetDlgItemText(w, CDetailsVoice::kDataSizeId);
    });
    EXPECT_EQ(before, "8000 bytes");
    EXPECT_EQ(after, "24000 bytes");
}

TEST_F(FilePropTest, PreviewWithoutMessageWindowReportsIt) {
    const std::string pcm = dir_.file("pcm.wav");
    WriteWave(pcm, PcmFormat{}, std::vector<std::uint8_t>(800, 0x80));
    Shown s = show(pcm, 2, true, [](QWidget* w) { Click(w, CPagePreview::kPreviewId); });
    EXPECT_EQ(s.pages, 3);
    const auto lines = ReadLines(dir_.file("log"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(JsonField(lines[0], "text"), "Preview window not available");
    EXPECT_EQ(JsonField(lines[0], "source"), "FileProp");

    std::string opened;
    SetPreviewOpener([&](QWidget*, const std::string& path) { opened = path; });
    show(pcm, 2, true, [](QWidget* w) { Click(w, CPagePreview::kPreviewId); });
    SetPreviewOpener(nullptr);
    EXPECT_EQ(opened, pcm);
    EXPECT_EQ(ReadFile(pcm).size(), 800u + 44u);
}

}  // namespace
