#include "korrin/ui/MoveDlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "korrin/app/EventReport.h"
#include "korrin/ui/MessageList.h"

namespace korrin {

using namespace platform;

CMoveDlg::CMoveDlg(const MessageEntry& entry, QWidget* parent)
    : CDialog(kResourceId, parent), entry_(entry) {
    setWindowTitle(QStringLiteral("Move Quillion EMail for Windows(tm) message"));
}

bool CMoveDlg::OnInitDialog() {
    auto* layout = new QVBoxLayout(this);
    auto* tree = new CFolderTree(this);
    tree->setAccessibleName(QStringLiteral("Folders"));
    tree_ = tree;
    layout->addWidget(tree, 1);
    auto* form = new QFormLayout;
    const struct {
        int id;
        const char* label;
        const std::string& text;
    } fields[] = {{kToId, "To:", entry_.toNames},
                  {kSubjectId, "Subject:", entry_.subject},
                  {kSentId, "Sent:", entry_.sentText}};
    for (const auto& f : fields) {
        auto* edit = new QLineEdit(QString::fromStdString(f.text), this);
        edit->setReadOnly(true);
        edit->setAccessibleName(QString::fromLatin1(f.label).chopped(1));
        SetControlId(edit, f.id);
        form->addRow(QString::fromLatin1(f.label), edit);
    }
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(this);
    BindCommand(buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole), IDOK);
    BindCommand(buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole),
                IDCANCEL);
    layout->addWidget(buttons);

    connect(tree, &CFolderTree::folderSelected, this, [this](int folder) { chosen_ = folder; });
    connect(tree, &QTreeWidget::itemDoubleClicked, this, [this] { OnOK(); });
    return true;
}

void CMoveDlg::OnOK() {
    if (IsFolderNumber(chosen_)) {
        EndDialog(IDOK);
        return;
    }
    CEventReport().ShowInformation(kChooseText);
}

}  // namespace korrin
