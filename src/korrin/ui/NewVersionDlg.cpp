#include "korrin/ui/NewVersionDlg.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "korrin/app/Vendor.h"
#include "platform/shell/Shell.h"
#include "platform/ui/UiThread.h"

namespace korrin {

using namespace platform;

CNewVersionDlg::CNewVersionDlg(DWORD fileRevision, QWidget* parent)
    : CDialog(kResourceId, parent), fileRevision_(fileRevision) {
    setWindowTitle(QString::fromLatin1(kNewVersionCaption));
    auto* text = new QLabel(QString::fromStdString(NewVersionNoticeText()), this);
    text->setWordWrap(true);
    SetControlId(text, kTextId);
    auto* web = new QPushButton(QString::fromLatin1(vendor::kWebAddress), this);
    BindCommand(web, kWebButtonId);
    auto* mail = new QPushButton(QString::fromLatin1(vendor::kSupportEmail), this);
    BindCommand(mail, kMailButtonId);
    dontBug_ = new QCheckBox(QStringLiteral("Don't bug me about this version again"), this);
    SetControlId(dontBug_, kDontBugId);
    dontBug_->setChecked(false);
    auto* cont = new QPushButton(QStringLiteral("Continue"), this);
    BindCommand(cont, kContinueId);
    cont->setDefault(true);
    cont->setAutoDefault(true);
    auto* abort = new QPushButton(QStringLiteral("Abort"), this);
    BindCommand(abort, kAbortId);
    abort->setAutoDefault(false);

    auto* links = new QHBoxLayout;
    links->addWidget(web);
    links->addWidget(mail);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(dontBug_);
    buttons->addStretch(1);
    buttons->addWidget(cont);
    buttons->addWidget(abort);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addLayout(links);
    layout->addLayout(buttons);
    setFixedWidth(460);
    cont->setFocus();
}

bool CNewVersionDlg::dontBugAgain() const {
    return dontBug_->isChecked();
}

void CNewVersionDlg::OnCommand(int id) {
    // A link that cannot be opened is not worth a report.
    if (id == kWebButtonId)
        ShellExecute("", vendor::kWebAddress);
    else if (id == kMailButtonId)
        ShellExecute("", vendor::SupportMailLink());
    else if (id == kContinueId || id == kAbortId)
        EndDialog(id);
    else
        CDialog::OnCommand(id);
}

namespace {

class WindowNotice : public INewVersionNotice {
  public:
    int Ask(DWORD fileRevision, bool* dontBugAgain) override {
        if (AnswersScripted() || !HaveGui())
            return AskNewVersionThroughSeam(fileRevision, dontBugAgain);
        int answer = IDCONTINUE;
        bool ticked = false;
        RunModalOnUiThread([&] {
            CNewVersionDlg dlg(fileRevision);
            answer = dlg.DoModal();
            ticked = dlg.dontBugAgain();
        });
        *dontBugAgain = answer == IDCONTINUE && ticked;
        return answer == IDABORT ? IDABORT : IDCONTINUE;
    }
};

}  // namespace

void InstallNewVersionWindow() {
    static WindowNotice notice;
    InstallNewVersionNotice(&notice);
}

}  // namespace korrin
