// The file properties sheet: what format a voice file is in, how long it plays, and the file's
// own facts, with an optional Preview page that plays the transport version as a recipient
// hears it. Every page shows the file as it is when the page becomes active; nothing is written.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include <QString>

#include "platform/ui/PropertySheet.h"

namespace korrin {

inline constexpr const char* kFilePropCaption = "Quillion EMail for Windows(tm) File Properties";

// The facts of the File page as this system has them: the local time of last change cut to
// even seconds (as the old two-second stamps were, for any year), and attribute bits made from
// the mode: 0x01 r (no write bit for anyone, whoever asks), 0x02 h (name starting with '.'),
// 0x10 d (a folder), 0x20 a (every regular file: no archive mark is kept), 0x80 n (none else).
struct FileFacts {
    std::uint64_t size = 0;
    std::time_t modified = 0;
    std::uint32_t attributes = 0;
};
bool GetFileFacts(const std::string& path, FileFacts* facts);
// "- --a- ---r (00000021h)"
QString AttributeText(std::uint32_t attributes);
// "MM/DD/YYYY, hh:mm:ss" of a time in local time, seconds cut to even.
QString ChangeTimeText(std::time_t modified);

class CDetailsVoice : public platform::CPropertyPage {
  public:
    static constexpr int kResourceId = 160;
    static constexpr int kFormatId = 1013, kFormatDetailsId = 1014, kDataSizeId = 1015,
                         kPlayTimeBytesId = 1016, kTotalSamplesId = 1017, kPlayTimeSamplesId = 1018,
                         kFormatTagId = 1019, kChannelsId = 1020, kSamplesPerSecId = 1021,
                         kAvgBytesId = 1022, kBlockAlignId = 1023, kBitsId = 1024,
                         kBitsLabelId = 1025, kTotalSamplesLabelId = 1026,
                         kPlayTimeSamplesLabelId = 1027;
    explicit CDetailsVoice(const std::string* path);

  protected:
    bool OnInitDialog() override;
    void showEvent(QShowEvent* e) override;

  public:
    void reload();  // fills the fields from the file as it is now

  private:
    const std::string* path_;
};

class CDetailsPage : public platform::CPropertyPage {
  public:
    static constexpr int kResourceId = 161;
    static constexpr int kTitleId = 1008, kFullPathId = 1009, kSizeId = 1010, kChangeId = 1011,
                         kAttributesId = 1012;
    explicit CDetailsPage(const std::string* path);

  protected:
    bool OnInitDialog() override;
    void showEvent(QShowEvent* e) override;

  public:
    void reload();  // fills the fields from the file as it is now

  private:
    const std::string* path_;
};

// Opens the message window in its Preview mode on a file; installed by the message window.
// Returns when the window has closed.
using PreviewOpener = std::function<void(QWidget* owner, const std::string& path)>;
void SetPreviewOpener(PreviewOpener opener);

class CPagePreview : public platform::CPropertyPage {
  public:
    static constexpr int kResourceId = 162;
    static constexpr int kPreviewId = 1028;
    explicit CPagePreview(const std::string* path);

  protected:
    bool OnInitDialog() override;

  private:
    void preview();
    const std::string* path_;
};

class CFileProp : public platform::CPropertySheet {
  public:
    CFileProp(const std::string& path, bool preview, QWidget* parent = nullptr);
    ~CFileProp() override;

  private:
    std::string path_;
    CDetailsVoice voice_;
    CDetailsPage file_;
    CPagePreview* preview_ = nullptr;
};

// Builds the sheet for path (with the Preview page when asked) and runs it modally.
int ShowFileProperties(const std::string& path, bool preview, QWidget* parent = nullptr);

}  // namespace korrin
