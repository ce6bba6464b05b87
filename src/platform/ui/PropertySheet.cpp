#include "platform/ui/PropertySheet.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace korrin::platform {

CPropertyPage::CPropertyPage(int resourceId, const QString& caption)
    : resourceId_(resourceId), caption_(caption) {
    setObjectName(QStringLiteral("dialog_%1").arg(resourceId));
}

void CPropertyPage::Initialise() {
    if (initialised_)
        return;
    initialised_ = true;
    OnInitDialog();
}

CPropertySheet::CPropertySheet(const QString& title, QWidget* parent)
    : CDialog(0, parent), tabs_(new QTabWidget(this)) {
    setObjectName(QStringLiteral("sheet_") + title);
    setWindowTitle(title);
    SetControlId(tabs_, kTabControlId);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    auto* buttons = new QDialogButtonBox(this);
    auto* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    auto* cancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    BindCommand(ok, IDOK);
    BindCommand(cancel, IDCANCEL);
    layout->addWidget(buttons);
    QObject::connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
        if (index >= 0 && index < GetPageCount())
            pages_[static_cast<std::size_t>(index)]->Initialise();
    });
}

void CPropertySheet::AddPage(CPropertyPage* page) {
    pages_.push_back(page);
    // Before the first tab exists currentChanged fires for it; the page waits for the sheet.
    QSignalBlocker block(tabs_);
    tabs_->addTab(page, page->caption());
}

void CPropertySheet::SetActivePage(int index) {
    startPage_ = index;
    if (isRunning() && index >= 0 && index < GetPageCount())
        tabs_->setCurrentIndex(index);
}

int CPropertySheet::GetActiveIndex() const {
    return tabs_->currentIndex();
}

bool CPropertySheet::OnInitDialog() {
    if (GetPageCount() == 0)
        return true;
    int index = startPage_ >= 0 && startPage_ < GetPageCount() ? startPage_ : 0;
    {
        QSignalBlocker block(tabs_);
        tabs_->setCurrentIndex(index);
    }
    pages_[static_cast<std::size_t>(index)]->Initialise();
    return true;
}

void CPropertySheet::OnOK() {
    for (auto* p : pages_)
        if (p->initialised())
            p->OnOK();
    EndDialog(IDOK);
}

void CPropertySheet::OnCancel() {
    for (auto* p : pages_)
        if (p->initialised())
            p->OnCancel();
    EndDialog(IDCANCEL);
}

}  // namespace korrin::platform
