#include "korrin/ui/SmtpPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "korrin/app/Defaults.h"
#include "korrin/app/EventReport.h"
#include "korrin/app/Utils.h"
#include "platform/Endian.h"
#include "platform/registry/Registry.h"

namespace korrin {

namespace {

// Box number and registry value, in the order the page reads and stores them.
struct Field {
    int id;
    const char* value;
};
constexpr Field kFields[] = {
    {CSmtpPage::kDisplayNameId, setting::kName},
    {CSmtpPage::kOrganizationId, setting::kOrganization},
    {CSmtpPage::kServerId, setting::kSmtpHost},
    {CSmtpPage::kEmailId, setting::kEmailAddress},
    {CSmtpPage::kAccountId, setting::kAccount},
    {CSmtpPage::kPasswordId, setting::kPassword},
};
constexpr platform::DWORD kReadBytes = 256;

QLineEdit* AddRow(QGridLayout* grid, int row, const QString& label, int id) {
    auto* edit = new QLineEdit;
    edit->setMaxLength(CSmtpPage::kMaxChars);
    platform::SetControlId(edit, id);
    auto* text = new QLabel(label);
    text->setBuddy(edit);
    grid->addWidget(text, row, 0);
    grid->addWidget(edit, row, 1);
    return edit;
}

}  // namespace

CSmtpPage::CSmtpPage() : CPropertyPage(kResourceId, QStringLiteral("SMTP")) {}

bool CSmtpPage::OnInitDialog() {
    auto* layout = new QVBoxLayout(this);
    auto* server = new QGroupBox(QStringLiteral("Server information"));
    auto* serverGrid = new QGridLayout(server);
    AddRow(serverGrid, 0, QStringLiteral("O&utgoing mail (SMTP)*"), kServerId);
    auto* security = new QComboBox;
    // In the order of the stored values 0, 1, 2.
    security->addItem(QStringLiteral("None (port 25)"));
    security->addItem(QStringLiteral("STARTTLS (port 587)"));
    security->addItem(QStringLiteral("TLS (port 465)"));
    platform::SetControlId(security, kSecurityId);
    auto* securityLabel = new QLabel(QStringLiteral("&Security"));
    securityLabel->setBuddy(security);
    serverGrid->addWidget(securityLabel, 1, 0);
    serverGrid->addWidget(security, 1, 1);
    AddRow(serverGrid, 2, QStringLiteral("A&ccount Name*"), kAccountId);
    AddRow(serverGrid, 3, QStringLiteral("&Password*"), kPasswordId)
        ->setEchoMode(QLineEdit::Password);
    auto* user = new QGroupBox(QStringLiteral("User information"));
    auto* userGrid = new QGridLayout(user);
    AddRow(userGrid, 0, QStringLiteral("Display Name*"), kDisplayNameId);
    AddRow(userGrid, 1, QStringLiteral("Organization"), kOrganizationId);
    AddRow(userGrid, 2, QStringLiteral("E-&mail address*"), kEmailId);
    layout->addWidget(server);
    layout->addWidget(user);
    auto* copy = new QCheckBox(QStringLiteral("Attach a copy that plays everywhere (Opus)"));
    platform::SetControlId(copy, kPlayableCopyId);
    layout->addWidget(copy);
    layout->addWidget(new QLabel(QStringLiteral("*Indicates Required Field")));
    layout->addStretch(1);
    setMinimumWidth(400);

    CUtils utils;
    for (const Field& f : kFields) {
        std::string text;
        if (!utils.GetRegistryString(kKorrinKey, f.value, text, kReadBytes))
            text.clear();
        platform::SetDlgItemText(this, f.id, QString::fromStdString(text));
    }
    // An unknown stored value is sent as STARTTLS, and shown so.
    platform::DWORD chosen = utils.GetSettingDword(setting::kSmtpSecurity);
    security->setCurrentIndex(chosen <= 2 ? static_cast<int>(chosen) : 1);
    copy->setChecked(utils.GetSettingDword(setting::kAttachPlayableCopy) != 0);
    return true;
}

void CSmtpPage::OnOK() {
    platform::RegKeyGuard key;
    if (platform::RegOpenKeyEx(platform::HKEY_LOCAL_MACHINE, kKorrinKey, key.out()) !=
        platform::ERROR_SUCCESS) {
        KORRIN_REPORT("RegOpenKeyEx failed");
        return;
    }
    for (const Field& f : kFields) {
        std::string text = platform::GetDlgItemText(this, f.id).left(kMaxChars).toStdString();
        // A value is read back (here and when sending) with room for 255 bytes: a longer one
        // would read as missing and the next OK would store the empty box over it. Cut at the
        // start of a character, never inside one.
        if (text.size() > static_cast<std::size_t>(kMaxChars)) {
            std::size_t cut = kMaxChars;
            while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
                --cut;
            text.resize(cut);
        }
        // Stored with its terminating zero, as string values always were; a single value that
        // cannot be written is not reported.
        platform::RegSetValueEx(key.get(), f.value, platform::REG_SZ,
                                reinterpret_cast<const std::uint8_t*>(text.c_str()),
                                static_cast<platform::DWORD>(text.size() + 1));
    }
    auto* security = qobject_cast<QComboBox*>(platform::GetDlgItem(this, kSecurityId));
    if (security && security->currentIndex() >= 0) {
        std::uint8_t data[4];
        platform::StoreLE32(data, static_cast<std::uint32_t>(security->currentIndex()));
        platform::RegSetValueEx(key.get(), setting::kSmtpSecurity, platform::REG_DWORD, data,
                                sizeof data);
    }
    if (auto* copy = qobject_cast<QCheckBox*>(platform::GetDlgItem(this, kPlayableCopyId))) {
        std::uint8_t data[4];
        platform::StoreLE32(data, copy->isChecked() ? 1 : 0);
        platform::RegSetValueEx(key.get(), setting::kAttachPlayableCopy, platform::REG_DWORD, data,
                                sizeof data);
    }
}

}  // namespace korrin
