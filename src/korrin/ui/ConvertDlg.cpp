#include "korrin/ui/ConvertDlg.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "korrin/app/Defaults.h"
#include "korrin/app/EventReport.h"
#include "korrin/audio/Acm.h"
#include "korrin/audio/Convert.h"
#include "platform/ui/UiThread.h"

// The dialog's reports carry the name of the job they belong to.
#define CONVERT_REPORT(message) ::korrin::CEventReport().Report((message), "Convert", __LINE__)

namespace korrin {

using namespace platform;

CConvertDlg::CConvertDlg(IConvertRecorder& recorder, QWidget* parent)
    : CDialog(kResourceId, parent), recorder_(recorder) {
    setWindowTitle(QStringLiteral("Convert Quillion EMail(tm) Voice File"));
    setFixedSize(DialogUnitsToPixels(260, 112));
    PlaceControl(new QGroupBox(QStringLiteral("Format Conversion"), this), 7, 7, 246, 76);
    auto* text = PlaceControl(
        new QLabel(QStringLiteral(
                       "Select the format to convert the current voice file to by pushing the "
                       "Browse button and selecting the destination format for the conversion.  "
                       "Press Convert to convert the file to the selected format."),
                   this),
        14, 18, 232, 34);
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* details = PlaceControl(new QLineEdit(this), 14, 60, 170, 13, kDetailsId);
    details->setReadOnly(true);
    text->setBuddy(details);
    BindCommand(PlaceControl(new QPushButton(QStringLiteral("Browse"), this), 190, 59, 56, 14),
                kBrowseId);
    auto* convert =
        PlaceControl(new QPushButton(QStringLiteral("&Convert"), this), 134, 91, 56, 14);
    convert->setDefault(true);
    BindCommand(convert, IDOK);
    BindCommand(PlaceControl(new QPushButton(QStringLiteral("Ca&ncel"), this), 197, 91, 56, 14),
                IDCANCEL);
}

CConvertDlg::~CConvertDlg() = default;

bool CConvertDlg::OnInitDialog() {
    chooser_ = std::make_unique<FormatChooser>(this);
    std::string details;
    if (chooser_->GetFormat(kKorrinKey, details) == 0)
        SetDlgItemText(this, kDetailsId, QString::fromStdString(details));
    else
        CONVERT_REPORT("GetFormat failed");
    return true;
}

void CConvertDlg::OnCommand(int id) {
    if (id != kBrowseId) {
        CDialog::OnCommand(id);
        return;
    }
    std::string details;
    const MMRESULT mmr = chooser_->ChangeACMFormat("Choose Format to Convert to", details, 2);
    if (mmr == 0)
        SetDlgItemText(this, kDetailsId, QString::fromStdString(details));
    else if (mmr != ACMERR_CANCELED)
        CONVERT_REPORT("ChangeACMFormat failed");
}

// The working file is replaced only by a whole conversion; a failed one leaves it as it was
// (its own report says so), and the dialog stays open for another format or Cancel.
void CConvertDlg::OnOK() {
    DWORD position = 0;
    if (!recorder_.ReleaseWorkingFile(&position))
        return;
    int result;
    {
        CWaitCursor wait;
        result = ConvertFileInPlace(*chooser_, recorder_.WorkingFile());
    }
    recorder_.ReopenWorkingFile(position);
    if (result != 0)
        return;
    AppMessageBox(this, kConvertedText, "Quillion", MB_OK | MB_ICONINFORMATION);
    EndDialog(IDOK);
}

}  // namespace korrin
