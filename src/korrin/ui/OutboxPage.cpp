#include "korrin/ui/OutboxPage.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "korrin/app/Defaults.h"
#include "korrin/app/Utils.h"
#include "korrin/transmit/Transmit.h"

namespace korrin {

COutboxPage::COutboxPage(CTransmitDlg* transmit)
    : CPropertyPage(kResourceId, QStringLiteral("Outbox")), transmit_(transmit) {}

unsigned long COutboxPage::ValueToStore(bool dontEmpty, unsigned long minutes) {
    if (dontEmpty)
        return 0;
    if (minutes == 0)
        return 1;
    return minutes > kMaxMinutes ? kMaxMinutes : minutes;
}

bool COutboxPage::OnInitDialog() {
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("Empty Outbox"));
    auto* row = new QHBoxLayout(group);
    auto* every = new QLabel(QStringLiteral("Transmit messages in Outbox every"));
    auto* edit = new QLineEdit;
    // Digits only, as a number box takes them; a value above the cap is cut on OK.
    edit->setValidator(new QIntValidator(0, 999999, edit));
    edit->setMaxLength(6);
    auto* minutes = new QLabel(QStringLiteral("minute(s)."));
    platform::SetControlId(every, kEveryTextId);
    platform::SetControlId(edit, kMinutesId);
    platform::SetControlId(minutes, kMinutesTextId);
    row->addWidget(every);
    row->addWidget(edit);
    row->addWidget(minutes);
    auto* dontEmpty = new QCheckBox(QStringLiteral("Don't empty outbox automatically"));
    platform::SetControlId(dontEmpty, kDontEmptyId);
    layout->addWidget(group);
    layout->addWidget(dontEmpty);
    layout->addStretch(1);

    const DWORD value = CUtils().GetSettingDword(setting::kOutBoxMinutes);
    edit->setText(QString::number(value));
    dontEmpty->setChecked(value == 0);
    enableMinutes(value != 0);
    connect(dontEmpty, &QCheckBox::toggled, this, [this](bool on) { enableMinutes(!on); });
    return true;
}

void COutboxPage::enableMinutes(bool on) {
    for (int id : {kEveryTextId, kMinutesId, kMinutesTextId})
        if (QWidget* w = platform::GetDlgItem(this, id))
            w->setEnabled(on);
}

void COutboxPage::OnOK() {
    auto* dontEmpty = platform::GetDlgItemAs<QCheckBox>(this, kDontEmptyId);
    const unsigned long typed =
        platform::GetDlgItemText(this, kMinutesId).trimmed().toULong();  // "" reads as 0
    const auto value = static_cast<DWORD>(ValueToStore(dontEmpty && dontEmpty->isChecked(), typed));
    CUtils().SetRegistryDword(kKorrinKey, setting::kOutBoxMinutes, value);
    if (transmit_)
        transmit_->RearmOutboxTimer(value);
}

}  // namespace korrin
