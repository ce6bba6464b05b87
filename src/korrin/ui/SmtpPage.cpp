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
#include "korrin/mail/SmtpSender.h"
#include "platform/Endian.h"
#include "platform/registry/Registry.h"
#include "platform/secret/Secret.h"

namespace korrin {

namespace {

// Box number and registry value, in the order the page reads and stores them; the password,
// which never travels in a plain string, comes last.
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
};
constexpr platform::DWORD kReadBytes = 256;

// The longest start of text that fits in max bytes, cut at the start of a character.
std::size_t CutAtCharacter(std::string_view text, std::size_t max) {
    if (text.size() <= max)
        return text.size();
    std::size_t cut = max;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return cut;
}

// Wipes a QString's characters where it holds them alone (a shared buffer is left to its
// other holder), then empties it.
void WipeQString(QString& text) {
    if (!text.isDetached()) {
        text.clear();
        return;
    }
    platform::WipeMemory(text.data(), static_cast<std::size_t>(text.size()) * sizeof(QChar));
    text.clear();
}

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
    // The password goes from the settings into a secret and from there into the box: the box's
    // own text is the one copy that is not wiped.
    {
        platform::Secret password;
        ReadPasswordSetting(password, kReadBytes);
        QString shown = QString::fromUtf8(password.data(), static_cast<qsizetype>(password.size()));
        platform::SetDlgItemText(this, kPasswordId, shown);
        WipeQString(shown);
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
        // would read as missing and the next OK would store the empty box over it.
        text.resize(CutAtCharacter(text, kMaxChars));
        // Stored with its terminating zero, as string values always were; a single value that
        // cannot be written is not reported.
        platform::RegSetValueEx(key.get(), f.value, platform::REG_SZ,
                                reinterpret_cast<const std::uint8_t*>(text.c_str()),
                                static_cast<platform::DWORD>(text.size() + 1));
    }
    storePassword(key.get());
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

void CSmtpPage::storePassword(platform::HKEY key) {
    auto* edit = qobject_cast<QLineEdit*>(platform::GetDlgItem(this, kPasswordId));
    if (!edit)
        return;
    // OK ends the sheet, so the box can let go of its text: the one buffer left holding it is
    // wiped here. The UTF-8 form is made once, moved into a secret and wiped.
    QString text = edit->text();
    edit->setText(QString());
    QByteArray utf8 = QStringView(text).left(kMaxChars).toUtf8();
    WipeQString(text);
    platform::Secret password(
        std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
    platform::WipeMemory(utf8.data(), static_cast<std::size_t>(utf8.size()));
    utf8.clear();
    password.resize(CutAtCharacter(password.view(), kMaxChars));
    password.append('\0');  // stored with its terminating zero, as the other values
    platform::RegSetValueEx(key, setting::kPassword, platform::REG_SZ,
                            reinterpret_cast<const std::uint8_t*>(password.data()),
                            static_cast<platform::DWORD>(password.size()));
}

}  // namespace korrin
