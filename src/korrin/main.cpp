#include <QApplication>

#include "korrin/ui/KorrinApp.h"
#include "korrin/ui/ReportDlg.h"
#include "korrin/ui/Resources.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("korrin"));
    QApplication::setWindowIcon(korrin::res::LoadIcon(korrin::res::kProgramIcon));
    korrin::InstallDialogReportSink();
    korrin::CKorrinApp theApp;
    return theApp.InitInstance(korrin::JoinArguments(argc, argv));
}
