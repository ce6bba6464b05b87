#include "korrin/ui/DeletedPage.h"

#include <QCheckBox>
#include <QVBoxLayout>

#include "korrin/app/Defaults.h"
#include "korrin/app/Utils.h"

namespace korrin {

CDeletedPage::CDeletedPage() : CPropertyPage(kResourceId, QStringLiteral("Deleted")) {}

bool CDeletedPage::OnInitDialog() {
    auto* layout = new QVBoxLayout(this);
    auto* box = new QCheckBox(QStringLiteral("Empty Deleted Folder on Program Exit"), this);
    platform::SetControlId(box, kEmptyOnExitId);
    layout->addWidget(box);
    layout->addStretch(1);
    empty_ = CUtils().GetSettingDword(setting::kEmptyDeleted) != 0;
    box->setChecked(empty_);
    connect(box, &QCheckBox::toggled, this, [this](bool on) { empty_ = on; });
    return true;
}

void CDeletedPage::OnOK() {
    CUtils().SetRegistryDword(kKorrinKey, setting::kEmptyDeleted, empty_ ? 1 : 0);
}

}  // namespace korrin
