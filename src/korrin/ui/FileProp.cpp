#include "korrin/ui/FileProp.h"

#include <sys/stat.h>

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include <memory>

#include "korrin/app/EventReport.h"
#include "korrin/audio/Acm.h"
#include "platform/files/Files.h"

namespace korrin {

using platform::GetDlgItem;
using platform::SetControlId;
using platform::SetDlgItemText;

namespace {

PreviewOpener& previewOpener() {
    static PreviewOpener opener;
    return opener;
}

unsigned le16(const std::vector<std::uint8_t>& f, std::size_t at) {
    return at + 2 <= f.size() ? unsigned(f[at] | f[at + 1] << 8) : 0u;
}
std::uint32_t le32(const std::vector<std::uint8_t>& f, std::size_t at) {
    return at + 4 <= f.size() ? std::uint32_t(le16(f, at) | le16(f, at + 2) << 16) : 0u;
}

QString bytesText(std::uint64_t n) {
    return QString::number(n) + QStringLiteral(" bytes");
}

// Whole seconds and thousandths of count / perSecond, in integer arithmetic.
QString secondsText(std::uint32_t count, std::uint32_t perSecond) {
    if (perSecond == 0)
        return QStringLiteral("0.000 seconds");
    const std::uint64_t whole = count / perSecond;
    const std::uint64_t thousandths = std::uint64_t(count % perSecond) * 1000 / perSecond;
    return QStringLiteral("%1.%2 seconds").arg(whole).arg(thousandths, 3, 10, QChar('0'));
}

QLineEdit* valueField(int id) {
    auto* edit = new QLineEdit;
    edit->setReadOnly(true);
    SetControlId(edit, id);
    return edit;
}

// One "label: value" row of a page's grid; the label gets labelId when it has one.
void addRow(QGridLayout* grid, const char* label, int id, int labelId = 0) {
    const int row = grid->rowCount();
    auto* text = new QLabel(QString::fromLatin1(label));
    if (labelId)
        SetControlId(text, labelId);
    auto* field = valueField(id);
    text->setBuddy(field);
    grid->addWidget(text, row, 0);
    grid->addWidget(field, row, 1);
}

QGridLayout* groupGrid(QWidget* page, const char* title) {
    auto* layout = new QVBoxLayout(page);
    auto* group = new QGroupBox(QString::fromLatin1(title));
    auto* grid = new QGridLayout(group);
    layout->addWidget(group);
    layout->addStretch(1);
    return grid;
}

// A page is shown before the sheet initialises it when its tab is chosen: the first load
// then happens here; a page initialised before the sheet is shown loads when it is shown.
template <class Page>
void loadIfShown(Page* page) {
    if (page->isVisible())
        page->reload();
}

}  // namespace

bool GetFileFacts(const std::string& path, FileFacts* facts) {
    *facts = FileFacts{};
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return false;
    facts->size = static_cast<std::uint64_t>(st.st_size);
    facts->modified = st.st_mtime;
    std::uint32_t a = 0;
    // The mode decides, not whether this user could write: root can write anything.
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        a |= FILE_ATTRIBUTE_READONLY;
    if (platform::FileNamePart(path).rfind('.', 0) == 0)
        a |= FILE_ATTRIBUTE_HIDDEN;
    if (S_ISDIR(st.st_mode))
        a |= 0x10;
    else if (S_ISREG(st.st_mode))
        a |= FILE_ATTRIBUTE_ARCHIVE;
    if (a == 0)
        a = 0x80;
    facts->attributes = a;
    return true;
}

QString AttributeText(std::uint32_t a) {
    auto flag = [a](std::uint32_t bit, char letter) { return QChar((a & bit) ? letter : '-'); };
    return QString(flag(0x100, 't')) + ' ' + flag(0x80, 'n') + flag(0x40, '?') + flag(0x20, 'a') +
           flag(0x10, 'd') + ' ' + flag(0x08, '?') + flag(0x04, 's') + flag(0x02, 'h') +
           flag(0x01, 'r') +
           QStringLiteral(" (%1h)").arg(QString::number(a, 16).toUpper(), 8, QChar('0'));
}

QString ChangeTimeText(std::time_t modified) {
    std::tm t{};
    localtime_r(&modified, &t);
    auto two = [](int v) { return QStringLiteral("%1").arg(v, 2, 10, QChar('0')); };
    return two(t.tm_mon + 1) + '/' + two(t.tm_mday) + '/' + two(t.tm_year + 1900) + ", " +
           two(t.tm_hour) + ':' + two(t.tm_min) + ':' + two(t.tm_sec & ~1);
}

// ---- Voice

CDetailsVoice::CDetailsVoice(const std::string* path)
    : CPropertyPage(kResourceId, QStringLiteral("Voice")), path_(path) {}

bool CDetailsVoice::OnInitDialog() {
    QGridLayout* grid = groupGrid(this, "Quillion EMail for Windows(tm) Voice Information");
    addRow(grid, "Format", kFormatId);
    addRow(grid, "Format Details", kFormatDetailsId);
    addRow(grid, "Data Size", kDataSizeId);
    addRow(grid, "Play Time (avg bytes)", kPlayTimeBytesId);
    addRow(grid, "Total Samples", kTotalSamplesId, kTotalSamplesLabelId);
    addRow(grid, "Play Time (samples)", kPlayTimeSamplesId, kPlayTimeSamplesLabelId);
    addRow(grid, "Format Tag", kFormatTagId);
    addRow(grid, "Channels", kChannelsId);
    addRow(grid, "Samples Per Second", kSamplesPerSecId);
    addRow(grid, "Avg Bytes Per Second", kAvgBytesId);
    addRow(grid, "Block Alignment", kBlockAlignId);
    addRow(grid, "Bits Per Sample", kBitsId, kBitsLabelId);
    loadIfShown(this);
    return true;
}

void CDetailsVoice::showEvent(QShowEvent* e) {
    CPropertyPage::showEvent(e);
    if (initialised() && !e->spontaneous())
        reload();
}

void CDetailsVoice::reload() {
    WaveFileInfo info;
    LoadWaveFileInfo(this, info, *path_);
    const auto& f = info.format;
    std::string tagText, formatText;
    if (!f.empty())
        GetFormatDescription(f.data(), f.size(), &tagText, &formatText);
    SetDlgItemText(this, kFormatId, QString::fromLatin1(tagText.substr(0, 47).c_str()));
    SetDlgItemText(this, kFormatDetailsId, QString::fromLatin1(formatText.substr(0, 127).c_str()));
    const std::uint32_t avgBytes = le32(f, 8), samplesPerSec = le32(f, 4);
    const unsigned bits = le16(f, 14);
    SetDlgItemText(this, kDataSizeId, bytesText(info.dataSize));
    SetDlgItemText(this, kPlayTimeBytesId, secondsText(info.dataSize, avgBytes));
    const bool samples = bits != 0 || info.dataSize == 0;
    for (int id : {kTotalSamplesId, kPlayTimeSamplesId, kBitsId, kBitsLabelId, kTotalSamplesLabelId,
                   kPlayTimeSamplesLabelId})
        if (QWidget* w = GetDlgItem(this, id))
            w->setVisible(samples);
    if (samples) {
        SetDlgItemText(this, kTotalSamplesId, bytesText(info.sampleCount));
        SetDlgItemText(this, kPlayTimeSamplesId, secondsText(info.sampleCount, samplesPerSec));
        SetDlgItemText(this, kBitsId, QString::number(bits));
    }
    SetDlgItemText(this, kFormatTagId, QString::number(le16(f, 0)));
    SetDlgItemText(this, kChannelsId, QString::number(le16(f, 2)));
    SetDlgItemText(this, kSamplesPerSecId, QString::number(samplesPerSec));
    SetDlgItemText(this, kAvgBytesId, QString::number(avgBytes));
    SetDlgItemText(this, kBlockAlignId, QString::number(le16(f, 12)));
}

// ---- File

CDetailsPage::CDetailsPage(const std::string* path)
    : CPropertyPage(kResourceId, QStringLiteral("File")), path_(path) {}

bool CDetailsPage::OnInitDialog() {
    QGridLayout* grid = groupGrid(this, "Quillion EMail for Windows(tm) File Information");
    addRow(grid, "Title:", kTitleId);
    addRow(grid, "Full Path:", kFullPathId);
    addRow(grid, "Size:", kSizeId);
    addRow(grid, "Last Change Date/Time", kChangeId);
    addRow(grid, "Attributes", kAttributesId);
    loadIfShown(this);
    return true;
}

void CDetailsPage::showEvent(QShowEvent* e) {
    CPropertyPage::showEvent(e);
    if (initialised() && !e->spontaneous())
        reload();
}

void CDetailsPage::reload() {
    WaveFileInfo info;
    LoadWaveFileInfo(this, info, *path_);
    // Size, time and attributes come from the file itself: the wave description caps the
    // size at 4 GB and keeps no time before 1980.
    FileFacts facts;
    const bool known = GetFileFacts(*path_, &facts);
    SetDlgItemText(this, kTitleId, QString::fromLocal8Bit(platform::FileNamePart(*path_).c_str()));
    SetDlgItemText(this, kFullPathId, QString::fromLocal8Bit(path_->c_str()));
    SetDlgItemText(this, kSizeId, bytesText(facts.size));
    SetDlgItemText(this, kChangeId, known ? ChangeTimeText(facts.modified) : QString());
    SetDlgItemText(this, kAttributesId, AttributeText(facts.attributes));
}

// ---- Preview

void SetPreviewOpener(PreviewOpener opener) {
    previewOpener() = std::move(opener);
}

CPagePreview::CPagePreview(const std::string* path)
    : CPropertyPage(kResourceId, QStringLiteral("Preview")), path_(path) {}

bool CPagePreview::OnInitDialog() {
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("Quillion EMail for Windows(tm) Voice Preview"));
    auto* inner = new QVBoxLayout(group);
    auto* text = new QLabel(QStringLiteral(
        "Push the PREVIEW button below to review your message in the actual quality that it "
        "will be transported in."));
    text->setWordWrap(true);
    auto* button = new QPushButton(QStringLiteral("&Preview"));
    SetControlId(button, kPreviewId);
    connect(button, &QPushButton::clicked, this, [this] { preview(); });
    inner->addWidget(text);
    inner->addWidget(button);
    layout->addWidget(group);
    layout->addStretch(1);
    return true;
}

void CPagePreview::preview() {
    if (!previewOpener()) {
        // The message window plays the preview; without it there is nothing to open.
        KORRIN_REPORT("Preview window not available");
        return;
    }
    previewOpener()(this, *path_);
}

// ---- the sheet

CFileProp::CFileProp(const std::string& path, bool preview, QWidget* parent)
    : CPropertySheet(QString::fromLatin1(kFilePropCaption), parent),
      path_(path),
      voice_(&path_),
      file_(&path_) {
    AddPage(&voice_);
    AddPage(&file_);
    if (preview) {
        preview_ = new CPagePreview(&path_);
        AddPage(preview_);
    }
}

CFileProp::~CFileProp() {
    delete preview_;
}

int ShowFileProperties(const std::string& path, bool preview, QWidget* parent) {
    CFileProp sheet(path, preview, parent);
    return sheet.DoModal();
}

}  // namespace korrin
