#include "korrin/ui/DialUpDlg.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "korrin/app/Vendor.h"
#include "platform/Text.h"
#include "platform/shell/DialUp.h"

namespace korrin {

namespace {

QLabel* Text(const char* text) {
    auto* l = new QLabel(QString::fromUtf8(text));
    l->setWordWrap(true);
    return l;
}

}  // namespace

CDialUpDlg::CDialUpDlg(QWidget* parent) : CDialog(kResourceId, parent), list_(new QListWidget) {
    setWindowTitle(QStringLiteral("Dial Up Connections"));
    setMinimumWidth(440);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        Text("Quillion EMail for Windows(tm) cannot establish communication with your Outgoing "
             "SMTP Server.  You may not be connected to your network or you may have entered "
             "the Outgoing Server name incorrectly in \"Preferences\"."));
    layout->addWidget(
        Text("If you wish to use a dialup connection.  Select the desired connection listed "
             "below and press the \"Connect\" button. "));
    auto* group = new QGroupBox(QStringLiteral("Available Connections"));
    auto* groupLayout = new QVBoxLayout(group);
    platform::SetControlId(list_, kListId);
    groupLayout->addWidget(list_);
    layout->addWidget(group);
    layout->addWidget(
        Text("Once your connection is established try sending your Quillion "
             "EMail for Windows(tm) message again. "));
    auto* buttons = new QHBoxLayout;
    auto* connect = new QPushButton(QStringLiteral("&Connect"));
    auto* cancel = new QPushButton(QStringLiteral("Ca&ncel"));
    BindCommand(connect, kConnectId);
    BindCommand(cancel, platform::IDCANCEL);
    buttons->addStretch(1);
    buttons->addWidget(connect);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    QObject::connect(list_, &QListWidget::itemSelectionChanged, this,
                     [this, connect] { connect->setEnabled(!list_->selectedItems().isEmpty()); });
    QObject::connect(list_, &QListWidget::itemDoubleClicked, this,
                     [this](QListWidgetItem*) { connectSelected(); });
}

bool CDialUpDlg::OnInitDialog() {
    list_->clear();
    for (const auto& name : platform::ListDialUpConnections())
        list_->addItem(QString::fromStdString(name));
    list_->clearSelection();
    list_->setCurrentRow(-1);
    platform::GetDlgItem(this, kConnectId)->setEnabled(false);
    return true;
}

void CDialUpDlg::OnCommand(int id) {
    if (id == kConnectId)
        connectSelected();
    else
        CDialog::OnCommand(id);
}

void CDialUpDlg::connectSelected() {
    auto items = list_->selectedItems();
    if (items.isEmpty())
        return;
    std::string wanted = items.front()->text().toStdString();
    // Looked up again: the connection may have been renamed or removed meanwhile.
    for (const auto& name : platform::ListDialUpConnections())
        if (platform::EqualsNoCase(name, wanted)) {
            platform::ConnectDialUp(name);
            return;
        }
}

}  // namespace korrin
