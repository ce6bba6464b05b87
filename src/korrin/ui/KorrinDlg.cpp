#include "korrin/ui/KorrinDlg.h"

#include <QLabel>
#include <QMenuBar>
#include <QVBoxLayout>

#include "korrin/app/Utils.h"
#include "korrin/app/Vendor.h"
#include "korrin/ui/Preferences.h"
#include "korrin/ui/ReportDlg.h"
#include "korrin/ui/Resources.h"
#include "platform/files/Files.h"

namespace korrin {

using namespace platform;

CKorrinDlg::CKorrinDlg(QWidget* parent) : CDialog(kResourceId, parent) {
    setWindowTitle(QStringLiteral("Quillion EMail for Windows (tm) - %1")
                       .arg(QString::fromUtf8(vendor::kWebAddress)));
    resize(DialogUnitsToPixels(416, 260));
    setSizeGripEnabled(true);
    auto* layout = new QVBoxLayout(this);
    menuBar_ = new QMenuBar(this);
    layout->setMenuBar(menuBar_);
    layout->addStretch(1);
    auto* status = new QLabel(this);
    SetControlId(status, kStatusLineId);
    layout->addWidget(status);
}

void CKorrinDlg::SetFileToOpen(const std::string& path) {
    fileToOpen_ = path;
    fileName_ = path.empty() ? std::string() : FileNamePart(path);
}

bool CKorrinDlg::OnInitDialog() {
    auto* edit = menuBar_->addMenu(QStringLiteral("&Edit"));
    QAction* prefs = edit->addAction(QStringLiteral("&Preferences..."));
    prefs->setData(kPreferencesCommand);
    connect(prefs, &QAction::triggered, this, [this] { OnCommand(kPreferencesCommand); });
    // The window menu of other desktops is not ours to extend; the About item stands in the
    // menu bar instead.
    auto* help = menuBar_->addMenu(QStringLiteral("&Help"));
    QAction* about = help->addAction(QStringLiteral("&About Korrin..."));
    about->setData(kAboutCommand);
    connect(about, &QAction::triggered, this, [this] { OnCommand(kAboutCommand); });

    setWindowIcon(res::LoadIcon(res::kProgramIcon));

    if (!fileToOpen_.empty())
        takeCommandLineFile();
    else
        showFolders();
    return true;
}

void CKorrinDlg::showFolders() {
    SetDlgItemText(this, kStatusLineId,
                   QStringLiteral("The message folders are not available in this version."));
    ShowWindow(true);
}

// The named file is never changed: the program works on a numbered temporary copy, which the
// open request deletes when it is done with it.
void CKorrinDlg::takeCommandLineFile() {
    const std::string extension = ExtensionOf(fileToOpen_);
    DWORD number = 0;
    if (CUtils().NextFileID(number) != 0) {
        // The counter has reported why. A number it did not hand out may be another start's
        // copy, which this one would overwrite and then delete: the open stops here.
        fileToOpen_.clear();
        showFolders();
        return;
    }
    const std::string copy = GetTempPath() + "V" + std::to_string(number) + "L." + extension;
    if (!CopyFile(fileToOpen_, copy, false))
        KORRIN_REPORT("CopyFile failed");

    fileToOpen_ = copy;
    fileName_ = FileNamePart(copy);
    title_ = fileName_.substr(0, fileName_.find('.'));
    if (!CanOpenForReading(fileToOpen_))
        CEventReport().ShowError("Can't Open File");

    PostMessage(kOpenRequest, kModeView, kKindOpen);
    ShowWindow(false);
}

void CKorrinDlg::onOpenRequest(int /*mode*/, int /*kind*/) {
    hide();
    CEventReport().ShowError("Can't play " + fileName_ +
                             ": the message window is not available in this version");
    if (!userFile_) {
        // A start-up copy is ours to remove; without an Outbox to send there is nothing more
        // to do and the program ends.
        platform::DeleteFile(fileToOpen_);
        EndDialog(IDOK);
        return;
    }
    ShowWindow(true);
}

void CKorrinDlg::OnCommand(int id) {
    if (id == kAboutCommand) {
        CAboutDlg about(this);
        about.DoModal();
        return;
    }
    if (id == kPreferencesCommand) {
        OpenPreferences(this);
        return;
    }
    CDialog::OnCommand(id);
}

LRESULT CKorrinDlg::OnMessage(unsigned msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case kOpenRequest:
            onOpenRequest(static_cast<int>(wParam), static_cast<int>(lParam));
            return 0;
        case kRestoreRequest:
            showNormal();
            raise();
            activateWindow();
            return 1;
        default:
            return CDialog::OnMessage(msg, wParam, lParam);
    }
}

}  // namespace korrin
