#include "korrin/ui/Format.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "korrin/app/Defaults.h"
#include "korrin/app/EventReport.h"
#include "korrin/app/Vendor.h"

namespace korrin {

using namespace platform;

namespace {

QLabel* wrapped(const char* text, QWidget* parent) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

// The details text as the stored value holds it: at most 175 characters and its zero.
std::string detailsOf(QWidget* dialog, int id) {
    std::string text = GetDlgItemText(dialog, id).toStdString();
    if (text.size() >= kFormatDetailsBytes)
        text.resize(kFormatDetailsBytes - 1);
    return text;
}

}  // namespace

CFormatDlg::CFormatDlg(QWidget* parent) : CDialog(kResourceId, parent) {
    setWindowTitle(QStringLiteral("ADVANCED - Formats"));
    setFixedSize(DialogUnitsToPixels(300, 230));

    PlaceControl(new QGroupBox(QStringLiteral("Local Message Format"), this), 7, 7, 286, 50);
    PlaceControl(
        wrapped("Codec used for all voice messages while message is local to this computer. ",
                this),
        14, 18, 272, 16);
    auto* local = PlaceControl(new QLineEdit(this), 14, 36, 210, 13, kLocalDetailsId);
    local->setReadOnly(true);
    BindCommand(PlaceControl(new QPushButton(QStringLiteral("Browse"), this), 230, 35, 56, 14),
                kLocalBrowseId);

    PlaceControl(new QGroupBox(QStringLiteral("Transport Message Format"), this), 7, 62, 286, 42);
    PlaceControl(wrapped("Codec used for Transport.", this), 14, 73, 272, 10);
    auto* transport = PlaceControl(new QLineEdit(this), 14, 85, 210, 13, kTransportDetailsId);
    transport->setReadOnly(true);
    BindCommand(PlaceControl(new QPushButton(QStringLiteral("Browse"), this), 230, 84, 56, 14),
                kTransportBrowseId);

    PlaceControl(
        wrapped("Don't change these values unless instructed by Quillion.  Incorrect values can "
                "greatly effect the size and quality of your messages. Incompatible formats can "
                "cause your messages to be unreadable by your recipients.",
                this),
        7, 110, 286, 34);
    PlaceControl(wrapped("Incompatible formats can make this application unstable.", this), 7, 146,
                 286, 10);
    const std::string defaultLine =
        std::string(
            "The Default button returns both formats to their recommended values. "
            "Questions: ") +
        vendor::kSupportEmail;
    PlaceControl(wrapped(defaultLine.c_str(), this), 7, 160, 286, 20);

    BindCommand(PlaceControl(new QPushButton(QStringLiteral("&Default"), this), 7, 206, 56, 14),
                kDefaultId);
    auto* ok = PlaceControl(new QPushButton(QStringLiteral("OK"), this), 174, 206, 56, 14);
    ok->setDefault(true);
    BindCommand(ok, IDOK);
    BindCommand(PlaceControl(new QPushButton(QStringLiteral("Ca&ncel"), this), 237, 206, 56, 14),
                IDCANCEL);
}

CFormatDlg::~CFormatDlg() = default;

bool CFormatDlg::OnInitDialog() {
    local_ = std::make_unique<FormatChooser>(this);
    transport_ = std::make_unique<FormatChooser>(this);
    std::string details;
    if (local_->GetFormat(kKorrinKey, details) == 0)
        SetDlgItemText(this, kLocalDetailsId, QString::fromStdString(details));
    else
        KORRIN_REPORT("GetFormat failed");
    details.clear();
    if (transport_->GetFormatTransport(kKorrinKey, details) == 0)
        SetDlgItemText(this, kTransportDetailsId, QString::fromStdString(details));
    else
        KORRIN_REPORT("GetFormatTransport failed");
    return true;
}

void CFormatDlg::OnCommand(int id) {
    std::string details;
    switch (id) {
        case kLocalBrowseId:
        case kTransportBrowseId: {
            const bool isLocal = id == kLocalBrowseId;
            FormatChooser& chooser = isLocal ? *local_ : *transport_;
            const MMRESULT mmr = chooser.ChangeACMFormat(
                isLocal ? "Choose Local Message Format" : "Choose Transport Message Format",
                details, isLocal ? 1 : 2);
            if (mmr == 0) {
                SetDlgItemText(this, isLocal ? kLocalDetailsId : kTransportDetailsId,
                               QString::fromStdString(details));
                changed_ = true;
            } else if (mmr != platform::ACMERR_CANCELED) {
                KORRIN_REPORT("ChangeACMFormat failed");
            }
            return;
        }
        case kDefaultId:
            // Stored at once: the defaults stay even if the dialog is then cancelled.
            if (local_->SetFormatDefault(kKorrinKey, details) == 0)
                SetDlgItemText(this, kLocalDetailsId, QString::fromStdString(details));
            else
                KORRIN_REPORT("SetFormatDefault failed");
            if (transport_->SetFormatTransportDefault(kKorrinKey, details) == 0)
                SetDlgItemText(this, kTransportDetailsId, QString::fromStdString(details));
            else
                KORRIN_REPORT("SetFormatTransportDefault failed");
            return;
        default:
            CDialog::OnCommand(id);
    }
}

void CFormatDlg::OnOK() {
    if (changed_) {
        if (local_->SetFormat(kKorrinKey, detailsOf(this, kLocalDetailsId)) != 0)
            KORRIN_REPORT("GetFormat failed");
        if (transport_->SetFormatTransport(kKorrinKey, detailsOf(this, kTransportDetailsId)) != 0)
            KORRIN_REPORT("GetFormatTransport failed");
    }
    EndDialog(IDOK);
}

}  // namespace korrin
