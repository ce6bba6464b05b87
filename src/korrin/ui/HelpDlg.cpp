#include "korrin/ui/HelpDlg.h"

#include <QLabel>
#include <QPushButton>

#include "korrin/app/Vendor.h"
#include "platform/shell/Shell.h"

namespace korrin {

using namespace platform;

CHelpDlg::CHelpDlg(QWidget* parent) : CDialog(kResourceId, parent) {
    setWindowTitle(QStringLiteral("Quillion EMail for Windows(tm) Help"));
    setFixedSize(DialogUnitsToPixels(230, 120));
    auto* text = PlaceControl(new QLabel(this), 7, 7, 216, 48, kTextId);
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    text->setText(
        QStringLiteral("Help for Quillion EMail for Windows(tm) is kept up to date on "
                       "our web site, %1. Questions the pages do not answer are "
                       "welcome at %2.")
            .arg(QString::fromUtf8(vendor::kWebAddress), QString::fromUtf8(vendor::kSupportEmail)));
    BindCommand(
        PlaceControl(new QPushButton(QStringLiteral("Help from the web"), this), 7, 60, 140, 14),
        kWebButtonId);
    BindCommand(PlaceControl(new QPushButton(QString::fromUtf8(vendor::kSupportEmail), this), 7, 78,
                             140, 14),
                kMailButtonId);
    auto* ok = PlaceControl(new QPushButton(QStringLiteral("OK"), this), 170, 100, 53, 14);
    ok->setDefault(true);
    BindCommand(ok, IDOK);
}

void CHelpDlg::OnCommand(int id) {
    // A link the desktop cannot open is no failure worth a report: nothing was lost.
    if (id == kWebButtonId)
        ShellExecute("open", vendor::Page(kHelpPage));
    else if (id == kMailButtonId)
        ShellExecute("open", vendor::SupportMailLink());
    else
        CDialog::OnCommand(id);
}

void ShowHelp(QWidget* parent) {
    CHelpDlg dlg(parent);
    dlg.DoModal();
}

}  // namespace korrin
