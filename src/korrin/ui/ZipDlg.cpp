#include "korrin/ui/ZipDlg.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

#include "korrin/app/Defaults.h"
#include "korrin/app/EventReport.h"
#include "korrin/app/Utils.h"
#include "korrin/app/Vendor.h"
#include "korrin/app/Zip.h"
#include "korrin/audio/Zip.h"
#include "korrin/ui/Format.h"
#include "platform/shell/Shell.h"

namespace korrin {

using namespace platform;

namespace {

constexpr const char* kSource = "Zip";

std::string ContactLine() {
    return std::string("For more information contact Quillion. Email: ") + vendor::kSupportEmail +
           ", " + vendor::kWebAddress + ".";
}

std::string NetPhoneText() {
    return "We call it Net Phone quality because its fine for sending voice messages back and "
           "forth, but it's a little scratchy and hard to hear.  This is the most Internet "
           "friendly setting.  Keeps traffic to a minimum. Best Quality vs. Size for transmitting "
           "over the Internet, especially if using a dial-up network.  " +
           ContactLine();
}

std::string TelephoneText() {
    return "Better voice quality than Net Phone.  However the size is substantially larger.  "
           "This setting is ok for a Local Area Network (LAN) or Intranet where the message isn't "
           "going outside of your closed network.  Although you can use this setting for the "
           "Internet, it isn't advisable because the size of the message is quite large "
           "resulting in longer send/receive times and not too polite to be clogging up the "
           "Internet with.  " +
           ContactLine();
}

std::string RadioText() {
    return "Better quality still. Overkill for voice however.  This should only be used if your "
           "recipients complain about the quality of your messages.  Should really only be used "
           "when a high level of quality is demanded. This setting is ok for a Local Area Network "
           "(LAN) or Intranet where the message isn't going outside of your closed network.  "
           "Although you can use this setting for the Internet, it isn't advisable because the "
           "size of the message is quite large resulting in longer send/receive times and not too "
           "polite to be clogging up the Internet with. " +
           ContactLine();
}

std::string AdvancedText() {
    return "Advanced. It is not advised to mess with these values without being instructed by "
           "Quillion.  It is provided here for Quillion support to help provide for unusual "
           "circumstances that individuals might have. " +
           ContactLine();
}

constexpr const char* kNoZipText = "Use Zip compression to speed up your sends and receives.";

std::string ZipFoundText() {
    return "Quillion Email(tm) has successfully detected a copy of PKZIP/PKUNZIP. Your recipients "
           "must have PKZIP/PKUNZIP on their computers to read your messages. " +
           ContactLine();
}

std::string ZipMissingText() {
    return std::string(
               "Can't find PKZIP.exe or PKUNZIP.exe.  These files are required by "
               "Quillion Email (TM) but are not shipped as part of this product. If you "
               "wish to use this type of compression, you need to download them from ") +
           vendor::kPkzipMakerAddress +
           ". Get 2.04G for DOS version.  Place in your windows directory (usually c:\\windows).  "
           "Obtain these files and try again later. " +
           ContactLine();
}

// Both programs, looked for in this order.
bool ZipToolsFound() {
    std::string path;
    const bool unzip = LocateZipTool(kPkunzipExe, path);
    const bool zip = LocateZipTool(kPkzipExe, path);
    return unzip && zip;
}

void report(const char* text, int line) {
    CEventReport().Report(text, kSource, line);
}

}  // namespace

CZipDlg::CZipDlg(QWidget* parent) : CDialog(kResourceId, parent) {
    setWindowTitle(QStringLiteral("Quillion Email(tm) - Message Quality vs. Size"));
    setFixedSize(DialogUnitsToPixels(320, 250));

    PlaceControl(new QGroupBox(QStringLiteral("Quality"), this), 7, 7, 120, 78);
    auto* qualities = new QButtonGroup(this);
    const struct {
        int id;
        const char* text;
    } radios[] = {{kNetPhoneId, "Net Phone (Very Small)"},
                  {kTelephoneId, "Telephone (Medium)"},
                  {kRadioId, "Radio (Large)"},
                  {kAdvancedId, "Advanced"}};
    int y = 19;
    for (const auto& r : radios) {
        auto* b = PlaceControl(new QRadioButton(QString::fromUtf8(r.text), this), 14, y, 108, 12);
        qualities->addButton(b);
        BindCommand(b, r.id);
        y += 15;
    }
    auto* description = PlaceControl(new QPlainTextEdit(this), 134, 10, 179, 118, kDescriptionId);
    description->setReadOnly(true);
    BindCommand(PlaceControl(new QPushButton(QStringLiteral("Advanced..."), this), 14, 90, 70, 14),
                kAdvancedButtonId);

    PlaceControl(new QGroupBox(QStringLiteral("Zip"), this), 7, 134, 306, 58, kZipGroupId);
    auto* zipText =
        PlaceControl(new QLabel(QStringLiteral("Pack messages with PKZIP before sending."), this),
                     14, 146, 290, 10, kZipTextId);
    zipText->setWordWrap(true);
    PlaceControl(new QGroupBox(this), 14, 158, 290, 30, kZipInnerGroupId);
    auto* zips = new QButtonGroup(this);
    auto* useZip = PlaceControl(new QRadioButton(QStringLiteral("Use Zip. No quality loss "), this),
                                20, 165, 130, 12);
    auto* noZip =
        PlaceControl(new QRadioButton(QStringLiteral("Don't use Zip"), this), 160, 165, 130, 12);
    zips->addButton(useZip);
    zips->addButton(noZip);
    BindCommand(useZip, kUseZipId);
    BindCommand(noZip, kNoZipId);

    BindCommand(PlaceControl(new QPushButton(QStringLiteral("&Default"), this), 7, 200, 60, 14),
                kDefaultId);
    BindCommand(PlaceControl(new QPushButton(QStringLiteral("More Information from the web"), this),
                             72, 200, 130, 14),
                kMoreInfoId);
    BindCommand(PlaceControl(new QPushButton(QString::fromUtf8(vendor::kSupportEmail), this), 72,
                             218, 130, 14),
                kContactId);
    auto* ok = PlaceControl(new QPushButton(QStringLiteral("OK"), this), 215, 200, 45, 14);
    ok->setDefault(true);
    BindCommand(ok, IDOK);
    BindCommand(PlaceControl(new QPushButton(QStringLiteral("Cancel"), this), 265, 200, 48, 14),
                IDCANCEL);
    BindCommand(PlaceControl(new QPushButton(QStringLiteral("Cancel"), this), 265, 218, 48, 14),
                kCancel2Id);
}

bool CZipDlg::checked(int id) const {
    auto* b = GetDlgItemAs<QAbstractButton>(this, id);
    return b && b->isChecked();
}

void CZipDlg::check(int id) {
    if (auto* b = GetDlgItemAs<QAbstractButton>(this, id))
        b->setChecked(true);
}

void CZipDlg::enable(int id, bool on) {
    if (QWidget* w = GetDlgItem(this, id))
        w->setEnabled(on);
}

void CZipDlg::describe(const std::string& text) {
    SetDlgItemText(this, kDescriptionId, QString::fromStdString(text));
}

// Enabling also reads "Compression" and clicks the matching zip button, which fills the
// description.
void CZipDlg::enableZip(bool on) {
    for (int id : {kZipGroupId, kZipTextId, kZipInnerGroupId, kUseZipId, kNoZipId})
        enable(id, on);
    if (!on)
        return;
    if (auto* b = GetDlgItemAs<QAbstractButton>(
            this, ReadCompression() == kCompressionZip ? kUseZipId : kNoZipId))
        b->click();
}

bool CZipDlg::OnInitDialog() {
    quality_ = ReadQuality();
    switch (quality_) {
        case kQualityNetPhone:
            check(kNetPhoneId);
            enableZip(false);
            enable(kAdvancedButtonId, false);
            break;
        case kQualityTelephone:
        case kQualityRadio:
        case kQualityAdvanced:
            check(quality_ == kQualityTelephone ? kTelephoneId
                  : quality_ == kQualityRadio   ? kRadioId
                                                : kAdvancedId);
            enableZip(true);
            enable(kAdvancedButtonId, quality_ == kQualityAdvanced);
            break;
        default:
            report("Unknown Quality Found", __LINE__);
            enableZip(false);
            enable(kAdvancedButtonId, false);
            break;
    }
    return true;
}

void CZipDlg::OnCommand(int id) {
    switch (id) {
        case kNetPhoneId:
            enableZip(false);
            enable(kAdvancedButtonId, false);
            quality_ = kQualityNetPhone;
            describe(NetPhoneText());
            return;
        case kTelephoneId:
        case kRadioId:
            enableZip(true);
            enable(kAdvancedButtonId, false);
            quality_ = id == kTelephoneId ? kQualityTelephone : kQualityRadio;
            describe(id == kTelephoneId ? TelephoneText() : RadioText());
            return;
        case kAdvancedId:
            enableZip(true);
            enable(kAdvancedButtonId, true);
            quality_ = kQualityAdvanced;
            describe(AdvancedText());
            return;
        case kUseZipId:
            describe(ZipToolsFound() ? ZipFoundText() : ZipMissingText());
            return;
        case kNoZipId:
            describe(kNoZipText);
            return;
        case kAdvancedButtonId: {
            CFormatDlg advanced(this);
            advanced.DoModal();
            return;
        }
        case kDefaultId:
            if (auto* b = GetDlgItemAs<QAbstractButton>(this, kNetPhoneId))
                b->click();
            return;
        case kMoreInfoId:
            ShellExecute("open", vendor::Page("NewCompression.html"));
            return;
        case kContactId:
            ShellExecute("open", vendor::SupportMailLink());
            return;
        case kCancel2Id:
            EndDialog(IDCANCEL);
            return;
        default:
            CDialog::OnCommand(id);
    }
}

void CZipDlg::OnOK() {
    if (quality_ != kQualityNetPhone) {
        if (checked(kUseZipId)) {
            // Without both programs nothing is stored and the dialog stays open.
            if (!ZipToolsFound()) {
                describe(ZipMissingText());
                return;
            }
            WriteCompression(kCompressionZip);
        } else {
            WriteCompression(kCompressionNone);
        }
    }
    CUtils().SetRegistryDword(kKorrinKey, setting::kQuality, quality_);
    StoreQualityFormats(quality_);
    EndDialog(IDOK);
}

}  // namespace korrin
