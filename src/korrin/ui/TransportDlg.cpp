#include "korrin/ui/TransportDlg.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "korrin/app/Defaults.h"
#include "korrin/app/EventReport.h"
#include "korrin/app/Utils.h"
#include "korrin/app/Vendor.h"
#include "korrin/mail/TolvlinkBinding.h"
#include "platform/shell/Shell.h"
#include "platform/ui/MessageBox.h"

namespace korrin {

using platform::GetDlgItem;
using platform::GetDlgItemAs;
using platform::SetControlId;

namespace {

// Stores one DWORD of the program's key; false after a report when it could not be stored.
bool store(const char* name, DWORD value) {
    if (CUtils().SetRegistryDword(kKorrinKey, name, value) == 1)
        return true;
    KORRIN_REPORT("RegSetValueEx failed");
    return false;
}

}  // namespace

// ---- Transport

MapiProfileAccess TolvlinkProfileAccess(std::unique_ptr<CTolvlinkBinding>& binding, bool& loaded,
                                        QWidget* owner) {
    MapiProfileAccess access;
    access.load = [&binding, &loaded, owner] {
        return CTolvlinkBinding::EnsureLoaded(binding, loaded, owner);
    };
    access.changeProfile = [&binding, &loaded](QWidget*) {
        if (loaded && binding)
            binding->GetMapiProfile(kTolvlinkKey);
    };
    return access;
}

CTransportDlg::CTransportDlg(MapiProfileAccess mapi, QWidget* parent)
    : CDialog(kResourceId, parent), mapi_(std::move(mapi)) {
    setWindowTitle(QStringLiteral("Transport"));
}

bool CTransportDlg::OnInitDialog() {
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(QStringLiteral(
        "Select the Transport you wish to use when transmitting Quillion EMail for Windows(tm) "
        "messages. For more information concerning the various transports press the \"More "
        "Info from the Web\" button below."));
    text->setWordWrap(true);
    auto* warning = new QLabel(QStringLiteral(
        "Warning: Do not change this value from the default unless you fully understand what it "
        "does."));
    warning->setWordWrap(true);
    auto* group = new QGroupBox(QStringLiteral("Transport"));
    auto* radios = new QVBoxLayout(group);
    const std::pair<int, const char*> choices[] = {
        {kSmtpId, "SMTP (default)"}, {kAolId, "AOL (offline)"}, {kMapiId, "MAPI"}};
    for (const auto& [id, label] : choices) {
        auto* radio = new QRadioButton(QString::fromLatin1(label));
        radio->setAutoExclusive(false);  // the dialog checks one itself
        BindCommand(radio, id);
        radios->addWidget(radio);
    }
    auto* buttons = new QHBoxLayout;
    auto* profile = new QPushButton(QStringLiteral("Change Profile"));
    auto* info = new QPushButton(QStringLiteral("More Info from the Web"));
    BindCommand(profile, kChangeProfileId);
    BindCommand(info, kMoreInfoId);
    buttons->addWidget(profile);
    buttons->addWidget(info);
    layout->addWidget(text);
    layout->addWidget(warning);
    layout->addWidget(group);
    layout->addLayout(buttons);
    layout->addLayout(OkCancelRow());

    DWORD value = 1;
    CUtils().GetRegistryDword(kKorrinKey, setting::kTransport, value);
    mapiLoaded_ = mapi_.load && mapi_.load();
    if (!mapiLoaded_) {
        GetDlgItem(this, kMapiId)->setEnabled(false);
        GetDlgItem(this, kChangeProfileId)->setEnabled(false);
    }
    transport_ = static_cast<int>(value);
    select(transport_);
    return true;
}

void CTransportDlg::select(int transport) {
    transport_ = transport;
    for (int id : {kSmtpId, kAolId, kMapiId})
        if (auto* radio = GetDlgItemAs<QRadioButton>(this, id))
            radio->setChecked(id - kSmtpId + 1 == transport);
}

void CTransportDlg::OnCommand(int id) {
    switch (id) {
        case kSmtpId:
        case kAolId:
        case kMapiId:
            select(id - kSmtpId + 1);
            return;
        case kChangeProfileId:
            if (mapiLoaded_ && mapi_.changeProfile)
                mapi_.changeProfile(this);
            return;
        case kMoreInfoId:
            platform::ShellExecute("open", vendor::Page(kInfoPage));
            return;
        default:
            CDialog::OnCommand(id);
    }
}

void CTransportDlg::OnOK() {
    if (transport_ == 2 &&
        platform::MessageBox(this,
                             "You have elected to switch to AOL (non-SMTP) transport, Are you sure "
                             "you want to do this?",
                             "Quillion EMail for Windows", platform::MB_YESNO) != platform::IDYES)
        return;
    if (store(setting::kTransport, static_cast<DWORD>(transport_)))
        EndDialog(platform::IDOK);
}

// ---- Zip hint

QString ZipHintText() {
    return QStringLiteral(
               "Although not required, it is highly recommended that you use the zip feature of "
               "Quillion EMail for Windows(TM) to decrease the upload/download times of your "
               "messages. If you wish to use this type of compression, you need to download the "
               "2.04G for DOS package from ") +
           QString::fromLatin1(vendor::kPkzipMakerAddress) +
           QStringLiteral(
               ".  Once you have downloaded the package place PKZIP.EXE and PKUNZIP.EXE in your "
               "windows directory (usually c:\\windows).  Once you have placed the files in the "
               "windows directory, select Tools->Zip from the Quillion EMail for Windows(tm) "
               "menu and click on the 'Use Zip. No quality loss' option.  For more information "
               "contact Quillion.  You can also visit our compression web page for more "
               "details.");
}

CZipHintDlg::CZipHintDlg(QWidget* parent) : CDialog(kResourceId, parent) {
    setWindowTitle(QStringLiteral("Hint - Not using Zip"));
}

bool CZipHintDlg::OnInitDialog() {
    auto* layout = new QVBoxLayout(this);
    auto* text = new QPlainTextEdit(ZipHintText());
    text->setReadOnly(true);
    SetControlId(text, kTextId);
    auto* check = new QCheckBox(QStringLiteral("Don't display this message again!"));
    BindCommand(check, kDontShowId);
    auto* links = new QHBoxLayout;
    const std::pair<int, const char*> buttons[] = {{kCompressionPageId, "Compression Page"},
                                                   {kWebId, vendor::kWebAddress},
                                                   {kMailId, vendor::kSupportEmail}};
    for (const auto& [id, label] : buttons) {
        auto* b = new QPushButton(QString::fromLatin1(label));
        BindCommand(b, id);
        links->addWidget(b);
    }
    layout->addWidget(text);
    layout->addWidget(check);
    layout->addLayout(links);
    layout->addLayout(OkCancelRow());
    DWORD value = 0;
    if (!CUtils().GetRegistryDword(kKorrinKey, setting::kNagZip, value))
        value = 0;
    dontShow_ = value != 0;
    check->setChecked(dontShow_);
    return true;
}

void CZipHintDlg::OnCommand(int id) {
    switch (id) {
        case kDontShowId:
            if (auto* check = GetDlgItemAs<QCheckBox>(this, kDontShowId))
                dontShow_ = check->isChecked();
            return;
        case kCompressionPageId:
            platform::ShellExecute("open", vendor::Page(kCompressionPage));
            return;
        case kWebId:
            platform::ShellExecute("open", vendor::kWebAddress);
            return;
        case kMailId:
            platform::ShellExecute("open", vendor::SupportMailLink());
            return;
        default:
            CDialog::OnCommand(id);
    }
}

void CZipHintDlg::OnOK() {
    if (store(setting::kNagZip, dontShow_ ? 1 : 0))
        EndDialog(platform::IDOK);
}

}  // namespace korrin
